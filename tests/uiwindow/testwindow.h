// A skinned window for the tests: its layout is an XML text, it records the
// messages its handlers see, and two custom controls stand for "a control that
// takes the mouse" and "a container that is not a layout".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/control/uicontainer.h"
#include "ui/window/uiwindowimpl.h"

namespace uiwindowtest {

using namespace SkinUI;

class CClickyUI : public CControlUI {
public:
    const wchar_t* GetClass() const override { return L"ClickyUI"; }
};

class CPanelUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override { return L"PanelUI"; }
};

class TestWindow : public WindowImplBase {
public:
    explicit TestWindow(std::wstring layout) : layout_(std::move(layout)) {}
    ~TestWindow() override {
        if (GetHWND()) ::DestroyWindow(GetHWND());
    }

    std::wstring_view WindowClassName() const override { return L"UiWindowTest"; }
    std::wstring_view SkinFile() const override { return layout_; }
    CControlUI* CreateControlFor(const wchar_t* name) override {
        const std::wstring element = name;
        if (element == L"Clicky") return new CClickyUI;
        if (element == L"Panel") return new CPanelUI;
        return nullptr;
    }
    LRESULT OnClose(UINT, WPARAM wParam, LPARAM, bool& handled) override {
        closes.push_back(wParam);
        handled = false;  // the window goes on to be destroyed
        return 0;
    }
    void OnWindowDestroyed(HWND hwnd) override {
        destroyedHwnd = hwnd;
        WindowImplBase::OnWindowDestroyed(hwnd);
    }

    // A window of `cx` x `cy` at (x, y), shown without activation (under Wine
    // with no window manager, hiding an activated window waits seconds).
    HWND Open(int x = 100, int y = 100, int cx = 300, int cy = 200) {
        HWND hwnd = Create(nullptr, L"uiwindow test", WS_POPUP, 0, x, y, cx, cy);
        if (hwnd) ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
        return hwnd;
    }
    // WM_NCHITTEST at a client point.
    LRESULT HitTest(int x, int y) {
        POINT pt = {x, y};
        ::ClientToScreen(GetHWND(), &pt);
        return Send(WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y));
    }

    std::vector<WPARAM> closes;
    HWND destroyedHwnd = nullptr;

private:
    std::wstring layout_;
};

// Runs this thread's pending messages.
inline void Pump() {
    MSG msg;
    for (int i = 0; i < 5; ++i)
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
}

}  // namespace uiwindowtest
