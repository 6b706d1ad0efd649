// The paint manager's input side: window messages to control events, mouse
// tracking, capture, hover and tooltips, keyboard focus and Tab order, control
// timers, and the message loop over every live manager.
#include <windowsx.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "ui/control/uicontrol.h"
#include "ui/manager/uimanager.h"
#include "ui/manager/uimanager_state.h"

namespace SkinUI {
namespace {

POINT PointFromLParam(LPARAM lParam) { return POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

WORD KeyState() {
    WORD state = 0;
    if (::GetKeyState(VK_LBUTTON) < 0) state |= MK_UI_LBUTTON;
    if (::GetKeyState(VK_RBUTTON) < 0) state |= MK_UI_RBUTTON;
    if (::GetKeyState(VK_SHIFT) < 0) state |= MK_UI_SHIFT;
    if (::GetKeyState(VK_CONTROL) < 0) state |= MK_UI_CONTROL;
    if (::GetKeyState(VK_MENU) < 0) state |= MK_UI_ALT;
    return state;
}

bool IsInside(const CControlUI* ancestor, const CControlUI* control) {
    for (const CControlUI* c = control; c; c = c->GetParent())
        if (c == ancestor) return true;
    return false;
}

CControlUI* CALLBACK CollectTabStops(CControlUI* control, LPVOID data) {
    if (control->GetControlFlags() & UIFLAG_TABSTOP) static_cast<std::vector<CControlUI*>*>(data)->push_back(control);
    return nullptr;
}

struct ShortcutSearch {
    WCHAR ch;
    bool pickNext;
};

CControlUI* CALLBACK MatchShortcut(CControlUI* control, LPVOID data) {
    ShortcutSearch* s = static_cast<ShortcutSearch*>(data);
    if (!control->IsVisible()) return nullptr;
    if (s->pickNext) return control;
    if (std::towupper(control->GetShortcut()) != std::towupper(s->ch)) return nullptr;
    // A label names the control that follows it.
    if (control->GetInterface(L"Label")) {
        s->pickNext = true;
        return nullptr;
    }
    return control;
}

}  // namespace

// ---------------------------------------------------------------------------
// Events

ControlEvent CPaintManagerUI::MakeEvent(int type, CControlUI* sender, WPARAM wParam, LPARAM lParam) const {
    ControlEvent e;
    e.Type = type;
    e.pSender = sender;
    e.dwTimestamp = ::GetTickCount();
    e.ptMouse = lastMousePos_;
    e.wKeyState = KeyState();
    e.wParam = wParam;
    e.lParam = lParam;
    return e;
}

void CPaintManagerUI::SendEvent(CControlUI* control, int type, WPARAM wParam, LPARAM lParam) {
    if (!control) return;
    ControlEvent e = MakeEvent(type, control, wParam, lParam);
    control->Event(e);
}

void CPaintManagerUI::SetCapture() {
    if (hwnd_) ::SetCapture(hwnd_);
    mouseCapture_ = true;
}

void CPaintManagerUI::ReleaseCapture() {
    if (hwnd_ && ::GetCapture() == hwnd_) ::ReleaseCapture();
    mouseCapture_ = false;
}

// ---------------------------------------------------------------------------
// Message handling

bool CPaintManagerUI::MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // 1. No window yet.
    if (!hwnd_) return false;

    // 2. Message filters; the first that handles the message wins.
    {
        const auto filters = messageFilters_;
        for (IMessageFilterUI* filter : filters) {
            if (std::find(messageFilters_.begin(), messageFilters_.end(), filter) == messageFilters_.end()) continue;
            bool handled = false;
            const LRESULT r = filter->MessageHandler(msg, wParam, lParam, handled);
            if (!handled) continue;
            switch (msg) {
            case WM_CONTEXTMENU:
            case WM_MOUSEWHEEL: {
                POINT pt = PointFromLParam(lParam);
                ::ScreenToClient(hwnd_, &pt);
                lastMousePos_ = pt;
                break;
            }
            case WM_MOUSEMOVE:
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
            case WM_LBUTTONUP:
                lastMousePos_ = PointFromLParam(lParam);
                break;
            default:
                break;
            }
            result = r;
            return true;
        }
    }

