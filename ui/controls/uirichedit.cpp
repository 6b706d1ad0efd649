#include "ui/controls/uirichedit.h"

#include <imm.h>
#include <richedit.h>

#include <cwchar>

#include "ui/controls/uitxthost.h"
#include "ui/core/uivalue.h"
#include "ui/render/uirender.h"

namespace SkinUI {
namespace {

// Text colours are 0xAARRGGBB; the text services want a COLORREF.
COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

bool IsMouseMessage(UINT msg) { return msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST; }

}  // namespace

CRichEditUI::CRichEditUI() {
    cursor_ = 32513;  // IDC_IBEAM
}

CRichEditUI::~CRichEditUI() {
    if (manager_ && filterAdded_) manager_->RemoveMessageFilter(this);
    DestroyHost();
}

const wchar_t* CRichEditUI::GetClass() const { return L"RichEditUI"; }

void* CRichEditUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"RichEdit") == 0) return this;
    return CContainerUI::GetInterface(name);
}

UINT CRichEditUI::GetControlFlags() const {
    return IsEnabled() ? (UIFLAG_TABSTOP | UIFLAG_SETCURSOR) : 0;
}

void CRichEditUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    if (manager_ && manager_ != manager && filterAdded_) {
        manager_->RemoveMessageFilter(this);
        filterAdded_ = false;
    }
    CContainerUI::SetManager(manager, parent, init);
}

void CRichEditUI::DoInit() {
    CContainerUI::DoInit();
    CreateHost();
    if (manager_ && !filterAdded_) filterAdded_ = manager_->AddMessageFilter(this);
    if (firstFocus_) SetFocus();
}

void CRichEditUI::CreateHost() {
    if (host_) return;
    host_ = CTxtWinHost::Create(this);
    if (!host_) {
        ::OutputDebugStringW(L"RichEditUI: no text services; the box shows its text read-only\n");
        return;
    }
    host_->SetTransparent(transparent_);
    host_->SetPropertyBit(TXTBIT_MULTILINE, multiLine_);
    host_->SetPropertyBit(TXTBIT_WORDWRAP, multiLine_);
    host_->SetPropertyBit(TXTBIT_RICHTEXT, rich_);
    host_->SetPropertyBit(TXTBIT_READONLY, readOnly_);
    host_->SetPropertyBit(TXTBIT_USEPASSWORD, password_);
    host_->SetMaxLength(static_cast<DWORD>(maxChar_));
    DWORD bars = 0;
    if (vScrollBar_) bars |= WS_VSCROLL;
    if (hScrollBar_) bars |= WS_HSCROLL;
    if (autoVScroll_) bars |= ES_AUTOVSCROLL;
    if (autoHScroll_) bars |= ES_AUTOHSCROLL;
    host_->SetScrollBars(bars);
    host_->SetParaAlignment(align_);
    ApplyFont();
    host_->SetClientRect(GetTextRect());
    host_->TxSend(EM_SETEVENTMASK, 0, ENM_CHANGE | ENM_SELCHANGE | ENM_LINK | ENM_DROPFILES);
    host_->TxSend(EM_SETUNDOLIMIT, 100, 0);
    host_->TxSend(EM_EXLIMITTEXT, 0, maxChar_);
    if (!pendingText_.empty()) host_->GetTextServices()->TxSetText(pendingText_.c_str());
    pendingText_.clear();
}

void CRichEditUI::DestroyHost() {
    if (!host_) return;
    CTxtWinHost* host = host_;
    host_ = nullptr;
    host->Shutdown();
    host->Release();
}

void CRichEditUI::ApplyFont() {
    if (!host_ || !manager_) return;
    DWORD color = textColor_ ? textColor_ : manager_->GetDefaultFontColor();
    host_->SetFont(manager_->GetFont(font_), ToColorRef(color));
}

LRESULT CRichEditUI::TxSendMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
    return host_ ? host_->TxSend(msg, wParam, lParam) : 1;
}

// --- text ---------------------------------------------------------------------------

