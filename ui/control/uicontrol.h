// The base of every element of a skinned window: state, attributes, events and
// delegates, the tree search and the paint order. Sizes and positions are
// stored in 96-DPI units and scaled by the manager's DPI when read.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "ui/control/uievent.h"

namespace SkinUI {

class CPaintManagerUI;

class CControlUI {
public:
    CControlUI();
    virtual ~CControlUI();
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    // --- identity -----------------------------------------------------------
    virtual std::wstring GetName() const;
    virtual void SetName(const std::wstring& name);
    virtual const wchar_t* GetClass() const;                 // "ControlUI"
    virtual void* GetInterface(const wchar_t* name);          // "Control" -> this
    virtual UINT GetControlFlags() const;                     // ControlFlags
    virtual bool Activate();                                  // visible and enabled
    virtual CPaintManagerUI* GetManager() const;
    // Attaches the control (and, for containers, its children) to a manager.
    // `init` runs Init only when a parent is given.
    virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true);
    virtual CControlUI* GetParent() const;

    // --- text ---------------------------------------------------------------
    virtual std::wstring GetText() const;
    virtual void SetText(const std::wstring& text);          // "{\n}" becomes CR LF
    virtual void OnTextChanged() {}                           // hook for text controls
    virtual bool IsResourceText() const;
    virtual void SetResourceText(bool resource);

    // --- drag and drop ------------------------------------------------------
    virtual bool IsDragEnabled() const;
    virtual void SetDragEnable(bool enable);
    virtual bool IsDropEnabled() const;
    virtual void SetDropEnable(bool enable);
    virtual void OnDragEnter(void* data);
    virtual void OnDragOver(void* data);
    virtual void OnDragLeave(void* data);
    virtual void OnDragEnd(void* data);
    virtual void OnDrop(void* data);

    // --- position -----------------------------------------------------------
    virtual RECT GetRelativePos() const;                      // minus the parent's top-left
    virtual RECT GetClientPos() const;                        // the position (containers: minus inset)
    virtual const RECT& GetPos() const;
    virtual void SetPos(RECT rc, bool needInvalidate = true);
    virtual void Move(SIZE offset, bool needInvalidate = true);
    virtual int GetWidth() const;
    virtual int GetHeight() const;
    virtual int GetX() const;
    virtual int GetY() const;

    // --- padding and size (getters scaled, setters unscaled) ---------------
    virtual RECT GetPadding() const;
    virtual void SetPadding(RECT padding);
    virtual SIZE GetFixedXY() const;
    virtual void SetFixedXY(SIZE xy);
    virtual int GetFixedWidth() const;
    virtual void SetFixedWidth(int cx);
    virtual int GetFixedHeight() const;
    virtual void SetFixedHeight(int cy);
    virtual int GetMinWidth() const;
    virtual void SetMinWidth(int cx);
    virtual int GetMaxWidth() const;
    virtual void SetMaxWidth(int cx);
    virtual int GetMinHeight() const;
    virtual void SetMinHeight(int cy);
    virtual int GetMaxHeight() const;
    virtual void SetMaxHeight(int cy);

    // --- float and DPI ------------------------------------------------------
    struct FloatPercent {
        double left = 0, top = 0, right = 0, bottom = 0;
    };
    virtual FloatPercent GetFloatPercent() const;
    virtual void SetFloatPercent(FloatPercent percent);
    virtual void SetFloatAlign(UINT align);
    virtual UINT GetFloatAlign() const;
    virtual bool IsDpiPadding() const;
    virtual void SetDpiPadding(bool scaled);
    virtual void SetDpiTextPadding(bool scaled);
    virtual bool IsDpiTextPadding() const;
    virtual bool IsMouseEnterLeaveReported() const;
    virtual void SetMouseEnterLeaveReported(bool report);
    virtual void SwitchResource(int index);
    virtual void SetDragMoveEnable(bool enable);
    virtual bool IsDragMoveEnabled() const;

    // --- tooltip and user data ----------------------------------------------
    virtual std::wstring GetToolTip() const;
    virtual void SetToolTip(const std::wstring& text);       // "<n>" becomes CR LF
    virtual void SetToolTipWidth(int width);
    virtual int GetToolTipWidth() const;                      // scaled
    virtual WORD GetCursor() const;                           // IDC_ id, 0 = arrow
    virtual void SetCursor(WORD cursor);
    virtual WCHAR GetShortcut() const;
    virtual void SetShortcut(WCHAR ch);
    virtual bool IsContextMenuUsed() const;
    virtual void SetContextMenuUsed(bool used);
    virtual const std::wstring& GetUserData() const;
    virtual void SetUserData(const std::wstring& text);
    virtual UINT_PTR GetTag() const;
    virtual void SetTag(UINT_PTR tag);

