#include "ui/controls/uilabel.h"

#include <cwchar>
#include <cwctype>

#include "nqpublic/nqbase/nqhandle.h"
#include "ui/core/uivalue.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uirender.h"

namespace SkinUI {

CLabelUI::CLabelUI() = default;

const wchar_t* CLabelUI::GetClass() const { return L"LabelUI"; }

void* CLabelUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"Label") == 0) return this;
    return CControlUI::GetInterface(name);
}

void CLabelUI::SetTextStyle(UINT style) {
    textStyle_ = style;
    Invalidate();
}
void CLabelUI::SetTextColor(DWORD color) {
    textColor_ = color;
    Invalidate();
}
void CLabelUI::SetDisabledTextColor(DWORD color) {
    disabledTextColor_ = color;
    Invalidate();
}
void CLabelUI::SetFont(int index) {
    font_ = index;
    Invalidate();
}
RECT CLabelUI::GetTextPadding() const { return dpiTextPadding_ ? ScaleRect(textPadding_) : textPadding_; }
void CLabelUI::SetTextPadding(RECT padding) {
    textPadding_ = padding;
    NeedParentUpdate();
}
void CLabelUI::SetShowHtml(bool show) {
    showHtml_ = show;
    Invalidate();
}
void CLabelUI::SetAutoCalcWidth(bool on) {
    autoCalcWidth_ = on;
    NeedParentUpdate();
}
void CLabelUI::SetAutoCalcHeight(bool on) {
    autoCalcHeight_ = on;
    NeedParentUpdate();
}

void CLabelUI::SetText(const std::wstring& text) {
    CControlUI::SetText(text);
    // A new text changes the measured size of a self-sizing label.
    if (autoCalcWidth_ || autoCalcHeight_) NeedParentUpdate();
}

void CLabelUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    if (name == L"align") {
        if (value.find(L"left") != std::wstring::npos) {
            textStyle_ &= ~(DT_CENTER | DT_RIGHT);
            textStyle_ |= DT_LEFT;
        }
        if (value.find(L"center") != std::wstring::npos) {
            textStyle_ &= ~(DT_LEFT | DT_RIGHT);
            textStyle_ |= DT_CENTER;
        }
        if (value.find(L"right") != std::wstring::npos) {
            textStyle_ &= ~(DT_LEFT | DT_CENTER);
            textStyle_ |= DT_RIGHT;
        }
        Invalidate();
    } else if (name == L"valign") {
        if (value.find(L"top") != std::wstring::npos) {
            textStyle_ &= ~(DT_BOTTOM | DT_VCENTER);
            textStyle_ |= DT_TOP;
        }
        if (value.find(L"vcenter") != std::wstring::npos) {
            textStyle_ &= ~(DT_TOP | DT_BOTTOM);
            textStyle_ |= DT_VCENTER;
        }
        if (value.find(L"bottom") != std::wstring::npos) {
            textStyle_ &= ~(DT_TOP | DT_VCENTER);
            textStyle_ |= DT_BOTTOM;
        }
        Invalidate();
    } else if (name == L"endellipsis") {
        SetTextStyle(ParseBoolWord(v) ? (textStyle_ | DT_END_ELLIPSIS) : (textStyle_ & ~DT_END_ELLIPSIS));
    } else if (name == L"midellipsis") {
        SetTextStyle(ParseBoolWord(v) ? (textStyle_ | DT_MIDDLE_ELLIPSIS_UI) : (textStyle_ & ~DT_MIDDLE_ELLIPSIS_UI));
    } else if (name == L"wordbreak") {
        // A wrapping text is no longer single-line.
        SetTextStyle(ParseBoolWord(v) ? ((textStyle_ & ~DT_SINGLELINE) | DT_WORDBREAK)
                                      : ((textStyle_ & ~DT_WORDBREAK) | DT_SINGLELINE));
    } else if (name == L"noprefix") {
        SetTextStyle(ParseBoolWord(v) ? (textStyle_ | DT_NOPREFIX) : (textStyle_ & ~DT_NOPREFIX));
    } else if (name == L"font") {
        SetFont(ParseInt(v));
    } else if (name == L"textcolor") {
        SetTextColor(ParseColor(v));
    } else if (name == L"disabledtextcolor") {
        SetDisabledTextColor(ParseColor(v));
    } else if (name == L"textpadding") {
        SetTextPadding(ParseRect(v));
    } else if (name == L"showhtml") {
        SetShowHtml(ParseBoolWord(v));
    } else if (name == L"autocalcwidth") {
        SetAutoCalcWidth(ParseBoolWord(v));
    } else if (name == L"autocalcheight") {
        SetAutoCalcHeight(ParseBoolWord(v));
    } else if (name == L"shdowtext") {
        shadowText_ = ParseBoolWord(v);
        Invalidate();
    } else if (name == L"shdowtextcolor") {
        shadowColor_ = ParseColor(v);
        Invalidate();
    } else if (name == L"shdowtextr") {
        shadowRadius1_ = std::wcstod(v, nullptr);
    } else if (name == L"shdowtextr2") {
        shadowRadius2_ = std::wcstod(v, nullptr);
    } else if (name == L"shdowtextoffset") {
        shadowOffset_ = ParsePoint(v);
        Invalidate();
    } else if (name == L"RichText") {
        richText_ = ParseBoolWord(v);
    } else if (name == L"RichTextLineLimit") {
        richTextLineLimit_ = ParseInt(v);
    } else if (name.size() > 9 && name.compare(name.size() - 9, 9, L"SwitchRes") == 0) {
        // Every control's switch-resource lists are kept as written.
        switchRes_[name] = value;
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

DWORD CLabelUI::CurrentTextColor() const {
    if (!IsEnabled()) {
        if (disabledTextColor_ != 0) return disabledTextColor_;
        return manager_ ? manager_->GetDefaultDisabledColor() : 0xFFA7A6AA;
    }
    if (textColor_ != 0) return textColor_;
    return manager_ ? manager_->GetDefaultFontColor() : 0xFF000000;
}

void CLabelUI::PaintText(HDC hDC) { DrawLabelText(hDC, CurrentTextColor(), CurrentFont()); }

std::wstring CLabelUI::DisplayText() const {
    if (!showHtml_) return text_;
    std::wstring out;
    out.reserve(text_.size());
    for (size_t i = 0; i < text_.size(); ++i) {
        const wchar_t ch = text_[i];
        const wchar_t close = ch == L'<' ? L'>' : ch == L'{' ? L'}' : 0;
        if (close) {
            const size_t end = text_.find(close, i + 1);
            if (end != std::wstring::npos) {
                if (end - i == 2 && text_[i + 1] == L'n') out += L"\r\n";  // {n}: a line break
                i = end;
                continue;
            }
        }
        out += ch;
    }
    return out;
}

void CLabelUI::DrawLabelText(HDC hDC, DWORD color, int font) {
    if (!manager_ || text_.empty()) return;
    const std::wstring text = DisplayText();
    RECT rc = rcItem_;
    const RECT pad = GetTextPadding();
    rc.left += pad.left;
    rc.top += pad.top;
    rc.right -= pad.right;
    rc.bottom -= pad.bottom;
    // The drawing layer has no markup renderer of its own: HTML text is drawn as
    // plain text. The shadow is the same text under it, shifted by the offset
    // (at least one pixel down and right so that it shows).
    if (shadowText_) {
        RECT shadow = rc;
        const POINT off = {shadowOffset_.x || shadowOffset_.y ? ScaleValue(shadowOffset_.x) : 1,
                           shadowOffset_.x || shadowOffset_.y ? ScaleValue(shadowOffset_.y) : 1};
        ::OffsetRect(&shadow, off.x, off.y);
        RenderEngine::RenderText(hDC, manager_, shadow, text.c_str(), -1, shadowColor_, font, textStyle_, this);
    }
    RenderEngine::RenderText(hDC, manager_, rc, text.c_str(), -1, color, font, textStyle_, this);
}

SIZE CLabelUI::MeasureText(UINT style, int width) {
    if (!manager_) return {0, 0};
    HDC dc = manager_->GetPaintDC();
    nq::unique_hdc own;
    if (!dc) {
        own.reset(::CreateCompatibleDC(nullptr));
        dc = own.get();
    }
    RECT rc = {0, 0, width, 9999};
    const std::wstring text = DisplayText();
    RenderEngine::RenderText(dc, manager_, rc, text.c_str(), -1, 0, font_, style | DT_CALCRECT, this, true);
    return {rc.right - rc.left, rc.bottom - rc.top};
}

SIZE CLabelUI::EstimateSize(SIZE available) {
    SIZE size = CControlUI::EstimateSize(available);
    if (!autoCalcWidth_ && !autoCalcHeight_) return size;
    const RECT pad = GetTextPadding();
    if (autoCalcWidth_) {
        const UINT style = (textStyle_ & ~(DT_WORDBREAK | DT_END_ELLIPSIS | DT_MIDDLE_ELLIPSIS_UI)) | DT_SINGLELINE;
        size.cx = text_.empty() ? 0 : MeasureText(style, 9999).cx;
        size.cx += pad.left + pad.right;
        size.cy = GetFixedHeight();
    }
    if (autoCalcHeight_) {
        const int width = (size.cx > 0 ? size.cx : available.cx) - pad.left - pad.right;
        const UINT style = (textStyle_ & ~DT_SINGLELINE) | DT_WORDBREAK;
        size.cy = (text_.empty() ? 0 : MeasureText(style, width > 0 ? width : 1).cy) + pad.top + pad.bottom;
    }
    return size;
}

// ---------------------------------------------------------------------------

CTextUI::CTextUI() { textStyle_ = DT_WORDBREAK; }

const wchar_t* CTextUI::GetClass() const { return L"TextUI"; }

void* CTextUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"Text") == 0) return this;
    return CLabelUI::GetInterface(name);
}

}  // namespace SkinUI
