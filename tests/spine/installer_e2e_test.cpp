// The real installer executable, started as a user's program would start it.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "tests/spine/installerrun.h"

using testutil::Child;
using namespace spinetest;

namespace {


TEST_F(InstallerRun, SilentRunRunsFiveEventsInOrderAndTellsTheListener) {
    testutil::RecordingWindow listener;
    ASSERT_TRUE(listener.hwnd());
    env_[L"QVR_TEST_INSTALL_PATH"] = dir_ + L"\\Contoso Translator";
    const std::wstring args =
        L"/InstallSlience true /InstallListenWnd " + std::to_wstring(reinterpret_cast<ULONG_PTR>(listener.hwnd()));
    ASSERT_EQ(RunDemo(args), 0u);

    const std::string installPath = testutil::WideToUtf8(dir_ + L"\\Contoso Translator");
    const std::vector<std::string> expected = {
        "QVRSE_BeforeInit", "QVRSE_BeforeInstall",  "InstallPath=" + installPath, "global_ss_install=true",
        "QVRSE_OnInstall",  "QVRSE_BeforeComplete", "QVRSE_AfterComplete"};
    EXPECT_EQ(Events(), expected);

    ASSERT_EQ(listener.Count(3014), 1);
    EXPECT_EQ(listener.Params(3014)[0], (std::pair<WPARAM, LPARAM>{0, 0}));

    // The dated log: well-formed lines, the five events on one thread.
    const std::string log = Log();
    const std::regex line(
        "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\[info\\] \\[(\\d+)\\] \\[[^ \\]]+ [A-Za-z_0-9:]+: \\d+\\] (.*)");
    std::set<std::string> threads;
    std::vector<std::string> logged;
    for (const std::string& l : Lines(log)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << "malformed log line: " << l;
        if (m[2].str().rfind("log:event QVRSE_", 0) == 0) {
            threads.insert(m[1].str());
            logged.push_back(m[2].str().substr(10));
        }
    }
    EXPECT_EQ(logged, (std::vector<std::string>{"QVRSE_BeforeInit", "QVRSE_BeforeInstall", "QVRSE_OnInstall",
                                                "QVRSE_BeforeComplete", "QVRSE_AfterComplete"}));
    EXPECT_EQ(threads.size(), 1u) << "every event on the main thread";
    EXPECT_NE(log.find("strAppPath:" + installPath + "\\Tools\\"), std::string::npos) << log;

    // The base log path is scheduled for deletion at the next restart.
    HKEY key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                              KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    std::wstring pending(64 * 1024, L'\0');
    DWORD bytes = static_cast<DWORD>(pending.size() * sizeof(wchar_t));
    const LONG rc = ::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(&pending[0]), &bytes);
    ::RegCloseKey(key);
    ASSERT_EQ(rc, ERROR_SUCCESS);
    pending.resize(bytes / sizeof(wchar_t));
    EXPECT_NE(pending.find(dir_ + L"\\Install.log"), std::wstring::npos);
}

TEST_F(InstallerRun, ModeChoiceOnTheRealExecutable) {
    struct Case {
        const wchar_t* args;
        const wchar_t* enable;
        const wchar_t* scriptSilent;
        bool silent;
    };
    const Case cases[] = {
        {L"", L"0", L"0", false},
        {L"/InstallSlience true", L"0", L"0", true},
        {L"/InstallSlience TRUE", L"0", L"0", false},
        {L"/InstallSlience TRUE", L"1", L"1", true},
        {L"", L"1", L"1", true},
        {L"", L"0", L"1", false},
        {L"", L"1", L"0", false},
    };
    for (const auto& c : cases) {
        ::DeleteFileW(events_.c_str());
        env_[L"QVR_TEST_ENABLE_SS"] = c.enable;
        env_[L"QVR_TEST_SCRIPT_SS"] = c.scriptSilent;
        ASSERT_EQ(RunDemo(c.args), 0u);
        const auto ev = Events();
        const bool ranInstall = std::find(ev.begin(), ev.end(), "QVRSE_OnInstall") != ev.end();
        EXPECT_EQ(ranInstall, c.silent) << testutil::WideToUtf8(c.args) << " enable=" << c.enable[0]
                                        << " script=" << c.scriptSilent[0];
        ASSERT_FALSE(ev.empty());
        EXPECT_EQ(ev[0], "QVRSE_BeforeInit");
    }
}

