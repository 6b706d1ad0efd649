// The skinned window base: hit-testing, min/max info, the rounded region,
// system commands and caption buttons, the default-key filter, the message map
// and the failure box of a skin that cannot be loaded.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/common/testutil.h"
#include "tests/uiwindow/testwindow.h"

namespace {

using namespace SkinUI;
using uiwindowtest::Pump;
using uiwindowtest::TestWindow;

// 300 x 200: a caption band of 40 over a plain control, a clickable control
// and a panel (not a layout) holding a plain control; the body below.
const wchar_t kCaptionLayout[] =
    L"<Window caption=\"0,0,0,40\" sizebox=\"4,4,4,4\" %EXTRA%>"
    L"<VerticalLayout name=\"root\">"
    L"  <HorizontalLayout name=\"band\" height=\"40\">"
    L"    <Control name=\"plain\" width=\"100\"/>"
    L"    <Clicky name=\"clicky\" width=\"100\"/>"
    L"    <Panel name=\"panel\" width=\"100\"><Control name=\"inpanel\"/></Panel>"
    L"  </HorizontalLayout>"
    L"  <Control name=\"body\"/>"
    L"</VerticalLayout></Window>";

std::wstring Layout(const std::wstring& extra) {
    std::wstring text = kCaptionLayout;
    text.replace(text.find(L"%EXTRA%"), 7, extra);
    return text;
}

TEST(WindowImpl, HitTestOfSizeBoxCaptionAndControls) {
    TestWindow w(Layout(L""));
    ASSERT_NE(w.Open(100, 100, 300, 200), nullptr);
    ::UpdateWindow(w.GetHWND());
    struct Case {
        int x, y;
        LRESULT expected;
        const char* what;
    };
    const Case cases[] = {
        {1, 1, HTTOPLEFT, "top-left corner of the size box"},
        {150, 2, HTTOP, "top edge"},
        {298, 1, HTTOPRIGHT, "top-right corner"},
        {1, 100, HTLEFT, "left edge"},
        {298, 100, HTRIGHT, "right edge"},
        {1, 198, HTBOTTOMLEFT, "bottom-left"},
        {150, 198, HTBOTTOM, "bottom edge"},
        {298, 198, HTBOTTOMRIGHT, "bottom-right"},
        {50, 20, HTCAPTION, "caption over a plain control in a layout"},
        {150, 20, HTCLIENT, "caption over a control that takes the mouse"},
        {250, 20, HTCLIENT, "caption over a plain control inside a non-layout container"},
        {50, 39, HTCAPTION, "last caption row"},
        {50, 40, HTCLIENT, "first row below the caption"},
        {50, 120, HTCLIENT, "body"},
    };
    for (const Case& c : cases) EXPECT_EQ(w.HitTest(c.x, c.y), c.expected) << c.what;

    // Maximised: no size box; the caption still drags.
    ::ShowWindow(w.GetHWND(), SW_MAXIMIZE);
    EXPECT_EQ(w.HitTest(1, 1), HTCAPTION);
    EXPECT_EQ(w.HitTest(1, 100), HTCLIENT);
}

TEST(WindowImpl, CaptionMarginsAndScaledBottom) {
    TestWindow w(L"<Window caption=\"20,0,30,40\"><VerticalLayout><Control/></VerticalLayout></Window>");
    ASSERT_NE(w.Open(50, 50, 300, 200), nullptr);
    ::UpdateWindow(w.GetHWND());
    EXPECT_EQ(w.HitTest(19, 10), HTCLIENT) << "left of the caption";
    EXPECT_EQ(w.HitTest(20, 10), HTCAPTION);
    EXPECT_EQ(w.HitTest(269, 10), HTCAPTION);
    EXPECT_EQ(w.HitTest(270, 10), HTCLIENT) << "right margin";
    EXPECT_EQ(w.HitTest(100, 45), HTCLIENT);
    w.GetPaintManager().SetDpi(120);  // 125 %: the bottom becomes 50, the margins stay
    ::UpdateWindow(w.GetHWND());
    EXPECT_EQ(w.HitTest(100, 45), HTCAPTION);
    EXPECT_EQ(w.HitTest(100, 50), HTCLIENT);
    EXPECT_EQ(w.HitTest(19, 10), HTCLIENT);

    TestWindow full(L"<Window caption=\"0,0,0,-1\"><VerticalLayout><Control/></VerticalLayout></Window>");
    ASSERT_NE(full.Open(50, 50, 300, 200), nullptr);
    ::UpdateWindow(full.GetHWND());
    EXPECT_EQ(full.HitTest(150, 190), HTCAPTION) << "-1: the whole height";
}

TEST(WindowImpl, MinMaxInfoFromTheSkinAndTheWorkArea) {
    TestWindow w(L"<Window mininfo=\"300,200\" maxinfo=\"800,0\"><VerticalLayout/></Window>");
    ASSERT_NE(w.Open(), nullptr);
    MONITORINFO mi = {sizeof(mi)};
    ::GetMonitorInfoW(::MonitorFromWindow(w.GetHWND(), MONITOR_DEFAULTTOPRIMARY), &mi);
    MINMAXINFO info = {};
    w.Send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 300);
    EXPECT_EQ(info.ptMinTrackSize.y, 200);
    EXPECT_EQ(info.ptMaxTrackSize.x, 800);
    EXPECT_EQ(info.ptMaxTrackSize.y, mi.rcWork.bottom - mi.rcWork.top);
    EXPECT_EQ(info.ptMaxSize.x, mi.rcWork.right - mi.rcWork.left);
    EXPECT_EQ(info.ptMaxPosition.x, mi.rcWork.left);
    w.GetPaintManager().SetDpi(144);
    w.Send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 450) << "the minimum is scaled";
    EXPECT_EQ(info.ptMaxTrackSize.x, 800) << "the maximum is not";
}

