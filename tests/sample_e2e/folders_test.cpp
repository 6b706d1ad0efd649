// Install folders the sample product's installer refuses, and the ones it
// takes, under Wine: protected folders and folders holding the user's files
// leave everything as it was (files, registry, service, running programs);
// ordinary folders, an earlier installation's folder and folders up to the
// longest the payload allows install and uninstall completely; the
// uninstaller does not work on a protected folder; and an installation whose
// uninstall chunks cannot be written stops visibly instead of reporting success.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <set>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "tests/common/treeutil.h"
#include "tests/sample_e2e/contoso_testutil.h"

using namespace contoso_test;

namespace {

const wchar_t kSetup[] = L"ContosoTranslatorSetup.exe";
const wchar_t kRoot[] = L"C:\\ContosoFolders";
constexpr DWORD kExitFolderRefused = 5;
constexpr DWORD kExitWriteFailed = 6;
constexpr DWORD kUninstallProtectedFolder = 5;

using testutil::Quote;
std::string U8(const std::wstring& s) { return testutil::WideToUtf8(s); }

// The names directly in a folder (empty when it does not exist).
std::set<std::wstring> Names(const std::wstring& folder) {
    std::set<std::wstring> out;
    for (const std::wstring& path : FilesMatching(folder + L"\\*")) out.insert(path.substr(path.rfind(L'\\') + 1));
    return out;
}

std::wstring Windows() {
    wchar_t path[MAX_PATH] = {};
    ::GetWindowsDirectoryW(path, MAX_PATH);
    return path;
}

// The switch /path: with a folder, quoted when it holds spaces (a backslash
// before the closing quote is doubled, or it would escape the quote).
std::wstring PathSwitch(const std::wstring& folder) {
    const std::wstring text = L"/path:" + folder;
    if (!folder.empty() && folder.find(L' ') == std::wstring::npos) return text;
    return L"\"" + text + (!folder.empty() && folder.back() == L'\\' ? L"\\" : L"") + L"\"";
}

// Writes a "LUA" resource of the installer to a file.
bool WriteResource(const std::wstring& exe, const wchar_t* name, const std::wstring& file) {
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return false;
    bool ok = false;
    if (HRSRC res = ::FindResourceW(module, name, L"LUA")) {
        const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, res)));
        ok = bytes && testutil::WriteFileBytes(file, std::string(bytes, ::SizeofResource(module, res)));
    }
    ::FreeLibrary(module);
    return ok;
}

class ContosoFolders : public testing::Test {
protected:
    void SetUp() override {
        tmp_ = testutil::MakeTempDir(L"contoso");
        ASSERT_FALSE(tmp_.empty());
        Reset();
    }
    void TearDown() override {
        Reset();
        testutil::RemoveTree(tmp_);
    }
    void Reset() { ResetProduct({DefaultInstallDir(), kRoot}); }

    std::map<std::wstring, std::wstring> RunEnv() const { return {{L"TMP", tmp_}, {L"TEMP", tmp_}}; }
    std::wstring Setup() const { return testutil::ExeDir() + L"\\" + kSetup; }
    DWORD Install(const std::wstring& args) {
        ::DeleteFileW(LogPath().c_str());
        // The installer's own switches run to the next '/': a quoted /path:
        // goes first, so that its closing quote does not end up in the value
        // of InstallSlience.
        return testutil::Run(Quote(Setup()) + (args.empty() ? L"" : L" " + args) + L" /InstallSlience true", RunEnv(),
                             300000);
    }
    // Runs the uninstaller of `dir` and waits for its copy in %TEMP% to finish.
    DWORD Uninstall(const std::wstring& dir) {
        const DWORD code = testutil::Run(Quote(dir + L"\\ContosoUninst.exe") + L" /s", RunEnv(), 60000);
        EXPECT_TRUE(WaitNoProcess(L"ContosoUninst.exe", 180000));
        return code;
    }
    std::wstring LogPath() const { return tmp_ + L"\\" + Today(L"Install_%d-%02d-%02d.log"); }
    std::string Log() const { return testutil::ReadFileOr(LogPath()); }

    // Nothing of the product is registered or linked.
    void ExpectNothingRegistered() {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, view, kProductKey));
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, view, kUninstallKey));
        }
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, 0, kProductKey));
        EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, 0, kRunKey, L"ContosoTranslator").found);
        EXPECT_FALSE(testutil::FileExists(SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + kProductName));
        EXPECT_FALSE(testutil::FileExists(SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + kProductName + L".lnk"));
        EXPECT_TRUE(testutil::WaitUntil([] { return !QueryService(kServiceName).exists; }, 30000));
    }

    std::wstring tmp_;
};