std::wstring CRichEditUI::GetText() const {
    if (!host_) return pendingText_;
    GETTEXTLENGTHEX len = {GTL_DEFAULT | GTL_NUMCHARS, 1200};
    const LRESULT count = host_->TxSend(EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
    if (count <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(count) + 1, L'\0');
    GETTEXTEX get = {};
    get.cb = static_cast<DWORD>((count + 1) * sizeof(wchar_t));
    get.flags = GT_DEFAULT;
    get.codepage = 1200;
    const LRESULT got = host_->TxSend(EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got > 0 && got <= count ? static_cast<size_t>(got) : std::wcslen(text.c_str()));
    return text;
}

void CRichEditUI::SetText(const std::wstring& text) {
    CControlUI::SetText(text);  // "{\n}" and friends as every control reads them
    if (!host_) {
        pendingText_ = text_;
        return;
    }
    host_->GetTextServices()->TxSetText(text_.c_str());
    Invalidate();
}

void CRichEditUI::SetSel(long start, long end) {
    CHARRANGE range = {start, end};
    TxSendMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

void CRichEditUI::SelAll() { SetSel(0, -1); }

void CRichEditUI::ReplaceSel(const std::wstring& text, bool canUndo) {
    TxSendMessage(EM_REPLACESEL, canUndo ? TRUE : FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

// --- settings -------------------------------------------------------------------------

void CRichEditUI::SetMultiLine(bool on) {
    multiLine_ = on;
    if (host_) {
        host_->SetPropertyBit(TXTBIT_MULTILINE, on);
        host_->SetPropertyBit(TXTBIT_WORDWRAP, on);
    }
}
void CRichEditUI::SetReadOnly(bool on) {
    readOnly_ = on;
    if (host_) host_->SetPropertyBit(TXTBIT_READONLY, on);
    Invalidate();
}
void CRichEditUI::SetPassword(bool on) {
    password_ = on;
    if (host_) host_->SetPropertyBit(TXTBIT_USEPASSWORD, on);
    Invalidate();
}
void CRichEditUI::SetLimitText(int count) {
    maxChar_ = count > 0 ? count : 0x7FFFFFFF;
    if (host_) {
        host_->SetMaxLength(static_cast<DWORD>(maxChar_));
        host_->TxSend(EM_EXLIMITTEXT, 0, maxChar_);
    }
}
void CRichEditUI::SetFont(int index) {
    font_ = index;
    ApplyFont();
    Invalidate();
}
void CRichEditUI::SetTextColor(DWORD color) {
    textColor_ = color;
    ApplyFont();
    Invalidate();
}
RECT CRichEditUI::GetTextPadding() const { return dpiTextPaddingRich_ ? ScaleRect(textPadding_) : textPadding_; }
void CRichEditUI::SetTextPadding(RECT padding) {
    textPadding_ = padding;
    if (host_) host_->SetClientRect(GetTextRect());
    Invalidate();
}

RECT CRichEditUI::GetTextRect() const {
    RECT rc = rcItem_;
    const RECT pad = GetTextPadding();
    rc.left += pad.left;
    rc.top += pad.top;
    rc.right -= pad.right;
    rc.bottom -= pad.bottom;
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    return rc;
}

void CRichEditUI::SetEnabled(bool enable) {
    CContainerUI::SetEnabled(enable);
    Invalidate();
}

void CRichEditUI::SetPos(RECT rc, bool needInvalidate) {
    CContainerUI::SetPos(rc, needInvalidate);
    if (host_) host_->SetClientRect(GetTextRect());
}

void CRichEditUI::Move(SIZE offset, bool needInvalidate) {
    CContainerUI::Move(offset, needInvalidate);
    if (host_) host_->SetClientRect(GetTextRect());
}

void CRichEditUI::OnDpiChanged() {
    ApplyFont();
    // The font's new height must reach the text already shown, too.
    if (host_) host_->ReapplyCharFormat();
    if (host_) host_->SetClientRect(GetTextRect());
}

void CRichEditUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    const bool on = ParseBoolWord(v);
    if (name == L"vscrollbar") vScrollBar_ = on;
    else if (name == L"autovscroll") autoVScroll_ = on;
    else if (name == L"hscrollbar") hScrollBar_ = on;
    else if (name == L"autohscroll") autoHScroll_ = on;
    else if (name == L"multiline") SetMultiLine(on);
    else if (name == L"wanttab") wantTab_ = on;
    else if (name == L"wantreturn") wantReturn_ = on;
    else if (name == L"wantctrlreturn") wantCtrlReturn_ = on;
    else if (name == L"transparent") {
        transparent_ = on;
        if (host_) host_->SetTransparent(on);
    } else if (name == L"rich") {
        rich_ = on;
        if (host_) host_->SetPropertyBit(TXTBIT_RICHTEXT, on);
    } else if (name == L"readonly") SetReadOnly(on);
    else if (name == L"password") SetPassword(on);
    else if (name == L"align") {
        if (value.find(L"left") != std::wstring::npos) align_ = PFA_LEFT;
        if (value.find(L"center") != std::wstring::npos) align_ = PFA_CENTER;
        if (value.find(L"right") != std::wstring::npos) align_ = PFA_RIGHT;
        if (host_) host_->SetParaAlignment(align_);
    } else if (name == L"font") SetFont(ParseInt(v));
    else if (name == L"textcolor") SetTextColor(ParseColor(v));
    else if (name == L"maxchar") SetLimitText(ParseInt(v));
    else if (name == L"normalimage") normalImage_ = value;
    else if (name == L"hotimage") hotImage_ = value;
    else if (name == L"focusedimage") focusedImage_ = value;
    else if (name == L"disabledimage") disabledImage_ = value;
    else if (name == L"textpadding") SetTextPadding(ParseRect(v));
    else if (name == L"tipvalue") tipValue_ = value;
    else if (name == L"tipvaluecolor") tipColor_ = ParseColor(v);
    else if (name == L"tipvalueendellipsis") tipEndEllipsis_ = on;
    else if (name == L"tipvaluealign") {
        tipAlign_ = DT_SINGLELINE | DT_VCENTER;
        if (value.find(L"center") != std::wstring::npos) tipAlign_ |= DT_CENTER;
        else if (value.find(L"right") != std::wstring::npos) tipAlign_ |= DT_RIGHT;
        else tipAlign_ |= DT_LEFT;
    } else if (name == L"EnabledAlpha") enabledAlpha_ = static_cast<BYTE>(ParseInt(v));
    else if (name == L"WantMenu") wantMenu_ = on;
    else if (name == L"CaretFollowTextColor") caretFollowTextColor_ = on;
    else if (name == L"FocusShowTipValue") focusShowTip_ = on;
    else if (name == L"TipValuePadding") tipPadding_ = ParseRect(v);
    else if (name == L"firstfocus") firstFocus_ = on;
    else if (name == L"autoselall") autoSelAll_ = on;
    else if (name == L"RichEditDpiTextPadding") dpiTextPaddingRich_ = on;
    else if (name.size() > 9 && name.compare(name.size() - 9, 9, L"SwitchRes") == 0) switchRes_[name] = value;
    else {
        CContainerUI::SetAttribute(name, value);
        return;
    }
    Invalidate();
}

// --- events and messages --------------------------------------------------------------------

void CRichEditUI::DoEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.Type)) {
        if (parent_) parent_->DoEvent(event);
        return;
    }
    switch (event.Type) {
    case UIEVENT_SETCURSOR:
        if (IsEnabled()) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_IBEAM));
            return;
        }
        break;
    case UIEVENT_SETFOCUS:
        if (host_) {
            host_->GetTextServices()->OnTxUIActivate();
            host_->TxSend(WM_SETFOCUS, 0, 0);
            if (autoSelAll_) SelAll();
        }
        focused_ = true;
        Invalidate();
        return;
    case UIEVENT_KILLFOCUS:
        if (host_) {
            host_->TxSend(WM_KILLFOCUS, 0, 0);
            host_->GetTextServices()->OnTxUIDeactivate();
            host_->DestroyCaret();
        }
        focused_ = false;
        Invalidate();
        return;
    case UIEVENT_TIMER:
        // Timers the text services asked for (caret blink, drag scrolling).
        if (host_) {
            host_->TxSend(WM_TIMER, event.wParam, event.lParam);
            return;
        }
        break;
    case UIEVENT_MOUSEENTER:
        hot_ = true;
        Invalidate();
        return;
    case UIEVENT_MOUSELEAVE:
        hot_ = false;
        Invalidate();
        return;
    case UIEVENT_SCROLLWHEEL:
        if (host_ && multiLine_) {
            host_->TxSend(WM_VSCROLL, event.wParam == 1 ? SB_LINEDOWN : SB_LINEUP, 0);
            return;
        }
        break;
    case UIEVENT_KEYDOWN:
    case UIEVENT_CHAR:
    case UIEVENT_KEYUP:
        // The keys came through the message filter already.
        return;
    default:
        break;
    }
    CContainerUI::DoEvent(event);
}

