#include "ui/control/uicontrol.h"

#include <algorithm>
#include <cwchar>
#include <set>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "ui/core/uiattrlist.h"
#include "ui/core/uivalue.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uirender.h"

namespace SkinUI {
namespace {

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

RECT Normalised(RECT rc) {
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    return rc;
}

bool IsEmptyRect(const RECT& rc) { return rc.right <= rc.left || rc.bottom <= rc.top; }

WORD CursorFromWord(const std::wstring& word, bool& known) {
    static const struct {
        const wchar_t* name;
        const wchar_t* id;
    } kCursors[] = {{L"arrow", IDC_ARROW},       {L"ibeam", IDC_IBEAM},       {L"wait", IDC_WAIT},
                    {L"cross", IDC_CROSS},       {L"uparrow", IDC_UPARROW},   {L"size", IDC_SIZE},
                    {L"icon", IDC_ICON},         {L"sizenwse", IDC_SIZENWSE}, {L"sizenesw", IDC_SIZENESW},
                    {L"sizewe", IDC_SIZEWE},     {L"sizens", IDC_SIZENS},     {L"sizeall", IDC_SIZEALL},
                    {L"no", IDC_NO},             {L"hand", IDC_HAND}};
    for (const auto& c : kCursors)
        if (word == c.name) {
            known = true;
            return static_cast<WORD>(reinterpret_cast<ULONG_PTR>(c.id));
        }
    known = false;
    return 0;
}

// Styles being applied on this thread: a style whose list names itself (or a
// cycle of styles) is cut off instead of recursing without end.
std::set<std::wstring>& StylesInProgress() {
    static std::set<std::wstring> styles;
    return styles;
}

// Style lists applied for one attribute, nested ones included: styles that
// name each other many times over cannot multiply without end.
constexpr int kMaxStyleExpansions = 4096;
int g_styleExpansions = 0;

}  // namespace

// ---------------------------------------------------------------------------
// Life

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
    OnDestroy(this);
    RemoveAllCustomAttribute();
    if (manager_) manager_->ReapObjects(this);
}

// ---------------------------------------------------------------------------
// Identity

std::wstring CControlUI::GetName() const { return name_; }

void CControlUI::SetName(const std::wstring& name) {
    if (name == name_) return;
    const std::wstring old = name_;
    name_ = name;
    if (manager_) manager_->RenameControl(this, old, name_);
}

const wchar_t* CControlUI::GetClass() const { return L"ControlUI"; }

void* CControlUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"Control") == 0) return this;
    return nullptr;
}

UINT CControlUI::GetControlFlags() const { return 0; }

bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }

CPaintManagerUI* CControlUI::GetManager() const { return manager_; }

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    manager_ = manager;
    parent_ = parent;
    if (init && parent_) Init();
}

CControlUI* CControlUI::GetParent() const { return parent_; }

// ---------------------------------------------------------------------------
// Text

std::wstring CControlUI::GetText() const { return text_; }

void CControlUI::SetText(const std::wstring& text) {
    if (text_ == text) return;
    text_ = text;
    ReplaceAll(text_, L"{\\n}", L"\r\n");
    OnTextChanged();
    Invalidate();
}

bool CControlUI::IsResourceText() const { return resourceText_; }

void CControlUI::SetResourceText(bool resource) {
    if (resourceText_ == resource) return;
    resourceText_ = resource;
    Invalidate();
}

// ---------------------------------------------------------------------------
// Drag and drop

bool CControlUI::IsDragEnabled() const { return dragEnabled_; }
void CControlUI::SetDragEnable(bool enable) { dragEnabled_ = enable; }
bool CControlUI::IsDropEnabled() const { return dropEnabled_; }
void CControlUI::SetDropEnable(bool enable) { dropEnabled_ = enable; }

#define SKINUI_DROP_EVENT(method, type)                          \
    void CControlUI::method(void* data) {                        \
        if (dropEnabled_)                                        \
            Notify(type, 0, reinterpret_cast<LPARAM>(data));     \
        else if (parent_)                                        \
            parent_->method(data);                               \
    }
SKINUI_DROP_EVENT(OnDragEnter, L"dragenter")
SKINUI_DROP_EVENT(OnDragOver, L"dragover")
SKINUI_DROP_EVENT(OnDragLeave, L"dragleave")
SKINUI_DROP_EVENT(OnDragEnd, L"dragend")
SKINUI_DROP_EVENT(OnDrop, L"drop")
#undef SKINUI_DROP_EVENT

// ---------------------------------------------------------------------------
// Position

