// The paint manager: per-window state, the `Window` attribute table, fonts,
// default lists and styles, DPI, and the process-wide state.
#include "ui/manager/uimanager.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "ui/control/uicontainer.h"
#include "ui/core/uiattrlist.h"
#include "ui/core/uiskinfile.h"
#include "ui/core/uivalue.h"
#include "ui/manager/uimanager_state.h"
#include "ui/window/uishadow.h"

namespace SkinUI {
namespace detail {

ProcessState& Process() {
    static ProcessState state;
    return state;
}

std::unique_ptr<TFontInfo> MakeFont(const std::wstring& face, int size, bool bold, bool underline, bool italic,
                                    const CDpiScale* dpi, HDC dc) {
    LOGFONTW lf = {};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    lf.lfCharSet = DEFAULT_CHARSET;
    if (!face.empty()) {
        const size_t n = std::min<size_t>(face.size(), LF_FACESIZE - 1);
        std::wmemcpy(lf.lfFaceName, face.c_str(), n);
        lf.lfFaceName[n] = 0;
    }
    lf.lfHeight = -(dpi ? dpi->Scale(size) : size);
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = underline ? TRUE : FALSE;
    lf.lfItalic = italic ? TRUE : FALSE;
    auto info = std::make_unique<TFontInfo>();
    info->font.reset(::CreateFontIndirectW(&lf));
    if (!info->font) return nullptr;
    CountGdi(+1);
    info->faceName = lf.lfFaceName;
    info->size = size;
    info->bold = bold;
    info->underline = underline;
    info->italic = italic;
    if (dc) {
        nq::scoped_select sel(dc, info->font.get());
        ::GetTextMetricsW(dc, &info->tm);
    } else {
        nq::scoped_getdc screen(nullptr);
        if (screen.get()) {
            nq::scoped_select sel(screen.get(), info->font.get());
            ::GetTextMetricsW(screen.get(), &info->tm);
        }
    }
    return info;
}

}  // namespace detail

using detail::CountGdi;
using detail::Process;

namespace {

// Frees a font record counted by MakeFont.
void FreeFont(std::unique_ptr<TFontInfo>& font) {
    if (font && font->font) CountGdi(-1);
    font.reset();
}

void FreeFonts(std::map<int, std::unique_ptr<TFontInfo>>& fonts) {
    for (auto& f : fonts) FreeFont(f.second);
    fonts.clear();
}

// The process default font: DEFAULT_GUI_FONT's face and size at the given scale.
void MakeProcessDefaultFont(const CDpiScale* dpi) {
    LOGFONTW lf = {};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    const int size = lf.lfHeight < 0 ? -lf.lfHeight : (lf.lfHeight ? lf.lfHeight : 12);
    auto font = detail::MakeFont(lf.lfFaceName, size, lf.lfWeight >= FW_BOLD, lf.lfUnderline != 0, lf.lfItalic != 0,
                                 dpi, nullptr);
    if (font) {
        FreeFont(Process().defaultFont);
        Process().defaultFont = std::move(font);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Life

void CPaintManagerUI::InitProcessState() {
    auto& p = Process();
    if (p.initialised) return;
    p.initialised = true;
    if (!p.instance) p.instance = ::GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    CShadowUI::Initialize(p.instance);
    p.dirtyPen.reset(::CreatePen(PS_SOLID, 1, RGB(220, 0, 0)));
    if (p.dirtyPen) CountGdi(+1);
}

CPaintManagerUI::CPaintManagerUI() {
    InitProcessState();
    auto& p = Process();
    defaultDisabledColor_ = p.disabledColor;
    defaultFontColor_ = p.fontColor;
    defaultLinkColor_ = p.linkColor;
    defaultLinkHoverColor_ = p.linkHoverColor;
    defaultSelectedBkColor_ = p.selectedBkColor;
    CRenderHost::SetResourceInstance(p.instance);
}

CPaintManagerUI::~CPaintManagerUI() {
    // The tree first: each control forgets itself here while the lists still exist.
    delete root_;
    root_ = nullptr;
    std::vector<CControlUI*> cleanup;
    cleanup.swap(delayedCleanup_);
    for (CControlUI* c : cleanup) delete c;
    asyncNotify_.clear();
    RemoveAllTimers();
    timers_.clear();
    if (hwndTooltip_) hwndTooltip_.reset();
    DropOffscreen();
    ResetOwnResources();
    shadow_.reset();
    auto& managers = Process().managers;
    managers.erase(std::remove(managers.begin(), managers.end(), this), managers.end());
    if (hdcPaint_ && hwnd_) ::ReleaseDC(hwnd_, hdcPaint_);
    hdcPaint_ = nullptr;
}

void CPaintManagerUI::ResetOwnResources() {
    windowCustomAttributes_.clear();
    defaultAttributes_.clear();
    styles_.clear();
    FreeFonts(fonts_);
    FreeFont(defaultFont_);
    CRenderHost::ResetImages();
    fontFiles_.clear();
}

void CPaintManagerUI::Init(HWND hwnd, const wchar_t* name) {
    ResetOwnResources();
    name_ = name ? name : L"";
    if (hwnd_ != hwnd) {
        auto& managers = Process().managers;
        if (hdcPaint_ && hwnd_) ::ReleaseDC(hwnd_, hdcPaint_);
        hdcPaint_ = nullptr;
        managers.erase(std::remove(managers.begin(), managers.end(), this), managers.end());
        hwnd_ = hwnd;
        if (hwnd_) {
            hdcPaint_ = ::GetDC(hwnd_);
            managers.push_back(this);
        }
    }
}

SIZE CPaintManagerUI::GetClientSize() const {
    RECT rc = {};
    if (hwnd_) ::GetClientRect(hwnd_, &rc);
    return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

CShadowUI* CPaintManagerUI::GetShadow() {
    if (!shadow_) shadow_ = std::make_unique<CShadowUI>();
    return shadow_.get();
}

// ---------------------------------------------------------------------------
// The `Window` element

void CPaintManagerUI::SetInitSize(int cx, int cy) {
    initSize_ = {cx, cy};
    if (!root_ && hwnd_) {
        const SIZE scaled = GetDPIObj()->Scale(initSize_);
        ::SetWindowPos(hwnd_, nullptr, 0, 0, scaled.cx, scaled.cy, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    }
}

SIZE CPaintManagerUI::GetInitSize() const { return GetDpiScale()->Scale(initSize_); }

void CPaintManagerUI::SetMinInfo(int cx, int cy) {
    if (cx >= 0 && cy >= 0) minInfo_ = {cx, cy};
}

void CPaintManagerUI::SetMaxInfo(int cx, int cy) {
    if (cx >= 0 && cy >= 0) maxInfo_ = {cx, cy};
}

void CPaintManagerUI::SetOpacity(BYTE opacity) {
    opacity_ = opacity;
    if (!hwnd_) return;
    using SetLayeredAttributes = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
    static const auto setAttributes = reinterpret_cast<SetLayeredAttributes>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetLayeredWindowAttributes")));
    if (!setAttributes) return;
    const LONG_PTR ex = ::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE);
    if (!(ex & WS_EX_LAYERED)) ::SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, ex | WS_EX_LAYERED);
    setAttributes(hwnd_, 0, opacity, LWA_ALPHA);
}

void CPaintManagerUI::SetLayered(bool layered) {
    if (layered == IsLayered()) return;
    // Without UpdateLayeredWindow the window paints normally.
    static const bool available =
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "UpdateLayeredWindow") != nullptr;
    if (layered && !available) return;
    CRenderHost::SetLayered(layered);
    layeredChanged_ = true;
    if (root_) root_->NeedUpdate();
    updateNeeded_ = true;
    Invalidate();
}

void CPaintManagerUI::SetLayeredInset(const RECT& rc) {
    layeredInset_ = rc;
    layeredChanged_ = true;
    Invalidate();
}

void CPaintManagerUI::SetLayeredOpacity(BYTE opacity) {
    layeredOpacity_ = opacity;
    layeredChanged_ = true;
    Invalidate();
}

void CPaintManagerUI::SetLayeredImage(const std::wstring& image) {
    layeredImage_ = image;
    SetLayered(true);
    layeredChanged_ = true;
    Invalidate();
}

void CPaintManagerUI::SetWindowAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    if (name == L"size") {
        const SIZE s = ParseSize(v);
        SetInitSize(s.cx, s.cy);
    } else if (name == L"sizebox") {
        SetSizeBox(ParseRect(v));
    } else if (name == L"caption") {
        SetCaptionRect(ParseRect(v));
    } else if (name == L"roundcorner") {
        const SIZE s = ParseSize(v);
        SetRoundCorner(s.cx, s.cy);
    } else if (name == L"sizeboxinset") {
        SetSizeBoxInset(ParseRect(v));
    } else if (name == L"mininfo") {
        const SIZE s = ParseSize(v);
        SetMinInfo(s.cx, s.cy);
    } else if (name == L"maxinfo") {
        const SIZE s = ParseSize(v);
        SetMaxInfo(s.cx, s.cy);
    } else if (name == L"showdirty") {
        SetShowUpdateRect(ParseBoolWord(v));
    } else if (name == L"opacity" || name == L"alpha") {
        SetOpacity(static_cast<BYTE>(ParseInt(v)));
    } else if (name == L"layeredopacity") {
        SetLayeredOpacity(static_cast<BYTE>(ParseInt(v)));
    } else if (name == L"layered" || name == L"bktrans") {
        SetLayered(ParseBoolWord(v));
    } else if (name == L"layeredimage") {
        SetLayeredImage(value);
    } else if (name == L"noactivate") {
        SetNoActivate(ParseBoolWord(v));
    } else if (name == L"disabledfontcolor") {
        SetDefaultDisabledColor(ParseColor(v));
    } else if (name == L"defaultfontcolor") {
        SetDefaultFontColor(ParseColor(v));
    } else if (name == L"linkfontcolor") {
        SetDefaultLinkFontColor(ParseColor(v));
    } else if (name == L"linkhoverfontcolor") {
        SetDefaultLinkHoverFontColor(ParseColor(v));
    } else if (name == L"selectedcolor") {
        SetDefaultSelectedBkColor(ParseColor(v));
    } else if (name == L"shadowsize") {
        GetShadow()->SetSize(ParseInt(v));
    } else if (name == L"shadowsharpness") {
        GetShadow()->SetSharpness(static_cast<unsigned>(ParseInt(v)));
    } else if (name == L"shadowdarkness") {
        GetShadow()->SetDarkness(static_cast<unsigned>(ParseInt(v)));
    } else if (name == L"shadowposition") {
        const SIZE s = ParseSize(v);
        GetShadow()->SetPosition(s.cx, s.cy);
    } else if (name == L"shadowcolor") {
        const DWORD argb = ParseColor(v);
        GetShadow()->SetColor(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF));
    } else if (name == L"shadowcorner") {
        GetShadow()->SetShadowCorner(ParseRect(v));
    } else if (name == L"shadowimage") {
        GetShadow()->SetImage(value);
    } else if (name == L"showshadow") {
        GetShadow()->ShowShadow(ParseBoolWord(v));
    } else if (name == L"gdiplustext") {
        SetUseGdiplusText(ParseBoolWord(v));
    } else if (name == L"textdesigner") {
        SetUseTextDesigner(ParseBoolWord(v));
    } else if (name == L"textrenderdouble") {
        SetTextRenderDouble(ParseBoolWord(v));
    } else if (name == L"textrenderinghint") {
        SetGdiplusTextRenderingHint(ParseInt(v));
    } else if (name == L"tooltiphovertime") {
        SetHoverTime(static_cast<UINT>(ParseInt(v)));
    } else if (name == L"tooltipbkcolor") {
        const DWORD argb = ParseColor(v);
        SetTooltipBkColor(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF));
    } else if (name == L"tooltiptextcolor") {
        const DWORD argb = ParseColor(v);
        SetTooltipTextColor(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF));
    } else if (name == L"dockwnd") {
        SetDockWindow(ParseBoolWord(v));
    } else if (name == L"normaltab") {
        SetNormalTab(ParseBoolWord(v));
    } else if (name == L"autodpi") {
        SetAutoDpi(ParseBoolWord(v));
    } else if (name == L"KillFocusSendButtonUp") {
        SetKillFocusSendButtonUp(ParseBoolWord(v));
    }
    // Other names have no effect.
}

