// Markup -> control tree. A layout document registers fonts, images, default
// attribute lists and styles with the paint manager, applies the `Window`
// element's attributes, follows `Include` elements and turns every other
// element into a control.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ui/core/uimarkup.h"

namespace SkinUI {

class CControlUI;
class CPaintManagerUI;

// Makes controls for element names the factory does not know.
class IDialogBuilderCallback {
public:
    virtual ~IDialogBuilderCallback() = default;
    // A new control for the element name ("Button"), or null.
    virtual CControlUI* CreateControlFor(const wchar_t* elementName) = 0;
};

// Where a layout comes from: a file name, an XML text (starting with '<') or a
// numeric module resource id (with a resource type).
struct STRINGorID {
    STRINGorID(const wchar_t* text) : text_(text ? text : L"") {}
    STRINGorID(const std::wstring& text) : text_(text) {}
    explicit STRINGorID(UINT id) : id_(id), isId_(true) {}
    bool IsId() const { return isId_; }
    UINT Id() const { return id_; }
    const std::wstring& Text() const { return text_; }

private:
    std::wstring text_;
    UINT id_ = 0;
    bool isId_ = false;
};

class CLayoutBuilder {
public:
    CLayoutBuilder();
    ~CLayoutBuilder();
    CLayoutBuilder(const CLayoutBuilder&) = delete;
    CLayoutBuilder& operator=(const CLayoutBuilder&) = delete;

    // Loads and builds a layout; returns the first top-level control (the root)
    // or null. `type` is the resource type of numeric ids (empty for files).
    CControlUI* BuildFrom(STRINGorID source, const wchar_t* type = nullptr, IDialogBuilderCallback* callback = nullptr,
                          CPaintManagerUI* manager = nullptr, CControlUI* parent = nullptr);
    // Builds again from the markup already loaded.
    CControlUI* Build(IDialogBuilderCallback* callback = nullptr, CPaintManagerUI* manager = nullptr,
                      CControlUI* parent = nullptr);

    CMarkup* GetMarkup() { return &markup_; }
    void GetLastErrorMessage(std::wstring& message, std::wstring& location) const;
    // Why the last build made no control, or "" ("Include of itself", a load
    // or parse error, "nesting too deep"...).
    const std::wstring& GetBuildError() const { return buildError_; }

    // Deepest element nesting the builder follows (includes count); deeper
    // elements are skipped with their subtrees. The control tree is walked
    // recursively everywhere, so its depth is bounded here, where it is made.
    static constexpr int kMaxNesting = 256;
    // Deepest chain of nested `Include` elements.
    static constexpr int kMaxIncludeDepth = 16;
    // Most controls one build makes (includes and their counts count).
    static constexpr int kMaxControls = 100000;
    // Most included documents one build loads.
    static constexpr int kMaxIncludes = 1000;

private:
    struct Budget {
        int controls = 0;
        int includes = 0;
    };
    CControlUI* BuildChildren(CMarkupNode node, CControlUI* parent, CPaintManagerUI* manager, int depth);
    CControlUI* BuildInclude(CMarkupNode node, CControlUI* parent, CPaintManagerUI* manager, int depth);
    void RegisterResources(CMarkupNode root, CPaintManagerUI* manager);
    bool Load(const STRINGorID& source, const wchar_t* type);
    bool IsInIncludeChain(const std::wstring& source) const;
    void NoteError(const std::wstring& error);

    CMarkup markup_;
    std::wstring type_;
    std::wstring source_;
    std::wstring buildError_;
    IDialogBuilderCallback* callback_ = nullptr;
    int includeDepth_ = 0;
    int baseDepth_ = 0;
    const CLayoutBuilder* includer_ = nullptr;  // the builder whose Include made this one
    Budget ownBudget_;
    Budget* budget_ = &ownBudget_;
};

}  // namespace SkinUI
