// The layout builder: resource registration, defaults and styles, Include,
// the control factory, and hostile layouts that must fail clearly.
#include "ui/builder/uibuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "tests/common/testutil.h"
#include "tests/ui/uitree.h"
#include "ui/builder/uifactory.h"
#include "ui/control/uilayout.h"
#include "ui/core/uiskinfile.h"

namespace {

using namespace SkinUI;
using uitest::Tree;

std::vector<std::wstring> g_lines;
void Capture(const wchar_t* line) { g_lines.push_back(line); }

bool Logged(const std::wstring& part) {
    for (const auto& l : g_lines)
        if (l.find(part) != std::wstring::npos) return true;
    return false;
}

// Layout files in a temporary resource folder; debug lines captured.
class BuilderTest : public ::testing::Test {
protected:
    void SetUp() override {
        CSkinPackage::Reset();
        CPaintManagerUI::ReleaseSharedResources();
        dir_ = testutil::MakeTempDir(L"builder");
        CSkinPackage::SetResourcePath(dir_);
        g_lines.clear();
        old_ = nqlog::SetDebugSink(&Capture);
    }
    void TearDown() override {
        nqlog::SetDebugSink(old_);
        CPaintManagerUI::ReleaseSharedResources();
        CSkinPackage::Reset();
        testutil::RemoveTree(dir_);
    }
    void Write(const std::wstring& name, const std::string& text) {
        ASSERT_TRUE(testutil::WriteFileBytes(dir_ + L"\\" + name, text));
    }
    int ChildCount(CControlUI* c) {
        auto* container = static_cast<IContainerUI*>(c ? c->GetInterface(L"IContainer") : nullptr);
        return container ? container->GetCount() : -1;
    }