    // 3. A layered window draws no frame.
    if (IsLayered()) {
        switch (msg) {
        case WM_NCACTIVATE:
            if (!::IsIconic(hwnd_)) {
                result = (wParam == 0) ? TRUE : FALSE;
                return true;
            }
            break;
        case WM_NCCALCSIZE:
        case WM_NCPAINT:
            result = 0;
            return true;
        default:
            break;
        }
    }

    // 4. By message.
    switch (msg) {
    case WM_UI_QUEUED_WORK:
        ProcessQueuedWork();
        return false;
    case WM_TIMER:
        for (const TimerInfo& t : timers_) {
            if (t.hwnd == hwnd_ && t.winTimer == LOWORD(wParam) && !t.killed) {
                ControlEvent e = MakeEvent(UIEVENT_TIMER, t.sender, t.localId, lParam);
                CControlUI* sender = t.sender;
                sender->Event(e);  // may change the timer list: stop here
                break;
            }
        }
        return false;
    case WM_PAINT:
        OnPaint();
        result = 0;
        return true;
    case WM_PRINTCLIENT: {
        if (!root_) return false;
        RECT rc;
        ::GetClientRect(hwnd_, &rc);
        HDC dc = reinterpret_cast<HDC>(wParam);
        const int saved = ::SaveDC(dc);
        root_->Paint(dc, rc, nullptr);
        if (lParam & PRF_CHILDREN) {
            for (HWND child = ::GetWindow(hwnd_, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
                RECT pos;
                ::GetWindowRect(child, &pos);
                ::MapWindowPoints(HWND_DESKTOP, hwnd_, reinterpret_cast<LPPOINT>(&pos), 2);
                ::SetWindowOrgEx(dc, -pos.left, -pos.top, nullptr);
                ::SendMessageW(child, WM_PRINT, wParam, lParam | PRF_NONCLIENT);
            }
        }
        ::RestoreDC(dc, saved);
        return false;
    }
    case WM_SIZE:
        if (focus_) SendEvent(focus_, UIEVENT_WINDOWSIZE);
        if (root_) root_->NeedUpdate();
        updateNeeded_ = true;
        result = 0;
        return true;
    case WM_SETFOCUS:
        if (focus_) SendEvent(focus_, UIEVENT_SETFOCUS);
        return false;
    case WM_KILLFOCUS:
        if (killFocusSendButtonUp_ && pushed_) SendEvent(pushed_, UIEVENT_BUTTONUP);
        SetFocus(nullptr);
        return false;
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_CLOSE:
        if (hover_) SendEvent(hover_, UIEVENT_MOUSELEAVE);
        if (pushed_) SendEvent(pushed_, UIEVENT_BUTTONUP);
        SetFocus(nullptr);
        if (::GetActiveWindow() == hwnd_) {
            if (HWND owner = ::GetWindow(hwnd_, GW_OWNER)) ::SetFocus(owner);
        }
        hwndTooltip_.reset();
        lastTooltip_ = nullptr;
        return false;
    case WM_MOUSEMOVE:
        return OnMouseMove(wParam, lParam);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        return OnButtonDown(msg, wParam, lParam);
    case WM_LBUTTONUP:
    case WM_MBUTTONUP:
    case WM_RBUTTONUP:
        return OnButtonUp(msg, wParam, lParam);
    case WM_CONTEXTMENU:
        if (root_ && pushed_) {
            ReleaseCapture();
            SendEvent(pushed_, UIEVENT_CONTEXTMENU, wParam, reinterpret_cast<LPARAM>(pushed_));
            pushed_ = nullptr;
        }
        return false;
    case WM_MOUSEWHEEL: {
        if (!root_) return false;
        POINT pt = PointFromLParam(lParam);
        ::ScreenToClient(hwnd_, &pt);
        lastMousePos_ = pt;
        CControlUI* control = FindControl(pt);
        if (!control || control->GetManager() != this) return false;
        const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
        SendEvent(control, UIEVENT_SCROLLWHEEL, delta < 0 ? 1 : 0, lParam);
        // Refresh the hover state at the new content position.
        ::SendMessageW(hwnd_, WM_MOUSEMOVE, 0, MAKELPARAM(lastMousePos_.x, lastMousePos_.y));
        return false;
    }
    case WM_MOUSEHOVER:
        return OnMouseHover(wParam, lParam, result);
    case WM_MOUSELEAVE:
        OnMouseLeave();
        return false;
    case WM_SETCURSOR: {
        if (!root_ || LOWORD(lParam) != HTCLIENT) return false;
        if (mouseCapture_) {
            result = TRUE;
            return true;
        }
        POINT pt;
        ::GetCursorPos(&pt);
        ::ScreenToClient(hwnd_, &pt);
        CControlUI* control = FindControl(pt);
        if (!control || !(control->GetControlFlags() & UIFLAG_SETCURSOR)) return false;
        SendEvent(control, UIEVENT_SETCURSOR, wParam, lParam);
        result = TRUE;
        return true;
    }
    case WM_KEYDOWN:
        if (!focus_) return false;
        {
            ControlEvent e = MakeEvent(UIEVENT_KEYDOWN, focus_, wParam, lParam);
            e.chKey = static_cast<WCHAR>(wParam);
            keyControl_ = focus_;
            focus_->Event(e);
        }
        return false;
    case WM_KEYUP:
        if (!keyControl_) return false;
        {
            ControlEvent e = MakeEvent(UIEVENT_KEYUP, keyControl_, wParam, lParam);
            e.chKey = static_cast<WCHAR>(wParam);
            CControlUI* control = keyControl_;
            keyControl_ = nullptr;
            control->Event(e);
        }
        return false;
    case WM_CHAR:
        if (!focus_) return false;
        {
            ControlEvent e = MakeEvent(UIEVENT_CHAR, focus_, wParam, lParam);
            e.chKey = static_cast<WCHAR>(wParam);
            focus_->Event(e);
        }
        return false;
    case WM_COMMAND:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_NOTIFY: {
        // Reflected to the child window that sent it.
        HWND child = nullptr;
        if (msg == WM_NOTIFY) {
            const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
            if (hdr) child = hdr->hwndFrom;
        } else {
            child = reinterpret_cast<HWND>(lParam);
        }
        if (!child || !::IsWindow(child)) return false;
        const UINT reflected = msg == WM_COMMAND ? 0x2111 : msg + 0x2000;
        const LRESULT r = ::SendMessageW(child, reflected, wParam, lParam);
        if (msg == WM_NOTIFY) {
            result = r;
            return true;
        }
        if (r != 0) {
            result = r;
            return true;
        }
        return false;
    }
    case WM_GETMINMAXINFO: {
        MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
        if (!info) return false;
        if (minInfo_.cx > 0) info->ptMinTrackSize.x = minInfo_.cx;
        if (minInfo_.cy > 0) info->ptMinTrackSize.y = minInfo_.cy;
        if (maxInfo_.cx > 0) info->ptMaxTrackSize.x = maxInfo_.cx;
        if (maxInfo_.cy > 0) info->ptMaxTrackSize.y = maxInfo_.cy;
        return false;
    }
    default:
        return false;
    }
}

bool CPaintManagerUI::OnMouseMove(WPARAM wParam, LPARAM lParam) {
    // (a) Hover and leave tracking.
    if (!mouseTracking_) {
        TRACKMOUSEEVENT tme = {sizeof(tme)};
        tme.dwFlags = TME_HOVER | TME_LEAVE;
        tme.hwndTrack = hwnd_;
        tme.dwHoverTime = hwndTooltip_ ? static_cast<DWORD>(::SendMessageW(hwndTooltip_.get(), TTM_GETDELAYTIME,
                                                                          TTDT_INITIAL, 0))
                                       : hoverTime_;
        ::TrackMouseEvent(&tme);
        mouseTracking_ = true;
    }
    // (b) Where the mouse is.
    const POINT previous = lastMousePos_;
    const POINT pt = PointFromLParam(lParam);
    lastMousePos_ = pt;
    CControlUI* control = FindControl(pt);
    // (c) Hover changes while the mouse is free.
    if (!mouseCapture_) {
        if (control && control->GetManager() != this) return false;
        if (control != hover_ && hover_) {
            const auto leaving = mouseLeaveNeeded_;
            for (CControlUI* c : leaving) SendEvent(c, UIEVENT_MOUSELEAVE);
            CControlUI* old = hover_;
            hover_ = nullptr;
            SendEvent(old, UIEVENT_MOUSELEAVE);
            HideTooltip();
        }
        if (control != hover_ && control) {
            hover_ = control;
            SendEvent(control, UIEVENT_MOUSEENTER);
        }
    }
    // (d) Dragging the pressed control, or plain moves.
    if (pushed_) {
        const bool leftDown = (wParam & MK_LBUTTON) != 0;
        CControlUI* draggable = pushed_;
        while (draggable && !draggable->IsDragEnabled()) draggable = draggable->GetParent();
        if (draggable && leftDown &&
            (std::abs(pt.x - dragStart_.x) > 4 || std::abs(pt.y - dragStart_.y) > 4)) {
            SendEvent(draggable, UIEVENT_BEGINDRAG, wParam, lParam);
            return false;
        }
        if (pushed_->IsDragMoveEnabled() && leftDown) {
            if (pt.x != previous.x || pt.y != previous.y) {
                SendEvent(pushed_, dragMoving_ ? UIEVENT_DRAGMOVING : UIEVENT_DRAGMOVEBEGIN, wParam, lParam);
                dragMoving_ = true;
            }
        } else {
            SendEvent(pushed_, UIEVENT_MOUSEMOVE, wParam, lParam);
        }
    } else if (control) {
        SendEvent(control, UIEVENT_MOUSEMOVE, wParam, lParam);
    }
    return false;
}

bool CPaintManagerUI::OnButtonDown(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_LBUTTONDOWN && !noActivate_) ::SetFocus(hwnd_);
    if (!root_) return false;
    const POINT pt = PointFromLParam(lParam);
    lastMousePos_ = pt;
    dragStart_ = pt;
    CControlUI* control = FindControl(pt);
    if (!control || control->GetManager() != this) return false;
    SetCapture();
    pushed_ = control;
    dragMoving_ = false;
    int kind = UIEVENT_BUTTONDOWN;
    if (msg == WM_LBUTTONDBLCLK) kind = UIEVENT_DBLCLICK;
    else if (msg == WM_RBUTTONDOWN) kind = UIEVENT_RBUTTONDOWN;
    else if (msg == WM_MBUTTONDOWN) kind = UIEVENT_MBUTTONDOWN;
    if (msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN) control->SetFocus();
    SendEvent(control, kind, wParam, lParam);
    return false;
}

bool CPaintManagerUI::OnButtonUp(UINT msg, WPARAM wParam, LPARAM lParam) {
    const POINT pt = PointFromLParam(lParam);
    lastMousePos_ = pt;
    if (msg == WM_RBUTTONUP) {
        CControlUI* control = pushed_ ? pushed_ : FindControl(pt);
        ReleaseCapture();
        if (control && control->GetManager() == this) SendEvent(control, UIEVENT_RBUTTONUP, wParam, lParam);
        if (pushed_ && !pushed_->IsContextMenuUsed()) pushed_ = nullptr;
        return false;
    }
    if (!pushed_) return false;
    ReleaseCapture();
    CControlUI* control = pushed_;
    if (msg == WM_MBUTTONUP) {
        pushed_ = nullptr;
        SendEvent(control, UIEVENT_MBUTTONUP, wParam, lParam);
        return false;
    }
    const bool wasDragMoving = dragMoving_;
    dragMoving_ = false;
    SendEvent(control, UIEVENT_BUTTONUP, wParam, lParam);
    if (wasDragMoving && pushed_ == control) SendEvent(control, UIEVENT_DRAGMOVEEND, wParam, lParam);
    pushed_ = nullptr;
    return false;
}

bool CPaintManagerUI::OnMouseHover(WPARAM wParam, LPARAM lParam, LRESULT& result) {
    mouseTracking_ = false;
    const POINT pt = PointFromLParam(lParam);
    CControlUI* control = FindControl(pt);
    if (!control) return false;
    SendEvent(control, UIEVENT_MOUSEHOVER, wParam, lParam);
    if (control != lastTooltip_) {
        lastTooltip_ = control;
        if (!control->GetToolTip().empty()) ShowTooltip(control);
    }
    result = 0;
    return true;
}

void CPaintManagerUI::OnMouseLeave() {
    HideTooltip();
    if (mouseTracking_) {
        POINT pt = {-1, -1};
        POINT cursor;
        ::GetCursorPos(&cursor);
        RECT rc;
        ::GetClientRect(hwnd_, &rc);
        POINT client = cursor;
        ::ScreenToClient(hwnd_, &client);
        if (::GetActiveWindow() == hwnd_ && !::IsIconic(hwnd_) && ::PtInRect(&rc, client) &&
            ::SendMessageW(hwnd_, WM_NCHITTEST, 0, MAKELPARAM(cursor.x, cursor.y)) == HTCLIENT)
            pt = client;
        ::SendMessageW(hwnd_, WM_MOUSEMOVE, 0, MAKELPARAM(pt.x, pt.y));
    }
    mouseTracking_ = false;
    lastTooltip_ = nullptr;
}

// ---------------------------------------------------------------------------
// Tooltips

void CPaintManagerUI::ShowTooltip(CControlUI* control) {
    toolTipText_ = control->GetToolTip();
    toolTip_ = {};
    toolTip_.cbSize = TTTOOLINFOW_V2_SIZE;
    toolTip_.uFlags = TTF_IDISHWND;
    toolTip_.hwnd = hwnd_;
    toolTip_.uId = reinterpret_cast<UINT_PTR>(hwnd_);
    toolTip_.hinst = GetInstance();
    toolTip_.lpszText = const_cast<wchar_t*>(toolTipText_.c_str());
    toolTip_.rect = control->GetPos();
    if (!hwndTooltip_) {
        hwndTooltip_.reset(::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                                             nullptr, GetInstance(), nullptr));
        if (!hwndTooltip_) return;
        ::SendMessageW(hwndTooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&toolTip_));
        ::SendMessageW(hwndTooltip_.get(), TTM_SETMAXTIPWIDTH, 0, control->GetToolTipWidth());
        ::SendMessageW(hwndTooltip_.get(), TTM_SETTIPBKCOLOR, tooltipBkColor_, 0);
        ::SendMessageW(hwndTooltip_.get(), TTM_SETTIPTEXTCOLOR, tooltipTextColor_, 0);
    }
    ::SendMessageW(hwndTooltip_.get(), TTM_SETMAXTIPWIDTH, 0, control->GetToolTipWidth());
    ::SendMessageW(hwndTooltip_.get(), TTM_SETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&toolTip_));
    ::SendMessageW(hwndTooltip_.get(), TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&toolTip_));
}

