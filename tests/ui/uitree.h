// A control tree built from markup on a paint manager without a window: laid
// out over a given rectangle and painted into memory DCs.
#pragma once

#include <windows.h>

#include <string>

#include "ui/builder/uibuilder.h"
#include "ui/control/uicontrol.h"
#include "ui/manager/uimanager.h"

namespace uitest {

class Tree {
public:
    // `dpi` 96 is 100 %. The tree is attached; Layout places it.
    explicit Tree(const std::wstring& xml, int dpi = 96) {
        if (dpi != 96) pm.SetDpi(dpi);
        SkinUI::CLayoutBuilder builder;
        root = builder.BuildFrom(xml, nullptr, nullptr, &pm);
        buildError = builder.GetBuildError();
        if (root) pm.AttachRoot(root);
    }
    void Layout(int width, int height) { pm.LayoutTo(RECT{0, 0, width, height}); }
    SkinUI::CControlUI* Find(const wchar_t* name) const { return pm.FindControl(std::wstring(name)); }
    RECT Pos(const wchar_t* name) const {
        SkinUI::CControlUI* c = Find(name);
        return c ? c->GetPos() : RECT{-1, -1, -1, -1};
    }

    SkinUI::CPaintManagerUI pm;
    SkinUI::CControlUI* root = nullptr;
    std::wstring buildError;
};

inline std::string RectText(const RECT& rc) {
    return "(" + std::to_string(rc.left) + "," + std::to_string(rc.top) + "," + std::to_string(rc.right) + "," +
           std::to_string(rc.bottom) + ")";
}

}  // namespace uitest
