// Layout rules of the container, the horizontal, vertical and tab layouts,
// floating children and DPI scaling, on a paint manager without a window.
#include <gtest/gtest.h>

#include <vector>

#include "tests/common/testutil.h"
#include "tests/ui/uitree.h"
#include "ui/control/uilayout.h"

namespace {

using namespace SkinUI;
using uitest::RectText;
using uitest::Tree;

struct Expect {
    const wchar_t* name;
    RECT rc;
};

struct LayoutCase {
    const char* what;
    const wchar_t* xml;
    SIZE client;
    std::vector<Expect> expect;
};

// A layout document around the cases' markup, which writes attribute quotes as
// apostrophes for legibility.
std::wstring Q(const std::wstring& xml) {
    std::wstring s = xml;
    for (wchar_t& ch : s)
        if (ch == L'\'') ch = L'"';
    return L"<Window>" + s + L"</Window>";
}

void RunCases(const std::vector<LayoutCase>& cases, int dpi = 96) {
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.what);
        Tree t(Q(c.xml), dpi);
        ASSERT_NE(t.root, nullptr) << testutil::WideToUtf8(t.buildError);
        t.Layout(c.client.cx, c.client.cy);
        for (const Expect& e : c.expect) {
            const RECT got = t.Pos(e.name);
            EXPECT_TRUE(EqualRect(&got, &e.rc))
                << testutil::WideToUtf8(e.name) << " at " << RectText(got) << ", expected " << RectText(e.rc);
        }
    }
}

