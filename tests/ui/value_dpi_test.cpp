// Attribute value readers and the DPI model.
#include <gtest/gtest.h>

#include <climits>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/testutil.h"
#include "ui/core/uidpi.h"
#include "ui/core/uitext.h"
#include "ui/core/uivalue.h"

namespace {

using namespace SkinUI;

TEST(ValueSyntax, Integers) {
    struct Case {
        const wchar_t* text;
        int value;
    } cases[] = {
        {L"15", 15},         {L"-12px", -12}, {L"px12", 0},     {L"", 0},          {L"-", 0},
        {L" 5", 0},          {L"+5", 0},      {L"007", 7},      {L"12,34", 12},    {L"--3", 0},
        {L"2147483647", 2147483647},          {L"-2147483648", static_cast<int>(0x80000000u)},
        {L"4294967297", 1},  // 32-bit wrap-around
    };
    for (const Case& c : cases) EXPECT_EQ(ParseInt(c.text), c.value) << testutil::WideToUtf8(c.text);
    EXPECT_EQ(ParseInt(nullptr), 0);
}

TEST(NumberText, DecimalAsToWstringWrites) {
    EXPECT_EQ(DecimalText(0), L"0");
    EXPECT_EQ(DecimalText(-7), L"-7");
    EXPECT_EQ(DecimalText(INT_MIN), std::to_wstring(INT_MIN));
    EXPECT_EQ(DecimalText(INT_MAX), std::to_wstring(INT_MAX));
    EXPECT_EQ(DecimalText(static_cast<UINT>(0xFFFFFFFFu)), L"4294967295");
    EXPECT_EQ(DecimalText(static_cast<size_t>(259)), L"259");
    EXPECT_EQ(DecimalText(LLONG_MIN), std::to_wstring(LLONG_MIN));
    EXPECT_EQ(DecimalText(ULLONG_MAX), std::to_wstring(ULLONG_MAX));
}

TEST(NumberText, FormatTerminatesAndCuts) {
    wchar_t buf[16];
    EXPECT_EQ(FormatText(buf, 16, L"res='%ls' %d", L"a.png", -3), 14);
    EXPECT_STREQ(buf, L"res='a.png' -3");
    // Exactly filling, and past the end: cut, always terminated.
    EXPECT_EQ(FormatText(buf, 6, L"%d", 12345), 5);
    EXPECT_STREQ(buf, L"12345");
    EXPECT_EQ(FormatText(buf, 6, L"dest='%d,%d'", 100, 200), 5);
    EXPECT_STREQ(buf, L"dest=");
    EXPECT_EQ(FormatText(buf, 1, L"%d", 1), 0);
    EXPECT_STREQ(buf, L"");
}

TEST(ValueSyntax, IntegerLists) {
    struct Case {
        const wchar_t* text;
        int v[4];
    } cases[] = {
        {L"0,0,50,0", {0, 0, 50, 0}},
        {L"0, 180", {0, 0, 180, 0}},  // the space ends an empty number: an extra 0
        {L"8,8,108,48", {8, 8, 108, 48}},
        {L"-24,0,-4,20", {-24, 0, -4, 20}},
        {L"1,2", {1, 2, 0, 0}},
        {L"1,2,3,4,5,6", {1, 2, 3, 4}},
        {L"", {0, 0, 0, 0}},
        {L"a,b,c,d", {0, 0, 0, 0}},
        {L"1;2 3x4", {1, 2, 3, 4}},
        {L"12-3,4", {-123, 4, 0, 0}},  // '-' anywhere makes the current number negative
        {L"0, 0, 216, 44", {0, 0, 0, 0}},
        {L",,,7", {0, 0, 0, 7}},
    };
    for (const Case& c : cases) {
        int v[4] = {9, 9, 9, 9};
        ParseIntList(c.text, v, 4);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i], c.v[i]) << testutil::WideToUtf8(c.text) << " #" << i;
    }
    const SIZE two = ParseSize(L"0, 180");
    EXPECT_EQ(two.cx, 0);
    EXPECT_EQ(two.cy, 0);
    const RECT padding = ParseRect(L"0,0,50,0");
    EXPECT_EQ(padding.right, 50);
    const POINT p = ParsePoint(L"3,-4");
    EXPECT_EQ(p.x, 3);
    EXPECT_EQ(p.y, -4);
}

