// The layout XML reader: node table, attributes, entities, whitespace,
// encodings and every parse error with its location.
#include "ui/core/uimarkup.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/testutil.h"

namespace {

using SkinUI::CMarkup;
using SkinUI::CMarkupNode;

TEST(Markup, NodeTableAndAttributes) {
    CMarkup m;
    ASSERT_TRUE(m.LoadFromString(
        L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        L"<!-- the window -->\n"
        L"<Window size=\"600,460\" caption = \"0,0,0,66\" childpadding= \"15\">\n"
        L"  <Include source=\"font.xml\" />\n"
        L"  <Container><!-- inner --><Button name=\"BtnInstall\" text=\"\u5feb\u901f\u5b89\u88c5\"/>"
        L"<Label ns:attr_1=\"x\">text</Label></Container>\n"
        L"</Window>\n"));
    CMarkupNode root = m.GetRoot();
    ASSERT_TRUE(root.IsValid());
    EXPECT_STREQ(root.GetName(), L"Window");
    EXPECT_EQ(root.GetAttributeCount(), 3);
    EXPECT_STREQ(root.GetAttributeName(1), L"caption");
    EXPECT_STREQ(root.GetAttributeValue(1), L"0,0,0,66");
    EXPECT_STREQ(root.GetAttributeValue(L"childpadding"), L"15");
    EXPECT_STREQ(root.GetAttributeValue(L"missing"), L"");
    EXPECT_STREQ(root.GetAttributeName(3), L"");
    EXPECT_TRUE(root.HasAttribute(L"size"));
    EXPECT_FALSE(root.HasAttribute(L"Size"));  // names are case-sensitive
    EXPECT_FALSE(root.HasSiblings());

    CMarkupNode include = root.GetChild();
    EXPECT_STREQ(include.GetName(), L"Include");
    EXPECT_STREQ(include.GetAttributeValue(L"source"), L"font.xml");
    EXPECT_FALSE(include.HasChildren());
    CMarkupNode container = include.GetSibling();
    EXPECT_STREQ(container.GetName(), L"Container");
    EXPECT_FALSE(container.HasAttributes());
    CMarkupNode button = container.GetChild(L"Button");
    EXPECT_STREQ(button.GetAttributeValue(L"text"), L"\u5feb\u901f\u5b89\u88c5");
    CMarkupNode label = button.GetSibling();
    EXPECT_STREQ(label.GetName(), L"Label");
    EXPECT_STREQ(label.GetAttributeValue(L"ns:attr_1"), L"x");
    EXPECT_STREQ(label.GetValue(), L"text");
    EXPECT_FALSE(label.GetSibling().IsValid());
    EXPECT_EQ(label.GetParent().Index(), container.Index());
    EXPECT_EQ(container.GetParent().Index(), root.Index());
    EXPECT_FALSE(root.GetParent().IsValid());
    EXPECT_EQ(m.NodeCount(), 6);  // the document record and five elements
}

TEST(Markup, EntitiesAndWhitespace) {
    struct Case {
        const wchar_t* xml;
        bool preserve;
        const wchar_t* attr;
        const wchar_t* data;
    } cases[] = {
        {L"<a v=\"&amp;&lt;&gt;&quot;&apos;\">&lt;b&gt;</a>", false, L"&<>\"'", L"<b>"},
        {L"<a v=\"&copy; &amp &#65;\">x &nbsp;y</a>", false, L"&copy; &amp &#65;", L"x &nbsp;y"},
        {L"<a v=\"a  \t\n b\">x   \r\n  y</a>", false, L"a b", L"x y"},
        {L"<a v=\"a  \t\n b\">x   \r\n  y</a>", true, L"a  \t\n b", L"x   \r\n  y"},
        {L"<a v=\"\n  x\">\n  <b/></a>", false, L"\n x", L"\n "},  // only a space swallows what follows
        {L"<a v=\"\">  </a>", false, L"", L" "},
        {L"<a v=\"&amp;amp;\">&amp;lt;</a>", false, L"&amp;", L"&lt;"},  // decoded once
        {L"<a v=\"1 &lt; 2\"/>", false, L"1 < 2", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(c.xml));
        CMarkup m;
        m.SetPreserveWhitespace(c.preserve);
        ASSERT_TRUE(m.LoadFromString(c.xml)) << testutil::WideToUtf8(m.LastErrorMessage());
        EXPECT_EQ(std::wstring(m.GetRoot().GetAttributeValue(L"v")), c.attr);
        EXPECT_EQ(std::wstring(m.GetRoot().GetValue()), c.data);
    }
}

TEST(Markup, ParseErrorsWithTheirLocations) {
    struct Case {
        const wchar_t* xml;
        const wchar_t* message;
        const wchar_t* location;  // the text where it happened
    } cases[] = {
        {L"hello", L"Expected start tag", L"hello"},
        {L"<a></a> tail", L"Expected start tag", L"tail"},
        {L"<a>x<b/>y</a>", L"Expected start tag", L"y</a>"},
        {L"< a/>", L"Error parsing element name", L" a/>"},
        {L"<a><>x</a>", L"Error parsing element name", L">x</a>"},
        {L"<a b=\"1\" ?>", L"Expected start-tag closing", L"?>"},
        {L"<a b=\"1\"", L"Expected start-tag closing", L""},
        {L"<a/ >", L"Expected start-tag closing", L"/ >"},
        {L"<a><b>", L"Expected end-tag start", L""},
        {L"<a>text", L"Expected end-tag start", L""},
        {L"<a></b>", L"Unmatched closing tag", L"b>"},
        {L"<ab></a>", L"Unmatched closing tag", L"a>"},
        {L"<a></ab>", L"Unmatched closing tag", L"ab>"},
        {L"<a></a x>", L"Unmatched closing tag", L"x>"},
        {L"</a>", L"Unmatched closing tag", L"a>"},
        {L"<a b>", L"Error while parsing attributes", L">"},
        {L"<a b c=\"1\">", L"Error while parsing attributes", L"c=\"1\">"},
        {L"<a b='1'/>", L"Expected attribute value", L"'1'/>"},
        {L"<a b=1/>", L"Expected attribute value", L"1/>"},
        {L"<a b=\"1/>", L"Error while parsing attribute string", L"1/>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(c.xml));
        CMarkup m;
        EXPECT_FALSE(m.LoadFromString(c.xml));
        EXPECT_EQ(m.LastErrorMessage(), c.message);
        EXPECT_EQ(m.LastErrorLocation(), c.location);
        EXPECT_GE(m.LastErrorOffset(), 0);
        EXPECT_FALSE(m.IsValid());  // the text and node table are released
        EXPECT_FALSE(m.GetRoot().IsValid());
        std::wstring message, location;
        m.LastError(message, location);
        EXPECT_EQ(message, c.message);
    }
    // The location is the whole rest of the text.
    CMarkup m;
    EXPECT_FALSE(m.LoadFromString((L"<a/>" + std::wstring(500, L'z')).c_str()));
    EXPECT_EQ(m.LastErrorLocation(), std::wstring(500, L'z'));
    EXPECT_EQ(m.LastErrorOffset(), 4);
}

TEST(Markup, AcceptedOddities) {
    struct Case {
        const wchar_t* xml;
        const wchar_t* rootName;
    } cases[] = {
        {L"", nullptr},                       // nothing at all is an empty document
        {L"  \r\n\t ", nullptr},
        {L"<!-- only a comment -->", nullptr},
        {L"<a/><b/>", L"a"},                  // several top-level elements
        {L"<a b=\"1\"c=\"2\"/>", L"a"},        // no space needed between attributes
        {L"<a\n\tb\n=\n\"1\"\n/>", L"a"},
        {L"<a></a >", L"a"},
        {L"<a><!-- unterminated", nullptr},   // handled below: an error
        {L"<?pi x?><a/>", L"a"},
        {L"<!DOCTYPE a><a/>", L"a"},           // declarations end at '>'
        {L"<!-- a > b --><a/>", L"a"},         // comments at "->"
        {L"<!- a > b -><a/>", L"a"},           // one dash starts a comment too
        {L"<\u7a97\u53e3 \u5c5e\u6027=\"\u503c\"/>", L"\u7a97\u53e3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(c.xml));
        CMarkup m;
        const bool ok = m.LoadFromString(c.xml);
        if (std::wstring(c.xml).find(L"unterminated") != std::wstring::npos) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(m.LastErrorMessage(), L"Expected end-tag start");
            continue;
        }
        ASSERT_TRUE(ok) << testutil::WideToUtf8(m.LastErrorMessage());
        if (c.rootName)
            EXPECT_STREQ(m.GetRoot().GetName(), c.rootName);
        else
            EXPECT_FALSE(m.GetRoot().IsValid());
    }
}

TEST(Markup, DeepNestingAndManyNodes) {
    // No recursion: a hundred thousand levels parse without exhausting the stack.
    const int depth = 100000;
    std::wstring xml;
    for (int i = 0; i < depth; ++i) xml += L"<d>";
    for (int i = 0; i < depth; ++i) xml += L"</d>";
    CMarkup m;
    ASSERT_TRUE(m.LoadFromString(xml.c_str()));
    EXPECT_EQ(m.NodeCount(), depth + 1);
    CMarkupNode n = m.GetRoot();
    int levels = 0;
    for (; n.IsValid(); n = n.GetChild()) ++levels;
    EXPECT_EQ(levels, depth);
    xml.resize(xml.size() - 4);
    EXPECT_FALSE(m.LoadFromString(xml.c_str()));
    EXPECT_EQ(m.LastErrorMessage(), L"Expected end-tag start");
}

std::string Utf16(const std::wstring& text, bool bigEndian, bool bom) {
    std::string out;
    if (bom) out += bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t c : text) {
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xff);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

TEST(Markup, Encodings) {
    const std::wstring text = L"<Window t=\"\u5feb\u901f\u5b89\u88c5 \u00e9\"/>";
    const std::string utf8 = testutil::WideToUtf8(text);
    struct Case {
        const char* what;
        std::string bytes;
        int encoding;
        bool ok;
    } cases[] = {
        {"UTF-8", utf8, SkinUI::XMLFILE_ENCODING_UTF8, true},
        {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + utf8, SkinUI::XMLFILE_ENCODING_UTF8, true},
        {"UTF-16 little-endian", Utf16(text, false, true), SkinUI::XMLFILE_ENCODING_UNICODE, true},
        {"UTF-16 big-endian", Utf16(text, true, true), SkinUI::XMLFILE_ENCODING_UNICODE, true},
        {"UTF-16 without byte-order mark", Utf16(text, false, false), SkinUI::XMLFILE_ENCODING_UNICODE, false},
        {"ANSI (code page 936)", std::string("<Window t=\"\xbf\xec\xcb\xd9\xb0\xb2\xd7\xb0 \xa8\xa6\"/>"),
         SkinUI::XMLFILE_ENCODING_ANSI, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMarkup m;
        const bool ok = m.LoadFromMemory(reinterpret_cast<const BYTE*>(c.bytes.data()), c.bytes.size(), c.encoding);
        EXPECT_EQ(ok, c.ok) << testutil::WideToUtf8(m.LastErrorMessage());
        if (ok) { EXPECT_STREQ(m.GetRoot().GetAttributeValue(L"t"), L"\u5feb\u901f\u5b89\u88c5 \u00e9"); }
    }
    // A NUL in the bytes ends the text.
    const std::string withNul = std::string("<a/>\0<<<", 8);
    CMarkup m;
    EXPECT_TRUE(m.LoadFromMemory(reinterpret_cast<const BYTE*>(withNul.data()), withNul.size()));
}

TEST(Markup, ReloadAndRelease) {
    CMarkup m(L"<a x=\"1\"/>");
    ASSERT_TRUE(m.IsValid());
    EXPECT_FALSE(m.LoadFromString(L"<a"));
    EXPECT_FALSE(m.IsValid());
    EXPECT_TRUE(m.LoadFromString(L"<b/>"));
    EXPECT_EQ(m.LastErrorMessage(), L"");
    EXPECT_STREQ(m.GetRoot().GetName(), L"b");
    m.Release();
    EXPECT_FALSE(m.GetRoot().IsValid());
    EXPECT_STREQ(CMarkupNode().GetName(), L"");
}

}  // namespace
