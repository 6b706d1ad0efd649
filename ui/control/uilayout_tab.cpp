#include <algorithm>
#include <cwchar>

#include "ui/control/uilayout.h"
#include "ui/core/uivalue.h"
#include "ui/manager/uimanager.h"

namespace SkinUI {

const wchar_t* CTabLayoutUI::GetClass() const { return L"TabLayoutUI"; }

void* CTabLayoutUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"TabLayout") == 0) return static_cast<CTabLayoutUI*>(this);
    return CContainerUI::GetInterface(name);
}

bool CTabLayoutUI::Add(CControlUI* control) {
    if (!CContainerUI::Add(control)) return false;
    // The first visible page becomes the current one; every other page is hidden.
    if (curSel_ == -1 && control->IsVisible())
        curSel_ = GetItemIndex(control);
    else
        control->SetVisible(false);
    return true;
}

bool CTabLayoutUI::AddAt(CControlUI* control, int index) {
    if (!CContainerUI::AddAt(control, index)) return false;
    if (curSel_ == -1 && control->IsVisible()) {
        curSel_ = GetItemIndex(control);
    } else {
        if (curSel_ != -1 && index <= curSel_) ++curSel_;
        control->SetVisible(false);
    }
    return true;
}

bool CTabLayoutUI::Remove(CControlUI* control) {
    const int index = GetItemIndex(control);
    if (!CContainerUI::Remove(control)) return false;
    if (curSel_ == index) {
        curSel_ = -1;
        if (GetCount() > 0) {
            prevSel_ = -1;
            SelectItem(0, false);
        }
        NeedParentUpdate();
    } else if (curSel_ > index) {
        --curSel_;
    }
    return true;
}

void CTabLayoutUI::RemoveAll() {
    curSel_ = -1;
    prevSel_ = -1;
    CContainerUI::RemoveAll();
    NeedParentUpdate();
}

bool CTabLayoutUI::SelectItem(int index, bool takeFocus) {
    if (index < 0 || index >= GetCount()) return false;
    if (index == curSel_) return true;
    const int previous = curSel_;
    prevSel_ = curSel_;
    curSel_ = index;
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* page = items_[i];
        if (i == index) {
            page->SetVisible(true);
            if (takeFocus) page->SetFocus();
            SetPos(rcItem_, true);
        } else {
            page->SetVisible(false);
        }
    }
    NeedParentUpdate();
    if (manager_) {
        if (takeFocus) manager_->SetNextTabControl();
        manager_->SendNotify(this, L"tabselect", curSel_, previous);
    }
    return true;
}

bool CTabLayoutUI::SelectItem(CControlUI* page, bool takeFocus) {
    const int index = GetItemIndex(page);
    return index >= 0 && SelectItem(index, takeFocus);
}

void CTabLayoutUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"selectedid")
        SelectItem(ParseInt(value.c_str()));
    else
        CContainerUI::SetAttribute(name, value);
}

void CTabLayoutUI::SetPos(RECT rc, bool needInvalidate) {
    CControlUI::SetPos(rc, needInvalidate);
    rc = rcItem_;
    // The inset of a page layout is taken as written (not scaled).
    rc.left += inset_.left;
    rc.top += inset_.top;
    rc.right -= inset_.right;
    rc.bottom -= inset_.bottom;

    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* child = items_[i];
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        if (i != curSel_) continue;
        const RECT pad = child->GetPadding();
        RECT page = {rc.left + pad.left, rc.top + pad.top, rc.right - pad.right, rc.bottom - pad.bottom};
        const SIZE available = {page.right - page.left, page.bottom - page.top};
        SIZE sz = child->EstimateSize(available);
        if (sz.cx == 0) sz.cx = std::max<LONG>(0, available.cx);
        if (sz.cy == 0) sz.cy = std::max<LONG>(0, available.cy);
        ClampToMinMax(child, sz);
        child->SetPos(RECT{page.left, page.top, page.left + sz.cx, page.top + sz.cy}, false);
    }
}

}  // namespace SkinUI
