#include "ui/window/uiwindowimpl.h"

#include <windowsx.h>

#include <algorithm>
#include <cwctype>
#include <unordered_set>

#include "ui/core/uidpi.h"

namespace SkinUI {

SKINUI_BEGIN_MESSAGE_MAP(WindowImplBase, CNotifyPump)
    SKINUI_ON_MSGTYPE(L"click", &WindowImplBase::OnClick)
    SKINUI_ON_MSGTYPE(L"headerclick", &WindowImplBase::OnHeaderClick)
    SKINUI_ON_MSGTYPE(L"selectchanged", &WindowImplBase::OnSelectChanged)
    SKINUI_ON_MSGTYPE(L"textchanged", &WindowImplBase::OnTextChanged)
    SKINUI_ON_MSGTYPE(L"itemselect", &WindowImplBase::OnItemSelect)
    SKINUI_ON_MSGTYPE(L"timer", &WindowImplBase::OnTimer)
SKINUI_END_MESSAGE_MAP()

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// Classes a press may pass through to drag the window.
bool IsStaticClass(const wchar_t* className) {
    static const std::unordered_set<std::wstring> kStatic = {
        L"controlui",  L"textui",          L"labelui",        L"containerui",    L"horizontallayoutui",
        L"verticallayoutui", L"tablayoutui", L"childlayoutui", L"dialoglayoutui", L"progresscontainerui",
    };
    return className && kStatic.count(Lower(className)) != 0;
}

// A decimal resource id: an optional '-', then digits up to the first non-digit.
UINT ParseResourceId(std::wstring_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == L'-') {
        negative = true;
        ++i;
    }
    long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) value = value * 10 + (text[i] - L'0');
    return static_cast<UINT>(negative ? -value : value);
}

}  // namespace

WindowImplBase::WindowImplBase() = default;
WindowImplBase::~WindowImplBase() = default;

std::wstring WindowImplBase::LoadFailureText(std::wstring_view skinFile) {
    return L"加载资源文件失败：" + std::wstring(skinFile);
}

// ---------------------------------------------------------------------------
// Dispatch

LRESULT WindowImplBase::ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    // 1. The window's own handlers, in this order.
    bool handled = true;
    LRESULT result = 0;
    switch (msg) {
    case WM_CREATE: result = OnCreate(msg, wParam, lParam, handled); break;
    case WM_CLOSE: result = OnClose(msg, wParam, lParam, handled); break;
    case WM_DESTROY: result = OnDestroy(msg, wParam, lParam, handled); break;
    case WM_NCACTIVATE: result = OnNcActivate(msg, wParam, lParam, handled); break;
    case WM_NCCALCSIZE: result = OnNcCalcSize(msg, wParam, lParam, handled); break;
    case WM_NCPAINT: result = OnNcPaint(msg, wParam, lParam, handled); break;
    case WM_NCHITTEST: result = OnNcHitTest(msg, wParam, lParam, handled); break;
    case WM_GETMINMAXINFO: result = OnGetMinMaxInfo(msg, wParam, lParam, handled); break;
    case WM_MOUSEWHEEL: result = OnMouseWheel(msg, wParam, lParam, handled); break;
    case WM_SIZE: result = OnSize(msg, wParam, lParam, handled); break;
    case WM_CHAR: result = OnChar(msg, wParam, lParam, handled); break;
    case WM_SYSCOMMAND: result = OnSysCommand(msg, wParam, lParam, handled); break;
    case WM_KEYDOWN: result = OnKeyDown(msg, wParam, lParam, handled); break;
    case WM_KILLFOCUS: result = OnKillFocus(msg, wParam, lParam, handled); break;
    case WM_SETFOCUS: result = OnSetFocus(msg, wParam, lParam, handled); break;
    case WM_LBUTTONUP: result = OnLButtonUp(msg, wParam, lParam, handled); break;
    case WM_LBUTTONDOWN: result = OnLButtonDown(msg, wParam, lParam, handled); break;
    case WM_MOUSEMOVE: result = OnMouseMove(msg, wParam, lParam, handled); break;
    case WM_MOUSEHOVER: result = OnMouseHover(msg, wParam, lParam, handled); break;
    case WM_RBUTTONDOWN: result = OnRButtonDown(msg, wParam, lParam, handled); break;
    case WM_RBUTTONUP: result = OnRButtonUp(msg, wParam, lParam, handled); break;
    default: handled = false; break;
    }
    if (handled) {
        if (msg == WM_DESTROY) ReleaseManagerWindow();
        return result;
    }
    // 2. The subclass's other messages.
    handled = true;
    result = OnOtherMessage(msg, wParam, lParam, handled);
    if (handled) return result;
    // 3. The paint manager.
    if (!paintManager_.MessageHandler(msg, wParam, lParam, result)) {
        // 4. The previous procedure.
        result = CWindowWnd::ProcessMessage(msg, wParam, lParam);
    }
    if (msg == WM_DESTROY) ReleaseManagerWindow();
    return result;
}

