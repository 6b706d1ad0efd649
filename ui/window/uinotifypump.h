// Notifications to handler methods: each class of a window has one static
// table of rows (notification type, control name, handler) linked to its base
// class's table, and named sub-pumps take the notifications of controls that
// belong to a virtual window.
//
//   class CMyWindow : public WindowImplBase {
//       SKINUI_DECLARE_MESSAGE_MAP()
//       void OnOk(NotifyMessage& msg);
//   };
//   SKINUI_BEGIN_MESSAGE_MAP(CMyWindow, WindowImplBase)
//       SKINUI_ON_CLICK_CTRNAME(L"okbtn", &CMyWindow::OnOk)
//   SKINUI_END_MESSAGE_MAP()
#pragma once

#include <windows.h>

#include <string>
#include <unordered_map>

#include "ui/control/uievent.h"

namespace SkinUI {

class CNotifyPump;

using NotifyHandler = void (CNotifyPump::*)(NotifyMessage&);
using NotifyParamsHandler = void (CNotifyPump::*)(WPARAM, LPARAM);

enum NotifySignature : UINT {
    kSigEnd = 0,      // ends a table
    kSigParams = 1,   // handler takes (wParam, lParam)
    kSigMessage = 2,  // handler takes the whole record
};

struct MessageMapEntry {
    const wchar_t* type;         // "click"
    const wchar_t* controlName;  // "" matches any sender
    UINT signature;              // NotifySignature
    NotifyHandler onMessage;
    NotifyParamsHandler onParams;
};

struct MessageMap {
    const MessageMap* base;  // null for CNotifyPump's own
    const MessageMapEntry* entries;
};

class CNotifyPump {
public:
    CNotifyPump();
    virtual ~CNotifyPump();
    CNotifyPump(const CNotifyPump&) = delete;
    CNotifyPump& operator=(const CNotifyPump&) = delete;

    // A sub-pump for the notifications of one virtual window; false when the
    // name is empty, taken, or the pump is null.
    bool AddVirtualWindow(const std::wstring& name, CNotifyPump* pump);
    bool RemoveVirtualWindow(const std::wstring& name);
    // The sub-pump of a named virtual window first, then this pump's tables.
    void DispatchNotify(NotifyMessage& msg);
    // True when a handler of this pump's tables ran.
    bool DispatchThroughMap(NotifyMessage& msg);

protected:
    virtual const MessageMap* GetMessageMap() const;
    static const MessageMap messageMap_;

private:
    static const MessageMapEntry messageEntries_[];
    std::unordered_map<std::wstring, CNotifyPump*> virtualWindows_;
};

// Rows are cast to CNotifyPump's member pointers; the class must derive from it
// (non-virtually).
#define SKINUI_DECLARE_MESSAGE_MAP()                                 \
protected:                                                           \
    const ::SkinUI::MessageMap* GetMessageMap() const override;      \
    static const ::SkinUI::MessageMap messageMap_;                   \
                                                                     \
private:                                                             \
    static const ::SkinUI::MessageMapEntry messageEntries_[];

#define SKINUI_BEGIN_MESSAGE_MAP(theClass, baseClass)                                               \
    const ::SkinUI::MessageMap* theClass::GetMessageMap() const { return &theClass::messageMap_; } \
    const ::SkinUI::MessageMap theClass::messageMap_ = {&baseClass::messageMap_,                    \
                                                        &theClass::messageEntries_[0]};            \
    const ::SkinUI::MessageMapEntry theClass::messageEntries_[] = {
#define SKINUI_END_MESSAGE_MAP()                                 \
    {nullptr, nullptr, ::SkinUI::kSigEnd, nullptr, nullptr}      \
    }                                                            \
    ;

#define SKINUI_ON_MSGTYPE(type, handler) \
    {type, L"", ::SkinUI::kSigMessage, static_cast<::SkinUI::NotifyHandler>(handler), nullptr},
#define SKINUI_ON_MSGTYPE_CTRNAME(type, name, handler) \
    {type, name, ::SkinUI::kSigMessage, static_cast<::SkinUI::NotifyHandler>(handler), nullptr},
#define SKINUI_ON_PARAMS(type, name, handler) \
    {type, name, ::SkinUI::kSigParams, nullptr, static_cast<::SkinUI::NotifyParamsHandler>(handler)},
#define SKINUI_ON_CLICK_CTRNAME(name, handler) SKINUI_ON_MSGTYPE_CTRNAME(L"click", name, handler)
#define SKINUI_ON_SELECTCHANGED_CTRNAME(name, handler) SKINUI_ON_MSGTYPE_CTRNAME(L"selectchanged", name, handler)
#define SKINUI_ON_TIMER_CTRNAME(name, handler) SKINUI_ON_MSGTYPE_CTRNAME(L"timer", name, handler)

}  // namespace SkinUI