TEST(HorizontalLayout, Rules) {
    RunCases({
        {"stretch children share what the fixed widths leave",
         L"<HorizontalLayout><Control name='a'/><Control name='b' width='100'/><Control name='c'/></HorizontalLayout>",
         {600, 100},
         {{L"a", {0, 0, 250, 100}}, {L"b", {250, 0, 350, 100}}, {L"c", {350, 0, 600, 100}}}},
        {"the last stretch child takes the remainder",
         L"<HorizontalLayout><Control name='a'/><Control name='b' width='100'/><Control name='c'/></HorizontalLayout>",
         {601, 100},
         {{L"a", {0, 0, 250, 100}}, {L"c", {350, 0, 601, 100}}}},
        {"a stretch control, an option-sized control, an auto-width layout and a second stretch control",
         L"<HorizontalLayout><Control name='s1'/><Control name='opt' width='100'/>"
         L"<HorizontalLayout name='auto' autocalcwidth='true'><Control width='70'/></HorizontalLayout>"
         L"<Control name='s2'/></HorizontalLayout>",
         {601, 40},
         {{L"s1", {0, 0, 215, 40}}, {L"opt", {215, 0, 315, 40}}, {L"auto", {315, 0, 385, 40}},
          {L"s2", {385, 0, 601, 40}}}},
        {"ExpandBalance hands the remainder out from the first",
         L"<HorizontalLayout ExpandBalance='true'><Control name='a'/><Control name='b'/><Control name='c'/>"
         L"</HorizontalLayout>",
         {602, 10},
         {{L"a", {0, 0, 201, 10}}, {L"b", {201, 0, 402, 10}}, {L"c", {402, 0, 602, 10}}}},
        {"without ExpandBalance the last takes it",
         L"<HorizontalLayout><Control name='a'/><Control name='b'/><Control name='c'/></HorizontalLayout>",
         {602, 10},
         {{L"a", {0, 0, 200, 10}}, {L"b", {200, 0, 400, 10}}, {L"c", {400, 0, 602, 10}}}},
        {"padding moves the child and takes from its height",
         L"<HorizontalLayout><Control name='a' width='100' padding='10,5,20,15'/><Control name='b' width='50'/>"
         L"</HorizontalLayout>",
         {600, 100},
         {{L"a", {10, 5, 110, 85}}, {L"b", {130, 0, 180, 100}}}},
        {"childpadding between children only",
         L"<HorizontalLayout childpadding='10'><Control name='a' width='100'/><Control name='b' width='100'/>"
         L"<Control name='c'/></HorizontalLayout>",
         {600, 100},
         {{L"a", {0, 0, 100, 100}}, {L"b", {110, 0, 210, 100}}, {L"c", {220, 0, 600, 100}}}},
        {"childpadding written with a space before the quote",
         L"<HorizontalLayout childpadding= \"15\"><Control name='a' width='10'/><Control name='b' width='10'/>"
         L"</HorizontalLayout>",
         {100, 10},
         {{L"b", {25, 0, 35, 10}}}},
        {"inset",
         L"<HorizontalLayout inset='10,10,10,10'><Control name='a'/></HorizontalLayout>",
         {600, 100},
         {{L"a", {10, 10, 590, 90}}}},
        {"vertical centring by childvalign ignores padding.top",
         L"<HorizontalLayout childvalign='vcenter'><Control name='a' width='50' height='40' padding='0,7,0,0'/>"
         L"</HorizontalLayout>",
         {600, 100},
         {{L"a", {0, 30, 50, 70}}}},
        {"bottom alignment keeps padding.bottom",
         L"<HorizontalLayout childvalign='bottom'><Control name='a' width='50' height='40' padding='0,0,0,5'/>"
         L"</HorizontalLayout>",
         {600, 100},
         {{L"a", {0, 55, 50, 95}}}},
        {"horzpaddingcenter centres in the layout's full rectangle",
         L"<HorizontalLayout inset='0,0,40,0'><Control width='50'/><Control name='c' width='100' "
         L"horzpaddingcenter='true'/></HorizontalLayout>",
         {600, 100},
         {{L"c", {250, 0, 350, 100}}}},
        {"vertpaddingcenter",
         L"<HorizontalLayout><Control name='c' width='10' height='40' vertpaddingcenter='true'/></HorizontalLayout>",
         {600, 100},
         {{L"c", {0, 30, 10, 70}}}},
        {"horzpaddingcenter is true only for the exact word",
         L"<HorizontalLayout><Control name='c' width='100' horzpaddingcenter='1'/></HorizontalLayout>",
         {600, 100},
         {{L"c", {0, 0, 100, 100}}}},
        {"a width above the maximum is clamped",
         L"<HorizontalLayout><Control name='a' width='700' maxwidth='300'/><Control name='b'/></HorizontalLayout>",
         {600, 100},
         {{L"a", {0, 0, 300, 100}}, {L"b", {300, 0, 600, 100}}}},
        {"a stretch child below its minimum grows to it",
         L"<HorizontalLayout><Control name='a' minwidth='400'/></HorizontalLayout>",
         {300, 100},
         {{L"a", {0, 0, 400, 100}}}},
        {"heights: fixed, capped by the client, and clamped to the maximum",
         L"<HorizontalLayout><Control name='a' width='10' height='40'/><Control name='b' width='10' height='200'/>"
         L"<Control name='c' width='10' maxheight='30'/><Control name='d' width='10' minheight='150'/>"
         L"</HorizontalLayout>",
         {600, 100},
         {{L"a", {0, 0, 10, 40}}, {L"b", {10, 0, 20, 100}}, {L"c", {20, 0, 30, 30}}, {L"d", {30, 0, 40, 150}}}},
        {"hidden children take no room",
         L"<HorizontalLayout><Control name='a' width='100' visible='false'/><Control name='b'/></HorizontalLayout>",
         {600, 100},
         {{L"b", {0, 0, 600, 100}}}},
        {"negative sizes are ignored",
         L"<HorizontalLayout><Control name='a' width='100'/><Control name='b' width='-5'/></HorizontalLayout>",
         {600, 10},
         {{L"b", {100, 0, 600, 10}}}},
    });
}

