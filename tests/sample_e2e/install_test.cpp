// The installer of the sample product and its uninstaller, run as a user's
// program or another program would run them, under Wine. What each run left on
// the machine is read back: files and their times, registry values in the
// right hive and view, shortcuts, the service, the shell extension's keys,
// the statistics journal, the reports the test server received, the log.
#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "tests/sample_e2e/contoso_testutil.h"

using namespace contoso_test;

namespace {

const wchar_t kSetup[] = L"ContosoTranslatorSetup.exe";
const wchar_t kSetupNoSS[] = L"ContosoTranslatorSetupNoSS.exe";
const wchar_t kSetupCover[] = L"ContosoTranslatorSetupCover.exe";
const wchar_t kSetupCorrupt[] = L"ContosoTranslatorSetupCorrupt.exe";
const wchar_t kOtherDrive[] = L"D:\\Tools\\App";
// A folder with spaces and Chinese characters, given quoted on the command line.
const wchar_t kQuotedDir[] = L"D:\\Program Files (x86)\\Contoso 翻译 A B";

using testutil::Quote;
std::string U8(const std::wstring& s) { return testutil::WideToUtf8(s); }
// Log lines are written in the ANSI code page.
std::string Ansi(const std::wstring& s) {
    const int n = ::WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring ManifestFile() {
    std::wstring f = testutil::Utf8ToWide(CONTOSO_MANIFEST_FILE);
    std::replace(f.begin(), f.end(), L'/', L'\\');
    return L"Z:" + f;
}

const ManifestEntry* Find(const std::vector<ManifestEntry>& m, const wchar_t* path) {
    for (const auto& e : m)
        if (_wcsicmp(e.path.c_str(), path) == 0) return &e;
    return nullptr;
}

// The publisher certificate the installer imports (SHA-1 of data/ContosoRoot.cer).
CRYPT_HASH_BLOB CertificateHash() {
    static BYTE sha1[20] = {0xD1, 0x64, 0xD0, 0x7E, 0xF9, 0x1C, 0x44, 0x8F, 0xDC, 0xD7,
                            0x48, 0x57, 0xA5, 0x88, 0xFA, 0x3D, 0x2F, 0xE2, 0xEC, 0xDF};
    return CRYPT_HASH_BLOB{sizeof sha1, sha1};
}

// Finds (and with `remove`, deletes) the certificate in the machine's Trusted Publishers.
bool PublisherCertificate(bool remove) {
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE,
                                       L"TrustedPublisher");
    if (!store) return false;
    CRYPT_HASH_BLOB hash = CertificateHash();
    PCCERT_CONTEXT cert = ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &hash, nullptr);
    const bool found = cert != nullptr;
    if (cert && remove)
        ::CertDeleteCertificateFromStore(cert);  // frees the context
    else if (cert)
        ::CertFreeCertificateContext(cert);
    ::CertCloseStore(store, 0);
    return found;
}

bool ResourceEqualsFile(const std::wstring& exe, const wchar_t* name, const std::wstring& file) {
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return false;
    bool same = false;
    if (HRSRC res = ::FindResourceW(module, name, L"LUA")) {
        const DWORD size = ::SizeofResource(module, res);
        const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, res)));
        same = bytes && size > 0 && testutil::ReadFileOr(file, "-") == std::string(bytes, size);
    }
    ::FreeLibrary(module);
    return same;
}

class ContosoInstall : public testing::Test {
protected:
    void SetUp() override {
        tmp_ = testutil::MakeTempDir(L"contoso");
        ASSERT_FALSE(tmp_.empty());
        Reset();
        seen_ = Requests().size();
    }
    void TearDown() override {
        for (HMODULE m : locked_) ::FreeLibrary(m);
        Reset();
        testutil::RemoveTree(tmp_);
    }
    void Reset() { ResetProduct({DefaultInstallDir(), L"D:\\Tools", kQuotedDir}); }

