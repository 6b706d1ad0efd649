#include "ui/controls/uiscrollbar.h"

#include <algorithm>
#include <cwchar>

#include "ui/core/uivalue.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uirender.h"
#include "ui/core/uitext.h"

namespace SkinUI {
namespace {
constexpr UINT kRepeatTimer = 10;
constexpr UINT kRepeatFirstMs = 400;
constexpr UINT kRepeatMs = 50;
}  // namespace

CScrollBarUI::CScrollBarUI() {
    fixedSize_ = {16, 0};
}

CScrollBarUI::~CScrollBarUI() {
    if (manager_) manager_->KillControlTimers(this);
}

const wchar_t* CScrollBarUI::GetClass() const { return L"ScrollBarUI"; }

void* CScrollBarUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"ScrollBar") == 0) return this;
    return CControlUI::GetInterface(name);
}

void CScrollBarUI::SetHorizontal(bool horizontal) {
    if (horizontal_ == horizontal) return;
    horizontal_ = horizontal;
    fixedSize_ = horizontal ? SIZE{0, fixedSize_.cx} : SIZE{fixedSize_.cy, 0};
    NeedParentUpdate();
}

void CScrollBarUI::SetScrollRange(int range) {
    range_ = std::max(0, range);
    pos_ = std::min(pos_, range_);
    SetPos(rcItem_, false);
    Invalidate();
}

void CScrollBarUI::SetScrollPos(int pos) {
    pos = std::max(0, std::min(pos, range_));
    if (pos == pos_) return;
    pos_ = pos;
    SetPos(rcItem_, false);
    Invalidate();
}

int CScrollBarUI::GetLineSize() const { return ScaleValue(lineSize_); }
void CScrollBarUI::SetLineSize(int size) {
    if (size > 0) lineSize_ = size;
}

void CScrollBarUI::SetPos(RECT rc, bool needInvalidate) {
    CControlUI::SetPos(rc, needInvalidate);
    rc = rcItem_;
    // Lengths along the bar: the buttons are squares of the bar's thickness.
    const int thick = horizontal_ ? rc.bottom - rc.top : rc.right - rc.left;
    const int start = horizontal_ ? rc.left : rc.top;
    const int end = horizontal_ ? rc.right : rc.bottom;
    auto along = [&](int from, int to) {
        return horizontal_ ? RECT{from, rc.top, to, rc.bottom} : RECT{rc.left, from, rc.right, to};
    };
    const int b1 = showButton1_ ? std::min(thick, (end - start) / 2) : 0;
    const int b2 = showButton2_ ? std::min(thick, (end - start) / 2) : 0;
    rcButton1_ = b1 ? along(start, start + b1) : RECT{};
    rcButton2_ = b2 ? along(end - b2, end) : RECT{};
    const int railStart = start + b1, railLength = std::max(0, end - b2 - railStart);
    if (range_ <= 0 || railLength <= 0) {
        rcThumb_ = RECT{};
        return;
    }
    const int visible = std::max(1, end - start);
    int thumb = static_cast<int>(static_cast<long long>(railLength) * visible / (visible + range_));
    thumb = std::min(railLength, std::max(thumb, ScaleValue(thumbMinSize_)));
    const int offset = static_cast<int>(static_cast<long long>(railLength - thumb) * pos_ / range_);
    rcThumb_ = along(railStart + offset, railStart + offset + thumb);
}

CScrollBarUI::Part CScrollBarUI::PartAt(POINT pt) const {
    if (::PtInRect(&rcButton1_, pt)) return kButton1;
    if (::PtInRect(&rcButton2_, pt)) return kButton2;
    if (::PtInRect(&rcThumb_, pt)) return kThumb;
    if (!::PtInRect(&rcItem_, pt)) return kNone;
    const bool before = horizontal_ ? pt.x < rcThumb_.left : pt.y < rcThumb_.top;
    return before ? kPageBefore : kPageAfter;
}