TEST(VerticalLayout, Rules) {
    RunCases({
        {"stretch children share the height",
         L"<VerticalLayout><Control name='a'/><Control name='b' height='100'/><Control name='c'/></VerticalLayout>",
         {100, 601},
         {{L"a", {0, 0, 100, 250}}, {L"b", {0, 250, 100, 350}}, {L"c", {0, 350, 100, 601}}}},
        {"childalign center",
         L"<VerticalLayout childalign='center'><Control name='a' width='40' height='20'/></VerticalLayout>",
         {100, 600},
         {{L"a", {30, 0, 70, 20}}}},
        {"childalign right keeps padding.right",
         L"<VerticalLayout childalign='right'><Control name='a' width='40' height='20' padding='0,0,5,0'/>"
         L"</VerticalLayout>",
         {100, 600},
         {{L"a", {55, 0, 95, 20}}}},
        {"a child's own horizontal float-alignment bits win over the container's",
         L"<VerticalLayout childalign='center'><Control name='a' width='40' height='20' floatalign='right'/>"
         L"</VerticalLayout>",
         {100, 600},
         {{L"a", {60, 0, 100, 20}}}},
        {"vertical child padding",
         L"<VerticalLayout childpadding='5,8'><Control name='a' height='20'/><Control name='b' height='20'/>"
         L"</VerticalLayout>",
         {100, 600},
         {{L"a", {0, 0, 100, 20}}, {L"b", {0, 28, 100, 48}}}},
        {"width from the client minus padding, capped and clamped",
         L"<VerticalLayout><Control name='a' height='10' padding='5,0,10,0'/><Control name='b' height='10' "
         L"width='300'/><Control name='c' height='10' maxwidth='30'/></VerticalLayout>",
         {100, 600},
         {{L"a", {5, 0, 90, 10}}, {L"b", {0, 10, 100, 20}}, {L"c", {0, 20, 30, 30}}}},
        {"a height above the maximum is clamped",
         L"<VerticalLayout><Control name='a' height='700' maxheight='300'/><Control name='b'/></VerticalLayout>",
         {100, 600},
         {{L"a", {0, 0, 100, 300}}, {L"b", {0, 300, 100, 600}}}},
        {"padding on the vertical axis",
         L"<VerticalLayout><Control name='a' height='50' padding='0,10,0,20'/><Control name='b'/></VerticalLayout>",
         {100, 600},
         {{L"a", {0, 10, 100, 60}}, {L"b", {0, 80, 100, 600}}}},
    });
}

TEST(ContainerLayout, ChildrenOverlapOverTheClientRectangle) {
    RunCases({
        {"plain container",
         L"<Container inset='2,2,2,2'><Control name='a'/><Control name='b' maxwidth='50'/></Container>",
         {100, 100},
         {{L"a", {2, 2, 98, 98}}, {L"b", {2, 2, 52, 98}}}},
    });
}

TEST(FloatLayout, PositionsAgainstTheContainer) {
    RunCases({
        {"pos relative to the container's full rectangle",
         L"<VerticalLayout inset='5,7,0,0'><HorizontalLayout name='row' height='100' inset='3,3,3,3'>"
         L"<Control name='f' float='true' pos='10,20,110,70'/><Control name='s'/></HorizontalLayout></VerticalLayout>",
         {600, 200},
         {{L"row", {5, 7, 600, 107}}, {L"f", {15, 27, 115, 77}}, {L"s", {8, 10, 597, 104}}}},
        {"floatalign right,vcenter: 38x34 at the right edge of a 500x34 layout",
         L"<HorizontalLayout><Control name='b' float='true' floatalign='right,vcenter' width='38' height='34'/>"
         L"</HorizontalLayout>",
         {500, 34},
         {{L"b", {462, 0, 500, 34}}}},
        {"floatalign center bottom (separated by a space)",
         L"<HorizontalLayout><Control name='b' float='true' floatalign='center bottom' width='100' height='20'/>"
         L"</HorizontalLayout>",
         {600, 100},
         {{L"b", {250, 80, 350, 100}}}},
        {"floatalign keeps the position on an axis without bits",
         L"<HorizontalLayout><Control name='b' float='true' floatalign='right' pos='0,30,0,0' width='20' "
         L"height='20'/></HorizontalLayout>",
         {600, 100},
         {{L"b", {580, 30, 600, 50}}}},
        {"floatalign nullptr clears every bit",
         L"<HorizontalLayout><Control name='b' float='true' floatalign='right,bottom' floatalign='nullptr' "
         L"pos='4,5,14,15'/></HorizontalLayout>",
         {600, 100},
         {{L"b", {4, 5, 14, 15}}}},
        {"float percentages",
         L"<HorizontalLayout><Control name='b' float='0.5,0.5,0.5,0.5' pos='1,2,21,12'/></HorizontalLayout>",
         {600, 100},
         {{L"b", {301, 52, 321, 62}}}},
        {"pos 0,10,0,0 then width 600 and height 24",
         L"<VerticalLayout><HorizontalLayout name='f' float='true' pos='0,10,0,0' width='600' height='24'/>"
         L"</VerticalLayout>",
         {800, 200},
         {{L"f", {0, 10, 600, 34}}}},
        {"a negative left in pos takes the right value",
         L"<HorizontalLayout><Control name='b' float='true' pos='-5,3,20,13'/></HorizontalLayout>",
         {600, 100},
         {{L"b", {20, 3, 45, 13}}}},
        {"floating children take no room in the flow",
         L"<HorizontalLayout><Control float='true' pos='0,0,300,10'/><Control name='s'/></HorizontalLayout>",
         {600, 100},
         {{L"s", {0, 0, 600, 100}}}},
    });
}

