// The standard controls on a paint manager without a window: state painting
// read back from a 32-bit DIB, the button's event sequences, option groups,
// the progress bar's fill and the self-sizing label.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/testutil.h"
#include "tests/common/ziputil.h"
#include "tests/ui/uitree.h"
#include "ui/builder/uifactory.h"
#include "ui/control/uilayout.h"
#include "ui/controls/uibutton.h"
#include "ui/controls/uilabel.h"
#include "ui/controls/uioption.h"
#include "ui/controls/uiprogress.h"
#include "ui/controls/uiscrollbar.h"
#include "ui/core/uiskinfile.h"
#include "ui/render/uiimage.h"

namespace {

using namespace SkinUI;
using uitest::Tree;

std::string SolidPng(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> px;
    for (int i = 0; i < w * h; ++i) px.insert(px.end(), {r, g, b, 255});
    return ziputil::EncodePng(w, h, px);
}

// Four 10 x 10 frames side by side: red, green, blue, white.
std::string FramesPng() {
    const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    std::vector<uint8_t> px;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 40; ++x) px.insert(px.end(), {colours[x / 10][0], colours[x / 10][1], colours[x / 10][2], 255});
    return ziputil::EncodePng(40, 10, px);
}

const std::string& ControlsSkin() {
    static const std::string bytes = ziputil::BuildZip({
        {"Image/normal.png", SolidPng(4, 4, 255, 0, 0)},
        {"Image/hot.png", SolidPng(4, 4, 0, 255, 0)},
        {"Image/pushed.png", SolidPng(4, 4, 0, 0, 255)},
        {"Image/focused.png", SolidPng(4, 4, 255, 255, 0)},
        {"Image/disabled.png", SolidPng(4, 4, 128, 128, 128)},
        {"Image/selected.png", SolidPng(4, 4, 0, 255, 255)},
        {"Image/fore.png", SolidPng(4, 4, 255, 0, 255)},
        {"Image/frames.png", FramesPng()},
    });
    return bytes;
}

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        CSkinPackage::Reset();
        const std::string& pkg = ControlsSkin();
        CSkinPackage::SetResourceZipMemory(pkg.data(), static_cast<DWORD>(pkg.size()), L"", 0);
    }
    void TearDown() override { CSkinPackage::Reset(); }
};

// Markup with apostrophes for attribute quotes, inside a Window element.
std::wstring Q(const std::wstring& xml) {
    std::wstring s = xml;
    for (wchar_t& ch : s)
        if (ch == L'\'') ch = L'"';
    return L"<Window>" + s + L"</Window>";
}

// A 32-bit DIB in its own DC.
class Canvas {
public:
    Canvas(int w, int h) : w_(w) {
        BYTE* bits = nullptr;
        bmp_ = CreateDib32(nullptr, w, h, &bits);
        bits_ = reinterpret_cast<DWORD*>(bits);
        dc_.reset(::CreateCompatibleDC(nullptr));
        select_.reset(new nq::scoped_select(dc_.get(), bmp_.get()));
    }
    HDC dc() const { return dc_.get(); }
    DWORD At(int x, int y) const {
        ::GdiFlush();
        return bits_[y * w_ + x] & 0xFFFFFF;
    }

private:
    int w_;
    nq::unique_hbitmap bmp_;
    nq::unique_hdc dc_;
    DWORD* bits_ = nullptr;
    std::unique_ptr<nq::scoped_select> select_;  // ends before the DC and the bitmap
};

// The notifications of named controls, as "type:sender" (and ":wParam" when
// asked); the layouts' own (mouse moves passed up to them) are left out.
class Recorder : public INotifyUI {
public:
    explicit Recorder(bool withParam = false) : withParam_(withParam) {}
    void Notify(NotifyMessage& msg) override {
        if (msg.sType == L"windowinit" || msg.sType == L"windowsize" || msg.sType == L"setfocus" ||
            msg.sType == L"killfocus" || !msg.pSender || msg.pSender->GetName().empty())
            return;
        std::string s = testutil::WideToUtf8(msg.sType) + ":" +
                        testutil::WideToUtf8(msg.pSender->GetName());
        if (withParam_) s += ":" + std::to_string(msg.wParam);
        log.push_back(s);
    }
    std::vector<std::string> log;

private:
    bool withParam_;
};

