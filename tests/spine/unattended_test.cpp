// The installer run by another program with nobody at the screen: every stop
// on a box that nobody would answer ends by itself with /SuppressMsgBoxes;
// without it the box appears as it always did. The exit code tells the caller
// how the run ended; the command line reaches the installer as launchers
// write it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "tests/spine/installerrun.h"

using testutil::Child;
using namespace spinetest;

namespace {

// How long an unattended run may take at most here (Wine under emulation).
constexpr DWORD kBound = 90000;

std::string Ansi(const std::wstring& s) {
    const int n = ::WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Unattended : public InstallerRun {
protected:
    // A file of the run's folder held open without sharing, as a running
    // program holds its files: it can be neither deleted nor replaced. (Paths
    // reach the test script through the environment, which it reads in the
    // ANSI code page: they are kept ASCII.)
    std::wstring LockedFile() {
        const std::wstring path = dir_ + L"\\old shortcut.lnk";
        EXPECT_TRUE(testutil::WriteFileBytes(path, "old"));
        lock_.reset(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(lock_) << "the file could not be locked";
        return path;
    }
    Child StartDemo(const std::wstring& args) {
        Child child;
        EXPECT_TRUE(child.Start(Quote(Exe(L"qvrinstaller_demo.exe")) + L" " + args, env_));
        return child;
    }
    nq::unique_hfile lock_;
};

// Each stop that used to wait for somebody, with /SuppressMsgBoxes: the run
// ends by itself within the bound, with its exit code and the box's text (or
// the failure) in the log.
TEST_F(Unattended, EveryFormerStopEndsByItselfWithItsExitCodeAndLogLine) {
    struct Case {
        const char* what;
        const wchar_t* variable;
        std::wstring value;
        DWORD exitCode;
        std::string event;    // recorded by the script; "" when the run ends before
        std::string logLine;  // a part of one log line
    };
    const std::wstring missing = dir_ + L"\\no such program.exe";
    const Case cases[] = {
        {"script error", L"QVR_TEST_ERROR_IN", L"QVRSE_OnInstall", 3, "",
         Ansi(L"msgbox suppressed, answered 1: [:-( 杯具，脚本执行时发生错误] events_install.lua:")},
        {"missing file for the shell", L"QVR_TEST_SHELLEXEC", missing, 0, "shellexec=false",
         "shell could not start " + Ansi(missing) + " (error "},
        {"locked file, question answers Abort", L"QVR_TEST_DELETE", LockedFile(), 6, "",
         Ansi(L"msgbox suppressed, answered 3: [提示] 无法删除\"" + dir_ + L"\\old shortcut.lnk\"，可能是被占用")},
        {"script's own box (OK, Cancel by default)", L"QVR_TEST_MSGBOX",
         std::to_wstring(MB_OKCANCEL | MB_DEFBUTTON2 | MB_ICONQUESTION), 0, "msgbox=2",
         Ansi(L"msgbox suppressed, answered 2: [Contoso 问题] 继续安装？")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::DeleteFileW(events_.c_str());
        ::DeleteFileW((dir_ + L"\\" + testutil::Utf8ToWide(TodayLogName())).c_str());
        auto env = env_;
        env[c.variable] = c.value;
        Child child;
        ASSERT_TRUE(child.Start(Quote(Exe(L"qvrinstaller_demo.exe")) + L" /InstallSlience true /SuppressMsgBoxes", env));
        const DWORD t0 = ::GetTickCount();
        ASSERT_TRUE(child.Wait(kBound)) << "the run waits for somebody";
        EXPECT_LT(::GetTickCount() - t0, kBound);
        EXPECT_EQ(child.ExitCode(), c.exitCode);
        const auto events = Events();
        if (!c.event.empty()) {
            EXPECT_TRUE(Has(events, c.event)) << testutil::ReadFileOr(events_);
        }
        EXPECT_EQ(Has(events, "QVRSE_AfterComplete"), c.exitCode == 0) << testutil::ReadFileOr(events_);
        const std::string log = Log();
        EXPECT_NE(log.find(c.logLine), std::string::npos) << c.logLine << "\nin\n" << log;
        EXPECT_NE(log.find("exit code " + std::to_string(c.exitCode)), std::string::npos) << log;
    }
}

// Without the switch every box appears and waits, as it always did.
TEST_F(Unattended, WithoutTheSwitchTheBoxesAppearAsBefore) {
    struct Case {
        const char* what;
        const wchar_t* variable;
        std::wstring value;
        const wchar_t* args;
        const wchar_t* caption;  // null: the shell's own box, whatever its title
        int press;
        DWORD exitCode;
        std::string event;
    };
    const std::wstring locked = LockedFile();
    const Case cases[] = {
        {"missing file for the shell", L"QVR_TEST_SHELLEXEC", dir_ + L"\\no such program.exe", L"/InstallSlience true",
         nullptr, IDOK, 0, "shellexec=false"},
        {"locked file, Ignore", L"QVR_TEST_DELETE", locked, L"/InstallSlience true", L"提示", IDIGNORE, 0,
         "delete=true"},
        {"locked file, Abort by the user", L"QVR_TEST_DELETE", locked, L"/InstallSlience true", L"提示", IDABORT, 7,
         ""},
        {"script's own box, OK", L"QVR_TEST_MSGBOX", std::to_wstring(MB_OKCANCEL | MB_DEFBUTTON2),
         L"/InstallSlience true", L"Contoso 问题", IDOK, 0, "msgbox=1"},
        // The switch is for the silent mode only: an interactive run shows its boxes.
        {"interactive run with the switch", L"QVR_TEST_MSGBOX", std::to_wstring(MB_OKCANCEL | MB_DEFBUTTON2),
         L"/SuppressMsgBoxes", L"Contoso 问题", IDOK, 0, "msgbox=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::DeleteFileW(events_.c_str());
        auto env = env_;
        env[c.variable] = c.value;
        Child child;
        ASSERT_TRUE(child.Start(Quote(Exe(L"qvrinstaller_demo.exe")) + L" " + c.args, env));
        HWND box = c.caption ? testutil::WaitForTopWindow(c.caption, child.Pid(), kBound)
                             : testutil::WaitForDialog(child.Pid(), kBound);
        ASSERT_TRUE(box) << "no box";
        testutil::PumpFor(1000);
        EXPECT_TRUE(child.Running()) << "the run waits for the answer";
        if (!testutil::PressDialogButton(box, c.press)) ::PostMessageW(box, WM_CLOSE, 0, 0);
        ASSERT_TRUE(child.Wait(kBound));
        EXPECT_EQ(child.ExitCode(), c.exitCode);
        if (!c.event.empty()) {
            EXPECT_TRUE(Has(Events(), c.event)) << testutil::ReadFileOr(events_);
        }
    }
}

// The exit codes of the table in the README, each from a run of the installer
// (the payload and full-drive rows come from the sample installer's tests).
TEST_F(Unattended, ExitCodesOfTheTable) {
    struct Case {
        const char* what;
        const wchar_t* exe;
        std::map<std::wstring, std::wstring> env;
        DWORD exitCode;
    };
    const Case cases[] = {
        {"completed", L"qvrinstaller_demo.exe", {}, 0},
        {"start-up scripts missing", L"qvrinstaller_noconfig.exe", {}, 2},
        {"start-up script does not compile", L"qvrinstaller_badinstall.exe", {}, 2},
        {"script error", L"qvrinstaller_demo.exe", {{L"QVR_TEST_ERROR_IN", L"QVRSE_BeforeInstall"}}, 3},
        {"script error in the configuration's first event", L"qvrinstaller_demo.exe",
         {{L"QVR_TEST_ERROR_IN", L"QVRSE_BeforeInit"}}, 3},
        {"a file that cannot be removed", L"qvrinstaller_demo.exe", {{L"QVR_TEST_DELETE", LockedFile()}}, 6},
        {"os.exit(0) before the end", L"qvrinstaller_demo.exe", {{L"QVR_TEST_EXIT", L"0"}}, 8},
        {"os.exit() before the end", L"qvrinstaller_demo.exe", {{L"QVR_TEST_EXIT", L"none"}}, 8},
        {"os.exit with the script's own failure code", L"qvrinstaller_demo.exe", {{L"QVR_TEST_EXIT", L"42"}}, 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto env = env_;
        for (const auto& v : c.env) env[v.first] = v.second;
        Child child;
        ASSERT_TRUE(child.Start(Quote(Exe(c.exe)) + L" /InstallSlience true /SuppressMsgBoxes", env));
        ASSERT_TRUE(child.Wait(kBound));
        EXPECT_EQ(child.ExitCode(), c.exitCode);
    }
}

// Launchers quote an argument with spaces either around the value or around the
// whole argument. Both select the silent mode and hand the install script the
// same folder; the command line is passed exactly as written here.
TEST_F(Unattended, CommandLineQuotingStylesSelectTheSameRun) {
    const std::wstring folder = L"C:\\Program Files (x86)\\Contoso 翻译\\A B";
    struct Case {
        std::wstring args;
        bool silent;
    };
    const Case cases[] = {
        {L"/InstallSlience true /path:\"" + folder + L"\"", true},
        {L"/InstallSlience true \"/path:" + folder + L"\"", true},
        {L"\"/InstallSlience true\" \"/path:" + folder + L"\"", true},
        {L"\"/path:" + folder + L"\" /InstallSlience true", true},
        {L"/InstallSlience \"true\" /path:\"" + folder + L"\"", true},
        {L"/InstallSlience \"true \" /path:\"" + folder + L"\"", false},
        {L"/InstallSlience TRUE \"/path:" + folder + L"\"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(c.args));
        ::DeleteFileW(events_.c_str());
        Child child = StartDemo(c.args);
        ASSERT_TRUE(child.Wait(kBound));
        EXPECT_EQ(child.ExitCode(), 0u);
        const auto events = Events();
        EXPECT_EQ(Has(events, "QVRSE_OnInstall"), c.silent) << testutil::ReadFileOr(events_);
        if (c.silent) {
            EXPECT_TRUE(Has(events, "argv /path:" + testutil::WideToUtf8(folder))) << testutil::ReadFileOr(events_);
        }
    }
}

// QVRSE_OnInstall holding a string: the event is skipped, the rest of the run
// goes on, and the product's tool processes are ended all the same.
TEST_F(Unattended, OnInstallThatIsNoFunctionStillEndsTheToolProcesses) {
    const std::wstring install = dir_ + L"\\App";
    for (const wchar_t* d : {L"\\App", L"\\App\\Tools", L"\\App\\Tools\\Updater"})
        ASSERT_TRUE(::CreateDirectoryW((dir_ + d).c_str(), nullptr));
    const std::wstring tool = testutil::CopyProgram(L"spine_sleeper.exe", install + L"\\Tools\\Updater",
                                                    L"qvrtool_string_event.exe");
    ASSERT_FALSE(tool.empty());
    Child running;
    ASSERT_TRUE(running.Start(Quote(tool)));
    testutil::PumpFor(500);
    ASSERT_TRUE(running.Running());

    env_[L"QVR_TEST_INSTALL_PATH"] = install;
    env_[L"QVR_TEST_ONINSTALL_STRING"] = L"1";
    EXPECT_EQ(RunDemo(L"/InstallSlience true /SuppressMsgBoxes"), 0u);
    EXPECT_EQ(Events(), (std::vector<std::string>{"QVRSE_BeforeInit", "QVRSE_BeforeInstall",
                                                  "InstallPath=" + testutil::WideToUtf8(install),
                                                  "global_ss_install=true", "QVRSE_BeforeComplete",
                                                  "QVRSE_AfterComplete"}));
    ASSERT_TRUE(running.Wait(10000)) << "the tool still runs";
    EXPECT_EQ(running.ExitCode(), 10000u);
}

// Without a name of its own the instance is named by the default name and the
// app id: a second installer then stops at the guard at once.
TEST_F(Unattended, DefaultInstanceNameIsTheFixedGuidAndTheAppId) {
    const std::wstring base = L"Global\\{A043B702-166A-4FB8-9733-E2BC4713F36F}";
    struct Case {
        const wchar_t* held;
        const wchar_t* appId;
        bool stops;
    };
    const Case cases[] = {
        {L"123", L"123", true},
        {L"123", L"124", false},
        {L"", L"0", true},
        {L"", L"123", false},
    };
    env_[L"QVR_TEST_MUTEX"] = L"";
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(base + c.held) + " app id " + testutil::WideToUtf8(c.appId));
        ::DeleteFileW(events_.c_str());
        nq::unique_handle held(::CreateMutexW(nullptr, FALSE, (base + c.held).c_str()));
        const DWORD created = ::GetLastError();
        ASSERT_TRUE(held);
        ASSERT_NE(created, static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "another run holds the name";
        env_[L"QVR_TEST_APP_ID"] = c.appId;
        EXPECT_EQ(RunDemo(L""), 0u);
        // Stopped at the guard: no event ran. Otherwise the interactive road
        // of this build runs the first event.
        EXPECT_EQ(Events().empty(), c.stops) << testutil::ReadFileOr(events_);
    }
}

// A temporary folder where no log can be written: the installation runs all
// the same, without a log file.
TEST_F(Unattended, UnwritableTemporaryFolderInstallsWithoutALog) {
    const std::wstring notAFolder = dir_ + L"\\not a folder";
    ASSERT_TRUE(testutil::WriteFileBytes(notAFolder, "a file"));
    env_[L"TMP"] = notAFolder;
    env_[L"TEMP"] = notAFolder;
    EXPECT_EQ(RunDemo(L"/InstallSlience true /SuppressMsgBoxes"), 0u);
    EXPECT_EQ(Events().size(), 7u) << testutil::ReadFileOr(events_);
    EXPECT_EQ(testutil::ReadFileOr(notAFolder), "a file");
    WIN32_FIND_DATAW fd;
    nq::unique_hfind logs(::FindFirstFileW((dir_ + L"\\Install*").c_str(), &fd));
    EXPECT_FALSE(logs) << "a log file was written: " << testutil::WideToUtf8(fd.cFileName);
}

}  // namespace
