#include "ui/controls/uiprogress.h"

#include <cwchar>

#include "ui/core/uivalue.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uirender.h"
#include "ui/core/uitext.h"

namespace SkinUI {

CProgressUI::CProgressUI() {
    textStyle_ = DT_CENTER | DT_SINGLELINE;
    fixedSize_.cy = 12;
}

const wchar_t* CProgressUI::GetClass() const { return L"ProgressUI"; }

void* CProgressUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"Progress") == 0) return this;
    return CLabelUI::GetInterface(name);
}

void CProgressUI::SetHorizontal(bool horizontal) {
    horizontal_ = horizontal;
    Invalidate();
}
void CProgressUI::SetMinValue(int value) {
    min_ = value;
    UpdateText();
    Invalidate();
}
void CProgressUI::SetMaxValue(int value) {
    max_ = value;
    UpdateText();
    Invalidate();
}
void CProgressUI::SetValue(int value) {
    if (value == value_) return;
    value_ = value;
    UpdateText();
    Invalidate();
}
void CProgressUI::SetStretchForeImage(bool stretch) {
    stretchFore_ = stretch;
    Invalidate();
}
void CProgressUI::SetShowText(bool show) {
    showText_ = show;
    UpdateText();
    Invalidate();
}

void CProgressUI::Normalised(int& lo, int& hi, int& value) const {
    lo = min_;
    hi = max_ < min_ + 1 ? min_ + 1 : max_;
    value = value_ < lo ? lo : (value_ > hi ? hi : value_);
}

void CProgressUI::UpdateText() {
    if (!showText_) return;
    int lo, hi, value;
    Normalised(lo, hi, value);
    // The share in whole percent, a half rounded to the even neighbour (as
    // "%.0f" rounds).
    const long long part = static_cast<long long>(value - lo) * 100, whole = static_cast<long long>(hi) - lo;
    long long percent = part / whole;
    const long long twice = (part % whole) * 2;
    if (twice > whole || (twice == whole && (percent & 1))) ++percent;
    CLabelUI::SetText(SkinUI::DecimalText(percent) + L"%");
}

RECT CProgressUI::GetFillRect() const {
    int lo, hi, value;
    Normalised(lo, hi, value);
    const LONG width = rcItem_.right - rcItem_.left;
    const LONG height = rcItem_.bottom - rcItem_.top;
    // 64-bit products: a tall range times a wide bar must not overflow.
    if (horizontal_)
        return {0, 0, static_cast<LONG>(static_cast<long long>(width) * (value - lo) / (hi - lo)), height};
    return {0, static_cast<LONG>(static_cast<long long>(height) * (hi - value) / (hi - lo)), width, height};
}

std::wstring CProgressUI::MakeForeImageModify() const {
    RECT rc = GetFillRect();
    if (manager_) {
        const CDpiScale* dpi = manager_->GetDPIObj();
        rc = {dpi->ScaleBack(rc.left), dpi->ScaleBack(rc.top), dpi->ScaleBack(rc.right), dpi->ScaleBack(rc.bottom)};
    }
    const int l = rc.left, t = rc.top, r = rc.right, b = rc.bottom;
    wchar_t buf[160];
    if (stretchFore_)
        SkinUI::FormatText(buf, 160, L"dest='%d,%d,%d,%d'", l, t, r, b);
    else
        SkinUI::FormatText(buf, 160, L"dest='%d,%d,%d,%d' source='%d,%d,%d,%d'", l, t, r, b, l, t, r, b);
    return buf;
}

void CProgressUI::PaintForeColor(HDC hDC) {
    if (foreColor_ == 0) return;
    RECT rc = GetFillRect();
    if (rc.right <= rc.left || rc.bottom <= rc.top) return;
    ::OffsetRect(&rc, rcItem_.left, rcItem_.top);
    RenderEngine::DrawColor(hDC, rc, foreColor_);
}

void CProgressUI::PaintForeImage(HDC hDC) {
    if (foreImage_.empty()) return;
    const RECT rc = GetFillRect();
    if (rc.right <= rc.left || rc.bottom <= rc.top) return;  // nothing filled yet
    foreModify_ = MakeForeImageModify();
    DrawImage(hDC, foreImage_, foreModify_);
}

void CProgressUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    if (name == L"hor") SetHorizontal(ParseBoolWord(v));
    else if (name == L"min") SetMinValue(ParseInt(v));
    else if (name == L"max") SetMaxValue(ParseInt(v));
    else if (name == L"value") SetValue(ParseInt(v));
    else if (name == L"isstretchfore") SetStretchForeImage(ParseBoolWord(v));
    else if (name == L"showtext") SetShowText(ParseBoolWord(v));
    else CLabelUI::SetAttribute(name, value);
}

}  // namespace SkinUI