RECT CControlUI::GetRelativePos() const {
    RECT rc = rcItem_;
    if (parent_) {
        const RECT& p = parent_->GetPos();
        ::OffsetRect(&rc, -p.left, -p.top);
    }
    return rc;
}

RECT CControlUI::GetClientPos() const { return rcItem_; }

const RECT& CControlUI::GetPos() const { return rcItem_; }

void CControlUI::SetPos(RECT rc, bool needInvalidate) {
    // 1. Normalise and store; remember what to repaint.
    rc = Normalised(rc);
    RECT invalidate = IsEmptyRect(rcItem_) ? rc : rcItem_;
    rcItem_ = rc;
    if (!manager_) return;

    // 2. Centring inside the parent's full rectangle.
    if (!float_ && parent_) {
        const RECT& p = parent_->GetPos();
        const int w = rcItem_.right - rcItem_.left;
        const int h = rcItem_.bottom - rcItem_.top;
        if (horzPaddingCenter_) {
            rcItem_.left = p.left + (p.right - p.left) / 2 - w / 2;
            rcItem_.right = rcItem_.left + w;
        }
        if (vertPaddingCenter_) {
            rcItem_.top = p.top + (p.bottom - p.top) / 2 - h / 2;
            rcItem_.bottom = rcItem_.top + h;
        }
    }

    // 3. Size delegates (not re-entered).
    if (!inSizeDelegates_) {
        inSizeDelegates_ = true;
        OnSize(this);
        inSizeDelegates_ = false;
    }
    updateNeeded_ = false;

    // 4. Repaint old and new places, clipped by the ancestors.
    if (needInvalidate && IsVisible()) {
        ::UnionRect(&invalidate, &invalidate, &rcItem_);
        for (CControlUI* p = parent_; p; p = p->GetParent()) {
            if (!p->IsVisible()) return;
            RECT clipped;
            if (!::IntersectRect(&clipped, &invalidate, &p->GetPos())) return;
            invalidate = clipped;
        }
        manager_->Invalidate(invalidate);
    }
}

void CControlUI::Move(SIZE offset, bool needInvalidate) {
    RECT rc = rcItem_;
    ::OffsetRect(&rc, offset.cx, offset.cy);
    SetPos(rc, needInvalidate);
}

int CControlUI::GetWidth() const { return rcItem_.right - rcItem_.left; }
int CControlUI::GetHeight() const { return rcItem_.bottom - rcItem_.top; }
int CControlUI::GetX() const { return rcItem_.left; }
int CControlUI::GetY() const { return rcItem_.top; }

// ---------------------------------------------------------------------------
// Padding and size

int CControlUI::ScaleValue(int value) const { return manager_ ? manager_->ScaleValue(value) : value; }
RECT CControlUI::ScaleRect(const RECT& rc) const { return manager_ ? manager_->ScaleRect(rc) : rc; }
SIZE CControlUI::ScaleSize(const SIZE& size) const {
    return manager_ ? manager_->GetDPIObj()->Scale(size) : size;
}

RECT CControlUI::GetPadding() const {
    if (!dpiPadding_ || !manager_) return padding_;
    // Padding is four distances, not a rectangle: each is scaled alone.
    return RECT{ScaleValue(padding_.left), ScaleValue(padding_.top), ScaleValue(padding_.right),
                ScaleValue(padding_.bottom)};
}

void CControlUI::SetPadding(RECT padding) {
    padding_ = padding;
    NeedParentUpdate();
}

SIZE CControlUI::GetFixedXY() const { return ScaleSize(fixedXY_); }

void CControlUI::SetFixedXY(SIZE xy) {
    fixedXY_ = xy;
    if (!float_) NeedParentUpdate();
    else NeedUpdate();
}

int CControlUI::GetFixedWidth() const { return ScaleValue(fixedSize_.cx); }
void CControlUI::SetFixedWidth(int cx) {
    if (cx < 0) return;
    fixedSize_.cx = cx;
    NeedParentUpdate();
}
int CControlUI::GetFixedHeight() const { return ScaleValue(fixedSize_.cy); }
void CControlUI::SetFixedHeight(int cy) {
    if (cy < 0) return;
    fixedSize_.cy = cy;
    NeedParentUpdate();
}
int CControlUI::GetMinWidth() const { return ScaleValue(minSize_.cx); }
void CControlUI::SetMinWidth(int cx) {
    if (cx < 0 || minSize_.cx == cx) return;
    minSize_.cx = cx;
    NeedParentUpdate();
}
int CControlUI::GetMaxWidth() const { return ScaleValue(maxSize_.cx); }
void CControlUI::SetMaxWidth(int cx) {
    if (cx < 0 || maxSize_.cx == cx) return;
    maxSize_.cx = cx;
    NeedParentUpdate();
}
int CControlUI::GetMinHeight() const { return ScaleValue(minSize_.cy); }
void CControlUI::SetMinHeight(int cy) {
    if (cy < 0 || minSize_.cy == cy) return;
    minSize_.cy = cy;
    NeedParentUpdate();
}
int CControlUI::GetMaxHeight() const { return ScaleValue(maxSize_.cy); }
void CControlUI::SetMaxHeight(int cy) {
    if (cy < 0 || maxSize_.cy == cy) return;
    maxSize_.cy = cy;
    NeedParentUpdate();
}