TEST(WindowImpl, RoundCornerGivesARoundedRegion) {
    TestWindow round(L"<Window roundcorner=\"20,20\"><VerticalLayout/></Window>");
    ASSERT_NE(round.Open(10, 10, 200, 100), nullptr);
    nq::unique_hrgn region(::CreateRectRgn(0, 0, 0, 0));
    ASSERT_NE(::GetWindowRgn(round.GetHWND(), region.get()), ERROR);
    EXPECT_FALSE(::PtInRegion(region.get(), 0, 0)) << "the corner is cut";
    EXPECT_FALSE(::PtInRegion(region.get(), 199, 99));
    EXPECT_TRUE(::PtInRegion(region.get(), 100, 50));
    EXPECT_TRUE(::PtInRegion(region.get(), 100, 0));
    EXPECT_TRUE(::PtInRegion(region.get(), 199, 50));

    TestWindow square(L"<Window><VerticalLayout/></Window>");
    ASSERT_NE(square.Open(10, 10, 200, 100), nullptr);
    EXPECT_EQ(::GetWindowRgn(square.GetHWND(), region.get()), ERROR) << "no corner, no region";
}

TEST(WindowImpl, SysCommandsAndCaptionButtons) {
    TestWindow w(
        L"<Window><HorizontalLayout><Clicky name=\"maxbtn\"/><Clicky name=\"restorebtn\" visible=\"false\"/>"
        L"<Clicky name=\"closebtn\"/><Clicky name=\"other\"/></HorizontalLayout></Window>");
    ASSERT_NE(w.Open(), nullptr);
    CPaintManagerUI& pm = w.GetPaintManager();
    CControlUI* maxbtn = pm.FindControl(std::wstring(L"maxbtn"));
    CControlUI* restorebtn = pm.FindControl(std::wstring(L"restorebtn"));
    ASSERT_TRUE(maxbtn && restorebtn);

    pm.SendNotify(maxbtn, L"click");
    EXPECT_TRUE(::IsZoomed(w.GetHWND()));
    EXPECT_FALSE(maxbtn->IsVisible());
    EXPECT_TRUE(restorebtn->IsVisible());
    pm.SendNotify(restorebtn, L"click");
    EXPECT_FALSE(::IsZoomed(w.GetHWND()));
    EXPECT_TRUE(maxbtn->IsVisible());
    EXPECT_FALSE(restorebtn->IsVisible());

    pm.SendNotify(pm.FindControl(std::wstring(L"other")), L"click");
    Pump();
    EXPECT_TRUE(w.closes.empty()) << "an unnamed button closes nothing";
    w.Send(WM_SYSCOMMAND, SC_CLOSE);
    ASSERT_EQ(w.closes.size(), 1u) << "SC_CLOSE is sent on as WM_CLOSE";
    EXPECT_EQ(w.GetHWND(), nullptr);

    TestWindow closing(L"<Window><HorizontalLayout><Clicky name=\"closebtn\"/></HorizontalLayout></Window>");
    ASSERT_NE(closing.Open(), nullptr);
    closing.GetPaintManager().SendNotify(closing.GetPaintManager().FindControl(std::wstring(L"closebtn")), L"click");
    EXPECT_TRUE(closing.closes.empty()) << "posted";
    Pump();
    ASSERT_EQ(closing.closes.size(), 1u);
    EXPECT_EQ(closing.closes[0], 1u);
}