void CPaintManagerUI::HideTooltip() {
    if (hwndTooltip_) ::SendMessageW(hwndTooltip_.get(), TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&toolTip_));
}

// ---------------------------------------------------------------------------
// Focus and Tab

void CPaintManagerUI::SetFocus(CControlUI* control) {
    if (control == focus_) return;
    if (control && hwnd_ && ::GetFocus() != hwnd_) ::SetFocus(hwnd_);
    CControlUI* old = focus_;
    if (old) {
        focus_ = nullptr;
        SendEvent(old, UIEVENT_KILLFOCUS);
        SendNotify(old, L"killfocus", reinterpret_cast<WPARAM>(control));
        const auto views = focusViews_;
        for (CControlUI* view : views)
            if (IsInside(view, old) && !IsInside(view, control)) SendNotify(view, L"killfocusview");
    }
    if (control && control->GetManager() == this && control->IsVisible() && control->IsEnabled()) {
        focus_ = control;
        SendEvent(control, UIEVENT_SETFOCUS);
        SendNotify(control, L"setfocus");
        const auto views = focusViews_;
        for (CControlUI* view : views)
            if (IsInside(view, control) && !IsInside(view, old)) SendNotify(view, L"setfocusview");
    }
}

void CPaintManagerUI::SetFocusNeeded(CControlUI* control) {
    if (hwnd_) ::SetFocus(hwnd_);
    if (!control) return;
    focus_ = nullptr;
    focusNeeded_ = true;
    if (root_) root_->NeedUpdate();
    updateNeeded_ = true;
}

