// The scroll bar containers put beside their content: two arrow buttons, a
// rail and a thumb whose length follows the visible share of the content.
#pragma once

#include <windows.h>

#include <string>

#include "ui/control/uicontainer.h"
#include "ui/control/uicontrol.h"

namespace SkinUI {

class CScrollBarUI : public CControlUI, public IScrollBarUI {
public:
    CScrollBarUI();
    ~CScrollBarUI() override;

    const wchar_t* GetClass() const override;          // "ScrollBarUI"
    void* GetInterface(const wchar_t* name) override;  // "ScrollBar"

    // IScrollBarUI
    CControlUI* AsControl() override { return this; }
    void SetOwner(CContainerUI* owner) override { owner_ = owner; }
    void SetHorizontal(bool horizontal) override;
    int GetScrollRange() const override { return range_; }
    void SetScrollRange(int range) override;
    int GetScrollPos() const override { return pos_; }
    void SetScrollPos(int pos) override;  // clamped into [0, range]
    int GetLineSize() const override;     // scaled

    CContainerUI* GetOwner() const { return owner_; }
    bool IsHorizontal() const { return horizontal_; }
    void SetLineSize(int size);
    bool IsShowButton1() const { return showButton1_; }
    bool IsShowButton2() const { return showButton2_; }

    void SetPos(RECT rc, bool needInvalidate = true) override;
    void DoEvent(ControlEvent& event) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* stop) override;

    // Parts in device pixels (empty when hidden).
    const RECT& GetButton1Rect() const { return rcButton1_; }
    const RECT& GetButton2Rect() const { return rcButton2_; }
    const RECT& GetThumbRect() const { return rcThumb_; }

private:
    enum Part { kNone = 0, kButton1, kButton2, kThumb, kPageBefore, kPageAfter };
    struct PartImages {
        std::wstring normal, hot, pushed, disabled;
    };
    // Moves by `delta`: through the owner (which moves its content and
    // notifies), or on its own with a "scroll" notification.
    void ScrollBy(int delta);
    void ScrollTo(int pos);
    void StepPart(Part part);
    Part PartAt(POINT pt) const;
    void PaintPart(HDC hDC, const RECT& rc, const PartImages& images, Part part);
    bool SetImageAttribute(const std::wstring& name, const std::wstring& value);

    CContainerUI* owner_ = nullptr;
    bool horizontal_ = false;
    int range_ = 100;
    int pos_ = 0;
    int lineSize_ = 8;
    int thumbMinSize_ = 16;
    bool showButton1_ = true;
    bool showButton2_ = true;
    RECT rcButton1_ = {}, rcButton2_ = {}, rcThumb_ = {};
    Part hot_ = kNone;
    Part pressed_ = kNone;
    POINT dragStart_ = {};
    int dragStartPos_ = 0;
    PartImages button1_, button2_, thumb_, rail_, bk_;
};

}  // namespace SkinUI
