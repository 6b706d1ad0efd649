// Skin files: the package state and the lookup rules of each reader.
#include "ui/core/uiskinfile.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/testutil.h"
#include "tests/common/ziputil.h"
#include "ui/core/uimarkup.h"

namespace {

using SkinUI::CSkinPackage;
using SkinUI::SkinFileBytes;
using SkinUI::SkinFileUse;

std::string AsString(const SkinFileBytes& b) { return std::string(reinterpret_cast<const char*>(b.data.get()), b.size); }

// Runs with a fresh package state and a temporary current directory.
class SkinFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        CSkinPackage::Reset();
        dir_ = testutil::MakeTempDir(L"skinfile");
        wchar_t cwd[MAX_PATH];
        ::GetCurrentDirectoryW(MAX_PATH, cwd);
        oldCwd_ = cwd;
        ::SetCurrentDirectoryW(dir_.c_str());
    }
    void TearDown() override {
        CSkinPackage::Reset();
        ::SetCurrentDirectoryW(oldCwd_.c_str());
        testutil::RemoveTree(dir_);
    }
    void Write(const std::wstring& rel, const std::string& bytes) {
        ASSERT_TRUE(testutil::WriteFileBytes(dir_ + L"\\" + rel, bytes));
    }
    // The package stays alive for the process, as the resource block would.
    static const std::string& Keep(std::string bytes) {
        static std::vector<std::unique_ptr<std::string>> kept;
        kept.push_back(std::make_unique<std::string>(std::move(bytes)));
        return *kept.back();
    }
    static void UseMemory(const std::string& bytes, const wchar_t* password = L"") {
        CSkinPackage::SetResourceZipMemory(bytes.data(), static_cast<DWORD>(bytes.size()), password, wcslen(password));
    }

    std::wstring dir_;
    std::wstring oldCwd_;
};

const std::string& Package() {
    static const std::string bytes = ziputil::BuildZip({
        {"Image/logo.png", "logo bytes"},
        {"Image/logo@150.png", "logo 150", false},
        {"Layout/Layout.xml", "<Window/>"},
        {"empty.png", "", false},
        {"broken.xml", "<a/>", true, "", false, 0x14, 0x20, 0x6000, 0x5821, "", "", 12},
    });
    return bytes;
}

TEST_F(SkinFileTest, PackageLookupsTurnBackslashesAndIgnoreCase) {
    UseMemory(Package());
    EXPECT_EQ(CSkinPackage::GetResourceZip(), L"membuffer");
    EXPECT_TRUE(CSkinPackage::IsCachedResourceZip());
    ASSERT_NE(CSkinPackage::GetResourceZipHandle(), nullptr);
    struct Case {
        const wchar_t* name;
        const char* content;  // null: no result
    } cases[] = {
        {L"Image/logo.png", "logo bytes"},
        {L"Image\\logo.png", "logo bytes"},
        {L"image/LOGO.PNG", "logo bytes"},
        {L"Image\\logo@150.png", "logo 150"},
        {L"./Image/logo.png", nullptr},
        {L"Image//logo.png", nullptr},
        {L"Image/logo.PNG ", nullptr},
        {L"empty.png", nullptr},  // an empty entry counts as missing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(c.name));
        for (SkinFileUse use : {SkinFileUse::Markup, SkinFileUse::Image, SkinFileUse::Font}) {
            SkinFileBytes bytes;
            const bool ok = CSkinPackage::ReadSkinFile(c.name, use, bytes);
            EXPECT_EQ(ok, c.content != nullptr);
            if (ok) { EXPECT_EQ(AsString(bytes), c.content); }
        }
    }
    EXPECT_TRUE(CSkinPackage::SkinFileExists(L"Image\\LOGO@150.png"));
    EXPECT_FALSE(CSkinPackage::SkinFileExists(L"Image/logo@125.png"));
}