TEST(ValueSyntax, Colours) {
    struct Case {
        const wchar_t* text;
        DWORD value;
    } cases[] = {
        {L"#FFFFFFFF", 0xFFFFFFFFu}, {L"0xffffffff", 0xFFFFFFFFu}, {L"#FF333333", 0xFF333333u},
        {L"0xFF832FFF", 0xFF832FFFu}, {L"#ff8b8989", 0xFF8B8989u}, {L"FF00FF00", 0xFF00FF00u},
        {L"#00FFFFFE", 0x00FFFFFEu}, {L"#123", 0x123u},            {L"", 0u},
        {L"#", 0u},                  {L"#FF-00", 0xFFu},           {L"g", 16u},  // letters count on to 35
        {L"z", 35u},                 {L"#1FFFFFFFF", 0xFFFFFFFFu},  // the ninth digit shifts out
    };
    for (const Case& c : cases) EXPECT_EQ(ParseColor(c.text), c.value) << testutil::WideToUtf8(c.text);
}

TEST(ValueSyntax, BoolWords) {
    struct Case {
        const wchar_t* text;
        bool value;
    } cases[] = {
        {L"true", true},    {L"on", true},     {L"yes", true},  {L"ok", true},      {L"1", true},
        {L"false", false},  {L"off", false},   {L"no", false},  {L"cancel", false}, {L"0", false},
        {L"TRUE", true},    {L"False", true},  {L"nope", true}, {L"", false},       {L" false", true},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseBoolWord(c.text), c.value) << testutil::WideToUtf8(c.text);
    EXPECT_FALSE(ParseBoolWord(nullptr));
}

TEST(Dpi, SnapToTheSkinSteps) {
    struct Case {
        int dpi, snapped;
    } cases[] = {{80, 80}, {95, 95}, {96, 96}, {110, 96}, {119, 96}, {120, 120}, {143, 120},
                 {144, 144}, {150, 144}, {167, 144}, {168, 168}, {191, 168}, {192, 192}, {200, 192}, {480, 192}};
    for (const Case& c : cases) EXPECT_EQ(SnapDpi(c.dpi), c.snapped) << c.dpi;
}

TEST(Dpi, ScaleByPercent) {
    struct Case {
        int dpi, percent, reported;
    } cases[] = {{96, 100, 96}, {120, 125, 120}, {144, 150, 144}, {168, 175, 168}, {192, 200, 192}, {110, 115, 110}};
    for (const Case& c : cases) {
        CDpiScale s;
        s.SetDpi(c.dpi);
        EXPECT_EQ(s.GetScale(), c.percent) << c.dpi;
        EXPECT_EQ(s.GetDpi(), c.reported) << c.dpi;
    }
    CDpiScale s;
    s.SetDpi(120);
    EXPECT_EQ(s.Scale(100), 125);
    EXPECT_EQ(s.ScaleBack(125), 100);
    const RECT r = s.Scale(RECT{8, 8, 108, 48});
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 10);
    EXPECT_EQ(r.right, 135);
    EXPECT_EQ(r.bottom, 60);
    const SIZE sz = s.Scale(SIZE{600, 460});
    EXPECT_EQ(sz.cx, 750);
    EXPECT_EQ(sz.cy, 575);
    const POINT pt = s.Scale(POINT{-8, 3});
    EXPECT_EQ(pt.x, -10);
    EXPECT_EQ(pt.y, 4);  // MulDiv rounds 3.75
    // Position and size scale apart: (1,1,2,2) at 150 % is (2,2,4,4), not (2,2,3,3).
    CDpiScale h;
    h.SetDpi(144);
    const RECT small = h.Scale(RECT{1, 1, 2, 2});
    EXPECT_EQ(small.left, 2);
    EXPECT_EQ(small.right, 4);
}

TEST(Dpi, AwarenessModes) {
    CDpiScale s;
    s.SetDpi(144);
    s.SetAwareness(CDpiScale::Unaware);
    EXPECT_EQ(s.GetScale(), 100);
    EXPECT_EQ(s.GetDpi(), 96);
    EXPECT_EQ(s.Scale(100), 100);
    EXPECT_EQ(s.ScaleBack(100), 100);
    const RECT r = s.Scale(RECT{8, 8, 108, 48});
    EXPECT_EQ(r.right, 108);
    s.SetAwareness(CDpiScale::SystemAware);
    EXPECT_EQ(s.GetScale(), 100);  // the system percent stays at its default
    s.SetSystemScale(0);
    s.SetDpi(120);
    EXPECT_EQ(s.GetSystemScale(), 125);  // copied because it was 0
    EXPECT_EQ(s.Scale(100), 125);
    s.SetAwareness(CDpiScale::PerMonitorAware);
    s.SetDpi(192);
    EXPECT_EQ(s.GetScale(), 200);
    EXPECT_EQ(s.GetSystemScale(), 125);
}

TEST(Dpi, MonitorOfThePrimaryScreen) {
    const HMONITOR primary = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    ASSERT_NE(primary, nullptr);
    const nq::scoped_getdc screen(nullptr);
    const int logPixels = ::GetDeviceCaps(screen.get(), LOGPIXELSX);
    EXPECT_EQ(MonitorDpi(primary), logPixels);
}

}  // namespace