// ------------------------------------------------------------------------
// Every kind of protected folder, a folder holding the user's files and an
// earlier installation's registry entry that names a protected folder: the
// installer refuses before it changes anything. The product is installed and
// running meanwhile; it must stay exactly so.
TEST_F(ContosoFolders, RefusedFoldersLeaveEverythingAsItWas) {
    ASSERT_EQ(Install(L""), 0u);
    const std::wstring dir = DefaultInstallDir();
    testutil::Child product;
    ASSERT_TRUE(product.Start(Quote(dir + L"\\ContosoTranslator.exe")));
    ASSERT_TRUE(WaitForTopWindowOfClass(L"ContosoTranslatorMainWnd", product.Pid(), 30000, nullptr));
    ASSERT_TRUE(testutil::WaitUntil([] { return QueryService(kServiceName).state == SERVICE_RUNNING; }, 30000));
    const DWORD servicePid = QueryService(kServiceName).pid;
    const std::vector<std::wstring> installed = testutil::ListTree(dir);
    const uint64_t installedAt = LastWriteTime(dir + L"\\ContosoTranslator.exe");

    const std::wstring data = tmp_ + L"\\My Data";
    ASSERT_TRUE(::CreateDirectoryW(data.c_str(), nullptr));
    ASSERT_TRUE(testutil::WriteFileBytes(data + L"\\notes.txt", "mine"));
    ASSERT_TRUE(::CreateDirectoryW((data + L"\\photos").c_str(), nullptr));

    struct Case {
        std::wstring what;
        std::wstring path;       // as given on the command line or in the registry
        std::wstring inspected;  // the folder whose content must stay; empty: none
        bool fromRegistry;
    };
    const std::wstring system32 = Windows() + L"\\System32";
    const std::vector<Case> cases = {
        {L"empty /path:", L"", L"", false},
        {L"relative", L"ContosoApp", L"", false},
        {L"drive root", L"C:\\", L"C:\\", false},
        {L"System32 by variable and slashes", L"%windir%/System32/", system32, false},
        {L"Windows with dot-dot", Windows() + L"\\Temp\\..", Windows(), false},
        {L"Program Files", SpecialFolder(CSIDL_PROGRAM_FILES), SpecialFolder(CSIDL_PROGRAM_FILES), false},
        {L"ProgramData", L"%ProgramData%", SpecialFolder(CSIDL_COMMON_APPDATA), false},
        {L"Users", L"C:\\Users", L"C:\\Users", false},
        {L"profile", L"%USERPROFILE%", SpecialFolder(CSIDL_PROFILE), false},
        {L"Documents", SpecialFolder(CSIDL_PERSONAL), SpecialFolder(CSIDL_PERSONAL), false},
        {L"Desktop", SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\", SpecialFolder(CSIDL_DESKTOPDIRECTORY), false},
        {L"AppData\\Roaming", L"%APPDATA%", SpecialFolder(CSIDL_APPDATA), false},
        {L"folder with the user's files", data, data, false},
        {L"earlier installation registered in System32", system32, system32, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(U8(c.what));
        const std::set<std::wstring> before = c.inspected.empty() ? std::set<std::wstring>() : Names(c.inspected);
        const std::wstring registered =
            ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kUninstallKey, L"InstallLocation").Text();
        if (c.fromRegistry) {
            nq::unique_hkey key;
            ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, key.put()),
                      ERROR_SUCCESS);
            ASSERT_EQ(::RegSetValueExW(key.get(), L"InstallLocation", 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(c.path.c_str()),
                                       static_cast<DWORD>((c.path.size() + 1) * sizeof(wchar_t))),
                      ERROR_SUCCESS);
        }

        const DWORD code = Install(c.fromRegistry ? L"" : PathSwitch(c.path));
        EXPECT_EQ(code, kExitFolderRefused);
        EXPECT_NE(Log().find("install folder refused: \"" + U8(c.path) + "\": "), std::string::npos) << Log();

        // The product, its service, its files and its registry are as they were.
        EXPECT_TRUE(product.Running());
        const ServiceInfo service = QueryService(kServiceName);
        EXPECT_EQ(service.state, static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(service.pid, servicePid);
        EXPECT_EQ(testutil::ListTree(dir), installed);
        EXPECT_EQ(LastWriteTime(dir + L"\\ContosoTranslator.exe"), installedAt);
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kUninstallKey, L"InstallLocation").Text(),
                  c.fromRegistry ? c.path : registered);
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey, L"AppPath").Text(), dir);
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"AppPath").Text(), dir);
        // Nothing was written into the refused folder, nothing removed from it.
        if (!c.inspected.empty()) {
            const std::set<std::wstring> after = Names(c.inspected);
            for (const std::wstring& name : before) EXPECT_EQ(after.count(name), 1u) << U8(name);
            for (const wchar_t* name : {L"ContosoTranslator.exe", L"Uninst.dar0", L"Uninst.dar1", L"qmstat.dll", L"Tools"})
                EXPECT_EQ(after.count(name), before.count(name)) << U8(name);
        }
        EXPECT_FALSE(testutil::FileExists(L"ContosoApp"));

        if (c.fromRegistry) {
            nq::unique_hkey key;
            ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, key.put()),
                      ERROR_SUCCESS);
            ::RegSetValueExW(key.get(), L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                             static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
        }
    }
    EXPECT_EQ(testutil::ReadFileOr(data + L"\\notes.txt"), "mine");
    product.Kill();
}

