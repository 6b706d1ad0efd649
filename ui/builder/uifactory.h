// Controls by class name: one process-wide table from "CButtonUI" to a maker.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace SkinUI {

class CControlUI;

using CreateClass = CControlUI* (*)();

// One row of the table.
struct ControlClassRow {
    const wchar_t* className;  // "CButtonUI"
    CreateClass create;        // null: known name, no implementation here
};

class CControlFactory {
public:
    static CControlFactory& Instance();

    // A new control of that class, or null for an unknown class or one the
    // framework names but does not build.
    CControlUI* CreateControl(const std::wstring& className) const;
    CControlUI* CreateControlByClass(const std::wstring& className) const { return CreateControl(className); }
    // Adds or replaces a row (a null maker keeps the name known but unbuilt).
    void RegistControl(const std::wstring& className, CreateClass create);
    void RegistControls(const ControlClassRow* rows, size_t count);
    bool IsKnown(const std::wstring& className) const;
    bool IsBuilt(const std::wstring& className) const;
    std::vector<std::wstring> ClassNames() const;

private:
    CControlFactory();
    std::map<std::wstring, CreateClass> classes_;
};

// The rows of the framework's own classes (control, container, layouts).
void RegisterCoreControls(CControlFactory& factory);
// The rows of the standard controls (label, text, button, option, check box,
// progress, scroll bar, rich edit); kept beside those controls.
void RegisterStandardControls(CControlFactory& factory);

}  // namespace SkinUI
