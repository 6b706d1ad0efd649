// The protected folders of the machine (the Wine prefix's) and the install
// folder check, in-process: which folders are refused and under which names
// they are recognised, the product's earlier installation, folders holding
// other files, and the length rule against the payload's deepest path.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvrinstaller/installfolder.h"
#include "tests/common/testutil.h"
#include "tests/common/treeutil.h"
#include "utility/base/qvrprotectedfolders.h"

using qvrapp::CheckInstallFolder;
using qvrapp::FolderProblem;
using qvrapp::InstallFolderFacts;
using qvrfolders::Refusal;

namespace {

std::string U8(const std::wstring& s) { return testutil::WideToUtf8(s); }

std::wstring Csidl(int id) {
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(::SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : L"";
}

std::wstring Env(const wchar_t* name) {
    wchar_t value[1024] = {};
    const DWORD n = ::GetEnvironmentVariableW(name, value, 1024);
    return n && n < 1024 ? value : L"";
}

std::wstring Windows() {
    wchar_t path[MAX_PATH] = {};
    ::GetWindowsDirectoryW(path, MAX_PATH);
    return path;
}

std::wstring Upper(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(::towupper(c));
    return s;
}

std::wstring Slashes(std::wstring s) {
    for (wchar_t& c : s)
        if (c == L'\\') c = L'/';
    return s;
}

std::wstring ProgramFiles64() {
    const std::wstring p = Env(L"ProgramW6432");
    return p.empty() ? Csidl(CSIDL_PROGRAM_FILES) : p;
}

struct Case {
    std::wstring path;
    Refusal expected;
};

// Every kind of protected folder of this machine, under several spellings of
// the same folder, and ordinary folders next to them.
TEST(ProtectedFolders, RecognisesTheMachinesFoldersUnderAnySpelling) {
    const std::wstring windows = Windows();
    const std::wstring profile = Csidl(CSIDL_PROFILE);
    const std::wstring users = profile.substr(0, profile.find_last_of(L'\\'));
    const std::wstring documents = Csidl(CSIDL_PERSONAL);
    const std::wstring roaming = Csidl(CSIDL_APPDATA);
    const std::wstring local = Csidl(CSIDL_LOCAL_APPDATA);
    const std::wstring appdata = roaming.substr(0, roaming.find_last_of(L'\\'));
    ASSERT_FALSE(windows.empty());
    ASSERT_FALSE(profile.empty());
    const std::vector<Case> cases = {
        // Nothing, relative, roots.
        {L"", Refusal::kEmpty},
        {L"   ", Refusal::kEmpty},
        {L"App", Refusal::kRelative},
        {L"Tools\\App", Refusal::kRelative},
        {L"\\Tools\\App", Refusal::kRelative},
        {L"C:Tools", Refusal::kRelative},
        {L"%QVR_NO_SUCH_VARIABLE%\\App", Refusal::kRelative},
        {L"C:\\", Refusal::kDriveRoot},
        {L"c:", Refusal::kRelative},
        {L"C:\\Tools\\..", Refusal::kDriveRoot},
        {L"Z:/", Refusal::kDriveRoot},
        {L"\\\\server\\share", Refusal::kDriveRoot},
        {L"\\\\server\\share\\", Refusal::kDriveRoot},
        // The Windows folder and everything below it.
        {windows, Refusal::kWindows},
        {Upper(windows) + L"\\", Refusal::kWindows},
        {windows + L"\\System32", Refusal::kWindows},
        {Slashes(windows) + L"/system32/", Refusal::kWindows},
        {L"%windir%\\SysWOW64", Refusal::kWindows},
        {L"%SystemRoot%\\Sysnative\\drivers", Refusal::kWindows},
        {windows + L"\\System32\\.\\..\\Temp\\Product", Refusal::kWindows},
        {L"\\\\?\\" + windows + L"\\System32", Refusal::kWindows},
        {windows + L"\\..\\" + windows.substr(3), Refusal::kWindows},
        // Program Files, ProgramData, Users: the folders themselves.
        {Csidl(CSIDL_PROGRAM_FILES), Refusal::kSystem},
        {L"%ProgramFiles%\\", Refusal::kSystem},
        {ProgramFiles64(), Refusal::kSystem},
        {Csidl(CSIDL_COMMON_APPDATA), Refusal::kSystem},
        {L"%ProgramData%", Refusal::kSystem},
        {users, Refusal::kSystem},
        // Profiles: this user's, the public one, anybody's.
        {profile, Refusal::kProfile},
        {L"%USERPROFILE%\\", Refusal::kProfile},
        {Env(L"PUBLIC"), Refusal::kProfile},
        {users + L"\\someone", Refusal::kProfile},
        // Known folders of this user, of the shared profile, of anybody.
        {documents, Refusal::kUserFolder},
        {Csidl(CSIDL_DESKTOPDIRECTORY), Refusal::kUserFolder},
        {Csidl(CSIDL_MYPICTURES), Refusal::kUserFolder},
        {Csidl(CSIDL_MYMUSIC), Refusal::kUserFolder},
        {Csidl(CSIDL_MYVIDEO), Refusal::kUserFolder},
        {profile + L"\\Downloads", Refusal::kUserFolder},
        {appdata, Refusal::kUserFolder},
        {roaming, Refusal::kUserFolder},
        {Upper(local), Refusal::kUserFolder},
        {L"%APPDATA%\\..\\LocalLow", Refusal::kUserFolder},
        {Csidl(CSIDL_COMMON_DOCUMENTS), Refusal::kUserFolder},
        {Csidl(CSIDL_COMMON_PROGRAMS), Refusal::kUserFolder},
        {users + L"\\someone\\Documents", Refusal::kUserFolder},
        {users + L"\\someone\\AppData\\Roaming\\", Refusal::kUserFolder},
        // Ordinary folders, also right beside or inside protected ones.
        {Csidl(CSIDL_PROGRAM_FILES) + L"\\ContosoTranslator", Refusal::kNone},
        {L"%ProgramFiles%\\Contoso\\..\\ContosoTranslator", Refusal::kNone},
        {Csidl(CSIDL_COMMON_APPDATA) + L"\\Contoso", Refusal::kNone},
        {documents + L"\\Contoso", Refusal::kNone},
        {local + L"\\Programs\\Contoso", Refusal::kNone},
        {windows + L"x\\App", Refusal::kNone},
        {users + L"\\someone\\Projects", Refusal::kNone},
        {users + L"\\someone\\Documents\\Contoso", Refusal::kNone},
        {L"D:\\Tools\\App", Refusal::kNone},
        {L"\\\\server\\share\\App", Refusal::kNone},
    };
    const auto& folders = qvrfolders::Protected();
    for (const Case& c : cases) {
        std::wstring canonical;
        EXPECT_EQ(static_cast<int>(folders.Classify(c.path, &canonical)), static_cast<int>(c.expected))
            << U8(c.path) << " -> " << U8(canonical);
    }
}

// 8.3 names and links lead to the same folders.
TEST(ProtectedFolders, ShortNamesAndLinksLeadToTheSameFolder) {
    const auto& folders = qvrfolders::Protected();
    const std::wstring programFiles = Csidl(CSIDL_PROGRAM_FILES);
    wchar_t shortName[MAX_PATH] = {};
    const DWORD n = ::GetShortPathNameW(programFiles.c_str(), shortName, MAX_PATH);
    if (n && n < MAX_PATH && programFiles != shortName) {
        EXPECT_EQ(folders.Classify(shortName), Refusal::kSystem) << U8(shortName);
        EXPECT_EQ(folders.Classify(std::wstring(shortName) + L"\\Contoso"), Refusal::kNone) << U8(shortName);
    }

    // A known folder that is a link (Wine links Documents to the Unix home):
    // the folder it leads to is protected too, under its own name.
    const std::wstring documents = Csidl(CSIDL_PERSONAL);
    const std::wstring target = qvrfolders::ResolveLinks(documents);
    if (!qvrfolders::SamePath(target, documents)) {
        EXPECT_EQ(folders.Classify(target), Refusal::kUserFolder) << U8(target);
        EXPECT_EQ(folders.Classify(target + L"\\Contoso"), Refusal::kNone) << U8(target);
    }

    const std::wstring dir = testutil::MakeTempDir(L"links");
    ASSERT_FALSE(dir.empty());
    const std::wstring link = dir + L"\\to-windows";
    const BOOL made = ::CreateSymbolicLinkW(link.c_str(), Windows().c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    if (made && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        EXPECT_EQ(folders.Classify(link), Refusal::kWindows);
        EXPECT_EQ(folders.Classify(link + L"\\System32"), Refusal::kWindows);
        ::RemoveDirectoryW(link.c_str());
    }
    EXPECT_EQ(folders.Classify(dir), Refusal::kNone);
    testutil::RemoveTree(dir);
}

class InstallFolder : public testing::Test {
protected:
    void SetUp() override {
        dir_ = testutil::MakeTempDir(L"instfolder");
        ASSERT_FALSE(dir_.empty());
        facts_.mainProgram = L"ContosoTranslator.exe";
    }
    void TearDown() override { testutil::RemoveTree(dir_); }
    FolderProblem Check(const std::wstring& path, std::wstring* reason = nullptr) const {
        return CheckInstallFolder(path, facts_, reason);
    }
    std::wstring dir_;
    InstallFolderFacts facts_;
};

TEST_F(InstallFolder, ProtectedFoldersAreRefusedWithTheirReason) {
    std::wstring reason;
    EXPECT_EQ(Check(Windows() + L"\\System32", &reason), FolderProblem::kProtected);
    EXPECT_EQ(reason, L"install folder refused: \"" + Windows() + L"\\System32\": the Windows folder or a folder inside it");
    EXPECT_EQ(Check(L"", &reason), FolderProblem::kProtected);
    EXPECT_EQ(reason, L"install folder refused: \"\": no folder given");
    EXPECT_EQ(Check(Csidl(CSIDL_PERSONAL)), FolderProblem::kProtected);
    EXPECT_EQ(Check(L"App"), FolderProblem::kProtected);
}

// A folder that already holds something is an install folder only when it is
// an earlier installation of the product: its main program is there, or the
// registry names it.
TEST_F(InstallFolder, AFolderHoldingOtherFilesIsRefused) {
    const std::wstring fresh = dir_ + L"\\new\\App";
    const std::wstring empty = dir_ + L"\\empty";
    const std::wstring data = dir_ + L"\\data";
    const std::wstring earlier = dir_ + L"\\earlier";
    const std::wstring registered = dir_ + L"\\registered";
    for (const std::wstring& d : {empty, data, earlier, registered}) ASSERT_TRUE(::CreateDirectoryW(d.c_str(), nullptr));
    ASSERT_TRUE(testutil::WriteFileBytes(data + L"\\notes.txt", "mine"));
    ASSERT_TRUE(::CreateDirectoryW((data + L"\\Only a folder").c_str(), nullptr));
    ASSERT_TRUE(testutil::WriteFileBytes(earlier + L"\\ContosoTranslator.exe", "MZ"));
    ASSERT_TRUE(testutil::WriteFileBytes(earlier + L"\\qmstat.dll", "MZ"));
    ASSERT_TRUE(testutil::WriteFileBytes(registered + L"\\licence.txt", "text"));
    ASSERT_TRUE(testutil::WriteFileBytes(dir_ + L"\\plain-file", "x"));

    std::wstring reason;
    EXPECT_EQ(Check(fresh), FolderProblem::kNone);
    EXPECT_EQ(Check(empty), FolderProblem::kNone);
    EXPECT_EQ(Check(data, &reason), FolderProblem::kHoldsOtherFiles);
    EXPECT_NE(reason.find(L"\"" + data + L"\": the folder already holds other files"), std::wstring::npos) << U8(reason);
    EXPECT_EQ(Check(data + L"\\"), FolderProblem::kHoldsOtherFiles);
    EXPECT_EQ(Check(data + L"\\Only a folder\\.."), FolderProblem::kHoldsOtherFiles);
    EXPECT_EQ(Check(data + L"\\Contoso"), FolderProblem::kNone) << "a new folder inside the user's folder";
    EXPECT_EQ(Check(earlier), FolderProblem::kNone);
    EXPECT_EQ(Check(registered), FolderProblem::kHoldsOtherFiles);
    facts_.registeredFolders = {Upper(registered) + L"\\"};
    EXPECT_EQ(Check(registered), FolderProblem::kNone);
    EXPECT_EQ(Check(dir_ + L"\\plain-file"), FolderProblem::kNotAFolder);
    // A product the configuration does not name cannot be recognised: its
    // folders are not refused for what they hold.
    facts_.mainProgram.clear();
    EXPECT_EQ(Check(data), FolderProblem::kNone);
}

// The folder must leave room for the deepest file (259 units) and folder
// (247 units) the installation writes, counted in UTF-16 units.
TEST_F(InstallFolder, LengthLeavesRoomForTheDeepestPath) {
    facts_.AddEntry(L"Uninst.dar1", 11, false);
    facts_.AddEntry(L"Tools/Updater/ContosoUpdater.exe", 32, false);
    facts_.AddEntry(L"data\\dict", 9, true);
    EXPECT_EQ(facts_.longestFile, 32u);
    EXPECT_EQ(facts_.longestFolder, 13u);  // "Tools/Updater"
    EXPECT_EQ(qvrapp::LongestFolderFor(facts_), 259u - 33u);

    auto folderOf = [&](size_t length, const std::wstring& unit) { return testutil::PathOfLength(dir_, length, unit); };
    struct Row {
        size_t length;
        const wchar_t* unit;
        FolderProblem expected;
    };
    const Row rows[] = {
        {200, L"a", FolderProblem::kNone},         {226, L"a", FolderProblem::kNone},
        {227, L"a", FolderProblem::kTooLong},      {254, L"a", FolderProblem::kTooLong},
        {300, L"a", FolderProblem::kTooLong},      {226, L"翻", FolderProblem::kNone},
        {227, L"译", FolderProblem::kTooLong},     {300, L"译", FolderProblem::kTooLong},
    };
    for (const Row& r : rows) {
        const std::wstring path = folderOf(r.length, r.unit);
        ASSERT_EQ(path.size(), r.length);
        std::wstring reason;
        EXPECT_EQ(Check(path, &reason), r.expected) << r.length << " " << U8(reason);
        if (r.expected == FolderProblem::kTooLong) {
            EXPECT_NE(reason.find(L"too long: " + std::to_wstring(r.length) + L" characters where at most 226"),
                      std::wstring::npos)
                << U8(reason);
        }
    }
    // Without payload, the folder itself must still be a folder Windows can make.
    InstallFolderFacts bare;
    EXPECT_EQ(CheckInstallFolder(folderOf(247, L"a"), bare, nullptr), FolderProblem::kNone);
    EXPECT_EQ(CheckInstallFolder(folderOf(248, L"a"), bare, nullptr), FolderProblem::kTooLong);
    // Variables count as they expand.
    ::SetEnvironmentVariableW(L"QVRTEST_LONG", folderOf(220, L"b").c_str());
    EXPECT_EQ(Check(L"%QVRTEST_LONG%\\bbbbb"), FolderProblem::kNone);
    EXPECT_EQ(Check(L"%QVRTEST_LONG%\\bbbbbb"), FolderProblem::kTooLong);
}

// The names come from the archive's headers, in the stored form (first two
// bytes exchanged) as well as the plain one.
TEST_F(InstallFolder, ArchiveEntriesGiveTheDeepestNames) {
    std::string payload;
    std::wstring file = testutil::Utf8ToWide(CONTOSO_PAYLOAD_FILE);
    for (wchar_t& c : file)
        if (c == L'/') c = L'\\';
    ASSERT_TRUE(testutil::ReadFileBytes(L"Z:" + file, payload));
    ASSERT_GT(payload.size(), 32u);
    InstallFolderFacts plain;
    ASSERT_TRUE(qvrapp::AddArchiveEntries(payload.data(), static_cast<uint32_t>(payload.size()), false, &plain));
    EXPECT_EQ(plain.longestFile, wcslen(L"Tools/Updater/ContosoUpdater.exe"));
    EXPECT_EQ(plain.longestFolder, wcslen(L"Tools/Updater"));

    std::swap(payload[0], payload[1]);
    InstallFolderFacts stored;
    ASSERT_TRUE(qvrapp::AddArchiveEntries(payload.data(), static_cast<uint32_t>(payload.size()), true, &stored));
    EXPECT_EQ(stored.longestFile, plain.longestFile);
    EXPECT_EQ(stored.longestFolder, plain.longestFolder);
    EXPECT_EQ(payload[0], 'z') << "the block itself is left as it is";

    InstallFolderFacts broken;
    EXPECT_FALSE(qvrapp::AddArchiveEntries(payload.data(), 64, false, &broken));
    EXPECT_EQ(broken.longestFile, 0u);
}

}  // namespace
