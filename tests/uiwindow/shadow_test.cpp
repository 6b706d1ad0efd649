// The drop shadow: setter ranges, the alpha profile, and the layered window
// that follows its parent (created with the root, moved, hidden and destroyed
// with it).
#include <gtest/gtest.h>

#include <windows.h>

#include "tests/uiwindow/testwindow.h"
#include "ui/window/uishadow.h"

namespace {

using namespace SkinUI;
using uiwindowtest::Pump;
using uiwindowtest::TestWindow;

TEST(Shadow, SettersRefuseValuesOutsideTheirRange) {
    CShadowUI shadow;
    struct Case {
        const char* what;
        bool (*set)(CShadowUI&);
        bool accepted;
    };
    const Case cases[] = {
        {"size -35", [](CShadowUI& s) { return s.SetSize(-35); }, true},
        {"size 35", [](CShadowUI& s) { return s.SetSize(35); }, true},
        {"size 36", [](CShadowUI& s) { return s.SetSize(36); }, false},
        {"size -36", [](CShadowUI& s) { return s.SetSize(-36); }, false},
        {"sharpness 35", [](CShadowUI& s) { return s.SetSharpness(35); }, true},
        {"sharpness 36", [](CShadowUI& s) { return s.SetSharpness(36); }, false},
        {"darkness 255", [](CShadowUI& s) { return s.SetDarkness(255); }, true},
        {"darkness 256", [](CShadowUI& s) { return s.SetDarkness(256); }, false},
        {"position -35,35", [](CShadowUI& s) { return s.SetPosition(-35, 35); }, true},
        {"position 0,36", [](CShadowUI& s) { return s.SetPosition(0, 36); }, false},
        {"position -36,0", [](CShadowUI& s) { return s.SetPosition(-36, 0); }, false},
        {"corner 0,0,0,0", [](CShadowUI& s) { return s.SetShadowCorner(RECT{0, 0, 0, 0}); }, true},
        {"corner with a negative side", [](CShadowUI& s) { return s.SetShadowCorner(RECT{1, 1, -1, 1}); }, false},
    };
    for (const Case& c : cases) {
        CShadowUI s;
        ASSERT_TRUE(s.SetSize(3) && s.SetSharpness(4) && s.SetDarkness(100) && s.SetPosition(1, 2) &&
                    s.SetShadowCorner(RECT{5, 5, 5, 5}));
        EXPECT_EQ(c.set(s), c.accepted) << c.what;
        if (!c.accepted) {
            EXPECT_EQ(s.GetSize(), 3) << c.what;
            EXPECT_EQ(s.GetSharpness(), 4u) << c.what;
            EXPECT_EQ(s.GetDarkness(), 100u) << c.what;
            EXPECT_EQ(s.GetPosition().x, 1) << c.what;
            EXPECT_EQ(s.GetPosition().y, 2) << c.what;
            EXPECT_EQ(s.GetShadowCorner().right, 5) << c.what;
        }
    }
    EXPECT_EQ(shadow.GetDarkness(), 150u);
    EXPECT_EQ(shadow.GetSharpness(), 5u);
    EXPECT_EQ(shadow.GetSize(), 0);
    EXPECT_TRUE(shadow.SetColor(0xFF123456));
    EXPECT_EQ(shadow.GetColor(), 0x00123456u) << "alpha dropped";
}

TEST(Shadow, AlphaFallsOffFromTheOutline) {
    struct Case {
        double d;
        int size;
        unsigned sharpness, darkness;
        int expected;
    };
    const Case cases[] = {
        {0, 0, 5, 150, 150},   {3, 0, 5, 150, 75},   {5, 0, 5, 150, 25}, {5.5, 0, 5, 150, 0},
        {0, 10, 4, 200, 200},  {5.9, 10, 4, 200, 200}, {8, 10, 4, 200, 120}, {10, 10, 4, 200, 40},
        {10.5, 10, 4, 200, 0}, {0, 6, 0, 255, 255},  {6, 6, 0, 255, 255}, {6.5, 6, 0, 255, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CShadowUI::AlphaAt(c.d, c.size, c.sharpness, c.darkness), c.expected)
            << "d=" << c.d << " size=" << c.size << " sharpness=" << c.sharpness;
}

HWND ShadowOf(TestWindow& w) { return w.GetPaintManager().GetShadow()->GetWindow(); }

RECT RectOf(HWND hwnd) {
    RECT rc = {};
    ::GetWindowRect(hwnd, &rc);
    return rc;
}

TEST(Shadow, LayeredWindowFollowsItsParent) {
    TestWindow w(
        L"<Window showshadow=\"true\" shadowsize=\"6\" shadowsharpness=\"4\" shadowposition=\"2,3\" "
        L"shadowcolor=\"#FF102030\"><VerticalLayout/></Window>");
    ASSERT_NE(w.Open(200, 150, 300, 200), nullptr);
    ::UpdateWindow(w.GetHWND());
    Pump();
    CShadowUI* shadow = w.GetPaintManager().GetShadow();
    HWND hwnd = ShadowOf(w);
    ASSERT_NE(hwnd, nullptr);
    wchar_t cls[64] = {};
    ::GetClassNameW(hwnd, cls, 64);
    EXPECT_STREQ(cls, L"QuillShadowWnd");
    EXPECT_EQ(::GetWindowLongW(hwnd, GWL_EXSTYLE) & (WS_EX_LAYERED | WS_EX_TRANSPARENT),
              WS_EX_LAYERED | WS_EX_TRANSPARENT);
    EXPECT_EQ(::GetWindow(hwnd, GW_OWNER), w.GetHWND());
    EXPECT_TRUE(::IsWindowVisible(hwnd));
    EXPECT_EQ(shadow->GetStatus(), CShadowUI::kEnabled | CShadowUI::kVisible | CShadowUI::kParentVisible);
    EXPECT_GE(shadow->DrawCount(), 1u);

    const RECT expected = {200 + 2 - 6, 150 + 3 - 6, 200 + 2 - 6 + 312, 150 + 3 - 6 + 212};
    RECT rc = RectOf(hwnd);
    EXPECT_EQ(rc.left, expected.left);
    EXPECT_EQ(rc.top, expected.top);
    EXPECT_EQ(rc.right, expected.right);
    EXPECT_EQ(rc.bottom, expected.bottom);

    ::SetWindowPos(w.GetHWND(), nullptr, 400, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    rc = RectOf(hwnd);
    EXPECT_EQ(rc.left, 400 - 4);
    EXPECT_EQ(rc.top, 300 - 3);

    // A smaller parent is drawn again at once.
    const unsigned draws = shadow->DrawCount();
    ::SetWindowPos(w.GetHWND(), nullptr, 0, 0, 200, 100, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_GT(shadow->DrawCount(), draws);
    EXPECT_EQ(RectOf(hwnd).right - RectOf(hwnd).left, 212);

    EXPECT_FALSE(shadow->SetSize(40));
    EXPECT_TRUE(shadow->SetSize(10));
    EXPECT_EQ(RectOf(hwnd).right - RectOf(hwnd).left, 220) << "a setter redraws a visible shadow";

    ::ShowWindow(w.GetHWND(), SW_HIDE);
    EXPECT_FALSE(::IsWindowVisible(hwnd));
    ::ShowWindow(w.GetHWND(), SW_SHOWNOACTIVATE);
    EXPECT_TRUE(::IsWindowVisible(hwnd));
    ::ShowWindow(w.GetHWND(), SW_MAXIMIZE);
    EXPECT_FALSE(::IsWindowVisible(hwnd)) << "no shadow around a maximised window";

    HWND parent = w.GetHWND();
    ::DestroyWindow(parent);
    EXPECT_FALSE(::IsWindow(hwnd));
    EXPECT_EQ(ShadowOf(w), nullptr);
}

TEST(Shadow, ShowShadowWithoutSizeDrawsNothing) {
    TestWindow w(L"<Window showshadow=\"true\"><VerticalLayout/></Window>");
    ASSERT_NE(w.Open(), nullptr);
    ::UpdateWindow(w.GetHWND());
    ASSERT_NE(ShadowOf(w), nullptr);
    EXPECT_EQ(w.GetPaintManager().GetShadow()->DrawCount(), 0u);

    TestWindow none(L"<Window><VerticalLayout/></Window>");
    ASSERT_NE(none.Open(), nullptr);
    EXPECT_EQ(ShadowOf(none), nullptr);
}

TEST(Shadow, ObjectGoneBeforeItsParentPutsTheProcedureBack) {
    TestWindow w(L"<Window showshadow=\"true\" shadowsize=\"3\"><VerticalLayout/></Window>");
    ASSERT_NE(w.Open(), nullptr);
    HWND parent = w.GetHWND();
    HWND hwnd = ShadowOf(w);
    ASSERT_NE(hwnd, nullptr);
    const LONG_PTR filtered = ::GetWindowLongPtrW(parent, GWLP_WNDPROC);
    {
        CShadowUI other;  // a shadow that never made a window has nothing to undo
    }
    EXPECT_EQ(::GetWindowLongPtrW(parent, GWLP_WNDPROC), filtered);
    ::DestroyWindow(parent);
    EXPECT_FALSE(::IsWindow(hwnd));
}

}  // namespace
