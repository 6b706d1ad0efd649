// The windowless text host of the rich edit box: loads the system's text
// services (Msftedit, else RichEd20), creates them over this host and answers
// their questions with the control's position, formats, caret and window.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <richedit.h>
#include <textserv.h>

#include <string>
#include <vector>

#include "nqpublic/nqbase/nqhandle.h"

namespace SkinUI {

class CRichEditUI;

class CTxtWinHost : public ITextHost {
public:
    // Null when neither DLL offers CreateTextServices or the services refuse
    // this host. The host holds one reference for the caller (Release it).
    static CTxtWinHost* Create(CRichEditUI* owner);
    // The libraries tried for CreateTextServices, in order (empty list: the
    // defaults, "Msftedit.dll" then "riched20.dll").
    static void SetTextServicesLibraries(const std::vector<std::wstring>& names);

    // Drops the services and stops calling back into the owner.
    void Shutdown();

    ITextServices* GetTextServices() const { return services_.get(); }
    // Passes a message to the text services; 1 without them.
    LRESULT TxSend(UINT msg, WPARAM wParam, LPARAM lParam, HRESULT* hr = nullptr);

    void SetClientRect(const RECT& rc);
    const RECT& GetClientRect() const { return rcClient_; }
    void SetFont(HFONT font, COLORREF color);
    // Gives the text already in the box the current character format: the
    // text services apply a changed default format to new text only.
    void ReapplyCharFormat();
    void SetTextColor(COLORREF color);
    void SetParaAlignment(WORD alignment);  // PFA_LEFT, PFA_CENTER, PFA_RIGHT
    // Changes property bits and tells the services.
    void SetPropertyBit(DWORD bit, bool on);
    DWORD GetPropertyBits() const { return propertyBits_; }
    void SetMaxLength(DWORD length);
    void SetPasswordChar(WCHAR ch);
    void SetScrollBars(DWORD style);
    void SetTransparent(bool transparent) { transparent_ = transparent; }
    POINT GetCaretPos() const { return caretPos_; }
    int GetCaretHeight() const { return caretHeight_; }
    bool IsCaretCreated() const { return caretCreated_; }
    // Removes the window's caret (focus left the box).
    void DestroyCaret();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ITextHost
    HDC TxGetDC() override;
    INT TxReleaseDC(HDC hdc) override;
    WINBOOL TxShowScrollBar(INT fnBar, WINBOOL fShow) override;
    WINBOOL TxEnableScrollBar(INT fuSBFlags, INT fuArrowflags) override;
    WINBOOL TxSetScrollRange(INT fnBar, LONG nMinPos, INT nMaxPos, WINBOOL fRedraw) override;
    WINBOOL TxSetScrollPos(INT fnBar, INT nPos, WINBOOL fRedraw) override;
    void TxInvalidateRect(LPCRECT prc, WINBOOL fMode) override;
    void TxViewChange(WINBOOL fUpdate) override;
    WINBOOL TxCreateCaret(HBITMAP hbmp, INT xWidth, INT yHeight) override;
    WINBOOL TxShowCaret(WINBOOL fShow) override;
    WINBOOL TxSetCaretPos(INT x, INT y) override;
    WINBOOL TxSetTimer(UINT idTimer, UINT uTimeout) override;
    void TxKillTimer(UINT idTimer) override;
    void TxScrollWindowEx(INT dx, INT dy, LPCRECT lprcScroll, LPCRECT lprcClip, HRGN hrgnUpdate, LPRECT lprcUpdate,
                          UINT fuScroll) override;
    void TxSetCapture(WINBOOL fCapture) override;
    void TxSetFocus() override;
    void TxSetCursor(HCURSOR hcur, WINBOOL fText) override;
    WINBOOL TxScreenToClient(LPPOINT lppt) override;
    WINBOOL TxClientToScreen(LPPOINT lppt) override;
    HRESULT TxActivate(LONG* plOldState) override;
    HRESULT TxDeactivate(LONG lNewState) override;
    HRESULT TxGetClientRect(LPRECT prc) override;
    HRESULT TxGetViewInset(LPRECT prc) override;
    HRESULT TxGetCharFormat(const CHARFORMATW** ppCF) override;
    HRESULT TxGetParaFormat(const PARAFORMAT** ppPF) override;
    COLORREF TxGetSysColor(int nIndex) override;
    HRESULT TxGetBackStyle(TXTBACKSTYLE* pstyle) override;
    HRESULT TxGetMaxLength(DWORD* plength) override;
    HRESULT TxGetScrollBars(DWORD* pdwScrollBar) override;
    HRESULT TxGetPasswordChar(TCHAR* pch) override;
    HRESULT TxGetAcceleratorPos(LONG* pcp) override;
    HRESULT TxGetExtent(LPSIZEL lpExtent) override;
    HRESULT OnTxCharFormatChange(const CHARFORMATW* pcf) override;
    HRESULT OnTxParaFormatChange(const PARAFORMAT* ppf) override;
    HRESULT TxGetPropertyBits(DWORD dwMask, DWORD* pdwBits) override;
    HRESULT TxNotify(DWORD iNotify, void* pv) override;
    HIMC TxImmGetContext() override;
    void TxImmReleaseContext(HIMC himc) override;
    HRESULT TxGetSelectionBarWidth(LONG* lSelBarWidth) override;

private:
    explicit CTxtWinHost(CRichEditUI* owner);
    virtual ~CTxtWinHost();
    bool Init();
    HWND Window() const;

    LONG refs_ = 1;
    CRichEditUI* owner_;
    nq::unique_hmodule module_;                // outlives the services it made
    nq::com_ptr<ITextServices> services_;
    RECT rcClient_ = {};
    CHARFORMAT2W cf_ = {};
    PARAFORMAT2 pf_ = {};
    DWORD propertyBits_ = TXTBIT_WORDWRAP;
    DWORD maxLength_ = 0x7FFFFFFF;
    DWORD scrollBars_ = 0;
    WCHAR passwordChar_ = L'*';
    bool transparent_ = true;
    bool caretCreated_ = false;
    nq::unique_hbitmap caretBitmap_;  // the coloured caret while it exists
    POINT caretPos_ = {};
    int caretHeight_ = 0;
};

}  // namespace SkinUI
