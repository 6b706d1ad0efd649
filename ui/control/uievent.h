// The records that travel between the paint manager and the controls: the input
// event delivered to one control, the notification sent to the window's
// handlers, the search flags of the control tree and the delegate lists.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace SkinUI {

class CControlUI;

// Kinds of ControlEvent. Mouse kinds lie strictly between UIEVENT__MOUSEBEGIN and
// UIEVENT__MOUSEEND, key kinds between UIEVENT__KEYBEGIN and UIEVENT__KEYEND.
enum EventKind {
    UIEVENT__FIRST = 1,
    UIEVENT__KEYBEGIN = 2,
    UIEVENT_KEYDOWN = 3,
    UIEVENT_KEYUP = 4,
    UIEVENT_CHAR = 5,
    UIEVENT_SYSKEY = 6,
    UIEVENT__KEYEND = 7,
    UIEVENT__MOUSEBEGIN = 8,
    UIEVENT_MOUSEMOVE = 9,
    UIEVENT_MOUSELEAVE = 10,
    UIEVENT_MOUSEENTER = 11,
    UIEVENT_MOUSEHOVER = 12,
    UIEVENT_BUTTONDOWN = 13,
    UIEVENT_BUTTONUP = 14,
    UIEVENT_RBUTTONDOWN = 15,
    UIEVENT_RBUTTONUP = 16,
    UIEVENT_MBUTTONDOWN = 17,
    UIEVENT_MBUTTONUP = 18,
    UIEVENT_DBLCLICK = 19,
    UIEVENT_CONTEXTMENU = 20,
    UIEVENT_SCROLLWHEEL = 21,
    UIEVENT_BEGINDRAG = 22,
    UIEVENT_DRAGMOVEBEGIN = 23,
    UIEVENT_DRAGMOVING = 24,
    UIEVENT_DRAGMOVEEND = 25,
    UIEVENT__MOUSEEND = 26,
    UIEVENT_KILLFOCUS = 27,
    UIEVENT_SETFOCUS = 28,
    UIEVENT_WINDOWSIZE = 29,
    UIEVENT_SETCURSOR = 30,
    UIEVENT_TIMER = 31,
    UIEVENT__LAST = 32,
};

inline bool IsMouseEvent(int kind) { return kind > UIEVENT__MOUSEBEGIN && kind < UIEVENT__MOUSEEND; }
inline bool IsKeyEvent(int kind) { return kind > UIEVENT__KEYBEGIN && kind < UIEVENT__KEYEND; }

// Key state bits of ControlEvent::wKeyState.
enum : WORD {
    MK_UI_LBUTTON = 0x0001,
    MK_UI_RBUTTON = 0x0002,
    MK_UI_SHIFT = 0x0004,
    MK_UI_CONTROL = 0x0008,
    MK_UI_ALT = 0x0020,
};

// Input delivered to one control.
struct ControlEvent {
    int Type = 0;                  // EventKind
    CControlUI* pSender = nullptr;
    DWORD dwTimestamp = 0;         // GetTickCount
    POINT ptMouse = {};            // client coordinates
    WCHAR chKey = 0;
    WORD wKeyState = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// A notification from a control to the window's handlers. Owned by the sender.
struct NotifyMessage {
    std::wstring sType;            // "click", "selectchanged", ...
    std::wstring sVirtualWnd;
    CControlUI* pSender = nullptr;
    DWORD dwTimestamp = 0;
    POINT ptMouse = {};
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// Flags of CControlUI::FindControl.
enum FindFlags : UINT {
    UIFIND_ALL = 0x00000000,
    UIFIND_VISIBLE = 0x00000001,
    UIFIND_ENABLED = 0x00000002,
    UIFIND_HITTEST = 0x00000004,   // data is a POINT*
    UIFIND_UPDATETEST = 0x00000008,  // collect all: the callback collects, the search goes on
    UIFIND_TOP_FIRST = 0x00000010,
    UIFIND_ME_FIRST = 0x80000000,
};

// Flags of CControlUI::GetControlFlags.
enum ControlFlags : UINT {
    UIFLAG_TABSTOP = 0x00000001,
    UIFLAG_SETCURSOR = 0x00000002,
};

// Float alignment bits (`floatalign`).
enum FloatAlign : UINT {
    DT_UI_HCENTER = 0x1,
    DT_UI_RIGHT = 0x2,
    DT_UI_VCENTER = 0x4,
    DT_UI_BOTTOM = 0x8,
};

// Callback of the tree search: returns the control it accepts, or null.
using FINDCONTROLPROC = CControlUI*(CALLBACK*)(CControlUI*, LPVOID);

// An ordered list of callables with one argument (a ControlEvent*, a
// NotifyMessage*, or the control itself). Invoking runs them in order and
// returns false when any of them returned false; all of them run.
class CEventSource {
public:
    using Callback = std::function<bool(void*)>;

    // Returns an id for Remove.
    int Add(Callback callback) {
        items_.emplace_back(++lastId_, std::move(callback));
        return lastId_;
    }
    CEventSource& operator+=(Callback callback) {
        Add(std::move(callback));
        return *this;
    }
    void Remove(int id) {
        for (auto it = items_.begin(); it != items_.end(); ++it)
            if (it->first == id) {
                items_.erase(it);
                return;
            }
    }
    void Clear() { items_.clear(); }
    bool Empty() const { return items_.empty(); }
    size_t Size() const { return items_.size(); }

    bool operator()(void* param) {
        bool result = true;
        // A copy: a callable may add or remove delegates while it runs.
        const auto items = items_;
        for (const auto& item : items)
            if (item.second && !item.second(param)) result = false;
        return result;
    }

private:
    std::vector<std::pair<int, Callback>> items_;
    int lastId_ = 0;
};

}  // namespace SkinUI