void CPaintManagerUI::SetWindowAttributeList(const std::wstring& list) {
    for (const auto& item : ParseAttributeList(list)) SetWindowAttribute(item.first, item.second);
}

void CPaintManagerUI::AddWindowCustomAttribute(const std::wstring& name, const std::wstring& value) {
    if (!name.empty()) windowCustomAttributes_[name] = value;
}
std::wstring CPaintManagerUI::GetWindowCustomAttribute(const std::wstring& name) const {
    const auto it = windowCustomAttributes_.find(name);
    return it == windowCustomAttributes_.end() ? std::wstring() : it->second;
}
bool CPaintManagerUI::RemoveWindowCustomAttribute(const std::wstring& name) {
    return windowCustomAttributes_.erase(name) > 0;
}
void CPaintManagerUI::RemoveAllWindowCustomAttribute() { windowCustomAttributes_.clear(); }

// ---------------------------------------------------------------------------
// Colours

void CPaintManagerUI::SetDefaultDisabledColor(DWORD color, bool shared) {
    defaultDisabledColor_ = color;
    if (shared) Process().disabledColor = color;
}
void CPaintManagerUI::SetDefaultFontColor(DWORD color, bool shared) {
    defaultFontColor_ = color;
    if (shared) Process().fontColor = color;
}
void CPaintManagerUI::SetDefaultLinkFontColor(DWORD color, bool shared) {
    defaultLinkColor_ = color;
    if (shared) Process().linkColor = color;
}
void CPaintManagerUI::SetDefaultLinkHoverFontColor(DWORD color, bool shared) {
    defaultLinkHoverColor_ = color;
    if (shared) Process().linkHoverColor = color;
}
void CPaintManagerUI::SetDefaultSelectedBkColor(DWORD color, bool shared) {
    defaultSelectedBkColor_ = color;
    if (shared) Process().selectedBkColor = color;
}

