#include "ui/control/uicontainer.h"

#include <algorithm>
#include <cwchar>

#include "ui/core/uiattrlist.h"
#include "ui/core/uivalue.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uirender.h"

namespace SkinUI {
namespace {

ScrollBarMaker g_scrollBarMaker = nullptr;

CControlUI* CALLBACK FindByName(CControlUI* control, LPVOID data) {
    const std::wstring* name = static_cast<const std::wstring*>(data);
    return control->GetName() == *name ? control : nullptr;
}

}  // namespace

void SetScrollBarMaker(ScrollBarMaker maker) { g_scrollBarMaker = maker; }
ScrollBarMaker GetScrollBarMaker() { return g_scrollBarMaker; }

CContainerUI::CContainerUI() = default;

CContainerUI::~CContainerUI() {
    // Children first: their destruction may still look at the parent.
    for (CControlUI* child : items_) delete child;
    items_.clear();
    if (vScroll_) delete vScroll_->AsControl();
    if (hScroll_) delete hScroll_->AsControl();
    vScroll_ = hScroll_ = nullptr;
}

const wchar_t* CContainerUI::GetClass() const { return L"ContainerUI"; }

void* CContainerUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"IContainer") == 0) return static_cast<IContainerUI*>(this);
    if (name && std::wcscmp(name, L"Container") == 0) return static_cast<CContainerUI*>(this);
    return CControlUI::GetInterface(name);
}

// ---------------------------------------------------------------------------
// Children

CControlUI* CContainerUI::GetItemAt(int index) const {
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    return items_[index];
}

int CContainerUI::GetItemIndex(CControlUI* control) const {
    const auto it = std::find(items_.begin(), items_.end(), control);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

bool CContainerUI::SetItemIndex(CControlUI* control, int index) {
    const int from = GetItemIndex(control);
    if (from < 0 || index < 0 || index >= static_cast<int>(items_.size())) return false;
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + index, control);
    NeedUpdate();
    return true;
}

bool CContainerUI::MoveItem(int from, int to) {
    CControlUI* control = GetItemAt(from);
    return control && SetItemIndex(control, to);
}

int CContainerUI::GetCount() const { return static_cast<int>(items_.size()); }

bool CContainerUI::Add(CControlUI* control) { return CContainerUI::AddAt(control, static_cast<int>(items_.size())); }

bool CContainerUI::AddAt(CControlUI* control, int index) {
    if (!control || control == this) return false;
    if (index < 0 || index > static_cast<int>(items_.size())) return false;
    if (GetItemIndex(control) >= 0) return false;
    items_.insert(items_.begin() + index, control);
    control->SetInternVisible(IsVisible());
    if (manager_)
        manager_->InitControls(control, this);
    else
        control->SetManager(nullptr, this, false);
    if (IsVisible()) NeedUpdate();
    return true;
}

bool CContainerUI::Remove(CControlUI* control) {
    const int index = GetItemIndex(control);
    if (index < 0) return false;
    return RemoveAt(index);
}

bool CContainerUI::RemoveAt(int index) {
    CControlUI* control = GetItemAt(index);
    if (!control) return false;
    items_.erase(items_.begin() + index);
    if (manager_) manager_->ReapObjects(control);
    if (delayedDestroy_ && manager_)
        manager_->AddDelayedCleanup(control);
    else
        delete control;
    NeedUpdate();
    return true;
}

void CContainerUI::RemoveAll() {
    std::vector<CControlUI*> items;
    items.swap(items_);
    for (CControlUI* control : items) {
        if (manager_) manager_->ReapObjects(control);
        if (delayedDestroy_ && manager_)
            manager_->AddDelayedCleanup(control);
        else
            delete control;
    }
    NeedUpdate();
}

