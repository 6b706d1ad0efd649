#include "ui/controls/uioption.h"

#include <cwchar>
#include <vector>

#include "ui/core/uivalue.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uirender.h"

namespace SkinUI {

COptionUI::~COptionUI() {
    if (manager_ && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
}

const wchar_t* COptionUI::GetClass() const { return L"OptionUI"; }

void* COptionUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"Option") == 0) return this;
    return CButtonUI::GetInterface(name);
}

void COptionUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    if (manager_ && manager_ != manager && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
    CButtonUI::SetManager(manager, parent, init);
    if (init && manager_ && !group_.empty()) manager_->AddOptionGroup(group_, this);
}

void COptionUI::SetGroup(const std::wstring& group) {
    if (group == group_) return;
    if (manager_ && !group_.empty()) manager_->RemoveOptionGroup(group_, this);
    group_ = group;
    if (manager_ && !group_.empty()) manager_->AddOptionGroup(group_, this);
    // A selected option joining a group keeps the group's selection single.
    if (selected_ && !group_.empty()) {
        selected_ = false;
        SetSelected(true, false);
    }
}

void COptionUI::SetSelected(bool selected, bool notify) {
    if (selected_ == selected) return;
    selected_ = selected;
    if (selected_)
        state_ |= UISTATE_SELECTED;
    else
        state_ &= ~UISTATE_SELECTED;
    if (manager_) {
        if (!group_.empty() && selected_) {
            // A copy: a handler may change the group while it is walked.
            const std::vector<CControlUI*>* members = manager_->GetOptionGroup(group_);
            const std::vector<CControlUI*> others = members ? *members : std::vector<CControlUI*>();
            for (CControlUI* other : others) {
                if (other == this) continue;
                if (auto* option = static_cast<COptionUI*>(other->GetInterface(L"Option")))
                    option->SetSelected(false, notify);
            }
        }
        if (notify) Notify(L"selectchanged", SelectChangedParam());
    }
    Invalidate();
}

bool COptionUI::Activate() {
    if (!CButtonUI::Activate()) return false;
    SetSelected(group_.empty() ? !selected_ : true, true);
    return true;
}

void COptionUI::SetEnabled(bool enable) {
    CButtonUI::SetEnabled(enable);
    if (selected_) state_ |= UISTATE_SELECTED;
}

std::wstring COptionUI::GetToolTip() const {
    if (selected_ && !selectedToolTip_.empty()) return selectedToolTip_;
    return CButtonUI::GetToolTip();
}

void COptionUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    const wchar_t* v = value.c_str();
    if (name == L"group") SetGroup(value);
    else if (name == L"selected") SetSelected(ParseBoolWord(v), false);
    else if (name == L"selectedimage") selectedImage_ = value;
    else if (name == L"selectedhotimage") selectedHotImage_ = value;
    else if (name == L"selectedpushedimage") selectedPushedImage_ = value;
    else if (name == L"selecteddisabledimage") selectedDisabledImage_ = value;
    else if (name == L"selectedforeimage") selectedForeImage_ = value;
    else if (name == L"selectedstateimage") selectedStateImage_ = value;
    else if (name == L"selectedstatecount") selectedStateCount_ = ParseInt(v);
    else if (name == L"selectedbkcolor") selectedBkColor_ = ParseColor(v);
    else if (name == L"selectedtextcolor") selectedTextColor_ = ParseColor(v);
    else if (name == L"selectedfont") selectedFont_ = ParseInt(v);
    else if (name == L"selectedtooltip") selectedToolTip_ = value;
    else {
        CButtonUI::SetAttribute(name, value);
        return;
    }
    Invalidate();
}

void COptionUI::PaintBkColor(HDC hDC) {
    if (selected_ && selectedBkColor_ != 0) {
        CControlUI::PaintBkColor(hDC);
        RenderEngine::DrawColor(hDC, rcItem_, selectedBkColor_, ScaleSize(bkColorRound_).cx,
                                ScaleSize(bkColorRound_).cy);
        return;
    }
    CButtonUI::PaintBkColor(hDC);
}

void COptionUI::PaintStatusImage(HDC hDC) {
    if (selected_) {
        if (selectedImage_.empty()) {
            BuildStateImages(selectedStateImage_, selectedStateCount_, selectedImage_, selectedHotImage_,
                             selectedPushedImage_, selectedDisabledImage_);
        }
        // The selected images in the button's state order; without any of
        // them the option paints as a button.
        if (!selectedImage_.empty() || !selectedHotImage_.empty() || !selectedPushedImage_.empty() ||
            !selectedDisabledImage_.empty()) {
            if (PaintByState(hDC, selectedDisabledImage_, selectedPushedImage_, selectedHotImage_, std::wstring(),
                             selectedImage_))
                return;
        }
    }
    CButtonUI::PaintStatusImage(hDC);
}

void COptionUI::PaintForeImage(HDC hDC) {
    if (selected_ && !selectedForeImage_.empty() && DrawImage(hDC, selectedForeImage_)) return;
    CButtonUI::PaintForeImage(hDC);
}

DWORD COptionUI::CurrentTextColor() const {
    if (selected_ && IsEnabled() && selectedTextColor_ != 0) return selectedTextColor_;
    return CButtonUI::CurrentTextColor();
}

int COptionUI::CurrentFont() const {
    if (selected_ && selectedFont_ != -1) return selectedFont_;
    return CButtonUI::CurrentFont();
}

// ---------------------------------------------------------------------------

const wchar_t* CCheckBoxUI::GetClass() const { return L"CheckBoxUI"; }

void* CCheckBoxUI::GetInterface(const wchar_t* name) {
    if (name && std::wcscmp(name, L"CheckBox") == 0) return this;
    return COptionUI::GetInterface(name);
}

void CCheckBoxUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"EnableAutoCheck")
        SetAutoCheck(ParseBoolWord(value.c_str()));
    else
        COptionUI::SetAttribute(name, value);
}

}  // namespace SkinUI