SIZE CControlUI::GetFixedSize() const { return SIZE{GetFixedWidth(), GetFixedHeight()}; }

SIZE CControlUI::EstimateSize(SIZE) { return GetFixedSize(); }

// ---------------------------------------------------------------------------
// Float and DPI

CControlUI::FloatPercent CControlUI::GetFloatPercent() const { return floatPercent_; }
void CControlUI::SetFloatPercent(FloatPercent percent) {
    floatPercent_ = percent;
    NeedParentUpdate();
}
void CControlUI::SetFloatAlign(UINT align) {
    floatAlign_ = align;
    NeedParentUpdate();
}
UINT CControlUI::GetFloatAlign() const { return floatAlign_; }
bool CControlUI::IsDpiPadding() const { return dpiPadding_; }
void CControlUI::SetDpiPadding(bool scaled) {
    dpiPadding_ = scaled;
    NeedParentUpdate();
}
void CControlUI::SetDpiTextPadding(bool scaled) {
    dpiTextPadding_ = scaled;
    Invalidate();
}
bool CControlUI::IsDpiTextPadding() const { return dpiTextPadding_; }
bool CControlUI::IsMouseEnterLeaveReported() const { return reportEnterLeave_; }
void CControlUI::SetMouseEnterLeaveReported(bool report) { reportEnterLeave_ = report; }
void CControlUI::SwitchResource(int) {}
void CControlUI::SetDragMoveEnable(bool enable) { dragMoveEnabled_ = enable; }
bool CControlUI::IsDragMoveEnabled() const { return dragMoveEnabled_; }

// ---------------------------------------------------------------------------
// Tooltip and user data

std::wstring CControlUI::GetToolTip() const { return toolTip_; }
void CControlUI::SetToolTip(const std::wstring& text) {
    toolTip_ = text;
    ReplaceAll(toolTip_, L"<n>", L"\r\n");
}
void CControlUI::SetToolTipWidth(int width) { toolTipWidth_ = width; }
int CControlUI::GetToolTipWidth() const { return ScaleValue(toolTipWidth_); }
WORD CControlUI::GetCursor() const { return cursor_; }
void CControlUI::SetCursor(WORD cursor) {
    cursor_ = cursor;
    Invalidate();
}
WCHAR CControlUI::GetShortcut() const { return shortcut_; }
void CControlUI::SetShortcut(WCHAR ch) { shortcut_ = ch; }
bool CControlUI::IsContextMenuUsed() const { return menuUsed_; }
void CControlUI::SetContextMenuUsed(bool used) { menuUsed_ = used; }
const std::wstring& CControlUI::GetUserData() const { return userData_; }
void CControlUI::SetUserData(const std::wstring& text) { userData_ = text; }
UINT_PTR CControlUI::GetTag() const { return tag_; }
void CControlUI::SetTag(UINT_PTR tag) { tag_ = tag; }

// ---------------------------------------------------------------------------
// Visibility and input

bool CControlUI::IsVisible() const { return visible_ && internVisible_; }
bool CControlUI::IsOwnVisible() const { return visible_; }

void CControlUI::SetVisible(bool visible) {
    if (visible_ == visible) return;
    const bool wasVisible = IsVisible();
    visible_ = visible;
    if (focused_ && !visible) focused_ = false;
    if (manager_ && !visible && manager_->GetFocus() == this) manager_->SetFocus(nullptr);
    if (IsVisible() != wasVisible) {
        if (float_)
            Invalidate();
        else
            NeedParentUpdate();
    }
}

void CControlUI::SetInternVisible(bool visible) {
    internVisible_ = visible;
    if (!visible && manager_ && manager_->GetFocus() == this) manager_->SetFocus(nullptr);
}

