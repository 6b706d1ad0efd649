#include "ui/window/uiwindow.h"

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "ui/manager/uimanager.h"

namespace SkinUI {

namespace {

constexpr wchar_t kObjectProperty[] = L"WndX";

std::wstring Terminated(std::wstring_view text) { return std::wstring(text); }

int RoundUp16(int value) { return (value + 15) / 16 * 16; }

}  // namespace

CWindowWnd::~CWindowWnd() {
    if (!hwnd_ || !::IsWindow(hwnd_)) return;
    ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    // The icons die with this object: the window must not keep showing them.
    if (bigIcon_ || smallIcon_) {
        ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, 0);
        ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, 0);
    }
    ForgetWindow(viaProperty_);
}

void CWindowWnd::ForgetWindow(bool prop) {
    if (prop) ::RemovePropW(hwnd_, kObjectProperty);
    else ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    if (subclassed_) {
        ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc_));
        subclassed_ = false;
        oldProc_ = ::DefWindowProcW;
    }
    hwnd_ = nullptr;
}

void CWindowWnd::Show(bool show, bool takeFocus) {
    if (!hwnd_ || !::IsWindow(hwnd_)) return;
    ::ShowWindow(hwnd_, !show ? SW_HIDE : (takeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE));
}

LRESULT CWindowWnd::ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcW(oldProc_, hwnd_, msg, wParam, lParam);
}

bool CWindowWnd::RegisterOwnClass() {
    const std::wstring className = Terminated(WindowClassName());
    WNDCLASSW wc = {};
    wc.style = ClassStyle();
    wc.lpfnWndProc = &CWindowWnd::WindowProc;
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = className.c_str();
    if (::RegisterClassW(&wc)) return true;
    if (::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return true;
    TRACE_FAILURE("RegisterClassW");
    return false;
}

bool CWindowWnd::RegisterSuperclass() {
    const std::wstring superName = Terminated(SuperClassName());
    const std::wstring className = Terminated(WindowClassName());
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(nullptr, superName.c_str(), &wc) &&
        !::GetClassInfoExW(CPaintManagerUI::GetInstance(), superName.c_str(), &wc)) {
        TRACE_FAILURE("GetClassInfoExW");
        return false;
    }
    oldProc_ = wc.lpfnWndProc;
    wc.lpfnWndProc = &CWindowWnd::ControlProc;
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.lpszClassName = className.c_str();
    if (::RegisterClassExW(&wc)) return true;
    if (::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return true;
    TRACE_FAILURE("RegisterClassExW");
    return false;
}

HWND CWindowWnd::Create(HWND parent, std::wstring_view name, DWORD style, DWORD exStyle, int x, int y, int cx,
                        int cy, HMENU menu) {
    if (hwnd_) return nullptr;  // one window per object
    const bool super = !SuperClassName().empty();
    if (super ? !RegisterSuperclass() : !RegisterOwnClass()) return nullptr;
    viaProperty_ = super;
    const std::wstring className = Terminated(WindowClassName());
    const std::wstring title = Terminated(name);
    HWND hwnd = ::CreateWindowExW(exStyle, className.c_str(), title.c_str(), style, x, y, cx, cy, parent, menu,
                                  CPaintManagerUI::GetInstance(), this);
    if (!hwnd) {
        TRACE_FAILURE("CreateWindowExW");
        return nullptr;  // a window that died inside its creation is already forgotten
    }
    hwnd_ = hwnd;
    return hwnd;
}

HWND CWindowWnd::CreateInRect(HWND parent, std::wstring_view name, DWORD style, DWORD exStyle, const RECT& rc,
                              HMENU menu) {
    return Create(parent, name, style, exStyle, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, menu);
}

HWND CWindowWnd::Subclass(HWND hwnd) {
    if (hwnd_ || !::IsWindow(hwnd)) return nullptr;
    if (!::SetPropW(hwnd, kObjectProperty, this)) return nullptr;
    hwnd_ = hwnd;
    viaProperty_ = true;
    oldProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWindowWnd::ControlProc)));
    subclassed_ = true;
    return hwnd_;
}