TEST_F(SkinFileTest, ImagesAndFontsFallBackToTheNameOnDisk) {
    UseMemory(Package());
    Write(L"empty.png", "from disk");
    Write(L"onlydisk.png", "disk only");
    struct Case {
        const wchar_t* name;
        SkinFileUse use;
        const char* content;
        const wchar_t* error;
    } cases[] = {
        {L"empty.png", SkinFileUse::Image, "from disk", L""},
        {L"empty.png", SkinFileUse::Font, "from disk", L""},
        {L"empty.png", SkinFileUse::Markup, nullptr, L"File is empty"},
        {L"onlydisk.png", SkinFileUse::Image, "disk only", L""},
        {L"onlydisk.png", SkinFileUse::Markup, nullptr, L"Could not find ziped file"},
        {L"broken.xml", SkinFileUse::Markup, nullptr, L"Could not unzip file"},
        {L"nowhere.png", SkinFileUse::Image, nullptr, L"Error opening file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(c.name));
        SkinFileBytes bytes;
        std::wstring error;
        const bool ok = CSkinPackage::ReadSkinFile(c.name, c.use, bytes, &error);
        EXPECT_EQ(ok, c.content != nullptr);
        if (ok) { EXPECT_EQ(AsString(bytes), c.content); }
        if (!ok) { EXPECT_EQ(error, c.error); }
    }
    // Absolute names work for the fallback too.
    SkinFileBytes bytes;
    EXPECT_TRUE(CSkinPackage::ReadSkinFile(dir_ + L"\\onlydisk.png", SkinFileUse::Font, bytes));
}

TEST_F(SkinFileTest, SecondMemoryPackageIsIgnored) {
    const std::string& first = Keep(ziputil::BuildZip({{"first.txt", "1"}}));
    const std::string& second = Keep(ziputil::BuildZip({{"second.txt", "2"}}));
    UseMemory(first);
    const ZipHandle handle = CSkinPackage::GetResourceZipHandle();
    UseMemory(second);
    EXPECT_EQ(CSkinPackage::GetResourceZipHandle(), handle);
    SkinFileBytes bytes;
    EXPECT_TRUE(CSkinPackage::ReadSkinFile(L"first.txt", SkinFileUse::Markup, bytes));
    EXPECT_FALSE(CSkinPackage::ReadSkinFile(L"second.txt", SkinFileUse::Markup, bytes));
    // Shutdown closes the handle; the package then yields nothing.
    CSkinPackage::CloseResourceZip();
    std::wstring error;
    EXPECT_FALSE(CSkinPackage::ReadSkinFile(L"first.txt", SkinFileUse::Markup, bytes, &error));
    EXPECT_EQ(error, L"Error opening zip file");
}

TEST_F(SkinFileTest, UnreadableMemoryPackageFailsEveryLookup) {
    const std::string& junk = Keep(std::string(1000, 'j'));
    UseMemory(junk);
    EXPECT_EQ(CSkinPackage::GetResourceZip(), L"membuffer");
    EXPECT_EQ(CSkinPackage::GetResourceZipHandle(), nullptr);
    Write(L"a.xml", "<a/>");
    SkinFileBytes bytes;
    std::wstring error;
    EXPECT_FALSE(CSkinPackage::ReadSkinFile(L"a.xml", SkinFileUse::Markup, bytes, &error));
    EXPECT_EQ(error, L"Error opening zip file");
    EXPECT_TRUE(CSkinPackage::ReadSkinFile(L"a.xml", SkinFileUse::Image, bytes));  // disk fallback
}

TEST_F(SkinFileTest, PasswordOfTheMemoryPackage) {
    // The entry is encrypted with the code-page 936 bytes of the password; the
    // package state converts the UTF-16 password to the ANSI code page.
    const std::string gbk = "\xc3\xdc\xc2\xeb";  // the two characters below in GBK
    const std::string& locked = Keep(ziputil::BuildZip({{"s.xml", "<secret/>", true, gbk}}));
    struct Case {
        const wchar_t* password;
        bool opens;
    } cases[] = {{L"\u5bc6\u7801", true}, {L"wrong", false}, {L"", false}};
    for (const Case& c : cases) {
        CSkinPackage::Reset();
        UseMemory(locked, c.password);
        SkinFileBytes bytes;
        std::wstring error;
        EXPECT_EQ(CSkinPackage::ReadSkinFile(L"s.xml", SkinFileUse::Markup, bytes, &error), c.opens);
        if (c.opens)
            EXPECT_EQ(AsString(bytes), "<secret/>");
        else
            EXPECT_EQ(error, L"Could not unzip file");
    }
}

TEST_F(SkinFileTest, PackageFileOnDiskCachedOrNot) {
    Write(L"skin.zip", Package());
    CSkinPackage::SetResourcePath(dir_);
    for (bool cached : {false, true}) {
        SCOPED_TRACE(cached);
        CSkinPackage::SetResourceZip(L"skin.zip", cached);
        EXPECT_EQ(CSkinPackage::GetResourceZipHandle() != nullptr, cached);
        SkinFileBytes bytes;
        EXPECT_TRUE(CSkinPackage::ReadSkinFile(L"Layout\\Layout.xml", SkinFileUse::Markup, bytes));
        EXPECT_EQ(AsString(bytes), "<Window/>");
        EXPECT_TRUE(CSkinPackage::SkinFileExists(L"image/logo@150.PNG"));
    }
    CSkinPackage::SetResourceZip(L"missing.zip", false);
    SkinFileBytes bytes;
    std::wstring error;
    EXPECT_FALSE(CSkinPackage::ReadSkinFile(L"Layout/Layout.xml", SkinFileUse::Markup, bytes, &error));
    EXPECT_EQ(error, L"Error opening zip file");
}

TEST_F(SkinFileTest, MarkupSizeLimitInPackageAndOnDisk) {
    const size_t limit = 4u * 1024u * 1024u;
    std::string exact = "<a>";
    exact += std::string(limit - 7, 'x');
    exact += "</a>";
    ASSERT_EQ(exact.size(), limit);
    std::string over = exact;
    over.insert(3, "y");
    // On disk under the resource path.
    Write(L"exact.xml", exact);
    Write(L"over.xml", over);
    Write(L"empty.xml", "");
    CSkinPackage::SetResourcePath(dir_);
    struct Case {
        const wchar_t* name;
        const wchar_t* error;  // empty: loads
    };
    auto expectLoads = [&](const Case (&cases)[4]) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testutil::WideToUtf8(c.name));
            SkinUI::CMarkup markup;
            const bool ok = markup.LoadFromFile(c.name);
            EXPECT_EQ(ok, *c.error == 0);
            EXPECT_EQ(markup.LastErrorMessage(), c.error);
            EXPECT_EQ(markup.LastErrorLocation(), L"");
            if (ok) { EXPECT_EQ(std::wcslen(markup.GetRoot().GetValue()), limit - 7); }
        }
    };
    expectLoads({
        {L"exact.xml", L""},
        {L"over.xml", L"File too large"},
        {L"empty.xml", L"File is empty"},
        {L"absent.xml", L"Error opening file"},
    });
    // In the package.
    const std::string& pkg = Keep(ziputil::BuildZip({{"exact.xml", exact}, {"over.xml", over}, {"empty.xml", ""}}));
    UseMemory(pkg);
    expectLoads({
        {L"exact.xml", L""},
        {L"over.xml", L"File too large"},
        {L"empty.xml", L"File is empty"},
        {L"absent.xml", L"Could not find ziped file"},
    });
    // Images have no such limit.
    SkinFileBytes bytes;
    EXPECT_TRUE(CSkinPackage::ReadSkinFile(L"over.xml", SkinFileUse::Image, bytes));
    EXPECT_EQ(bytes.size, limit + 1);
}

}  // namespace
