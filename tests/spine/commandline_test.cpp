#include "qvrinstaller/commandline.h"

#include <gtest/gtest.h>

#include "qvrinstaller/app.h"

namespace {

struct ParseCase {
    const wchar_t* text;
    std::map<std::wstring, std::wstring> expected;
};

TEST(CommandLine, ParsesTokensAsTheInstallerSeesThem) {
    const ParseCase cases[] = {
        {L"setup.exe /InstallSlience true /InstallListenWnd 918",
         {{L"setup.exe", L""}, {L"InstallSlience", L"true"}, {L"InstallListenWnd", L"918"}}},
        // '=' is part of the key.
        {L"/InstallSlience=true", {{L"InstallSlience=true", L""}}},
        // The program path is a token like any other; its key ends at the first space.
        {L"\"C:\\Program Files\\setup.exe\" /s", {{L"\"C:\\Program", L"Files\\setup.exe\""}, {L"s", L""}}},
        // Quotes around a value go, spaces inside stay.
        {L"/path \"C:\\My Apps\\x\"", {{L"path", L"C:\\My Apps\\x"}}},
        // A value is cut at an inner '/'.
        {L"/url http://example.invalid/a", {{L"url", L"http:"}, {L"example.invalid", L""}, {L"a", L""}}},
        // Empty runs between slashes give no token.
        {L"//a 1///b 2/", {{L"a", L"1"}, {L"b", L"2"}}},
        // A later token with the same key wins.
        {L"/k 1 /k 2", {{L"k", L"2"}}},
        // Trimming removes spaces and units 0..29; 30 and 31 stay.
        {L"/k \t\x1D v \x1D\r\n", {{L"k", L"v"}}},
        {L"/k \x1Ev\x1F", {{L"k", L"\x1Ev\x1F"}}},
        // A single quote character is not a quoted value.
        {L"/k \"", {{L"k", L"\""}}},
        {L"/k \"\"", {{L"k", L""}}},
        // Keys are case-sensitive.
        {L"/Key a /key b", {{L"Key", L"a"}, {L"key", L"b"}}},
        {L"", {}},
    };
    for (const auto& c : cases) {
        CCommandLine cmd(c.text);
        EXPECT_EQ(cmd.Values(), c.expected) << "text: " << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(CommandLine, GetValueClearsAndReportsPresence) {
    CCommandLine cmd(L"/present /full value");
    std::wstring v = L"stale";
    EXPECT_FALSE(cmd.GetValue(L"absent", v));
    EXPECT_EQ(v, L"");
    v = L"stale";
    EXPECT_TRUE(cmd.GetValue(L"present", v));
    EXPECT_EQ(v, L"");
    EXPECT_TRUE(cmd.GetValue(L"full", v));
    EXPECT_EQ(v, L"value");
    EXPECT_FALSE(cmd.GetValue(L"FULL", v));
}

TEST(CommandLine, ListenerHandleParsing) {
    const std::pair<const wchar_t*, unsigned long> cases[] = {
        {L"918", 918},      {L"  42", 42},       {L"+7", 7},     {L"0x1A2B", 0},
        {L"12abc", 12},     {L"abc", 0},         {L"", 0},       {L"4294967295", 4294967295ul},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseListenerHandle(c.first), c.second) << testing::PrintToString(std::wstring(c.first));
}

TEST(CommandLine, ModeChoice) {
    struct Case {
        const wchar_t* cmd;
        bool enable;
        bool scriptSilent;
        bool silent;
    };
    const Case cases[] = {
        {L"setup.exe", false, false, false},
        {L"setup.exe", true, false, false},
        {L"setup.exe", false, true, false},  // the script's request needs the enable flag
        {L"setup.exe", true, true, true},
        {L"setup.exe /InstallSlience true", false, false, true},  // the switch works regardless
        {L"setup.exe /InstallSlience TRUE", false, false, false}, // exact comparison
        {L"setup.exe /InstallSlience TRUE", true, true, true},
        {L"setup.exe /InstallSlience", false, false, false},
        {L"setup.exe /InstallSlience \"true\"", false, false, true},
    };
    for (const auto& c : cases) {
        CCommandLine cmd(c.cmd);
        EXPECT_EQ(qvrapp::ChooseSilent(cmd, c.enable, c.scriptSilent), c.silent)
            << testing::PrintToString(std::wstring(c.cmd)) << " enable=" << c.enable << " script=" << c.scriptSilent;
    }
}

}  // namespace
