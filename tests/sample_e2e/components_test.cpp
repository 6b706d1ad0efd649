// The programs and DLLs of the sample product on their own, run under Wine:
// the statistics DLL (exports, journal, HTTP reports to the test server), the
// support DLL, the shell extensions through regsvr32, the search service, the
// main program and the helpers.
#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "tests/sample_e2e/contoso_testutil.h"

using namespace contoso_test;

namespace {

std::wstring BinDir() {
    std::wstring dir = testutil::Utf8ToWide(CONTOSO_BIN_DIR);
    for (auto& c : dir)
        if (c == L'/') c = L'\\';
    return L"Z:" + dir;
}
using testutil::Quote;

std::vector<std::string> Journal(const std::wstring& dir) { return ReadLines(dir + L"\\qmstat_journal.log"); }

// ---------------------------------------------------------------- qmstat.dll
using InitFn = BOOL(__stdcall*)();
using AddrFn = void(__stdcall*)(const char*, int);
using IdFn = void(__stdcall*)(unsigned);
using IntFn = void(__stdcall*)(int);
using VersionExFn = void(__stdcall*)(unsigned, unsigned, unsigned, unsigned);
using VoidFn = void(__stdcall*)();
using MultiFn = void(__stdcall*)(const unsigned*, int, unsigned);
using InstallFn = int(__stdcall*)(int);
using AppInstallFn = void(__stdcall*)(const char*, int);
using PostFn = int(__stdcall*)(const char*, const char*, int, BOOL);

class StatisticsDll : public testing::Test {
protected:
    void SetUp() override {
        dir_ = testutil::MakeTempDir(L"qmstat");
        ASSERT_FALSE(dir_.empty());
        ASSERT_TRUE(CopyTo(BinDir() + L"\\qmstat.dll", dir_ + L"\\qmstat.dll"));
        ASSERT_TRUE(CopyTo(BinDir() + L"\\qmnet.dll", dir_ + L"\\qmnet.dll"));
        seen_ = Requests().size();
    }
    void TearDown() override {
        if (dll_) ::FreeLibrary(dll_);
        testutil::RemoveTree(dir_);
    }
    void Load() {
        dll_ = ::LoadLibraryW((dir_ + L"\\qmstat.dll").c_str());
        ASSERT_TRUE(dll_);
    }
    template <typename F>
    F Get(const char* name) {
        return reinterpret_cast<F>(::GetProcAddress(dll_, name));
    }
    std::vector<Request> NewRequests() {
        auto all = Requests();
        return std::vector<Request>(all.begin() + std::min(seen_, all.size()), all.end());
    }

