// The rich edit box: a container hosting windowless text services (see
// uitxthost.h). It takes the window's messages through a message filter
// while it has the focus, paints its state image and then the text, and
// notifies "textchanged", "return" and "keydown".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "nqpublic/nqbase/nqhandle.h"
#include "ui/control/uicontainer.h"
#include "ui/manager/uimanager.h"

namespace SkinUI {

class CTxtWinHost;

// Commands of the context menu.
enum RichEditMenuCommand : UINT {
    kRichEditUndo = 0x7101,
    kRichEditRedo,
    kRichEditCut,
    kRichEditCopy,
    kRichEditPaste,
    kRichEditClear,
    kRichEditSelectAll,
};

class CRichEditUI : public CContainerUI, public IMessageFilterUI {
public:
    CRichEditUI();
    ~CRichEditUI() override;

    const wchar_t* GetClass() const override;          // "RichEditUI"
    void* GetInterface(const wchar_t* name) override;  // "RichEdit"
    UINT GetControlFlags() const override;
    void DoInit() override;
    void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    void SetEnabled(bool enable = true) override;
    void SetPos(RECT rc, bool needInvalidate = true) override;
    void Move(SIZE offset, bool needInvalidate = true) override;
    void DoEvent(ControlEvent& event) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* stop) override;
    void PaintStatusImage(HDC hDC) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void OnDpiChanged() override;
    bool IsWantTab() const override { return wantTab_; }
    std::wstring GetText() const override;
    void SetText(const std::wstring& text) override;

    // IMessageFilterUI: keyboard, mouse and IME messages while focused.
    LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

    // True when the text services are running.
    bool HasTextHost() const { return host_ != nullptr; }
    // A message to the text services; 1 without them.
    LRESULT TxSendMessage(UINT msg, WPARAM wParam, LPARAM lParam) const;
    // Rectangle given to the text services: the position minus the text padding.
    RECT GetTextRect() const;

    bool IsMultiLine() const { return multiLine_; }
    void SetMultiLine(bool on);
    bool IsWantReturn() const { return wantReturn_; }
    bool IsReadOnly() const { return readOnly_; }
    void SetReadOnly(bool on);
    bool IsPassword() const { return password_; }
    void SetPassword(bool on);
    bool IsRich() const { return rich_; }
    int GetLimitText() const { return maxChar_; }
    void SetLimitText(int count);
    int GetFont() const { return font_; }
    void SetFont(int index);
    DWORD GetTextColor() const { return textColor_; }
    void SetTextColor(DWORD color);
    RECT GetTextPadding() const;  // scaled when RichEditDpiTextPadding
    void SetTextPadding(RECT padding);
    const std::wstring& GetTipValue() const { return tipValue_; }
    bool IsCaretFollowTextColor() const { return caretFollowTextColor_; }

    // Selection helpers.
    void SetSel(long start, long end);
    void SelAll();
    void ReplaceSel(const std::wstring& text, bool canUndo = true);

    // The context menu as shown (the commands above), with items the current
    // state cannot do greyed out.
    nq::unique_hmenu BuildContextMenu() const;
    // Runs one context-menu command.
    void RunMenuCommand(UINT command);

    // Called by the text host.
    void OnTxNotify(DWORD code, void* data);

private:
    void CreateHost();
    void DestroyHost();
    void ApplyFont();
    void ShowContextMenu(POINT ptClient);
    void PlaceImeWindow();

    CTxtWinHost* host_ = nullptr;
    bool filterAdded_ = false;
    bool multiLine_ = false;
    bool wantTab_ = false;
    bool wantReturn_ = false;
    bool wantCtrlReturn_ = false;
    bool transparent_ = true;
    bool rich_ = false;
    bool readOnly_ = false;
    bool password_ = false;
    bool vScrollBar_ = false, hScrollBar_ = false, autoVScroll_ = false, autoHScroll_ = true;
    bool autoSelAll_ = false;
    bool caretFollowTextColor_ = false;
    bool focusShowTip_ = false;
    bool wantMenu_ = true;
    bool firstFocus_ = false;
    bool dpiTextPaddingRich_ = true;
    bool hot_ = false;
    WORD align_ = 1;  // PFA_LEFT
    int font_ = -1;
    DWORD textColor_ = 0;
    int maxChar_ = 0x7FFFFFFF;
    RECT textPadding_ = {};
    std::wstring normalImage_, hotImage_, focusedImage_, disabledImage_;
    std::wstring tipValue_;
    DWORD tipColor_ = 0xFFBAC0C5;
    UINT tipAlign_ = DT_SINGLELINE | DT_LEFT | DT_VCENTER;
    bool tipEndEllipsis_ = false;
    RECT tipPadding_ = {};
    BYTE enabledAlpha_ = 255;
    std::wstring pendingText_;  // the text until the host exists
};

}  // namespace SkinUI