    std::map<std::wstring, std::wstring> RunEnv() const { return {{L"TMP", tmp_}, {L"TEMP", tmp_}}; }
    std::wstring Installer(const wchar_t* name) const { return testutil::ExeDir() + L"\\" + name; }
    // A copy of an installer under another file name (for file-name markers).
    std::wstring InstallerNamed(const wchar_t* from, const std::wstring& name) const {
        const std::wstring to = tmp_ + L"\\" + name;
        return CopyTo(Installer(from), to) ? to : L"";
    }
    DWORD RunInstaller(const std::wstring& exe, const std::wstring& args, DWORD timeoutMs = 300000) {
        ::DeleteFileW(LogPath().c_str());
        return testutil::Run(Quote(exe) + (args.empty() ? L"" : L" " + args), RunEnv(), timeoutMs);
    }
    std::wstring LogPath() const { return tmp_ + L"\\" + Today(L"Install_%d-%02d-%02d.log"); }
    std::vector<std::string> Log() const { return ReadLines(LogPath()); }
    std::vector<Request> NewRequests(const std::string& path) const {
        std::vector<Request> out;
        const auto all = Requests();
        for (size_t i = seen_; i < all.size(); ++i)
            if (all[i].path == path) out.push_back(all[i]);
        return out;
    }
    void MarkRequestsSeen() { seen_ = Requests().size(); }
    // Keeps a payload DLL mapped in this process, as a running program would:
    // it can be renamed but neither replaced nor deleted.
    void Lock(const std::wstring& dll) {
        HMODULE m = ::LoadLibraryW(dll.c_str());
        ASSERT_TRUE(m) << U8(dll);
        locked_.push_back(m);
    }
    void UnlockAll() {
        for (HMODULE m : locked_) ::FreeLibrary(m);
        locked_.clear();
    }
    // The files of the payload are in `dir` with their sizes, contents and times.
    void ExpectPayloadIn(const std::wstring& dir) {
        const auto manifest = ReadManifest(ManifestFile());
        ASSERT_GE(manifest.size(), 10u);
        for (const auto& e : manifest) {
            const std::wstring path = dir + L"\\" + e.path;
            if (e.path == L"ContosoRoot.cer") {
                EXPECT_FALSE(testutil::FileExists(path)) << "the certificate is deleted after its import";
                continue;
            }
            uint32_t crc = 0;
            uint64_t size = 0;
            ASSERT_TRUE(FileCrc32(path, crc, size)) << U8(path);
            EXPECT_EQ(size, e.size) << U8(path);
            EXPECT_EQ(crc, e.crc) << U8(path);
            EXPECT_EQ(LastWriteTime(path), e.filetime) << U8(path);
        }
    }
    bool WaitForLaunch(const std::string& program, size_t count, DWORD timeoutMs = 30000) {
        return testutil::WaitUntil([&] { return LaunchRecords(program).size() >= count; }, timeoutMs);
    }

    std::wstring tmp_;
    size_t seen_ = 0;
    std::vector<HMODULE> locked_;
};

