#include "ui/controls/uitxthost.h"

#include <imm.h>

#include <cstring>

#include "ui/controls/uirichedit.h"
#include "ui/manager/uimanager.h"

namespace SkinUI {
namespace {

// The interface ids of the text services and their host (not in every SDK's
// import libraries).
const IID kIidTextServices = {0x8d33f740, 0xcf58, 0x11ce, {0xa8, 0x9d, 0x00, 0xaa, 0x00, 0x6c, 0xad, 0xc5}};
const IID kIidTextHost = {0xc5bdd8d0, 0xd26e, 0x11ce, {0xa8, 0x9e, 0x00, 0xaa, 0x00, 0x6c, 0xad, 0xc5}};

using CreateTextServicesFn = HRESULT(WINAPI*)(IUnknown*, ITextHost*, IUnknown**);

// Msftedit first; older systems keep the windowless services in RichEd20 only.
std::vector<std::wstring>& Libraries() {
    static std::vector<std::wstring> names = {L"Msftedit.dll", L"riched20.dll"};
    return names;
}

}  // namespace

CTxtWinHost::CTxtWinHost(CRichEditUI* owner) : owner_(owner) {
    cf_.cbSize = sizeof(cf_);
    cf_.dwMask = CFM_SIZE | CFM_OFFSET | CFM_FACE | CFM_CHARSET | CFM_COLOR | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE;
    cf_.yHeight = 9 * 20;  // twips until a font is set
    cf_.crTextColor = RGB(0, 0, 0);
    cf_.bCharSet = DEFAULT_CHARSET;
    std::wcscpy(cf_.szFaceName, L"Tahoma");
    pf_.cbSize = sizeof(pf_);
    pf_.dwMask = PFM_ALL;
    pf_.wAlignment = PFA_LEFT;
    pf_.cTabCount = 1;
    pf_.rgxTabs[0] = lDefaultTab;
}

CTxtWinHost::~CTxtWinHost() { Shutdown(); }

CTxtWinHost* CTxtWinHost::Create(CRichEditUI* owner) {
    CTxtWinHost* host = new CTxtWinHost(owner);
    if (!host->Init()) {
        host->Release();
        return nullptr;
    }
    return host;
}

void CTxtWinHost::SetTextServicesLibraries(const std::vector<std::wstring>& names) {
    Libraries() = names.empty() ? std::vector<std::wstring>{L"Msftedit.dll", L"riched20.dll"} : names;
}

bool CTxtWinHost::Init() {
    CreateTextServicesFn create = nullptr;
    for (const std::wstring& dll : Libraries()) {
        nq::unique_hmodule module(::LoadLibraryW(dll.c_str()));
        if (!module) continue;
        create = reinterpret_cast<CreateTextServicesFn>(::GetProcAddress(module.get(), "CreateTextServices"));
        if (create) {
            module_ = std::move(module);
            break;
        }
    }
    if (!create) return false;
    nq::com_ptr<IUnknown> unknown;
    if (FAILED(create(nullptr, this, unknown.put())) || !unknown) return false;
    if (FAILED(unknown->QueryInterface(kIidTextServices, services_.put_void())) || !services_) return false;
    services_->OnTxInPlaceActivate(nullptr);
    return true;
}

void CTxtWinHost::DestroyCaret() {
    if (caretCreated_) ::DestroyCaret();
    caretCreated_ = false;
    caretBitmap_.reset();
}

void CTxtWinHost::Shutdown() {
    DestroyCaret();
    owner_ = nullptr;
    if (services_) {
        services_->OnTxInPlaceDeactivate();
        services_.reset();
    }
}

LRESULT CTxtWinHost::TxSend(UINT msg, WPARAM wParam, LPARAM lParam, HRESULT* hr) {
    LRESULT result = 1;
    const HRESULT h = services_ ? services_->TxSendMessage(msg, wParam, lParam, &result) : E_FAIL;
    if (hr) *hr = h;
    return services_ ? result : 1;
}

HWND CTxtWinHost::Window() const {
    return owner_ && owner_->GetManager() ? owner_->GetManager()->GetPaintWindow() : nullptr;
}

void CTxtWinHost::SetClientRect(const RECT& rc) {
    rcClient_ = rc;
    if (services_) services_->OnTxPropertyBitsChange(TXTBIT_CLIENTRECTCHANGE, TRUE);
}

void CTxtWinHost::SetFont(HFONT font, COLORREF color) {
    LOGFONTW lf = {};
    if (!font || !::GetObjectW(font, sizeof(lf), &lf)) return;
    // Heights in twips at the screen's logical pixels per inch.
    const nq::scoped_getdc screen(nullptr);
    const int ppi = screen.get() ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
    const LONG height = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
    cf_.yHeight = height * 1440 / (ppi ? ppi : 96);
    cf_.yOffset = 0;
    cf_.crTextColor = color;
    cf_.dwEffects = 0;
    if (lf.lfWeight >= FW_BOLD) cf_.dwEffects |= CFE_BOLD;
    if (lf.lfItalic) cf_.dwEffects |= CFE_ITALIC;
    if (lf.lfUnderline) cf_.dwEffects |= CFE_UNDERLINE;
    cf_.bCharSet = lf.lfCharSet;
    cf_.bPitchAndFamily = lf.lfPitchAndFamily;
    std::wcsncpy(cf_.szFaceName, lf.lfFaceName, LF_FACESIZE - 1);
    cf_.szFaceName[LF_FACESIZE - 1] = 0;
    if (services_) services_->OnTxPropertyBitsChange(TXTBIT_CHARFORMATCHANGE, TXTBIT_CHARFORMATCHANGE);
}

void CTxtWinHost::ReapplyCharFormat() {
    if (!services_) return;
    CHARFORMAT2W cf = cf_;
    TxSend(EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&cf));
}