    std::wstring dir_;
    HMODULE dll_ = nullptr;
    size_t seen_ = 0;
};

TEST_F(StatisticsDll, OffersAllTwentyExportsByTheirPlainNames) {
    Load();
    for (const char* name :
         {"stat_init", "stat_proxy", "stat_dispatch_addr", "stat_online_addr", "stat_action_addr", "stat_install_addr",
          "stat_loginout_addr", "stat_unionid", "stat_appid", "stat_level", "stat_version", "stat_version_ex",
          "stat_online", "stat_offline", "stat_action", "stat_mutilaction", "stat_install", "stat_close",
          "stat_app_install", "stat_http_post"})
        EXPECT_TRUE(::GetProcAddress(dll_, name)) << name;
}

TEST_F(StatisticsDll, JournalsEveryCallAndPostsTheReport) {
    Load();
    Get<IdFn>("stat_unionid")(70000);  // 16 bits: 4464
    Get<IdFn>("stat_appid")(300);      // 8 bits: 44
    Get<IntFn>("stat_level")(2);
    Get<VersionExFn>("stat_version_ex")(1, 0, 3, 0);
    Get<AddrFn>("stat_install_addr")("127.0.0.1", 8100);
    ASSERT_TRUE(Get<InitFn>("stat_init")());
    EXPECT_EQ(Get<InstallFn>("stat_install")(3), 1);
    EXPECT_EQ(Get<PostFn>("stat_http_post")("http://127.0.0.1:8100/stat/component", nullptr, 0, TRUE), 1);
    const unsigned actions[] = {25103};
    Get<MultiFn>("stat_mutilaction")(actions, 1, 0);
    Get<AddrFn>("stat_dispatch_addr")("127.0.0.1", 8700);
    Get<VoidFn>("stat_online")();
    Get<VoidFn>("stat_offline")();
    Get<IntFn>("stat_close")(50);

    const std::vector<std::string> expected = {
        "stat_unionid(4464)",
        "stat_appid(44)",
        "stat_level(2)",
        "stat_version_ex(1, 0, 3, 0)",
        "stat_install_addr(\"127.0.0.1\", 8100)",
        "stat_init() = 1",
        "stat_install(3) = 1",
        "stat_http_post(\"http://127.0.0.1:8100/stat/component\", null, 0, 1) = 1",
        "stat_mutilaction([25103], 1, 0)",
        "stat_dispatch_addr(\"127.0.0.1\", 8700)",
        "stat_online()",
        "stat_offline()",
        "stat_close(50)",
    };
    EXPECT_EQ(Journal(dir_), expected);

    const auto got = NewRequests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].path, "/stat/component");
    EXPECT_TRUE(got[0].validJson) << got[0].body;
    for (const char* field : {"\"event\":\"cover_install\"", "\"install_type\":3", "\"appid\":44", "\"unionid\":4464",
                              "\"level\":2", "\"version\":\"1.0.3.0\"", "\"server\":\"127.0.0.1:8100\""})
        EXPECT_NE(got[0].body.find(field), std::string::npos) << field << " in " << got[0].body;

    // After stat_close and the unload both DLLs can be deleted (the
    // uninstaller deletes its copies this way).
    ::FreeLibrary(dll_);
    dll_ = nullptr;
    EXPECT_TRUE(::DeleteFileW((dir_ + L"\\qmnet.dll").c_str()));
    EXPECT_TRUE(::DeleteFileW((dir_ + L"\\qmstat.dll").c_str()));
}

TEST_F(StatisticsDll, PostsAGivenBodyUnchangedAlsoWithoutWaiting) {
    Load();
    ASSERT_TRUE(Get<InitFn>("stat_init")());
    const std::string body = u8"{\"contact\":\"a\\\"b\\\\c\",\"text\":\"翻译\"}";
    EXPECT_EQ(Get<PostFn>("stat_http_post")("http://127.0.0.1:8100/stat/async", body.c_str(),
                                            static_cast<int>(body.size()), FALSE),
              1);
    Get<IntFn>("stat_close")(10000);  // waits for the post
    const auto got = NewRequests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].path, "/stat/async");
    EXPECT_EQ(got[0].body, body);
    EXPECT_TRUE(got[0].validJson);
}

TEST_F(StatisticsDll, WithoutItsNetworkDllInitFailsAndNothingIsSent) {
    ASSERT_TRUE(::DeleteFileW((dir_ + L"\\qmnet.dll").c_str()));
    Load();
    EXPECT_FALSE(Get<InitFn>("stat_init")());
    EXPECT_EQ(Get<PostFn>("stat_http_post")("http://127.0.0.1:8100/stat/none", nullptr, 0, TRUE), 0);
    EXPECT_EQ(Journal(dir_), (std::vector<std::string>{
                                 "stat_init() = 0", "stat_http_post(\"http://127.0.0.1:8100/stat/none\", null, 0, 1) = 0"}));
    EXPECT_TRUE(NewRequests().empty());
}

TEST_F(StatisticsDll, ANetworkDllWithoutItsExportIsLetGo) {
    // Any DLL without qmnet_post_json stands in for a damaged qmnet.dll.
    const std::wstring net = dir_ + L"\\qmnet.dll";
    ASSERT_TRUE(CopyTo(BinDir() + L"\\ContosoSupport.dll", net));
    Load();
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(Get<InitFn>("stat_init")());
    Get<IntFn>("stat_close")(0);
    ::FreeLibrary(dll_);
    dll_ = nullptr;
    EXPECT_EQ(::GetModuleHandleW(net.c_str()), nullptr) << "qmnet.dll is still loaded";
    EXPECT_TRUE(::DeleteFileW(net.c_str()));
}

