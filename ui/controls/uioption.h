// Selectable buttons: the option (radio button when it has a group, toggle
// otherwise) and the check box.
#pragma once

#include <windows.h>

#include <string>

#include "ui/controls/uibutton.h"

namespace SkinUI {

class COptionUI : public CButtonUI {
public:
    COptionUI() = default;
    ~COptionUI() override;

    const wchar_t* GetClass() const override;          // "OptionUI"
    void* GetInterface(const wchar_t* name) override;  // "Option"
    void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    bool Activate() override;
    void SetEnabled(bool enable = true) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void PaintBkColor(HDC hDC) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintForeImage(HDC hDC) override;
    std::wstring GetToolTip() const override;

    bool IsSelected() const { return selected_; }
    // Selecting an option of a group deselects the others first (each with the
    // same `notify`), then "selectchanged" is sent for this one.
    virtual void SetSelected(bool selected, bool notify = true);
    const std::wstring& GetGroup() const { return group_; }
    void SetGroup(const std::wstring& group);

    const std::wstring& GetSelectedImage() const { return selectedImage_; }
    const std::wstring& GetSelectedHotImage() const { return selectedHotImage_; }
    const std::wstring& GetSelectedPushedImage() const { return selectedPushedImage_; }

protected:
    DWORD CurrentTextColor() const override;
    int CurrentFont() const override;
    // The wParam of "selectchanged".
    virtual WPARAM SelectChangedParam() const { return 0; }

    bool selected_ = false;
    std::wstring group_;
    std::wstring selectedImage_, selectedHotImage_, selectedPushedImage_, selectedDisabledImage_;
    std::wstring selectedForeImage_, selectedStateImage_;
    int selectedStateCount_ = 0;
    DWORD selectedBkColor_ = 0;
    DWORD selectedTextColor_ = 0;
    int selectedFont_ = -1;
    std::wstring selectedToolTip_;
};

class CCheckBoxUI : public COptionUI {
public:
    const wchar_t* GetClass() const override;          // "CheckBoxUI"
    void* GetInterface(const wchar_t* name) override;  // "CheckBox", then "Option"
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;

    bool IsChecked() const { return IsSelected(); }
    void SetCheck(bool check, bool notify = true) { SetSelected(check, notify); }
    bool IsAutoCheck() const { return autoCheck_; }
    void SetAutoCheck(bool on) { autoCheck_ = on; }

protected:
    WPARAM SelectChangedParam() const override { return selected_ ? 1 : 0; }

private:
    bool autoCheck_ = false;
};

}  // namespace SkinUI
