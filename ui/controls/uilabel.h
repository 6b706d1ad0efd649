// Text controls: the label (one text in the control rectangle, aligned and
// padded, with optional shadow) and the text block (a label that wraps).
#pragma once

#include <windows.h>

#include <string>

#include "ui/control/uicontrol.h"

namespace SkinUI {

class CLabelUI : public CControlUI {
public:
    CLabelUI();

    const wchar_t* GetClass() const override;          // "LabelUI"
    void* GetInterface(const wchar_t* name) override;  // "Label"

    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    SIZE EstimateSize(SIZE available) override;
    void SetText(const std::wstring& text) override;
    void PaintText(HDC hDC) override;

    UINT GetTextStyle() const { return textStyle_; }
    void SetTextStyle(UINT style);
    DWORD GetTextColor() const { return textColor_; }
    void SetTextColor(DWORD color);
    DWORD GetDisabledTextColor() const { return disabledTextColor_; }
    void SetDisabledTextColor(DWORD color);
    int GetFont() const { return font_; }
    void SetFont(int index);
    RECT GetTextPadding() const;  // scaled when DPITextPadding
    void SetTextPadding(RECT padding);
    bool IsShowHtml() const { return showHtml_; }
    void SetShowHtml(bool show);
    bool IsAutoCalcWidth() const { return autoCalcWidth_; }
    void SetAutoCalcWidth(bool on);
    bool IsAutoCalcHeight() const { return autoCalcHeight_; }
    void SetAutoCalcHeight(bool on);
    bool IsShadowText() const { return shadowText_; }
    DWORD GetShadowTextColor() const { return shadowColor_; }
    POINT GetShadowTextOffset() const { return shadowOffset_; }

protected:
    // The text colour the label paints with in its current state.
    virtual DWORD CurrentTextColor() const;
    // The font index the label paints with in its current state.
    virtual int CurrentFont() const { return font_; }
    // Draws the text with the given colour and font into the padded rectangle.
    void DrawLabelText(HDC hDC, DWORD color, int font);
    // The text as drawn: with `showhtml`, the formatting tags ("<b>", "{/b}",
    // "{a link}"...) are taken out, since the drawing layer draws plain text.
    std::wstring DisplayText() const;
    // Width and height of the text laid out with `style` inside `width` pixels.
    SIZE MeasureText(UINT style, int width);

    DWORD textColor_ = 0;
    DWORD disabledTextColor_ = 0;
    int font_ = -1;
    UINT textStyle_ = DT_VCENTER | DT_SINGLELINE;
    RECT textPadding_ = {};
    bool showHtml_ = false;
    bool autoCalcWidth_ = false;
    bool autoCalcHeight_ = false;
    bool shadowText_ = false;
    DWORD shadowColor_ = 0xFF000000;
    double shadowRadius1_ = 1.5;
    double shadowRadius2_ = 1.5;
    POINT shadowOffset_ = {};
    bool richText_ = false;
    int richTextLineLimit_ = 0;
};

// A label whose text wraps at word boundaries by default.
class CTextUI : public CLabelUI {
public:
    CTextUI();
    const wchar_t* GetClass() const override;          // "TextUI"
    void* GetInterface(const wchar_t* name) override;  // "Text", then "Label"
};

}  // namespace SkinUI
