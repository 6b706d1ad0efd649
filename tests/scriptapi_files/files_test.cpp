// The file and directory functions as scripts call them, on real files of the
// Wine prefix. Each behaviour is a table of {script body, expected results};
// P'name' is a path in the case's folder, T the folder itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/common/scriptcase.h"
#include "tests/common/testutil.h"
#include "tests/common/treeutil.h"
#include "tests/scriptapi_files/filehelpers.h"
#include "utility/base/qvrprotectedfolders.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace {

using Case = testutil::ScriptCase;

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}

// A path as string.format('%q') shows it.
std::string Quoted(const std::wstring& path) { return Replace(testutil::WideToUtf8(path), "\\", "\\\\"); }

class Files : public testing::Test {
protected:
    void SetUp() override {
        L = QVRScriptEngine::Instance().GetState();
        ASSERT_NE(L, nullptr);
        top_ = lua_gettop(L);
        wchar_t cwd[MAX_PATH] = {};
        ::GetCurrentDirectoryW(MAX_PATH, cwd);
        cwd_ = cwd;
        base_ = testutil::MakeTempDir(L"files");
        ASSERT_FALSE(base_.empty());
        // A name with a space. (The Unix side of the prefix runs in the C locale:
        // names outside ASCII cannot be created there.)
        dir_ = base_ + L"\\dir x";
        ASSERT_TRUE(::CreateDirectoryW(dir_.c_str(), nullptr));
        ::SetEnvironmentVariableW(L"QVRTEST_DIR", dir_.c_str());
        filetest::RegisterHelpers(L);
        testutil::SetScriptGlobal("T", dir_);
        // P'a/b': the path T\a\b.
        ASSERT_TRUE(testutil::RunScript("function P(name) return T .. '\\\\' .. (name:gsub('/', '\\\\')) end"));
    }
    void TearDown() override {
        filetest::UnlockAll();
        ::SetCurrentDirectoryW(cwd_.c_str());
        testutil::RemoveTree(base_);
        EXPECT_EQ(lua_gettop(L), top_) << "the stack is left as it was found";
    }

    void RunCases(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            const std::string expected = Replace(c.expected, "$T", Quoted(dir_));
            EXPECT_EQ(testutil::Describe(c.body), expected) << c.body;
        }
    }
    std::wstring Path(const std::wstring& name) const { return dir_ + L"\\" + name; }

    lua_State* L = nullptr;
    int top_ = 0;
    std::wstring cwd_, base_, dir_;
};

TEST_F(Files, CopyMoveAndRenameOntoExistingTargets) {
    RunCases({
        {"t_write(P'a.txt', 'new') t_write(P'b.txt', 'old')\n"
         "return Lua_CopyFile(P'a.txt', P'b.txt'), t_read(P'b.txt'), t_read(P'a.txt')",
         R"(true, "new", "new")"},
        {"t_write(P'c.txt', 'env')\n"
         "return Lua_CopyFile('%QVRTEST_DIR%\\\\c.txt', '%QVRTEST_DIR%\\\\d.txt'), t_read(P'd.txt')",
         R"(true, "env")"},
        {"t_mkdir(P'tree') t_write(P'tree/f.txt', '1') return Lua_CopyFile(P'tree', P'tree2'), t_read(P'tree2/f.txt')",
         R"(true, "1")"},
        {"return Lua_CopyFile(P'missing', P'x'), t_exists(P'x'), Lua_CopyFile(), Lua_CopyFile('', P'x')",
         "false, false, false, false"},
        {"t_write(P'm1', 'new') t_write(P'm2', 'old') return Lua_MoveFile(P'm1', P'm2'), t_read(P'm2'), t_exists(P'm1')",
         R"(true, "new", false)"},
        {"return Lua_MoveFile(P'missing', P'y'), Lua_MoveFile()", "false, false"},
        {"t_write(P'r1', 'new') t_write(P'r2', 'old') return Lua_RenameFile(P'r1', P'r2'), t_read(P'r2'), t_exists(P'r1')",
         R"(true, "new", false)"},
        {"t_mkdir(P'rd') t_write(P'rd/f', 'in') return Lua_RenameFile(P'rd', P'rd2'), t_read(P'rd2/f'), t_exists(P'rd')",
         R"(true, "in", false)"},
        {"t_mkdir(P'full') t_write(P'full/f', '') t_mkdir(P'busy') t_write(P'busy/g', '')\n"
         "return Lua_RenameFile(P'busy', P'full'), t_exists(P'busy/g'), t_exists(P'full/f')",
         "false, true, true"},
        {"return Lua_RenameFile(P'missing', P'z'), Lua_RenameFile()", "false, false"},
    });
}

