// The standard controls' rows of the control factory (and the scroll bar
// maker of the containers).
#include "ui/builder/uifactory.h"

namespace SkinUI {

void RegisterStandardControls(CControlFactory& factory) {
    (void)factory;
}

}  // namespace SkinUI
