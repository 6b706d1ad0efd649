// A control tree built from markup on a paint manager without a window: laid
// out over a given rectangle and painted into memory DCs.
#pragma once

#include <windows.h>

#include <string>

#include "ui/builder/uibuilder.h"
#include "ui/control/uicontrol.h"
#include "ui/manager/uimanager.h"

namespace uitest {

class Tree {
public:
    // `dpi` 96 is 100 %. The tree is attached; Layout places it.
    explicit Tree(const std::wstring& xml, int dpi = 96) {
        if (dpi != 96) pm.SetDpi(dpi);
        SkinUI::CLayoutBuilder builder;
        root = builder.BuildFrom(xml, nullptr, nullptr, &pm);
        buildError = builder.GetBuildError();
        if (root) pm.AttachRoot(root);
    }
    void Layout(int width, int height) { pm.LayoutTo(RECT{0, 0, width, height}); }
    SkinUI::CControlUI* Find(const wchar_t* name) const { return pm.FindControl(std::wstring(name)); }
    RECT Pos(const wchar_t* name) const {
        SkinUI::CControlUI* c = Find(name);
        return c ? c->GetPos() : RECT{-1, -1, -1, -1};
    }

    SkinUI::CPaintManagerUI pm;
    SkinUI::CControlUI* root = nullptr;
    std::wstring buildError;
};

inline std::string RectText(const RECT& rc) {
    return "(" + std::to_string(rc.left) + "," + std::to_string(rc.top) + "," + std::to_string(rc.right) + "," +
           std::to_string(rc.bottom) + ")";
}

}  // namespace uitest

namespace uitest {

// A plain top-level window whose messages go to a paint manager first (as the
// window base does), for tests that need timers, posted work or painting.
class ManagedWindow {
public:
    explicit ManagedWindow(int width = 400, int height = 300) {
        static const wchar_t* kClass = L"SkinUITestWindow";
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        ::RegisterClassW(&wc);
        hwnd_.reset(::CreateWindowExW(0, kClass, L"", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                                      ::GetModuleHandleW(nullptr), this));
        if (hwnd_) pm.Init(hwnd_.get(), L"test");
    }
    ~ManagedWindow() {
        if (hwnd_) ::SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, 0);
    }
    HWND hwnd() const { return hwnd_.get(); }
    // Builds a layout into the manager and attaches it.
    SkinUI::CControlUI* Load(const std::wstring& xml) {
        SkinUI::CLayoutBuilder builder;
        SkinUI::CControlUI* root = builder.BuildFrom(xml, nullptr, nullptr, &pm);
        if (root) pm.AttachRoot(root);
        return root;
    }
    SkinUI::CControlUI* Find(const wchar_t* name) const { return pm.FindControl(std::wstring(name)); }
    // Sends a message the way the window procedure does.
    LRESULT Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::SendMessageW(hwnd_.get(), msg, wParam, lParam);
    }
    // Runs the thread's posted messages.
    static void Pump() {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    // Declared before the window so that it outlives nothing the window uses.
    SkinUI::CPaintManagerUI pm;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        }
        auto* self = reinterpret_cast<ManagedWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        LRESULT result = 0;
        if (self && self->hwnd_ && self->pm.MessageHandler(msg, wParam, lParam, result)) return result;
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    nq::unique_hwnd hwnd_;
};

}  // namespace uitest