// ------------------------------------------------------------------------
// A new folder inside a folder of the user's, then the same folder again (an
// earlier installation holds files and is taken), then the uninstall: the
// product goes, the user's files stay.
TEST_F(ContosoFolders, OrdinaryFoldersInstallAndUninstallAsBefore) {
    const std::wstring data = std::wstring(kRoot) + L"\\Data";
    const std::wstring dir = data + L"\\Contoso App";
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, data.c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(testutil::WriteFileBytes(data + L"\\notes.txt", "mine"));

    ASSERT_EQ(Install(PathSwitch(dir)), 0u);
    EXPECT_TRUE(testutil::FileExists(dir + L"\\ContosoTranslator.exe"));
    EXPECT_TRUE(testutil::FileExists(dir + L"\\Uninst.dar1"));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kUninstallKey, L"InstallLocation").Text(), dir);

    ASSERT_EQ(Install(PathSwitch(dir)), 0u) << Log();
    EXPECT_EQ(Log().find("install folder refused"), std::string::npos);
    EXPECT_TRUE(testutil::FileExists(dir + L"\\ContosoTranslator.exe"));

    ASSERT_EQ(Uninstall(dir), 0u);
    EXPECT_FALSE(testutil::FileExists(dir));
    ExpectNothingRegistered();
    EXPECT_EQ(Names(data), std::set<std::wstring>{L"notes.txt"});
    EXPECT_EQ(testutil::ReadFileOr(data + L"\\notes.txt"), "mine");
}

// ------------------------------------------------------------------------
// Install folders of about 200, 240, 254 and 300 characters, ASCII and
// Chinese: the payload's deepest file (Tools\Updater\ContosoUpdater.exe)
// allows folders of up to 226 characters. Longer ones are refused before
// anything is written; shorter ones install and uninstall completely.
TEST_F(ContosoFolders, LongFoldersInstallAndUninstallOrAreRefused) {
    auto folderOf = [](size_t length, const std::wstring& unit) { return testutil::PathOfLength(kRoot, length, unit); };
    struct Row {
        size_t length;
        const wchar_t* unit;
        bool installs;
    };
    const Row rows[] = {
        {200, L"a", true},  {240, L"a", false}, {254, L"a", false}, {300, L"a", false},
        {200, L"译", true}, {240, L"译", false}, {254, L"译", false}, {300, L"译", false},
    };
    for (const Row& r : rows) {
        const std::wstring dir = folderOf(r.length, r.unit);
        SCOPED_TRACE(std::to_string(r.length) + " " + U8(r.unit));
        ASSERT_EQ(dir.size(), r.length);
        if (!r.installs) {
            EXPECT_EQ(Install(PathSwitch(dir)), kExitFolderRefused);
            EXPECT_NE(Log().find(" characters where at most 226 leave room"), std::string::npos) << Log();
            EXPECT_FALSE(testutil::FileExists(kRoot)) << "not even the first parent folder";
            ExpectNothingRegistered();
            continue;
        }
        ASSERT_EQ(Install(PathSwitch(dir)), 0u) << Log();
        EXPECT_TRUE(testutil::FileExists(dir + L"\\Tools\\Updater\\ContosoUpdater.exe"));
        EXPECT_TRUE(testutil::FileExists(dir + L"\\Uninst.dar0"));
        EXPECT_TRUE(testutil::FileExists(dir + L"\\Uninst.dar1"));
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kUninstallKey, L"InstallLocation").Text(), dir);
        ASSERT_TRUE(ReadShortcut(SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + kProductName + L"\\" + kProductName +
                                 L".lnk")
                        .loaded);

        ASSERT_EQ(Uninstall(dir), 0u);
        EXPECT_FALSE(testutil::FileExists(dir));
        ExpectNothingRegistered();
        testutil::RemoveTree(kRoot);  // the parents the installation made for the folder
    }
}

