// The paint manager: the per-window engine of the framework. It owns the root
// of the control tree, turns window messages into control events and
// notifications, lays out and paints the tree through one off-screen bitmap,
// keeps focus, Tab order, capture, hover, tooltips and control timers, holds
// the window's skin settings, fonts and DPI, and carries the framework's
// process-wide state (resource instance, skin package, shared fonts, images
// and styles, the live managers).
//
// Everything runs on the UI thread that owns the window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "nqpublic/nqbase/nqhandle.h"
#include "ui/control/uicontrol.h"
#include "ui/core/uidpi.h"
#include "ui/render/uirender.h"

namespace SkinUI {

class CShadowUI;

// Receives every notification of a manager.
class INotifyUI {
public:
    virtual ~INotifyUI() = default;
    virtual void Notify(NotifyMessage& msg) = 0;
};

// Sees window messages before the manager (or the message loop) handles them.
class IMessageFilterUI {
public:
    virtual ~IMessageFilterUI() = default;
    virtual LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) = 0;
};

// Keyboard accelerators offered by the message loop; 0 consumes the message.
class ITranslateAccelerator {
public:
    virtual ~ITranslateAccelerator() = default;
    virtual LRESULT TranslateAccelerator(MSG* msg) = 0;
};

// One registered font.
struct TFontInfo {
    nq::unique_hfont font;
    std::wstring faceName;
    int size = 0;        // 96-DPI points as written in the skin
    bool bold = false;
    bool underline = false;
    bool italic = false;
    TEXTMETRICW tm = {};
};

// Posted to the window: queued notifications and delayed deletions.
constexpr UINT WM_UI_QUEUED_WORK = WM_APP + 1;
// Posted to the window after SetDpi: wParam old percent, lParam new percent.
constexpr UINT WM_UI_DPICHANGED = WM_USER + 2;

class CPaintManagerUI : public CRenderHost {
public:
    CPaintManagerUI();
    ~CPaintManagerUI() override;
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    // --- binding ----------------------------------------------------------------
    // Binds a window (may be null: a manager without a window lays out and
    // paints into any DC, see PaintTo). Resets the own fonts, images, styles,
    // default lists and window attributes.
    void Init(HWND hwnd, const wchar_t* name = nullptr);
    HWND GetPaintWindow() const { return hwnd_; }
    HDC GetPaintDC() const { return hdcPaint_; }
    const std::wstring& GetName() const { return name_; }
    HWND GetTooltipWindow() const { return hwndTooltip_.get(); }
    POINT GetMousePos() const { return lastMousePos_; }
    SIZE GetClientSize() const;

    // Attaches a control tree (the old one is deleted later). False for null.
    bool AttachRoot(CControlUI* root);
    CControlUI* GetRoot() const { return root_; }
    // Forgets every reference to `control` and its subtree (focus, hover,
    // timers, lists); used before a control is deleted.
    void ReapObjects(CControlUI* control);
    // Deletes `control` at the next queued-work pass (never inside this call).
    void AddDelayedCleanup(CControlUI* control);
    size_t DelayedCleanupCount() const { return delayedCleanup_.size(); }

    // --- messages ---------------------------------------------------------------
    bool MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool PreMessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool TranslateAccelerator(MSG* msg);

    bool AddNotifier(INotifyUI* notifier);
    bool RemoveNotifier(INotifyUI* notifier);
    bool AddPreMessageFilter(IMessageFilterUI* filter);
    bool RemovePreMessageFilter(IMessageFilterUI* filter);
    bool AddMessageFilter(IMessageFilterUI* filter);
    bool RemoveMessageFilter(IMessageFilterUI* filter);
    bool AddTranslateAccelerator(ITranslateAccelerator* accelerator);
    bool RemoveTranslateAccelerator(ITranslateAccelerator* accelerator);

    // --- notifications ------------------------------------------------------------
    void SendNotify(NotifyMessage& msg, bool queued = false);
    void SendNotify(CControlUI* control, const wchar_t* type, WPARAM wParam = 0, LPARAM lParam = 0,
                    bool queued = false);
    size_t QueuedNotifyCount() const { return asyncNotify_.size(); }
    // Runs the queued work now (what WM_APP+1 does): deletions, then notifications.
    void ProcessQueuedWork();