TEST(WindowImpl, DefaultKeyFilterLeavesTheKeyUnhandled) {
    TestWindow w(L"<Window><VerticalLayout/></Window>");
    struct Case {
        UINT msg;
        WPARAM key;
        LRESULT expected;
    };
    const Case cases[] = {
        {WM_KEYDOWN, VK_ESCAPE, 1}, {WM_KEYDOWN, VK_RETURN, 0}, {WM_KEYDOWN, VK_SPACE, 0}, {WM_KEYUP, VK_ESCAPE, 0}};
    for (const Case& c : cases) {
        bool handled = false;
        EXPECT_EQ(w.MessageHandler(c.msg, c.key, 0, handled), c.expected) << c.key;
        EXPECT_FALSE(handled);
    }
}

TEST(WindowImpl, NcMessagesAndDestructionUnhookTheWindow) {
    TestWindow w(L"<Window><VerticalLayout/></Window>");
    HWND hwnd = w.Open();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(w.Send(WM_NCACTIVATE, FALSE), TRUE);
    EXPECT_EQ(w.Send(WM_NCACTIVATE, TRUE), FALSE);
    RECT rc = {0, 0, 300, 200};
    EXPECT_EQ(w.Send(WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&rc)), 0);
    RECT client = {};
    ::GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 300) << "no frame";
    EXPECT_EQ(::GetWindowLongW(hwnd, GWL_STYLE) & (WS_CAPTION | WS_CLIPCHILDREN), WS_CLIPCHILDREN);

    ::DestroyWindow(hwnd);
    EXPECT_EQ(w.destroyedHwnd, hwnd);
    EXPECT_FALSE(w.GetPaintManager().RemoveNotifier(&w)) << "already removed";
    EXPECT_FALSE(w.GetPaintManager().RemovePreMessageFilter(&w));
}

// --- the message map -------------------------------------------------------------

class MapWindow : public TestWindow {
public:
    MapWindow() : TestWindow(L"<Window><VerticalLayout/></Window>") {}
    void OnClick(NotifyMessage& msg) override { calls.push_back(L"OnClick " + msg.pSender->GetName()); }
    void OnSpecial(NotifyMessage& msg) { calls.push_back(L"OnSpecial " + msg.pSender->GetName()); }
    void OnAnyHover(NotifyMessage&) { calls.push_back(L"OnAnyHover first"); }
    void OnAnyHoverLast(NotifyMessage&) { calls.push_back(L"OnAnyHover last"); }
    void OnParams(WPARAM wParam, LPARAM lParam) {
        calls.push_back(L"OnParams " + std::to_wstring(wParam) + L"," + std::to_wstring(lParam));
    }
    void OnTimer(NotifyMessage&) override { calls.push_back(L"OnTimer"); }
    std::vector<std::wstring> calls;
    SKINUI_DECLARE_MESSAGE_MAP()
};

SKINUI_BEGIN_MESSAGE_MAP(MapWindow, WindowImplBase)
    SKINUI_ON_MSGTYPE(L"mouseenter", &MapWindow::OnAnyHover)
    SKINUI_ON_CLICK_CTRNAME(L"special", &MapWindow::OnSpecial)
    SKINUI_ON_MSGTYPE(L"mouseenter", &MapWindow::OnAnyHoverLast)
    SKINUI_ON_PARAMS(L"return", L"edit", &MapWindow::OnParams)
SKINUI_END_MESSAGE_MAP()

