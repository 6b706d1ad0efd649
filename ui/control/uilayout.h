// The three layouts: a row (horizontal), a column (vertical) and pages (tab).
#pragma once

#include "ui/control/uicontainer.h"

namespace SkinUI {

// Children side by side; fixed widths first, the rest shared by the children
// without a width.
class CHorizontalLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override;          // "HorizontalLayoutUI"
    void* GetInterface(const wchar_t* name) override;  // "HorizontalLayout"
    UINT GetControlFlags() const override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void SetPos(RECT rc, bool needInvalidate = true) override;
    SIZE EstimateSize(SIZE available) override;

    void SetSepWidth(int width) { sepWidth_ = width; }
    int GetSepWidth() const { return sepWidth_; }
    void SetSepImmMode(bool immediately) { sepImm_ = immediately; }
    bool IsSepImmMode() const { return sepImm_; }
    void SetAutoCalcWidth(bool on) { autoCalcWidth_ = on; }
    bool IsAutoCalcWidth() const { return autoCalcWidth_; }
    void SetExpandBalance(bool on) { expandBalance_ = on; }
    bool IsExpandBalance() const { return expandBalance_; }

protected:
    int sepWidth_ = 0;
    bool sepImm_ = false;
    bool autoCalcWidth_ = false;
    bool expandBalance_ = false;
};

// Children one under the other; fixed heights first, the rest shared.
class CVerticalLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override;          // "VerticalLayoutUI"
    void* GetInterface(const wchar_t* name) override;  // "VerticalLayout"
    UINT GetControlFlags() const override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void SetPos(RECT rc, bool needInvalidate = true) override;
    SIZE EstimateSize(SIZE available) override;

    void SetSepHeight(int height) { sepHeight_ = height; }
    int GetSepHeight() const { return sepHeight_; }
    void SetSepImmMode(bool immediately) { sepImm_ = immediately; }
    bool IsSepImmMode() const { return sepImm_; }
    void SetAutoCalcHeight(bool on) { autoCalcHeight_ = on; }
    bool IsAutoCalcHeight() const { return autoCalcHeight_; }

protected:
    int sepHeight_ = 0;
    bool sepImm_ = false;
    bool autoCalcHeight_ = false;
};

// Pages: exactly one child (the current page) is visible.
class CTabLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override;          // "TabLayoutUI"
    void* GetInterface(const wchar_t* name) override;  // "TabLayout"

    bool Add(CControlUI* control) override;
    bool AddAt(CControlUI* control, int index) override;
    bool Remove(CControlUI* control) override;
    void RemoveAll() override;
    void SetPos(RECT rc, bool needInvalidate = true) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;

    int GetCurSel() const { return curSel_; }
    int GetPrevSel() const { return prevSel_; }
    // Out of range: false, nothing changes. The current page: true, no notification.
    virtual bool SelectItem(int index, bool takeFocus = true);
    virtual bool SelectItem(CControlUI* page, bool takeFocus = true);

protected:
    int curSel_ = -1;
    int prevSel_ = -1;
};

}  // namespace SkinUI