// ------------------------------------------------------------------------
TEST_F(ContosoInstall, SilentInstallBySwitchPlacesEverything) {
    PublisherCertificate(true);
    testutil::RecordingWindow listener;
    ASSERT_TRUE(listener.hwnd());
    const std::wstring setup = Installer(kSetup);
    ASSERT_EQ(RunInstaller(setup, L"/InstallSlience true /InstallListenWnd " +
                                      std::to_wstring(reinterpret_cast<ULONG_PTR>(listener.hwnd()))),
              0u);
    const std::wstring dir = DefaultInstallDir();
    const std::wstring exe = dir + L"\\ContosoTranslator.exe";

    // The listener learns that the installation is complete.
    EXPECT_EQ(listener.Count(3014), 1);

    // Files, with the times they have in the payload; the uninstaller's chunks
    // are the installer's own resources, byte for byte.
    ExpectPayloadIn(dir);
    EXPECT_TRUE(ResourceEqualsFile(setup, L"GLOBAL_VAR.LUAC", dir + L"\\Uninst.dar0"));
    EXPECT_TRUE(ResourceEqualsFile(setup, L"UNINSTSCRIPT.LUAC", dir + L"\\Uninst.dar1"));
    EXPECT_FALSE(testutil::FileExists(dir + L"\\log")) << "no log folder with the shipped settings";

    // Registry: HKLM in the 32-bit view (the installer is a 32-bit program).
    struct Row {
        HKEY root;
        const wchar_t* key;
        const wchar_t* name;
        DWORD type;
        std::wstring text;
        DWORD number;
    };
    const std::wstring today = Today(L"%d%02d%02d");
    const Row rows[] = {
        {HKEY_LOCAL_MACHINE, kProductKey, L"AppPath", REG_SZ, dir, 0},
        {HKEY_LOCAL_MACHINE, kProductKey, L"UnionId", REG_DWORD, L"", 31007},
        {HKEY_LOCAL_MACHINE, kProductKey, L"OEMUnionId", REG_DWORD, L"", 13000},
        {HKEY_LOCAL_MACHINE, kProductKey, L"OemID", REG_DWORD, L"", 1},
        {HKEY_LOCAL_MACHINE, kProductKey, L"UserID", REG_BINARY, L"", 0},
        {HKEY_CURRENT_USER, kProductKey, L"AppPath", REG_SZ, dir, 0},
        {HKEY_CURRENT_USER, kProductKey, L"UnionId", REG_DWORD, L"", 31007},
        {HKEY_CURRENT_USER, kProductKey, L"OEMUnionId", REG_DWORD, L"", 13000},
        {HKEY_CURRENT_USER, kProductKey, L"OemID", REG_DWORD, L"", 1},
        {HKEY_CURRENT_USER, kProductKey, L"UserID", REG_BINARY, L"", 0},
        {HKEY_CURRENT_USER, kProductKey, L"DisplayVersion", REG_SZ, L"1.0.3.0", 0},
        {HKEY_CURRENT_USER, kProductKey, L"Version", REG_DWORD, L"", 100030000},
        {HKEY_CURRENT_USER, kProductKey, L"MerchantID", REG_SZ, L"20240317", 0},
        {HKEY_CURRENT_USER, kProductKey, L"StartMenuShortcutChk", REG_DWORD, L"", 1},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayIcon", REG_SZ, exe, 0},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", REG_SZ, kProductName, 0},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", REG_SZ, L"1.0.3.0", 0},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize", REG_DWORD, L"", 246528511 / 1024},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify", REG_DWORD, L"", 1},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"NoRepair", REG_DWORD, L"", 1},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher", REG_SZ, L"Contoso Ltd", 0},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", REG_SZ, Quote(dir + L"\\ContosoUninst.exe"), 0},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation", REG_SZ, dir, 0},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallDate", REG_SZ, today, 0},
        {HKEY_CURRENT_USER, kRunKey, L"ContosoTranslator", REG_SZ, Quote(exe) + L" /auto", 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(U8(std::wstring(r.root == HKEY_LOCAL_MACHINE ? L"HKLM\\" : L"HKCU\\") + r.key + L" " + r.name));
        const RegValue v = ReadValue(r.root, r.root == HKEY_LOCAL_MACHINE ? KEY_WOW64_32KEY : 0, r.key, r.name);
        ASSERT_TRUE(v.found);
        EXPECT_EQ(v.type, r.type);
        if (r.type == REG_SZ) { EXPECT_EQ(v.Text(), r.text); }
        if (r.type == REG_DWORD) { EXPECT_EQ(v.Dword(), r.number); }
        if (r.type == REG_BINARY) { EXPECT_EQ(v.data, std::vector<BYTE>{0}); }
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kProductKey)) << "not in the 64-bit view";
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"RunToTray").found);

    // Shortcuts: the start-menu folder (main program with /menu, uninstaller)
    // and the desktop shortcut made by the support DLL.
    const std::wstring menu = SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + kProductName + L"\\";
    Shortcut s = ReadShortcut(menu + kProductName + L".lnk");
    ASSERT_TRUE(s.loaded);
    EXPECT_EQ(s.target, exe);
    EXPECT_EQ(s.arguments, L"/menu");
    EXPECT_EQ(s.workingDir, dir);
    s = ReadShortcut(menu + L"卸载" + kProductName + L".lnk");
    ASSERT_TRUE(s.loaded);
    EXPECT_EQ(s.target, dir + L"\\ContosoUninst.exe");
    EXPECT_EQ(s.arguments, L"");
    s = ReadShortcut(SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + kProductName + L".lnk");
    ASSERT_TRUE(s.loaded);
    EXPECT_EQ(s.target, exe);

    // The search service runs from the install folder.
    const ServiceInfo svc = QueryService(kServiceName);
    ASSERT_TRUE(svc.exists);
    EXPECT_EQ(svc.binaryPath, Quote(dir + L"\\ContosoSearchSvc.exe"));
    EXPECT_EQ(svc.state, static_cast<DWORD>(SERVICE_RUNNING));

    // The shell extensions registered themselves (regsvr32 runs on its own).
    const std::wstring server = std::wstring(L"Software\\Classes\\CLSID\\") + kShellClsid + L"\\InprocServer32";
    EXPECT_TRUE(testutil::WaitUntil(
        [&] {
            return ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, server, L"").Text() ==
                       dir + L"\\ContosoShellExt64.dll" &&
                   ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, server, L"").Text() == dir + L"\\shell\\ContosoShell.dll";
        },
        60000));

    // The support DLL imported the publisher certificate.
    EXPECT_TRUE(PublisherCertificate(false));

    // The statistics DLL of the install folder was called in this order ...
    const std::vector<std::string> journal = {
        "stat_unionid(31007)",
        "stat_appid(123)",
        "stat_level(2)",
        "stat_version_ex(1, 0, 3, 0)",
        "stat_install_addr(\"127.0.0.1\", 8100)",
        "stat_init() = 1",
        "stat_install(1) = 1",
        "stat_http_post(\"http://127.0.0.1:8100/stat/install\", null, 0, 1) = 1",
        "stat_close(50)",
    };
    EXPECT_EQ(ReadLines(dir + L"\\qmstat_journal.log"), journal);
    // ... and its report reached the statistics gateway.
    const auto reports = NewRequests("/stat/install");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].validJson) << reports[0].body;
    for (const char* field : {"\"event\":\"install\"", "\"install_type\":1", "\"appid\":123", "\"unionid\":31007",
                              "\"version\":\"1.0.3.0\"", "\"server\":\"127.0.0.1:8100\""})
        EXPECT_NE(reports[0].body.find(field), std::string::npos) << field;

    // Not started: InstallSlience alone does not ask for it.
    EXPECT_TRUE(LaunchRecords("ContosoTranslator.exe").empty());

    // The log: the script's steps and the firewall commands.
    const auto log = Log();
    const std::string program = Ansi(exe);
    for (const std::string& line :
         {std::string("log:script_version:1.0.11.18"), std::string("log:InstallPath:") + Ansi(dir),
          std::string("log:ImportCert OK"), std::string("log:QVRSE_OnInstall_8"), std::string("log:add_firewall_rule"),
          std::string("log:netsh advfirewall firewall delete rule name=\"ContosoTranslator\""),
          "log:netsh advfirewall firewall add rule name=\"ContosoTranslator\" dir=in program=\"" + program +
              "\" action=allow",
          "log:netsh advfirewall firewall add rule name=\"ContosoTranslator\" dir=out program=\"" + program +
              "\" action=allow",
          std::string("log:add_firewall_rule end"), std::string("log:start install report info"),
          std::string("log:http://127.0.0.1:8100/stat/install")})
        EXPECT_TRUE(Contains(log, line)) << line;
    EXPECT_FALSE(Contains(log, Ansi(L"创建文件出错"))) << "nothing stood in the way of the payload";
    EXPECT_FALSE(Contains(log, "cover install!!!"));
}