    // --- visibility and input -----------------------------------------------
    virtual bool IsVisible() const;                           // own and internal visibility
    virtual void SetVisible(bool visible = true);
    virtual void SetInternVisible(bool visible = true);      // the parent's visibility
    virtual bool IsEnabled() const;
    virtual void SetEnabled(bool enable = true);
    virtual bool IsMouseEnabled() const;
    virtual void SetMouseEnabled(bool enable = true);
    virtual bool IsKeyboardEnabled() const;
    virtual void SetKeyboardEnabled(bool enable = true);
    virtual bool IsFocused() const;
    virtual void SetFocus();                                  // asks the manager
    virtual bool IsFloat() const;
    virtual void SetFloat(bool isFloat = true);
    virtual bool IsDynamic() const;
    virtual void SetDynamic(bool dynamic = true);
    virtual bool IsOwnVisible() const;                        // own flag only

    // --- search, events, attributes -----------------------------------------
    virtual CControlUI* FindControl(FINDCONTROLPROC proc, LPVOID data, UINT flags);
    virtual void Init();                                      // DoInit, then the init delegates
    virtual void DoInit();                                    // registers TabSuppot
    // Delegates (any false vetoes), then DoEvent.
    virtual void Event(ControlEvent& event);
    virtual void DoEvent(ControlEvent& event);
    // One attribute of this class (each class handles its names, then its base's).
    virtual void SetAttribute(const std::wstring& name, const std::wstring& value);
    virtual SIZE EstimateSize(SIZE available);
    virtual SIZE GetFixedSize() const;                        // scaled fixed width and height

    // --- painting -------------------------------------------------------------
    // False when this control is `stop` (painting ends there).
    virtual bool Paint(HDC hDC, const RECT& rcPaint, CControlUI* stop);
    virtual bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* stop);
    virtual void PaintBkColor(HDC hDC);
    virtual void PaintBkImage(HDC hDC);
    virtual void PaintStatusImage(HDC hDC);
    virtual void PaintForeColor(HDC hDC);
    virtual void PaintForeImage(HDC hDC);
    virtual void PaintText(HDC hDC);
    virtual void PaintBorder(HDC hDC);
    virtual void DoPostPaint(HDC hDC, const RECT& rcPaint);

    // Called on controls answering "RichEdit" after the manager's DPI changed.
    virtual void OnDpiChanged() {}
    // True for edit boxes that take the Tab key themselves (`wanttab`).
    virtual bool IsWantTab() const { return false; }

    // --- non-virtual helpers ----------------------------------------------------
    // One attribute as the builder applies it: a value naming a style of the
    // manager applies that style's list instead (a style that names itself,
    // directly or through others, is cut off with a debug line).
    void ApplyAttribute(const std::wstring& name, const std::wstring& value);
    // Attribute list "name=\"value\" name2=\"value2\"" applied in order.
    void ApplyAttributeList(const std::wstring& list);
    void AddCustomAttribute(const std::wstring& name, const std::wstring& value);
    std::wstring GetCustomAttribute(const std::wstring& name) const;
    bool RemoveCustomAttribute(const std::wstring& name);
    void RemoveAllCustomAttribute();

    // Repaint soon (the position, clipped by the ancestors).
    void Invalidate();
    bool IsUpdateNeeded() const;
    void NeedUpdate();          // lay this control out again at the next paint
    void NeedParentUpdate();    // the parent (a size changed)
    void SetUpdateNeeded(bool needed) { updateNeeded_ = needed; }

    // Scales a value, rectangle or size by the manager's DPI (unchanged without one).
    int ScaleValue(int value) const;
    RECT ScaleRect(const RECT& rc) const;
    SIZE ScaleSize(const SIZE& size) const;

    // Appearance.
    DWORD GetBkColor() const { return bkColor_; }
    void SetBkColor(DWORD color);
    DWORD GetBkColor2() const { return bkColor2_; }
    void SetBkColor2(DWORD color);
    DWORD GetBkColor3() const { return bkColor3_; }
    void SetBkColor3(DWORD color);
    SIZE GetBkColorRound() const { return bkColorRound_; }
    void SetBkColorRound(SIZE round);
    DWORD GetForeColor() const { return foreColor_; }
    void SetForeColor(DWORD color);
    const std::wstring& GetBkImage() const { return bkImage_; }
    void SetBkImage(const std::wstring& image);
    const std::wstring& GetForeImage() const { return foreImage_; }
    void SetForeImage(const std::wstring& image);
    const std::wstring& GetGradient() const { return gradient_; }
    void SetGradient(const std::wstring& image);
    DWORD GetBorderColor() const { return borderColor_; }
    void SetBorderColor(DWORD color);
    DWORD GetFocusBorderColor() const { return focusBorderColor_; }
    void SetFocusBorderColor(DWORD color);
    bool IsColorHSL() const { return colorHSL_; }
    void SetColorHSL(bool hsl);
    int GetBorderSize() const;                  // scaled
    void SetBorderSize(int size);
    RECT GetBorderRect() const;                 // per-side sizes, scaled
    void SetBorderSize(RECT sides);
    void SetLeftBorderSize(int size);
    void SetTopBorderSize(int size);
    void SetRightBorderSize(int size);
    void SetBottomBorderSize(int size);
    int GetBorderStyle() const { return borderStyle_; }
    void SetBorderStyle(int style);
    SIZE GetBorderRound() const;                // scaled
    void SetBorderRound(SIZE round);
    // Draws an image description into the control rectangle (false when nothing was drawn).
    bool DrawImage(HDC hDC, const std::wstring& image, const std::wstring& modify = L"");

    bool IsHorzPaddingCenter() const { return horzPaddingCenter_; }
    void SetHorzPaddingCenter(bool center) { horzPaddingCenter_ = center; }
    bool IsVertPaddingCenter() const { return vertPaddingCenter_; }
    void SetVertPaddingCenter(bool center) { vertPaddingCenter_ = center; }
    bool IsTabSupport() const { return tabSupport_; }
    void SetTabSupport(bool tab) { tabSupport_ = tab; }
    const std::wstring& GetVirtualWnd() const;  // own, else the nearest ancestor's
    void SetVirtualWnd(const std::wstring& name);
    const RECT& GetPaintRect() const { return rcPaint_; }
    // Switch-resource lists as written ("BkImageSwitchRes", ...).
    const std::wstring& GetSwitchResList(const std::wstring& attribute) const;

    // Delegates.
    CEventSource OnInit;     // param: the control
    CEventSource OnDestroy;  // param: the control
    CEventSource OnSize;     // param: the control
    CEventSource OnEvent;    // param: ControlEvent*
    CEventSource OnNotify;   // param: NotifyMessage*

