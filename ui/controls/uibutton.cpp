#include "ui/controls/uibutton.h"

#include <cwchar>

#include "ui/control/uilayout.h"
#include "ui/core/uivalue.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uiimage.h"
#include "ui/render/uirender.h"
#include "ui/core/uitext.h"

namespace SkinUI {

CButtonUI::CButtonUI() {
    textStyle_ = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
    cursor_ = 32649;  // IDC_HAND
}

const wchar_t* CButtonUI::GetClass() const { return L"ButtonUI"; }

void* CButtonUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"Button") == 0) return this;
    return CLabelUI::GetInterface(name);
}

UINT CButtonUI::GetControlFlags() const {
    return (IsKeyboardEnabled() ? UIFLAG_TABSTOP : 0) | (IsEnabled() ? UIFLAG_SETCURSOR : 0);
}

void CButtonUI::SetButtonState(UINT state) {
    state_ = state;
    Invalidate();
}

void CButtonUI::SetEnabled(bool enable) {
    CLabelUI::SetEnabled(enable);
    if (enable)
        state_ &= ~UISTATE_DISABLED;
    else
        state_ = (state_ & UISTATE_SELECTED) | UISTATE_DISABLED;  // no hot or pushed leftovers
}

void CButtonUI::SetNormalImage(const std::wstring& image) {
    normalImage_ = image;
    Invalidate();
}
void CButtonUI::SetHotImage(const std::wstring& image) {
    hotImage_ = image;
    Invalidate();
}
void CButtonUI::SetPushedImage(const std::wstring& image) {
    pushedImage_ = image;
    Invalidate();
}
void CButtonUI::SetFocusedImage(const std::wstring& image) {
    focusedImage_ = image;
    Invalidate();
}
void CButtonUI::SetDisabledImage(const std::wstring& image) {
    disabledImage_ = image;
    Invalidate();
}

void CButtonUI::SetStateImage(const std::wstring& image, int count) {
    stateImage_ = image;
    stateCount_ = count;
    if (normalImage_.empty()) BuildStateImages(stateImage_, stateCount_, normalImage_, hotImage_, pushedImage_, disabledImage_);
    Invalidate();
}

void CButtonUI::DoInit() {
    CLabelUI::DoInit();
    // The frames are cut once the manager can load the state image.
    if (normalImage_.empty()) BuildStateImages(stateImage_, stateCount_, normalImage_, hotImage_, pushedImage_, disabledImage_);
}

bool CButtonUI::BuildStateImages(const std::wstring& stateImage, int count, std::wstring& normal, std::wstring& hot,
                                 std::wstring& pushed, std::wstring& disabled) {
    if (!manager_ || stateImage.empty() || count <= 0 || !normal.empty()) return false;
    const auto keys = SplitImageAttribute(stateImage);
    std::wstring file = stateImage, resType;
    RECT dest = {};
    if (!keys.empty()) {
        file.clear();
        for (const auto& kv : keys) {
            if (kv.first == L"file" || kv.first == L"res") file = kv.second;
            else if (kv.first == L"restype") resType = kv.second;
            else if (kv.first == L"dest") dest = ParseRect(kv.second.c_str());
        }
    }
    if (file.empty()) return false;
    const ImageInfo* image = manager_->GetImageEx(file, resType, 0, false, nullptr);
    if (!image || image->width <= 0) return false;
    const int w = image->width / count;
    const int h = image->height;
    if (w <= 0) return false;
    auto frame = [&](int index) {
        wchar_t buf[1024];
        SkinUI::FormatText(buf, 1024, L"res='%ls' restype='%ls' dest='%d,%d,%d,%d' source='%d,%d,%d,%d'", file.c_str(),
                      resType.c_str(), static_cast<int>(dest.left), static_cast<int>(dest.top),
                      static_cast<int>(dest.right), static_cast<int>(dest.bottom), w * index, 0, w * (index + 1), h);
        return std::wstring(buf);
    };
    normal = frame(0);
    if (count >= 2) hot = pushed = frame(1);
    if (count >= 3) pushed = frame(2);
    if (count >= 4) disabled = frame(3);
    return true;
}