    // --- controls -------------------------------------------------------------------
    CControlUI* FindControl(POINT pt) const;
    CControlUI* FindControl(const std::wstring& name) const;
    CControlUI* FindSubControlByPoint(CControlUI* parent, POINT pt) const;
    CControlUI* FindSubControlByName(CControlUI* parent, const std::wstring& name) const;
    CControlUI* FindSubControlByClass(CControlUI* parent, const wchar_t* className, int index = 0);
    std::vector<CControlUI*>& FindSubControlsByClass(CControlUI* parent, const wchar_t* className);
    CControlUI* FindControlAt(POINT pt) const { return FindControl(pt); }
    CControlUI* FindControlByName(const std::wstring& name) const { return FindControl(name); }
    // The name index (kept by InitControls / AttachRoot).
    bool InitControls(CControlUI* control, CControlUI* parent = nullptr);
    void RenameControl(CControlUI* control, const std::wstring& oldName, const std::wstring& newName);

    // --- focus, capture, hover ----------------------------------------------------------
    CControlUI* GetFocus() const { return focus_; }
    void SetFocus(CControlUI* control);
    void SetFocusControl(CControlUI* control) { SetFocus(control); }
    void SetFocusNeeded(CControlUI* control);
    bool SetNextTabControl(bool forward = true);
    CControlUI* GetHoverControl() const { return hover_; }
    CControlUI* GetPushedControl() const { return pushed_; }
    void SetCapture();
    void ReleaseCapture();
    bool IsCaptured() const { return mouseCapture_; }
    // Tab list (controls with TabSuppot, in registration order).
    void AddTabControl(CControlUI* control);
    void RemoveTabControl(CControlUI* control);
    const std::vector<CControlUI*>& GetTabControls() const { return tabList_; }
    bool AddMouseLeaveNeeded(CControlUI* control);
    bool RemoveMouseLeaveNeeded(CControlUI* control);
    bool AddFocusView(CControlUI* container);
    bool RemoveFocusView(CControlUI* container);

    // --- option groups ------------------------------------------------------------------
    bool AddOptionGroup(const std::wstring& group, CControlUI* control);
    const std::vector<CControlUI*>* GetOptionGroup(const std::wstring& group) const;
    void RemoveOptionGroup(const std::wstring& group, CControlUI* control);
    void RemoveAllOptionGroups();

    // --- painting -------------------------------------------------------------------------
    // The whole window is laid out again at the next paint.
    void NeedUpdate() { updateNeeded_ = true; }
    bool IsUpdateNeeded() const { return updateNeeded_; }
    void Invalidate();
    void Invalidate(const RECT& rc);
    bool IsPainting() const { return painting_; }
    // Lays the tree out (when needed) over `rc` and paints it into `dc`: the
    // window-less road for memory DCs, tests and benchmarks.
    void PaintTo(HDC dc, const RECT& rc);
    // Lays the root out over `rc` now (sends "windowinit" on the first layout).
    void LayoutTo(const RECT& rc);
    bool AddPostPaint(CControlUI* control);
    bool RemovePostPaint(CControlUI* control);
    bool AddNativeWindow(CControlUI* control, HWND hwnd);
    bool RemoveNativeWindow(HWND hwnd);
    bool IsOffscreenPaint() const { return offscreenPaint_; }
    void SetOffscreenPaint(bool on) { offscreenPaint_ = on; }

    // --- timers ----------------------------------------------------------------------------
    // False for a live (control, id) pair or when the window timer fails.
    bool SetControlTimer(CControlUI* control, UINT id, UINT elapse);
    bool KillControlTimer(CControlUI* control, UINT id);
    void KillControlTimers(CControlUI* control);
    void RemoveAllTimers();
    size_t TimerCount() const { return timers_.size(); }

    // --- window settings (the `Window` element) ---------------------------------------
    void SetWindowAttribute(const std::wstring& name, const std::wstring& value);
    void SetWindowAttributeList(const std::wstring& list);