bool CControlUI::IsEnabled() const { return enabled_; }
void CControlUI::SetEnabled(bool enable) {
    if (enabled_ == enable) return;
    enabled_ = enable;
    Invalidate();
}
bool CControlUI::IsMouseEnabled() const { return mouseEnabled_; }
void CControlUI::SetMouseEnabled(bool enable) { mouseEnabled_ = enable; }
bool CControlUI::IsKeyboardEnabled() const { return keyboardEnabled_; }
void CControlUI::SetKeyboardEnabled(bool enable) { keyboardEnabled_ = enable; }
bool CControlUI::IsFocused() const { return focused_; }
void CControlUI::SetFocus() {
    if (manager_) manager_->SetFocus(this);
}
bool CControlUI::IsFloat() const { return float_; }
void CControlUI::SetFloat(bool isFloat) {
    if (float_ == isFloat) return;
    float_ = isFloat;
    NeedParentUpdate();
}
bool CControlUI::IsDynamic() const { return dynamic_; }
void CControlUI::SetDynamic(bool dynamic) { dynamic_ = dynamic; }

// ---------------------------------------------------------------------------
// Search, events

CControlUI* CControlUI::FindControl(FINDCONTROLPROC proc, LPVOID data, UINT flags) {
    if ((flags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
    if ((flags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
    if (flags & UIFIND_HITTEST) {
        if (!mouseEnabled_) return nullptr;
        if (!data || !::PtInRect(&rcItem_, *static_cast<POINT*>(data))) return nullptr;
    }
    return proc ? proc(this, data) : nullptr;
}

void CControlUI::Init() {
    DoInit();
    OnInit(this);
}

void CControlUI::DoInit() {
    // The manager keeps each control once, in the order of the first registration.
    if (tabSupport_ && manager_) manager_->AddTabControl(this);
}

void CControlUI::Event(ControlEvent& event) {
    if (OnEvent(&event)) DoEvent(event);
}

void CControlUI::DoEvent(ControlEvent& event) {
    switch (event.Type) {
    case UIEVENT_SETFOCUS:
        focused_ = true;
        Invalidate();
        return;
    case UIEVENT_KILLFOCUS:
        focused_ = false;
        Invalidate();
        return;
    case UIEVENT_SETCURSOR:
        ::SetCursor(::LoadCursorW(nullptr, cursor_ ? MAKEINTRESOURCEW(cursor_) : IDC_ARROW));
        return;
    case UIEVENT_TIMER:
        Notify(L"timer", event.wParam, event.lParam);
        return;
    case UIEVENT_CONTEXTMENU:
        if (menuUsed_) {
            Notify(L"menu", event.wParam, event.lParam);
            return;
        }
        break;
    case UIEVENT_BEGINDRAG:
        if (dragEnabled_) {
            Notify(L"begindrag");
            return;
        }
        break;
    case UIEVENT_DRAGMOVEBEGIN:
        if (dragMoveEnabled_) {
            dragging_ = true;
            Notify(L"dragmovebegin", event.wParam, event.lParam);
            return;
        }
        break;
    case UIEVENT_DRAGMOVING:
        if (dragMoveEnabled_) {
            Notify(L"dragmoving", event.wParam, event.lParam);
            return;
        }
        break;
    case UIEVENT_DRAGMOVEEND:
        if (dragMoveEnabled_) {
            dragging_ = false;
            Notify(L"dragmoveend", event.wParam, event.lParam);
            return;
        }
        break;
    case UIEVENT_MOUSEENTER:
    case UIEVENT_MOUSELEAVE:
        if (IsEnabled() && reportEnterLeave_) {
            Invalidate();
            Notify(event.Type == UIEVENT_MOUSEENTER ? L"mouseenter" : L"mouseleave");
            return;
        }
        break;
    case UIEVENT_MOUSEHOVER:
        Notify(L"mousehover", event.wParam, event.lParam);
        if (parent_) parent_->DoEvent(event);
        return;
    case UIEVENT_MOUSEMOVE:
        Notify(L"mousemove", event.wParam, event.lParam);
        if (parent_) parent_->DoEvent(event);
        return;
    case UIEVENT_SCROLLWHEEL:
        Notify(L"mousewheel", event.wParam, event.lParam);
        if (parent_) parent_->DoEvent(event);
        return;
    case UIEVENT_KEYDOWN:
        Notify(L"keydown", event.wParam, event.lParam);
        return;
    case UIEVENT_CHAR:
        Notify(L"char", event.chKey, event.lParam);
        return;
    default:
        break;
    }
    if (parent_) parent_->DoEvent(event);
}

void CControlUI::Notify(const wchar_t* type, WPARAM wParam, LPARAM lParam, bool queued) {
    if (manager_) manager_->SendNotify(this, type, wParam, lParam, queued);
}

// ---------------------------------------------------------------------------
// Attributes

void CControlUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    if (name == L"pos") {
        const RECT rc = ParseRect(v);
        const SIZE xy = {rc.left >= 0 ? rc.left : rc.right, rc.top >= 0 ? rc.top : rc.bottom};
        SetFixedXY(xy);
        SetFixedWidth(rc.right - rc.left);
        SetFixedHeight(rc.bottom - rc.top);
    } else if (name == L"float") {
        if (value.find(L',') == std::wstring::npos) {
            SetFloat(ParseBoolWord(v));
        } else {
            FloatPercent p;
            double* parts[] = {&p.left, &p.top, &p.right, &p.bottom};
            const wchar_t* s = v;
            for (double* part : parts) {
                wchar_t* end = nullptr;
                *part = std::wcstod(s, &end);
                s = end;
                while (*s == L',' || *s == L' ') ++s;
            }
            SetFloatPercent(p);
            SetFloat(true);
        }
    } else if (name == L"floatalign") {
        UINT align = floatAlign_;
        size_t start = 0;
        while (start <= value.size()) {
            size_t end = value.find_first_of(L", ", start);
            if (end == std::wstring::npos) end = value.size();
            const std::wstring word = value.substr(start, end - start);
            if (word == L"left") align &= ~(DT_UI_HCENTER | DT_UI_RIGHT);
            else if (word == L"center") align = (align & ~DT_UI_RIGHT) | DT_UI_HCENTER;
            else if (word == L"right") align = (align & ~DT_UI_HCENTER) | DT_UI_RIGHT;
            else if (word == L"top") align &= ~(DT_UI_VCENTER | DT_UI_BOTTOM);
            else if (word == L"vcenter") align = (align & ~DT_UI_BOTTOM) | DT_UI_VCENTER;
            else if (word == L"bottom") align = (align & ~DT_UI_VCENTER) | DT_UI_BOTTOM;
            else if (word == L"nullptr") align = 0;
            start = end + 1;
        }
        SetFloatAlign(align);
    } else if (name == L"innerstyle") {
        ApplyAttributeList(value);
    } else if (name == L"padding") {
        SetPadding(ParseRect(v));
    } else if (name == L"gradient") {
        SetGradient(value);
    } else if (name == L"bkcolor" || name == L"bkcolor1") {
        SetBkColor(ParseColor(v));
    } else if (name == L"bkcolorround") {
        SetBkColorRound(ParseSize(v));
    } else if (name == L"bkcolor2") {
        SetBkColor2(ParseColor(v));
    } else if (name == L"bkcolor3") {
        SetBkColor3(ParseColor(v));
    } else if (name == L"forecolor") {
        SetForeColor(ParseColor(v));
    } else if (name == L"bordercolor") {
        SetBorderColor(ParseColor(v));
    } else if (name == L"focusbordercolor") {
        SetFocusBorderColor(ParseColor(v));
    } else if (name == L"colorhsl") {
        SetColorHSL(ParseBoolWord(v));
    } else if (name == L"bordersize") {
        if (value.find(L',') == std::wstring::npos)
            SetBorderSize(ParseInt(v));
        else
            SetBorderSize(ParseRect(v));
    } else if (name == L"leftbordersize") {
        SetLeftBorderSize(ParseInt(v));
    } else if (name == L"topbordersize") {
        SetTopBorderSize(ParseInt(v));
    } else if (name == L"rightbordersize") {
        SetRightBorderSize(ParseInt(v));
    } else if (name == L"bottombordersize") {
        SetBottomBorderSize(ParseInt(v));
    } else if (name == L"borderstyle") {
        SetBorderStyle(ParseInt(v));
    } else if (name == L"borderround") {
        SetBorderRound(ParseSize(v));
    } else if (name == L"bkimage") {
        SetBkImage(value);
    } else if (name == L"foreimage") {
        SetForeImage(value);
    } else if (name == L"width") {
        SetFixedWidth(ParseInt(v));
    } else if (name == L"height") {
        SetFixedHeight(ParseInt(v));
    } else if (name == L"minwidth") {
        SetMinWidth(ParseInt(v));
    } else if (name == L"minheight") {
        SetMinHeight(ParseInt(v));
    } else if (name == L"maxwidth") {
        SetMaxWidth(ParseInt(v));
    } else if (name == L"maxheight") {
        SetMaxHeight(ParseInt(v));
    } else if (name == L"name") {
        SetName(value);
    } else if (name == L"drag") {
        SetDragEnable(ParseBoolWord(v));
    } else if (name == L"drop") {
        SetDropEnable(ParseBoolWord(v));
    } else if (name == L"dragmove") {
        SetDragMoveEnable(ParseBoolWord(v));
    } else if (name == L"resourcetext") {
        SetResourceText(ParseBoolWord(v));
    } else if (name == L"text") {
        SetText(value);
    } else if (name == L"tooltip") {
        SetToolTip(value);
    } else if (name == L"userdata") {
        SetUserData(value);
    } else if (name == L"enabled") {
        SetEnabled(ParseBoolWord(v));
    } else if (name == L"mouse") {
        SetMouseEnabled(ParseBoolWord(v));
    } else if (name == L"keyboard") {
        SetKeyboardEnabled(ParseBoolWord(v));
    } else if (name == L"visible") {
        SetVisible(ParseBoolWord(v));
    } else if (name == L"shortcut") {
        SetShortcut(value.empty() ? 0 : value[0]);
    } else if (name == L"menu") {
        SetContextMenuUsed(ParseBoolWord(v));
    } else if (name == L"cursor") {
        bool known = false;
        const WORD cursor = CursorFromWord(value, known);
        if (known) SetCursor(cursor);
    } else if (name == L"virtualwnd") {
        SetVirtualWnd(value);
    } else if (name == L"isdynamic") {
        SetDynamic(ParseBoolWord(v));
    } else if (name == L"TabSuppot") {
        SetTabSupport(ParseBoolWord(v));
    } else if (name == L"DPIPadding") {
        SetDpiPadding(ParseBoolWord(v));
    } else if (name == L"DPITextPadding") {
        SetDpiTextPadding(ParseBoolWord(v));
    } else if (name == L"ReponseMouseEnterLeave") {
        SetMouseEnterLeaveReported(ParseBoolWord(v));
    } else if (name == L"horzpaddingcenter") {
        SetHorzPaddingCenter(value == L"true");
    } else if (name == L"vertpaddingcenter") {
        SetVertPaddingCenter(value == L"true");
    } else if (name == L"Tag") {
        SetTag(static_cast<UINT_PTR>(ParseInt(v)));
    } else if (name == L"BkImageSwitchRes" || name == L"ForeImageSwitchRes" || name == L"TextColorSwitchRes" ||
               name == L"BkColorSwitchRes") {
        switchRes_[name] = value;
    } else {
        AddCustomAttribute(name, value);
    }
}

void CControlUI::ApplyAttribute(const std::wstring& name, const std::wstring& value) {
    // A value naming a style applies the style's list instead.
    if (manager_ && !value.empty()) {
        if (const std::wstring* style = manager_->GetStyle(value)) {
            auto& inProgress = StylesInProgress();
            if (inProgress.empty()) g_styleExpansions = 0;
            if (inProgress.count(value)) {
                DebugTrace(L"SkinUI: style \"%s\" names itself; attribute \"%s\" skipped\r\n", value.c_str(),
                           name.c_str());
                return;
            }
            if (++g_styleExpansions > kMaxStyleExpansions) {
                DebugTrace(L"SkinUI: styles expand too often; attribute \"%s\" skipped\r\n", name.c_str());
                return;
            }
            const std::wstring list = *style;  // the style may be replaced while applied
            inProgress.insert(value);
            ApplyAttributeList(list);
            inProgress.erase(value);
            return;
        }
    }

    SetAttribute(name, value);
}

void CControlUI::ApplyAttributeList(const std::wstring& list) {
    for (const auto& item : ParseAttributeList(list)) ApplyAttribute(item.first, item.second);
}

void CControlUI::AddCustomAttribute(const std::wstring& name, const std::wstring& value) {
    if (name.empty()) return;
    customAttributes_[name] = value;
}
std::wstring CControlUI::GetCustomAttribute(const std::wstring& name) const {
    const auto it = customAttributes_.find(name);
    return it == customAttributes_.end() ? std::wstring() : it->second;
}
bool CControlUI::RemoveCustomAttribute(const std::wstring& name) { return customAttributes_.erase(name) > 0; }
void CControlUI::RemoveAllCustomAttribute() { customAttributes_.clear(); }

const std::wstring& CControlUI::GetSwitchResList(const std::wstring& attribute) const {
    static const std::wstring empty;
    const auto it = switchRes_.find(attribute);
    return it == switchRes_.end() ? empty : it->second;
}

const std::wstring& CControlUI::GetVirtualWnd() const {
    if (!virtualWnd_.empty() || !parent_) return virtualWnd_;
    return parent_->GetVirtualWnd();
}

void CControlUI::SetVirtualWnd(const std::wstring& name) {
    virtualWnd_ = name;
    if (manager_) manager_->SetUsedVirtualWnd(true);
}

// ---------------------------------------------------------------------------
// Update and invalidation

void CControlUI::Invalidate() {
    if (!IsVisible() || !manager_) return;
    RECT rc = rcItem_;
    for (CControlUI* p = parent_; p; p = p->GetParent()) {
        RECT clipped;
        if (!p->IsVisible() || !::IntersectRect(&clipped, &rc, &p->GetPos())) return;
        rc = clipped;
    }
    manager_->Invalidate(rc);
}

bool CControlUI::IsUpdateNeeded() const { return updateNeeded_; }

void CControlUI::NeedUpdate() {
    if (!IsVisible()) return;
    updateNeeded_ = true;
    Invalidate();
    if (manager_) manager_->NeedUpdate();
}

void CControlUI::NeedParentUpdate() {
    if (parent_) {
        parent_->NeedUpdate();
        parent_->Invalidate();
    } else {
        NeedUpdate();
    }
    if (manager_) manager_->NeedUpdate();
}

// ---------------------------------------------------------------------------
// Appearance setters

#define SKINUI_SETTER(Method, Type, field) \
    void CControlUI::Method(Type value) {  \
        if (field == value) return;        \
        field = value;                     \
        Invalidate();                      \
    }
SKINUI_SETTER(SetBkColor, DWORD, bkColor_)
SKINUI_SETTER(SetBkColor2, DWORD, bkColor2_)
SKINUI_SETTER(SetBkColor3, DWORD, bkColor3_)
SKINUI_SETTER(SetForeColor, DWORD, foreColor_)
SKINUI_SETTER(SetBorderColor, DWORD, borderColor_)
SKINUI_SETTER(SetFocusBorderColor, DWORD, focusBorderColor_)
SKINUI_SETTER(SetColorHSL, bool, colorHSL_)
SKINUI_SETTER(SetBorderStyle, int, borderStyle_)
SKINUI_SETTER(SetBkImage, const std::wstring&, bkImage_)
SKINUI_SETTER(SetForeImage, const std::wstring&, foreImage_)
SKINUI_SETTER(SetGradient, const std::wstring&, gradient_)
#undef SKINUI_SETTER

void CControlUI::SetBkColorRound(SIZE round) {
    bkColorRound_ = round;
    Invalidate();
}
int CControlUI::GetBorderSize() const { return ScaleValue(borderSize_); }
void CControlUI::SetBorderSize(int size) {
    if (size < 0) return;
    borderSize_ = size;
    Invalidate();
}
RECT CControlUI::GetBorderRect() const {
    return RECT{ScaleValue(borderSides_.left), ScaleValue(borderSides_.top), ScaleValue(borderSides_.right),
                ScaleValue(borderSides_.bottom)};
}
void CControlUI::SetBorderSize(RECT sides) {
    borderSides_ = sides;
    Invalidate();
}
void CControlUI::SetLeftBorderSize(int size) {
    borderSides_.left = size;
    Invalidate();
}
void CControlUI::SetTopBorderSize(int size) {
    borderSides_.top = size;
    Invalidate();
}
void CControlUI::SetRightBorderSize(int size) {
    borderSides_.right = size;
    Invalidate();
}
void CControlUI::SetBottomBorderSize(int size) {
    borderSides_.bottom = size;
    Invalidate();
}
SIZE CControlUI::GetBorderRound() const { return ScaleSize(borderRound_); }
void CControlUI::SetBorderRound(SIZE round) {
    borderRound_ = round;
    Invalidate();
}

// ---------------------------------------------------------------------------
// Painting

bool CControlUI::Paint(HDC hDC, const RECT& rcPaint, CControlUI* stop) {
    if (stop == this) return false;
    if (!::IntersectRect(&rcPaint_, &rcPaint, &rcItem_)) return true;
    return DoPaint(hDC, rcPaint_, stop);
}

bool CControlUI::DoPaint(HDC hDC, const RECT& rcPaint, CControlUI*) {
    rcPaint_ = rcPaint;
    const SIZE round = GetBorderRound();
    CRenderClip clip;
    if (round.cx > 0 || round.cy > 0) RenderEngine::GenerateRoundClip(hDC, rcPaint_, rcItem_, round.cx, round.cy, clip);
    PaintBkColor(hDC);
    PaintBkImage(hDC);
    PaintStatusImage(hDC);
    PaintForeColor(hDC);
    PaintForeImage(hDC);
    PaintText(hDC);
    PaintBorder(hDC);
    return true;
}

void CControlUI::PaintBkColor(HDC hDC) {
    if (bkColor_ == 0) return;
    const SIZE round = ScaleSize(bkColorRound_);
    if (bkColor2_ != 0) {
        if (bkColor3_ != 0) {
            RECT top = rcItem_;
            top.bottom = (rcItem_.top + rcItem_.bottom) / 2;
            RenderEngine::DrawGradient(hDC, top, bkColor_, bkColor2_, true, 8);
            RECT bottom = rcItem_;
            bottom.top = top.bottom;
            RenderEngine::DrawGradient(hDC, bottom, bkColor2_, bkColor3_, true, 8);
        } else {
            RenderEngine::DrawGradient(hDC, rcItem_, bkColor_, bkColor2_, true, 16);
        }
    } else if (round.cx == 0 && round.cy == 0) {
        // A plain fill only where this paint reaches: the same pixels, and a
        // large background repainted for a small change costs little.
        RECT fill;
        if (::IntersectRect(&fill, &rcItem_, &rcPaint_)) RenderEngine::DrawColor(hDC, fill, bkColor_);
    } else {
        RenderEngine::DrawColor(hDC, rcItem_, bkColor_, round.cx, round.cy);
    }
}

void CControlUI::PaintBkImage(HDC hDC) {
    if (!bkImage_.empty()) DrawImage(hDC, bkImage_);
    if (!gradient_.empty()) DrawImage(hDC, gradient_);
}

void CControlUI::PaintStatusImage(HDC) {}

void CControlUI::PaintForeColor(HDC hDC) {
    RECT fill;
    if (foreColor_ != 0 && ::IntersectRect(&fill, &rcItem_, &rcPaint_)) RenderEngine::DrawColor(hDC, fill, foreColor_);
}

void CControlUI::PaintForeImage(HDC hDC) {
    if (!foreImage_.empty()) DrawImage(hDC, foreImage_);
}

void CControlUI::PaintText(HDC) {}

void CControlUI::PaintBorder(HDC hDC) {
    const DWORD color = (focused_ && focusBorderColor_ != 0) ? focusBorderColor_ : borderColor_;
    if (color == 0) return;
    const SIZE round = GetBorderRound();
    const int size = GetBorderSize();
    if (size > 0 && (round.cx > 0 || round.cy > 0)) {
        RenderEngine::DrawRoundRect(hDC, rcItem_, size, round.cx, round.cy, color, borderStyle_);
        return;
    }
    const RECT sides = GetBorderRect();
    if (sides.left > 0 || sides.top > 0 || sides.right > 0 || sides.bottom > 0) {
        if (sides.left > 0) {
            const RECT line = {rcItem_.left + sides.left / 2, rcItem_.top, rcItem_.left + sides.left / 2, rcItem_.bottom};
            RenderEngine::DrawLine(hDC, line, sides.left, color, borderStyle_);
        }
        if (sides.top > 0) {
            const RECT line = {rcItem_.left, rcItem_.top + sides.top / 2, rcItem_.right, rcItem_.top + sides.top / 2};
            RenderEngine::DrawLine(hDC, line, sides.top, color, borderStyle_);
        }
        if (sides.right > 0) {
            const int x = rcItem_.right - (sides.right + 1) / 2;
            const RECT line = {x, rcItem_.top, x, rcItem_.bottom};
            RenderEngine::DrawLine(hDC, line, sides.right, color, borderStyle_);
        }
        if (sides.bottom > 0) {
            const int y = rcItem_.bottom - (sides.bottom + 1) / 2;
            const RECT line = {rcItem_.left, y, rcItem_.right, y};
            RenderEngine::DrawLine(hDC, line, sides.bottom, color, borderStyle_);
        }
        return;
    }
    if (size > 0) RenderEngine::DrawRect(hDC, rcItem_, size, color, borderStyle_);
}

void CControlUI::DoPostPaint(HDC, const RECT&) {}

bool CControlUI::DrawImage(HDC hDC, const std::wstring& image, const std::wstring& modify) {
    if (!manager_ || image.empty()) return false;
    return RenderEngine::DrawImageString(hDC, manager_, rcItem_, rcPaint_, image, modify);
}

}  // namespace SkinUI
