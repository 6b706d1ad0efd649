// CProcessToolHelp against real processes: a helper program built by the
// project is copied under a name of its own, started, found and ended.
#include "utility/base/qvrprocesstoolhelp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "tests/processes/helpertest.h"

namespace {

using testutil::Quote;

using ProcessTest = testutil::HelperTest;

TEST_F(ProcessTest, FindProcessIdByNameIgnoresCase) {
    const std::wstring name = Unique(L"qvrcase");
    testutil::Child& c = Start(Helper(name), L"sleep");
    ASSERT_TRUE(testutil::WaitUntil([&] { return c.Running(); }, 5000));

    std::wstring upper = name;
    for (auto& ch : upper) ch = static_cast<wchar_t>(towupper(ch));
    CProcessToolHelp processes;
    EXPECT_EQ(processes.FindProcessIdByName(name.c_str()), c.Pid());
    EXPECT_EQ(processes.FindProcessIdByName(upper.c_str()), c.Pid());
    EXPECT_EQ(processes.FindProcessIdsByName(upper.c_str()), std::vector<DWORD>{c.Pid()});
    // The executable name only, never a path.
    EXPECT_EQ(processes.FindProcessIdByName((dir_ + L"\\" + name).c_str()), CProcessToolHelp::kNoProcess);
    EXPECT_EQ(processes.FindProcessIdByName(L"qvr_no_such_program.exe"), CProcessToolHelp::kNoProcess);
    EXPECT_EQ(processes.FindProcessIdByName(L""), CProcessToolHelp::kNoProcess);
}

TEST_F(ProcessTest, KillProcessClosesWindowsFirstThenTerminates) {
    struct Case {
        const wchar_t* mode;
        DWORD exitCode;   // 42: closed its window itself; 0: terminated
        bool terminated;  // true: only after the 3 s of grace
    };
    const Case cases[] = {{L"window", 42, false}, {L"stubborn", 0, true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(k.mode));
        const std::wstring cls = std::wstring(L"QvrKill_") + k.mode + L"_" + std::to_wstring(::GetCurrentProcessId());
        testutil::Child& c = StartWindow(Helper(Unique(L"qvrkill")), k.mode, cls);
        const DWORD start = ::GetTickCount();
        EXPECT_TRUE(CProcessToolHelp::KillProcess(c.Pid()));
        const DWORD elapsed = ::GetTickCount() - start;
        EXPECT_FALSE(c.Running());
        EXPECT_EQ(c.ExitCode(), k.exitCode);
        if (k.terminated)
            EXPECT_GE(elapsed, 2900u);
        else
            EXPECT_LT(elapsed, 3000u);
    }
}

TEST_F(ProcessTest, KillProcessOfAProcessThatIsGoneIsTrue) {
    EXPECT_TRUE(CProcessToolHelp::KillProcess(0));
    EXPECT_TRUE(CProcessToolHelp::KillProcess(0x7FFFFFF0));
    testutil::Child& c = Start(Helper(Unique(L"qvrgone")), L"marker " + Quote(dir_ + L"\\gone.txt"));
    ASSERT_TRUE(c.Wait(20000));
    EXPECT_TRUE(CProcessToolHelp::KillProcess(c.Pid()));
}

TEST_F(ProcessTest, DevicePathToDosPath) {
    wchar_t device[MAX_PATH] = {};
    ASSERT_TRUE(::QueryDosDeviceW(L"C:", device, MAX_PATH));
    const std::wstring dev = device;
    struct Case {
        std::wstring in, out;
    };
    const Case cases[] = {
        {dev + L"\\a\\b.exe", L"C:\\a\\b.exe"},
        {dev + L"\\Program Files\\中文\\x.exe", L"C:\\Program Files\\中文\\x.exe"},
        // A device that no drive maps to (a network redirector): the prefix goes.
        {L"\\Device\\QvrNoSuchDevice\\server\\share\\x.exe", L"\\server\\share\\x.exe"},
        // Fewer than three backslashes: no prefix, nothing changes.
        {L"\\Device\\x.exe", L"\\Device\\x.exe"},
        {L"x.exe", L"x.exe"},
        {L"", L""},
        // Only the leading device is replaced, not look-alike text further on.
        {dev + L"\\backup" + dev + L"0\\x.exe", L"C:\\backup" + dev + L"0\\x.exe"},
    };
    CProcessToolHelp helper;
    for (const Case& k : cases) {
        std::wstring path = k.in;
        EXPECT_EQ(helper.DevicePathToDosPath(path), 1);
        EXPECT_EQ(path, k.out) << testutil::WideToUtf8(k.in);
    }
}

TEST_F(ProcessTest, SetPrivilege) {
    EXPECT_TRUE(CProcessToolHelp::SetPrivilege(L"SeShutdownPrivilege", true));
    EXPECT_TRUE(CProcessToolHelp::SetPrivilege(L"SeShutdownPrivilege", false));
    EXPECT_TRUE(Lines().empty());
    EXPECT_FALSE(CProcessToolHelp::SetPrivilege(L"SeQvrNoSuchPrivilege", true));
    EXPECT_TRUE(HasTraceAfter(L"LookupPrivilegeValue failed!")) << testutil::WideToUtf8(AllLines());
}

TEST_F(ProcessTest, EnsureDirectory) {
    const std::wstring nested = dir_ + L"\\a\\b\\c";
    EXPECT_TRUE(CProcessToolHelp::EnsureDirectory(nested.c_str()));
    EXPECT_NE(::GetFileAttributesW(nested.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(CProcessToolHelp::EnsureDirectory(nested.c_str())) << "an existing folder is fine";
    // A file in the way, and a name the file system refuses.
    ASSERT_TRUE(testutil::WriteFileBytes(dir_ + L"\\file", "x"));
    EXPECT_FALSE(CProcessToolHelp::EnsureDirectory((dir_ + L"\\file\\sub").c_str()));
    EXPECT_FALSE(CProcessToolHelp::EnsureDirectory((dir_ + L"\\bad<name>").c_str()));
}

TEST_F(ProcessTest, ExplorerCommandLine) {
    EXPECT_EQ(CProcessToolHelp::ExplorerCommandLine(L"C:\\Program Files\\p.exe", L""),
              L"explorer.exe \"C:\\Program Files\\p.exe\" \"\"");
    EXPECT_EQ(CProcessToolHelp::ExplorerCommandLine(L"C:\\p.exe", L"/menu"), L"explorer.exe \"C:\\p.exe\" \"/menu\"");
}

// Explorer starts the program it is given (without the parameters: the
// helper then writes "<program>.ran").
TEST_F(ProcessTest, LaunchViaExplorerStartsTheProgram) {
    const std::wstring helper = Helper(Unique(L"qvrexplorer"));
    EXPECT_GT(CProcessToolHelp::LaunchViaExplorer(helper.c_str(), L""), 31u);
    EXPECT_TRUE(testutil::WaitForFile(helper + L".ran", 30000));
}

// The shell window belongs to a process of the test (a helper that makes its
// window the shell window); the program is started with that process's token.
TEST_F(ProcessTest, LaunchWithShellToken) {
    const bool hadShell = ::GetShellWindow() != nullptr;
    if (!hadShell) {
        const std::wstring app = Helper(Unique(L"qvrtoken"));
        EXPECT_EQ(CProcessToolHelp::LaunchWithShellToken(app.c_str(), (Quote(app) + L" marker " + Quote(dir_ + L"\\never.txt")).c_str(), dir_.c_str()),
                  CProcessToolHelp::kNoShellWindow);
        const std::wstring cls = L"QvrShell_" + std::to_wstring(::GetCurrentProcessId());
        testutil::Child& shell = StartWindow(Helper(Unique(L"qvrshell")), L"shell", cls);
        ASSERT_EQ(testutil::ReadFileOr(dir_ + L"\\" + cls + L".ready"), "shell");
        DWORD owner = 0;
        ::GetWindowThreadProcessId(::GetShellWindow(), &owner);
        ASSERT_EQ(owner, shell.Pid());
    }

    const std::wstring app = Helper(Unique(L"qvrtoken"));
    const std::wstring marker = dir_ + L"\\token.txt";
    const std::wstring workDir = dir_ + L"\\work";
    ASSERT_TRUE(::CreateDirectoryW(workDir.c_str(), nullptr));
    const std::wstring cmd = Quote(app) + L" marker " + Quote(marker);
    EXPECT_EQ(CProcessToolHelp::LaunchWithShellToken(app.c_str(), cmd.c_str(), workDir.c_str()),
              CProcessToolHelp::kLaunchOk);
    ASSERT_TRUE(testutil::WaitForFile(marker, 20000));
    const std::string text = testutil::ReadFileOr(marker);
    EXPECT_NE(text.find("cmd=" + testutil::WideToUtf8(cmd)), std::string::npos) << text;
    EXPECT_NE(text.find("cwd=" + testutil::WideToUtf8(workDir)), std::string::npos) << text;

    if (!hadShell) {
        // Once the shell window is gone, nothing is started.
        EXPECT_TRUE(CProcessToolHelp::KillProcess(children_.back().Pid()));
        EXPECT_EQ(::GetShellWindow(), nullptr);
        EXPECT_EQ(CProcessToolHelp::LaunchWithShellToken(app.c_str(), cmd.c_str(), workDir.c_str()),
                  CProcessToolHelp::kNoShellWindow);
    }
}

}  // namespace