TEST_F(Files, AnEmptyDestinationIsRefusedAndTheSourceStays) {
    // A missing destination, or one whose expansion does not fit, names no
    // place: nothing may land in the current folder instead.
    const std::wstring cwd = base_ + L"\\cwd";
    ASSERT_TRUE(::CreateDirectoryW(cwd.c_str(), nullptr));
    ASSERT_TRUE(::SetCurrentDirectoryW(cwd.c_str()));
    testutil::DebugLines debug;
    RunCases({
        {"t_write(P'e1', 'keep') return Lua_CopyFile(P'e1'), Lua_CopyFile(P'e1', ''), t_read(P'e1')",
         R"(false, false, "keep")"},
        {"t_write(P'e2', 'keep') return Lua_MoveFile(P'e2'), Lua_MoveFile(P'e2', ''), t_read(P'e2')",
         R"(false, false, "keep")"},
        {"t_write(P'e3', 'keep') return Lua_MoveFile(P'e3', P(string.rep('n', 300))), t_read(P'e3')",
         R"(false, "keep")"},
        {"t_mkdir(P'e4') t_write(P'e4/f', 'in') return Lua_CopyFile(P'e4', nil), Lua_MoveFile(P'e4', nil), t_read(P'e4/f')",
         R"(false, false, "in")"},
        {"t_write(P'e5', 'keep') return Lua_RenameFile(P'e5'), t_read(P'e5')", R"(false, "keep")"},
    });
    EXPECT_TRUE(testutil::ListTree(cwd).empty());
    EXPECT_EQ(debug.Count(L"vq Fun:Lua_CopyFile, Description: it's not exists!\r\n"), 3);
    EXPECT_EQ(debug.Count(L"vq Fun:Lua_MoveFile, Description: it's not exists!\r\n"), 4);
}

TEST_F(Files, DebugLinesOfCopyMoveAndRename) {
    ASSERT_TRUE(testutil::WriteFileBytes(Path(L"s"), "x"));
    testutil::DebugLines debug;
    ASSERT_EQ(testutil::Describe("return Lua_CopyFile(P's', P't'), Lua_RenameFile(P't', P'u'), Lua_MoveFile(P'u', P'v'),\n"
                                 "  Lua_CopyFile(P'none', P'w'), Lua_MoveFile(P'v', 'Q:\\\\qvr\\\\nowhere\\\\v')"),
              "true, true, true, false, false");
    const std::wstring s = Path(L"s"), t = Path(L"t"), u = Path(L"u"), v = Path(L"v");
    const std::vector<std::wstring>& lines = debug.lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], L"vq Copy " + s + L" to " + t + L" !");
    EXPECT_EQ(lines[1], L"vq MoveFile " + t + L" to " + u + L" !");
    EXPECT_EQ(lines[2], L"vq Move " + u + L" to " + v + L" !");
    EXPECT_EQ(lines[3], L"vq Fun:Lua_CopyFile, Description:" + Path(L"none") + L" it's not exists!\r\n");
    EXPECT_EQ(lines[4], L"vq Move " + v + L" to Q:\\qvr\\nowhere\\v failed!");
    EXPECT_EQ(lines[5].rfind(L"vq SHFileOperation error code : 0x", 0), 0u) << lines[5];
    EXPECT_EQ(lines[5].substr(lines[5].size() - 2), L"\r\n");
}

