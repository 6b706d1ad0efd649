// The progress bar: a label whose fore colour and fore image fill the part of
// the bar that the value reaches (from the left, or from the bottom).
#pragma once

#include <windows.h>

#include <string>

#include "ui/controls/uilabel.h"

namespace SkinUI {

class CProgressUI : public CLabelUI {
public:
    CProgressUI();

    const wchar_t* GetClass() const override;          // "ProgressUI"
    void* GetInterface(const wchar_t* name) override;  // "Progress"
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void PaintForeColor(HDC hDC) override;
    void PaintForeImage(HDC hDC) override;

    bool IsHorizontal() const { return horizontal_; }
    void SetHorizontal(bool horizontal);
    int GetMinValue() const { return min_; }
    void SetMinValue(int value);
    int GetMaxValue() const { return max_; }
    void SetMaxValue(int value);
    // The value as set; painting uses it clamped into [min, max].
    int GetValue() const { return value_; }
    void SetValue(int value);
    void SetProgressValue(int value) { SetValue(value); }
    bool IsStretchForeImage() const { return stretchFore_; }
    void SetStretchForeImage(bool stretch);
    bool IsShowText() const { return showText_; }
    void SetShowText(bool show);

    // The filled rectangle relative to the control, in device pixels.
    RECT GetFillRect() const;
    // The modifier the fore image was last drawn with.
    const std::wstring& GetForeImageModify() const { return foreModify_; }
    // The modifier for the current value and size (unscaled pixels).
    std::wstring MakeForeImageModify() const;

private:
    // Minimum, maximum and value after normalisation: max >= min + 1 and the
    // value clamped into [min, max].
    void Normalised(int& lo, int& hi, int& value) const;
    void UpdateText();

    bool horizontal_ = true;
    int min_ = 0;
    int max_ = 100;
    int value_ = 0;
    bool stretchFore_ = true;
    bool showText_ = false;
    std::wstring foreModify_;
};

}  // namespace SkinUI