// ---------------------------------------------------------------------------
// Fonts

HFONT CPaintManagerUI::AddFont(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic,
                               bool shared) {
    auto font = detail::MakeFont(face, size, bold, underline, italic, GetDPIObj(), hdcPaint_);
    if (!font) return nullptr;
    auto& map = shared ? Process().sharedFonts : fonts_;
    auto& slot = map[id];
    FreeFont(slot);
    slot = std::move(font);
    return slot->font.get();
}

const TFontInfo* CPaintManagerUI::GetDefaultFontInfo() {
    if (defaultFont_) return defaultFont_.get();
    auto& p = Process();
    if (!p.defaultFont) MakeProcessDefaultFont(GetDPIObj());
    return p.defaultFont.get();
}

const TFontInfo* CPaintManagerUI::GetFontInfo(int id) {
    const auto own = fonts_.find(id);
    if (own != fonts_.end() && own->second) return own->second.get();
    const auto& shared = Process().sharedFonts;
    const auto it = shared.find(id);
    if (it != shared.end() && it->second) return it->second.get();
    return GetDefaultFontInfo();
}

const TFontInfo* CPaintManagerUI::GetFontInfo(HFONT font) {
    for (const auto& f : fonts_)
        if (f.second && f.second->font.get() == font) return f.second.get();
    for (const auto& f : Process().sharedFonts)
        if (f.second && f.second->font.get() == font) return f.second.get();
    const TFontInfo* def = GetDefaultFontInfo();
    return def && def->font.get() == font ? def : nullptr;
}