TEST_F(Files, CreateDirectoryAndTheExpansionDifference) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring tmp = temp;
    if (!tmp.empty() && tmp.back() == L'\\') tmp.pop_back();
    const std::wstring name = L"qvrtest_mkdir_" + std::to_wstring(::GetCurrentProcessId());
    testutil::SetScriptGlobal("TMPDIR", tmp);
    testutil::SetScriptGlobal("NAME", name);
    testutil::DebugLines debug;
    RunCases({
        {"return Lua_CreateDirectory(P'x/y/z'), t_isdir(P'x/y/z'), Lua_CreateDirectory(P'x/y/z')",
         "true, true, true"},
        {"return Lua_CreateDirectory(''), Lua_CreateDirectory()", "false, false"},
        {"t_write(P'plain', '') return Lua_CreateDirectory(P'plain'), t_isdir(P'plain')", "true, false"},
        // Lua_PathFileExists takes its argument as written; Lua_CreateDirectory expands it.
        {"return Lua_PathFileExists(T), Lua_PathFileExists('%QVRTEST_DIR%'), Lua_PathFileExists(P'nothing'),\n"
         "  Lua_PathFileExists()",
         "true, false, false, false"},
        {"return Lua_PathFileExists('%TMP%'), Lua_CreateDirectory('%TMP%\\\\' .. NAME), t_isdir(TMPDIR .. '\\\\' .. NAME)",
         "false, true, true"},
        {"return Lua_CreateDirectory('%QVRTEST_DIR%\\\\made'), t_isdir(P'made')", "true, true"},
        // An expansion longer than the 260-unit buffer names nothing.
        {"return Lua_CreateDirectory(P(string.rep('n', 300))), Lua_DelFileRecursive(string.rep('%QVRTEST_DIR%', 40))",
         "false, true"},
    });
    ::RemoveDirectoryW((tmp + L"\\" + name).c_str());
    EXPECT_EQ(debug.Count(L"vq Create Directory " + Path(L"x\\y\\z") + L"!\r\n"), 1);
    EXPECT_EQ(debug.Count(L"vq Fun:Lua_CreateDirectory, Description: it's not exists!\r\n"), 3);
}

TEST_F(Files, DeletingWhatDoesNotExistSucceeds) {
    RunCases({
        {"return Lua_DeleteFile(P'none'), Lua_DeleteFileEx(P'none'), Lua_DelFileRecursive(P'none'),\n"
         "  Lua_DelFileRecursiveEx(P'none'), Lua_DeleteFileAfterReboot(P'none'), Lua_DeleteFile(), Lua_DeleteFileEx('')",
         "true, true, true, true, true, true, true"},
    });
}

TEST_F(Files, DeleteFileAndDeleteFileEx) {
    RunCases({
        {"t_write(P'd1', '') t_mkdir(P'dd') t_write(P'dd/f', '')\n"
         "return Lua_DeleteFile(P'd1'), t_exists(P'd1'), Lua_DeleteFile(P'dd'), t_exists(P'dd')",
         "true, false, true, false"},
        // Lua_DeleteFileEx reports a locked file by its result, without a question.
        {"t_write(P'e1', '') t_lock(P'e1') local r = Lua_DeleteFileEx(P'e1') t_unlock()\n"
         "return r, t_exists(P'e1'), Lua_DeleteFileEx('%QVRTEST_DIR%\\\\e1'), t_exists(P'e1')",
         "false, true, true, false"},
        {"t_mkdir(P'ex') t_mkdir(P'ex/sub') t_write(P'ex/sub/f', '') return Lua_DeleteFileEx(P'ex'), t_exists(P'ex')",
         "true, false"},
    });
}

