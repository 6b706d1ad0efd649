// The paint manager's view of the control tree: attaching a root, the name
// index, searches, the lists controls register in, delayed deletion and the
// notifications (direct and queued).
#include <algorithm>
#include <cwchar>

#include "ui/control/uicontrol.h"
#include "ui/manager/uimanager.h"
#include "ui/manager/uimanager_state.h"
#include "ui/window/uishadow.h"

namespace SkinUI {
namespace {

template <typename T>
bool AddUnique(std::vector<T*>& list, T* item) {
    if (!item || std::find(list.begin(), list.end(), item) != list.end()) return false;
    list.push_back(item);
    return true;
}

template <typename T>
bool RemoveItem(std::vector<T*>& list, T* item) {
    const auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

using NameIndex = std::unordered_map<std::wstring, CControlUI*>;

CControlUI* CALLBACK IndexName(CControlUI* control, LPVOID data) {
    const std::wstring name = control->GetName();
    if (!name.empty()) (*static_cast<NameIndex*>(data))[name] = control;  // a later control replaces the entry
    return nullptr;
}

CControlUI* CALLBACK AcceptAny(CControlUI* control, LPVOID) { return control; }

CControlUI* CALLBACK MatchName(CControlUI* control, LPVOID data) {
    return control->GetName() == *static_cast<const std::wstring*>(data) ? control : nullptr;
}

struct ClassSearch {
    const wchar_t* className;
    int index;
    std::vector<CControlUI*>* all;
};

CControlUI* CALLBACK MatchClass(CControlUI* control, LPVOID data) {
    ClassSearch* s = static_cast<ClassSearch*>(data);
    if (std::wcscmp(control->GetClass(), s->className) != 0) return nullptr;
    if (s->all) {
        s->all->push_back(control);
        return nullptr;
    }
    return s->index-- == 0 ? control : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Root

bool CPaintManagerUI::AttachRoot(CControlUI* root) {
    if (!root) return false;
    // 1. The shadow window, when the skin asked for one.
    if (shadow_ && shadow_->IsShowShadow()) shadow_->Create(this);
    // 2. Input state starts again.
    focusViews_.clear();
    tabList_.clear();
    lastTabIndex_ = -1;
    SetFocus(nullptr);
    keyControl_ = nullptr;
    hover_ = nullptr;
    pushed_ = nullptr;
    lastTooltip_ = nullptr;
    // 3. An old root is deleted at the next queued-work pass.
    if (root_ && root_ != root) {
        CControlUI* old = root_;
        root_ = nullptr;
        ReapObjects(old);
        AddDelayedCleanup(old);
    }
    // 4. The new root is laid out at the next paint.
    root_ = root;
    firstLayout_ = true;
    updateNeeded_ = true;
    if (autoDpi_) SetDpi(GetProcessDpi());
    // 5. Attach and index the tree.
    InitControls(root_, nullptr);
    root_->NeedUpdate();
    Invalidate();
    return true;
}

bool CPaintManagerUI::InitControls(CControlUI* control, CControlUI* parent) {
    if (!control) return false;
    control->SetManager(this, parent ? parent : control->GetParent(), true);
    control->FindControl(IndexName, &nameIndex_, UIFIND_ALL);
    return true;
}

void CPaintManagerUI::RenameControl(CControlUI* control, const std::wstring& oldName, const std::wstring& newName) {
    if (!oldName.empty()) {
        const auto it = nameIndex_.find(oldName);
        if (it != nameIndex_.end() && it->second == control) nameIndex_.erase(it);
    }
    if (!newName.empty() && root_) nameIndex_[newName] = control;
}

void CPaintManagerUI::ReapObjects(CControlUI* control) {
    if (!control) return;
    if (control == keyControl_) keyControl_ = nullptr;
    if (control == hover_) hover_ = nullptr;
    if (control == pushed_) pushed_ = nullptr;
    if (control == focus_) focus_ = nullptr;
    if (control == lastTooltip_) lastTooltip_ = nullptr;
    KillControlTimers(control);
    const std::wstring name = control->GetName();
    if (!name.empty()) {
        const auto it = nameIndex_.find(name);
        if (it != nameIndex_.end() && it->second == control) nameIndex_.erase(it);
    }
    RemoveItem(postPaint_, control);
    RemoveItem(mouseLeaveNeeded_, control);
    RemoveItem(focusViews_, control);
    const auto tab = std::find(tabList_.begin(), tabList_.end(), control);
    if (tab != tabList_.end()) {
        const int index = static_cast<int>(tab - tabList_.begin());
        tabList_.erase(tab);
        if (lastTabIndex_ >= index) --lastTabIndex_;
    }
    RemoveItem(foundControls_, control);
    nativeWindows_.erase(std::remove_if(nativeWindows_.begin(), nativeWindows_.end(),
                                        [control](const auto& e) { return e.first == control; }),
                         nativeWindows_.end());
    for (auto& group : optionGroups_) RemoveItem(group.second, control);
    // A queued notification of a control that goes would reach freed memory.
    asyncNotify_.erase(std::remove_if(asyncNotify_.begin(), asyncNotify_.end(),
                                      [control](const auto& n) { return n->pSender == control; }),
                       asyncNotify_.end());
}

void CPaintManagerUI::AddDelayedCleanup(CControlUI* control) {
    if (!control) return;
    if (std::find(delayedCleanup_.begin(), delayedCleanup_.end(), control) != delayedCleanup_.end()) return;
    control->SetManager(this, nullptr, false);
    delayedCleanup_.push_back(control);
    PostQueuedWork();
}

void CPaintManagerUI::PostQueuedWork() {
    if (asyncNotifyPosted_ || !hwnd_) return;
    if (::PostMessageW(hwnd_, WM_UI_QUEUED_WORK, 0, 0)) asyncNotifyPosted_ = true;
}

void CPaintManagerUI::ProcessQueuedWork() {
    // Deletions first: they never run inside the call that removed the control.
    std::vector<CControlUI*> cleanup;
    cleanup.swap(delayedCleanup_);
    for (CControlUI* control : cleanup) delete control;
    asyncNotifyPosted_ = false;
    // Then the queued notifications, oldest first (handlers may queue more).
    while (!asyncNotify_.empty()) {
        std::unique_ptr<NotifyMessage> msg = std::move(asyncNotify_.front());
        asyncNotify_.pop_front();
        if (msg->pSender) msg->pSender->OnNotify(msg.get());
        const auto notifiers = notifiers_;
        for (INotifyUI* n : notifiers)
            if (std::find(notifiers_.begin(), notifiers_.end(), n) != notifiers_.end()) n->Notify(*msg);
    }
}

// ---------------------------------------------------------------------------
// Notifications

void CPaintManagerUI::SendNotify(CControlUI* control, const wchar_t* type, WPARAM wParam, LPARAM lParam,
                                 bool queued) {
    NotifyMessage msg;
    msg.pSender = control;
    msg.sType = type ? type : L"";
    msg.wParam = wParam;
    msg.lParam = lParam;
    SendNotify(msg, queued);
}

void CPaintManagerUI::SendNotify(NotifyMessage& msg, bool queued) {
    msg.ptMouse = lastMousePos_;
    msg.dwTimestamp = ::GetTickCount();
    if (usedVirtualWnd_ && msg.pSender) msg.sVirtualWnd = msg.pSender->GetVirtualWnd();
    if (!queued) {
        if (msg.pSender) msg.pSender->OnNotify(&msg);
        // A copy: handlers may add or remove notifiers.
        const auto notifiers = notifiers_;
        for (INotifyUI* n : notifiers)
            if (std::find(notifiers_.begin(), notifiers_.end(), n) != notifiers_.end()) n->Notify(msg);
        return;
    }
    asyncNotify_.push_back(std::make_unique<NotifyMessage>(msg));
    PostQueuedWork();
}

// ---------------------------------------------------------------------------
// Searches

CControlUI* CPaintManagerUI::FindControl(POINT pt) const {
    if (!root_) return nullptr;
    return root_->FindControl(AcceptAny, &pt, UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST);
}

CControlUI* CPaintManagerUI::FindControl(const std::wstring& name) const {
    const auto it = nameIndex_.find(name);
    return it == nameIndex_.end() ? nullptr : it->second;
}

CControlUI* CPaintManagerUI::FindSubControlByPoint(CControlUI* parent, POINT pt) const {
    if (!parent) parent = root_;
    if (!parent) return nullptr;
    return parent->FindControl(AcceptAny, &pt, UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST);
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* parent, const std::wstring& name) const {
    if (!parent) parent = root_;
    if (!parent) return nullptr;
    std::wstring key = name;
    return parent->FindControl(MatchName, &key, UIFIND_ALL);
}

CControlUI* CPaintManagerUI::FindSubControlByClass(CControlUI* parent, const wchar_t* className, int index) {
    if (!parent) parent = root_;
    if (!parent || !className) return nullptr;
    ClassSearch s{className, index, nullptr};
    return parent->FindControl(MatchClass, &s, UIFIND_ALL);
}

std::vector<CControlUI*>& CPaintManagerUI::FindSubControlsByClass(CControlUI* parent, const wchar_t* className) {
    foundControls_.clear();
    if (!parent) parent = root_;
    if (!parent || !className) return foundControls_;
    ClassSearch s{className, 0, &foundControls_};
    parent->FindControl(MatchClass, &s, UIFIND_ALL);
    return foundControls_;
}

// ---------------------------------------------------------------------------
// Lists

bool CPaintManagerUI::AddNotifier(INotifyUI* notifier) { return AddUnique(notifiers_, notifier); }
bool CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) { return RemoveItem(notifiers_, notifier); }
bool CPaintManagerUI::AddPreMessageFilter(IMessageFilterUI* filter) { return AddUnique(preMessageFilters_, filter); }
bool CPaintManagerUI::RemovePreMessageFilter(IMessageFilterUI* filter) {
    return RemoveItem(preMessageFilters_, filter);
}
bool CPaintManagerUI::AddMessageFilter(IMessageFilterUI* filter) { return AddUnique(messageFilters_, filter); }
bool CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* filter) { return RemoveItem(messageFilters_, filter); }
bool CPaintManagerUI::AddTranslateAccelerator(ITranslateAccelerator* accelerator) {
    return AddUnique(accelerators_, accelerator);
}
bool CPaintManagerUI::RemoveTranslateAccelerator(ITranslateAccelerator* accelerator) {
    return RemoveItem(accelerators_, accelerator);
}
bool CPaintManagerUI::AddPostPaint(CControlUI* control) { return AddUnique(postPaint_, control); }
bool CPaintManagerUI::RemovePostPaint(CControlUI* control) { return RemoveItem(postPaint_, control); }
bool CPaintManagerUI::AddMouseLeaveNeeded(CControlUI* control) { return AddUnique(mouseLeaveNeeded_, control); }
bool CPaintManagerUI::RemoveMouseLeaveNeeded(CControlUI* control) { return RemoveItem(mouseLeaveNeeded_, control); }
bool CPaintManagerUI::AddFocusView(CControlUI* container) { return AddUnique(focusViews_, container); }
bool CPaintManagerUI::RemoveFocusView(CControlUI* container) { return RemoveItem(focusViews_, container); }

void CPaintManagerUI::AddTabControl(CControlUI* control) { AddUnique(tabList_, control); }

void CPaintManagerUI::RemoveTabControl(CControlUI* control) {
    const auto it = std::find(tabList_.begin(), tabList_.end(), control);
    if (it == tabList_.end()) return;
    const int index = static_cast<int>(it - tabList_.begin());
    tabList_.erase(it);
    if (lastTabIndex_ >= index) --lastTabIndex_;
}

bool CPaintManagerUI::AddNativeWindow(CControlUI* control, HWND hwnd) {
    if (!control || !hwnd) return false;
    for (const auto& e : nativeWindows_)
        if (e.second == hwnd) return false;
    nativeWindows_.emplace_back(control, hwnd);
    return true;
}

bool CPaintManagerUI::RemoveNativeWindow(HWND hwnd) {
    for (auto it = nativeWindows_.begin(); it != nativeWindows_.end(); ++it)
        if (it->second == hwnd) {
            nativeWindows_.erase(it);
            return true;
        }
    return false;
}

bool CPaintManagerUI::AddOptionGroup(const std::wstring& group, CControlUI* control) {
    if (group.empty() || !control) return false;
    return AddUnique(optionGroups_[group], control);
}

const std::vector<CControlUI*>* CPaintManagerUI::GetOptionGroup(const std::wstring& group) const {
    const auto it = optionGroups_.find(group);
    return it == optionGroups_.end() ? nullptr : &it->second;
}

void CPaintManagerUI::RemoveOptionGroup(const std::wstring& group, CControlUI* control) {
    const auto it = optionGroups_.find(group);
    if (it == optionGroups_.end()) return;
    RemoveItem(it->second, control);
    if (it->second.empty()) optionGroups_.erase(it);
}

void CPaintManagerUI::RemoveAllOptionGroups() { optionGroups_.clear(); }

}  // namespace SkinUI