class SubPump : public CNotifyPump {
public:
    void OnClick(NotifyMessage& msg) { calls.push_back(L"sub " + msg.pSender->GetName()); }
    std::vector<std::wstring> calls;
    SKINUI_DECLARE_MESSAGE_MAP()
};

SKINUI_BEGIN_MESSAGE_MAP(SubPump, CNotifyPump)
    SKINUI_ON_MSGTYPE(L"click", &SubPump::OnClick)
SKINUI_END_MESSAGE_MAP()

TEST(NotifyPump, RowsByNameThenByTypeThenTheBaseTable) {
    MapWindow w;
    CControlUI special, plain, edit, page;
    special.SetName(L"special");
    plain.SetName(L"plain");
    edit.SetName(L"edit");
    page.SetName(L"inpage");
    page.SetVirtualWnd(L"page");
    SubPump sub;
    EXPECT_TRUE(w.AddVirtualWindow(L"page", &sub));
    EXPECT_FALSE(w.AddVirtualWindow(L"page", &sub)) << "a name is taken once";

    struct Case {
        const wchar_t* type;
        CControlUI* sender;
        WPARAM wParam;
        const wchar_t* expected;  // "" = nothing ran
    };
    const Case cases[] = {
        {L"click", &special, 0, L"OnSpecial special"},
        {L"click", &plain, 0, L"OnClick plain"},             // the base table's row, virtual slot
        {L"mouseenter", &plain, 0, L"OnAnyHover last"},      // the last type-only row of a table
        {L"return", &edit, 5, L"OnParams 5,9"},
        {L"return", &plain, 0, L""},                         // the named row only
        {L"timer", &plain, 0, L"OnTimer"},
        {L"itemclick", &plain, 0, L""},
    };
    for (const Case& c : cases) {
        w.calls.clear();
        NotifyMessage msg;
        msg.sType = c.type;
        msg.pSender = c.sender;
        msg.wParam = c.wParam;
        msg.lParam = 9;
        w.Notify(msg);
        const std::wstring got = w.calls.empty() ? L"" : w.calls.back();
        EXPECT_EQ(got, c.expected) << testutil::WideToUtf8(c.type);
        EXPECT_LE(w.calls.size(), 1u);
    }

    // A virtual window's notification goes to its pump first.
    NotifyMessage msg;
    msg.sType = L"click";
    msg.pSender = &page;
    msg.sVirtualWnd = L"page";
    w.calls.clear();
    w.Notify(msg);
    ASSERT_EQ(sub.calls.size(), 1u);
    EXPECT_EQ(sub.calls[0], L"sub inpage");
    EXPECT_TRUE(w.calls.empty());
    EXPECT_TRUE(w.RemoveVirtualWindow(L"page"));
    w.Notify(msg);
    EXPECT_EQ(sub.calls.size(), 1u);
    ASSERT_EQ(w.calls.size(), 1u);
    EXPECT_EQ(w.calls[0], L"OnClick inpage");

    msg.pSender = nullptr;  // no sender: not dispatched
    w.calls.clear();
    w.Notify(msg);
    EXPECT_TRUE(w.calls.empty());
}

// --- a skin that cannot be loaded -------------------------------------------------

TEST(WindowImpl, UnloadableSkinShowsTheBoxAndEndsWithOne) {
    const std::wstring app = testutil::ExeDir() + L"\\skin_window_app.exe";
    testutil::Child child;
    ASSERT_TRUE(child.Start(L"\"" + app + L"\" --skin \"" + testutil::ExeDir() + L"\" --layout missing.xml"));
    HWND box = testutil::WaitForTopWindow(L"SkinUI", child.Pid(), 30000);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(testutil::DialogText(box).find(L"加载资源文件失败：missing.xml"), std::wstring::npos)
        << testutil::WideToUtf8(testutil::DialogText(box));
    EXPECT_TRUE(testutil::PressDialogButton(box, IDOK));
    ASSERT_TRUE(child.Wait(30000));
    EXPECT_EQ(child.ExitCode(), 1u);
    EXPECT_EQ(WindowImplBase::LoadFailureText(L"Layout/Layout.xml"), L"加载资源文件失败：Layout/Layout.xml");
}

}  // namespace