TEST_F(Files, RecursiveDeleteRemovesTreesWithReadOnlyFiles) {
    RunCases({
        {"t_mkdir(P'rt') t_mkdir(P'rt/a') t_mkdir(P'rt/a/b') t_write(P'rt/top', '') t_write(P'rt/a/mid', '')\n"
         "t_write(P'rt/a/b/deep', '') t_readonly(P'rt/a/mid') t_readonly(P'rt/a/b/deep') t_readonly(P'rt/top')\n"
         "return select('#', Lua_DelFileRecursive(P'rt')), t_exists(P'rt')",
         "0, false"},
        {"t_mkdir(P'rx') t_mkdir(P'rx/sub') t_write(P'rx/sub/f', '') t_readonly(P'rx/sub/f')\n"
         "return select('#', Lua_DelFileRecursiveEx(P'rx')), t_exists(P'rx')",
         "0, false"},
        {"t_write(P'rf', '') return select('#', Lua_DelFileRecursive(P'rf', 'extra')), t_exists(P'rf')", "0, false"},
        {"t_mkdir(P'rv') t_mkdir(P'rv/empty') return select('#', Lua_DelFileRecursive('%QVRTEST_DIR%\\\\rv')), t_exists(P'rv')",
         "0, false"},
    });
}

// A directory that is the current directory (or contains it) is left before
// it is removed; relative paths and "." name the directory they meant.
TEST_F(Files, RecursiveDeleteLeavesTheCurrentDirectory) {
    RunCases({
        {"t_mkdir(P'cw') t_mkdir(P'cw/in') t_chdir(P'cw/in') Lua_DelFileRecursive(P'cw')\n"
         "return t_exists(P'cw'), t_cwd()",
         R"(false, "$T")"},
        {"t_mkdir(P'cw2') t_write(P'cw2/f', '') t_chdir(P'cw2') Lua_DelFileRecursiveEx(P'cw2', function() end)\n"
         "return t_exists(P'cw2'), t_cwd()",
         R"(false, "$T")"},
        {"t_mkdir(P'cw3') t_mkdir(P'cw3/in') t_chdir(P'cw3') Lua_DelFileRecursive('in')\n"
         "return t_exists(P'cw3/in'), t_cwd()",
         R"(false, "$T\\cw3")"},
        {"t_mkdir(P'cw4') t_write(P'cw4/f', '') t_write(P'sibling', '') t_chdir(P'cw4') Lua_DelFileRecursive('.')\n"
         "return t_exists(P'cw4'), t_exists(P'sibling'), t_cwd()",
         R"(false, true, "$T")"},
    });
}

// The failure callback receives each file that could not be deleted, with the
// system error code; the rest of the tree goes, the directories holding the
// file stay.
TEST_F(Files, RecursiveDeleteExReportsLockedFiles) {
    RunCases({
        {"t_mkdir(P'cb') t_write(P'cb/locked.txt', '') t_write(P'cb/other.txt', '') t_mkdir(P'cb/sub')\n"
         "t_write(P'cb/sub/x', '') t_lock(P'cb/locked.txt')\n"
         "local calls = {}\n"
         "local n = select('#', Lua_DelFileRecursiveEx(P'cb', function(p, c) calls[#calls + 1] = p .. '|' .. c return 0 end))\n"
         "t_unlock()\n"
         "return n, #calls, calls[1], t_exists(P'cb/locked.txt'), t_exists(P'cb/other.txt'), t_exists(P'cb/sub')",
         R"(0, 1, "$T\\cb\\locked.txt|32", true, false, false)"},
        {"t_write(P'cbf', '') t_lock(P'cbf') local got = {}\n"
         "Lua_DelFileRecursiveEx(P'cbf', function(p, c) got = {p, c} end) t_unlock()\n"
         "return got[1], got[2], t_exists(P'cbf')",
         R"("$T\\cbf", 32, true)"},
        // Only a function in the last place is a callback.
        {"t_write(P'cbn', '') t_lock(P'cbn') local called = false\n"
         "Lua_DelFileRecursiveEx(P'cbn', function() called = true end, 'not a function')\n"
         "local n = select('#', Lua_DelFileRecursiveEx(P'cbn')) t_unlock()\n"
         "return called, n, t_exists(P'cbn')",
         "false, 0, true"},
        // The reference to the callback is released on every path.
        {"local weak = setmetatable({}, {__mode = 'k'})\n"
         "local f, g = function() end, function() end weak[f] = true weak[g] = true\n"
         "t_mkdir(P'cbr') Lua_DelFileRecursiveEx(P'none', f) Lua_DelFileRecursiveEx(P'cbr', g) f, g = nil, nil\n"
         "collectgarbage() collectgarbage() return next(weak) == nil, t_exists(P'cbr')",
         "true, false"},
    });
}