LRESULT CRichEditUI::MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = false;
    if (!IsVisible() || !IsEnabled() || !manager_) return 0;
    const bool focused = manager_->GetFocus() == this;
    if (IsMouseMessage(msg)) {
        if (msg == WM_MOUSEWHEEL) return 0;  // through the manager's scroll-wheel event
        const POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const bool inside = ::PtInRect(&rcItem_, pt) != FALSE;
        const bool ours = inside || (focused && manager_->IsCaptured() && manager_->GetPushedControl() == this);
        if (!ours) return 0;
        if (msg == WM_RBUTTONUP && wantMenu_ && host_) {
            ShowContextMenu(pt);
            handled = true;
            return 0;
        }
        if (!focused && msg != WM_LBUTTONDOWN && msg != WM_LBUTTONDBLCLK) return 0;
        // The services place the caret and select; the manager still sees the
        // click (focus, capture, notifications).
        if (host_) host_->TxSend(msg, wParam, lParam);
        return 0;
    }
    if (!focused) return 0;
    switch (msg) {
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            Notify(L"return", wParam, lParam);
            const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
            if (!wantReturn_ || (ctrl && !wantCtrlReturn_)) {
                handled = true;
                return 0;
            }
        } else {
            if (wParam == VK_TAB && !wantTab_) return 0;  // the manager's Tab order
            Notify(L"keydown", wParam, lParam);
        }
        break;
    case WM_CHAR:
        // The character of a swallowed Return (and of an unwanted Tab).
        if ((wParam == L'\r' || wParam == L'\n') &&
            (!wantReturn_ || (::GetKeyState(VK_CONTROL) < 0 && !wantCtrlReturn_))) {
            handled = true;
            return 0;
        }
        if (wParam == L'\t' && !wantTab_) return 0;
        break;
    case WM_KEYUP:
    case WM_SYSCHAR:
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_ENDCOMPOSITION:
    case WM_IME_CHAR:
    case WM_IME_NOTIFY:
    case WM_IME_SETCONTEXT:
        break;
    case WM_IME_COMPOSITION:
        PlaceImeWindow();
        break;
    case WM_CONTEXTMENU:
        if (wantMenu_ && host_) {
            POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (pt.x == -1 && pt.y == -1)
                pt = host_->GetCaretPos();
            else
                ::ScreenToClient(manager_->GetPaintWindow(), &pt);
            ShowContextMenu(pt);
            handled = true;
        }
        return 0;
    default:
        return 0;
    }
    if (!host_) return 1;  // no services: the message is not ours to take
    HRESULT hr = S_FALSE;
    const LRESULT result = host_->TxSend(msg, wParam, lParam, &hr);
    handled = hr == S_OK;
    return result;
}