    SIZE GetInitSize() const;              // scaled
    void SetInitSize(int cx, int cy);      // resizes the window while no root is attached
    RECT GetSizeBox() const { return sizeBox_; }
    void SetSizeBox(const RECT& rc) { sizeBox_ = rc; }
    RECT GetSizeBoxInset() const { return sizeBoxInset_; }
    void SetSizeBoxInset(const RECT& rc) { sizeBoxInset_ = rc; }
    RECT GetCaptionRect() const { return caption_; }   // unscaled; scale the bottom with GetDPIObj
    void SetCaptionRect(const RECT& rc) { caption_ = rc; }
    SIZE GetRoundCorner() const { return roundCorner_; }
    void SetRoundCorner(int cx, int cy) { roundCorner_ = {cx, cy}; }
    SIZE GetMinInfo() const { return minInfo_; }       // unscaled
    void SetMinInfo(int cx, int cy);
    SIZE GetMaxInfo() const { return maxInfo_; }
    void SetMaxInfo(int cx, int cy);
    bool IsShowUpdateRect() const { return showDirty_; }
    void SetShowUpdateRect(bool show) { showDirty_ = show; }
    bool IsNoActivate() const { return noActivate_; }
    void SetNoActivate(bool on) { noActivate_ = on; }
    BYTE GetOpacity() const { return opacity_; }
    void SetOpacity(BYTE opacity);          // whole-window alpha (WS_EX_LAYERED)
    // IsLayered comes from CRenderHost.
    void SetLayered(bool layered);
    RECT GetLayeredInset() const { return layeredInset_; }
    void SetLayeredInset(const RECT& rc);
    BYTE GetLayeredOpacity() const { return layeredOpacity_; }
    void SetLayeredOpacity(BYTE opacity);
    const std::wstring& GetLayeredImage() const { return layeredImage_; }
    void SetLayeredImage(const std::wstring& image);
    // Text options: IsUseGdiplusText, SetUseGdiplusText, ... come from CRenderHost.
    UINT GetHoverTime() const { return hoverTime_; }
    void SetHoverTime(UINT ms) { hoverTime_ = ms; }
    COLORREF GetTooltipBkColor() const { return tooltipBkColor_; }
    void SetTooltipBkColor(COLORREF color) { tooltipBkColor_ = color; }
    COLORREF GetTooltipTextColor() const { return tooltipTextColor_; }
    void SetTooltipTextColor(COLORREF color) { tooltipTextColor_ = color; }
    bool IsDockWindow() const { return dockWnd_; }
    void SetDockWindow(bool on) { dockWnd_ = on; }
    bool IsNormalTab() const { return normalTab_; }
    void SetNormalTab(bool on) { normalTab_ = on; }
    bool IsAutoDpi() const { return autoDpi_; }
    void SetAutoDpi(bool on) { autoDpi_ = on; }
    bool IsKillFocusSendButtonUp() const { return killFocusSendButtonUp_; }
    void SetKillFocusSendButtonUp(bool on) { killFocusSendButtonUp_ = on; }
    void SetUsedVirtualWnd(bool used) { usedVirtualWnd_ = used; }

    void AddWindowCustomAttribute(const std::wstring& name, const std::wstring& value);
    std::wstring GetWindowCustomAttribute(const std::wstring& name) const;
    bool RemoveWindowCustomAttribute(const std::wstring& name);
    void RemoveAllWindowCustomAttribute();

    // --- colours ---------------------------------------------------------------------------
    DWORD GetDefaultDisabledColor() const { return defaultDisabledColor_; }
    void SetDefaultDisabledColor(DWORD color, bool shared = false);
    DWORD GetDefaultFontColor() const { return defaultFontColor_; }
    void SetDefaultFontColor(DWORD color, bool shared = false);
    DWORD GetDefaultLinkFontColor() const { return defaultLinkColor_; }
    void SetDefaultLinkFontColor(DWORD color, bool shared = false);
    DWORD GetDefaultLinkHoverFontColor() const { return defaultLinkHoverColor_; }
    void SetDefaultLinkHoverFontColor(DWORD color, bool shared = false);
    DWORD GetDefaultSelectedBkColor() const { return defaultSelectedBkColor_; }
    void SetDefaultSelectedBkColor(DWORD color, bool shared = false);

    // --- fonts -------------------------------------------------------------------------------
    // Height -scale(size). The record goes to the shared map with `shared`.
    HFONT AddFont(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic,
                  bool shared = false);
    HFONT GetFont(int id) override;             // the default font for an unknown id
    Gdiplus::Font* GetGdiplusFont(int id) override;
    const TFontInfo* GetFontInfo(int id);       // the default font's record for an unknown id
    const TFontInfo* GetFontInfo(HFONT font);
    HFONT GetFont(const std::wstring& face, int size, bool bold, bool underline, bool italic);
    bool FindFont(int id) const;
    bool RemoveFont(int id, bool shared = false);
    void RemoveAllFonts(bool shared = false);
    void SetDefaultFont(const std::wstring& face, int size, bool bold, bool underline, bool italic,
                        bool shared = false);
    const TFontInfo* GetDefaultFontInfo();
    // A font file of the skin, registered for this process (`Import`).
    bool AddFontFile(const std::wstring& name);
    size_t FontFileCount() const;