// ------------------------------------------------------------------------
TEST_F(ContosoInstall, SwitchesAndFileNameMarkers) {
    enum class Start { No, Plain, Tray };
    struct Case {
        const char* what;
        const wchar_t* installer;
        const wchar_t* runAs;  // file name of the copy that runs, or null
        const wchar_t* args;
        bool installs;
        const wchar_t* dir;  // null: the default folder
        Start start;
        DWORD unionId;
        bool desktop, startMenu;
    };
    const Case cases[] = {
        {"/s", kSetup, nullptr, L"/s", true, nullptr, Start::Plain, 31007, true, true},
        {"@stt", kSetup, L"ContosoTranslatorSetup@stt.exe", L"", true, nullptr, Start::No, 31007, true, true},
        {"/sUpdate", kSetup, nullptr, L"/sUpdate", true, nullptr, Start::Tray, 31007, true, true},
        {"/ForceUpdate", kSetup, nullptr, L"/InstallSlience true /ForceUpdate", true, nullptr, Start::Plain, 31007,
         true, true},
        // The installer's own switches run to the next '/': -uid= goes first.
        {"-uid=", kSetup, nullptr, L"-uid=31055 /InstallSlience true", true, nullptr, Start::No, 31055, true, true},
        {"/path:", kSetup, nullptr, L"/InstallSlience true /path:D:\\Tools\\App", true, kOtherDrive, Start::No, 31007,
         true, true},
        // Launchers quote a value with spaces around the value or around the
        // whole argument: the same silent install into the same folder.
        {"/path:\"...\"", kSetup, nullptr,
         L"/InstallSlience true /path:\"D:\\Program Files (x86)\\Contoso 翻译 A B\"", true, kQuotedDir, Start::No,
         31007, true, true},
        {"\"/path:...\"", kSetup, nullptr,
         L"/InstallSlience true \"/path:D:\\Program Files (x86)\\Contoso 翻译 A B\"", true, kQuotedDir, Start::No,
         31007, true, true},
        {"@dto@smc", kSetup, L"ContosoTranslatorSetup@stt@dto@smc.exe", L"", true, nullptr, Start::No, 31007, true,
         false},
        {"@dtc@smo", kSetup, L"ContosoTranslatorSetup@stt@dtc@smo.exe", L"", true, nullptr, Start::No, 31007, false,
         true},
        {"/s, silence disabled", kSetupNoSS, nullptr, L"/s", false, nullptr, Start::No, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        MarkRequestsSeen();
        const std::wstring dir = c.dir ? c.dir : DefaultInstallDir();
        const std::wstring exe = c.runAs ? InstallerNamed(c.installer, c.runAs) : Installer(c.installer);
        ASSERT_FALSE(exe.empty());

        if (!c.installs) {
            // Not silent: the installer goes its interactive way. Its window,
            // when this build has one, is closed without installing.
            testutil::Child child;
            ASSERT_TRUE(child.Start(Quote(exe) + L" " + c.args, RunEnv()));
            HWND window = nullptr;
            if (!child.Wait(20000) && WaitForTopWindowOfClass(L"CDlgInstall", child.Pid(), 60000, &window))
                child.Kill();
            ASSERT_TRUE(child.Wait(30000));
            EXPECT_FALSE(testutil::FileExists(dir + L"\\ContosoTranslator.exe"));
            EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey, L"AppPath").found);
            EXPECT_TRUE(NewRequests("/stat/install").empty());
            continue;
        }

        ASSERT_EQ(RunInstaller(exe, c.args), 0u);
        EXPECT_TRUE(testutil::FileExists(dir + L"\\ContosoTranslator.exe"));
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey, L"AppPath").Text(), dir);
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kUninstallKey, L"InstallLocation").Text(), dir);
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey, L"UnionId").Dword(), c.unionId);
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"UnionId").Dword(), c.unionId);
        if (!c.dir) { EXPECT_FALSE(testutil::FileExists(kOtherDrive)); }
        if (c.dir) {
            EXPECT_FALSE(testutil::FileExists(DefaultInstallDir())) << "the given folder is used as it is";
        }

        const auto reports = NewRequests("/stat/install");
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].body.find("\"unionid\":" + std::to_string(c.unionId)), std::string::npos)
            << reports[0].body;

        EXPECT_EQ(testutil::FileExists(SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + kProductName + L".lnk"),
                  c.desktop);
        EXPECT_EQ(testutil::FileExists(SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + kProductName), c.startMenu);
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"StartMenuShortcutChk").Dword(), c.startMenu ? 1u : 0u);

        const bool tray = ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"RunToTray").found;
        EXPECT_EQ(tray, c.start == Start::Tray);
        if (c.start == Start::No) {
            testutil::PumpFor(2000);
            EXPECT_TRUE(LaunchRecords("ContosoTranslator.exe").empty());
        } else {
            ASSERT_TRUE(WaitForLaunch("ContosoTranslator.exe", 1));
            const auto launches = LaunchRecords("ContosoTranslator.exe");
            EXPECT_EQ(launches.size(), 1u);
            // Started without arguments, to the tray when RunToTray asks for it.
            EXPECT_NE(launches[0].find(c.start == Start::Tray ? "\ttray=1\t" : "\ttray=0\t"), std::string::npos)
                << launches[0];
            EXPECT_EQ(launches[0].find("/auto"), std::string::npos) << launches[0];
            EXPECT_EQ(launches[0].find("/menu"), std::string::npos) << launches[0];
        }
    }
}