void CScrollBarUI::ScrollTo(int pos) {
    pos = std::max(0, std::min(pos, range_));
    if (pos == pos_) return;
    if (owner_) {
        SIZE size = owner_->GetScrollPos();
        (horizontal_ ? size.cx : size.cy) = pos;
        owner_->SetScrollPos(size);
    } else {
        SetScrollPos(pos);
        Notify(L"scroll", static_cast<WPARAM>(pos_));
    }
}

void CScrollBarUI::ScrollBy(int delta) { ScrollTo(pos_ + delta); }

void CScrollBarUI::StepPart(Part part) {
    const int page = horizontal_ ? rcItem_.right - rcItem_.left : rcItem_.bottom - rcItem_.top;
    const int line = GetLineSize();
    switch (part) {
    case kButton1: ScrollBy(-line); break;
    case kButton2: ScrollBy(line); break;
    case kPageBefore: ScrollBy(-std::max(line, page)); break;
    case kPageAfter: ScrollBy(std::max(line, page)); break;
    default: break;
    }
}

void CScrollBarUI::DoEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.Type)) {
        if (owner_) owner_->DoEvent(event);
        return;
    }
    switch (event.Type) {
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
        if (!IsEnabled()) return;
        pressed_ = PartAt(event.ptMouse);
        if (pressed_ == kThumb) {
            dragStart_ = event.ptMouse;
            dragStartPos_ = pos_;
        } else if (pressed_ != kNone) {
            StepPart(pressed_);
            if (manager_) manager_->SetControlTimer(this, kRepeatTimer, kRepeatFirstMs);
        }
        Invalidate();
        return;
    case UIEVENT_BUTTONUP:
        if (pressed_ != kNone && manager_) manager_->KillControlTimer(this, kRepeatTimer);
        pressed_ = kNone;
        Invalidate();
        return;
    case UIEVENT_TIMER:
        if (event.wParam != kRepeatTimer) break;
        if (pressed_ == kNone || pressed_ == kThumb) {
            if (manager_) manager_->KillControlTimer(this, kRepeatTimer);
            return;
        }
        // Paging stops once the thumb has reached the pointer.
        if ((pressed_ == kPageBefore || pressed_ == kPageAfter) && PartAt(manager_->GetMousePos()) != pressed_)
            return;
        StepPart(pressed_);
        if (manager_) {
            manager_->KillControlTimer(this, kRepeatTimer);
            manager_->SetControlTimer(this, kRepeatTimer, kRepeatMs);
        }
        return;
    case UIEVENT_MOUSEMOVE:
        if (pressed_ == kThumb) {
            const int railLength = horizontal_ ? (rcItem_.right - rcItem_.left) - (rcButton1_.right - rcButton1_.left) -
                                                     (rcButton2_.right - rcButton2_.left)
                                               : (rcItem_.bottom - rcItem_.top) - (rcButton1_.bottom - rcButton1_.top) -
                                                     (rcButton2_.bottom - rcButton2_.top);
            const int thumb = horizontal_ ? rcThumb_.right - rcThumb_.left : rcThumb_.bottom - rcThumb_.top;
            const int moved = horizontal_ ? event.ptMouse.x - dragStart_.x : event.ptMouse.y - dragStart_.y;
            if (railLength > thumb)
                ScrollTo(dragStartPos_ +
                         static_cast<int>(static_cast<long long>(moved) * range_ / (railLength - thumb)));
        } else if (PartAt(event.ptMouse) != hot_) {
            hot_ = PartAt(event.ptMouse);
            Invalidate();
        }
        return;
    case UIEVENT_MOUSEENTER:
        hot_ = PartAt(event.ptMouse);
        Invalidate();
        return;
    case UIEVENT_MOUSELEAVE:
        hot_ = kNone;
        Invalidate();
        return;
    case UIEVENT_SCROLLWHEEL:
        StepPart(event.wParam == 1 ? kButton2 : kButton1);
        return;
    default:
        break;
    }
    if (owner_)
        owner_->DoEvent(event);
    else
        CControlUI::DoEvent(event);
}