    // --- images -----------------------------------------------------------------------------
    // (GetDrawInfo, GetImageEx, AddImage, GetImage, RemoveImage come from CRenderHost.)
    void RemoveAllImages(bool shared = false);
    bool IsEditControl(CControlUI* control) const override;

    // --- default attribute lists and styles -----------------------------------------------
    void AddDefaultAttributeList(const std::wstring& controlName, const std::wstring& list, bool shared = false);
    std::wstring GetDefaultAttributeList(const std::wstring& controlName) const;  // own, else shared
    bool RemoveDefaultAttributeList(const std::wstring& controlName, bool shared = false);
    void RemoveAllDefaultAttributeList(bool shared = false);
    void AddStyle(const std::wstring& name, const std::wstring& value, bool shared = false);
    // Null when no such style (own, else shared).
    const std::wstring* GetStyle(const std::wstring& name) const;
    bool RemoveStyle(const std::wstring& name, bool shared = false);
    void RemoveAllStyle(bool shared = false);

    // --- DPI -------------------------------------------------------------------------------------
    CDpiScale* GetDPIObj() { return &GetDpiObject(); }
    const CDpiScale* GetDPIObj() const { return GetDpiScale(); }
    int ScaleValue(int value) const { return GetDpiScale()->Scale(value); }
    RECT ScaleRect(const RECT& rc) const { return GetDpiScale()->Scale(rc); }
    // Applies a DPI to this window: images, fonts, window size, layout,
    // WM_USER+2 posted and "dpichanged" sent.
    void SetDpi(int dpi);
    static void SetDpiForAll(int dpi);
    static int GetProcessDpi();

    // --- shadow -----------------------------------------------------------------------------------
    CShadowUI* GetShadow();

    // --- process-wide state ----------------------------------------------------------------------
    static HINSTANCE GetInstance();
    static void SetResourceInstance(HINSTANCE instance);
    static HINSTANCE GetResourceDll();
    static std::wstring GetInstancePath();
    static void SetResourcePath(const wchar_t* path);
    static const std::wstring& GetResourcePath();
    static void SetResourceZip(const wchar_t* name, bool cached = false, const wchar_t* password = nullptr);
    // The skin package is a memory block valid for the life of the process.
    static void SetResourceZipMemory(const void* data, DWORD size, const wchar_t* password = nullptr);
    static const std::wstring& GetResourceZip();
    static bool IsCachedResourceZip();
    static const std::vector<CPaintManagerUI*>& GetManagers();
    // Frees the shared fonts, images, styles and default lists, the default
    // font and the cached package.
    static void ReleaseSharedResources();

    // The thread's message loop over every live manager (returns at WM_QUIT).
    static void MessageLoop();
    // Offers one message to the managers (accelerators and pre-message
    // handlers); true when it was consumed.
    static bool TranslateMessage(const MSG* msg);
    static bool AddHotKeyFilter(IMessageFilterUI* filter);
    static bool RemoveHotKeyFilter(IMessageFilterUI* filter);

    // Counts of GDI objects the framework created and has not freed yet (for
    // leak checks where the system cannot report its own counts).
    static long LiveGdiObjects();

private:
    struct TimerInfo {
        CControlUI* sender;
        UINT localId;
        HWND hwnd;
        UINT winTimer;
        bool killed;
    };
    struct Impl;