// ------------------------------------------------------------------------
TEST_F(ContosoInstall, OverAnExistingInstallationKeepsItsIdsAndEndsItsPrograms) {
    const std::wstring setup = Installer(kSetup);
    const std::wstring dir = DefaultInstallDir();
    ASSERT_EQ(RunInstaller(setup, L"-uid=31055 /InstallSlience true"), 0u);
    ASSERT_EQ(ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"MerchantID").Text(), L"20240317");
    DeleteValue(HKEY_CURRENT_USER, 0, kProductKey, L"MerchantID");

    // The product runs: the main program, its helpers and its update checker.
    testutil::Child main, helper, helper64, updater;
    ASSERT_TRUE(main.Start(Quote(dir + L"\\ContosoTranslator.exe")));
    ASSERT_TRUE(helper.Start(Quote(dir + L"\\ContosoHelper.exe")));
    ASSERT_TRUE(helper64.Start(Quote(dir + L"\\ContosoHelper64.exe")));
    ASSERT_TRUE(updater.Start(Quote(dir + L"\\Tools\\Updater\\ContosoUpdater.exe")));
    ASSERT_TRUE(WaitForTopWindowOfClass(L"ContosoTranslatorMainWnd", main.Pid(), 30000, nullptr));
    ASSERT_TRUE(WaitForLaunch("ContosoHelper.exe", 1));
    ASSERT_TRUE(WaitForLaunch("ContosoHelper64.exe", 1));
    ASSERT_TRUE(WaitForLaunch("ContosoUpdater.exe", 1));
    // And a file of the payload is held by a running program.
    Lock(dir + L"\\qmnet.dll");
    MarkRequestsSeen();

    ASSERT_EQ(RunInstaller(setup, L"-uid=31066 /InstallSlience true"), 0u);

    // The programs were ended before their files were replaced.
    EXPECT_FALSE(main.Running());
    EXPECT_FALSE(helper.Running());
    EXPECT_FALSE(helper64.Running());
    EXPECT_FALSE(updater.Running());
    EXPECT_EQ(updater.ExitCode(), 10000u) << "ended by the install manager's Tools clean-up";
    const auto log = Log();
    for (const wchar_t* name : {L"ContosoTranslator.exe  创建文件出错", L"ContosoHelper.exe  创建文件出错",
                                L"ContosoHelper64.exe  创建文件出错", L"ContosoUpdater.exe  创建文件出错"})
        EXPECT_FALSE(Contains(log, Ansi(name))) << U8(name);

    // An existing installation keeps its channel ids and merchant id.
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"MerchantID").found);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey, L"UnionId").Dword(), 31055u);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"UnionId").Dword(), 31055u);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"OEMUnionId").Dword(), 13000u);
    const auto journal = ReadLines(dir + L"\\qmstat_journal.log");
    ASSERT_FALSE(journal.empty());
    EXPECT_TRUE(Contains(journal, "stat_install(3) = 1"));
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "stat_unionid(31055)"), 2);
    EXPECT_TRUE(Contains(log, "log:cover install!!!"));
    const auto reports = NewRequests("/stat/install");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].body.find("\"install_type\":3"), std::string::npos) << reports[0].body;

    // The locked file was moved to the temporary folder, is deleted at the
    // next restart, and the new one is in place.
    EXPECT_TRUE(Contains(log, Ansi(dir + L"\\qmnet.dll  创建文件出错:32")));
    const auto moved = FilesMatching(tmp_ + L"\\JsZ*");
    ASSERT_EQ(moved.size(), 1u) << "the moved file, and no leftover placeholder";
    EXPECT_TRUE(PendingDeleteOf(moved[0])) << U8(moved[0]);
    const auto manifest = ReadManifest(ManifestFile());
    uint32_t crc = 0;
    uint64_t size = 0;
    ASSERT_TRUE(FileCrc32(moved[0], crc, size));
    EXPECT_EQ(crc, Find(manifest, L"qmnet.dll")->crc);
    ExpectPayloadIn(dir);
}