void CRichEditUI::PlaceImeWindow() {
    if (!host_ || !manager_ || !manager_->GetPaintWindow()) return;
    HWND hwnd = manager_->GetPaintWindow();
    HIMC imc = ::ImmGetContext(hwnd);
    if (!imc) return;
    COMPOSITIONFORM form = {};
    form.dwStyle = CFS_POINT;
    form.ptCurrentPos = host_->GetCaretPos();
    ::ImmSetCompositionWindow(imc, &form);
    ::ImmReleaseContext(hwnd, imc);
}

void CRichEditUI::OnTxNotify(DWORD code, void* data) {
    if (code == EN_CHANGE) {
        Notify(L"textchanged");
        return;
    }
    // The other edit notifications go to the window as WM_NOTIFY with the
    // window as the sender.
    if (code < 0x0700 || code > 0x07FF || !manager_ || !manager_->GetPaintWindow() || !data) return;
    HWND hwnd = manager_->GetPaintWindow();
    NMHDR* hdr = static_cast<NMHDR*>(data);
    hdr->hwndFrom = hwnd;
    hdr->idFrom = static_cast<UINT_PTR>(::GetWindowLongPtrW(hwnd, GWLP_ID));
    hdr->code = code;
    ::SendMessageW(hwnd, WM_NOTIFY, hdr->idFrom, reinterpret_cast<LPARAM>(hdr));
}

// --- context menu ------------------------------------------------------------------------------

nq::unique_hmenu CRichEditUI::BuildContextMenu() const {
    nq::unique_hmenu menu(::CreatePopupMenu());
    if (!menu) return menu;
    CHARRANGE sel = {};
    TxSendMessage(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&sel));
    const bool hasSel = sel.cpMax != sel.cpMin;
    const bool editable = host_ && !readOnly_;
    const bool canUndo = editable && TxSendMessage(EM_CANUNDO, 0, 0) != 0 && host_;
    const bool canRedo = editable && TxSendMessage(EM_CANREDO, 0, 0) != 0 && host_;
    const bool canPaste = editable && TxSendMessage(EM_CANPASTE, 0, 0) != 0 && host_;
    struct Item {
        UINT id;
        const wchar_t* text;
        bool enabled;
    };
    const Item items[] = {
        {kRichEditUndo, L"撤销(&U)", canUndo},
        {kRichEditRedo, L"重做(&R)", canRedo},
        {0, nullptr, false},
        {kRichEditCut, L"剪切(&X)", editable && hasSel && !password_},
        {kRichEditCopy, L"复制(&C)", host_ && hasSel && !password_},
        {kRichEditPaste, L"粘贴(&V)", canPaste},
        {kRichEditClear, L"清空(&L)", editable && hasSel},
        {0, nullptr, false},
        {kRichEditSelectAll, L"全选(&A)", host_ != nullptr},
    };
    for (const Item& item : items) {
        if (!item.text)
            ::AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
        else
            ::AppendMenuW(menu.get(), MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED), item.id, item.text);
    }
    return menu;
}

