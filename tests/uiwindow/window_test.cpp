// The native window: class registration and superclassing, the routing of
// messages to the object, Close, CenterWindow and the destruction rules.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "tests/uiwindow/testwindow.h"
#include "ui/window/uiwindow.h"

namespace {

using SkinUI::CWindowWnd;
using uiwindowtest::Pump;

class PlainWindow : public CWindowWnd {
public:
    ~PlainWindow() override {
        if (destroyOnDelete && GetHWND()) ::DestroyWindow(GetHWND());
    }
    std::wstring_view WindowClassName() const override { return L"UiPlainWindow"; }
    LRESULT ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam) override {
        seen.push_back(msg);
        if (msg == WM_CLOSE) closeParams.push_back(wParam);
        return CWindowWnd::ProcessMessage(msg, wParam, lParam);
    }
    void OnWindowDestroyed(HWND hwnd) override {
        destroyed = hwnd;
        handleAtDestroyed = GetHWND();
    }
    void MakeModal() { SetModal(true); }
    bool Saw(UINT msg) const {
        for (UINT m : seen)
            if (m == msg) return true;
        return false;
    }

    std::vector<UINT> seen;
    std::vector<WPARAM> closeParams;
    HWND destroyed = nullptr;
    HWND handleAtDestroyed = reinterpret_cast<HWND>(1);
    bool destroyOnDelete = true;
};

class ButtonWindow : public PlainWindow {
public:
    std::wstring_view WindowClassName() const override { return L"UiSuperButton"; }
    std::wstring_view SuperClassName() const override { return L"BUTTON"; }
};

class NoSuchSuperWindow : public PlainWindow {
public:
    std::wstring_view WindowClassName() const override { return L"UiNoSuchSuper"; }
    std::wstring_view SuperClassName() const override { return L"NoSuchSystemClass"; }
};

RECT WorkAreaOf(HWND hwnd) {
    MONITORINFO mi = {sizeof(mi)};
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &mi);
    return mi.rcWork;
}

RECT WindowRect(HWND hwnd) {
    RECT rc = {};
    ::GetWindowRect(hwnd, &rc);
    return rc;
}

TEST(WindowWnd, CreateRoutesEveryMessageToTheObjectUntilNcDestroy) {
    PlainWindow w;
    HWND hwnd = w.Create(nullptr, L"plain", WS_POPUP, 0, 10, 20, 120, 80);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(w.GetHWND(), hwnd);
    EXPECT_TRUE(w.Saw(WM_NCCREATE));
    EXPECT_TRUE(w.Saw(WM_CREATE));
    EXPECT_EQ(::GetWindowLongPtrW(hwnd, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&w));
    wchar_t cls[64] = {};
    ::GetClassNameW(hwnd, cls, 64);
    EXPECT_STREQ(cls, L"UiPlainWindow");
    EXPECT_EQ(WindowRect(hwnd).right - WindowRect(hwnd).left, 120);

    EXPECT_EQ(w.Send(WM_USER + 5, 1, 2), 0);
    EXPECT_TRUE(w.Saw(WM_USER + 5));
    ASSERT_TRUE(::DestroyWindow(hwnd));
    EXPECT_EQ(w.destroyed, hwnd);
    EXPECT_EQ(w.handleAtDestroyed, nullptr) << "the handle is forgotten before OnWindowDestroyed";
    EXPECT_EQ(w.GetHWND(), nullptr);

    // A second object registers nothing new and gets its own window.
    PlainWindow second;
    HWND other = second.CreateInRect(nullptr, L"second", WS_POPUP, 0, RECT{5, 6, 55, 36});
    ASSERT_NE(other, nullptr);
    const RECT rc = WindowRect(other);
    EXPECT_EQ(rc.left, 5);
    EXPECT_EQ(rc.bottom - rc.top, 30);
}

