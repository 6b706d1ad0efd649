// Containers own child controls and place them. The plain container stacks
// every child over its client rectangle; the layouts (uilayout.h) place them
// in rows, columns or pages.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/control/uicontrol.h"

namespace SkinUI {

class CContainerUI;

// The child list operations every container offers.
class IContainerUI {
public:
    virtual ~IContainerUI() = default;
    virtual CControlUI* GetItemAt(int index) const = 0;
    virtual int GetItemIndex(CControlUI* control) const = 0;
    virtual bool SetItemIndex(CControlUI* control, int index) = 0;
    virtual int GetCount() const = 0;
    virtual bool Add(CControlUI* control) = 0;
    virtual bool AddAt(CControlUI* control, int index) = 0;
    virtual bool Remove(CControlUI* control) = 0;
    virtual bool RemoveAt(int index) = 0;
    virtual void RemoveAll() = 0;
};

// What a container needs of its scroll bars. The standard controls provide the
// scroll bar and register its maker with SetScrollBarMaker.
class IScrollBarUI {
public:
    virtual ~IScrollBarUI() = default;
    virtual CControlUI* AsControl() = 0;
    virtual void SetOwner(CContainerUI* owner) = 0;
    virtual void SetHorizontal(bool horizontal) = 0;
    virtual int GetScrollRange() const = 0;
    virtual void SetScrollRange(int range) = 0;
    virtual int GetScrollPos() const = 0;
    virtual void SetScrollPos(int pos) = 0;
    virtual int GetLineSize() const = 0;
};
using ScrollBarMaker = IScrollBarUI* (*)();
void SetScrollBarMaker(ScrollBarMaker maker);
ScrollBarMaker GetScrollBarMaker();

class CContainerUI : public CControlUI, public IContainerUI {
public:
    CContainerUI();
    ~CContainerUI() override;

    const wchar_t* GetClass() const override;          // "ContainerUI"
    void* GetInterface(const wchar_t* name) override;  // "Container", "IContainer"

    // IContainerUI. The container owns its children; Remove deletes the child
    // (later, through the manager, when delayed destroy is on).
    CControlUI* GetItemAt(int index) const override;
    int GetItemIndex(CControlUI* control) const override;
    bool SetItemIndex(CControlUI* control, int index) override;
    int GetCount() const override;
    bool Add(CControlUI* control) override;
    bool AddAt(CControlUI* control, int index) override;
    bool Remove(CControlUI* control) override;
    bool RemoveAt(int index) override;
    void RemoveAll() override;

    // Moves a child from one index to another.
    virtual bool MoveItem(int from, int to);

    void DoEvent(ControlEvent& event) override;
    void SetVisible(bool visible = true) override;
    void SetInternVisible(bool visible = true) override;
    void SetEnabled(bool enable = true) override;
    void SetMouseEnabled(bool enable = true) override;
    void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    CControlUI* FindControl(FINDCONTROLPROC proc, LPVOID data, UINT flags) override;
    void SetPos(RECT rc, bool needInvalidate = true) override;
    void Move(SIZE offset, bool needInvalidate = true) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* stop) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    RECT GetClientPos() const override;  // position minus inset and visible scroll bars

    virtual RECT GetInset() const;       // scaled when DPIInset
    virtual void SetInset(RECT inset);
    bool IsDpiInset() const { return dpiInset_; }
    void SetDpiInset(bool scaled);
    bool IsDpiChildPadding() const { return dpiChildPadding_; }
    void SetDpiChildPadding(bool scaled);
    virtual int GetChildPadding() const;   // horizontal; scaled when DpiChildPadding
    virtual int GetChildVPadding() const;  // vertical
    virtual void SetChildPadding(int horizontal, int vertical = -1);  // -1: vertical = horizontal
    // The child's horizontal float-alignment bits when non-zero, else the container's.
    virtual UINT GetChildAlign(CControlUI* child = nullptr) const;
    virtual void SetChildAlign(UINT align);       // 0 left, 1 centre, 2 right
    virtual UINT GetChildVAlign() const;
    virtual void SetChildVAlign(UINT align);      // 0 top, 4 centre, 8 bottom
    virtual bool IsMouseChildEnabled() const;
    virtual void SetMouseChildEnabled(bool enable = true);
    virtual bool IsDelayedDestroy() const;
    virtual void SetDelayedDestroy(bool delayed);

    virtual SIZE GetScrollPos() const;
    virtual SIZE GetScrollRange() const;
    virtual void SetScrollPos(SIZE pos, bool notify = true);
    virtual int GetScrollStepSize() const;  // scaled
    virtual void SetScrollStepSize(int size);
    virtual void LineUp();
    virtual void LineDown();
    virtual void PageUp();
    virtual void PageDown();
    virtual void HomeUp();
    virtual void EndDown();
    virtual void LineLeft();
    virtual void LineRight();
    virtual void PageLeft();
    virtual void PageRight();
    virtual void HomeLeft();
    virtual void EndRight();
    virtual void EnableScrollBar(bool enableVertical = true, bool enableHorizontal = false);
    virtual IScrollBarUI* GetVerticalScrollBar() const;
    virtual IScrollBarUI* GetHorizontalScrollBar() const;

    // Places the floating child at `index` against the container's position.
    virtual void SetFloatPos(int index);
    // Updates the scroll bars for the content size.
    virtual void ProcessScrollBar(RECT rc, int cxRequired, int cyRequired);

    // Searches the subtree (not this container) for a control by name.
    CControlUI* FindSubControl(const std::wstring& name);

protected:
    // A size clamped to the child's minimum and maximum.
    void ClampToMinMax(CControlUI* child, SIZE& size) const;
    static LONG ClampWidth(CControlUI* child, LONG cx);
    static LONG ClampHeight(CControlUI* child, LONG cy);
    // What a layout offers a child: its fixed size, or its maximum where it has none.
    static SIZE CandidateSize(CControlUI* child);

    std::vector<CControlUI*> items_;
    RECT inset_ = {};
    bool dpiInset_ = true;
    bool dpiChildPadding_ = false;
    int childPadding_ = 0;
    int childVPadding_ = 0;
    UINT childAlign_ = 0;
    UINT childVAlign_ = 0;
    bool mouseChildEnabled_ = true;
    bool delayedDestroy_ = true;
    bool scrollProcess_ = false;  // re-entry guard of ProcessScrollBar
    int scrollStepSize_ = 60;
    bool scrollBarDynamic_ = false;
    IScrollBarUI* vScroll_ = nullptr;  // owned
    IScrollBarUI* hScroll_ = nullptr;  // owned
    std::wstring vScrollStyle_;
    std::wstring hScrollStyle_;
    std::wstring selRangeImage_;
};

}  // namespace SkinUI