TEST_F(StatisticsDll, TheJournalShowsExactlyTheGivenBodyLength) {
    ASSERT_TRUE(::DeleteFileW((dir_ + L"\\qmnet.dll").c_str()));  // nothing is sent
    Load();
    EXPECT_FALSE(Get<InitFn>("stat_init")());
    // Only the first two bytes are the body; the rest must not be read.
    EXPECT_EQ(Get<PostFn>("stat_http_post")("http://127.0.0.1:8100/stat/none", "{}XYZ", 2, TRUE), 0);
    EXPECT_EQ(Journal(dir_), (std::vector<std::string>{
                                 "stat_init() = 0",
                                 "stat_http_post(\"http://127.0.0.1:8100/stat/none\", \"{}\", 2, 1) = 0"}));
}

TEST_F(StatisticsDll, AServerThatDoesNotAnswerGivesZero) {
    Load();
    ASSERT_TRUE(Get<InitFn>("stat_init")());
    EXPECT_EQ(Get<PostFn>("stat_http_post")("http://127.0.0.1:1/stat/closed", nullptr, 0, TRUE), 0);
    Get<IntFn>("stat_close")(0);
}

// ------------------------------------------------------------ support DLL
class SupportDll : public testing::Test {
protected:
    void SetUp() override {
        dll_ = ::LoadLibraryW((BinDir() + L"\\ContosoSupport.dll").c_str());
        ASSERT_TRUE(dll_);
        dir_ = testutil::MakeTempDir(L"support");
    }
    void TearDown() override {
        if (dll_) ::FreeLibrary(dll_);
        testutil::RemoveTree(dir_);
    }
    HMODULE dll_ = nullptr;
    std::wstring dir_;
};

TEST_F(SupportDll, IsOSWin7AnswersForTheRealVersion) {
    auto isWin7 = reinterpret_cast<BOOL(__stdcall*)()>(::GetProcAddress(dll_, "IsOSWin7"));
    ASSERT_TRUE(isWin7);
    OSVERSIONINFOW info = {sizeof info};
    auto rtl = reinterpret_cast<LONG(WINAPI*)(OSVERSIONINFOW*)>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
    ASSERT_TRUE(rtl);
    ASSERT_EQ(rtl(&info), 0);
    EXPECT_EQ(isWin7() != FALSE, info.dwMajorVersion == 6 && info.dwMinorVersion == 1);
}

TEST_F(SupportDll, ImportCertificateTrustsThePublisherAndRejectsOtherFiles) {
    auto import = reinterpret_cast<BOOL(__stdcall*)(const wchar_t*)>(::GetProcAddress(dll_, "ImportCertificate"));
    ASSERT_TRUE(import);
    const std::wstring cer = dir_ + L"\\ContosoRoot.cer";
    ASSERT_TRUE(CopyTo(testutil::Utf8ToWide(CONTOSO_SOURCE_DIR) + L"\\data\\ContosoRoot.cer", cer));
    EXPECT_FALSE(import((dir_ + L"\\missing.cer").c_str()));
    const std::wstring text = dir_ + L"\\licence.txt";
    ASSERT_TRUE(testutil::WriteFileBytes(text, "not a certificate"));
    EXPECT_FALSE(import(text.c_str()));
    EXPECT_FALSE(import(L""));
    ASSERT_TRUE(import(cer.c_str()));

    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                       CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, L"TrustedPublisher");
    ASSERT_TRUE(store);
    BYTE sha1[20] = {0xD1, 0x64, 0xD0, 0x7E, 0xF9, 0x1C, 0x44, 0x8F, 0xDC, 0xD7,
                     0x48, 0x57, 0xA5, 0x88, 0xFA, 0x3D, 0x2F, 0xE2, 0xEC, 0xDF};
    CRYPT_HASH_BLOB blob = {sizeof sha1, sha1};
    PCCERT_CONTEXT found =
        ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    EXPECT_TRUE(found);
    if (found) ::CertFreeCertificateContext(found);
    ::CertCloseStore(store, 0);
}

TEST_F(SupportDll, AllowAccountPrivilegeAnswersForTheFolder) {
    auto allow = reinterpret_cast<BOOL(__stdcall*)(const wchar_t*)>(::GetProcAddress(dll_, "AllowAccountPrivilege"));
    ASSERT_TRUE(allow);
    EXPECT_FALSE(allow(L""));
    EXPECT_FALSE(allow((dir_ + L"\\missing").c_str()));
    // Wine keeps no access list on files (it maps one to Unix permissions), so
    // the grant itself cannot be read back here; the call must succeed.
    EXPECT_TRUE(allow(dir_.c_str()));
}