bool CPaintManagerUI::SetNextTabControl(bool forward) {
    if (dockWnd_ || !normalTab_) return false;
    if (updateNeeded_ && forward) {
        focusNeeded_ = true;
        Invalidate();
        return true;
    }
    if (!root_) return false;
    std::vector<CControlUI*> stops;
    root_->FindControl(CollectTabStops, &stops, UIFIND_VISIBLE | UIFIND_ENABLED | UIFIND_ME_FIRST);
    if (stops.empty()) return false;
    CControlUI* next = nullptr;
    const auto it = std::find(stops.begin(), stops.end(), focus_);
    if (it == stops.end()) {
        next = forward ? stops.front() : stops.back();
    } else if (forward) {
        next = (it + 1 == stops.end()) ? stops.front() : *(it + 1);
    } else {
        next = (it == stops.begin()) ? stops.back() : *(it - 1);
    }
    SetFocus(next);
    return true;
}

bool CPaintManagerUI::OnTabKey(bool shift) {
    if (tabList_.empty()) {
        SetNextTabControl(!shift);
        return true;
    }
    // The registered controls in order; Shift walks the same way.
    int start = lastTabIndex_;
    const auto at = std::find(tabList_.begin(), tabList_.end(), focus_);
    if (focus_ && at != tabList_.end()) start = static_cast<int>(at - tabList_.begin());
    const int count = static_cast<int>(tabList_.size());
    std::vector<CControlUI*> gone;
    for (int step = 1; step <= count; ++step) {
        const int index = ((start + step) % count + count) % count;
        CControlUI* control = tabList_[index];
        if (!root_ || !IsInside(root_, control)) {
            gone.push_back(control);
            continue;
        }
        // Hidden and disabled controls cannot take the focus: skipped.
        if (!control->IsVisible() || !control->IsEnabled()) continue;
        SetFocus(control);
        lastTabIndex_ = index;
        break;
    }
    for (CControlUI* control : gone) RemoveTabControl(control);
    if (!gone.empty() && focus_) {
        const auto now = std::find(tabList_.begin(), tabList_.end(), focus_);
        if (now != tabList_.end()) lastTabIndex_ = static_cast<int>(now - tabList_.begin());
    }
    return true;
}