TEST_F(ContosoInstall, CoverUnionIdSettingOverwritesTheIds) {
    ASSERT_EQ(RunInstaller(Installer(kSetup), L"-uid=31055 /InstallSlience true"), 0u);
    MarkRequestsSeen();
    ASSERT_EQ(RunInstaller(Installer(kSetupCover), L"-uid=31066 /InstallSlience true"), 0u);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey, L"UnionId").Dword(), 31066u);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"UnionId").Dword(), 31066u);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, 0, kProductKey, L"OEMUnionId").Dword(), 13000u);
    const auto reports = NewRequests("/stat/install");
    ASSERT_EQ(reports.size(), 1u);
    // The report names the installation that was covered.
    EXPECT_NE(reports[0].body.find("\"install_type\":3"), std::string::npos) << reports[0].body;
    EXPECT_NE(reports[0].body.find("\"unionid\":31055"), std::string::npos) << reports[0].body;
}

TEST_F(ContosoInstall, LockedFileOnAnotherDriveGoesToDelRebootBesideTheFolder) {
    const std::wstring setup = Installer(kSetup);
    ASSERT_EQ(RunInstaller(setup, L"/InstallSlience true /path:D:\\Tools\\App"), 0u);
    Lock(std::wstring(kOtherDrive) + L"\\qmnet.dll");
    MarkRequestsSeen();
    ASSERT_EQ(RunInstaller(setup, L"/InstallSlience true /path:D:\\Tools\\App"), 0u);

    const auto moved = FilesMatching(L"D:\\Tools\\del_reboot\\JsZ*");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_TRUE(PendingDeleteOf(moved[0])) << U8(moved[0]);
    // The folder itself goes now if it can, else at the next restart.
    EXPECT_TRUE(PendingDeleteOf(L"D:\\Tools\\del_reboot"));
    EXPECT_TRUE(FilesMatching(tmp_ + L"\\JsZ*").empty());
    ExpectPayloadIn(kOtherDrive);
    EXPECT_EQ(NewRequests("/stat/install").size(), 1u);
}

TEST_F(ContosoInstall, CorruptPayloadStopsWithAMessageAndReportsNothing) {
    testutil::Child child;
    ASSERT_TRUE(child.Start(Quote(Installer(kSetupCorrupt)) + L" /InstallSlience true", RunEnv()));
    HWND box = testutil::WaitForTopWindow(kInstallerTitle, child.Pid(), 180000);
    ASSERT_TRUE(box) << "the installer's message box";
    EXPECT_NE(testutil::DialogText(box).find(L"释放文件时出现错误，安装程序将终止！"), std::wstring::npos)
        << U8(testutil::DialogText(box));
    ASSERT_TRUE(testutil::PressDialogButton(box, IDOK));
    ASSERT_TRUE(child.Wait(60000));
    EXPECT_EQ(child.ExitCode(), 4u) << "the payload failed";
    EXPECT_TRUE(NewRequests("/stat/install").empty());
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey, L"AppPath").found);
    EXPECT_FALSE(testutil::FileExists(DefaultInstallDir() + L"\\Uninst.dar1"));
}

TEST_F(ContosoInstall, CorruptPayloadUnattendedEndsByItselfWithItsExitCode) {
    testutil::Child child;
    ASSERT_TRUE(child.Start(Quote(Installer(kSetupCorrupt)) + L" /InstallSlience true /SuppressMsgBoxes", RunEnv()));
    ASSERT_TRUE(child.Wait(180000)) << "the run waits for somebody";
    EXPECT_EQ(child.ExitCode(), 4u);
    const auto log = Log();
    EXPECT_TRUE(Contains(log, Ansi(std::wstring(L"msgbox suppressed, answered 1: [") + kInstallerTitle +
                                   L"] 释放文件时出现错误，安装程序将终止！")));
    EXPECT_TRUE(Contains(log, "extraction to " + Ansi(DefaultInstallDir()) + " failed with code "));
    EXPECT_TRUE(Contains(log, "run failure recorded: payload failed (exit code 4)"));
    EXPECT_TRUE(NewRequests("/stat/install").empty());
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey, L"AppPath").found);
}