bool CButtonUI::ActivateWith(const wchar_t* notification) {
    if (!CControlUI::Activate()) return false;
    Notify(notification);
    if (manager_ && !bindTabLayoutName_.empty() && bindTabIndex_ >= 0) {
        CControlUI* target = manager_->FindControl(bindTabLayoutName_);
        if (target) {
            if (auto* tab = static_cast<CTabLayoutUI*>(target->GetInterface(L"TabLayout")))
                tab->SelectItem(bindTabIndex_);
        }
    }
    return true;
}

bool CButtonUI::Activate() { return ActivateWith(L"click"); }

void CButtonUI::DoEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.Type)) {
        if (parent_)
            parent_->DoEvent(event);
        else
            CLabelUI::DoEvent(event);
        return;
    }
    const bool inside = ::PtInRect(&rcItem_, event.ptMouse) != FALSE;
    switch (event.Type) {
    case UIEVENT_SETFOCUS:
    case UIEVENT_KILLFOCUS:
        Invalidate();
        break;
    case UIEVENT_KEYDOWN:
        if (IsKeyboardEnabled() && keyboardActive_ && (event.chKey == VK_SPACE || event.chKey == VK_RETURN))
            Activate();
        break;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
    case UIEVENT_RBUTTONDOWN:
        if (inside && IsEnabled()) {
            state_ |= UISTATE_PUSHED | UISTATE_CAPTURED;
            Invalidate();
            Notify(event.Type == UIEVENT_BUTTONDOWN ? L"buttondown"
                   : event.Type == UIEVENT_DBLCLICK ? L"dbclick"
                                                    : L"rbuttondown",
                   event.wParam, event.lParam);
        }
        return;
    case UIEVENT_MOUSEMOVE:
        if (state_ & UISTATE_CAPTURED) {
            const UINT before = state_;
            if (inside)
                state_ |= UISTATE_PUSHED;
            else
                state_ &= ~UISTATE_PUSHED;
            if (before != state_) Invalidate();
        }
        break;
    case UIEVENT_BUTTONUP:
    case UIEVENT_RBUTTONUP:
        if (state_ & UISTATE_CAPTURED) {
            state_ &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
            Invalidate();
            const bool right = event.Type == UIEVENT_RBUTTONUP;
            Notify(right ? L"rbuttonup" : L"buttonup", event.wParam, event.lParam);
            if (inside) {
                if (right)
                    ActivateWith(L"rclick");
                else
                    Activate();
            }
        }
        return;
    case UIEVENT_MOUSEENTER:
        if (IsEnabled()) {
            state_ |= UISTATE_HOT;
            Invalidate();
            Notify(L"mouseenter");
        }
        return;
    case UIEVENT_MOUSELEAVE:
        if (IsEnabled()) {
            state_ &= ~UISTATE_HOT;
            Invalidate();
            Notify(L"mouseleave");
        }
        return;
    default:
        break;
    }
    CLabelUI::DoEvent(event);
}

void CButtonUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    if (name == L"normalimage") SetNormalImage(value);
    else if (name == L"hotimage") SetHotImage(value);
    else if (name == L"pushedimage") SetPushedImage(value);
    else if (name == L"focusedimage") SetFocusedImage(value);
    else if (name == L"disabledimage") SetDisabledImage(value);
    else if (name == L"hotforeimage") hotForeImage_ = value;
    else if (name == L"pushedforeimage") pushedForeImage_ = value;
    else if (name == L"stateimage") SetStateImage(value, stateCount_);
    else if (name == L"statecount") SetStateImage(stateImage_, ParseInt(v));
    else if (name == L"bindtabindex") bindTabIndex_ = ParseInt(v);
    else if (name == L"bindtablayoutname") bindTabLayoutName_ = value;
    else if (name == L"hotbkcolor") hotBkColor_ = ParseColor(v);
    else if (name == L"pushedbkcolor") pushedBkColor_ = ParseColor(v);
    else if (name == L"disabledbkcolor") disabledBkColor_ = ParseColor(v);
    else if (name == L"hottextcolor") hotTextColor_ = ParseColor(v);
    else if (name == L"pushedtextcolor") pushedTextColor_ = ParseColor(v);
    else if (name == L"focusedtextcolor") focusedTextColor_ = ParseColor(v);
    else if (name == L"hotfont") hotFont_ = ParseInt(v);
    else if (name == L"pushedfont") pushedFont_ = ParseInt(v);
    else if (name == L"focuedfont") focusedFont_ = ParseInt(v);
    else if (name == L"KeyboardActive") keyboardActive_ = ParseBoolWord(v);
    else {
        CLabelUI::SetAttribute(name, value);
        return;
    }
    Invalidate();
}

void CButtonUI::PaintBkColor(HDC hDC) {
    DWORD color = 0;
    if (!IsEnabled()) color = disabledBkColor_;
    else if (state_ & UISTATE_PUSHED) color = pushedBkColor_;
    else if (state_ & UISTATE_HOT) color = hotBkColor_;
    if (color != 0)
        RenderEngine::DrawColor(hDC, rcItem_, color, ScaleSize(bkColorRound_).cx, ScaleSize(bkColorRound_).cy);
    else
        CLabelUI::PaintBkColor(hDC);
}

bool CButtonUI::PaintByState(HDC hDC, const std::wstring& disabled, const std::wstring& pushed,
                             const std::wstring& hot, const std::wstring& focused, const std::wstring& normal) {
    const std::wstring* first = nullptr;
    if (!IsEnabled()) first = &disabled;
    else if (state_ & UISTATE_PUSHED) first = &pushed;
    else if (state_ & UISTATE_HOT) first = &hot;
    else if (IsFocused() || (state_ & UISTATE_FOCUSED)) first = &focused;
    if (first && !first->empty() && DrawImage(hDC, *first)) return true;
    return DrawImage(hDC, normal);
}

void CButtonUI::PaintStatusImage(HDC hDC) {
    if (normalImage_.empty()) BuildStateImages(stateImage_, stateCount_, normalImage_, hotImage_, pushedImage_, disabledImage_);
    PaintByState(hDC, disabledImage_, pushedImage_, hotImage_, focusedImage_, normalImage_);
}

void CButtonUI::PaintForeImage(HDC hDC) {
    if (IsEnabled()) {
        if ((state_ & UISTATE_PUSHED) && !pushedForeImage_.empty() && DrawImage(hDC, pushedForeImage_)) return;
        if ((state_ & UISTATE_HOT) && !hotForeImage_.empty() && DrawImage(hDC, hotForeImage_)) return;
    }
    CLabelUI::PaintForeImage(hDC);
}

DWORD CButtonUI::CurrentTextColor() const {
    if (IsEnabled()) {
        if ((state_ & UISTATE_PUSHED) && pushedTextColor_ != 0) return pushedTextColor_;
        if ((state_ & UISTATE_HOT) && hotTextColor_ != 0) return hotTextColor_;
        if (IsFocused() && focusedTextColor_ != 0) return focusedTextColor_;
    }
    return CLabelUI::CurrentTextColor();
}

int CButtonUI::CurrentFont() const {
    if (IsEnabled()) {
        if ((state_ & UISTATE_PUSHED) && pushedFont_ != -1) return pushedFont_;
        if ((state_ & UISTATE_HOT) && hotFont_ != -1) return hotFont_;
        if (IsFocused() && focusedFont_ != -1) return focusedFont_;
    }
    return CLabelUI::CurrentFont();
}

}  // namespace SkinUI