bool CPaintManagerUI::PreMessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // 1. Pre-message filters.
    {
        const auto filters = preMessageFilters_;
        for (IMessageFilterUI* filter : filters) {
            if (std::find(preMessageFilters_.begin(), preMessageFilters_.end(), filter) == preMessageFilters_.end())
                continue;
            bool handled = false;
            const LRESULT r = filter->MessageHandler(msg, wParam, lParam, handled);
            if (handled) {
                result = r;
                return true;
            }
        }
    }
    switch (msg) {
    case WM_KEYDOWN: {
        if (wParam != VK_TAB) return false;
        // 2. Tab: edit boxes that want it keep it.
        if (focus_ && focus_->IsVisible() && focus_->IsEnabled()) {
            const std::wstring cls = focus_->GetClass();
            if (cls.find(L"RichEditUI") != std::wstring::npos && focus_->IsWantTab()) return false;
            if (cls.find(L"WkeWebkitUI") != std::wstring::npos) return false;
        }
        OnTabKey(::GetKeyState(VK_SHIFT) < 0);
        result = 0;
        return true;
    }
    case WM_SYSCHAR: {
        // 3. Alt + a shortcut character.
        if (!root_) return false;
        ShortcutSearch s{static_cast<WCHAR>(wParam), false};
        CControlUI* control =
            root_->FindControl(MatchShortcut, &s, UIFIND_ENABLED | UIFIND_ME_FIRST | UIFIND_TOP_FIRST);
        if (!control) return false;
        control->SetFocus();
        control->Activate();
        result = 0;
        return true;
    }
    case WM_SYSKEYDOWN:
        // 4. Other system keys go to the focused control.
        if (focus_) {
            ControlEvent e = MakeEvent(UIEVENT_SYSKEY, focus_, wParam, lParam);
            e.chKey = static_cast<WCHAR>(wParam);
            focus_->Event(e);
        }
        return false;
    default:
        return false;
    }
}