void CRichEditUI::RunMenuCommand(UINT command) {
    switch (command) {
    case kRichEditUndo: TxSendMessage(WM_UNDO, 0, 0); break;
    case kRichEditRedo: TxSendMessage(EM_REDO, 0, 0); break;
    case kRichEditCut: TxSendMessage(WM_CUT, 0, 0); break;
    case kRichEditCopy: TxSendMessage(WM_COPY, 0, 0); break;
    case kRichEditPaste: TxSendMessage(WM_PASTE, 0, 0); break;
    case kRichEditClear: TxSendMessage(WM_CLEAR, 0, 0); break;
    case kRichEditSelectAll: SelAll(); break;
    default: break;
    }
}

void CRichEditUI::ShowContextMenu(POINT ptClient) {
    HWND hwnd = manager_ ? manager_->GetPaintWindow() : nullptr;
    if (!hwnd) return;
    nq::unique_hmenu menu = BuildContextMenu();
    if (!menu) return;
    ::ClientToScreen(hwnd, &ptClient);
    const UINT command = static_cast<UINT>(
        ::TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, ptClient.x,
                         ptClient.y, 0, hwnd, nullptr));
    if (command) RunMenuCommand(command);
}

// --- painting ------------------------------------------------------------------------------

void CRichEditUI::PaintStatusImage(HDC hDC) {
    const std::wstring* image = &normalImage_;
    if (!IsEnabled()) image = &disabledImage_;
    else if (IsFocused()) image = &focusedImage_;
    else if (hot_) image = &hotImage_;
    if (!image->empty() && DrawImage(hDC, *image)) return;
    DrawImage(hDC, normalImage_);
}

bool CRichEditUI::DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* stop) {
    RECT rcTemp = {};
    if (!::IntersectRect(&rcTemp, &rcPaint, &rcItem_)) return true;
    CRenderClip clip;
    RenderEngine::GenerateClip(hDC, rcTemp, clip);
    CControlUI::DoPaint(hDC, rcPaint, stop);
    const RECT rcText = GetTextRect();
    if (host_) {
        RECTL bounds = {rcText.left, rcText.top, rcText.right, rcText.bottom};
        RECT update = rcTemp;
        host_->GetTextServices()->TxDraw(DVASPECT_CONTENT, 0, nullptr, nullptr, hDC, nullptr, &bounds, nullptr, &update,
                                         nullptr, 0, IsFocused() ? TXTVIEW_ACTIVE : TXTVIEW_INACTIVE);
    } else if (!pendingText_.empty() && manager_) {
        // No text services: the text is still shown, as plain text.
        RECT rc = rcText;
        const DWORD color = textColor_ ? textColor_ : manager_->GetDefaultFontColor();
        UINT style = DT_NOPREFIX | (multiLine_ ? DT_WORDBREAK : (DT_SINGLELINE | DT_VCENTER));
        if (password_) {
            const std::wstring stars(pendingText_.size(), L'*');
            RenderEngine::RenderText(hDC, manager_, rc, stars.c_str(), -1, color, font_, style, this);
        } else {
            RenderEngine::RenderText(hDC, manager_, rc, pendingText_.c_str(), -1, color, font_, style, this);
        }
    }
    // The tip stands in for an empty text (while unfocused, unless asked).
    if (!tipValue_.empty() && manager_ && (!IsFocused() || focusShowTip_) && GetText().empty()) {
        RECT rc = rcText;
        const RECT pad = ScaleRect(tipPadding_);
        rc.left += pad.left;
        rc.top += pad.top;
        rc.right -= pad.right;
        rc.bottom -= pad.bottom;
        RenderEngine::RenderText(hDC, manager_, rc, tipValue_.c_str(), -1, tipColor_, font_,
                                 tipAlign_ | (tipEndEllipsis_ ? DT_END_ELLIPSIS : 0), this);
    }
    // Children (and the container's scroll bars) over the text.
    for (CControlUI* child : items_) {
        if (child == stop) return false;
        if (child->IsVisible() && !child->Paint(hDC, rcPaint, stop)) return false;
    }
    return true;
}

}  // namespace SkinUI
