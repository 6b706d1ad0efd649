// The framework's small XML reader for skin layouts.
//
// A document is held as one wide string and parsed in place into a flat node
// table: element names, attribute names and values and element text are
// terminated inside the string, nothing is copied. Parsing stops at the first
// error, which is kept as a message and the text where it happened.
//
// Accepted syntax: elements with double-quoted attributes, element text,
// comments ("<!-" skipped up to "->"), other "<!" declarations (up to '>'),
// processing instructions (up to "?>"), and the entities amp, lt, gt, quot, apos.
// Unless whitespace is preserved, a space in a value or text swallows the
// control and space characters that follow it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace SkinUI {

enum MarkupEncoding { XMLFILE_ENCODING_UTF8 = 0, XMLFILE_ENCODING_UNICODE = 1, XMLFILE_ENCODING_ANSI = 2 };

class CMarkup;

// A light reference to one element of a parsed document; valid while the
// document is.
class CMarkupNode {
public:
    CMarkupNode() = default;
    CMarkupNode(CMarkup* owner, int index) : owner_(owner), index_(index) {}

    bool IsValid() const { return owner_ != nullptr && index_ > 0; }
    int Index() const { return index_; }

    CMarkupNode GetParent() const;
    CMarkupNode GetSibling() const;
    CMarkupNode GetChild() const;
    CMarkupNode GetChild(const wchar_t* name) const;
    bool HasSiblings() const;
    bool HasChildren() const;

    const wchar_t* GetName() const;
    const wchar_t* GetValue() const;  // the element's text

    bool HasAttributes() const;
    bool HasAttribute(const wchar_t* name) const;
    int GetAttributeCount() const;
    const wchar_t* GetAttributeName(int position) const;
    const wchar_t* GetAttributeValue(int position) const;
    // "" when absent.
    const wchar_t* GetAttributeValue(const wchar_t* name) const;

private:
    CMarkup* owner_ = nullptr;
    int index_ = 0;
};

class CMarkup {
public:
    CMarkup() = default;
    explicit CMarkup(const wchar_t* xml) { LoadFromString(xml); }
    CMarkup(const CMarkup&) = delete;
    CMarkup& operator=(const CMarkup&) = delete;

    // Parses a copy of the text.
    bool LoadFromString(const wchar_t* xml);
    // Bytes in the given encoding: UTF-8 (a byte-order mark is skipped), UTF-16
    // (a byte-order mark is required; big-endian text is swapped) or ANSI.
    bool LoadFromMemory(const BYTE* data, size_t length, int encoding = XMLFILE_ENCODING_UTF8);
    // A layout file by relative name, from the skin package or the resource
    // path (files over 4 MiB are refused).
    bool LoadFromFile(const wchar_t* name, int encoding = XMLFILE_ENCODING_UTF8);
    void Release();
    bool IsValid() const { return !nodes_.empty(); }

    void SetPreserveWhitespace(bool preserve = true) { preserveWhitespace_ = preserve; }

    // The last error: message and the text where it happened (the rest of the
    // text from there; empty for load errors).
    const std::wstring& LastErrorMessage() const { return errorMessage_; }
    const std::wstring& LastErrorLocation() const { return errorLocation_; }
    void LastError(std::wstring& message, std::wstring& location) const {
        message = errorMessage_;
        location = errorLocation_;
    }
    // Offset of the error in the parsed text (UTF-16 units); -1 for load errors.
    long LastErrorOffset() const { return errorOffset_; }

    // The document element (first top-level element).
    CMarkupNode GetRoot();

    // Access by node index (1 .. count-1; 0 is the document root).
    int NodeCount() const { return static_cast<int>(nodes_.size()); }
    int FirstChild(int node) const;
    int NextSibling(int node) const;
    int Parent(int node) const;
    const wchar_t* Name(int node) const;
    const wchar_t* Value(int node) const;
    int AttributeCount(int node) const;
    const wchar_t* AttributeName(int node, int position) const;
    const wchar_t* AttributeValue(int node, int position) const;
    const wchar_t* AttributeValue(int node, const wchar_t* name) const;

private:
    // One element: offsets into text_ and links between records (0 = none).
    struct Node {
        uint32_t name;
        uint32_t child;
        uint32_t next;
        uint32_t parent;
        uint32_t data;
        uint32_t firstAttr;  // into attrs_
        uint32_t attrCount;
    };
    struct Attr {
        uint32_t name;
        uint32_t value;
    };

    bool Parse();
    bool Fail(const wchar_t* message, const wchar_t* where);
    uint32_t AddNode();
    // Decodes entities and whitespace of [p, until) in place; returns the end of the
    // decoded text and leaves p on the terminating character.
    wchar_t* ParseText(wchar_t*& p, wchar_t until);

    std::unique_ptr<wchar_t[]> text_;
    size_t textLength_ = 0;
    std::vector<Node> nodes_;
    std::vector<Attr> attrs_;
    bool preserveWhitespace_ = false;
    std::wstring errorMessage_;
    std::wstring errorLocation_;
    long errorOffset_ = -1;
};

}  // namespace SkinUI