HFONT CPaintManagerUI::GetFont(int id) {
    const TFontInfo* info = GetFontInfo(id);
    if (info && info->font) return info->font.get();
    return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

HFONT CPaintManagerUI::GetFont(const std::wstring& face, int size, bool bold, bool underline, bool italic) {
    auto match = [&](const std::unique_ptr<TFontInfo>& f) {
        return f && f->faceName == face && f->size == size && f->bold == bold && f->underline == underline &&
               f->italic == italic;
    };
    for (const auto& f : fonts_)
        if (match(f.second)) return f.second->font.get();
    for (const auto& f : Process().sharedFonts)
        if (match(f.second)) return f.second->font.get();
    return nullptr;
}

Gdiplus::Font* CPaintManagerUI::GetGdiplusFont(int) { return nullptr; }

bool CPaintManagerUI::FindFont(int id) const {
    return fonts_.count(id) > 0 || Process().sharedFonts.count(id) > 0;
}

bool CPaintManagerUI::RemoveFont(int id, bool shared) {
    auto& map = shared ? Process().sharedFonts : fonts_;
    const auto it = map.find(id);
    if (it == map.end()) return false;
    FreeFont(it->second);
    map.erase(it);
    return true;
}

void CPaintManagerUI::RemoveAllFonts(bool shared) { FreeFonts(shared ? Process().sharedFonts : fonts_); }

void CPaintManagerUI::SetDefaultFont(const std::wstring& face, int size, bool bold, bool underline, bool italic,
                                     bool shared) {
    auto font = detail::MakeFont(face, size, bold, underline, italic, GetDPIObj(), hdcPaint_);
    if (!font) return;
    if (shared) {
        FreeFont(Process().defaultFont);
        Process().defaultFont = std::move(font);
    } else {
        FreeFont(defaultFont_);
        defaultFont_ = std::move(font);
    }
}

bool CPaintManagerUI::AddFontFile(const std::wstring& name) {
    SkinFileBytes bytes;
    if (!CSkinPackage::ReadSkinFile(name, SkinFileUse::Font, bytes)) {
        DebugTrace(L"SkinUI: font file \"%s\" not found\r\n", name.c_str());
        return false;
    }
    DWORD fonts = 0;
    nq::unique_fontmem handle(::AddFontMemResourceEx(bytes.data.get(), static_cast<DWORD>(bytes.size), nullptr, &fonts));
    if (!handle) {
        DebugTrace(L"SkinUI: font file \"%s\" could not be added\r\n", name.c_str());
        return false;
    }
    fontFiles_.push_back(std::move(handle));
    return true;
}

size_t CPaintManagerUI::FontFileCount() const { return fontFiles_.size(); }

void CPaintManagerUI::RecreateFonts() {
    const CDpiScale* dpi = GetDPIObj();
    auto remake = [&](std::unique_ptr<TFontInfo>& f) {
        if (!f) return;
        auto font = detail::MakeFont(f->faceName, f->size, f->bold, f->underline, f->italic, dpi, hdcPaint_);
        if (!font) return;
        FreeFont(f);
        f = std::move(font);
    };
    for (auto& f : fonts_) remake(f.second);
    remake(defaultFont_);
    for (auto& f : Process().sharedFonts) remake(f.second);
    remake(Process().defaultFont);
}

// ---------------------------------------------------------------------------
// Images

void CPaintManagerUI::RemoveAllImages(bool shared) {
    if (shared)
        SharedImageCache().Clear();
    else
        CRenderHost::ResetImages();
}

bool CPaintManagerUI::IsEditControl(CControlUI* control) const {
    return control && control->GetInterface(L"Edit") != nullptr;
}

// ---------------------------------------------------------------------------
// Default attribute lists and styles

void CPaintManagerUI::AddDefaultAttributeList(const std::wstring& controlName, const std::wstring& list, bool shared) {
    (shared ? Process().sharedDefaultAttributes : defaultAttributes_)[controlName] = list;
}

std::wstring CPaintManagerUI::GetDefaultAttributeList(const std::wstring& controlName) const {
    auto it = defaultAttributes_.find(controlName);
    if (it != defaultAttributes_.end()) return it->second;
    const auto& shared = Process().sharedDefaultAttributes;
    it = shared.find(controlName);
    return it == shared.end() ? std::wstring() : it->second;
}

bool CPaintManagerUI::RemoveDefaultAttributeList(const std::wstring& controlName, bool shared) {
    return (shared ? Process().sharedDefaultAttributes : defaultAttributes_).erase(controlName) > 0;
}

void CPaintManagerUI::RemoveAllDefaultAttributeList(bool shared) {
    (shared ? Process().sharedDefaultAttributes : defaultAttributes_).clear();
}

void CPaintManagerUI::AddStyle(const std::wstring& name, const std::wstring& value, bool shared) {
    if (name.empty()) return;
    (shared ? Process().sharedStyles : styles_)[name] = value;
}

const std::wstring* CPaintManagerUI::GetStyle(const std::wstring& name) const {
    auto it = styles_.find(name);
    if (it != styles_.end()) return &it->second;
    const auto& shared = Process().sharedStyles;
    it = shared.find(name);
    return it == shared.end() ? nullptr : &it->second;
}

bool CPaintManagerUI::RemoveStyle(const std::wstring& name, bool shared) {
    return (shared ? Process().sharedStyles : styles_).erase(name) > 0;
}

void CPaintManagerUI::RemoveAllStyle(bool shared) { (shared ? Process().sharedStyles : styles_).clear(); }

// ---------------------------------------------------------------------------
// DPI

namespace {
CControlUI* CALLBACK CollectRichEdits(CControlUI* control, LPVOID data) {
    if (control->GetInterface(L"RichEdit")) static_cast<std::vector<CControlUI*>*>(data)->push_back(control);
    return nullptr;
}
}  // namespace

void CPaintManagerUI::SetDpi(int dpi) {
    const int oldPercent = GetDPIObj()->GetScale();
    CRenderHost::SetDpi(dpi);  // parsed image rectangles and own images go
    const int newPercent = GetDPIObj()->GetScale();
    RecreateFonts();
    if (root_) {
        std::vector<CControlUI*> edits;
        root_->FindControl(CollectRichEdits, &edits, UIFIND_ALL);
        for (CControlUI* edit : edits) edit->OnDpiChanged();
    }
    if (hwnd_ && !::IsZoomed(hwnd_) && oldPercent > 0) {
        RECT rc = {};
        ::GetWindowRect(hwnd_, &rc);
        const int w = ::MulDiv(rc.right - rc.left, newPercent, oldPercent);
        const int h = ::MulDiv(rc.bottom - rc.top, newPercent, oldPercent);
        ::SetWindowPos(hwnd_, nullptr, rc.left, rc.top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (root_) root_->NeedUpdate();
    updateNeeded_ = true;
    DropOffscreen();
    if (hwnd_) ::PostMessageW(hwnd_, WM_UI_DPICHANGED, oldPercent, newPercent);
    if (root_) SendNotify(root_, L"dpichanged");
}

void CPaintManagerUI::SetDpiForAll(int dpi) {
    const auto managers = Process().managers;
    for (CPaintManagerUI* m : managers) m->SetDpi(dpi);
    Process().dpi = dpi;
}

int CPaintManagerUI::GetProcessDpi() { return Process().dpi; }

// ---------------------------------------------------------------------------
// Process-wide state

HINSTANCE CPaintManagerUI::GetInstance() {
    auto& p = Process();
    return p.instance ? p.instance : ::GetModuleHandleW(nullptr);
}

void CPaintManagerUI::SetResourceInstance(HINSTANCE instance) {
    Process().instance = instance;
    for (CPaintManagerUI* m : Process().managers) m->CRenderHost::SetResourceInstance(instance);
}

HINSTANCE CPaintManagerUI::GetResourceDll() { return GetInstance(); }

std::wstring CPaintManagerUI::GetInstancePath() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(GetInstance(), path, MAX_PATH);
    std::wstring s = path;
    const size_t slash = s.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : s.substr(0, slash + 1);
}

void CPaintManagerUI::SetResourcePath(const wchar_t* path) { CSkinPackage::SetResourcePath(path ? path : L""); }
const std::wstring& CPaintManagerUI::GetResourcePath() { return CSkinPackage::GetResourcePath(); }

void CPaintManagerUI::SetResourceZip(const wchar_t* name, bool cached, const wchar_t* password) {
    CSkinPackage::SetResourceZip(name ? name : L"", cached, password ? password : L"");
}

void CPaintManagerUI::SetResourceZipMemory(const void* data, DWORD size, const wchar_t* password) {
    CSkinPackage::SetResourceZipMemory(data, size, password, password ? std::wcslen(password) : 0);
}

const std::wstring& CPaintManagerUI::GetResourceZip() { return CSkinPackage::GetResourceZip(); }
bool CPaintManagerUI::IsCachedResourceZip() { return CSkinPackage::IsCachedResourceZip(); }

const std::vector<CPaintManagerUI*>& CPaintManagerUI::GetManagers() { return Process().managers; }

void CPaintManagerUI::ReleaseSharedResources() {
    auto& p = Process();
    SharedImageCache().Clear();
    FreeFonts(p.sharedFonts);
    FreeFont(p.defaultFont);
    p.sharedDefaultAttributes.clear();
    p.sharedStyles.clear();
    CSkinPackage::CloseResourceZip();
}

bool CPaintManagerUI::AddHotKeyFilter(IMessageFilterUI* filter) {
    auto& list = Process().hotKeyFilters;
    if (!filter || std::find(list.begin(), list.end(), filter) != list.end()) return false;
    list.push_back(filter);
    return true;
}

bool CPaintManagerUI::RemoveHotKeyFilter(IMessageFilterUI* filter) {
    auto& list = Process().hotKeyFilters;
    const auto it = std::find(list.begin(), list.end(), filter);
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

long CPaintManagerUI::LiveGdiObjects() { return Process().liveGdi; }

}  // namespace SkinUI