TEST(WindowWnd, SuperclassKeepsTheSystemProcedureAndTheObjectInAProperty) {
    ButtonWindow w;
    HWND hwnd = w.Create(nullptr, L"knopf", WS_POPUP | BS_PUSHBUTTON, 0, 0, 0, 80, 30);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(::GetPropW(hwnd, L"WndX"), static_cast<HANDLE>(&w));
    EXPECT_EQ(::GetWindowLongPtrW(hwnd, GWLP_USERDATA), 0);
    // WM_SETTEXT/WM_GETTEXT pass the object on to the button's own procedure.
    ::SetWindowTextW(hwnd, L"新文字");
    wchar_t text[32] = {};
    ::GetWindowTextW(hwnd, text, 32);
    EXPECT_STREQ(text, L"新文字");
    EXPECT_TRUE(w.Saw(WM_SETTEXT));
    EXPECT_EQ(::SendMessageW(hwnd, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON, DLGC_BUTTON);
    ::DestroyWindow(hwnd);
    EXPECT_EQ(w.destroyed, hwnd);
    EXPECT_EQ(w.GetHWND(), nullptr);
}

TEST(WindowWnd, MissingSuperclassCreatesNothing) {
    NoSuchSuperWindow w;
    EXPECT_EQ(w.Create(nullptr, L"x", WS_POPUP, 0), nullptr);
    EXPECT_EQ(w.GetHWND(), nullptr);
    EXPECT_TRUE(w.seen.empty());
}

TEST(WindowWnd, CloseReenablesAModalOwnerAndPostsTheResult) {
    PlainWindow owner;
    ASSERT_NE(owner.Create(nullptr, L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 0, 200, 200), nullptr);
    PlainWindow dialog;
    ASSERT_NE(dialog.Create(owner.GetHWND(), L"dialog", WS_POPUP | WS_VISIBLE, 0, 20, 20, 100, 100), nullptr);
    ::EnableWindow(owner.GetHWND(), FALSE);
    dialog.MakeModal();
    dialog.Close(7);
    EXPECT_TRUE(::IsWindowEnabled(owner.GetHWND()));
    EXPECT_TRUE(dialog.closeParams.empty()) << "posted, not sent";
    Pump();
    ASSERT_EQ(dialog.closeParams.size(), 1u);
    EXPECT_EQ(dialog.closeParams[0], 7u);
    EXPECT_EQ(dialog.GetHWND(), nullptr) << "DefWindowProc destroyed it on WM_CLOSE";
    dialog.Close(8);  // no window: nothing
    Pump();
    EXPECT_EQ(dialog.closeParams.size(), 1u);
}

TEST(WindowWnd, DestructorPostsCloseAndLetsTheWindowGo) {
    HWND hwnd = nullptr;
    {
        PlainWindow w;
        w.destroyOnDelete = false;
        hwnd = w.Create(nullptr, L"orphan", WS_POPUP, 0, 0, 0, 50, 50);
        ASSERT_NE(hwnd, nullptr);
    }
    ASSERT_TRUE(::IsWindow(hwnd));
    EXPECT_EQ(::GetWindowLongPtrW(hwnd, GWLP_USERDATA), 0);
    // The posted WM_CLOSE reaches DefWindowProc, which destroys the window.
    Pump();
    EXPECT_FALSE(::IsWindow(hwnd));
}

TEST(WindowWnd, CenterWindowCentresOnOwnerOrWorkAreaAndStaysInside) {
    PlainWindow probe;
    ASSERT_NE(probe.Create(nullptr, L"probe", WS_POPUP, 0, 0, 0, 10, 10), nullptr);
    const RECT work = WorkAreaOf(probe.GetHWND());
    const int workW = work.right - work.left;
    const int workH = work.bottom - work.top;

    struct Case {
        const char* what;
        bool owner;
        RECT ownerRect;      // relative to the work area's top-left
        bool minimiseOwner;
        POINT expected;      // relative to the work area's top-left; -1 = centre of the work area
    };
    const Case cases[] = {
        {"no owner: centre of the work area", false, {}, false, {-1, -1}},
        {"owner well inside: centre of the owner", true, {100, 100, 500, 400}, false, {300 - 100, 250 - 50}},
        {"owner at the left edge: clamped to the work area", true, {0, 0, 120, 120}, false, {0, 10}},
        {"owner at the bottom right: clamped", true, {workW - 60, workH - 60, workW, workH}, false,
         {workW - 200, workH - 100}},
        {"owner barely on screen: work area", true, {workW - 5, 10, workW + 300, 300}, false, {-1, -1}},
        {"owner minimised: work area", true, {100, 100, 500, 400}, true, {-1, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlainWindow owner;
        if (c.owner) {
            const RECT& r = c.ownerRect;
            ASSERT_NE(owner.Create(nullptr, L"owner", WS_POPUP, 0, work.left + r.left, work.top + r.top,
                                   r.right - r.left, r.bottom - r.top),
                      nullptr);
            if (c.minimiseOwner) ::ShowWindow(owner.GetHWND(), SW_MINIMIZE);
        }
        PlainWindow w;
        ASSERT_NE(w.Create(c.owner ? owner.GetHWND() : nullptr, L"centred", WS_POPUP, 0, 3, 3, 200, 100), nullptr);
        w.CenterWindow();
        const RECT rc = WindowRect(w.GetHWND());
        const POINT expected = c.expected.x == -1 ? POINT{work.left + workW / 2 - 100, work.top + workH / 2 - 50}
                                                  : POINT{work.left + c.expected.x, work.top + c.expected.y};
        EXPECT_EQ(rc.left, expected.x);
        EXPECT_EQ(rc.top, expected.y);
        EXPECT_EQ(rc.right - rc.left, 200);
    }
}

TEST(WindowWnd, ShowFollowsTheFlags) {
    PlainWindow w;
    w.Show(true, true);  // no window yet: nothing
    ASSERT_NE(w.Create(nullptr, L"shown", WS_POPUP, 0, 0, 0, 40, 40), nullptr);
    w.Show(true, false);
    EXPECT_TRUE(::IsWindowVisible(w.GetHWND()));
    w.Show(false);
    EXPECT_FALSE(::IsWindowVisible(w.GetHWND()));
}

}  // namespace