// A drive too small for the payload (3 MB, mapped for this test): the run
// ends by itself with the write-failure code, and every file it leaves is
// whole; the one it could not finish is gone.
TEST_F(ContosoInstall, FullDriveLeavesNoTruncatedFileAndEndsWithItsExitCode) {
    const std::wstring drive = contoso_test::Env(L"QVR_SMALL_DRIVE");
    if (drive.empty()) GTEST_SKIP() << "no small drive could be mounted on this machine";
    const std::wstring dir = drive + L"\\Contoso 翻译";
    testutil::Child child;
    ASSERT_TRUE(child.Start(Quote(Installer(kSetup)) + L" /InstallSlience true /SuppressMsgBoxes \"/path:" + dir + L"\"",
                            RunEnv()));
    ASSERT_TRUE(child.Wait(180000)) << "the run waits for somebody";
    EXPECT_EQ(child.ExitCode(), 6u) << "a file could not be written whole";

    // Whatever is on the drive is a whole file of the payload.
    const auto manifest = ReadManifest(ManifestFile());
    size_t whole = 0;
    for (const auto& e : manifest) {
        const std::wstring path = dir + L"\\" + e.path;
        if (!testutil::FileExists(path)) continue;
        uint32_t crc = 0;
        uint64_t size = 0;
        ASSERT_TRUE(FileCrc32(path, crc, size)) << U8(path);
        EXPECT_EQ(size, e.size) << U8(path) << " is truncated";
        EXPECT_EQ(crc, e.crc) << U8(path);
        ++whole;
    }
    EXPECT_GT(whole, 0u) << "the drive took some files";
    EXPECT_LT(whole, manifest.size()) << "the payload cannot fit";
    // And nothing else: no half-written file under another name either.
    for (const auto& f : FilesMatching(dir + L"\\*")) {
        if (::GetFileAttributesW(f.c_str()) & FILE_ATTRIBUTE_DIRECTORY) continue;
        EXPECT_TRUE(Find(manifest, f.substr(dir.size() + 1).c_str())) << U8(f) << " is no file of the payload";
    }

    const auto log = Log();
    EXPECT_TRUE(Contains(log, "failed with code 11"));
    EXPECT_TRUE(Contains(log, "run failure recorded: write failed (exit code 6)"));
    EXPECT_TRUE(Contains(log, Ansi(L"释放文件时出现错误，安装程序将终止！")));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey, L"AppPath").found);
    EXPECT_TRUE(NewRequests("/stat/install").empty());
    testutil::RemoveTree(dir);
}

// ------------------------------------------------------------------------
class ContosoUninstall : public ContosoInstall {
protected:
    // Runs the uninstaller of `dir` and waits for its copy in %TEMP% to finish.
    DWORD RunUninstaller(const std::wstring& dir, const std::wstring& args) {
        const DWORD code = testutil::Run(Quote(dir + L"\\ContosoUninst.exe") + L" " + args, RunEnv(), 60000);
        EXPECT_TRUE(WaitNoProcess(L"ContosoUninst.exe", 180000));
        return code;
    }
    std::vector<std::string> UninstallLog() const {
        return ReadLines(tmp_ + L"\\" + Today(L"Uninstall_%d-%02d-%02d.log"));
    }
};