TEST(TabLayout, OnlyTheCurrentPageIsLaidOut) {
    RunCases({
        {"the first page is current",
         L"<TabLayout name='t'><Control name='p0'/><Control name='p1'/></TabLayout>",
         {200, 100},
         {{L"p0", {0, 0, 200, 100}}}},
        {"selectedid picks a page; padding and inset apply",
         L"<TabLayout name='t' selectedid='1' inset='10,0,0,0'><Control name='p0'/>"
         L"<Control name='p1' padding='5,5,5,5'/></TabLayout>",
         {200, 100},
         {{L"p1", {15, 5, 195, 95}}}},
        {"a page's maximum size is kept",
         L"<TabLayout><Control name='p0' maxwidth='50' maxheight='40'/></TabLayout>",
         {200, 100},
         {{L"p0", {0, 0, 50, 40}}}},
    });
}

// The same tree at 100, 125, 150 and 200 %: sizes, padding, insets and float
// positions scale; child padding stays unless DpiChildPadding; a tab layout's
// inset stays as written.
TEST(LayoutDpi, SameTreeAtFourScales) {
    const wchar_t* xml =
        L"<VerticalLayout><HorizontalLayout name='row' height='100' inset='4,4,4,4' childpadding='6'>"
        L"<Control name='a' width='100' padding='2,0,0,0'/><Control name='b'/>"
        L"<Control name='f' float='true' pos='10,10,30,20'/></HorizontalLayout>"
        L"<TabLayout name='tab' inset='10,0,0,0'><Control name='p'/></TabLayout></VerticalLayout>";
    struct Case {
        int dpi;
        RECT a, b, f, p;
    } cases[] = {
        {96, {6, 4, 106, 96}, {112, 4, 396, 96}, {10, 10, 30, 20}, {10, 100, 400, 200}},
        {120, {8, 5, 133, 120}, {139, 5, 495, 120}, {13, 13, 38, 26}, {10, 125, 500, 250}},
        {144, {9, 6, 159, 144}, {165, 6, 594, 144}, {15, 15, 45, 30}, {10, 150, 600, 300}},
        {192, {12, 8, 212, 192}, {218, 8, 792, 192}, {20, 20, 60, 40}, {10, 200, 800, 400}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        Tree t(Q(xml), c.dpi);
        ASSERT_NE(t.root, nullptr);
        const int percent = c.dpi * 100 / 96;
        t.Layout(400 * percent / 100, 200 * percent / 100);
        const Expect expect[] = {{L"a", c.a}, {L"b", c.b}, {L"f", c.f}, {L"p", c.p}};
        for (const Expect& e : expect) {
            const RECT got = t.Pos(e.name);
            EXPECT_TRUE(EqualRect(&got, &e.rc))
                << testutil::WideToUtf8(e.name) << " at " << RectText(got) << ", expected " << RectText(e.rc);
        }
    }
}

TEST(LayoutDpi, ChildPaddingScalesOnlyWhenAsked) {
    for (const bool scaled : {false, true}) {
        Tree t(Q(std::wstring(L"<HorizontalLayout childpadding='10' DpiChildPadding='") + (scaled ? L"true" : L"false") +
                   L"'><Control name='a' width='10'/><Control name='b' width='10'/></HorizontalLayout>"),
               192);
        t.Layout(400, 100);
        EXPECT_EQ(t.Pos(L"b").left, scaled ? 40 : 30);
    }
}

// Tab selection: notifications, the index on adding and removing.
class Recorder : public INotifyUI {
public:
    void Notify(NotifyMessage& msg) override {
        if (msg.sType == L"tabselect") log.push_back({msg.wParam, msg.lParam});
    }
    std::vector<std::pair<WPARAM, LPARAM>> log;
};

TEST(TabLayout, SelectionNotifiesAndKeepsTheIndexAcrossChanges) {
    Tree t(Q(L"<TabLayout name='t'><Control name='p0'/><Control name='p1'/><Control name='p2'/></TabLayout>"));
    ASSERT_NE(t.root, nullptr);
    Recorder rec;
    t.pm.AddNotifier(&rec);
    t.Layout(200, 100);
    auto* tab = static_cast<CTabLayoutUI*>(t.Find(L"t")->GetInterface(L"TabLayout"));
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->GetCurSel(), 0);
    EXPECT_FALSE(t.Find(L"p1")->IsVisible());

    EXPECT_TRUE(tab->SelectItem(0));  // the current page: no notification
    EXPECT_TRUE(rec.log.empty());
    EXPECT_FALSE(tab->SelectItem(3));  // out of range: nothing changes
    EXPECT_FALSE(tab->SelectItem(-1));
    EXPECT_EQ(tab->GetCurSel(), 0);

    EXPECT_TRUE(tab->SelectItem(2, false));
    ASSERT_EQ(rec.log.size(), 1u);
    EXPECT_EQ(rec.log[0].first, 2u);
    EXPECT_EQ(rec.log[0].second, 0);
    EXPECT_TRUE(t.Find(L"p2")->IsVisible());
    EXPECT_FALSE(t.Find(L"p0")->IsVisible());
    t.Layout(200, 100);
    const RECT p2 = t.Pos(L"p2");
    EXPECT_EQ(RectText(p2), RectText(RECT{0, 0, 200, 100}));

    // Inserting before the current page moves its index up.
    CControlUI* added = new CControlUI;
    EXPECT_TRUE(tab->AddAt(added, 0));
    EXPECT_EQ(tab->GetCurSel(), 3);
    EXPECT_FALSE(added->IsVisible());
    // Removing an earlier page moves it down; removing the current one selects page 0.
    EXPECT_TRUE(tab->Remove(added));
    EXPECT_EQ(tab->GetCurSel(), 2);
    EXPECT_TRUE(tab->Remove(t.Find(L"p2")));
    EXPECT_EQ(tab->GetCurSel(), 0);
    EXPECT_TRUE(tab->GetItemAt(0)->IsVisible());
    tab->RemoveAll();
    EXPECT_EQ(tab->GetCurSel(), -1);
    t.pm.ProcessQueuedWork();
    t.pm.RemoveNotifier(&rec);
}

// Children of a hidden page are not visible: the tree search, focus and Tab
// order see them as hidden.
TEST(TabLayout, ChildrenOfHiddenPagesAreHidden) {
    Tree t(Q(L"<TabLayout name='t'><VerticalLayout><Control name='a'/></VerticalLayout>"
             L"<VerticalLayout><Control name='b'/></VerticalLayout></TabLayout>"));
    ASSERT_NE(t.root, nullptr);
    EXPECT_TRUE(t.Find(L"a")->IsVisible());
    EXPECT_FALSE(t.Find(L"b")->IsVisible());
    static_cast<CTabLayoutUI*>(t.Find(L"t")->GetInterface(L"TabLayout"))->SelectItem(1, false);
    EXPECT_FALSE(t.Find(L"a")->IsVisible());
    EXPECT_TRUE(t.Find(L"b")->IsVisible());
}

}  // namespace