bool CPaintManagerUI::TranslateAccelerator(MSG* msg) {
    const auto accelerators = accelerators_;
    for (ITranslateAccelerator* a : accelerators)
        if (a->TranslateAccelerator(msg) == 0) return true;
    return false;
}

// ---------------------------------------------------------------------------
// Control timers

bool CPaintManagerUI::SetControlTimer(CControlUI* control, UINT id, UINT elapse) {
    if (!control || !hwnd_) return false;
    for (TimerInfo& t : timers_) {
        if (t.sender == control && t.localId == id && t.hwnd == hwnd_) {
            if (!t.killed) return false;  // a live timer is left alone
            if (!::SetTimer(hwnd_, t.winTimer, elapse, nullptr)) return false;
            t.killed = false;
            return true;
        }
    }
    // Window timer ids cycle through 17..239 (ids below stay free for the
    // window's own timers); an id still held by another entry of this window
    // is skipped, so two controls never share one window timer.
    constexpr UINT kFirst = 17, kSpan = 240 - kFirst;
    UINT winTimer = 0;
    for (UINT tries = 0; tries < kSpan; ++tries) {
        timerCounter_ = (timerCounter_ + 1) % 240;
        if (timerCounter_ < kFirst) timerCounter_ = kFirst;
        const bool used = std::any_of(timers_.begin(), timers_.end(), [this](const TimerInfo& t) {
            return t.hwnd == hwnd_ && t.winTimer == timerCounter_;
        });
        if (!used) {
            winTimer = timerCounter_;
            break;
        }
    }
    if (winTimer == 0) return false;
    if (!::SetTimer(hwnd_, winTimer, elapse, nullptr)) return false;
    timers_.push_back(TimerInfo{control, id, hwnd_, winTimer, false});
    return true;
}

