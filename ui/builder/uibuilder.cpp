#include "ui/builder/uibuilder.h"

#include <cwchar>
#include <cwctype>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "ui/builder/uifactory.h"
#include "ui/control/uicontainer.h"
#include "ui/control/uicontrol.h"
#include "ui/core/uivalue.h"
#include "ui/manager/uimanager.h"
#include "ui/core/uitext.h"

namespace SkinUI {
namespace {

bool IsResourceElement(const wchar_t* name) {
    return std::wcscmp(name, L"Image") == 0 || std::wcscmp(name, L"Font") == 0 || std::wcscmp(name, L"Style") == 0 ||
           std::wcscmp(name, L"Import") == 0 || std::wcscmp(name, L"Default") == 0;
}

// Include names compare as the package does: slashes either way, case ignored.
std::wstring SourceKey(const std::wstring& source) {
    std::wstring key = source;
    for (wchar_t& c : key) c = c == L'\\' ? L'/' : static_cast<wchar_t>(std::towlower(c));
    return key;
}

bool IsDecimal(const std::wstring& text) {
    if (text.empty()) return false;
    size_t i = text[0] == L'-' ? 1 : 0;
    if (i >= text.size()) return false;
    for (; i < text.size(); ++i)
        if (text[i] < L'0' || text[i] > L'9') return false;
    return true;
}

}  // namespace

CLayoutBuilder::CLayoutBuilder() = default;
CLayoutBuilder::~CLayoutBuilder() = default;

void CLayoutBuilder::GetLastErrorMessage(std::wstring& message, std::wstring& location) const {
    markup_.LastError(message, location);
}

void CLayoutBuilder::NoteError(const std::wstring& error) {
    if (buildError_.empty()) buildError_ = error;
    for (const CLayoutBuilder* b = includer_; b; b = b->includer_)
        if (b->buildError_.empty()) const_cast<CLayoutBuilder*>(b)->buildError_ = error;
    DebugTrace(L"SkinUI: %s\r\n", error.c_str());
}

bool CLayoutBuilder::Load(const STRINGorID& source, const wchar_t* type) {
    type_ = type ? type : L"";
    if (source.IsId() || (!type_.empty() && IsDecimal(source.Text()))) {
        // A module resource of the builder's type, as UTF-8.
        const UINT id = source.IsId() ? source.Id() : static_cast<UINT>(ParseInt(source.Text().c_str()));
        source_ = L"#" + SkinUI::DecimalText(id);
        const HINSTANCE instance = CPaintManagerUI::GetResourceDll();
        HRSRC res = ::FindResourceW(instance, MAKEINTRESOURCEW(id), type_.empty() ? nullptr : type_.c_str());
        HGLOBAL data = res ? ::LoadResource(instance, res) : nullptr;
        const void* bytes = data ? ::LockResource(data) : nullptr;
        const DWORD size = res ? ::SizeofResource(instance, res) : 0;
        if (!bytes) {
            markup_.LoadFromMemory(nullptr, 0);
            NoteError(L"Could not find the layout resource " + source_);
            return false;
        }
        return markup_.LoadFromMemory(static_cast<const BYTE*>(bytes), size, XMLFILE_ENCODING_UTF8);
    }
    const std::wstring& text = source.Text();
    if (!text.empty() && text[0] == L'<') {
        source_ = L"<text>";
        return markup_.LoadFromString(text.c_str());
    }
    source_ = text;
    return markup_.LoadFromFile(text.c_str(), XMLFILE_ENCODING_UTF8);
}

CControlUI* CLayoutBuilder::BuildFrom(STRINGorID source, const wchar_t* type, IDialogBuilderCallback* callback,
                                      CPaintManagerUI* manager, CControlUI* parent) {
    buildError_.clear();
    callback_ = callback;
    if (!Load(source, type)) {
        std::wstring message, location;
        markup_.LastError(message, location);
        NoteError(message.empty() ? L"Could not load the layout" : message);
        return nullptr;
    }
    return Build(callback, manager, parent);
}

CControlUI* CLayoutBuilder::Build(IDialogBuilderCallback* callback, CPaintManagerUI* manager, CControlUI* parent) {
    callback_ = callback;
    CMarkupNode root = markup_.GetRoot();
    if (!root.IsValid()) return nullptr;
    if (manager) {
        RegisterResources(root, manager);
        if (std::wcscmp(root.GetName(), L"Window") == 0 && manager->GetPaintWindow() && root.HasAttributes()) {
            for (int i = 0; i < root.GetAttributeCount(); ++i)
                manager->SetWindowAttribute(root.GetAttributeName(i), root.GetAttributeValue(i));
        }
    }
    return BuildChildren(root, parent, manager, baseDepth_);
}

void CLayoutBuilder::RegisterResources(CMarkupNode root, CPaintManagerUI* manager) {
    for (CMarkupNode node = root.GetChild(); node.IsValid(); node = node.GetSibling()) {
        const wchar_t* name = node.GetName();
        auto attr = [&node](const wchar_t* key) { return std::wstring(node.GetAttributeValue(key)); };
        auto flag = [&node](const wchar_t* key) { return ParseBoolWord(node.GetAttributeValue(key)); };
        if (std::wcscmp(name, L"Image") == 0) {
            const std::wstring imageName = attr(L"name");
            if (imageName.empty()) continue;
            const std::wstring mask = attr(L"mask");
            if (!manager->AddImage(imageName, attr(L"restype"), mask.empty() ? 0 : ParseColor(mask.c_str()), false,
                                   flag(L"shared"), nullptr))
                DebugTrace(L"SkinUI: image \"%s\" could not be loaded\r\n", imageName.c_str());
        } else if (std::wcscmp(name, L"Font") == 0) {
            const int id = node.HasAttribute(L"id") ? ParseInt(node.GetAttributeValue(L"id")) : -1;
            const std::wstring face = attr(L"name");
            const int size = node.HasAttribute(L"size") ? ParseInt(node.GetAttributeValue(L"size")) : 12;
            const bool bold = flag(L"bold"), underline = flag(L"underline"), italic = flag(L"italic");
            const bool shared = flag(L"shared");
            if (id >= 0 && !manager->AddFont(id, face, size, bold, underline, italic, shared))
                DebugTrace(L"SkinUI: font %d could not be made\r\n", id);
            if (flag(L"default")) manager->SetDefaultFont(face, size, bold, underline, italic, shared);
        } else if (std::wcscmp(name, L"Default") == 0) {
            const std::wstring control = attr(L"name");
            if (!control.empty()) manager->AddDefaultAttributeList(control, attr(L"value"), flag(L"shared"));
        } else if (std::wcscmp(name, L"Style") == 0) {
            const std::wstring style = attr(L"name");
            if (!style.empty()) manager->AddStyle(style, attr(L"value"), flag(L"shared"));
        } else if (std::wcscmp(name, L"Import") == 0) {
            const std::wstring file = attr(L"fontfile");
            if (!file.empty()) manager->AddFontFile(file);
        }
    }
}

bool CLayoutBuilder::IsInIncludeChain(const std::wstring& source) const {
    const std::wstring key = SourceKey(source);
    for (const CLayoutBuilder* b = this; b; b = b->includer_)
        if (SourceKey(b->source_) == key) return true;
    return false;
}

CControlUI* CLayoutBuilder::BuildInclude(CMarkupNode node, CControlUI* parent, CPaintManagerUI* manager, int depth) {
    const std::wstring source = node.GetAttributeValue(L"source");
    const int count = node.HasAttribute(L"count") ? ParseInt(node.GetAttributeValue(L"count")) : 1;
    if (source.empty() || count <= 0) return nullptr;
    const std::wstring target = (!type_.empty() && IsDecimal(source)) ? L"#" + SkinUI::DecimalText(static_cast<UINT>(
                                                                                   ParseInt(source.c_str())))
                                                                       : source;
    if (IsInIncludeChain(target)) {
        NoteError(L"Include of itself: \"" + source + L"\" is already being built; element skipped");
        return nullptr;
    }
    if (includeDepth_ + 1 > kMaxIncludeDepth) {
        NoteError(L"Includes nested too deep at \"" + source + L"\"; element skipped");
        return nullptr;
    }
    CControlUI* first = nullptr;
    for (int i = 0; i < count; ++i) {
        if (++budget_->includes > kMaxIncludes) {
            NoteError(L"Too many included documents; \"" + source + L"\" skipped");
            break;
        }
        CLayoutBuilder sub;
        sub.includer_ = this;
        sub.includeDepth_ = includeDepth_ + 1;
        sub.baseDepth_ = depth;
        sub.budget_ = budget_;
        CControlUI* made = nullptr;
        if (!type_.empty() && IsDecimal(source))
            made = sub.BuildFrom(STRINGorID(static_cast<UINT>(ParseInt(source.c_str()))), type_.c_str(), callback_,
                                 manager, parent);
        else
            made = sub.BuildFrom(source, nullptr, callback_, manager, parent);
        if (!made && !sub.buildError_.empty() && i == 0) {
            // The same failure would repeat for every copy.
            break;
        }
        if (!first) first = made;
    }
    return first;
}

CControlUI* CLayoutBuilder::BuildChildren(CMarkupNode node, CControlUI* parent, CPaintManagerUI* manager, int depth) {
    CControlUI* first = nullptr;
    for (CMarkupNode child = node.GetChild(); child.IsValid(); child = child.GetSibling()) {
        const wchar_t* name = child.GetName();
        // 1. Resources were registered before.
        if (IsResourceElement(name)) continue;
        // 2. Included documents become children of the current parent.
        if (std::wcscmp(name, L"Include") == 0) {
            CControlUI* made = BuildInclude(child, parent, manager, depth);
            if (!first) first = made;
            continue;
        }
        if (depth >= kMaxNesting) {
            NoteError(std::wstring(L"Elements nested deeper than the builder follows; <") + name + L"> skipped");
            continue;
        }
        if (budget_->controls >= kMaxControls) {
            NoteError(L"Too many controls in one layout; the rest is skipped");
            return first;
        }

        // 3. A control of class "C" + name + "UI", else the callback's.
        CControlUI* control = CControlFactory::Instance().CreateControl(std::wstring(L"C") + name + L"UI");
        if (!control && callback_) control = callback_->CreateControlFor(name);
        if (!control) {
            DebugTrace(L"SkinUI: no control class for <%s>; element skipped\r\n", name);
            continue;
        }
        ++budget_->controls;

        // 4. Its children first.
        if (child.HasChildren()) BuildChildren(child, control, manager, depth + 1);

        // 5. Into the parent; a parent that takes no children deletes it. Without
        //    a parent only the first control (the root) is kept.
        if (!parent && first) {
            DebugTrace(L"SkinUI: a second top-level <%s> has no parent; element skipped\r\n", name);
            delete control;
            continue;
        }
        if (parent) {
            IContainerUI* container = static_cast<IContainerUI*>(parent->GetInterface(L"IContainer"));
            if (!container || !container->Add(control)) {
                DebugTrace(L"SkinUI: <%s> could not be added to its parent; element skipped\r\n", name);
                delete control;
                continue;
            }
        }

        // 6. Defaults, then the element's attributes in document order.
        if (manager) {
            control->SetManager(manager, parent, parent != nullptr);
            const std::wstring defaults = manager->GetDefaultAttributeList(name);
            if (!defaults.empty()) control->ApplyAttributeList(defaults);
            for (int i = 0; i < child.GetAttributeCount(); ++i)
                control->ApplyAttribute(child.GetAttributeName(i), child.GetAttributeValue(i));
            if (parent && parent->GetManager() == manager) {
                // Built into a live tree: stays attached (and indexed by name).
                manager->InitControls(control, parent);
            } else {
                // Attached for good when the root is attached.
                control->SetManager(nullptr, parent, false);
            }
        }

        // 7. The first control is the result.
        if (!first) first = control;
    }
    return first;
}

}  // namespace SkinUI