CControlUI* CContainerUI::FindSubControl(const std::wstring& name) {
    for (CControlUI* child : items_) {
        std::wstring key = name;
        if (CControlUI* found = child->FindControl(FindByName, &key, UIFIND_ALL)) return found;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// State

void CContainerUI::SetVisible(bool visible) {
    if (visible_ == visible) return;
    CControlUI::SetVisible(visible);
    for (CControlUI* child : items_) child->SetInternVisible(IsVisible());
}

void CContainerUI::SetInternVisible(bool visible) {
    CControlUI::SetInternVisible(visible);
    for (CControlUI* child : items_) child->SetInternVisible(IsVisible());
}

void CContainerUI::SetEnabled(bool enable) {
    if (enabled_ == enable) return;
    CControlUI::SetEnabled(enable);
    if (vScroll_) vScroll_->AsControl()->SetEnabled(enable);
    if (hScroll_) hScroll_->AsControl()->SetEnabled(enable);
}

void CContainerUI::SetMouseEnabled(bool enable) {
    if (vScroll_) vScroll_->AsControl()->SetMouseEnabled(enable);
    if (hScroll_) hScroll_->AsControl()->SetMouseEnabled(enable);
    CControlUI::SetMouseEnabled(enable);
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    CControlUI::SetManager(manager, parent, init);
    for (CControlUI* child : items_) child->SetManager(manager, this, init);
    if (vScroll_) vScroll_->AsControl()->SetManager(manager, this, init);
    if (hScroll_) hScroll_->AsControl()->SetManager(manager, this, init);
}

RECT CContainerUI::GetInset() const {
    if (!dpiInset_ || !manager_) return inset_;
    return RECT{ScaleValue(inset_.left), ScaleValue(inset_.top), ScaleValue(inset_.right), ScaleValue(inset_.bottom)};
}
void CContainerUI::SetInset(RECT inset) {
    inset_ = inset;
    NeedUpdate();
}
void CContainerUI::SetDpiInset(bool scaled) {
    dpiInset_ = scaled;
    NeedUpdate();
}
void CContainerUI::SetDpiChildPadding(bool scaled) {
    dpiChildPadding_ = scaled;
    NeedUpdate();
}
int CContainerUI::GetChildPadding() const { return dpiChildPadding_ ? ScaleValue(childPadding_) : childPadding_; }
int CContainerUI::GetChildVPadding() const { return dpiChildPadding_ ? ScaleValue(childVPadding_) : childVPadding_; }
void CContainerUI::SetChildPadding(int horizontal, int vertical) {
    childPadding_ = horizontal;
    childVPadding_ = vertical == -1 ? horizontal : vertical;
    NeedUpdate();
}
UINT CContainerUI::GetChildAlign(CControlUI* child) const {
    if (child) {
        const UINT bits = child->GetFloatAlign() & (DT_UI_HCENTER | DT_UI_RIGHT);
        if (bits) return bits;
    }
    return childAlign_;
}
void CContainerUI::SetChildAlign(UINT align) {
    childAlign_ = align;
    NeedUpdate();
}
UINT CContainerUI::GetChildVAlign() const { return childVAlign_; }
void CContainerUI::SetChildVAlign(UINT align) {
    childVAlign_ = align;
    NeedUpdate();
}
bool CContainerUI::IsMouseChildEnabled() const { return mouseChildEnabled_; }
void CContainerUI::SetMouseChildEnabled(bool enable) { mouseChildEnabled_ = enable; }
bool CContainerUI::IsDelayedDestroy() const { return delayedDestroy_; }
void CContainerUI::SetDelayedDestroy(bool delayed) { delayedDestroy_ = delayed; }

// ---------------------------------------------------------------------------
// Events

void CContainerUI::DoEvent(ControlEvent& event) {
    if (!mouseEnabled_ && IsMouseEvent(event.Type)) {
        if (parent_)
            parent_->DoEvent(event);
        else
            CControlUI::DoEvent(event);
        return;
    }
    if (event.Type == UIEVENT_SETFOCUS || event.Type == UIEVENT_KILLFOCUS) {
        focused_ = event.Type == UIEVENT_SETFOCUS;
        return;
    }
    const bool vScroll = vScroll_ && vScroll_->AsControl()->IsVisible() && vScroll_->AsControl()->IsEnabled();
    const bool hScroll = hScroll_ && hScroll_->AsControl()->IsVisible() && hScroll_->AsControl()->IsEnabled();
    if (vScroll || hScroll) {
        if (event.Type == UIEVENT_KEYDOWN) {
            switch (event.chKey) {
            case VK_DOWN: vScroll ? LineDown() : LineRight(); return;
            case VK_UP: vScroll ? LineUp() : LineLeft(); return;
            case VK_NEXT: vScroll ? PageDown() : PageRight(); return;
            case VK_PRIOR: vScroll ? PageUp() : PageLeft(); return;
            case VK_HOME: vScroll ? HomeUp() : HomeLeft(); return;
            case VK_END: vScroll ? EndDown() : EndRight(); return;
            default: break;
            }
        } else if (event.Type == UIEVENT_SCROLLWHEEL) {
            // wParam 1: the wheel turned towards the user (down).
            if (event.wParam == 1)
                vScroll ? LineDown() : LineRight();
            else
                vScroll ? LineUp() : LineLeft();
            return;
        }
    }
    CControlUI::DoEvent(event);
}

// ---------------------------------------------------------------------------
// Scrolling

SIZE CContainerUI::GetScrollPos() const {
    return SIZE{hScroll_ ? hScroll_->GetScrollPos() : 0, vScroll_ ? vScroll_->GetScrollPos() : 0};
}

SIZE CContainerUI::GetScrollRange() const {
    return SIZE{hScroll_ ? hScroll_->GetScrollRange() : 0, vScroll_ ? vScroll_->GetScrollRange() : 0};
}

void CContainerUI::SetScrollPos(SIZE pos, bool notify) {
    const SIZE old = GetScrollPos();
    if (vScroll_) vScroll_->SetScrollPos(pos.cy);
    if (hScroll_) hScroll_->SetScrollPos(pos.cx);
    const SIZE now = GetScrollPos();
    const int dx = now.cx - old.cx, dy = now.cy - old.cy;
    if (dx == 0 && dy == 0) return;
    for (CControlUI* child : items_) {
        if (!child->IsVisible() || child->IsFloat()) continue;
        child->Move(SIZE{-dx, -dy}, false);
    }
    Invalidate();
    if (notify) Notify(L"scroll", 0, 0);
}

int CContainerUI::GetScrollStepSize() const { return ScaleValue(scrollStepSize_); }
void CContainerUI::SetScrollStepSize(int size) {
    if (size > 0) scrollStepSize_ = size;
}

void CContainerUI::LineUp() {
    const int step = vScroll_ && vScroll_->GetLineSize() > 0 ? vScroll_->GetLineSize() : GetScrollStepSize();
    SIZE pos = GetScrollPos();
    pos.cy -= step;
    SetScrollPos(pos);
}
void CContainerUI::LineDown() {
    const int step = vScroll_ && vScroll_->GetLineSize() > 0 ? vScroll_->GetLineSize() : GetScrollStepSize();
    SIZE pos = GetScrollPos();
    pos.cy += step;
    SetScrollPos(pos);
}
void CContainerUI::PageUp() {
    SIZE pos = GetScrollPos();
    pos.cy -= std::max<int>(1, GetClientPos().bottom - GetClientPos().top);
    SetScrollPos(pos);
}
void CContainerUI::PageDown() {
    SIZE pos = GetScrollPos();
    pos.cy += std::max<int>(1, GetClientPos().bottom - GetClientPos().top);
    SetScrollPos(pos);
}
void CContainerUI::HomeUp() {
    SIZE pos = GetScrollPos();
    pos.cy = 0;
    SetScrollPos(pos);
}
void CContainerUI::EndDown() {
    SIZE pos = GetScrollPos();
    pos.cy = GetScrollRange().cy;
    SetScrollPos(pos);
}
void CContainerUI::LineLeft() {
    SIZE pos = GetScrollPos();
    pos.cx -= GetScrollStepSize();
    SetScrollPos(pos);
}
void CContainerUI::LineRight() {
    SIZE pos = GetScrollPos();
    pos.cx += GetScrollStepSize();
    SetScrollPos(pos);
}
void CContainerUI::PageLeft() {
    SIZE pos = GetScrollPos();
    pos.cx -= std::max<int>(1, GetClientPos().right - GetClientPos().left);
    SetScrollPos(pos);
}
void CContainerUI::PageRight() {
    SIZE pos = GetScrollPos();
    pos.cx += std::max<int>(1, GetClientPos().right - GetClientPos().left);
    SetScrollPos(pos);
}
void CContainerUI::HomeLeft() {
    SIZE pos = GetScrollPos();
    pos.cx = 0;
    SetScrollPos(pos);
}
void CContainerUI::EndRight() {
    SIZE pos = GetScrollPos();
    pos.cx = GetScrollRange().cx;
    SetScrollPos(pos);
}

void CContainerUI::EnableScrollBar(bool enableVertical, bool enableHorizontal) {
    auto update = [this](IScrollBarUI*& bar, bool enable, bool horizontal, const std::wstring& style) {
        if (enable && !bar) {
            if (!g_scrollBarMaker) return;  // no scroll bar class linked in
            bar = g_scrollBarMaker();
            if (!bar) return;
            bar->SetOwner(this);
            bar->SetHorizontal(horizontal);
            CControlUI* control = bar->AsControl();
            control->SetManager(manager_, nullptr, false);
            if (!style.empty()) control->ApplyAttributeList(style);
        } else if (!enable && bar) {
            CControlUI* control = bar->AsControl();
            bar = nullptr;
            if (manager_) manager_->ReapObjects(control);
            delete control;
        }
    };
    update(vScroll_, enableVertical, false, vScrollStyle_);
    update(hScroll_, enableHorizontal, true, hScrollStyle_);
    NeedUpdate();
}

IScrollBarUI* CContainerUI::GetVerticalScrollBar() const { return vScroll_; }
IScrollBarUI* CContainerUI::GetHorizontalScrollBar() const { return hScroll_; }

void CContainerUI::ProcessScrollBar(RECT rc, int cxRequired, int cyRequired) {
    if (scrollProcess_) return;
    scrollProcess_ = true;
    if (hScroll_) {
        CControlUI* bar = hScroll_->AsControl();
        const int width = rc.right - rc.left;
        if (cxRequired > width && !bar->IsOwnVisible() && !scrollBarDynamic_) bar->SetVisible(true);
        const int range = std::max(0, cxRequired - width);
        hScroll_->SetScrollRange(range);
        if (hScroll_->GetScrollPos() > range) hScroll_->SetScrollPos(range);
        const int h = bar->GetFixedHeight();
        bar->SetPos(RECT{rc.left, rc.bottom, rc.right, rc.bottom + h}, false);
    }
    if (vScroll_) {
        CControlUI* bar = vScroll_->AsControl();
        const int height = rc.bottom - rc.top;
        const int range = std::max(0, cyRequired - height);
        vScroll_->SetScrollRange(range);
        if (vScroll_->GetScrollPos() > range) vScroll_->SetScrollPos(range);
        const int w = bar->GetFixedWidth();
        bar->SetPos(RECT{rc.right, rc.top, rc.right + w, rc.bottom}, false);
    }
    scrollProcess_ = false;
}

// ---------------------------------------------------------------------------
// Layout

RECT CContainerUI::GetClientPos() const {
    RECT rc = rcItem_;
    const RECT inset = GetInset();
    rc.left += inset.left;
    rc.top += inset.top;
    rc.right -= inset.right;
    rc.bottom -= inset.bottom;
    if (vScroll_ && vScroll_->AsControl()->IsVisible()) rc.right -= vScroll_->AsControl()->GetFixedWidth();
    if (hScroll_ && hScroll_->AsControl()->IsVisible()) rc.bottom -= hScroll_->AsControl()->GetFixedHeight();
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    return rc;
}

LONG CContainerUI::ClampWidth(CControlUI* child, LONG cx) {
    return std::min<LONG>(std::max<LONG>(cx, child->GetMinWidth()), child->GetMaxWidth());
}

LONG CContainerUI::ClampHeight(CControlUI* child, LONG cy) {
    return std::min<LONG>(std::max<LONG>(cy, child->GetMinHeight()), child->GetMaxHeight());
}

void CContainerUI::ClampToMinMax(CControlUI* child, SIZE& size) const {
    size.cx = ClampWidth(child, size.cx);
    size.cy = ClampHeight(child, size.cy);
}

SIZE CContainerUI::CandidateSize(CControlUI* child) {
    SIZE c = {child->GetFixedWidth(), child->GetFixedHeight()};
    if (c.cx < 1) c.cx = child->GetMaxWidth();
    if (c.cy < 1) c.cy = child->GetMaxHeight();
    return c;
}

void CContainerUI::SetPos(RECT rc, bool needInvalidate) {
    CControlUI::SetPos(rc, needInvalidate);
    if (items_.empty()) return;
    RECT client = GetClientPos();
    const SIZE scroll = GetScrollPos();
    ::OffsetRect(&client, -scroll.cx, -scroll.cy);
    // Every child covers the client rectangle (clamped to its limits); they overlap.
    for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
        CControlUI* child = items_[i];
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        SIZE size = {client.right - client.left, client.bottom - client.top};
        ClampToMinMax(child, size);
        child->SetPos(RECT{client.left, client.top, client.left + size.cx, client.top + size.cy}, false);
    }
}

void CContainerUI::Move(SIZE offset, bool needInvalidate) {
    CControlUI::Move(offset, needInvalidate);
    if (vScroll_) vScroll_->AsControl()->Move(offset, false);
    if (hScroll_) hScroll_->AsControl()->Move(offset, false);
    for (CControlUI* child : items_)
        if (child->IsVisible()) child->Move(offset, false);
}

void CContainerUI::SetFloatPos(int index) {
    CControlUI* child = GetItemAt(index);
    if (!child || !child->IsVisible() || !child->IsFloat()) return;
    const RECT& ref = rcItem_;
    const int W = ref.right - ref.left, H = ref.bottom - ref.top;
    const SIZE xy = child->GetFixedXY();
    const int w = child->GetFixedWidth(), h = child->GetFixedHeight();
    const UINT align = child->GetFloatAlign();
    RECT rc;
    if (align != 0) {
        int x0 = xy.cx, y0 = xy.cy;
        if (align & DT_UI_HCENTER) x0 = (W - w) / 2;
        else if (align & DT_UI_RIGHT) x0 = W - w;
        if (align & DT_UI_VCENTER) y0 = (H - h) / 2;
        else if (align & DT_UI_BOTTOM) y0 = H - h;
        rc = RECT{ref.left + x0, ref.top + y0, ref.left + x0 + w, ref.top + y0 + h};
    } else {
        const FloatPercent p = child->GetFloatPercent();
        rc.left = ref.left + static_cast<int>(W * p.left) + xy.cx;
        rc.top = ref.top + static_cast<int>(H * p.top) + xy.cy;
        rc.right = ref.left + static_cast<int>(W * p.right) + w + xy.cx;
        rc.bottom = ref.top + static_cast<int>(H * p.bottom) + h + xy.cy;
    }
    child->SetPos(rc, false);
}

// ---------------------------------------------------------------------------
// Search and paint

CControlUI* CContainerUI::FindControl(FINDCONTROLPROC proc, LPVOID data, UINT flags) {
    if ((flags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
    if ((flags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
    if ((flags & UIFIND_HITTEST) && (!data || !::PtInRect(&rcItem_, *static_cast<POINT*>(data)))) return nullptr;
    if ((flags & UIFIND_HITTEST) && !mouseChildEnabled_) {
        CControlUI* result = nullptr;
        if (vScroll_) result = vScroll_->AsControl()->FindControl(proc, data, flags);
        if (!result && hScroll_) result = hScroll_->AsControl()->FindControl(proc, data, flags);
        if (!result) result = CControlUI::FindControl(proc, data, flags);
        return result;
    }

    CControlUI* result = nullptr;
    if (vScroll_) result = vScroll_->AsControl()->FindControl(proc, data, flags);
    if (!result && hScroll_) result = hScroll_->AsControl()->FindControl(proc, data, flags);
    if (result) return result;

    if (flags & UIFIND_ME_FIRST) {
        result = CControlUI::FindControl(proc, data, flags);
        if (result) return result;
    }
    const RECT client = GetClientPos();
    const int count = static_cast<int>(items_.size());
    for (int k = 0; k < count; ++k) {
        // Children may be removed by the callback's caller later, never during the walk.
        CControlUI* child = (flags & UIFIND_TOP_FIRST) ? items_[count - 1 - k] : items_[k];
        result = child->FindControl(proc, data, flags);
        if (!result) continue;
        if ((flags & UIFIND_HITTEST) && !result->IsFloat() && !::PtInRect(&client, *static_cast<POINT*>(data)))
            continue;
        if (!(flags & UIFIND_UPDATETEST)) return result;
    }
    result = nullptr;
    if (!(flags & UIFIND_ME_FIRST)) result = CControlUI::FindControl(proc, data, flags);
    return result;
}

bool CContainerUI::DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* stop) {
    RECT rcTemp;
    if (!::IntersectRect(&rcTemp, &rcPaint, &rcItem_)) return true;
    {
        CRenderClip clip;
        RenderEngine::GenerateClip(hDC, rcTemp, clip);
        if (!CControlUI::DoPaint(hDC, rcPaint, stop)) return false;
    }

    if (!items_.empty()) {
        const RECT client = GetClientPos();
        RECT clientPaint;
        const bool clientVisible = ::IntersectRect(&clientPaint, &rcTemp, &client) != 0;
        for (CControlUI* child : items_) {
            if (child == stop) return false;
            if (!child->IsVisible()) continue;
            RECT childPaint;
            if (!::IntersectRect(&childPaint, &rcPaint, &child->GetPos())) continue;
            if (child->IsFloat()) {
                CRenderClip clip;
                RenderEngine::GenerateClip(hDC, rcTemp, clip);
                if (!child->Paint(hDC, rcPaint, stop)) return false;
            } else {
                if (!clientVisible || !::IntersectRect(&childPaint, &clientPaint, &child->GetPos())) continue;
                CRenderClip clip;
                RenderEngine::GenerateClip(hDC, clientPaint, clip);
                if (!child->Paint(hDC, rcPaint, stop)) return false;
            }
        }
    }

    for (IScrollBarUI* bar : {vScroll_, hScroll_}) {
        if (!bar) continue;
        CControlUI* control = bar->AsControl();
        if (control == stop) return false;
        RECT barPaint;
        if (control->IsVisible() && ::IntersectRect(&barPaint, &rcPaint, &control->GetPos()))
            if (!control->Paint(hDC, rcPaint, stop)) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Attributes

void CContainerUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    if (name == L"inset") {
        SetInset(ParseRect(v));
    } else if (name == L"mousechild") {
        SetMouseChildEnabled(ParseBoolWord(v));
    } else if (name == L"vscrollbar") {
        EnableScrollBar(ParseBoolWord(v), hScroll_ != nullptr);
    } else if (name == L"vscrollbarstyle") {
        vScrollStyle_ = value;
        if (vScroll_) vScroll_->AsControl()->ApplyAttributeList(value);
    } else if (name == L"hscrollbar") {
        EnableScrollBar(vScroll_ != nullptr, ParseBoolWord(v));
    } else if (name == L"hscrollbarstyle") {
        hScrollStyle_ = value;
        if (hScroll_) hScroll_->AsControl()->ApplyAttributeList(value);
    } else if (name == L"childpadding") {
        int pad[2] = {};
        ParseIntList(v, pad, 2);
        SetChildPadding(pad[0], value.find(L',') == std::wstring::npos ? -1 : pad[1]);
    } else if (name == L"childalign") {
        if (value == L"left") SetChildAlign(0);
        else if (value == L"center") SetChildAlign(DT_UI_HCENTER);
        else if (value == L"right") SetChildAlign(DT_UI_RIGHT);
    } else if (name == L"childvalign") {
        if (value == L"top") SetChildVAlign(0);
        else if (value == L"vcenter") SetChildVAlign(DT_UI_VCENTER);
        else if (value == L"bottom") SetChildVAlign(DT_UI_BOTTOM);
    } else if (name == L"scrollstepsize") {
        SetScrollStepSize(ParseInt(v));
    } else if (name == L"selrangeimage" || name == L"SelRangeImageSwitchRes") {
        if (name == L"selrangeimage") selRangeImage_ = value;
        else switchRes_[name] = value;
    } else if (name == L"scrollbardynamicshow") {
        scrollBarDynamic_ = ParseBoolWord(v);
    } else if (name == L"DPIInset") {
        SetDpiInset(ParseBoolWord(v));
    } else if (name == L"DpiChildPadding") {
        SetDpiChildPadding(ParseBoolWord(v));
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

}  // namespace SkinUI