void WindowImplBase::ReleaseManagerWindow() {
    // The manager's DC of this window must go back while the window exists,
    // and a destroyed window's manager is no longer a live one.
    if (paintManager_.GetPaintWindow() == GetHWND()) paintManager_.Init(nullptr);
}

void WindowImplBase::OnWindowDestroyed(HWND) {
    paintManager_.RemovePreMessageFilter(this);
    paintManager_.RemoveNotifier(this);
    if (CControlUI* root = paintManager_.GetRoot()) paintManager_.ReapObjects(root);
}

void WindowImplBase::Notify(NotifyMessage& msg) {
    if (msg.pSender) DispatchNotify(msg);
}

LRESULT WindowImplBase::MessageHandler(UINT msg, WPARAM wParam, LPARAM, bool&) {
    if (msg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) return IsDefaultKey(wParam) ? 1 : 0;
    return 0;
}

CControlUI* WindowImplBase::CreateControlFor(const wchar_t*) { return nullptr; }

std::wstring WindowImplBase::QueryControlText(const std::wstring&, const std::wstring&) { return {}; }

LONG WindowImplBase::WindowStyle() const {
    return static_cast<LONG>(::GetWindowLongW(GetHWND(), GWL_STYLE) & ~WS_CAPTION);
}

// ---------------------------------------------------------------------------
// Creation

CControlUI* WindowImplBase::BuildSkin() {
    CLayoutBuilder builder;
    const std::wstring type(SkinResourceType());
    if (!type.empty())
        return builder.BuildFrom(STRINGorID(ParseResourceId(SkinFile())), type.c_str(), this, &paintManager_);
    return builder.BuildFrom(STRINGorID(std::wstring(SkinFile())), nullptr, this, &paintManager_);
}

void WindowImplBase::OnSkinLoadFailed() {
    ::MessageBoxW(nullptr, LoadFailureText(SkinFile()).c_str(), L"SkinUI", MB_OK | MB_ICONHAND);
    ::ExitProcess(1);
}

LRESULT WindowImplBase::OnCreate(UINT, WPARAM, LPARAM, bool& handled) {
    handled = true;
    // 1. No system caption; children are clipped.
    ::SetWindowLongW(GetHWND(), GWL_STYLE, WindowStyle() | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    // 2. The paint manager takes the window.
    const std::wstring managerName(ManagerName());
    paintManager_.Init(GetHWND(), managerName.empty() ? nullptr : managerName.c_str());
    paintManager_.AddPreMessageFilter(this);
    // 3-4. The control tree.
    OnBeforeBuild();
    CControlUI* root = BuildSkin();
    if (!root) {
        OnSkinLoadFailed();
        return -1;  // only when a subclass chose to go on: the window is not created
    }
    // 5. Attached and announced.
    paintManager_.AttachRoot(root);
    paintManager_.AddNotifier(this);
    OnInitWindow();
    return 0;
}

// ---------------------------------------------------------------------------
// Frame

LRESULT WindowImplBase::OnNcActivate(UINT, WPARAM wParam, LPARAM, bool& handled) {
    if (::IsIconic(GetHWND())) {
        handled = false;
        return 0;
    }
    return wParam == 0 ? TRUE : FALSE;
}

LRESULT WindowImplBase::OnNcCalcSize(UINT, WPARAM, LPARAM, bool&) { return 0; }
LRESULT WindowImplBase::OnNcPaint(UINT, WPARAM, LPARAM, bool&) { return 0; }

LRESULT WindowImplBase::OnNcHitTest(UINT, WPARAM, LPARAM lParam, bool&) {
    POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ::ScreenToClient(GetHWND(), &pt);
    RECT client = {};
    ::GetClientRect(GetHWND(), &client);

    // 1. The size box, when the window is not maximised.
    if (!::IsZoomed(GetHWND())) {
        const RECT box = paintManager_.GetSizeBox();
        const RECT inset = paintManager_.GetSizeBoxInset();
        RECT rc = client;
        rc.left += inset.left;
        rc.top += inset.top;
        rc.right -= inset.right;
        rc.bottom -= inset.bottom;
        if (pt.y < rc.top + box.top) {
            if (pt.x < rc.left + box.left) return HTTOPLEFT;
            if (pt.x > rc.right - box.right) return HTTOPRIGHT;
            return HTTOP;
        }
        if (pt.y > rc.bottom - box.bottom) {
            if (pt.x < rc.left + box.left) return HTBOTTOMLEFT;
            if (pt.x > rc.right - box.right) return HTBOTTOMRIGHT;
            return HTBOTTOM;
        }
        if (pt.x < rc.left + box.left) return HTLEFT;
        if (pt.x > rc.right - box.right) return HTRIGHT;
    }

    // 2. The caption band, over controls that do not take the mouse themselves.
    const RECT caption = paintManager_.GetCaptionRect();
    const int bottom = paintManager_.ScaleValue(caption.bottom);
    if (pt.x < client.left + caption.left || pt.x >= client.right - caption.right) return HTCLIENT;
    const int captionBottom = bottom == -1 ? client.bottom : bottom;
    if (pt.y >= caption.top && pt.y < captionBottom) {
        CControlUI* control = paintManager_.FindControl(pt);
        if (IsStaticControl(control, pt)) return HTCAPTION;
    }
    return HTCLIENT;
}

bool WindowImplBase::IsStaticControl(CControlUI* control, POINT) {
    if (!control || !IsStaticClass(control->GetClass())) return false;
    for (CControlUI* parent = control->GetParent(); parent; parent = parent->GetParent())
        if (!IsStaticClass(parent->GetClass())) return false;
    return true;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, bool&) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    MONITORINFO mi = {sizeof(mi)};
    ::GetMonitorInfoW(::MonitorFromWindow(GetHWND(), MONITOR_DEFAULTTOPRIMARY), &mi);
    RECT work = mi.rcWork;
    if (!(mi.dwFlags & MONITORINFOF_PRIMARY)) ::OffsetRect(&work, -work.left, -work.top);
    const SIZE workSize = {work.right - work.left, work.bottom - work.top};
    info->ptMaxPosition = {work.left, work.top};
    info->ptMaxSize = {workSize.cx, workSize.cy};
    const SIZE maxInfo = paintManager_.GetMaxInfo();
    info->ptMaxTrackSize = {maxInfo.cx ? maxInfo.cx : workSize.cx, maxInfo.cy ? maxInfo.cy : workSize.cy};
    const SIZE minInfo = paintManager_.GetMinInfo();
    info->ptMinTrackSize = {paintManager_.ScaleValue(minInfo.cx), paintManager_.ScaleValue(minInfo.cy)};
    return 0;
}