void CTxtWinHost::SetTextColor(COLORREF color) {
    cf_.crTextColor = color;
    if (services_) services_->OnTxPropertyBitsChange(TXTBIT_CHARFORMATCHANGE, TXTBIT_CHARFORMATCHANGE);
}

void CTxtWinHost::SetParaAlignment(WORD alignment) {
    pf_.wAlignment = alignment;
    if (services_) services_->OnTxPropertyBitsChange(TXTBIT_PARAFORMATCHANGE, TXTBIT_PARAFORMATCHANGE);
}

void CTxtWinHost::SetPropertyBit(DWORD bit, bool on) {
    propertyBits_ = on ? (propertyBits_ | bit) : (propertyBits_ & ~bit);
    if (services_) services_->OnTxPropertyBitsChange(bit, on ? bit : 0);
}

void CTxtWinHost::SetMaxLength(DWORD length) {
    maxLength_ = length;
    if (services_) services_->OnTxPropertyBitsChange(TXTBIT_MAXLENGTHCHANGE, TXTBIT_MAXLENGTHCHANGE);
}

void CTxtWinHost::SetPasswordChar(WCHAR ch) {
    passwordChar_ = ch;
    if (services_) services_->OnTxPropertyBitsChange(TXTBIT_USEPASSWORD, (propertyBits_ & TXTBIT_USEPASSWORD));
}

void CTxtWinHost::SetScrollBars(DWORD style) {
    scrollBars_ = style;
    if (services_) services_->OnTxPropertyBitsChange(TXTBIT_SCROLLBARCHANGE, TXTBIT_SCROLLBARCHANGE);
}

