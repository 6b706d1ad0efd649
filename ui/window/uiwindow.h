// One native window and the object behind it. The window class is registered
// on first use (or a system class superclassed), the object travels as the
// creation parameter, and every message of the window reaches the object's
// ProcessMessage until WM_NCDESTROY.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "nqpublic/nqbase/nqhandle.h"

namespace SkinUI {

class CWindowWnd {
public:
    CWindowWnd() = default;
    // A window that still exists gets WM_CLOSE posted and is let go: its
    // messages no longer reach this object.
    virtual ~CWindowWnd();
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;

    HWND GetHWND() const { return hwnd_; }
    operator HWND() const { return hwnd_; }

    // SW_HIDE, SW_SHOWNORMAL (takeFocus) or SW_SHOWNOACTIVATE; nothing without a window.
    virtual void Show(bool show = true, bool takeFocus = true);
    virtual std::wstring_view WindowClassName() const = 0;
    // A system class to superclass ("" registers a class of our own).
    virtual std::wstring_view SuperClassName() const { return {}; }
    virtual UINT ClassStyle() const { return 0; }
    // The per-object window procedure; by default the previous procedure.
    virtual LRESULT ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // After WM_NCDESTROY, with the handle already forgotten. The object may delete itself here.
    virtual void OnWindowDestroyed(HWND hwnd) { (void)hwnd; }

    // Registers the class when needed and creates the window; null on failure
    // (nothing is created then).
    HWND Create(HWND parent, std::wstring_view name, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU menu = nullptr);
    HWND CreateInRect(HWND parent, std::wstring_view name, DWORD style, DWORD exStyle, const RECT& rc,
                      HMENU menu = nullptr);
    // Routes an existing window's messages through this object (its procedure
    // is put back when the window is destroyed or by Unsubclass). Null when
    // this object already has a window.
    HWND Subclass(HWND hwnd);
    void Unsubclass();

    // Re-enables a modal window's owner, then posts WM_CLOSE with wParam = result.
    void Close(UINT result = IDOK);
    // Centres on the owner, or on the work area of the nearest monitor, and
    // keeps the window inside that work area when it fits.
    void CenterWindow();
    // Big and small icon from the resource instance; the icons live as long as the window.
    void SetIcon(UINT resourceId);
    LRESULT Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    bool Post(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);

    // The procedures of our own and of superclassed classes (object in
    // GWLP_USERDATA, resp. in the window property "WndX").
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

protected:
    bool IsModal() const { return modal_; }
    void SetModal(bool modal) { modal_ = modal; }
    WNDPROC PreviousProc() const { return oldProc_; }

private:
    bool RegisterOwnClass();
    bool RegisterSuperclass();
    // Both procedures: the object found in the user-data slot or the property.
    static LRESULT Route(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool prop);
    // The WM_NCDESTROY steps shared by both procedures.
    static LRESULT FinishWindow(CWindowWnd* self, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool prop);
    void ForgetWindow(bool prop);

    HWND hwnd_ = nullptr;
    WNDPROC oldProc_ = ::DefWindowProcW;
    bool subclassed_ = false;
    bool modal_ = false;
    bool viaProperty_ = false;  // object in the "WndX" property (superclassed or subclassed)
    nq::unique_hicon bigIcon_;
    nq::unique_hicon smallIcon_;
};

}  // namespace SkinUI