void CWindowWnd::Unsubclass() {
    if (!hwnd_ || !subclassed_ || !::IsWindow(hwnd_)) return;
    ForgetWindow(true);
}

void CWindowWnd::Close(UINT result) {
    if (modal_) {
        HWND owner = ::GetWindow(hwnd_, GW_OWNER);
        if (owner) {
            ::EnableWindow(owner, TRUE);
            ::SetFocus(owner);
        }
        modal_ = false;
    }
    if (hwnd_ && ::IsWindow(hwnd_)) ::PostMessageW(hwnd_, WM_CLOSE, result, 0);
}

void CWindowWnd::CenterWindow() {
    if (!hwnd_ || !::IsWindow(hwnd_)) return;
    RECT rcWindow = {};
    ::GetWindowRect(hwnd_, &rcWindow);
    HWND owner = ::GetWindow(hwnd_, GW_OWNER);
    MONITORINFO mi = {sizeof(mi)};
    ::GetMonitorInfoW(::MonitorFromWindow(owner ? owner : hwnd_, MONITOR_DEFAULTTONEAREST), &mi);
    const RECT& work = mi.rcWork;

    RECT rcCentre = work;
    RECT rcOwner = {};
    if (owner && !::IsIconic(owner) && ::GetWindowRect(owner, &rcOwner)) {
        RECT overlap = {};
        ::IntersectRect(&overlap, &rcOwner, &work);
        if (overlap.right - overlap.left >= 10 && overlap.bottom - overlap.top >= 10) rcCentre = rcOwner;
    }
    const int width = rcWindow.right - rcWindow.left;
    const int height = rcWindow.bottom - rcWindow.top;
    int left = (rcCentre.left + rcCentre.right) / 2 - width / 2;
    int top = (rcCentre.top + rcCentre.bottom) / 2 - height / 2;
    if (left < work.left) left = work.left;
    else if (left + width > work.right) left = work.right - width;
    if (top < work.top) top = work.top;
    else if (top + height > work.bottom) top = work.bottom - height;
    ::SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::SetIcon(UINT resourceId) {
    if (!hwnd_) return;
    const int cx = RoundUp16(::GetSystemMetrics(SM_CXICON));
    const int cy = RoundUp16(::GetSystemMetrics(SM_CYICON));
    HINSTANCE instance = CPaintManagerUI::GetInstance();
    nq::unique_hicon big(static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR)));
    nq::unique_hicon small(static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR)));
    if (!big || !small) {
        TRACE_FAILURE("LoadImageW");
        return;
    }
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
    // The window no longer shows the former icons.
    bigIcon_ = std::move(big);
    smallIcon_ = std::move(small);
}

LRESULT CWindowWnd::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(hwnd_, msg, wParam, lParam);
}

bool CWindowWnd::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(hwnd_, msg, wParam, lParam) != FALSE;
}

LRESULT CWindowWnd::FinishWindow(CWindowWnd* self, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool prop) {
    const LRESULT result = ::CallWindowProcW(self->oldProc_, hwnd, msg, wParam, lParam);
    self->ForgetWindow(prop);
    self->bigIcon_.reset();
    self->smallIcon_.reset();
    self->OnWindowDestroyed(hwnd);  // may delete the object: nothing after this
    return result;
}

LRESULT CWindowWnd::Route(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool prop) {
    CWindowWnd* self = nullptr;
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        self = static_cast<CWindowWnd*>(cs->lpCreateParams);
        if (self) {
            self->hwnd_ = hwnd;
            if (prop) ::SetPropW(hwnd, kObjectProperty, self);
            else ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
    } else {
        self = prop ? static_cast<CWindowWnd*>(::GetPropW(hwnd, kObjectProperty))
                    : reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && msg == WM_NCDESTROY) return FinishWindow(self, hwnd, msg, wParam, lParam, prop);
    }
    if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->ProcessMessage(msg, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return Route(hwnd, msg, wParam, lParam, false);
}

LRESULT CALLBACK CWindowWnd::ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return Route(hwnd, msg, wParam, lParam, true);
}

}  // namespace SkinUI