TEST_F(InstallerRun, SecondInstallerStopsAtTheInstanceGuardUnlessSilentSwitchIsPresent) {
    const std::wstring hold = dir_ + L"\\hold", started = dir_ + L"\\started";
    auto firstEnv = env_;
    firstEnv[L"QVR_TEST_HOLD"] = hold;
    firstEnv[L"QVR_TEST_STARTED"] = started;
    firstEnv[L"QVR_TEST_EVENTS"] = dir_ + L"\\first.txt";
    Child first;
    ASSERT_TRUE(first.Start(Quote(Exe(L"qvrinstaller_demo.exe")) + L" /InstallSlience true", firstEnv));
    ASSERT_TRUE(testutil::WaitUntil([&] { return testutil::FileExists(started); }, 60000));

    // Without the switch: back at once, no event.
    const DWORD t0 = ::GetTickCount();
    EXPECT_EQ(RunDemo(L""), 0u);
    EXPECT_LT(::GetTickCount() - t0, 30000u);
    EXPECT_TRUE(Events().empty());

    // With the switch (any value): it runs its own installation.
    EXPECT_EQ(RunDemo(L"/InstallSlience true"), 0u);
    const auto ev = Events();
    EXPECT_EQ(ev.size(), 7u);
    EXPECT_TRUE(first.Running());

    testutil::WriteFileBytes(hold, "go");
    ASSERT_TRUE(first.Wait(60000));
    EXPECT_EQ(first.ExitCode(), 0u);
    EXPECT_EQ(Lines(testutil::ReadFileOr(dir_ + L"\\first.txt")).size(), 7u);
}