bool CScrollBarUI::SetImageAttribute(const std::wstring& name, const std::wstring& value) {
    struct Row {
        const wchar_t* prefix;
        PartImages* images;
    };
    const Row rows[] = {{L"button1", &button1_}, {L"button2", &button2_}, {L"thumb", &thumb_},
                        {L"rail", &rail_},       {L"bk", &bk_}};
    for (const Row& row : rows) {
        const size_t n = std::wcslen(row.prefix);
        if (name.compare(0, n, row.prefix) != 0) continue;
        const std::wstring state = name.substr(n);
        if (state == L"normalimage") row.images->normal = value;
        else if (state == L"hotimage") row.images->hot = value;
        else if (state == L"pushedimage") row.images->pushed = value;
        else if (state == L"disabledimage") row.images->disabled = value;
        else return false;
        Invalidate();
        return true;
    }
    return false;
}

void CScrollBarUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    if (SetImageAttribute(name, value)) return;
    if (name == L"hor") SetHorizontal(ParseBoolWord(v));
    else if (name == L"linesize") SetLineSize(ParseInt(v));
    else if (name == L"range") SetScrollRange(ParseInt(v));
    else if (name == L"value") SetScrollPos(ParseInt(v));
    else if (name == L"showbutton1") showButton1_ = ParseBoolWord(v);
    else if (name == L"showbutton2") showButton2_ = ParseBoolWord(v);
    else if (name == L"Thumbminsize") thumbMinSize_ = std::max(0, ParseInt(v));
    else CControlUI::SetAttribute(name, value);
}

void CScrollBarUI::PaintPart(HDC hDC, const RECT& rc, const PartImages& images, Part part) {
    if (rc.right <= rc.left || rc.bottom <= rc.top) return;
    const std::wstring* image = &images.normal;
    if (!IsEnabled() && !images.disabled.empty()) image = &images.disabled;
    else if (part != kNone && pressed_ == part && !images.pushed.empty()) image = &images.pushed;
    else if (part != kNone && hot_ == part && !images.hot.empty()) image = &images.hot;
    if (image->empty() || !manager_) return;
    // Part images are drawn into the part's rectangle.
    const RECT dest = {rc.left - rcItem_.left, rc.top - rcItem_.top, rc.right - rcItem_.left, rc.bottom - rcItem_.top};
    const CDpiScale* dpi = manager_->GetDPIObj();
    wchar_t modify[96];
    SkinUI::FormatText(modify, 96, L"dest='%d,%d,%d,%d'", dpi->ScaleBack(dest.left), dpi->ScaleBack(dest.top),
                  dpi->ScaleBack(dest.right), dpi->ScaleBack(dest.bottom));
    DrawImage(hDC, *image, modify);
}

bool CScrollBarUI::DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* stop) {
    rcPaint_ = rcPaint;
    PaintBkColor(hDC);
    PaintBkImage(hDC);
    const std::wstring* bk = &bk_.normal;
    if (!IsEnabled() && !bk_.disabled.empty()) bk = &bk_.disabled;
    else if (pressed_ != kNone && !bk_.pushed.empty()) bk = &bk_.pushed;
    else if (hot_ != kNone && !bk_.hot.empty()) bk = &bk_.hot;
    if (!bk->empty()) DrawImage(hDC, *bk);
    PaintPart(hDC, rcButton1_, button1_, kButton1);
    PaintPart(hDC, rcButton2_, button2_, kButton2);
    PaintPart(hDC, rcThumb_, thumb_, kThumb);
    // The rail mark sits in the middle of the thumb, at its own size when it has one.
    PaintPart(hDC, rcThumb_, rail_, kThumb);
    PaintBorder(hDC);
    (void)stop;
    return true;
}

}  // namespace SkinUI
