// The installer window's folder rules, progress text and the union id read at
// the start of the interactive run, in this process under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "nqpublic/nqbase/nqhandle.h"
#include "qvrinstaller/dlginstall.h"
#include "qvrinstaller/interactive.h"

namespace {

TEST(DlgInstall, PickedFolderGetsTheProductFolderOnce) {
    struct Case {
        const wchar_t* picked;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {L"C:\\Tools", L"C:\\Tools\\Prod"},
        {L"C:\\Tools\\Prod", L"C:\\Tools\\Prod"},
        {L"C:\\", L"C:\\Prod"},
        {L"D:/Apps/", L"D:/Apps/Prod"},
        {L"C:\\Tools\\prod", L"C:\\Tools\\prod\\Prod"},  // the name is compared exactly
        {L"C:\\Prod\\Sub", L"C:\\Prod\\Sub\\Prod"},
    };
    for (const Case& c : cases) EXPECT_EQ(CDlgInstall::PickedFolderText(c.picked, L"Prod"), c.shown) << c.picked;
}

TEST(DlgInstall, FolderCheckNeedsADriveAndCreatesTheFolder) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring base = std::wstring(temp) + L"dlgfolder_" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring deep = base + L"\\a\\b\\";
    EXPECT_FALSE(CDlgInstall::CheckAndCreateFolder(L"relative\\path"));
    EXPECT_FALSE(CDlgInstall::CheckAndCreateFolder(L""));
    EXPECT_FALSE(::GetFileAttributesW(L"relative") != INVALID_FILE_ATTRIBUTES) << "nothing made for a relative path";
    ASSERT_TRUE(CDlgInstall::CheckAndCreateFolder(deep));
    EXPECT_NE(::GetFileAttributesW((base + L"\\a\\b").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(CDlgInstall::CheckAndCreateFolder(deep)) << "an existing folder passes";
    // A file where the folder would go cannot become the install folder.
    const std::wstring file = base + L"\\file";
    {
        const nq::unique_hfile h(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(h);
    }
    EXPECT_FALSE(CDlgInstall::CheckAndCreateFolder(file + L"\\below"));
    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW((base + L"\\a\\b").c_str());
    ::RemoveDirectoryW((base + L"\\a").c_str());
    ::RemoveDirectoryW(base.c_str());
}

TEST(DlgInstall, ProgressText) {
    EXPECT_EQ(CDlgInstall::ProgressText(0), L"安装中...  (0\xFF05)");
    EXPECT_EQ(CDlgInstall::ProgressText(98), L"安装中...  (98\xFF05)");
    EXPECT_EQ(CDlgInstall::ProgressText(100), L"安装中...  (100\xFF05)");
}

TEST(Interactive, UnionIdFromTheRegistry) {
    const wchar_t* key = L"Software\\QvrTest\\DlgUnionId";
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key);
    EXPECT_EQ(qvrapp::ReadUnionId(HKEY_CURRENT_USER, key), qvrapp::kDefaultUnionId) << "no key";
    nq::unique_hkey owned;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, owned.put(), nullptr),
              ERROR_SUCCESS);
    HKEY k = owned.get();
    EXPECT_EQ(qvrapp::ReadUnionId(HKEY_CURRENT_USER, key), qvrapp::kDefaultUnionId) << "no value";
    struct Case {
        DWORD stored;
        DWORD read;
    };
    for (const Case& c : {Case{99, 31000}, Case{100, 100}, Case{31055, 31055}, Case{0, 31000}}) {
        ::RegSetValueExW(k, L"UnionId", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&c.stored), sizeof(DWORD));
        EXPECT_EQ(qvrapp::ReadUnionId(HKEY_CURRENT_USER, key), c.read) << c.stored;
    }
    // Another type or a longer value counts as missing.
    ::RegSetValueExW(k, L"UnionId", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"31055"), 12);
    EXPECT_EQ(qvrapp::ReadUnionId(HKEY_CURRENT_USER, key), qvrapp::kDefaultUnionId) << "REG_SZ";
    const unsigned long long wide = 31055;
    ::RegSetValueExW(k, L"UnionId", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&wide), sizeof(wide));
    EXPECT_EQ(qvrapp::ReadUnionId(HKEY_CURRENT_USER, key), qvrapp::kDefaultUnionId) << "REG_QWORD";
    owned.reset();
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key);
}

}  // namespace