// --- IUnknown -------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CTxtWinHost::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIidTextHost)) {
        *ppv = static_cast<ITextHost*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CTxtWinHost::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE CTxtWinHost::Release() {
    const LONG refs = ::InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

// --- ITextHost ------------------------------------------------------------------

HDC CTxtWinHost::TxGetDC() { return ::GetDC(Window()); }
INT CTxtWinHost::TxReleaseDC(HDC hdc) { return ::ReleaseDC(Window(), hdc); }

// A windowless box draws no system scroll bars; the services scroll the text themselves.
WINBOOL CTxtWinHost::TxShowScrollBar(INT, WINBOOL) { return FALSE; }
WINBOOL CTxtWinHost::TxEnableScrollBar(INT, INT) { return FALSE; }
WINBOOL CTxtWinHost::TxSetScrollRange(INT, LONG, INT, WINBOOL) { return FALSE; }
WINBOOL CTxtWinHost::TxSetScrollPos(INT, INT, WINBOOL) { return FALSE; }

void CTxtWinHost::TxInvalidateRect(LPCRECT, WINBOOL) {
    if (owner_) owner_->Invalidate();
}
void CTxtWinHost::TxViewChange(WINBOOL) {
    if (owner_) owner_->Invalidate();
}

WINBOOL CTxtWinHost::TxCreateCaret(HBITMAP hbmp, INT xWidth, INT yHeight) {
    caretHeight_ = yHeight;
    HWND hwnd = Window();
    if (!hwnd) return FALSE;
    // A caret in the text colour: the system XORs the caret bitmap onto the
    // window, so the bitmap holds the colour's inverse (text colour on white).
    nq::unique_hbitmap coloured;
    if (!hbmp && owner_ && owner_->IsCaretFollowTextColor() && xWidth > 0 && yHeight > 0) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = xWidth;
        bi.bmiHeader.biHeight = -yHeight;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        coloured.reset(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (coloured && bits) {
            const COLORREF c = cf_.crTextColor;
            const DWORD inverse = (static_cast<DWORD>(255 - GetRValue(c)) << 16) |
                                  (static_cast<DWORD>(255 - GetGValue(c)) << 8) | (255 - GetBValue(c));
            DWORD* px = static_cast<DWORD*>(bits);
            for (int i = 0; i < xWidth * yHeight; ++i) px[i] = inverse;
            hbmp = coloured.get();
        }
    }
    caretCreated_ = ::CreateCaret(hwnd, hbmp, xWidth, yHeight) != FALSE;
    // The previous bitmap is free once the new caret replaced it.
    caretBitmap_ = std::move(coloured);
    return caretCreated_;
}

WINBOOL CTxtWinHost::TxShowCaret(WINBOOL fShow) {
    HWND hwnd = Window();
    if (!hwnd || !caretCreated_) return FALSE;
    return fShow ? ::ShowCaret(hwnd) : ::HideCaret(hwnd);
}

WINBOOL CTxtWinHost::TxSetCaretPos(INT x, INT y) {
    caretPos_ = {x, y};
    return caretCreated_ ? ::SetCaretPos(x, y) : FALSE;
}

WINBOOL CTxtWinHost::TxSetTimer(UINT idTimer, UINT uTimeout) {
    if (!owner_ || !owner_->GetManager()) return FALSE;
    owner_->GetManager()->KillControlTimer(owner_, idTimer);
    return owner_->GetManager()->SetControlTimer(owner_, idTimer, uTimeout);
}

void CTxtWinHost::TxKillTimer(UINT idTimer) {
    if (owner_ && owner_->GetManager()) owner_->GetManager()->KillControlTimer(owner_, idTimer);
}

void CTxtWinHost::TxScrollWindowEx(INT, INT, LPCRECT, LPCRECT, HRGN, LPRECT, UINT) {
    if (owner_) owner_->Invalidate();
}

void CTxtWinHost::TxSetCapture(WINBOOL fCapture) {
    if (!owner_ || !owner_->GetManager()) return;
    if (fCapture)
        owner_->GetManager()->SetCapture();
    else
        owner_->GetManager()->ReleaseCapture();
}

void CTxtWinHost::TxSetFocus() {
    if (owner_) owner_->SetFocus();
}

void CTxtWinHost::TxSetCursor(HCURSOR hcur, WINBOOL) { ::SetCursor(hcur); }

WINBOOL CTxtWinHost::TxScreenToClient(LPPOINT lppt) {
    HWND hwnd = Window();
    return hwnd ? ::ScreenToClient(hwnd, lppt) : TRUE;
}
WINBOOL CTxtWinHost::TxClientToScreen(LPPOINT lppt) {
    HWND hwnd = Window();
    return hwnd ? ::ClientToScreen(hwnd, lppt) : TRUE;
}

HRESULT CTxtWinHost::TxActivate(LONG* plOldState) {
    if (plOldState) *plOldState = 0;
    return S_OK;
}
HRESULT CTxtWinHost::TxDeactivate(LONG) { return S_OK; }

HRESULT CTxtWinHost::TxGetClientRect(LPRECT prc) {
    if (!prc) return E_INVALIDARG;
    *prc = rcClient_;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetViewInset(LPRECT prc) {
    if (!prc) return E_INVALIDARG;
    *prc = RECT{};
    return S_OK;
}

HRESULT CTxtWinHost::TxGetCharFormat(const CHARFORMATW** ppCF) {
    if (!ppCF) return E_INVALIDARG;
    *ppCF = reinterpret_cast<const CHARFORMATW*>(&cf_);
    return S_OK;
}

HRESULT CTxtWinHost::TxGetParaFormat(const PARAFORMAT** ppPF) {
    if (!ppPF) return E_INVALIDARG;
    *ppPF = reinterpret_cast<const PARAFORMAT*>(&pf_);
    return S_OK;
}

COLORREF CTxtWinHost::TxGetSysColor(int nIndex) {
    if (nIndex == COLOR_WINDOWTEXT) return cf_.crTextColor;
    return ::GetSysColor(nIndex);
}

HRESULT CTxtWinHost::TxGetBackStyle(TXTBACKSTYLE* pstyle) {
    if (!pstyle) return E_INVALIDARG;
    *pstyle = transparent_ ? TXTBACK_TRANSPARENT : TXTBACK_OPAQUE;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetMaxLength(DWORD* plength) {
    if (!plength) return E_INVALIDARG;
    *plength = maxLength_;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetScrollBars(DWORD* pdwScrollBar) {
    if (!pdwScrollBar) return E_INVALIDARG;
    *pdwScrollBar = scrollBars_;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetPasswordChar(TCHAR* pch) {
    if (!pch) return E_INVALIDARG;
    *pch = passwordChar_;
    return (propertyBits_ & TXTBIT_USEPASSWORD) ? S_OK : S_FALSE;
}

HRESULT CTxtWinHost::TxGetAcceleratorPos(LONG* pcp) {
    if (pcp) *pcp = -1;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetExtent(LPSIZEL) { return E_NOTIMPL; }
HRESULT CTxtWinHost::OnTxCharFormatChange(const CHARFORMATW*) { return S_OK; }
HRESULT CTxtWinHost::OnTxParaFormatChange(const PARAFORMAT*) { return S_OK; }

HRESULT CTxtWinHost::TxGetPropertyBits(DWORD dwMask, DWORD* pdwBits) {
    if (!pdwBits) return E_INVALIDARG;
    *pdwBits = propertyBits_ & dwMask;
    return S_OK;
}

HRESULT CTxtWinHost::TxNotify(DWORD iNotify, void* pv) {
    if (owner_) owner_->OnTxNotify(iNotify, pv);
    return S_OK;
}

HIMC CTxtWinHost::TxImmGetContext() {
    HWND hwnd = Window();
    return hwnd ? ::ImmGetContext(hwnd) : nullptr;
}

void CTxtWinHost::TxImmReleaseContext(HIMC himc) {
    HWND hwnd = Window();
    if (hwnd && himc) ::ImmReleaseContext(hwnd, himc);
}

HRESULT CTxtWinHost::TxGetSelectionBarWidth(LONG* lSelBarWidth) {
    if (lSelBarWidth) *lSelBarWidth = 0;
    return S_OK;
}

}  // namespace SkinUI