    std::wstring dir_;
    nqlog::DebugSink old_ = nullptr;
};

TEST_F(BuilderTest, FontsImagesDefaultsAndStylesAreRegistered) {
    CPaintManagerUI other;
    {
        Tree t(LR"(<Window>
            <Font id="0" name="Tahoma" size="12" default="true"/>
            <Font id="3" name="Arial" size="16" bold="true" underline="true" italic="true"/>
            <Font id="1000" name="Arial" size="14" shared="true"/>
            <Font name="NoId" size="30"/>
            <Image name="Image/missing.png"/>
            <Default name="Control" value="bkcolor=&quot;#FF112233&quot; width=&quot;30&quot;"/>
            <Style name="red" value="bkcolor=&quot;#FFFF0000&quot; height=&quot;7&quot;"/>
            <Style name="wide" value="width='55'" shared="true"/>
            <HorizontalLayout name="row">
              <Control name="d"/>
              <Control name="o" width="40"/>
              <Control name="s" bkimage="red"/>
              <Control name="w" minwidth="wide"/>
              <Control name="x" unknownattribute="kept"/>
            </HorizontalLayout></Window>)");
        ASSERT_NE(t.root, nullptr);

        // Fonts: own, shared and the default; id-less fonts are not registered.
        EXPECT_TRUE(t.pm.FindFont(0));
        EXPECT_EQ(t.pm.GetFontInfo(0)->faceName, L"Tahoma");
        const TFontInfo* f3 = t.pm.GetFontInfo(3);
        EXPECT_EQ(f3->size, 16);
        EXPECT_TRUE(f3->bold && f3->underline && f3->italic);
        LOGFONTW lf = {};
        ASSERT_TRUE(::GetObjectW(f3->font.get(), sizeof(lf), &lf));
        EXPECT_EQ(lf.lfHeight, -16);
        EXPECT_EQ(lf.lfWeight, FW_BOLD);
        EXPECT_EQ(t.pm.GetDefaultFontInfo()->faceName, L"Tahoma");
        EXPECT_TRUE(other.FindFont(1000));  // shared with every manager
        EXPECT_FALSE(other.FindFont(0));
        EXPECT_FALSE(t.pm.FindFont(-1));
        EXPECT_EQ(t.pm.GetFont(99), t.pm.GetDefaultFontInfo()->font.get());  // unknown ids: the default font

        // A missing image is reported, not fatal.
        EXPECT_TRUE(Logged(L"Image/missing.png"));

        // The default list first, then the element's own attributes.
        EXPECT_EQ(t.Find(L"d")->GetBkColor(), 0xFF112233u);
        EXPECT_EQ(t.Find(L"d")->GetFixedWidth(), 30);
        EXPECT_EQ(t.Find(L"o")->GetFixedWidth(), 40);
        EXPECT_EQ(t.Find(L"o")->GetBkColor(), 0xFF112233u);
        // A value naming a style applies the style instead of the attribute.
        EXPECT_EQ(t.Find(L"s")->GetBkColor(), 0xFFFF0000u);
        EXPECT_EQ(t.Find(L"s")->GetFixedHeight(), 7);
        EXPECT_TRUE(t.Find(L"s")->GetBkImage().empty());
        EXPECT_EQ(t.Find(L"w")->GetFixedWidth(), 55);  // shared style, single-quoted list value
        EXPECT_EQ(t.Find(L"w")->GetMinWidth(), 0);
        // Names the class does not know are kept as custom attributes.
        EXPECT_EQ(t.Find(L"x")->GetCustomAttribute(L"unknownattribute"), L"kept");
        EXPECT_TRUE(other.GetStyle(L"wide") != nullptr);
        EXPECT_TRUE(other.GetStyle(L"red") == nullptr);
    }
    CPaintManagerUI::ReleaseSharedResources();
    EXPECT_FALSE(other.FindFont(1000));
    EXPECT_TRUE(other.GetStyle(L"wide") == nullptr);
}

TEST_F(BuilderTest, FontsFollowTheDpi) {
    Tree t(LR"(<Window><Font id="1" name="Arial" size="12"/><Control/></Window>)", 144);
    LOGFONTW lf = {};
    ASSERT_TRUE(::GetObjectW(t.pm.GetFont(1), sizeof(lf), &lf));
    EXPECT_EQ(lf.lfHeight, -18);
    t.pm.SetDpi(192);
    ASSERT_TRUE(::GetObjectW(t.pm.GetFont(1), sizeof(lf), &lf));
    EXPECT_EQ(lf.lfHeight, -24);
}

TEST_F(BuilderTest, IncludeRepeatsNestsAndRegisters) {
    Write(L"font.xml",
          R"(<Window><Font id="0" name="Tahoma" size="12" default="true"/><Font id="7" name="Arial" size="9"/>)"
          R"(<Font id="1001" name="Arial" size="20" shared="true"/></Window>)");
    Write(L"cell.xml", R"(<Window><Control name="cell"/></Window>)");
    Write(L"row.xml", R"(<Window><HorizontalLayout><Include source="cell.xml" count="2"/></HorizontalLayout></Window>)");
    Write(L"main.xml", R"(<Window><Include source="font.xml"/><VerticalLayout name="v">)"
                       R"(<Include source="row.xml" count="3"/><Include source="row.xml" count="0"/>)"
                       R"(<Include source="" count="2"/></VerticalLayout></Window>)");
    CPaintManagerUI pm;
    CLayoutBuilder builder;
    CControlUI* root = builder.BuildFrom(L"main.xml", nullptr, nullptr, &pm);
    ASSERT_NE(root, nullptr);
    pm.AttachRoot(root);
    // The font file made no control: the root is the layout after it.
    EXPECT_EQ(root->GetName(), L"v");
    EXPECT_TRUE(pm.FindFont(0) && pm.FindFont(7) && pm.FindFont(1001));
    EXPECT_EQ(pm.GetDefaultFontInfo()->faceName, L"Tahoma");
    ASSERT_EQ(ChildCount(root), 3);
    for (int i = 0; i < 3; ++i) {
        CControlUI* row = static_cast<IContainerUI*>(root->GetInterface(L"IContainer"))->GetItemAt(i);
        EXPECT_STREQ(row->GetClass(), L"HorizontalLayoutUI");
        EXPECT_EQ(ChildCount(row), 2);
        EXPECT_EQ(row->GetParent(), root);
    }
    EXPECT_EQ(pm.FindSubControlsByClass(root, L"ControlUI").size(), 6u);
    EXPECT_TRUE(builder.GetBuildError().empty()) << testutil::WideToUtf8(builder.GetBuildError());
}

TEST_F(BuilderTest, IncludeOfItselfFailsClearlyAndKeepsTheRest) {
    Write(L"self.xml", R"(<Window><VerticalLayout name="top"><Control name="before"/>)"
                       R"(<Include source="Self.XML"/><Control name="after"/></VerticalLayout></Window>)");
    Write(L"a.xml", R"(<Window><VerticalLayout name="a"><Include source="b.xml"/></VerticalLayout></Window>)");
    Write(L"b.xml", R"(<Window><VerticalLayout name="b"><Include source="a.xml" count="1000"/></VerticalLayout></Window>)");
    for (const wchar_t* file : {L"self.xml", L"a.xml"}) {
        SCOPED_TRACE(testutil::WideToUtf8(file));
        CPaintManagerUI pm;
        CLayoutBuilder builder;
        CControlUI* root = builder.BuildFrom(file, nullptr, nullptr, &pm);
        ASSERT_NE(root, nullptr);
        pm.AttachRoot(root);
        EXPECT_NE(builder.GetBuildError().find(L"Include of itself"), std::wstring::npos)
            << testutil::WideToUtf8(builder.GetBuildError());
        EXPECT_TRUE(Logged(L"Include of itself"));
    }
    // What the self include kept.
    CPaintManagerUI pm;
    CLayoutBuilder builder;
    CControlUI* root = builder.BuildFrom(L"self.xml", nullptr, nullptr, &pm);
    ASSERT_NE(root, nullptr);
    pm.AttachRoot(root);
    EXPECT_EQ(ChildCount(root), 2);
    EXPECT_NE(pm.FindControl(std::wstring(L"after")), nullptr);
}

TEST_F(BuilderTest, AHugeIncludeCountStopsAtTheBudget) {
    Write(L"cell.xml", R"(<Window><Control/></Window>)");
    Write(L"many.xml", R"(<Window><VerticalLayout><Include source="cell.xml" count="2000000000"/></VerticalLayout></Window>)");
    CPaintManagerUI pm;
    CLayoutBuilder builder;
    CControlUI* root = builder.BuildFrom(L"many.xml", nullptr, nullptr, &pm);
    ASSERT_NE(root, nullptr);
    pm.AttachRoot(root);
    EXPECT_EQ(ChildCount(root), CLayoutBuilder::kMaxIncludes);
    EXPECT_NE(builder.GetBuildError().find(L"Too many included documents"), std::wstring::npos);
}

TEST_F(BuilderTest, LayoutsFromModuleResources) {
    CPaintManagerUI pm;
    CLayoutBuilder builder;
    CControlUI* root = builder.BuildFrom(STRINGorID(401u), L"XML", nullptr, &pm);
    ASSERT_NE(root, nullptr);
    pm.AttachRoot(root);
    EXPECT_EQ(root->GetName(), L"res401");
    EXPECT_NE(pm.FindControl(std::wstring(L"res401child")), nullptr);

    // Numeric sources of a typed builder are resource ids, includes too; 402
    // includes itself, which stops.
    CPaintManagerUI pm2;
    CLayoutBuilder b2;
    CControlUI* root2 = b2.BuildFrom(L"402", L"XML", nullptr, &pm2);
    ASSERT_NE(root2, nullptr);
    pm2.AttachRoot(root2);
    EXPECT_EQ(ChildCount(root2), 1);
    EXPECT_NE(b2.GetBuildError().find(L"Include of itself"), std::wstring::npos);

    CLayoutBuilder missing;
    EXPECT_EQ(missing.BuildFrom(STRINGorID(499u), L"XML", nullptr, &pm2), nullptr);
    EXPECT_FALSE(missing.GetBuildError().empty());
}

TEST_F(BuilderTest, StylesThatNameThemselvesAreCutOff) {
    Tree t(LR"(<Window>
        <Style name="loop" value="bkimage=&quot;loop&quot; bkcolor=&quot;#FF00FF00&quot;"/>
        <Style name="ping" value="text=&quot;pong&quot; width=&quot;11&quot;"/>
        <Style name="pong" value="text=&quot;ping&quot; height=&quot;12&quot;"/>
        <Style name="s1" value="a=&quot;s2&quot; b=&quot;s2&quot; c=&quot;s2&quot; d=&quot;s2&quot;"/>
        <Style name="s2" value="a=&quot;s3&quot; b=&quot;s3&quot; c=&quot;s3&quot; d=&quot;s3&quot;"/>
        <Style name="s3" value="a=&quot;s4&quot; b=&quot;s4&quot; c=&quot;s4&quot; d=&quot;s4&quot;"/>
        <Style name="s4" value="a=&quot;s5&quot; b=&quot;s5&quot; c=&quot;s5&quot; d=&quot;s5&quot;"/>
        <Style name="s5" value="a=&quot;s6&quot; b=&quot;s6&quot; c=&quot;s6&quot; d=&quot;s6&quot;"/>
        <Style name="s6" value="a=&quot;s7&quot; b=&quot;s7&quot; c=&quot;s7&quot; d=&quot;s7&quot;"/>
        <Style name="s7" value="a=&quot;s8&quot; b=&quot;s8&quot; c=&quot;s8&quot; d=&quot;s8&quot;"/>
        <Style name="s8" value="a=&quot;s9&quot; b=&quot;s9&quot; c=&quot;s9&quot; d=&quot;s9&quot;"/>
        <Style name="s9" value="a=&quot;1&quot;"/>
        <HorizontalLayout><Control name="c" bkimage="loop"/><Control name="p" text="ping"/>
        <Control name="e" x="s1" width="5"/></HorizontalLayout></Window>)");
    ASSERT_NE(t.root, nullptr);
    EXPECT_EQ(t.Find(L"c")->GetBkColor(), 0xFF00FF00u);  // the rest of the style still applies
    EXPECT_TRUE(t.Find(L"c")->GetBkImage().empty());
    EXPECT_EQ(t.Find(L"p")->GetFixedWidth(), 11);
    EXPECT_EQ(t.Find(L"p")->GetFixedHeight(), 12);
    EXPECT_TRUE(Logged(L"names itself"));
    // Four-fold fan-out over eight levels (65,536 expansions) stops at the budget.
    EXPECT_EQ(t.Find(L"e")->GetFixedWidth(), 5);
    EXPECT_TRUE(Logged(L"expand too often"));
}

TEST_F(BuilderTest, UnspecifiedAndUnknownElementsAreSkipped) {
    Tree t(LR"(<Window><VerticalLayout name="v">
        <List name="l"><ListHeader/></List>
        <TreeView><TreeNode name="n"/></TreeView>
        <Menu/><WebBrowser/><Combo/><Edit/><ActiveX/>
        <Bogus name="b"><Control name="inside"/></Bogus>
        <Control name="kept"/>
        </VerticalLayout></Window>)");
    ASSERT_NE(t.root, nullptr);
    EXPECT_EQ(ChildCount(t.root), 1);
    EXPECT_NE(t.Find(L"kept"), nullptr);
    EXPECT_EQ(t.Find(L"l"), nullptr);
    EXPECT_EQ(t.Find(L"inside"), nullptr);  // the skipped element's subtree goes with it
    for (const wchar_t* name : {L"<List>", L"<TreeView>", L"<Menu>", L"<WebBrowser>", L"<Bogus>"})
        EXPECT_TRUE(Logged(name)) << testutil::WideToUtf8(name);
}

TEST_F(BuilderTest, TheFactoryKnowsEveryClassAndBuildsItsOwn) {
    CControlFactory& f = CControlFactory::Instance();
    EXPECT_EQ(f.ClassNames().size(), 47u);
    for (const wchar_t* built : {L"CControlUI", L"CContainerUI", L"CHorizontalLayoutUI", L"CVerticalLayoutUI",
                                 L"CTabLayoutUI"}) {
        CControlUI* c = f.CreateControl(built);
        ASSERT_NE(c, nullptr) << testutil::WideToUtf8(built);
        EXPECT_EQ(std::wstring(L"C") + c->GetClass(), built);
        delete c;
    }
    for (const wchar_t* named : {L"CListUI", L"CTreeViewUI", L"CMenuUI", L"CWebBrowserUI", L"CRingUI"}) {
        EXPECT_TRUE(f.IsKnown(named));
        EXPECT_EQ(f.CreateControl(named), nullptr);
    }
    EXPECT_FALSE(f.IsKnown(L"CBogusUI"));
}

class Callback : public IDialogBuilderCallback {
public:
    CControlUI* CreateControlFor(const wchar_t* name) override {
        asked.push_back(name);
        return std::wstring(name) == L"Custom" ? new CContainerUI : nullptr;
    }
    std::vector<std::wstring> asked;
};

TEST_F(BuilderTest, TheCallbackMakesWhatTheFactoryCannot) {
    Callback cb;
    CPaintManagerUI pm;
    CLayoutBuilder builder;
    CControlUI* root = builder.BuildFrom(L"<Window><Custom name=\"c\"><Control name=\"in\"/></Custom></Window>",
                                         nullptr, &cb, &pm);
    ASSERT_NE(root, nullptr);
    pm.AttachRoot(root);
    EXPECT_EQ(root->GetName(), L"c");
    EXPECT_NE(pm.FindControl(std::wstring(L"in")), nullptr);
    EXPECT_EQ(cb.asked, std::vector<std::wstring>{L"Custom"});  // factory classes never reach the callback
}

TEST_F(BuilderTest, LoadAndParseFailuresReturnNothing) {
    CPaintManagerUI pm;
    struct Case {
        const wchar_t* source;
        const wchar_t* message;
    } cases[] = {
        {L"<Window><Control name='x'/></Window>", L"Expected attribute value"},
        {L"<Window><Control></Window>", L"Unmatched closing tag"},
        {L"missing.xml", L"Error opening file"},
        {L"<Window/>", L""},  // parses, but holds no control
    };
    for (const Case& c : cases) {
        CLayoutBuilder b;
        EXPECT_EQ(b.BuildFrom(c.source, nullptr, nullptr, &pm), nullptr);
        std::wstring message, location;
        b.GetLastErrorMessage(message, location);
        EXPECT_EQ(message, c.message) << testutil::WideToUtf8(c.source);
    }
}

// 200,000 nested elements: the file fits the markup limit, the parser reads it
// without recursion, and the builder follows only kMaxNesting levels.
TEST_F(BuilderTest, DeepNestingIsBoundedNotFatal) {
    const int depth = 200000;
    std::string text = "<Window>";
    text.reserve(static_cast<size_t>(depth) * 23 + 32);
    for (int i = 0; i < depth; ++i) text += "<Container>";
    for (int i = 0; i < depth; ++i) text += "</Container>";
    text += "</Window>";
    ASSERT_GT(text.size(), kMaxMarkupFileSize);
    // The control class with the shortest name keeps the file under 4 MiB.
    std::string controls = "<Window>";
    for (int i = 0; i < depth; ++i) controls += "<Control>";
    for (int i = 0; i < depth; ++i) controls += "</Control>";
    controls += "</Window>";
    ASSERT_LE(controls.size(), kMaxMarkupFileSize);
    Write(L"deep.xml", controls);
    {
        CPaintManagerUI pm;
        CLayoutBuilder b;
        CControlUI* root = b.BuildFrom(L"deep.xml", nullptr, nullptr, &pm);
        ASSERT_NE(root, nullptr);
        pm.AttachRoot(root);
        EXPECT_NE(b.GetBuildError().find(L"nested deeper"), std::wstring::npos);
    }
    // Containers (from text, no size limit): the tree stops at the bound.
    CPaintManagerUI pm;
    CLayoutBuilder b;
    CControlUI* root = b.BuildFrom(testutil::Utf8ToWide(text), nullptr, nullptr, &pm);
    ASSERT_NE(root, nullptr);
    pm.AttachRoot(root);
    int levels = 0;
    for (CControlUI* c = root; c; ++levels) {
        auto* container = static_cast<IContainerUI*>(c->GetInterface(L"IContainer"));
        c = container && container->GetCount() ? container->GetItemAt(0) : nullptr;
    }
    EXPECT_EQ(levels, CLayoutBuilder::kMaxNesting);
    pm.LayoutTo(RECT{0, 0, 100, 100});
}

// The Window element's attributes reach a manager with a window.
TEST_F(BuilderTest, WindowAttributesApplyToAManagerWithAWindow) {
    const nq::unique_hwnd wnd(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                                ::GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(wnd);
    CPaintManagerUI pm;
    pm.Init(wnd.get(), L"test");
    CLayoutBuilder b;
    CControlUI* root = b.BuildFrom(
        L"<Window size=\"300,200\" caption=\"0,0,0,66\" sizebox=\"4,5,6,7\" roundcorner=\"5,6\" mininfo=\"200,100\" "
        L"maxinfo=\"900,800\" sizeboxinset=\"1,2,3,4\" defaultfontcolor=\"#FF123456\" tooltiphovertime=\"250\" "
        L"KillFocusSendButtonUp=\"false\" normaltab=\"false\" outlinetext=\"true\" textrenderinghint=\"5\" "
        L"gdiplustext=\"true\"><Control/></Window>",
        nullptr, nullptr, &pm);
    ASSERT_NE(root, nullptr);
    pm.AttachRoot(root);
    RECT rc;
    ::GetWindowRect(wnd.get(), &rc);
    EXPECT_EQ(rc.right - rc.left, 300);
    EXPECT_EQ(rc.bottom - rc.top, 200);
    EXPECT_EQ(pm.GetCaptionRect().bottom, 66);
    EXPECT_EQ(pm.GetSizeBox().top, 5);
    EXPECT_EQ(pm.GetSizeBoxInset().right, 3);
    EXPECT_EQ(pm.GetRoundCorner().cy, 6);
    EXPECT_EQ(pm.GetMinInfo().cx, 200);
    EXPECT_EQ(pm.GetMaxInfo().cy, 800);
    EXPECT_EQ(pm.GetDefaultFontColor(), 0xFF123456u);
    EXPECT_EQ(pm.GetHoverTime(), 250u);
    EXPECT_FALSE(pm.IsKillFocusSendButtonUp());
    EXPECT_FALSE(pm.IsNormalTab());
    EXPECT_EQ(pm.GetGdiplusTextRenderingHint(), 5);
    EXPECT_TRUE(pm.IsUseGdiplusText());
    EXPECT_FALSE(pm.IsUseTextDesigner());  // outlinetext has no effect
}

}  // namespace
