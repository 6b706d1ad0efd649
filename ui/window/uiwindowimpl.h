// The base of every skinned top-level window: a borderless window whose
// client area is the whole window, built from a layout file by its own paint
// manager, with caption and size-box hit-testing, a rounded region, the default
// caption buttons and notifications routed to handler methods.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "ui/builder/uibuilder.h"
#include "ui/manager/uimanager.h"
#include "ui/window/uinotifypump.h"
#include "ui/window/uiwindow.h"

namespace SkinUI {

// Texts a window may give to controls by name; the default gives none.
class IQueryControlText {
public:
    virtual ~IQueryControlText() = default;
    virtual std::wstring QueryControlText(const std::wstring& text, const std::wstring& controlName) = 0;
};

class WindowImplBase : public CWindowWnd,
                       public CNotifyPump,
                       public INotifyUI,
                       public IMessageFilterUI,
                       public IDialogBuilderCallback,
                       public IQueryControlText {
public:
    WindowImplBase();
    ~WindowImplBase() override;

    CPaintManagerUI& GetPaintManager() { return paintManager_; }
    const CPaintManagerUI& GetPaintManager() const { return paintManager_; }

    // --- CWindowWnd ------------------------------------------------------------------
    UINT ClassStyle() const override { return CS_DBLCLKS; }
    LRESULT ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnWindowDestroyed(HWND hwnd) override;

    // --- hooks ---------------------------------------------------------------------------
    virtual void OnReservedHook() {}
    virtual void OnBeforeBuild() {}   // before the skin is built
    virtual void OnInitWindow() {}    // after the control tree is attached
    // "closebtn" closes (1), "minbtn"/"maxbtn"/"restorebtn" send the system command.
    virtual void OnClick(NotifyMessage& msg);
    virtual void OnHeaderClick(NotifyMessage&) {}
    virtual void OnSelectChanged(NotifyMessage&) {}
    virtual void OnTextChanged(NotifyMessage&) {}
    virtual void OnItemSelect(NotifyMessage&) {}
    virtual void OnTimer(NotifyMessage&) {}
    // True when a press at `pt` over `control` should drag the window: the
    // control and all its ancestors are plain controls, labels or layouts.
    virtual bool IsStaticControl(CControlUI* control, POINT pt);
    // A resource type loads SkinFile() as a decimal resource id of that type.
    virtual std::wstring_view SkinResourceType() const { return {}; }
    virtual std::wstring_view SkinFile() const = 0;
    virtual std::wstring_view ManagerName() const { return {}; }
    virtual bool IsDefaultKey(WPARAM key) { return key == VK_ESCAPE; }

    // --- message handlers (set handled = false to pass a message on) ---------------
    virtual LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcActivate(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcCalcSize(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcPaint(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcHitTest(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnGetMinMaxInfo(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnMouseWheel(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnMouseHover(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSize(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnChar(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSysCommand(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnKeyDown(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnKillFocus(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSetFocus(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnLButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnLButtonUp(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnRButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnRButtonUp(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnOtherMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    // The window's style without WS_CAPTION.
    virtual LONG WindowStyle() const;

    // --- interfaces ----------------------------------------------------------------------
    void Notify(NotifyMessage& msg) override;
    // Return and Escape are offered to IsDefaultKey; `handled` is left alone.
    LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    CControlUI* CreateControlFor(const wchar_t* elementName) override;
    std::wstring QueryControlText(const std::wstring& text, const std::wstring& controlName) override;

    // What the creation failure box says for a skin file.
    static std::wstring LoadFailureText(std::wstring_view skinFile);

protected:
    // Builds the control tree of SkinFile(); null when it cannot be built.
    CControlUI* BuildSkin();
    // What OnCreate does when the skin cannot be built: the box, then exit code 1.
    virtual void OnSkinLoadFailed();
    // Unbinds the paint manager from the window being destroyed.
    void ReleaseManagerWindow();

    CPaintManagerUI paintManager_;

    SKINUI_DECLARE_MESSAGE_MAP()
};

}  // namespace SkinUI
