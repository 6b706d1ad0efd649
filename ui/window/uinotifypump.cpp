#include "ui/window/uinotifypump.h"

#include <cwchar>

#include "ui/control/uicontrol.h"

namespace SkinUI {

const MessageMapEntry CNotifyPump::messageEntries_[] = {
    {nullptr, nullptr, kSigEnd, nullptr, nullptr},
};
const MessageMap CNotifyPump::messageMap_ = {nullptr, &CNotifyPump::messageEntries_[0]};

CNotifyPump::CNotifyPump() = default;
CNotifyPump::~CNotifyPump() = default;

const MessageMap* CNotifyPump::GetMessageMap() const { return &CNotifyPump::messageMap_; }

bool CNotifyPump::AddVirtualWindow(const std::wstring& name, CNotifyPump* pump) {
    if (name.empty() || !pump || pump == this) return false;
    return virtualWindows_.emplace(name, pump).second;
}

bool CNotifyPump::RemoveVirtualWindow(const std::wstring& name) { return virtualWindows_.erase(name) != 0; }

void CNotifyPump::DispatchNotify(NotifyMessage& msg) {
    if (!msg.sVirtualWnd.empty()) {
        auto it = virtualWindows_.find(msg.sVirtualWnd);
        if (it != virtualWindows_.end() && it->second->DispatchThroughMap(msg)) return;
    }
    DispatchThroughMap(msg);
}

bool CNotifyPump::DispatchThroughMap(NotifyMessage& msg) {
    const std::wstring sender = msg.pSender ? msg.pSender->GetName() : std::wstring();
    for (const MessageMap* map = GetMessageMap(); map; map = map->base) {
        const MessageMapEntry* byName = nullptr;
        const MessageMapEntry* anyName = nullptr;
        for (const MessageMapEntry* e = map->entries; e && e->signature != kSigEnd; ++e) {
            if (msg.sType != e->type) continue;
            if (e->controlName[0] == L'\0') {
                anyName = e;  // the last such row of the table
            } else if (sender == e->controlName) {
                byName = e;
                break;
            }
        }
        const MessageMapEntry* row = byName ? byName : anyName;
        if (!row) continue;
        if (row->signature == kSigParams && row->onParams) (this->*row->onParams)(msg.wParam, msg.lParam);
        else if (row->signature == kSigMessage && row->onMessage) (this->*row->onMessage)(msg);
        return true;
    }
    return false;
}

}  // namespace SkinUI