TEST_F(ContosoUninstall, RemovesEverythingReportsAndSendsTheFeedback) {
    const std::wstring dir = DefaultInstallDir();
    ASSERT_EQ(RunInstaller(Installer(kSetup), L"/s"), 0u);
    ASSERT_TRUE(WaitForLaunch("ContosoTranslator.exe", 1)) << "the product runs";
    const std::wstring server = std::wstring(L"Software\\Classes\\CLSID\\") + kShellClsid;
    ASSERT_TRUE(testutil::WaitUntil([&] { return KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, server); }, 60000));
    ASSERT_TRUE(QueryService(kServiceName).exists);
    // A DLL of the install folder is held by a running program.
    Lock(dir + L"\\ContosoSupport.dll");
    MarkRequestsSeen();

    ASSERT_EQ(RunUninstaller(dir, L"/s /reason:2,5 \"/contact:im 12345/r/n\" \"/suggest:请 加上 \\\"离线\\\" 词典\\ 谢谢\""),
              0u);

    // Programs, service, files, keys and shortcuts are gone.
    EXPECT_TRUE(ProcessesNamed(L"ContosoTranslator.exe").empty());
    EXPECT_TRUE(testutil::WaitUntil([] { return !QueryService(kServiceName).exists; }, 30000));
    EXPECT_FALSE(testutil::FileExists(dir));
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, view, kProductKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, view, kUninstallKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, view, server)) << "shell extension unregistered";
    }
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, 0, kProductKey));
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, 0, kRunKey, L"ContosoTranslator").found);
    EXPECT_FALSE(testutil::FileExists(SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + kProductName));
    EXPECT_FALSE(testutil::FileExists(SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + kProductName + L".lnk"));
    EXPECT_TRUE(testutil::FileExists(LaunchLogPath())) << "the user's data stays without /clear";

    // The locked DLL was moved to the temporary folder and is deleted at the next restart.
    const auto moved = FilesMatching(tmp_ + L"\\JsZ*");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_TRUE(PendingDeleteOf(moved[0])) << U8(moved[0]);

    // The uninstall report and the feedback, its texts squeezed and escaped.
    const auto reports = NewRequests("/stat/uninstall");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].validJson) << reports[0].body;
    for (const char* field : {"\"event\":\"uninstall\"", "\"install_type\":2", "\"unionid\":31007", "\"appid\":123"})
        EXPECT_NE(reports[0].body.find(field), std::string::npos) << field << " in " << reports[0].body;
    const auto feedback = NewRequests("/stat/uninstall_reason");
    ASSERT_EQ(feedback.size(), 1u);
    EXPECT_TRUE(feedback[0].validJson) << feedback[0].body;
    EXPECT_EQ(feedback[0].body,
              u8"{\"come_from\":32772, \"content_ids\":\"2,5\", \"uninstsuggest\":\"请加上\\\"离线\\\"词典\\\\谢谢\","
              u8"\"contact\":\"im12345\"}");

    // The uninstaller's copy worked in its own folder under %TEMP%: the
    // statistics journal is there, and the folder goes at the next restart.
    const auto work = FilesMatching(tmp_ + L"\\ContosoUninst_*");
    ASSERT_EQ(work.size(), 1u);
    EXPECT_TRUE(PendingDeleteOf(work[0]));
    const auto journal = ReadLines(work[0] + L"\\qmstat_journal.log");
    const std::string body = feedback[0].body;
    const std::vector<std::string> expected = {
        "stat_init() = 1",
        "stat_level(2)",
        "stat_unionid(31007)",
        "stat_appid(123)",
        "stat_install_addr(\"127.0.0.1\", 8100)",
        "stat_version_ex(1, 0, 3, 0)",
        "stat_install(2) = 1",
        "stat_http_post(\"http://127.0.0.1:8100/stat/uninstall\", null, 0, 1) = 1",
        "stat_install(2) = 1",
    };
    ASSERT_GE(journal.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<std::string>(journal.begin(), journal.begin() + expected.size()), expected);
    EXPECT_EQ(journal[expected.size()].rfind("stat_http_post(\"http://127.0.0.1:8100/stat/uninstall_reason\", ", 0), 0u)
        << journal[expected.size()];
    EXPECT_EQ(journal.back(), "stat_close(50)");

    const auto log = UninstallLog();
    for (const char* line : {"log:script_version:1.0.2.55", "log:global_union_id:31007", "log:-----QVRSE_FeedBack----",
                             "log:report reasonhttp://127.0.0.1:8100/stat/uninstall_reason", "log:-----install----",
                             "delete file failed:5"})
        EXPECT_TRUE(Contains(log, line)) << line;
}

TEST_F(ContosoUninstall, FromAnotherDriveMovesLockedFilesBesideTheFolderAndClearsUserData) {
    ASSERT_EQ(RunInstaller(Installer(kSetup), L"/InstallSlience true /path:D:\\Tools\\App"), 0u);
    Lock(std::wstring(kOtherDrive) + L"\\qmnet.dll");
    MarkRequestsSeen();
    ASSERT_TRUE(testutil::WriteFileBytes(LaunchLogPath(), "user data\r\n"));

    ASSERT_EQ(RunUninstaller(kOtherDrive, L"/s /clear"), 0u);

    EXPECT_FALSE(testutil::FileExists(std::wstring(kOtherDrive) + L"\\ContosoTranslator.exe"));
    const auto moved = FilesMatching(L"D:\\Tools\\del_reboot\\JsZ*");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_TRUE(PendingDeleteOf(moved[0])) << U8(moved[0]);
    EXPECT_TRUE(PendingDeleteOf(L"D:\\Tools\\del_reboot"));
    EXPECT_FALSE(testutil::FileExists(LaunchLogPath())) << "/clear removes the user's data";
    EXPECT_EQ(NewRequests("/stat/uninstall").size(), 1u);
    EXPECT_TRUE(NewRequests("/stat/uninstall_reason").empty()) << "no feedback given";
}

}  // namespace