protected:
    // Sends a notification from this control through its manager (no-op without one).
    void Notify(const wchar_t* type, WPARAM wParam = 0, LPARAM lParam = 0, bool queued = false);

    CPaintManagerUI* manager_ = nullptr;
    CControlUI* parent_ = nullptr;

    std::wstring name_;
    std::wstring userData_;
    UINT_PTR tag_ = 0;
    std::wstring virtualWnd_;

    std::wstring text_;
    std::wstring toolTip_;
    int toolTipWidth_ = 300;
    WCHAR shortcut_ = 0;
    bool resourceText_ = false;

    RECT rcItem_ = {};
    SIZE fixedXY_ = {};
    SIZE fixedSize_ = {};       // 0 = not fixed
    SIZE minSize_ = {};
    SIZE maxSize_ = {9999, 9999};
    RECT padding_ = {};
    bool float_ = false;
    FloatPercent floatPercent_;
    UINT floatAlign_ = 0;
    bool horzPaddingCenter_ = false;
    bool vertPaddingCenter_ = false;
    bool dpiPadding_ = true;
    bool dpiTextPadding_ = true;

    bool visible_ = true;
    bool internVisible_ = true;
    bool enabled_ = true;
    bool mouseEnabled_ = true;
    bool keyboardEnabled_ = true;
    bool focused_ = false;
    bool updateNeeded_ = true;
    bool menuUsed_ = false;
    bool dragEnabled_ = false;
    bool dropEnabled_ = false;
    bool dragMoveEnabled_ = false;
    bool dragging_ = false;
    bool tabSupport_ = false;
    bool reportEnterLeave_ = false;
    bool dynamic_ = false;
    WORD cursor_ = 0;

    DWORD bkColor_ = 0;
    DWORD bkColor2_ = 0;
    DWORD bkColor3_ = 0;
    SIZE bkColorRound_ = {};
    DWORD foreColor_ = 0;
    DWORD borderColor_ = 0;
    DWORD focusBorderColor_ = 0;
    int borderSize_ = 0;
    RECT borderSides_ = {};
    int borderStyle_ = PS_SOLID;
    SIZE borderRound_ = {};
    bool colorHSL_ = false;
    std::wstring bkImage_;
    std::wstring foreImage_;
    std::wstring gradient_;
    RECT rcPaint_ = {};

    std::map<std::wstring, std::wstring> switchRes_;
    std::map<std::wstring, std::wstring> customAttributes_;

private:
    bool inSizeDelegates_ = false;
};

}  // namespace SkinUI
