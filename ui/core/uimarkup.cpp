#include "ui/core/uimarkup.h"

#include <cwchar>
#include <cwctype>
#include <new>

#include "ui/core/uiskinfile.h"

namespace SkinUI {
namespace {

inline bool IsNameChar(wchar_t c) { return c == L'_' || c == L':' || (c > 32 && std::iswalnum(c)); }
inline bool IsSpace(wchar_t c) { return c != 0 && c <= 32; }

// Wide text from bytes in a code page; false when the bytes cannot be converted.
bool Decode(UINT codePage, const BYTE* data, size_t length, std::unique_ptr<wchar_t[]>& text, size_t& textLength) {
    textLength = 0;
    if (length > 0x7fffffff) return false;
    int n = 0;
    if (length) {
        n = ::MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(data), static_cast<int>(length), nullptr, 0);
        if (n <= 0) return false;
    }
    text.reset(new (std::nothrow) wchar_t[static_cast<size_t>(n) + 1]);
    if (!text) return false;
    if (n) ::MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(data), static_cast<int>(length), text.get(), n);
    text[n] = 0;
    textLength = static_cast<size_t>(n);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Loading

void CMarkup::Release() {
    text_.reset();
    textLength_ = 0;
    nodes_.clear();
    nodes_.shrink_to_fit();
    attrs_.clear();
    attrs_.shrink_to_fit();
}

bool CMarkup::LoadFromString(const wchar_t* xml) {
    Release();
    errorMessage_.clear();
    errorLocation_.clear();
    errorOffset_ = -1;
    const size_t n = xml ? std::wcslen(xml) : 0;
    text_.reset(new (std::nothrow) wchar_t[n + 1]);
    if (!text_) {
        errorMessage_ = L"Out of memory";
        return false;
    }
    if (n) std::wmemcpy(text_.get(), xml, n);
    text_[n] = 0;
    textLength_ = n;
    return Parse();
}

bool CMarkup::LoadFromMemory(const BYTE* data, size_t length, int encoding) {
    Release();
    errorMessage_.clear();
    errorLocation_.clear();
    errorOffset_ = -1;
    if (!data && length) length = 0;
    bool ok = false;
    if (encoding == XMLFILE_ENCODING_UTF8) {
        if (length >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
            data += 3;
            length -= 3;
        }
        ok = Decode(CP_UTF8, data, length, text_, textLength_);
    } else if (encoding == XMLFILE_ENCODING_ANSI) {
        ok = Decode(CP_ACP, data, length, text_, textLength_);
    } else if (encoding == XMLFILE_ENCODING_UNICODE) {
        if (length < 2 || !((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) {
            errorMessage_ = L"Missing byte-order mark";
            return false;
        }
        const bool bigEndian = data[0] == 0xFE;
        const size_t units = (length - 2) / 2;
        text_.reset(new (std::nothrow) wchar_t[units + 1]);
        if (text_) {
            const BYTE* src = data + 2;
            for (size_t i = 0; i < units; ++i, src += 2)
                text_[i] = bigEndian ? static_cast<wchar_t>((src[0] << 8) | src[1])
                                     : static_cast<wchar_t>(src[0] | (src[1] << 8));
            text_[units] = 0;
            textLength_ = units;
            ok = true;
        }
    } else {
        errorMessage_ = L"Unknown encoding";
        return false;
    }
    if (!ok) {
        Release();
        errorMessage_ = L"Could not convert the text";
        return false;
    }
    // The text ends at its first NUL.
    textLength_ = std::wcslen(text_.get());
    return Parse();
}

bool CMarkup::LoadFromFile(const wchar_t* name, int encoding) {
    Release();
    errorMessage_.clear();
    errorLocation_.clear();
    errorOffset_ = -1;
    SkinFileBytes bytes;
    std::wstring error;
    if (!CSkinPackage::ReadSkinFile(name ? name : L"", SkinFileUse::Markup, bytes, &error)) {
        errorMessage_ = error;
        return false;
    }
    return LoadFromMemory(bytes.data.get(), bytes.size, encoding);
}

// ---------------------------------------------------------------------------
// Parsing

bool CMarkup::Fail(const wchar_t* message, const wchar_t* where) {
    errorMessage_ = message;
    errorLocation_.clear();
    errorOffset_ = where && text_ ? static_cast<long>(where - text_.get()) : -1;
    if (where) errorLocation_ = where;  // the rest of the text
    Release();
    return false;
}

uint32_t CMarkup::AddNode() {
    // The table grows to capacity * 1.5 + 500 records when full.
    if (nodes_.size() == nodes_.capacity()) nodes_.reserve(nodes_.capacity() * 3 / 2 + 500);
    const uint32_t empty = static_cast<uint32_t>(textLength_);  // offset of the final NUL
    nodes_.push_back(Node{empty, 0, 0, 0, empty, 0, 0});
    return static_cast<uint32_t>(nodes_.size() - 1);
}

wchar_t* CMarkup::ParseText(wchar_t*& p, wchar_t until) {
    static const struct {
        const wchar_t* name;
        size_t length;
        wchar_t ch;
    } kEntities[] = {{L"&amp;", 5, L'&'}, {L"&lt;", 4, L'<'}, {L"&gt;", 4, L'>'}, {L"&quot;", 6, L'"'}, {L"&apos;", 6, L'\''}};
    wchar_t* dest = p;
    while (*p && *p != until) {
        if (*p == L'&') {
            bool decoded = false;
            for (const auto& e : kEntities) {
                if (std::wcsncmp(p, e.name, e.length) == 0) {
                    *dest++ = e.ch;
                    p += e.length;
                    decoded = true;
                    break;
                }
            }
            if (decoded) continue;
        } else if (*p == L' ') {
            *dest++ = *p++;
            if (!preserveWhitespace_)
                while (IsSpace(*p)) ++p;
            continue;
        }
        *dest++ = *p++;
    }
    return dest;
}

// One pass over the text, without recursion: `parent` is the element whose
// content is being read and `lastChild` holds, per open level, the last child
// linked so far. Names, values and text are terminated in place; a terminator
// never lands ahead of the read position.
bool CMarkup::Parse() {
    nodes_.clear();
    attrs_.clear();
    wchar_t* const base = text_.get();
    wchar_t* p = base;
    AddNode();  // record 0: the document root
    uint32_t parent = 0;
    std::vector<uint32_t> lastChild(1, 0);
    bool atTag = false;  // p is on a '<' (possibly already overwritten by a terminator)

    for (;;) {
        // 1-2. Whitespace, then the end of the text or a tag.
        if (!atTag) {
            while (IsSpace(*p)) ++p;
            if (!*p) {
                if (parent == 0) return true;
                return Fail(L"Expected end-tag start", p);
            }
            if (*p != L'<') return Fail(L"Expected start tag", p);
        }
        atTag = false;
        wchar_t* const tag = p;

        // 3. Comments ("<!-", with one dash or two) end at "->", processing
        //    instructions at "?>"; both are skipped. Other declarations
        //    (<!DOCTYPE ...>) end at their '>': read to a "->" instead, a
        //    document type would swallow the whole layout after it.
        if (tag[1] == L'!' || tag[1] == L'?') {
            const bool comment = tag[1] == L'!' && tag[2] == L'-';
            const wchar_t* end = tag[1] == L'?' ? std::wcsstr(tag + 2, L"?>")
                                 : comment      ? std::wcsstr(tag + 2, L"->")
                                                : std::wcschr(tag + 2, L'>');
            const size_t endLength = (tag[1] == L'?' || comment) ? 2 : 1;
            p = end ? const_cast<wchar_t*>(end) + endLength : base + textLength_;
            continue;
        }

        // 4. The end tag of the current element.
        if (tag[1] == L'/') {
            p = tag + 2;
            if (parent == 0) return Fail(L"Unmatched closing tag", p);
            const wchar_t* name = base + nodes_[parent].name;
            const size_t n = std::wcslen(name);
            if (std::wcsncmp(p, name, n) != 0 || IsNameChar(p[n])) return Fail(L"Unmatched closing tag", p);
            p += n;
            while (IsSpace(*p)) ++p;
            if (*p != L'>') return Fail(L"Unmatched closing tag", p);
            ++p;
            parent = nodes_[parent].parent;
            lastChild.pop_back();
            continue;
        }

        // 5. A new element, linked under the current one.
        const uint32_t node = AddNode();
        nodes_[node].parent = parent;
        if (lastChild.back())
            nodes_[lastChild.back()].next = node;
        else
            nodes_[parent].child = node;
        lastChild.back() = node;

        p = tag + 1;
        wchar_t* const nameStart = p;
        while (IsNameChar(*p)) ++p;
        if (p == nameStart) return Fail(L"Error parsing element name", p);
        wchar_t* const nameEnd = p;
        nodes_[node].name = static_cast<uint32_t>(nameStart - base);
        nodes_[node].firstAttr = static_cast<uint32_t>(attrs_.size());

        // 6. Attributes: name, '=', a double-quoted value.
        for (;;) {
            while (IsSpace(*p)) ++p;
            if (!IsNameChar(*p)) break;
            wchar_t* const attrName = p;
            while (IsNameChar(*p)) ++p;
            wchar_t* const attrNameEnd = p;
            while (IsSpace(*p)) ++p;
            if (*p != L'=') return Fail(L"Error while parsing attributes", p);
            ++p;
            while (IsSpace(*p)) ++p;
            if (*p != L'"') return Fail(L"Expected attribute value", p);
            ++p;
            wchar_t* const value = p;
            wchar_t* const valueEnd = ParseText(p, L'"');
            if (*p != L'"') return Fail(L"Error while parsing attribute string", value);
            ++p;
            *valueEnd = 0;
            *attrNameEnd = 0;
            attrs_.push_back(Attr{static_cast<uint32_t>(attrName - base), static_cast<uint32_t>(value - base)});
            ++nodes_[node].attrCount;
        }

        // 7. "/>" or '>'.
        if (p[0] == L'/' && p[1] == L'>') {
            p += 2;
            *nameEnd = 0;
            continue;
        }
        if (*p != L'>') return Fail(L"Expected start-tag closing", p);
        ++p;
        *nameEnd = 0;

        // 8. The element's text up to the next '<'; then its children.
        wchar_t* const data = p;
        wchar_t* const dataEnd = ParseText(p, L'<');
        nodes_[node].data = static_cast<uint32_t>(data - base);
        atTag = *p == L'<';
        *dataEnd = 0;  // may overwrite that '<': atTag remembers it
        parent = node;
        lastChild.push_back(0);
    }
}

// ---------------------------------------------------------------------------
// Access

CMarkupNode CMarkup::GetRoot() {
    if (nodes_.empty() || nodes_[0].child == 0) return CMarkupNode();
    return CMarkupNode(this, static_cast<int>(nodes_[0].child));
}

int CMarkup::FirstChild(int node) const {
    return node >= 0 && node < NodeCount() ? static_cast<int>(nodes_[node].child) : 0;
}
int CMarkup::NextSibling(int node) const {
    return node > 0 && node < NodeCount() ? static_cast<int>(nodes_[node].next) : 0;
}
int CMarkup::Parent(int node) const {
    return node > 0 && node < NodeCount() ? static_cast<int>(nodes_[node].parent) : 0;
}
const wchar_t* CMarkup::Name(int node) const {
    return node >= 0 && node < NodeCount() ? text_.get() + nodes_[node].name : L"";
}
const wchar_t* CMarkup::Value(int node) const {
    return node >= 0 && node < NodeCount() ? text_.get() + nodes_[node].data : L"";
}
int CMarkup::AttributeCount(int node) const {
    return node > 0 && node < NodeCount() ? static_cast<int>(nodes_[node].attrCount) : 0;
}
const wchar_t* CMarkup::AttributeName(int node, int position) const {
    if (position < 0 || position >= AttributeCount(node)) return L"";
    return text_.get() + attrs_[nodes_[node].firstAttr + position].name;
}
const wchar_t* CMarkup::AttributeValue(int node, int position) const {
    if (position < 0 || position >= AttributeCount(node)) return L"";
    return text_.get() + attrs_[nodes_[node].firstAttr + position].value;
}
const wchar_t* CMarkup::AttributeValue(int node, const wchar_t* name) const {
    const int count = AttributeCount(node);
    for (int i = 0; i < count && name; ++i) {
        const Attr& a = attrs_[nodes_[node].firstAttr + i];
        if (std::wcscmp(text_.get() + a.name, name) == 0) return text_.get() + a.value;
    }
    return L"";
}

CMarkupNode CMarkupNode::GetParent() const {
    if (!IsValid()) return CMarkupNode();
    const int p = owner_->Parent(index_);
    return p > 0 ? CMarkupNode(owner_, p) : CMarkupNode();
}
CMarkupNode CMarkupNode::GetSibling() const {
    if (!IsValid()) return CMarkupNode();
    const int n = owner_->NextSibling(index_);
    return n > 0 ? CMarkupNode(owner_, n) : CMarkupNode();
}
CMarkupNode CMarkupNode::GetChild() const {
    if (!IsValid()) return CMarkupNode();
    const int c = owner_->FirstChild(index_);
    return c > 0 ? CMarkupNode(owner_, c) : CMarkupNode();
}
CMarkupNode CMarkupNode::GetChild(const wchar_t* name) const {
    for (CMarkupNode c = GetChild(); c.IsValid(); c = c.GetSibling())
        if (name && std::wcscmp(c.GetName(), name) == 0) return c;
    return CMarkupNode();
}
bool CMarkupNode::HasSiblings() const { return IsValid() && owner_->NextSibling(index_) > 0; }
bool CMarkupNode::HasChildren() const { return IsValid() && owner_->FirstChild(index_) > 0; }
const wchar_t* CMarkupNode::GetName() const { return IsValid() ? owner_->Name(index_) : L""; }
const wchar_t* CMarkupNode::GetValue() const { return IsValid() ? owner_->Value(index_) : L""; }
bool CMarkupNode::HasAttributes() const { return GetAttributeCount() > 0; }
bool CMarkupNode::HasAttribute(const wchar_t* name) const {
    const int count = GetAttributeCount();
    for (int i = 0; i < count; ++i)
        if (name && std::wcscmp(owner_->AttributeName(index_, i), name) == 0) return true;
    return false;
}
int CMarkupNode::GetAttributeCount() const { return IsValid() ? owner_->AttributeCount(index_) : 0; }
const wchar_t* CMarkupNode::GetAttributeName(int position) const {
    return IsValid() ? owner_->AttributeName(index_, position) : L"";
}
const wchar_t* CMarkupNode::GetAttributeValue(int position) const {
    return IsValid() ? owner_->AttributeValue(index_, position) : L"";
}
const wchar_t* CMarkupNode::GetAttributeValue(const wchar_t* name) const {
    return IsValid() ? owner_->AttributeValue(index_, name) : L"";
}

}  // namespace SkinUI