    // Message steps (uimanager_input.cpp).
    bool OnMouseMove(WPARAM wParam, LPARAM lParam);
    bool OnButtonDown(UINT msg, WPARAM wParam, LPARAM lParam);
    bool OnButtonUp(UINT msg, WPARAM wParam, LPARAM lParam);
    bool OnMouseHover(WPARAM wParam, LPARAM lParam, LRESULT& result);
    void OnMouseLeave();
    bool OnTabKey(bool shift);
    void ShowTooltip(CControlUI* control);
    void HideTooltip();
    ControlEvent MakeEvent(int type, CControlUI* sender, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void SendEvent(CControlUI* control, int type, WPARAM wParam = 0, LPARAM lParam = 0);
    // Painting (uimanager_paint.cpp).
    void OnPaint();
    void LayoutPass(const RECT& rcClient);
    bool EnsureOffscreen(const RECT& rcClient);
    void DropOffscreen();
    void FinishLayered(const RECT& rcPaint, const RECT& rcClient);
    void PostQueuedWork();
    void ResetOwnResources();
    void RecreateFonts();
    static void InitProcessState();

    HWND hwnd_ = nullptr;
    std::wstring name_;
    HDC hdcPaint_ = nullptr;  // GetDC of the window, released on Init/destruction
    nq::unique_hdc hdcOffscreen_;
    nq::unique_hbitmap bmpOffscreen_;
    BYTE* offscreenBits_ = nullptr;
    nq::unique_hdc hdcBackground_;
    nq::unique_hbitmap bmpBackground_;
    BYTE* backgroundBits_ = nullptr;
    nq::unique_hwnd hwndTooltip_;
    TOOLINFOW toolTip_ = {};
    std::wstring toolTipText_;

    CControlUI* root_ = nullptr;
    CControlUI* focus_ = nullptr;
    CControlUI* hover_ = nullptr;
    CControlUI* pushed_ = nullptr;
    CControlUI* keyControl_ = nullptr;
    CControlUI* lastTooltip_ = nullptr;
    POINT dragStart_ = {};
    POINT lastMousePos_ = {-1, -1};

    SIZE initSize_ = {};
    SIZE minInfo_ = {};
    SIZE maxInfo_ = {};
    RECT sizeBox_ = {};
    RECT sizeBoxInset_ = {};
    RECT caption_ = {};
    SIZE roundCorner_ = {};
    RECT layeredInset_ = {};
    RECT layeredUpdate_ = {};

    UINT timerCounter_ = 0x1000;
    std::vector<TimerInfo> timers_;

    std::vector<INotifyUI*> notifiers_;
    std::vector<IMessageFilterUI*> preMessageFilters_;
    std::vector<IMessageFilterUI*> messageFilters_;
    std::vector<ITranslateAccelerator*> accelerators_;
    std::vector<CControlUI*> postPaint_;
    std::vector<std::pair<CControlUI*, HWND>> nativeWindows_;
    std::vector<CControlUI*> delayedCleanup_;
    std::deque<std::unique_ptr<NotifyMessage>> asyncNotify_;
    std::vector<CControlUI*> foundControls_;
    std::vector<CControlUI*> mouseLeaveNeeded_;
    std::vector<CControlUI*> focusViews_;
    std::vector<CControlUI*> tabList_;
    int lastTabIndex_ = -1;

    std::unordered_map<std::wstring, CControlUI*> nameIndex_;
    std::unordered_map<std::wstring, std::vector<CControlUI*>> optionGroups_;
    std::map<std::wstring, std::wstring> windowCustomAttributes_;
    std::map<int, std::unique_ptr<TFontInfo>> fonts_;
    std::map<std::wstring, std::wstring> defaultAttributes_;
    std::map<std::wstring, std::wstring> styles_;
    std::unique_ptr<TFontInfo> defaultFont_;  // own default font (null: the shared/process one)

    DWORD defaultDisabledColor_;
    DWORD defaultFontColor_;
    DWORD defaultLinkColor_;
    DWORD defaultLinkHoverColor_;
    DWORD defaultSelectedBkColor_;

    bool normalTab_ = true;
    bool autoDpi_ = false;
    bool firstLayout_ = true;
    bool updateNeeded_ = false;
    bool focusNeeded_ = false;
    bool offscreenPaint_ = true;
    BYTE opacity_ = 255;
    BYTE layeredOpacity_ = 255;
    bool layeredChanged_ = false;
    std::wstring layeredImage_;
    bool noActivate_ = false;
    bool showDirty_ = false;
    bool mouseTracking_ = false;
    bool mouseCapture_ = false;
    bool dragMoving_ = false;
    bool fullLayout_ = false;  // the last layout pass laid out the root
    bool painting_ = false;
    bool usedVirtualWnd_ = false;
    bool asyncNotifyPosted_ = false;
    bool dockWnd_ = false;
    bool killFocusSendButtonUp_ = true;
    UINT hoverTime_ = 400;
    COLORREF tooltipBkColor_ = 0x00FFFFFE;
    COLORREF tooltipTextColor_ = 0;

    std::unique_ptr<CShadowUI> shadow_;
    std::vector<nq::unique_fontmem> fontFiles_;
};

}  // namespace SkinUI