TEST_F(SupportDll, CreateDesktopShortcutPointsAtTheTarget) {
    auto create = reinterpret_cast<void(__stdcall*)(const wchar_t*, const wchar_t*, const wchar_t*)>(
        ::GetProcAddress(dll_, "CreateDesktopShortcut"));
    ASSERT_TRUE(create);
    const std::wstring target = BinDir() + L"\\ContosoTranslator.exe";
    const std::wstring name = L"Contoso 翻译 组件测试";
    const std::wstring lnk = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + name + L".lnk";
    ::DeleteFileW(lnk.c_str());
    create(target.c_str(), L"ContosoTranslatorMainWnd", name.c_str());
    const Shortcut s = ReadShortcut(lnk);
    ::DeleteFileW(lnk.c_str());
    ASSERT_TRUE(s.loaded);
    EXPECT_EQ(_wcsicmp(s.target.c_str(), target.c_str()), 0) << testutil::WideToUtf8(s.target);
    EXPECT_EQ(_wcsicmp(s.workingDir.c_str(), BinDir().c_str()), 0) << testutil::WideToUtf8(s.workingDir);
}

// ------------------------------------------------------- shell extensions
TEST(ShellExtension, RegistersAndUnregistersThroughRegsvr32InItsOwnView) {
    const std::wstring dir = testutil::MakeTempDir(L"shellext");
    struct Case {
        const wchar_t* dll;
        REGSAM view;
    };
    const std::wstring classKey = std::wstring(L"Software\\Classes\\CLSID\\") + kShellClsid;
    const std::wstring approved = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
    for (const Case& c : {Case{L"ContosoShellExt64.dll", KEY_WOW64_64KEY}, Case{L"ContosoShellExt.dll", KEY_WOW64_32KEY}}) {
        SCOPED_TRACE(testutil::WideToUtf8(c.dll));
        const std::wstring path = dir + L"\\" + c.dll;
        ASSERT_TRUE(CopyTo(BinDir() + L"\\" + c.dll, path));
        DeleteKeyTree(HKEY_LOCAL_MACHINE, c.view, classKey);
        EXPECT_EQ(testutil::Run(L"regsvr32 /i /s " + Quote(path), {}, 60000), 0u);
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, c.view, classKey + L"\\InprocServer32", L"").Text(), path);
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, c.view, classKey + L"\\InprocServer32", L"ThreadingModel").Text(),
                  L"Apartment");
        EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, c.view, approved, kShellClsid).found);

        EXPECT_EQ(testutil::Run(L"regsvr32 /u /s " + Quote(path), {}, 60000), 0u);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, c.view, classKey));
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, c.view, approved, kShellClsid).found);
    }
    testutil::RemoveTree(dir);
}

// ---------------------------------------------------------- search service
TEST(SearchService, InstallsRunsAndUninstalls) {
    StopAndDeleteService(kServiceName);
    const std::wstring dir = testutil::MakeTempDir(L"service");
    const std::wstring exe = dir + L"\\ContosoSearchSvc.exe";
    ASSERT_TRUE(CopyTo(BinDir() + L"\\ContosoSearchSvc.exe", exe));

    ASSERT_EQ(testutil::Run(Quote(exe) + L" --install", {}, 60000), 0u);
    ServiceInfo s = QueryService(kServiceName);
    ASSERT_TRUE(s.exists);
    EXPECT_EQ(s.state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(s.binaryPath, Quote(exe));
    EXPECT_NE(s.pid, 0u);

    // Again over the running service: it is restarted from the same file.
    ASSERT_EQ(testutil::Run(Quote(exe) + L" --install", {}, 60000), 0u);
    EXPECT_EQ(QueryService(kServiceName).state, static_cast<DWORD>(SERVICE_RUNNING));

    EXPECT_EQ(testutil::Run(Quote(exe) + L" --uninstall", {}, 60000), 0u);
    EXPECT_FALSE(QueryService(kServiceName).exists);
    EXPECT_TRUE(WaitNoProcess(L"ContosoSearchSvc.exe", 15000));
    testutil::RemoveTree(dir);
}

// ---------------------------------------------------- main program, helpers
class ProductPrograms : public testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* exe : {L"ContosoTranslator.exe", L"ContosoHelper.exe", L"ContosoHelper64.exe"})
            KillProcessesNamed(exe);
        ::DeleteFileW(LaunchLogPath().c_str());
        DeleteValue(HKEY_CURRENT_USER, 0, kProductKey, L"RunToTray");
    }
    void TearDown() override {
        for (const wchar_t* exe : {L"ContosoTranslator.exe", L"ContosoHelper.exe", L"ContosoHelper64.exe"})
            KillProcessesNamed(exe);
    }
};

