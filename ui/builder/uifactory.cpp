#include "ui/builder/uifactory.h"

#include "ui/control/uicontainer.h"
#include "ui/control/uicontrol.h"
#include "ui/control/uilayout.h"

namespace SkinUI {
namespace {

template <typename T>
CControlUI* Make() {
    return new T;
}

// Every class name the framework knows. The ones without a maker are named by
// skins of other products but not built here; an element of such a class is
// skipped by the builder.
const ControlClassRow kCoreRows[] = {
    {L"CControlUI", &Make<CControlUI>},
    {L"CContainerUI", &Make<CContainerUI>},
    {L"CHorizontalLayoutUI", &Make<CHorizontalLayoutUI>},
    {L"CVerticalLayoutUI", &Make<CVerticalLayoutUI>},
    {L"CTabLayoutUI", &Make<CTabLayoutUI>},
    {L"CButtonUI", nullptr},
    {L"CComboUI", nullptr},
    {L"CComboBoxUI", nullptr},
    {L"CDateTimeUI", nullptr},
    {L"CEditUI", nullptr},
    {L"CActiveXUI", nullptr},
    {L"CFlashUI", nullptr},
    {L"CGifAnimUI", nullptr},
    {L"CWebpAnimUI", nullptr},
    {L"CGroupBoxUI", nullptr},
    {L"CIPAddressUI", nullptr},
    {L"CIPAddressExUI", nullptr},
    {L"CLabelUI", nullptr},
    {L"CListUI", nullptr},
    {L"CListHeaderUI", nullptr},
    {L"CListHeaderItemUI", nullptr},
    {L"CListLabelElementUI", nullptr},
    {L"CListTextElementUI", nullptr},
    {L"CListContainerElementUI", nullptr},
    {L"CMenuUI", nullptr},
    {L"CMenuElementUI", nullptr},
    {L"COptionUI", nullptr},
    {L"CCheckBoxUI", nullptr},
    {L"CProgressUI", nullptr},
    {L"CRichEditUI", nullptr},
    {L"CScrollBarUI", nullptr},
    {L"CSliderUI", nullptr},
    {L"CTextUI", nullptr},
    {L"CTreeNodeUI", nullptr},
    {L"CTreeViewUI", nullptr},
    {L"CWebBrowserUI", nullptr},
    {L"CAnimationTabLayoutUI", nullptr},
    {L"CChildLayoutUI", nullptr},
    {L"CTileLayoutUI", nullptr},
    {L"CRollTextUI", nullptr},
    {L"CColorPaletteUI", nullptr},
    {L"CListExUI", nullptr},
    {L"CListContainerHeaderItemUI", nullptr},
    {L"CListTextExtElementUI", nullptr},
    {L"CHotKeyUI", nullptr},
    {L"CFadeButtonUI", nullptr},
    {L"CRingUI", nullptr},
};

}  // namespace

void RegisterCoreControls(CControlFactory& factory) {
    factory.RegistControls(kCoreRows, sizeof(kCoreRows) / sizeof(kCoreRows[0]));
}

CControlFactory& CControlFactory::Instance() {
    static CControlFactory factory;
    return factory;
}

CControlFactory::CControlFactory() {
    RegisterCoreControls(*this);
    RegisterStandardControls(*this);
}

CControlUI* CControlFactory::CreateControl(const std::wstring& className) const {
    const auto it = classes_.find(className);
    if (it == classes_.end() || !it->second) return nullptr;
    return it->second();
}

void CControlFactory::RegistControl(const std::wstring& className, CreateClass create) {
    if (!className.empty()) classes_[className] = create;
}

void CControlFactory::RegistControls(const ControlClassRow* rows, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (rows[i].className) RegistControl(rows[i].className, rows[i].create);
}

bool CControlFactory::IsKnown(const std::wstring& className) const { return classes_.count(className) > 0; }

bool CControlFactory::IsBuilt(const std::wstring& className) const {
    const auto it = classes_.find(className);
    return it != classes_.end() && it->second != nullptr;
}

std::vector<std::wstring> CControlFactory::ClassNames() const {
    std::vector<std::wstring> names;
    for (const auto& c : classes_) names.push_back(c.first);
    return names;
}

}  // namespace SkinUI
