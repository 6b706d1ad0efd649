#include <algorithm>
#include <cwchar>

#include "ui/control/uilayout.h"
#include "ui/core/uivalue.h"

namespace SkinUI {

const wchar_t* CVerticalLayoutUI::GetClass() const { return L"VerticalLayoutUI"; }

void* CVerticalLayoutUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"VerticalLayout") == 0) return static_cast<CVerticalLayoutUI*>(this);
    return CContainerUI::GetInterface(name);
}

UINT CVerticalLayoutUI::GetControlFlags() const {
    return (IsEnabled() && sepHeight_ != 0) ? UIFLAG_SETCURSOR : 0;
}

void CVerticalLayoutUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    if (name == L"sepheight") SetSepHeight(ParseInt(v));
    else if (name == L"sepimm") SetSepImmMode(ParseBoolWord(v));
    else if (name == L"autocalcheight") SetAutoCalcHeight(ParseBoolWord(v));
    else CContainerUI::SetAttribute(name, value);
}

SIZE CVerticalLayoutUI::EstimateSize(SIZE available) {
    SIZE size = CContainerUI::EstimateSize(available);
    if (!autoCalcHeight_) return size;
    int height = 0;
    for (CControlUI* child : items_)
        if (child->IsVisible() && !child->IsFloat()) height += child->GetFixedHeight();
    size.cy = height;
    return size;
}

void CVerticalLayoutUI::SetPos(RECT rc, bool needInvalidate) {
    CControlUI::SetPos(rc, needInvalidate);

    // The client rectangle: inset, then the scroll bars.
    rc = GetClientPos();
    const bool vBar = vScroll_ && vScroll_->AsControl()->IsVisible();
    const bool hBar = hScroll_ && hScroll_->AsControl()->IsVisible();
    if (items_.empty()) {
        ProcessScrollBar(rc, 0, 0);
        return;
    }

    SIZE available = {rc.right - rc.left, rc.bottom - rc.top};
    if (hBar) available.cx += hScroll_->GetScrollRange();
    const int childPadding = GetChildVPadding();

    const auto candidate = &CContainerUI::CandidateSize;
    const auto clampWidth = &CContainerUI::ClampWidth;
    const auto clampHeight = &CContainerUI::ClampHeight;

    // Pass 1: measure. Children without a height are adjustable and share what
    // the fixed heights, paddings and child padding leave.
    int adjustables = 0, fixedTotal = 0, estimated = 0, cxNeeded = 0;
    for (CControlUI* child : items_) {
        if (!child->IsVisible() || child->IsFloat()) continue;
        const RECT pad = child->GetPadding();
        const SIZE cand = candidate(child);
        SIZE sz = child->EstimateSize(
            SIZE{std::min<LONG>(cand.cx, available.cx - pad.left - pad.right), std::min(cand.cy, available.cy)});
        if (sz.cy == 0)
            ++adjustables;
        else
            sz.cy = clampHeight(child, sz.cy);
        fixedTotal += sz.cy + pad.top + pad.bottom;
        if (sz.cx < 1) sz.cx = 0;
        sz.cx = clampWidth(child, sz.cx);
        cxNeeded = std::max<int>(cxNeeded, sz.cx + pad.left + pad.right);
        ++estimated;
    }
    if (estimated > 0) fixedTotal += (estimated - 1) * childPadding;

    int expand = 0;
    if (adjustables > 0) expand = std::max<int>(0, (available.cy - fixedTotal) / adjustables);

    // Pass 2: place from the top; the last adjustable child takes the rest.
    int y = rc.top;
    if (vBar) y -= vScroll_->GetScrollPos();
    int index = 0, adjusted = 0, cyNeeded = 0;
    int fixedRemaining = fixedTotal;
    int availableRemaining = available.cy;
    for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
        CControlUI* child = items_[i];
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        const RECT pad = child->GetPadding();
        availableRemaining -= pad.top;
        fixedRemaining -= pad.top + pad.bottom;
        if (index > 0) fixedRemaining -= childPadding;
        ++index;

        const SIZE cand = candidate(child);
        const LONG maxWidth = available.cx - pad.left - pad.right;
        SIZE sz = child->EstimateSize(
            SIZE{std::min<LONG>(cand.cx, maxWidth), std::min<LONG>(cand.cy, availableRemaining)});
        if (sz.cy == 0) {
            ++adjusted;
            sz.cy = expand;
            if (adjusted == adjustables) sz.cy = std::max<LONG>(0, availableRemaining - fixedRemaining - pad.bottom);
            sz.cy = clampHeight(child, sz.cy);
        } else {
            sz.cy = clampHeight(child, sz.cy);
            fixedRemaining -= sz.cy;
        }

        if (sz.cx <= 0) sz.cx = maxWidth;
        sz.cx = std::min<LONG>(sz.cx, std::min<LONG>(cand.cx, maxWidth));
        sz.cx = clampWidth(child, sz.cx);

        RECT place;
        const UINT align = GetChildAlign(child);
        if (align & DT_UI_HCENTER) {
            place.left = (rc.left + rc.right) / 2 - sz.cx / 2;
        } else if (align & DT_UI_RIGHT) {
            place.left = rc.right - pad.right - sz.cx;
        } else {
            place.left = rc.left + pad.left;
        }
        place.right = place.left + sz.cx;
        place.top = y + pad.top;
        place.bottom = place.top + sz.cy;
        child->SetPos(place, false);

        y += sz.cy + pad.top + pad.bottom + childPadding;
        availableRemaining -= sz.cy + pad.bottom + childPadding;
        cyNeeded += sz.cy + pad.top + pad.bottom;
    }
    if (index > 0) cyNeeded += (index - 1) * childPadding;

    ProcessScrollBar(rc, cxNeeded, cyNeeded);
}

}  // namespace SkinUI
