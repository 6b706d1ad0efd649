// The process, service and system script functions, run by scripts in the
// engine of this test program.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "tests/processes/helpertest.h"
#include "utility/qvrscriptengine/qvrapi_system.h"

namespace {

using testutil::Lit;
using testutil::Quote;
using testutil::WideToUtf8;

class ProcessApi : public testutil::HelperTest {
protected:
    std::wstring Upper(std::wstring s) {
        for (auto& c : s) c = static_cast<wchar_t>(towupper(c));
        return s;
    }
    // The numbers a script stored in the global table `name`.
    std::vector<DWORD> Ids(const char* name) {
        std::vector<DWORD> ids;
        lua_getglobal(L, name);
        for (int i = 1; lua_type(L, -1) == LUA_TTABLE; ++i) {
            lua_rawgeti(L, -1, i);
            const bool number = lua_type(L, -1) == LUA_TNUMBER;
            if (number) ids.push_back(static_cast<DWORD>(static_cast<long long>(lua_tonumber(L, -1))));
            lua_pop(L, 1);
            if (!number) break;
        }
        lua_pop(L, 1);
        return ids;
    }
};

TEST_F(ProcessApi, GetProcessIdAndKillAllTaskByName) {
    const std::wstring name = Unique(L"qvrtwin");
    const std::wstring helper = Helper(name);
    const std::wstring cls = L"QvrTwin_" + std::to_wstring(::GetCurrentProcessId());
    testutil::Child& a = StartWindow(helper, L"window", cls + L"a");
    testutil::Child& b = StartWindow(helper, L"window", cls + L"b");

    // Two copies: two numbers, whatever the case of the name.
    ASSERT_TRUE(Run("ids = {Lua_GetProcessId(" + Lit(Upper(name)) + ")}"));
    std::vector<DWORD> ids = Ids("ids");
    std::sort(ids.begin(), ids.end());
    std::vector<DWORD> expected = {a.Pid(), b.Pid()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ids, expected);

    // Only one of them is ended.
    ASSERT_TRUE(Run("killed = Lua_KillAllTaskByName(" + Lit(name) + ")"));
    EXPECT_EQ(Kind("killed"), "true");
    EXPECT_NE(a.Running(), b.Running());
    testutil::Child& left = a.Running() ? a : b;
    EXPECT_EQ((a.Running() ? b : a).ExitCode(), 42u) << "closed through its window";

    // The name is the last argument; an id may be given as a numeric string.
    ASSERT_TRUE(Run("ids = {Lua_GetProcessId('ignored', " + Lit(name) + ")}"));
    EXPECT_EQ(Ids("ids"), std::vector<DWORD>{left.Pid()});
    ASSERT_TRUE(Run("killed = Lua_KillAllTaskByName('" + std::to_string(left.Pid()) + "')"));
    EXPECT_EQ(Kind("killed"), "true");
    EXPECT_FALSE(left.Running());

    // None left: -1, and nothing to end is no failure.
    ASSERT_TRUE(Run("ids = {Lua_GetProcessId(" + Lit(name) + ")} killed = Lua_KillAllTaskByName(" + Lit(name) + ")"));
    EXPECT_EQ(Ids("ids"), std::vector<DWORD>{0xFFFFFFFFu}) << "-1 as a number";
    ASSERT_TRUE(Run("first = Lua_GetProcessId(" + Lit(name) + ")"));
    EXPECT_EQ(Number("first"), -1.0);
    EXPECT_EQ(Kind("killed"), "true");
    EXPECT_TRUE(Lines().empty()) << WideToUtf8(AllLines());
}

// The window step of Lua_TaskKill: a message to the first window of a class,
// whether or not the process is found.
TEST_F(ProcessApi, TaskKillWindowStep) {
    const std::string missing = Lit(L"qvr_no_such_program.exe");
    struct Case {
        const char* name;
        std::string args;   // after the window class
        bool running;       // the helper still runs afterwards
        DWORD exitCode;     // else its exit code
    };
    const Case cases[] = {
        {"custom message", ", 0x8001, 5, 7", false, 12},  // WM_APP+1 ends it with wParam + lParam
        {"nil message: the close command", ", nil, 5, 7", false, 42},  // WM_SYSCOMMAND / SC_CLOSE
        {"missing message: message 0", "", true, 0},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::wstring cls = L"QvrTaskKill_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(n++);
        testutil::Child& c = StartWindow(Helper(Unique(L"qvrtk")), L"window", cls);
        ASSERT_TRUE(Run("r = Lua_TaskKill(" + missing + ", " + Lit(cls) + k.args + ")"));
        EXPECT_EQ(Kind("r"), "true") << "no process of that name";
        if (k.running) {
            testutil::PumpFor(500);
            EXPECT_TRUE(c.Running());
        } else {
            EXPECT_TRUE(c.Wait(10000));
            EXPECT_EQ(c.ExitCode(), k.exitCode);
        }
    }

    // An explicit nil class: no window step at all.
    const std::wstring cls = L"QvrTaskKill_" + std::to_wstring(::GetCurrentProcessId()) + L"_nil";
    testutil::Child& c = StartWindow(Helper(Unique(L"qvrtk")), L"window", cls);
    ASSERT_TRUE(Run("r = Lua_TaskKill(" + missing + ", nil, 0x8001, 5, 7)"));
    EXPECT_EQ(Kind("r"), "true");
    testutil::PumpFor(500);
    EXPECT_TRUE(c.Running());
}

// With only a name the window step still runs with an empty class: no window
// is found and message 0 lands in this thread's queue; then the process ends.
TEST_F(ProcessApi, TaskKillWithOnlyAName) {
    MSG stale;
    while (::PeekMessageW(&stale, nullptr, 0, 0, PM_REMOVE)) {
    }
    const std::wstring name = Unique(L"qvronly");
    const std::wstring cls = L"QvrOnly_" + std::to_wstring(::GetCurrentProcessId());
    testutil::Child& c = StartWindow(Helper(name), L"window", cls);
    ASSERT_TRUE(Run("r = Lua_TaskKill(" + Lit(Upper(name)) + ")"));
    EXPECT_EQ(Kind("r"), "true");
    EXPECT_FALSE(c.Running());
    EXPECT_EQ(c.ExitCode(), 42u);
    MSG msg = {};
    ASSERT_TRUE(::PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, 0u);
    EXPECT_EQ(msg.hwnd, nullptr);
}

TEST_F(ProcessApi, GetImagePathByPid) {
    const std::wstring helper = Helper(Unique(L"qvrimage"));
    testutil::Child& c = Start(helper, L"sleep");
    ASSERT_TRUE(testutil::WaitUntil([&] { return c.Running(); }, 5000));
    ASSERT_TRUE(Run("p = Lua_GetImagePathByPid(" + std::to_string(c.Pid()) + ")"));
    EXPECT_EQ(_wcsicmp(Text("p").c_str(), testutil::LongPath(helper).c_str()), 0)
        << WideToUtf8(Text("p")) << " vs " << WideToUtf8(helper);

    // The test program itself (on another drive under Wine); the id is the last argument.
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(Run("p = Lua_GetImagePathByPid('x', " + std::to_string(::GetCurrentProcessId()) + ")"));
    EXPECT_EQ(_wcsicmp(Text("p").c_str(), testutil::LongPath(self).c_str()), 0) << WideToUtf8(Text("p"));

    // No such process: no result at all.
    ASSERT_TRUE(Run("n = select('#', Lua_GetImagePathByPid(0x7FFFFFF0)) p = Lua_GetImagePathByPid()"));
    EXPECT_EQ(Number("n"), 0.0);
    EXPECT_EQ(Kind("p"), "nil");
}

TEST_F(ProcessApi, SystemFacts) {
    ASSERT_TRUE(Run(
        "os_version = Lua_GetOSVersion() wow64 = Lua_IsWow64()\n"
        "own = Lua_GetModuleFileName() kernel = Lua_GetModuleFileName('kernel32.dll')\n"
        "unloaded = Lua_GetModuleFileName('qvr_not_loaded.dll')\n"
        "driver = Lua_GetDriverInstallPath()\n"));
    EXPECT_EQ(Number("os_version"), static_cast<double>(LOBYTE(LOWORD(::GetVersion()))));
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    EXPECT_EQ(Kind("wow64"), wow64 ? "true" : "false");

    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    EXPECT_EQ(Text("own"), path);
    EXPECT_EQ(Text("unloaded"), path) << "a module that is not loaded gives the program's own file";
    ::GetModuleFileNameW(::GetModuleHandleW(L"kernel32.dll"), path, MAX_PATH);
    EXPECT_EQ(Text("kernel"), path);

    // The Program Files folder, on the first later fixed drive that has it.
    const std::wstring driver = Text("driver");
    ASSERT_FALSE(driver.empty());
    EXPECT_EQ(driver.back(), L'\\');
    wchar_t programFiles[MAX_PATH] = {};
    ::ExpandEnvironmentStringsW(L"%ProgramFiles%\\", programFiles, MAX_PATH);
    std::vector<std::wstring> fixed;
    for (wchar_t d = L'A'; d <= L'Z'; ++d) {
        const std::wstring root = std::wstring(1, d) + L":";
        if ((::GetLogicalDrives() & (1u << (d - L'A'))) && ::GetDriveTypeW((root + L"\\").c_str()) == DRIVE_FIXED)
            fixed.push_back(root);
    }
    std::wstring expected = programFiles;
    for (size_t i = 1; i < fixed.size(); ++i) {
        const std::wstring candidate = fixed[i] + std::wstring(programFiles).substr(2);
        if (::PathFileExistsW(candidate.c_str())) {
            expected = candidate;
            break;
        }
    }
    EXPECT_EQ(driver, expected);
}

TEST_F(ProcessApi, EnablePrivilege) {
    ASSERT_TRUE(Run(
        "on = Lua_EnablePrivilege('SeShutdownPrivilege', true)\n"
        "off = Lua_EnablePrivilege('ignored', 'SeShutdownPrivilege', false)\n"));
    EXPECT_EQ(Kind("on"), "true");
    EXPECT_EQ(Kind("off"), "true");
    EXPECT_TRUE(Lines().empty());
    ASSERT_TRUE(Run("bad = Lua_EnablePrivilege('SeQvrNoSuchPrivilege', true)"));
    EXPECT_EQ(Kind("bad"), "false");
    EXPECT_TRUE(HasTraceAfter(L"LookupPrivilegeValue failed!")) << WideToUtf8(AllLines());
}

TEST_F(ProcessApi, GetCommandLineArgvInThisProcess) {
    ASSERT_TRUE(Run("argv = Lua_GetCommandLineArgv() argc = #argv first = argv[1]"));
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    ASSERT_NE(argv, nullptr);
    EXPECT_EQ(Number("argc"), count);
    EXPECT_EQ(Text("first"), argv[0]);
    ::LocalFree(argv);
}

// A quoted path with spaces stays one element; the first element is the
// program as written on the command line.
TEST_F(ProcessApi, GetCommandLineArgvKeepsQuotedPaths) {
    const std::wstring spaced = dir_ + L"\\dir with space";
    ASSERT_TRUE(::CreateDirectoryW(spaced.c_str(), nullptr));
    const std::wstring host = testutil::CopyProgram(L"qvrtest_scripthost.exe", spaced, L"host copy.exe");
    ASSERT_FALSE(host.empty());
    const std::wstring out = dir_ + L"\\argv.txt";
    const std::wstring script = dir_ + L"\\argv.lua";
    ASSERT_TRUE(testutil::WriteFileBytes(
        script, "local argv = Lua_GetCommandLineArgv()\n"
                "local f = io.open(" + Lit(out) + ", 'wb')\n"
                "f:write(table.concat(argv, '\\n')) f:close()\n"
                "qvr_exit = #argv\n"));
    const std::wstring arg = L"C:\\Program Files\\中文 目录\\a b.txt";
    const DWORD rc = testutil::Run(Quote(host) + L" " + Quote(script) + L" " + Quote(arg) + L" plain");
    EXPECT_EQ(rc, 4u);
    const std::string expected = WideToUtf8(host) + "\n" + WideToUtf8(script) + "\n" + WideToUtf8(arg) + "\nplain";
    EXPECT_EQ(testutil::ReadFileOr(out), expected);
}

// A service of the test's own in the service manager of the prefix.
class ServiceApi : public testutil::ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        manager_.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_) << ::GetLastError();
    }
    void TearDown() override {
        for (const auto& name : installed_) {
            nq::unique_schandle s(::OpenServiceW(manager_.get(), name.c_str(), SERVICE_ALL_ACCESS));
            if (!s) continue;
            SERVICE_STATUS st = {};
            ::ControlService(s.get(), SERVICE_CONTROL_STOP, &st);
            ::DeleteService(s.get());
        }
        qvrapi::SetServiceWaitLimit(qvrapi::kDefaultServiceWaitLimitMs);
        ScriptTest::TearDown();
    }
    // Installs the test service with `mode` ("normal", "falls"), or a missing program.
    std::wstring Install(const std::wstring& stem, const std::wstring& mode, bool missingProgram = false) {
        const std::wstring name = stem + L"_" + std::to_wstring(::GetCurrentProcessId());
        const std::wstring program =
            testutil::ExeDir() + (missingProgram ? L"\\qvr_no_such_service.exe" : L"\\qvrtest_service.exe");
        const std::wstring binary = Quote(program) + L" " + name + L" " + mode;
        nq::unique_schandle s(::CreateServiceW(manager_.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                               binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        EXPECT_TRUE(s) << "CreateService " << ::GetLastError();
        if (s) installed_.push_back(name);
        return name;
    }
    DWORD State(const std::wstring& name) {
        nq::unique_schandle s(::OpenServiceW(manager_.get(), name.c_str(), SERVICE_QUERY_STATUS));
        SERVICE_STATUS st = {};
        if (!s || !::QueryServiceStatus(s.get(), &st)) return 0;
        return st.dwCurrentState;
    }
    bool Scm(const std::wstring& name, const char* action) {
        EXPECT_TRUE(Run("scm = Lua_SCM(" + Lit(name) + ", '" + action + "')"));
        return Kind("scm") == "true";
    }

    nq::unique_schandle manager_;
    std::vector<std::wstring> installed_;
};

TEST_F(ServiceApi, StartAndStopReachTheirStates) {
    const std::wstring name = Install(L"QvrTestSvc", L"normal");
    ASSERT_EQ(State(name), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(Scm(name, "start"));
    EXPECT_EQ(State(name), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(Scm(name, "Start")) << "already running";
    EXPECT_TRUE(Scm(name, "STOP"));
    EXPECT_EQ(State(name), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(Scm(name, "stop")) << "already stopped";
    EXPECT_TRUE(Lines().empty()) << WideToUtf8(AllLines());
}

TEST_F(ServiceApi, MissingServiceIsNoFailure) {
    EXPECT_TRUE(Scm(L"QvrNoSuchService_" + std::to_wstring(::GetCurrentProcessId()), "stop"));
    EXPECT_TRUE(Lines().empty()) << WideToUtf8(AllLines());
}

TEST_F(ServiceApi, UnknownActionFails) {
    const std::wstring name = Install(L"QvrTestSvcAction", L"normal");
    EXPECT_FALSE(Scm(name, "restart"));
    ASSERT_EQ(Lines().size(), 4u) << WideToUtf8(AllLines());
    EXPECT_EQ(Lines()[0], L"vq Unknow Error in fun:Lua_SCM\r\n");
    EXPECT_TRUE(HasTraceAfter(L""));
    EXPECT_EQ(State(name), static_cast<DWORD>(SERVICE_STOPPED)) << "nothing was started";
}

TEST_F(ServiceApi, StartFailureIsReported) {
    const std::wstring name = Install(L"QvrTestSvcMissing", L"normal", true);
    EXPECT_FALSE(Scm(name, "start"));
    EXPECT_TRUE(HasTraceAfter(L"StartService failed!")) << WideToUtf8(AllLines());
}

// A service that stops again while "start" waits for it to run: the wait
// ends at the time limit.
TEST_F(ServiceApi, WaitEndsAtTheTimeLimit) {
    const std::wstring name = Install(L"QvrTestSvcFalls", L"falls");
    qvrapi::SetServiceWaitLimit(2000);
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(Scm(name, "start"));
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_GE(elapsed, 2000u);
    EXPECT_LT(elapsed, 10000u);
    EXPECT_TRUE(HasLine(L"vq Lua_SCM: service " + name + L" did not reach state 4 within 2000 ms (state 1)\r\n"))
        << WideToUtf8(AllLines());
}

}  // namespace
