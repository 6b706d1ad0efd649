// Unattended runs inside the program: the default answer of each box style,
// the exit code a script's os.exit becomes, and the command-line forms that
// launchers write.
#include <windows.h>

#include <gtest/gtest.h>

#include "qvrinstaller/app.h"
#include "qvrinstaller/commandline.h"
#include "utility/qvrscriptengine/qvrmsgbox.h"
#include "utility/qvrscriptengine/qvrrunresult.h"

namespace {

TEST(Unattended, DefaultAnswerOfEveryBoxStyle) {
    struct Case {
        UINT style;
        int answer;
    };
    const Case cases[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_ICONERROR, IDOK},
        {MB_OK | MB_DEFBUTTON2, IDOK},  // no second button: the first
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_OKCANCEL | MB_ICONWARNING | MB_SETFOREGROUND, IDOK},
        {MB_ABORTRETRYIGNORE | MB_ICONQUESTION, IDABORT},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_YESNO, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNO | MB_DEFBUTTON3, IDYES},
        {MB_RETRYCANCEL, IDRETRY},
        {MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, IDCONTINUE},
        {0x0F, IDOK},  // no such button set
    };
    for (const Case& c : cases) EXPECT_EQ(qvrbox::DefaultAnswer(c.style), c.answer) << std::hex << c.style;
}

TEST(Unattended, SuppressedBoxAnswersAtOnceAndNamesItsText) {
    qvrbox::SetSuppressed(true);
    const DWORD t0 = ::GetTickCount();
    EXPECT_EQ(qvrbox::Show(L"第一行\r\n第二行", L"提示", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_LT(::GetTickCount() - t0, 5000u);
    qvrbox::SetSuppressed(false);
    const std::wstring line = L"msgbox suppressed, answered 7: [提示] 第一行\\n第二行";
    const int n = ::WideCharToMultiByte(CP_THREAD_ACP, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(n - 1, '\0');
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, line.c_str(), -1, &ansi[0], n, nullptr, nullptr);
    EXPECT_EQ(qvrbox::SuppressedLine(L"第一行\r\n第二行", L"提示", IDNO), ansi);
}

TEST(Unattended, ScriptExitCodeFollowsTheRunsResult) {
    using qvrrun::Failure;
    qvrrun::SetExitCode(Failure::kPayload, 4);
    qvrrun::SetExitCode(Failure::kWrite, 6);
    qvrrun::SetExitCode(Failure::kEndedEarly, 8);
    struct Case {
        const char* what;
        bool inProgress;
        Failure recorded;
        int requested;
        int code;
        int final;
    };
    const Case cases[] = {
        {"after the run, nothing failed", false, Failure::kNone, 0, 0, 0},
        {"inside the run, nothing failed", true, Failure::kNone, 0, 8, 0},
        {"the script's own failure code stays", true, Failure::kNone, 42, 42, 0},
        {"a recorded payload failure", true, Failure::kPayload, 0, 4, 4},
        {"a recorded write failure, after the run", false, Failure::kWrite, 0, 6, 6},
        {"a failure code chosen by the script wins", true, Failure::kWrite, 1, 1, 6},
    };
    for (const Case& c : cases) {
        qvrrun::Reset();
        qvrrun::SetInProgress(c.inProgress);
        qvrrun::Record(c.recorded);
        EXPECT_EQ(qvrrun::ScriptExitCode(c.requested), c.code) << c.what;
        EXPECT_EQ(qvrrun::FinalExitCode(), c.final) << c.what;
    }
    // The first failure is the cause the caller is told.
    qvrrun::Reset();
    qvrrun::Record(Failure::kWrite);
    qvrrun::Record(Failure::kPayload);
    EXPECT_EQ(qvrrun::Recorded(), Failure::kWrite);
    qvrrun::Reset();
    qvrrun::SetInProgress(false);
    for (Failure f : {Failure::kPayload, Failure::kWrite, Failure::kEndedEarly}) qvrrun::SetExitCode(f, 0);
}

// The silent switch and the install folder as launchers write them: quoted
// around the value, or around the whole argument.
TEST(Unattended, ArgumentsQuotedAsAWholeParseAsUnquoted) {
    struct Case {
        const wchar_t* text;
        std::map<std::wstring, std::wstring> expected;
    };
    const Case cases[] = {
        {L"s.exe /InstallSlience true \"/path:C:\\Program Files (x86)\\A B\"",
         {{L"s.exe", L""}, {L"InstallSlience", L"true"}, {L"path:C:\\Program", L"Files (x86)\\A B"}}},
        {L"s.exe /InstallSlience true /path:\"C:\\Program Files (x86)\\A B\"",
         {{L"s.exe", L""}, {L"InstallSlience", L"true"}, {L"path:\"C:\\Program", L"Files (x86)\\A B\""}}},
        {L"\"C:\\安装 包\\s.exe\" \"/InstallSlience true\" \"/InstallListenWnd 918\"",
         {{L"\"C:\\安装", L"包\\s.exe\""}, {L"InstallSlience", L"true"}, {L"InstallListenWnd", L"918"}}},
        // An unclosed argument quote runs to the end of the text.
        {L"s.exe \"/InstallSlience true", {{L"s.exe", L""}, {L"InstallSlience", L"true"}}},
        // Quotes that do not open an argument starting with '/' stay.
        {L"s.exe /k \"/x\"", {{L"s.exe", L""}, {L"k", L""}, {L"x", L""}}},
        {L"s.exe /k a\"/x\"", {{L"s.exe", L""}, {L"k", L"a\""}, {L"x\"", L""}}},
        {L"s.exe /k \"a b\"", {{L"s.exe", L""}, {L"k", L"a b"}}},
    };
    for (const Case& c : cases) {
        CCommandLine cmd(c.text);
        EXPECT_EQ(cmd.Values(), c.expected) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(cmd.Text(), c.text);
    }
    EXPECT_TRUE(qvrapp::SilentBySwitch(CCommandLine(L"s.exe /InstallSlience true \"/path:C:\\A B\"")));
    EXPECT_TRUE(qvrapp::SilentBySwitch(CCommandLine(L"s.exe \"/InstallSlience true\" \"/path:C:\\A B\"")));
}

}  // namespace
