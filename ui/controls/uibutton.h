// The push button: a label with state images (normal, hot, pushed, focused,
// disabled, or frames cut from one state image), state colours and fonts, the
// mouse and keyboard events that end in "click", and an optional tab layout
// it switches.
#pragma once

#include <windows.h>

#include <string>

#include "ui/controls/uilabel.h"

namespace SkinUI {

// Bits of CButtonUI::GetButtonState.
enum ButtonState : UINT {
    UISTATE_FOCUSED = 0x01,
    UISTATE_SELECTED = 0x02,
    UISTATE_DISABLED = 0x04,
    UISTATE_HOT = 0x08,
    UISTATE_PUSHED = 0x10,
    UISTATE_CAPTURED = 0x40,
};

class CButtonUI : public CLabelUI {
public:
    CButtonUI();

    const wchar_t* GetClass() const override;          // "ButtonUI"
    void* GetInterface(const wchar_t* name) override;  // "Button"
    UINT GetControlFlags() const override;
    bool Activate() override;
    void SetEnabled(bool enable = true) override;
    void DoInit() override;
    void DoEvent(ControlEvent& event) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void PaintBkColor(HDC hDC) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintForeImage(HDC hDC) override;

    UINT GetButtonState() const { return state_; }
    void SetButtonState(UINT state);

    const std::wstring& GetNormalImage() const { return normalImage_; }
    void SetNormalImage(const std::wstring& image);
    const std::wstring& GetHotImage() const { return hotImage_; }
    void SetHotImage(const std::wstring& image);
    const std::wstring& GetPushedImage() const { return pushedImage_; }
    void SetPushedImage(const std::wstring& image);
    const std::wstring& GetFocusedImage() const { return focusedImage_; }
    void SetFocusedImage(const std::wstring& image);
    const std::wstring& GetDisabledImage() const { return disabledImage_; }
    void SetDisabledImage(const std::wstring& image);
    const std::wstring& GetHotForeImage() const { return hotForeImage_; }
    const std::wstring& GetPushedForeImage() const { return pushedForeImage_; }
    const std::wstring& GetStateImage() const { return stateImage_; }
    int GetStateCount() const { return stateCount_; }
    void SetStateImage(const std::wstring& image, int count);

    int GetBindTabIndex() const { return bindTabIndex_; }
    const std::wstring& GetBindTabLayoutName() const { return bindTabLayoutName_; }
    bool IsKeyboardActive() const { return keyboardActive_; }

protected:
    DWORD CurrentTextColor() const override;
    int CurrentFont() const override;
    // Draws the first image of the state order that draws: disabled, else
    // pushed, else hot, else focused; then `normal` when that one is missing
    // or fails. False when nothing was drawn.
    bool PaintByState(HDC hDC, const std::wstring& disabled, const std::wstring& pushed, const std::wstring& hot,
                      const std::wstring& focused, const std::wstring& normal);
    // Builds the normal/hot/pushed/disabled images from the frames of a state
    // image (once the image can be measured and no normal image is set).
    // Returns false when nothing was built.
    bool BuildStateImages(const std::wstring& stateImage, int count, std::wstring& normal, std::wstring& hot,
                          std::wstring& pushed, std::wstring& disabled);
    // Sends "click" or "rclick" and switches the bound tab layout.
    bool ActivateWith(const wchar_t* notification);

    UINT state_ = 0;
    std::wstring normalImage_, hotImage_, pushedImage_, focusedImage_, disabledImage_;
    std::wstring hotForeImage_, pushedForeImage_;
    std::wstring stateImage_;
    int stateCount_ = 0;
    DWORD hotBkColor_ = 0, pushedBkColor_ = 0, disabledBkColor_ = 0;
    DWORD hotTextColor_ = 0, pushedTextColor_ = 0, focusedTextColor_ = 0;
    int hotFont_ = -1, pushedFont_ = -1, focusedFont_ = -1;
    int bindTabIndex_ = -1;
    std::wstring bindTabLayoutName_;
    bool keyboardActive_ = true;
};

}  // namespace SkinUI