bool CPaintManagerUI::KillControlTimer(CControlUI* control, UINT id) {
    for (TimerInfo& t : timers_) {
        if (t.sender == control && t.localId == id && t.hwnd == hwnd_) {
            if (!t.killed && ::IsWindow(hwnd_)) ::KillTimer(hwnd_, t.winTimer);
            t.killed = true;
            return true;
        }
    }
    return false;
}

void CPaintManagerUI::KillControlTimers(CControlUI* control) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->sender == control && it->hwnd == hwnd_) {
            if (!it->killed && hwnd_ && ::IsWindow(hwnd_)) ::KillTimer(hwnd_, it->winTimer);
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

void CPaintManagerUI::RemoveAllTimers() {
    for (TimerInfo& t : timers_) {
        if (!t.killed && t.hwnd && ::IsWindow(t.hwnd)) ::KillTimer(t.hwnd, t.winTimer);
        t.killed = true;
    }
    timers_.clear();
}

// ---------------------------------------------------------------------------
// Message loop

bool CPaintManagerUI::TranslateMessage(const MSG* msg) {
    const auto& managers = detail::Process().managers;
    MSG copy = *msg;
    const LONG_PTR style = ::GetWindowLongPtrW(msg->hwnd, GWL_STYLE);
    bool child = (style & WS_CHILD) != 0;
    if (!child) {
        // The native edit pop-up of an edit control counts as a child.
        HWND parent = ::GetParent(msg->hwnd);
        if (parent && (::GetWindowLongPtrW(parent, GWL_EXSTYLE) & WS_EX_LAYERED)) {
            wchar_t cls[64] = {};
            ::RealGetWindowClassW(msg->hwnd, cls, 64);
            child = std::wcscmp(cls, L"EditWnd") == 0;
        }
    }
    if (child) {
        const auto list = managers;
        for (CPaintManagerUI* m : list) {
            for (HWND parent = ::GetParent(msg->hwnd); parent; parent = ::GetParent(parent)) {
                if (m->GetPaintWindow() != msg->hwnd && m->GetPaintWindow() != parent) continue;
                if (m->TranslateAccelerator(&copy)) return true;
                LRESULT ignored = 0;
                m->PreMessageHandler(msg->message, msg->wParam, msg->lParam, ignored);
            }
        }
        return false;
    }
    for (CPaintManagerUI* m : managers) {
        if (m->GetPaintWindow() != msg->hwnd) continue;
        if (m->TranslateAccelerator(&copy)) return true;
        LRESULT result = 0;
        return m->PreMessageHandler(msg->message, msg->wParam, msg->lParam, result);
    }
    return false;
}

void CPaintManagerUI::MessageLoop() {
    MSG msg = {};
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_HOTKEY) {
            bool handled = false;
            LRESULT r = 0;
            const auto filters = detail::Process().hotKeyFilters;
            for (IMessageFilterUI* f : filters) {
                r = f->MessageHandler(msg.message, msg.wParam, msg.lParam, handled);
                if (handled) break;
            }
            if (handled) {
                if (r == 0) {
                    ::TranslateMessage(&msg);
                    ::DispatchMessageW(&msg);
                }
                continue;
            }
        }
        if (!CPaintManagerUI::TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

}  // namespace SkinUI