LRESULT WindowImplBase::OnSize(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;  // the paint manager sees WM_SIZE too
    const SIZE corner = paintManager_.GetRoundCorner();
    if (::IsIconic(GetHWND()) || (corner.cx == 0 && corner.cy == 0)) return 0;
    RECT rc = {};
    ::GetWindowRect(GetHWND(), &rc);
    nq::unique_hrgn region(
        ::CreateRoundRectRgn(0, 0, rc.right - rc.left + 1, rc.bottom - rc.top + 1, corner.cx, corner.cy));
    // The system owns the region once it is the window's.
    if (region && ::SetWindowRgn(GetHWND(), region.get(), TRUE)) (void)region.release();
    return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT msg, WPARAM wParam, LPARAM lParam, bool&) {
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        Send(WM_CLOSE);
        return 0;
    }
    const bool wasZoomed = ::IsZoomed(GetHWND()) != FALSE;
    const LRESULT result = CWindowWnd::ProcessMessage(msg, wParam, lParam);
    if (!GetHWND()) return result;
    const bool zoomed = ::IsZoomed(GetHWND()) != FALSE;
    if (zoomed != wasZoomed && !::IsIconic(GetHWND())) {
        CControlUI* maxButton = paintManager_.FindControl(std::wstring(L"maxbtn"));
        CControlUI* restoreButton = paintManager_.FindControl(std::wstring(L"restorebtn"));
        if (maxButton) maxButton->SetVisible(!zoomed);
        if (restoreButton) restoreButton->SetVisible(zoomed);
    }
    return result;
}

// ---------------------------------------------------------------------------
// Defaults

void WindowImplBase::OnClick(NotifyMessage& msg) {
    const std::wstring name = msg.pSender ? msg.pSender->GetName() : std::wstring();
    if (name == L"closebtn") Close(1);
    else if (name == L"minbtn") Send(WM_SYSCOMMAND, SC_MINIMIZE);
    else if (name == L"maxbtn") Send(WM_SYSCOMMAND, SC_MAXIMIZE);
    else if (name == L"restorebtn") Send(WM_SYSCOMMAND, SC_RESTORE);
}

#define SKINUI_NOT_HANDLED(name)                                    \
    LRESULT WindowImplBase::name(UINT, WPARAM, LPARAM, bool& handled) { \
        handled = false;                                            \
        return 0;                                                   \
    }
SKINUI_NOT_HANDLED(OnClose)
SKINUI_NOT_HANDLED(OnDestroy)
SKINUI_NOT_HANDLED(OnMouseWheel)
SKINUI_NOT_HANDLED(OnMouseHover)
SKINUI_NOT_HANDLED(OnChar)
SKINUI_NOT_HANDLED(OnKeyDown)
SKINUI_NOT_HANDLED(OnKillFocus)
SKINUI_NOT_HANDLED(OnSetFocus)
SKINUI_NOT_HANDLED(OnLButtonDown)
SKINUI_NOT_HANDLED(OnLButtonUp)
SKINUI_NOT_HANDLED(OnRButtonDown)
SKINUI_NOT_HANDLED(OnRButtonUp)
SKINUI_NOT_HANDLED(OnMouseMove)
SKINUI_NOT_HANDLED(OnOtherMessage)
#undef SKINUI_NOT_HANDLED

}  // namespace SkinUI
