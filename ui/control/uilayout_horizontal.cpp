#include <algorithm>
#include <cwchar>

#include "ui/control/uilayout.h"
#include "ui/core/uivalue.h"

namespace SkinUI {

const wchar_t* CHorizontalLayoutUI::GetClass() const { return L"HorizontalLayoutUI"; }

void* CHorizontalLayoutUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"HorizontalLayout") == 0) return static_cast<CHorizontalLayoutUI*>(this);
    return CContainerUI::GetInterface(name);
}

UINT CHorizontalLayoutUI::GetControlFlags() const {
    return (IsEnabled() && sepWidth_ != 0) ? UIFLAG_SETCURSOR : 0;
}

void CHorizontalLayoutUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    if (name == L"sepwidth") SetSepWidth(ParseInt(v));
    else if (name == L"sepimm") SetSepImmMode(ParseBoolWord(v));
    else if (name == L"autocalcwidth") SetAutoCalcWidth(ParseBoolWord(v));
    else if (name == L"ExpandBalance") SetExpandBalance(ParseBoolWord(v));
    else CContainerUI::SetAttribute(name, value);
}

SIZE CHorizontalLayoutUI::EstimateSize(SIZE available) {
    SIZE size = CContainerUI::EstimateSize(available);
    if (!autoCalcWidth_) return size;
    // The fixed widths of the children in the flow; paddings are not counted.
    int width = 0;
    for (CControlUI* child : items_)
        if (child->IsVisible() && !child->IsFloat()) width += child->GetFixedWidth();
    size.cx = width;
    return size;
}

void CHorizontalLayoutUI::SetPos(RECT rc, bool needInvalidate) {
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
    if (vBar) available.cy += vScroll_->GetScrollRange();
    const int childPadding = GetChildPadding();

    const auto candidate = &CContainerUI::CandidateSize;
    const auto clampWidth = &CContainerUI::ClampWidth;
    const auto clampHeight = &CContainerUI::ClampHeight;

    // Pass 1: measure. Children without a width are adjustable and share what
    // the fixed widths, paddings and child padding leave.
    int adjustables = 0, fixedTotal = 0, estimated = 0, cyNeeded = 0;
    for (CControlUI* child : items_) {
        if (!child->IsVisible() || child->IsFloat()) continue;
        const RECT pad = child->GetPadding();
        const SIZE cand = candidate(child);
        SIZE sz = child->EstimateSize(
            SIZE{std::min(cand.cx, available.cx), std::min<LONG>(cand.cy, available.cy - pad.top - pad.bottom)});
        if (sz.cx == 0)
            ++adjustables;
        else
            sz.cx = clampWidth(child, sz.cx);
        fixedTotal += sz.cx + pad.left + pad.right;
        if (sz.cy < 1) sz.cy = 0;
        sz.cy = clampHeight(child, sz.cy);
        cyNeeded = std::max<int>(cyNeeded, sz.cy + pad.top + pad.bottom);
        ++estimated;
    }
    if (estimated > 0) fixedTotal += (estimated - 1) * childPadding;

    int expand = 0, remainder = 0;
    if (adjustables > 0) {
        expand = std::max<int>(0, (available.cx - fixedTotal) / adjustables);
        const int r = static_cast<int>(available.cx - fixedTotal) % adjustables;
        if (r >= 0) remainder = r;
    }

    // Pass 2: place from the left. The last adjustable child takes whatever
    // is left, so rounding never leaves a gap at the right edge.
    int x = rc.left;
    if (hBar) x -= hScroll_->GetScrollPos();
    int index = 0, adjusted = 0, cxNeeded = 0;
    int fixedRemaining = fixedTotal;
    int availableRemaining = available.cx;
    for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
        CControlUI* child = items_[i];
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        const RECT pad = child->GetPadding();
        availableRemaining -= pad.left;
        fixedRemaining -= pad.left + pad.right;
        if (index > 0) fixedRemaining -= childPadding;
        ++index;

        const SIZE cand = candidate(child);
        const LONG maxHeight = available.cy - pad.top - pad.bottom;
        SIZE sz = child->EstimateSize(
            SIZE{std::min<LONG>(cand.cx, availableRemaining), std::min<LONG>(cand.cy, maxHeight)});
        if (sz.cx == 0) {
            ++adjusted;
            sz.cx = expand;
            if (expandBalance_ && remainder > 0) {
                ++sz.cx;
                --remainder;
            }
            if (adjusted == adjustables) sz.cx = std::max<LONG>(0, availableRemaining - fixedRemaining - pad.right);
            sz.cx = clampWidth(child, sz.cx);
        } else {
            sz.cx = clampWidth(child, sz.cx);
            fixedRemaining -= sz.cx;
        }

        if (sz.cy <= 0) sz.cy = maxHeight;
        sz.cy = std::min<LONG>(sz.cy, std::min<LONG>(cand.cy, maxHeight));
        sz.cy = clampHeight(child, sz.cy);

        RECT place;
        place.left = x + pad.left;
        place.right = place.left + sz.cx;
        if (childVAlign_ == DT_UI_VCENTER) {
            place.top = (rc.top + rc.bottom) / 2 - sz.cy / 2;
        } else if (childVAlign_ == DT_UI_BOTTOM) {
            place.top = rc.bottom - pad.bottom - sz.cy;
        } else {
            place.top = rc.top + pad.top;
        }
        place.bottom = place.top + sz.cy;
        child->SetPos(place, false);

        x += sz.cx + pad.left + pad.right + childPadding;
        availableRemaining -= sz.cx + pad.right + childPadding;
        cxNeeded += sz.cx + pad.left + pad.right;
    }
    if (index > 0) cxNeeded += (index - 1) * childPadding;

    ProcessScrollBar(rc, cxNeeded, cyNeeded);
}

}  // namespace SkinUI