// ------------------------------------------------------------------------
// The uninstaller works on no protected folder: neither started from one
// (its first stage) nor handed one (its copy's stage).
TEST_F(ContosoFolders, UninstallerRefusesAProtectedFolder) {
    // Started from ProgramData, beside the uninstall chunks.
    const std::wstring programData = SpecialFolder(CSIDL_COMMON_APPDATA);
    const std::wstring uninstaller = testutil::Utf8ToWide(CONTOSO_BIN_DIR) + L"/ContosoUninst.exe";
    std::wstring source = L"Z:" + uninstaller;
    for (wchar_t& c : source)
        if (c == L'/') c = L'\\';
    const std::set<std::wstring> before = Names(programData);
    const std::vector<std::wstring> placed = {programData + L"\\ContosoUninst.exe", programData + L"\\Uninst.dar0",
                                              programData + L"\\Uninst.dar1"};
    ASSERT_TRUE(CopyTo(source, placed[0]));
    ASSERT_TRUE(WriteResource(Setup(), L"GLOBAL_VAR.LUAC", placed[1]));
    ASSERT_TRUE(WriteResource(Setup(), L"UNINSTSCRIPT.LUAC", placed[2]));
    EXPECT_EQ(testutil::Run(Quote(placed[0]) + L" /s", RunEnv(), 60000), kUninstallProtectedFolder);
    EXPECT_TRUE(FilesMatching(tmp_ + L"\\ContosoUninst_*").empty()) << "no copy was started";
    for (const std::wstring& file : placed) EXPECT_TRUE(::DeleteFileW(file.c_str())) << U8(file);
    EXPECT_EQ(Names(programData), before);

    // The copy's stage handed the Windows folder.
    const std::set<std::wstring> windows = Names(Windows());
    EXPECT_EQ(testutil::Run(Quote(source) + L" /s " + Quote(L"/from:" + Windows()), RunEnv(), 60000),
              kUninstallProtectedFolder);
    EXPECT_EQ(Names(Windows()), windows);
    const std::string log = testutil::ReadFileOr(tmp_ + L"\\" + Today(L"Uninstall_%d-%02d-%02d.log"));
    EXPECT_NE(log.find("protected folder, nothing removed: " + U8(Windows()) +
                       " (the Windows folder or a folder inside it)"),
              std::string::npos)
        << log;
}

// ------------------------------------------------------------------------
// The uninstall chunks cannot be written (another program holds the file):
// the installation stops with its message and the exit code of a file that
// could not be written, instead of going on as if it were complete.
TEST_F(ContosoFolders, UnwritableUninstallChunksStopTheInstallVisibly) {
    const std::wstring dir = std::wstring(kRoot) + L"\\App";
    ASSERT_EQ(Install(PathSwitch(dir)), 0u);
    nq::unique_hfile held(::CreateFileW((dir + L"\\Uninst.dar1").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);

    testutil::Child child;
    ASSERT_TRUE(child.Start(Quote(Setup()) + L" " + PathSwitch(dir) + L" /InstallSlience true", RunEnv()));
    HWND box = testutil::WaitForTopWindow(kInstallerTitle, child.Pid(), 180000);
    ASSERT_TRUE(box) << "the installer's message box";
    EXPECT_NE(testutil::DialogText(box).find(L"写入文件时出现错误，安装程序将终止！"), std::wstring::npos)
        << U8(testutil::DialogText(box));
    ASSERT_TRUE(testutil::PressDialogButton(box, IDOK));
    ASSERT_TRUE(child.Wait(60000));
    EXPECT_EQ(child.ExitCode(), kExitWriteFailed);
    EXPECT_NE(Log().find("Uninst.dar0/Uninst.dar1 or the main program could not be written"), std::string::npos);
}

}  // namespace