// A link inside a tree is removed as a link; what it points to stays.
TEST_F(Files, RecursiveDeleteDoesNotFollowDirectoryLinks) {
    const std::wstring outside = base_ + L"\\outside";
    ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
    ASSERT_TRUE(testutil::WriteFileBytes(outside + L"\\keep.txt", "keep"));
    ASSERT_TRUE(::CreateDirectoryW(Path(L"tree").c_str(), nullptr));
    // (Some Wine versions answer TRUE without making the link.)
    const BOOL made = ::CreateSymbolicLinkW(Path(L"tree\\link").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    const DWORD attributes = ::GetFileAttributesW(Path(L"tree\\link").c_str());
    if (!made || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "no directory links here";
    EXPECT_EQ(testutil::Describe("Lua_DelFileRecursive(P'tree') return t_exists(P'tree')"), "false");
    EXPECT_EQ(testutil::ReadFileOr(outside + L"\\keep.txt"), "keep");
}

// Removing a drive root would empty the drive: refused. The drive is a
// folder of the build tree that CTest mounts as QVR_FAKE_DRIVE for this test
// (scriptapi_files_drive_on), so that a fault empties only that folder.
TEST_F(Files, RecursiveDeleteRefusesADriveRoot) {
    wchar_t drive[8] = {};
    if (!::GetEnvironmentVariableW(L"QVR_FAKE_DRIVE", drive, 8)) GTEST_SKIP() << "no drive mounted for the test";
    const std::wstring root = std::wstring(drive) + L"\\";
    const std::wstring keep = root + L"keep.txt";
    ASSERT_TRUE(testutil::WriteFileBytes(keep, "keep"));
    ::CreateDirectoryW((root + L"sub").c_str(), nullptr);
    testutil::SetScriptGlobal("DRIVE", root);
    testutil::DebugLines debug;
    EXPECT_EQ(testutil::Describe("local seen = Lua_PathFileExists(DRIVE .. 'keep.txt')\n"
                                 "Lua_DelFileRecursive(DRIVE) Lua_DelFileRecursiveEx(DRIVE, function() end)\n"
                                 "Lua_DelFileRecursive(DRIVE .. 'sub\\\\..')\n"
                                 "return seen, Lua_PathFileExists(DRIVE .. 'keep.txt'), Lua_PathFileExists(DRIVE .. 'sub')"),
              "true, true, true");
    EXPECT_EQ(debug.Count(L"vq QVRScriptEngine::DeleteDirectories refuses to delete the root " + root + L"\r\n"), 2);
    EXPECT_EQ(debug.Count(L"vq QVRScriptEngine::DeleteDirectoriesEx refuses to delete the root " + root + L"\r\n"), 1);
    ::DeleteFileW(keep.c_str());
    ::RemoveDirectoryW((root + L"sub").c_str());
}

// The deletes that remove or empty a whole folder refuse the protected folders
// (see qvrfolders). The protected set is replaced by stand-ins in the test's
// folder, so that a fault empties only them: a Windows folder protected with
// everything below it, a Program Files folder, and a Users folder with a
// profile and its known folders. Folders inside them are deleted as usual.
TEST_F(Files, DeletesRefuseProtectedFolders) {
    const std::wstring sys = base_ + L"\\sys";
    std::wstring windows, programs, users;
    for (const wchar_t* d : {L"", L"\\Windows", L"\\Windows\\System32", L"\\Program Files", L"\\Program Files\\Contoso",
                             L"\\Users", L"\\Users\\ann", L"\\Users\\ann\\Documents", L"\\Users\\ann\\Documents\\Contoso",
                             L"\\Users\\ann\\AppData", L"\\Users\\ann\\AppData\\Roaming"}) {
        ASSERT_TRUE(::CreateDirectoryW((sys + d).c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((sys + d + L"\\sub").c_str(), nullptr));
        ASSERT_TRUE(testutil::WriteFileBytes(sys + d + L"\\keep.txt", "keep"));
        ASSERT_TRUE(testutil::WriteFileBytes(sys + d + L"\\sub\\keep.txt", "keep"));
    }
    ASSERT_TRUE(qvrfolders::CanonicalPath(sys + L"\\Windows", &windows));
    ASSERT_TRUE(qvrfolders::CanonicalPath(sys + L"\\Program Files", &programs));
    ASSERT_TRUE(qvrfolders::CanonicalPath(sys + L"\\Users", &users));
    qvrfolders::ReplaceProtectedForTesting(qvrfolders::ProtectedFolders(
        {{windows, qvrfolders::Refusal::kWindows, qvrfolders::Match::kSubtree},
         {programs, qvrfolders::Refusal::kSystem, qvrfolders::Match::kExact}},
        users));
    struct Restore {
        ~Restore() { qvrfolders::ReplaceProtectedForTesting(qvrfolders::ProtectedFolders::ReadFromSystem()); }
    } restore;
    ::SetEnvironmentVariableW(L"QVRTEST_SYS", sys.c_str());
    testutil::SetScriptGlobal("SYS", sys);

    struct Row {
        const wchar_t* rel;  // below sys
        const char* given;   // the path as the script gives it
        const wchar_t* why;  // the refusal's explanation, or null: deleted
    };
    const Row rows[] = {
        {L"\\Windows", "SYS .. '\\\\Windows'", L"the Windows folder or a folder inside it"},
        {L"\\Windows\\System32", "'%QVRTEST_SYS%/Windows/System32/'", L"the Windows folder or a folder inside it"},
        {L"\\Program Files", "SYS .. '\\\\Program Files\\\\sub\\\\..'", L"a system folder (Program Files, ProgramData or Users)"},
        {L"\\Users", "SYS .. '\\\\USERS'", L"a system folder (Program Files, ProgramData or Users)"},
        {L"\\Users\\ann", "SYS .. '\\\\Users\\\\ann'", L"a user profile"},
        {L"\\Users\\ann\\Documents", "SYS .. '\\\\Users\\\\ann\\\\Documents'", L"a user's own folder (Desktop, Documents, AppData and the like)"},
        {L"\\Users\\ann\\AppData\\Roaming", "SYS .. '\\\\Users\\\\ann\\\\AppData\\\\Roaming'",
         L"a user's own folder (Desktop, Documents, AppData and the like)"},
        {L"\\Program Files\\Contoso", "SYS .. '\\\\Program Files\\\\Contoso'", nullptr},
        {L"\\Users\\ann\\Documents\\Contoso", "SYS .. '\\\\Users\\\\ann\\\\Documents\\\\Contoso'", nullptr},
    };
    for (const Row& r : rows) {
        const std::wstring folder = sys + r.rel;
        SCOPED_TRACE(testutil::WideToUtf8(folder));
        testutil::DebugLines debug;
        const std::string given = r.given;
        EXPECT_EQ(testutil::Describe("local p = " + given + "\n"
                                     "local a = select('#', Lua_DelFileRecursive(p))\n"
                                     "local b = select('#', Lua_DelFileRecursiveEx(p, function() end))\n"
                                     "return a, b, Lua_DeleteFile(p), Lua_DeleteFileEx(p)"),
                  r.why ? "0, 0, false, false" : "0, 1, true, true");  // deleted by the first call
        QVRScriptEngine::DeleteDirectories((folder + L"\\*").c_str());
        QVRScriptEngine::DeleteDirectoriesEx((folder + L"\\*.*").c_str(), nullptr);
        if (!r.why) {
            EXPECT_FALSE(testutil::FileExists(folder));
            continue;
        }
        EXPECT_EQ(testutil::ReadFileOr(folder + L"\\keep.txt"), "keep");
        EXPECT_EQ(testutil::ReadFileOr(folder + L"\\sub\\keep.txt"), "keep");
        // One refusal line per delete, naming the folder as the delete saw it.
        int refusals = 0;
        for (const std::wstring& line : debug.lines())
            if (line.find(L" refuses to delete the protected folder ") != std::wstring::npos &&
                line.find(std::wstring(L"(") + r.why + L")\r\n") != std::wstring::npos)
                ++refusals;
        EXPECT_EQ(refusals, 6);
        for (const wchar_t* name : {L"QVRScriptEngine::DeleteDirectories", L"QVRScriptEngine::DeleteDirectoriesEx",
                                    L"Lua_DeleteFile", L"Lua_DeleteFileEx"})
            EXPECT_TRUE(std::any_of(debug.lines().begin(), debug.lines().end(), [&](const std::wstring& line) {
                return line.rfind(std::wstring(L"vq ") + name + L" refuses to delete the protected folder ", 0) == 0;
            })) << testutil::WideToUtf8(name);
    }
    // Everything that was not deleted on purpose is still there.
    EXPECT_EQ(testutil::ReadFileOr(sys + L"\\keep.txt"), "keep");
}

TEST_F(Files, DeleteFileAfterRebootSchedulesTheFile) {
    const wchar_t kKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
    const wchar_t kValue[] = L"PendingFileRenameOperations";
    auto pending = [&] {
        std::wstring data;
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return data;
        DWORD size = 0;
        if (::RegQueryValueExW(key, kValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size) {
            data.assign(size / sizeof(wchar_t), L'\0');
            ::RegQueryValueExW(key, kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]), &size);
        }
        ::RegCloseKey(key);
        return data;
    };
    const std::wstring before = pending();
    ASSERT_TRUE(testutil::WriteFileBytes(Path(L"later.txt"), ""));
    testutil::DebugLines debug;
    EXPECT_EQ(testutil::Describe("return Lua_DeleteFileAfterReboot('%QVRTEST_DIR%\\\\later.txt')"), "true");
    const std::wstring after = pending();
    EXPECT_NE(after.find(Path(L"later.txt")), std::wstring::npos);
    EXPECT_EQ(debug.Count(L"vq Lua_DeleteFileAfterReboot"), 1);
    // Put the prefix's list back as it was.
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        if (before.empty())
            ::RegDeleteValueW(key, kValue);
        else
            ::RegSetValueExW(key, kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(before.data()),
                             static_cast<DWORD>(before.size() * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
}

TEST_F(Files, UniqueNames) {
    RunCases({
        // The shell numbers from 2.
        {"t_write(P'sha000001.tmp', '') return Lua_PathYetAnotherMakeUniqueName(P'sha000001.tmp')",
         R"q("$T\\sha000001 (2).tmp")q"},
        {"t_write(P'sha000001 (2).tmp', '') return Lua_PathYetAnotherMakeUniqueName(P'sha000001.tmp')",
         R"q("$T\\sha000001 (3).tmp")q"},
        {"t_mkdir(P'folder') return Lua_PathYetAnotherMakeUniqueName(P'folder'), Lua_PathYetAnotherMakeUniqueName(P'x.tar.gz')",
         R"q("$T\\folder (2)", "$T\\x.tar.gz")q"},
        {"return Lua_PathYetAnotherMakeUniqueName(P'fresh.tmp'), Lua_PathYetAnotherMakeUniqueName('')",
         R"q("$T\\fresh.tmp", "")q"},
    });
}

}  // namespace
