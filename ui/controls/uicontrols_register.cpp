// The standard controls' rows of the control factory (and the scroll bar
// maker of the containers).
#include "ui/builder/uifactory.h"
#include "ui/controls/uibutton.h"
#include "ui/controls/uilabel.h"
#include "ui/controls/uioption.h"
#include "ui/controls/uiprogress.h"
#include "ui/controls/uirichedit.h"
#include "ui/controls/uiscrollbar.h"

namespace SkinUI {
namespace {

template <typename T>
CControlUI* Make() {
    return new T;
}

IScrollBarUI* MakeScrollBar() { return new CScrollBarUI; }

const ControlClassRow kStandardRows[] = {
    {L"CLabelUI", &Make<CLabelUI>},
    {L"CTextUI", &Make<CTextUI>},
    {L"CButtonUI", &Make<CButtonUI>},
    {L"COptionUI", &Make<COptionUI>},
    {L"CCheckBoxUI", &Make<CCheckBoxUI>},
    {L"CProgressUI", &Make<CProgressUI>},
    {L"CScrollBarUI", &Make<CScrollBarUI>},
    {L"CRichEditUI", &Make<CRichEditUI>},
};

}  // namespace

void RegisterStandardControls(CControlFactory& factory) {
    factory.RegistControls(kStandardRows, sizeof(kStandardRows) / sizeof(kStandardRows[0]));
    SetScrollBarMaker(&MakeScrollBar);
}

}  // namespace SkinUI