TEST_F(ProductPrograms, MainProgramRecordsItsStartsAndKeepsOneWindow) {
    const std::wstring exe = BinDir() + L"\\ContosoTranslator.exe";
    testutil::Child first;
    ASSERT_TRUE(first.Start(Quote(exe) + L" \"#/translate?tab=dict\""));
    HWND window = nullptr;
    ASSERT_TRUE(WaitForTopWindowOfClass(L"ContosoTranslatorMainWnd", first.Pid(), 30000, &window));

    // A second start hands its arguments over and ends.
    testutil::Child second;
    ASSERT_TRUE(second.Start(Quote(exe) + L" /menu"));
    ASSERT_TRUE(second.Wait(30000));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_TRUE(first.Running());

    const auto records = LaunchRecords("ContosoTranslator.exe");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], "ContosoTranslator.exe\tpid=" + std::to_string(first.Pid()) + "\ttray=0\tcmd=" +
                              testutil::WideToUtf8(Quote(exe) + L" \"#/translate?tab=dict\""));
    EXPECT_EQ(records[1], "ContosoTranslator.exe\tpid=" + std::to_string(second.Pid()) + "\ttray=0\tcmd=" +
                              testutil::WideToUtf8(Quote(exe) + L" /menu"));

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(first.Wait(30000));
    EXPECT_EQ(first.ExitCode(), 0u);
}

TEST_F(ProductPrograms, StartToTrayWithAutoOrThePreference) {
    const std::wstring exe = BinDir() + L"\\ContosoTranslator.exe";
    struct Case {
        const wchar_t* args;
        bool preference;
    };
    for (const Case& c : {Case{L" /auto", false}, Case{L"", true}}) {
        ::DeleteFileW(LaunchLogPath().c_str());
        if (c.preference) {
            nq::unique_hkey key;
            ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kProductKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                        key.put(), nullptr),
                      ERROR_SUCCESS);
            const DWORD one = 1;
            ::RegSetValueExW(key.get(), L"RunToTray", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
        }
        testutil::Child child;
        ASSERT_TRUE(child.Start(Quote(exe) + c.args));
        ASSERT_TRUE(WaitForTopWindowOfClass(L"ContosoTranslatorMainWnd", child.Pid(), 30000, nullptr));
        const auto records = LaunchRecords("ContosoTranslator.exe");
        ASSERT_EQ(records.size(), 1u);
        EXPECT_NE(records[0].find("\ttray=1\t"), std::string::npos) << records[0];
        child.Kill();
        DeleteValue(HKEY_CURRENT_USER, 0, kProductKey, L"RunToTray");
    }
}

TEST_F(ProductPrograms, HelpersOfBothBitnessesRunUntilAskedToClose) {
    struct Case {
        const wchar_t* exe;
        const char* bits;
    };
    for (const Case& c : {Case{L"ContosoHelper.exe", "bits=32"}, Case{L"ContosoHelper64.exe", "bits=64"}}) {
        SCOPED_TRACE(testutil::WideToUtf8(c.exe));
        testutil::Child child;
        ASSERT_TRUE(child.Start(Quote(BinDir() + L"\\" + c.exe)));
        HWND window = nullptr;
        ASSERT_TRUE(WaitForTopWindowOfClass(std::wstring(L"Contoso.") + c.exe, 0, 30000, &window));
        const auto records = LaunchRecords(testutil::WideToUtf8(c.exe));
        ASSERT_EQ(records.size(), 1u);
        EXPECT_NE(records[0].find(std::string("\t") + c.bits + "\t"), std::string::npos) << records[0];
        EXPECT_TRUE(child.Running());
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        ASSERT_TRUE(child.Wait(30000));
        EXPECT_EQ(child.ExitCode(), 0u);
    }
}

}  // namespace