TEST_F(InstallerRun, ToolProcessesOfTheInstallFolderAreEnded) {
    const std::wstring install = dir_ + L"\\App";
    const std::wstring sleeper = Exe(L"spine_sleeper.exe");
    for (const wchar_t* d : {L"\\App", L"\\App\\Tools", L"\\App\\Tools\\a", L"\\App\\Tools\\a\\deep", L"\\run1",
                             L"\\run2", L"\\run3"})
        ASSERT_TRUE(::CreateDirectoryW((dir_ + d).c_str(), nullptr));
    // Names found in the Tools folder.
    ASSERT_TRUE(::CopyFileW(sleeper.c_str(), (install + L"\\Tools\\a\\qvrtool_b.exe").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(sleeper.c_str(), (install + L"\\Tools\\a\\qvrtool_c.EXE").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(sleeper.c_str(), (install + L"\\Tools\\qvrtool_d.exe").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(sleeper.c_str(), (install + L"\\Tools\\a\\deep\\qvrtool_e.exe").c_str(), FALSE));
    // Running copies elsewhere, under several letter cases.
    struct Running {
        std::wstring path;
        bool ended;
    };
    std::vector<Running> running = {
        {dir_ + L"\\run1\\qvrtool_b.exe", true}, {dir_ + L"\\run2\\QVRTOOL_B.EXE", true},
        {dir_ + L"\\run3\\Qvrtool_B.Exe", true}, {dir_ + L"\\run1\\qvrtool_c.exe", false},
        {dir_ + L"\\run1\\qvrtool_d.exe", false}, {dir_ + L"\\run1\\qvrtool_e.exe", false},
    };
    std::vector<Child> children(running.size());
    for (size_t i = 0; i < running.size(); ++i) {
        ASSERT_TRUE(::CopyFileW(sleeper.c_str(), running[i].path.c_str(), FALSE));
        ASSERT_TRUE(children[i].Start(Quote(running[i].path)));
    }
    testutil::PumpFor(500);

    env_[L"QVR_TEST_INSTALL_PATH"] = install;
    EXPECT_EQ(RunDemo(L"/InstallSlience true"), 0u);
    for (size_t i = 0; i < running.size(); ++i) {
        if (running[i].ended) {
            EXPECT_TRUE(children[i].Wait(10000)) << testutil::WideToUtf8(running[i].path);
            EXPECT_EQ(children[i].ExitCode(), 10000u) << testutil::WideToUtf8(running[i].path);
        } else {
            EXPECT_TRUE(children[i].Running()) << testutil::WideToUtf8(running[i].path);
        }
        children[i].Kill();
    }
    const std::string log = Log();
    EXPECT_NE(log.find("2:----qvrtool_b.exe"), std::string::npos) << log;
}

TEST_F(InstallerRun, ScriptErrorInAnEventShowsTheBoxAndEndsWithItsExitCode) {
    env_[L"QVR_TEST_ERROR_IN"] = L"QVRSE_OnInstall";
    Child child;
    ASSERT_TRUE(child.Start(Quote(Exe(L"qvrinstaller_demo.exe")) + L" /InstallSlience true", env_));
    HWND box = testutil::WaitForTopWindow(kErrorCaption, child.Pid(), 60000);
    ASSERT_TRUE(box) << "no error box";
    const std::wstring text = testutil::DialogText(box);
    EXPECT_EQ(text.rfind(L"events_install.lua:", 0), 0u) << testutil::WideToUtf8(text);
    EXPECT_NE(text.find(L": boom in QVRSE_OnInstall\n      <call stack>\n-> | unknown : line -1 [=[C] : line -1]\n"),
              std::wstring::npos)
        << testutil::WideToUtf8(text);
    EXPECT_NE(text.find(L"--  | inner() : line"), std::wstring::npos) << testutil::WideToUtf8(text);
    EXPECT_NE(text.find(L"[@events_install.lua : line"), std::wstring::npos);
    EXPECT_NE(text.find(L"请向我们反馈以上错误信息，以便我们改善产品质量！"), std::wstring::npos);
    EXPECT_TRUE(child.Running()) << "the process waits for the box";
    ASSERT_TRUE(testutil::PressDialogButton(box, IDOK));
    ASSERT_TRUE(child.Wait(30000));
    EXPECT_EQ(child.ExitCode(), 3u) << "a script error is no completed installation";
    const auto ev = Events();
    ASSERT_FALSE(ev.empty());
    EXPECT_EQ(ev.back(), "QVRSE_OnInstall") << "nothing runs after the failing event";
}

TEST_F(InstallerRun, BrokenScriptResourcesEndTheRunQuietly) {
    for (const wchar_t* exe : {L"qvrinstaller_noconfig.exe", L"qvrinstaller_badinstall.exe"}) {
        ::DeleteFileW(events_.c_str());
        Child child;
        ASSERT_TRUE(child.Start(Quote(Exe(exe)) + L" /InstallSlience true", env_));
        ASSERT_TRUE(child.Wait(60000)) << "no box may hold the process";
        EXPECT_EQ(child.ExitCode(), 2u) << "the installer's own scripts did not load";
        EXPECT_TRUE(Events().empty()) << testutil::WideToUtf8(exe);
    }
}

TEST_F(InstallerRun, StartCleansEarlierLogsOfTheTemporaryFolder) {
    const struct {
        const wchar_t* name;
        bool kept;
    } files[] = {
        {L"Install_2020-01-01.log", false}, {L"Install_other", false},        {L"install_2020-02-02.log", true},
        {L"Install.log", false} /* deleted at start */, {L"Setup_2020-01-01.log", true},
    };
    for (const auto& f : files) ASSERT_TRUE(testutil::WriteFileBytes(dir_ + L"\\" + f.name, "old"));
    ASSERT_EQ(RunDemo(L"/InstallSlience true"), 0u);
    for (const auto& f : files)
        EXPECT_EQ(testutil::FileExists(dir_ + L"\\" + f.name), f.kept) << testutil::WideToUtf8(f.name);
    EXPECT_FALSE(Log().empty());
    // A second start on the same day appends to the same file.
    const size_t before = Log().size();
    ASSERT_EQ(RunDemo(L"/InstallSlience true"), 0u);
    EXPECT_GT(Log().size(), before);
}

}  // namespace