ControlEvent MakeEvent(int type, CControlUI* control, POINT pt = {-1, -1}, WPARAM wParam = 0) {
    ControlEvent e;
    e.Type = type;
    e.pSender = control;
    e.ptMouse = pt;
    e.wParam = wParam;
    e.chKey = static_cast<WCHAR>(wParam);
    return e;
}

POINT Centre(CControlUI* c) {
    const RECT& rc = c->GetPos();
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

constexpr DWORD kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00, kGrey = 0x808080,
                kCyan = 0x00FFFF, kWhite = 0xFFFFFF;

// --- state painting ---------------------------------------------------------------------

TEST_F(ControlsTest, ButtonPaintsTheImageOfItsState) {
    struct Case {
        const char* what;
        const wchar_t* attrs;
        std::function<void(Tree&, CButtonUI*)> setup;
        DWORD expect;
    };
    const wchar_t* all =
        L"normalimage='Image/normal.png' hotimage='Image/hot.png' pushedimage='Image/pushed.png' "
        L"focusedimage='Image/focused.png' disabledimage='Image/disabled.png'";
    auto hot = [](Tree&, CButtonUI* b) {
        ControlEvent e = MakeEvent(UIEVENT_MOUSEENTER, b, Centre(b));
        b->Event(e);
    };
    auto pushedHot = [](Tree&, CButtonUI* b) {
        ControlEvent enter = MakeEvent(UIEVENT_MOUSEENTER, b, Centre(b));
        b->Event(enter);
        ControlEvent down = MakeEvent(UIEVENT_BUTTONDOWN, b, Centre(b));
        b->Event(down);
    };
    auto focused = [](Tree& t, CButtonUI* b) { t.pm.SetFocus(b); };
    auto disabledHot = [](Tree&, CButtonUI* b) {
        b->SetButtonState(UISTATE_HOT | UISTATE_PUSHED);
        b->SetEnabled(false);
    };
    const std::vector<Case> cases = {
        {"normal", all, nullptr, kRed},
        {"hot", all, hot, kGreen},
        {"pushed wins over hot", all, pushedHot, kBlue},
        {"focused", all, focused, kYellow},
        {"disabled wins over every other state", all, disabledHot, kGrey},
        {"a missing hot image falls back to the normal one", L"normalimage='Image/normal.png'", hot, kRed},
        {"a hot image that cannot be loaded falls back to the normal one",
         L"normalimage='Image/normal.png' hotimage='Image/none.png'", hot, kRed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree t(Q(std::wstring(L"<HorizontalLayout><Button name='b' ") + c.attrs + L"/></HorizontalLayout>"));
        ASSERT_NE(t.root, nullptr) << testutil::WideToUtf8(t.buildError);
        t.Layout(40, 20);
        auto* b = static_cast<CButtonUI*>(t.Find(L"b")->GetInterface(L"Button"));
        ASSERT_NE(b, nullptr);
        if (c.setup) c.setup(t, b);
        Canvas canvas(40, 20);
        t.pm.PaintTo(canvas.dc(), RECT{0, 0, 40, 20});
        EXPECT_EQ(canvas.At(20, 10), c.expect) << std::hex << canvas.At(20, 10);
    }
}

TEST_F(ControlsTest, StateImageFramesBecomeTheStateImages) {
    struct Case {
        int count;
        const wchar_t* normal;
        const wchar_t* hot;
        const wchar_t* pushed;
        const wchar_t* disabled;
    };
    const wchar_t* f0 = L"res='Image/frames.png' restype='' dest='0,0,0,0' source='0,0,10,10'";
    const wchar_t* f1 = L"res='Image/frames.png' restype='' dest='0,0,0,0' source='10,0,20,10'";
    const wchar_t* f2 = L"res='Image/frames.png' restype='' dest='0,0,0,0' source='20,0,30,10'";
    const wchar_t* f3 = L"res='Image/frames.png' restype='' dest='0,0,0,0' source='30,0,40,10'";
    // The frame width is the image width divided by the count.
    const wchar_t* half0 = L"res='Image/frames.png' restype='' dest='0,0,0,0' source='0,0,20,10'";
    const wchar_t* half1 = L"res='Image/frames.png' restype='' dest='0,0,0,0' source='20,0,40,10'";
    const std::vector<Case> cases = {
        {4, f0, f1, f2, f3},
        {2, half0, half1, half1, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        Tree t(Q(L"<HorizontalLayout><Button name='b' stateimage='Image/frames.png' statecount='" +
                 std::to_wstring(c.count) + L"'/></HorizontalLayout>"));
        ASSERT_NE(t.root, nullptr);
        auto* b = static_cast<CButtonUI*>(t.Find(L"b")->GetInterface(L"Button"));
        t.Layout(40, 20);
        Canvas canvas(40, 20);
        t.pm.PaintTo(canvas.dc(), RECT{0, 0, 40, 20});
        EXPECT_EQ(b->GetNormalImage(), c.normal);
        EXPECT_EQ(b->GetHotImage(), c.hot);
        EXPECT_EQ(b->GetPushedImage(), c.pushed);
        EXPECT_EQ(b->GetDisabledImage(), c.disabled);
    }
    // Painted: frame 1 normally, frame 3 while pushed, frame 4 when disabled.
    Tree t(Q(L"<HorizontalLayout><Button name='b' stateimage='Image/frames.png' statecount='4'/></HorizontalLayout>"));
    auto* b = static_cast<CButtonUI*>(t.Find(L"b")->GetInterface(L"Button"));
    t.Layout(40, 20);
    Canvas canvas(40, 20);
    t.pm.PaintTo(canvas.dc(), RECT{0, 0, 40, 20});
    EXPECT_EQ(canvas.At(20, 10), kRed);
    b->SetButtonState(UISTATE_PUSHED);
    t.pm.PaintTo(canvas.dc(), RECT{0, 0, 40, 20});
    EXPECT_EQ(canvas.At(20, 10), kBlue);
    b->SetEnabled(false);
    t.pm.PaintTo(canvas.dc(), RECT{0, 0, 40, 20});
    EXPECT_EQ(canvas.At(20, 10), kWhite);
}

TEST_F(ControlsTest, SelectedOptionPaintsItsSelectedImage) {
    Tree t(Q(L"<HorizontalLayout><Option name='o' normalimage='Image/normal.png' hotimage='Image/hot.png' "
             L"selectedimage='Image/selected.png'/></HorizontalLayout>"));
    auto* o = static_cast<COptionUI*>(t.Find(L"o")->GetInterface(L"Option"));
    ASSERT_NE(o, nullptr);
    t.Layout(40, 20);
    Canvas canvas(40, 20);
    t.pm.PaintTo(canvas.dc(), RECT{0, 0, 40, 20});
    EXPECT_EQ(canvas.At(20, 10), kRed);
    o->SetSelected(true);
    t.pm.PaintTo(canvas.dc(), RECT{0, 0, 40, 20});
    EXPECT_EQ(canvas.At(20, 10), kCyan);
    // Hot while selected, without a selected-hot image: still the selected image.
    ControlEvent e = MakeEvent(UIEVENT_MOUSEENTER, o, Centre(o));
    o->Event(e);
    t.pm.PaintTo(canvas.dc(), RECT{0, 0, 40, 20});
    EXPECT_EQ(canvas.At(20, 10), kCyan);
}

// --- button events ----------------------------------------------------------------------

TEST_F(ControlsTest, ButtonEventSequences) {
    struct Step {
        int type;
        bool inside;
        WPARAM key;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::string> expect;
    };
    const std::vector<Case> cases = {
        {"press and release inside: down, up, click",
         {{UIEVENT_BUTTONDOWN, true, 0}, {UIEVENT_BUTTONUP, true, 0}},
         {"buttondown:b", "buttonup:b", "click:b"}},
        {"press, move out, release: down and up but no click",
         {{UIEVENT_BUTTONDOWN, true, 0}, {UIEVENT_MOUSEMOVE, false, 0}, {UIEVENT_BUTTONUP, false, 0}},
         {"buttondown:b", "mousemove:b", "buttonup:b"}},
        {"press, out and back in, release: click",
         {{UIEVENT_BUTTONDOWN, true, 0}, {UIEVENT_MOUSEMOVE, false, 0}, {UIEVENT_MOUSEMOVE, true, 0},
          {UIEVENT_BUTTONUP, true, 0}},
         {"buttondown:b", "mousemove:b", "mousemove:b", "buttonup:b", "click:b"}},
        {"release without a press sends nothing", {{UIEVENT_BUTTONUP, true, 0}}, {}},
        {"enter and leave", {{UIEVENT_MOUSEENTER, true, 0}, {UIEVENT_MOUSELEAVE, false, 0}},
         {"mouseenter:b", "mouseleave:b"}},
        {"space activates, then keydown", {{UIEVENT_KEYDOWN, true, VK_SPACE}}, {"click:b", "keydown:b"}},
        {"return activates", {{UIEVENT_KEYDOWN, true, VK_RETURN}}, {"click:b", "keydown:b"}},
        {"other keys do not", {{UIEVENT_KEYDOWN, true, 'A'}}, {"keydown:b"}},
        {"right press and release: rclick",
         {{UIEVENT_RBUTTONDOWN, true, 0}, {UIEVENT_RBUTTONUP, true, 0}},
         {"rbuttondown:b", "rbuttonup:b", "rclick:b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree t(Q(L"<HorizontalLayout><Button name='b' width='40'/><Control/></HorizontalLayout>"));
        ASSERT_NE(t.root, nullptr);
        t.Layout(100, 20);
        CControlUI* b = t.Find(L"b");
        Recorder rec;
        t.pm.AddNotifier(&rec);
        for (const Step& s : c.steps) {
            ControlEvent e = MakeEvent(s.type, b, s.inside ? POINT{20, 10} : POINT{80, 10}, s.key);
            b->Event(e);
        }
        EXPECT_EQ(rec.log, c.expect);
        const UINT state = static_cast<CButtonUI*>(b)->GetButtonState();
        EXPECT_EQ(state & (UISTATE_PUSHED | UISTATE_CAPTURED), 0u) << "pressed state left behind";
        t.pm.RemoveNotifier(&rec);
    }
}

TEST_F(ControlsTest, DisabledOrKeyboardInactiveButtonsDoNotClick) {
    Tree t(Q(L"<HorizontalLayout><Button name='off' enabled='false' width='40'/>"
             L"<Button name='nokeys' KeyboardActive='false' width='40'/></HorizontalLayout>"));
    t.Layout(80, 20);
    Recorder rec;
    t.pm.AddNotifier(&rec);
    CControlUI* off = t.Find(L"off");
    for (int type : {UIEVENT_BUTTONDOWN, UIEVENT_BUTTONUP}) {
        ControlEvent e = MakeEvent(type, off, POINT{20, 10});
        off->Event(e);
    }
    EXPECT_FALSE(off->Activate());
    CControlUI* nokeys = t.Find(L"nokeys");
    ControlEvent key = MakeEvent(UIEVENT_KEYDOWN, nokeys, POINT{60, 10}, VK_SPACE);
    nokeys->Event(key);
    EXPECT_EQ(rec.log, (std::vector<std::string>{"keydown:nokeys"}));
    t.pm.RemoveNotifier(&rec);
}

TEST_F(ControlsTest, ButtonSwitchesItsBoundTabLayout) {
    Tree t(Q(L"<VerticalLayout><Button name='b' height='20' bindtablayoutname='pages' bindtabindex='2'/>"
             L"<TabLayout name='pages'><Control/><Control/><Control name='third'/></TabLayout></VerticalLayout>"));
    ASSERT_NE(t.root, nullptr);
    t.Layout(100, 100);
    auto* tab = static_cast<CTabLayoutUI*>(t.Find(L"pages")->GetInterface(L"TabLayout"));
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->GetCurSel(), 0);
    EXPECT_TRUE(t.Find(L"b")->Activate());
    EXPECT_EQ(tab->GetCurSel(), 2);
}

// --- options ---------------------------------------------------------------------------

TEST_F(ControlsTest, OptionGroupKeepsOneSelected) {
    Tree t(Q(L"<HorizontalLayout><Option name='a' group='g' selected='true'/><Option name='b' group='g'/>"
             L"<Option name='c' group='g'/><Option name='solo'/><CheckBox name='chk'/></HorizontalLayout>"));
    ASSERT_NE(t.root, nullptr);
    t.Layout(250, 20);
    auto opt = [&](const wchar_t* n) { return static_cast<COptionUI*>(t.Find(n)->GetInterface(L"Option")); };
    Recorder rec(true);
    t.pm.AddNotifier(&rec);

    // Clicking b: the previously selected a reports first, then b.
    EXPECT_TRUE(opt(L"b")->Activate());
    EXPECT_EQ(rec.log, (std::vector<std::string>{"click:b:0", "selectchanged:a:0", "selectchanged:b:0"}));
    EXPECT_FALSE(opt(L"a")->IsSelected());
    EXPECT_TRUE(opt(L"b")->IsSelected());
    EXPECT_FALSE(opt(L"c")->IsSelected());

    // Clicking the selected option of a group keeps it selected, silently.
    rec.log.clear();
    opt(L"b")->Activate();
    EXPECT_EQ(rec.log, (std::vector<std::string>{"click:b:0"}));
    EXPECT_TRUE(opt(L"b")->IsSelected());

    // Selecting without notification changes the group silently.
    rec.log.clear();
    opt(L"c")->SetSelected(true, false);
    EXPECT_TRUE(rec.log.empty());
    EXPECT_FALSE(opt(L"b")->IsSelected());
    EXPECT_EQ(opt(L"c")->GetButtonState() & UISTATE_SELECTED, static_cast<UINT>(UISTATE_SELECTED));
    EXPECT_EQ(opt(L"b")->GetButtonState() & UISTATE_SELECTED, 0u);

    // Without a group an option toggles; a check box reports its new state.
    rec.log.clear();
    opt(L"solo")->Activate();
    opt(L"solo")->Activate();
    opt(L"chk")->Activate();
    opt(L"chk")->Activate();
    EXPECT_EQ(rec.log, (std::vector<std::string>{"click:solo:0", "selectchanged:solo:0", "click:solo:0",
                                                 "selectchanged:solo:0", "click:chk:0", "selectchanged:chk:1",
                                                 "click:chk:0", "selectchanged:chk:0"}));
    EXPECT_TRUE(opt(L"c")->IsSelected()) << "options outside the group leave it alone";
    t.pm.RemoveNotifier(&rec);
}

TEST_F(ControlsTest, RemovedOptionLeavesItsGroup) {
    Tree t(Q(L"<HorizontalLayout name='row'><Option name='a' group='g'/><Option name='b' group='g'/></HorizontalLayout>"));
    ASSERT_NE(t.root, nullptr);
    auto* row = static_cast<CContainerUI*>(t.Find(L"row")->GetInterface(L"Container"));
    ASSERT_NE(row, nullptr);
    ASSERT_NE(t.pm.GetOptionGroup(L"g"), nullptr);
    EXPECT_EQ(t.pm.GetOptionGroup(L"g")->size(), 2u);
    row->SetDelayedDestroy(false);
    row->Remove(t.Find(L"a"));
    const auto* group = t.pm.GetOptionGroup(L"g");
    EXPECT_TRUE(group == nullptr || group->size() == 1u);
    // Selecting the remaining one walks only live members.
    static_cast<COptionUI*>(t.Find(L"b")->GetInterface(L"Option"))->SetSelected(true);
}

// --- progress ---------------------------------------------------------------------------

TEST_F(ControlsTest, ProgressFillAndModifier) {
    struct Case {
        const char* what;
        const wchar_t* attrs;
        RECT fill;
        const wchar_t* modify;
    };
    const std::vector<Case> cases = {
        {"a quarter from the left", L"value='25'", {0, 0, 50, 12}, L"dest='0,0,50,12'"},
        {"cropped instead of stretched", L"value='25' isstretchfore='false'", {0, 0, 50, 12},
         L"dest='0,0,50,12' source='0,0,50,12'"},
        {"value below the minimum is the minimum", L"min='10' max='20' value='3'", {0, 0, 0, 12}, L""},
        {"value above the maximum is the maximum", L"min='10' max='20' value='99'", {0, 0, 200, 12},
         L"dest='0,0,200,12'"},
        {"min equal to max acts as max = min + 1 (empty)", L"min='5' max='5' value='5'", {0, 0, 0, 12}, L""},
        {"min equal to max acts as max = min + 1 (full)", L"min='5' max='5' value='8'", {0, 0, 200, 12},
         L"dest='0,0,200,12'"},
        {"max below min acts as max = min + 1", L"min='7' max='2' value='7'", {0, 0, 0, 12}, L""},
        {"vertical grows from the bottom", L"hor='false' height='40' value='25'", {0, 30, 200, 40},
         L"dest='0,30,200,40'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree t(Q(std::wstring(L"<VerticalLayout><Progress name='p' foreimage='Image/fore.png' ") + c.attrs +
                 L"/><Control/></VerticalLayout>"));
        ASSERT_NE(t.root, nullptr);
        t.Layout(200, 100);
        auto* p = static_cast<CProgressUI*>(t.Find(L"p")->GetInterface(L"Progress"));
        ASSERT_NE(p, nullptr);
        const RECT fill = p->GetFillRect();
        EXPECT_TRUE(EqualRect(&fill, &c.fill)) << uitest::RectText(fill);
        Canvas canvas(200, 100);
        t.pm.PaintTo(canvas.dc(), RECT{0, 0, 200, 100});
        EXPECT_EQ(p->GetForeImageModify(), c.modify);
        if (c.fill.right > c.fill.left) {
            const RECT& pos = p->GetPos();
            EXPECT_EQ(canvas.At(pos.left + c.fill.left + 1, pos.top + c.fill.bottom - 1), 0xFF00FFu)
                << "the fill is painted";
        }
    }
}

// At 150 % the modifier is written in unscaled pixels: the drawing scales it again.
TEST_F(ControlsTest, ProgressModifierIsUnscaled) {
    Tree t(Q(L"<VerticalLayout><Progress name='p' foreimage='Image/fore.png' value='25'/><Control/></VerticalLayout>"),
           144);
    ASSERT_NE(t.root, nullptr);
    t.Layout(300, 150);
    auto* p = static_cast<CProgressUI*>(t.Find(L"p")->GetInterface(L"Progress"));
    const RECT fill = p->GetFillRect();
    const RECT expect = {0, 0, 75, 18};
    EXPECT_TRUE(EqualRect(&fill, &expect)) << uitest::RectText(fill);
    EXPECT_EQ(p->MakeForeImageModify(), L"dest='0,0,50,12'");
    Canvas canvas(300, 150);
    t.pm.PaintTo(canvas.dc(), RECT{0, 0, 300, 150});
    EXPECT_EQ(canvas.At(73, 9), 0xFF00FFu) << "filled up to the scaled width";
    EXPECT_NE(canvas.At(78, 9), 0xFF00FFu) << "and no further";
}

TEST_F(ControlsTest, ProgressDefaultsAndPercentText) {
    Tree t(Q(L"<VerticalLayout><Progress name='p' showtext='true' min='0' max='3' value='1'/><Control/></VerticalLayout>"));
    ASSERT_NE(t.root, nullptr);
    t.Layout(200, 100);
    auto* p = static_cast<CProgressUI*>(t.Find(L"p")->GetInterface(L"Progress"));
    EXPECT_EQ(p->GetFixedHeight(), 12);
    EXPECT_EQ(p->GetTextStyle(), static_cast<UINT>(DT_CENTER | DT_SINGLELINE));
    EXPECT_EQ(p->GetText(), L"33%");
    p->SetProgressValue(3);
    EXPECT_EQ(p->GetText(), L"100%");
    p->SetMaxValue(0);  // max below min + 1: one step, value clamped to it
    EXPECT_EQ(p->GetText(), L"100%");
    // Whole percent, an exact half to the even neighbour.
    struct Case {
        int min, max, value;
        const wchar_t* text;
    } cases[] = {
        {0, 8, 1, L"12%"},   {0, 8, 3, L"38%"},   {0, 200, 1, L"0%"},     {0, 200, 3, L"2%"},
        {0, 3, 2, L"67%"},   {-50, 50, 0, L"50%"}, {0, 1000, 999, L"100%"}, {0, 1000, 994, L"99%"},
        {0, 2000000000, 1999999999, L"100%"},
    };
    for (const Case& c : cases) {
        p->SetMinValue(c.min);
        p->SetMaxValue(c.max);
        p->SetProgressValue(c.value);
        EXPECT_EQ(p->GetText(), c.text) << c.min << ".." << c.max << " at " << c.value;
    }
}

// --- label ---------------------------------------------------------------------------------

TEST_F(ControlsTest, LabelAutoCalcWidthMeasuresItsText) {
    Tree t(Q(L"<HorizontalLayout><Label name='l' text='Contoso 翻译' autocalcwidth='true' textpadding='5,0,7,0'/>"
             L"<Control name='rest'/></HorizontalLayout>"));
    ASSERT_NE(t.root, nullptr);
    t.Layout(400, 30);
    // The same text measured directly with the default font.
    nq::unique_hdc dc(::CreateCompatibleDC(nullptr));
    SIZE ext = {};
    const std::wstring text = L"Contoso 翻译";
    {
        const nq::scoped_select font(dc.get(), t.pm.GetFont(-1));
        ::GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &ext);
    }
    ASSERT_GT(ext.cx, 20);
    const RECT label = t.Pos(L"l");
    EXPECT_NEAR(label.right - label.left, ext.cx + 12, 1);
    EXPECT_EQ(t.Pos(L"rest").left, label.right);

    // A longer text widens it at the next layout.
    t.Find(L"l")->SetText(text + text);
    t.Layout(400, 30);
    const RECT wider = t.Pos(L"l");
    EXPECT_GT(wider.right - wider.left, label.right - label.left + ext.cx / 2);
}

// The drawing layer draws plain text: an HTML label draws its text without the tags.
TEST_F(ControlsTest, HtmlLabelDrawsItsTextWithoutTags) {
    auto paint = [](const wchar_t* attrs) {
        Tree t(Q(std::wstring(L"<HorizontalLayout><Label textcolor='#FF000000' ") + attrs + L"/></HorizontalLayout>"));
        t.Layout(200, 24);
        Canvas canvas(200, 24);
        ::PatBlt(canvas.dc(), 0, 0, 200, 24, WHITENESS);
        t.pm.PaintTo(canvas.dc(), RECT{0, 0, 200, 24});
        std::vector<DWORD> px;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 200; ++x) px.push_back(canvas.At(x, y));
        return px;
    };
    const auto plain = paint(L"text='Contoso'");
    EXPECT_EQ(paint(L"showhtml='true' text='{b}Con{/b}&lt;i&gt;toso&lt;/i&gt;'"), plain);
    EXPECT_NE(paint(L"text='{b}Con{/b}toso'"), plain) << "without showhtml the braces are text";
}

TEST_F(ControlsTest, LabelAttributesSetTheTextStyle) {
    struct Case {
        const wchar_t* attrs;
        UINT style;
    };
    const std::vector<Case> cases = {
        {L"", DT_VCENTER | DT_SINGLELINE},
        {L"align='center'", DT_VCENTER | DT_SINGLELINE | DT_CENTER},
        {L"align='right' valign='bottom'", DT_BOTTOM | DT_SINGLELINE | DT_RIGHT},
        {L"endellipsis='true' noprefix='true'", DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX},
        {L"wordbreak='true' valign='top'", DT_TOP | DT_WORDBREAK},
    };
    for (const Case& c : cases) {
        Tree t(Q(std::wstring(L"<HorizontalLayout><Label name='l' ") + c.attrs + L"/></HorizontalLayout>"));
        ASSERT_NE(t.root, nullptr);
        auto* l = static_cast<CLabelUI*>(t.Find(L"l")->GetInterface(L"Label"));
        EXPECT_EQ(l->GetTextStyle(), c.style) << testutil::WideToUtf8(c.attrs);
    }
}

// --- scroll bar -------------------------------------------------------------------------------

TEST_F(ControlsTest, ScrollBarMovesItsContainer) {
    Tree t(Q(L"<VerticalLayout name='list' vscrollbar='true' vscrollbarstyle='linesize=&quot;10&quot;'>"
             L"<Control name='c1' height='100'/><Control height='100'/><Control height='100'/>"
             L"<Control height='100'/><Control height='100'/></VerticalLayout>"));
    ASSERT_NE(t.root, nullptr);
    t.Layout(200, 200);
    auto* list = static_cast<CContainerUI*>(t.Find(L"list")->GetInterface(L"Container"));
    ASSERT_NE(list->GetVerticalScrollBar(), nullptr);
    auto* bar = static_cast<CScrollBarUI*>(list->GetVerticalScrollBar()->AsControl()->GetInterface(L"ScrollBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->GetScrollRange(), 300);
    EXPECT_EQ(bar->GetPos().right - bar->GetPos().left, 16);
    auto press = [&](const RECT& part, POINT to) {
        const POINT at = {(part.left + part.right) / 2, (part.top + part.bottom) / 2};
        ControlEvent down = MakeEvent(UIEVENT_BUTTONDOWN, bar, at);
        bar->Event(down);
        ControlEvent move = MakeEvent(UIEVENT_MOUSEMOVE, bar, to.x < 0 ? at : to);
        bar->Event(move);
        ControlEvent up = MakeEvent(UIEVENT_BUTTONUP, bar, to.x < 0 ? at : to);
        bar->Event(up);
    };
    // The lower arrow: one line down, the content moves up with it.
    press(bar->GetButton2Rect(), POINT{-1, -1});
    EXPECT_EQ(list->GetScrollPos().cy, bar->GetLineSize());
    EXPECT_EQ(t.Pos(L"c1").top, -bar->GetLineSize());
    // The upper arrow cannot go above the top.
    press(bar->GetButton1Rect(), POINT{-1, -1});
    press(bar->GetButton1Rect(), POINT{-1, -1});
    EXPECT_EQ(list->GetScrollPos().cy, 0);
    // The thumb dragged to the far end: the whole range.
    const RECT thumb = bar->GetThumbRect();
    ASSERT_GT(thumb.bottom, thumb.top);
    press(thumb, POINT{(thumb.left + thumb.right) / 2, 400});
    EXPECT_EQ(list->GetScrollPos().cy, 300);
    EXPECT_EQ(t.Pos(L"c1").top, -300);
    // Below the thumb is a page: nothing is left below.
    EXPECT_EQ(bar->GetThumbRect().bottom, bar->GetButton2Rect().top);
}

TEST_F(ControlsTest, FactoryBuildsEveryStandardControl) {
    for (const wchar_t* cls : {L"CLabelUI", L"CTextUI", L"CButtonUI", L"COptionUI", L"CCheckBoxUI", L"CProgressUI",
                               L"CScrollBarUI", L"CRichEditUI"}) {
        CControlUI* c = CControlFactory::Instance().CreateControl(cls);
        ASSERT_NE(c, nullptr) << testutil::WideToUtf8(cls);
        EXPECT_EQ(std::wstring(L"C") + c->GetClass(), cls);
        delete c;
    }
}

}  // namespace
