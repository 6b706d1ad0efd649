// The paint manager: queued notifications and delayed deletion, control
// timers, focus and Tab order, mouse routing, DPI changes, painting, and the
// release of every GDI object it makes.
#include "ui/manager/uimanager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/common/testutil.h"
#include "tests/ui/uitree.h"
#include "ui/control/uilayout.h"

namespace {

using namespace SkinUI;
using uitest::ManagedWindow;
using uitest::Tree;

// Records notifications as "type:sender".
class Log : public INotifyUI {
public:
    void Notify(NotifyMessage& msg) override {
        entries.push_back(msg.sType + L":" + (msg.pSender ? msg.pSender->GetName() : L"-"));
        if (onNotify) onNotify(msg);
    }
    std::vector<std::wstring> entries;
    std::function<void(NotifyMessage&)> onNotify;
};

std::vector<std::wstring> Only(const std::vector<std::wstring>& all, const std::wstring& prefix) {
    std::vector<std::wstring> out;
    for (const auto& e : all)
        if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
}

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!w_.hwnd()) GTEST_SKIP() << "no display";
    }
    ManagedWindow w_;
};

TEST_F(ManagerTest, QueuedNotificationsArriveAfterTheHandlerReturns) {
    ASSERT_NE(w_.Load(L"<Window><VerticalLayout name=\"root\"><Control name=\"a\"/></VerticalLayout></Window>"), nullptr);
    Log log;
    w_.pm.AddNotifier(&log);
    CControlUI* a = w_.Find(L"a");
    int delegates = 0;
    a->OnNotify += [&](void* p) {
        auto* msg = static_cast<NotifyMessage*>(p);
        if (msg->sType == L"later") log.entries.push_back(L"delegate:" + std::to_wstring(delegates++));
        return true;
    };
    log.onNotify = [&](NotifyMessage& msg) {
        if (msg.sType != L"click") return;
        w_.pm.SendNotify(a, L"later", 7, 8, true);
        log.entries.push_back(L"click returns");
    };
    w_.pm.SendNotify(a, L"click");
    EXPECT_EQ(log.entries, (std::vector<std::wstring>{L"click:a", L"click returns"}));
    EXPECT_EQ(w_.pm.QueuedNotifyCount(), 1u);
    ManagedWindow::Pump();
    // The sender's delegates first, then the notifiers; the record carries its parameters.
    EXPECT_EQ(log.entries, (std::vector<std::wstring>{L"click:a", L"click returns", L"delegate:0", L"later:a"}));
    EXPECT_EQ(w_.pm.QueuedNotifyCount(), 0u);
    w_.pm.RemoveNotifier(&log);
}

TEST_F(ManagerTest, RemovedControlsAreDeletedLaterAndTheirQueuedNotificationsDropped) {
    ASSERT_NE(w_.Load(L"<Window><VerticalLayout name=\"root\"><Control name=\"a\"/><Control name=\"b\"/>"
                      L"</VerticalLayout></Window>"),
              nullptr);
    Log log;
    w_.pm.AddNotifier(&log);
    CControlUI* a = w_.Find(L"a");
    bool destroyed = false;
    a->OnDestroy += [&](void*) {
        destroyed = true;
        return true;
    };
    w_.pm.SetFocus(a);
    w_.pm.SendNotify(a, L"queued", 0, 0, true);
    auto* root = static_cast<CContainerUI*>(w_.pm.GetRoot()->GetInterface(L"Container"));
    ASSERT_TRUE(root->Remove(a));
    EXPECT_FALSE(destroyed);  // still alive inside the call that removed it
    EXPECT_EQ(w_.pm.DelayedCleanupCount(), 1u);
    EXPECT_EQ(w_.pm.GetFocus(), nullptr);
    EXPECT_EQ(w_.Find(L"a"), nullptr);
    ManagedWindow::Pump();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(w_.pm.DelayedCleanupCount(), 0u);
    EXPECT_TRUE(Only(log.entries, L"queued").empty());

    // A new root: the old one goes the same way.
    CControlUI* oldRoot = w_.pm.GetRoot();
    bool oldGone = false;
    oldRoot->OnDestroy += [&](void*) {
        oldGone = true;
        return true;
    };
    w_.pm.AttachRoot(new CControlUI);
    EXPECT_FALSE(oldGone);
    ManagedWindow::Pump();
    EXPECT_TRUE(oldGone);
    w_.pm.RemoveNotifier(&log);
}

TEST_F(ManagerTest, TimersFireUntilKilledAndAreNotRestartedWhileLive) {
    ASSERT_NE(w_.Load(L"<Window><VerticalLayout><Control name=\"a\"/><Control name=\"b\"/></VerticalLayout></Window>"),
              nullptr);
    Log log;
    w_.pm.AddNotifier(&log);
    CControlUI* a = w_.Find(L"a");
    CControlUI* b = w_.Find(L"b");
    std::vector<WPARAM> ids;
    log.onNotify = [&](NotifyMessage& msg) {
        if (msg.sType == L"timer") ids.push_back(msg.wParam);
    };
    EXPECT_TRUE(w_.pm.SetControlTimer(a, 5, 20));
    EXPECT_FALSE(w_.pm.SetControlTimer(a, 5, 20));  // live: left alone
    EXPECT_TRUE(w_.pm.SetControlTimer(b, 5, 20));   // another control, same local id
    ASSERT_TRUE(testutil::WaitUntil([&] { return Only(log.entries, L"timer:a").size() >= 2 &&
                                                 Only(log.entries, L"timer:b").size() >= 2; },
                                    5000));
    for (WPARAM id : ids) EXPECT_EQ(id, 5u);

    EXPECT_TRUE(w_.pm.KillControlTimer(a, 5));
    log.entries.clear();
    testutil::PumpFor(150);
    EXPECT_TRUE(Only(log.entries, L"timer:a").empty());
    EXPECT_FALSE(Only(log.entries, L"timer:b").empty());
    // A killed timer is armed again.
    EXPECT_TRUE(w_.pm.SetControlTimer(a, 5, 20));
    ASSERT_TRUE(testutil::WaitUntil([&] { return !Only(log.entries, L"timer:a").empty(); }, 5000));
    w_.pm.KillControlTimers(a);
    w_.pm.KillControlTimers(b);
    EXPECT_EQ(w_.pm.TimerCount(), 0u);
    w_.pm.RemoveNotifier(&log);
}

TEST_F(ManagerTest, TimerIdsAreNeverSharedBetweenLiveTimers) {
    ASSERT_NE(w_.Load(L"<Window><Control name=\"a\"/></Window>"), nullptr);
    CControlUI* a = w_.Find(L"a");
    // The window-timer id space holds 223 control timers (17..239).
    int made = 0;
    for (UINT id = 0; id < 300; ++id)
        if (w_.pm.SetControlTimer(a, id, 100000)) ++made;
    EXPECT_EQ(made, 223);
    // A freed id is used again.
    w_.pm.KillControlTimers(a);
    EXPECT_TRUE(w_.pm.SetControlTimer(a, 1000, 100000));
    w_.pm.KillControlTimers(a);
    // No window: no timer.
    CPaintManagerUI windowless;
    EXPECT_FALSE(windowless.SetControlTimer(a, 1, 10));
}

TEST_F(ManagerTest, TabWalksTheRegisteredControlsSkippingHiddenAndDisabledOnes) {
    ASSERT_NE(w_.Load(L"<Window><VerticalLayout>"
                      L"<Control name=\"a\" TabSuppot=\"true\"/>"
                      L"<Control name=\"b\" TabSuppot=\"true\" visible=\"false\"/>"
                      L"<TabLayout><VerticalLayout><Control name=\"c\" TabSuppot=\"true\"/></VerticalLayout>"
                      L"<VerticalLayout><Control name=\"d\" TabSuppot=\"true\"/></VerticalLayout></TabLayout>"
                      L"<Control name=\"e\" TabSuppot=\"true\" enabled=\"false\"/>"
                      L"<Control name=\"plain\"/>"
                      L"<Control name=\"f\" TabSuppot=\"true\"/>"
                      L"</VerticalLayout></Window>"),
              nullptr);
    Log log;
    w_.pm.AddNotifier(&log);
    std::vector<std::wstring> order;
    auto tab = [&] {
        LRESULT r = 0;
        EXPECT_TRUE(w_.pm.PreMessageHandler(WM_KEYDOWN, VK_TAB, 0, r));
        order.push_back(w_.pm.GetFocus() ? w_.pm.GetFocus()->GetName() : L"-");
    };
    EXPECT_EQ(w_.pm.GetTabControls().size(), 6u);  // registered in tree order
    for (int i = 0; i < 4; ++i) tab();
    EXPECT_EQ(order, (std::vector<std::wstring>{L"a", L"c", L"f", L"a"}));

    // Shift+Tab walks the same way.
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    ::SetKeyboardState(keys);
    tab();
    keys[VK_SHIFT] = 0;
    ::SetKeyboardState(keys);
    EXPECT_EQ(order.back(), L"c");

    // Focus notifications: the old control learns who takes over.
    EXPECT_EQ(Only(log.entries, L"killfocus").back(), L"killfocus:a");
    EXPECT_EQ(Only(log.entries, L"setfocus").back(), L"setfocus:c");

    // A removed control leaves the walk.
    auto* layout = static_cast<CContainerUI*>(w_.pm.GetRoot()->GetInterface(L"Container"));
    layout->Remove(w_.Find(L"f"));
    order.clear();
    tab();
    tab();
    EXPECT_EQ(order, (std::vector<std::wstring>{L"a", L"c"}));

    // Hidden and disabled controls never take the focus directly either.
    w_.pm.SetFocus(w_.Find(L"b"));
    EXPECT_EQ(w_.pm.GetFocus(), nullptr);
    w_.pm.SetFocus(w_.Find(L"e"));
    EXPECT_EQ(w_.pm.GetFocus(), nullptr);
    // Hiding the focused control takes the focus away.
    w_.pm.SetFocus(w_.Find(L"a"));
    w_.Find(L"a")->SetVisible(false);
    EXPECT_EQ(w_.pm.GetFocus(), nullptr);
    w_.pm.RemoveNotifier(&log);
}

// Mouse messages become events for the control under the mouse.
TEST_F(ManagerTest, MouseMessagesReachTheControlUnderTheMouse) {
    ASSERT_NE(w_.Load(L"<Window><HorizontalLayout><Control name=\"a\" width=\"100\"/><Control name=\"b\" "
                      L"width=\"100\"/><Control name=\"off\" width=\"100\" mouse=\"false\"/>"
                      L"<Control name=\"top\" float=\"true\" pos=\"50,0,150,20\"/></HorizontalLayout></Window>"),
              nullptr);
    w_.pm.LayoutTo(RECT{0, 0, 400, 300});
    std::vector<std::wstring> events;
    for (const wchar_t* name : {L"a", L"b", L"top"}) {
        CControlUI* c = w_.Find(name);
        c->OnEvent += [&events, c](void* p) {
            const int type = static_cast<ControlEvent*>(p)->Type;
            if (type != UIEVENT_MOUSEMOVE && type != UIEVENT_SETFOCUS)
                events.push_back(c->GetName() + L":" + std::to_wstring(type));
            return true;
        };
    }
    // The floating control lies above the flow; a control with the mouse off is not hit.
    EXPECT_EQ(w_.pm.FindControl(POINT{60, 10}), w_.Find(L"top"));
    EXPECT_EQ(w_.pm.FindControl(POINT{60, 50}), w_.Find(L"a"));
    EXPECT_NE(w_.pm.FindControl(POINT{250, 50}), w_.Find(L"off"));

    w_.Send(WM_MOUSEMOVE, 0, MAKELPARAM(20, 50));
    w_.Send(WM_MOUSEMOVE, 0, MAKELPARAM(120, 50));
    w_.Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(120, 50));
    w_.Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(20, 50));  // captured: no hover change
    w_.Send(WM_LBUTTONUP, 0, MAKELPARAM(20, 50));
    const std::wstring enter = std::to_wstring(UIEVENT_MOUSEENTER), leave = std::to_wstring(UIEVENT_MOUSELEAVE);
    const std::wstring down = std::to_wstring(UIEVENT_BUTTONDOWN), up = std::to_wstring(UIEVENT_BUTTONUP);
    EXPECT_EQ(events, (std::vector<std::wstring>{L"a:" + enter, L"a:" + leave, L"b:" + enter, L"b:" + down,
                                                 L"b:" + up}));
    EXPECT_EQ(w_.pm.GetPushedControl(), nullptr);
    EXPECT_FALSE(w_.pm.IsCaptured());
}

TEST_F(ManagerTest, KillFocusSendsButtonUpOnlyWhenAsked) {
    for (const bool send : {true, false}) {
        ManagedWindow w;
        ASSERT_NE(w.Load(std::wstring(L"<Window KillFocusSendButtonUp=\"") + (send ? L"true" : L"false") +
                         L"\"><Control name=\"a\"/></Window>"),
                  nullptr);
        w.pm.LayoutTo(RECT{0, 0, 400, 300});
        int ups = 0;
        w.Find(L"a")->OnEvent += [&](void* p) {
            if (static_cast<ControlEvent*>(p)->Type == UIEVENT_BUTTONUP) ++ups;
            return true;
        };
        w.Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
        w.Send(WM_KILLFOCUS);
        EXPECT_EQ(ups, send ? 1 : 0);
    }
}

TEST_F(ManagerTest, SetDpiScalesTheWindowFontsAndLayoutAndTellsTheWindow) {
    ASSERT_NE(w_.Load(L"<Window><Font id=\"2\" name=\"Arial\" size=\"10\"/><HorizontalLayout name=\"root\">"
                      L"<Control name=\"a\" width=\"100\"/></HorizontalLayout></Window>"),
              nullptr);
    Log log;
    w_.pm.AddNotifier(&log);
    w_.pm.LayoutTo(RECT{0, 0, 400, 300});
    EXPECT_EQ(w_.Find(L"a")->GetWidth(), 100);
    w_.pm.SetDpi(144);
    RECT rc;
    ::GetWindowRect(w_.hwnd(), &rc);
    EXPECT_EQ(rc.right - rc.left, 600);
    EXPECT_EQ(rc.bottom - rc.top, 450);
    LOGFONTW lf = {};
    ::GetObjectW(w_.pm.GetFont(2), sizeof(lf), &lf);
    EXPECT_EQ(lf.lfHeight, -15);
    EXPECT_TRUE(w_.pm.GetRoot()->IsUpdateNeeded());
    EXPECT_EQ(Only(log.entries, L"dpichanged"), std::vector<std::wstring>{L"dpichanged:root"});
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, w_.hwnd(), WM_UI_DPICHANGED, WM_UI_DPICHANGED, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 100u);
    EXPECT_EQ(msg.lParam, 150);
    w_.pm.LayoutTo(RECT{0, 0, 600, 450});
    EXPECT_EQ(w_.Find(L"a")->GetWidth(), 150);

    // Every live manager, and the process DPI.
    ManagedWindow other;
    CPaintManagerUI::SetDpiForAll(120);
    EXPECT_EQ(CPaintManagerUI::GetProcessDpi(), 120);
    EXPECT_EQ(other.pm.GetDPIObj()->GetScale(), 125);
    EXPECT_EQ(w_.pm.GetDPIObj()->GetScale(), 125);
    CPaintManagerUI::SetDpiForAll(96);
    w_.pm.RemoveNotifier(&log);
}

TEST(ManagerPaint, ThePaintOrderDrawsChildrenOverTheirParentAndSkipsMissingImages) {
    Tree t(L"<Window><HorizontalLayout bkcolor=\"#FF0000FF\" inset=\"10,10,10,10\">"
           L"<Control name=\"a\" width=\"20\" bkcolor=\"#FFFF0000\" bordercolor=\"#FF00FF00\" bordersize=\"1\"/>"
           L"<Control name=\"hidden\" width=\"20\" bkcolor=\"#FFFFFFFF\" visible=\"false\"/>"
           L"<Control name=\"m\" float=\"true\" pos=\"60,0,80,40\" bkcolor=\"#FF00FFFF\" "
           L"bkimage=\"Image/none.png\" foreimage=\"file='none.svg' dest='0,0,5,5'\"/>"
           L"</HorizontalLayout></Window>");
    ASSERT_NE(t.root, nullptr);
    const nq::scoped_getdc screen(nullptr);
    nq::unique_hdc dc(::CreateCompatibleDC(screen.get()));
    BYTE* bits = nullptr;
    nq::unique_hbitmap bmp = CreateDib32(screen.get(), 100, 50, &bits);
    ASSERT_TRUE(bmp);
    nq::scoped_select sel(dc.get(), bmp.get());
    t.pm.PaintTo(dc.get(), RECT{0, 0, 100, 50});
    auto at = [&](int x, int y) { return *reinterpret_cast<DWORD*>(bits + (y * 100 + x) * 4) & 0xFFFFFF; };
    EXPECT_EQ(at(5, 5), 0x0000FFu);    // the layout's background
    EXPECT_EQ(at(15, 20), 0xFF0000u);  // the child's over it
    EXPECT_EQ(at(10, 20), 0x00FF00u);  // its border last
    EXPECT_EQ(at(35, 20), 0x0000FFu);  // the hidden child is not painted
    EXPECT_EQ(at(70, 20), 0x00FFFFu);  // missing images draw nothing; the rest still paints
}

// Windows, managers, fonts, off-screen bitmaps, tooltips and timers made and
// destroyed many times leave nothing behind.
TEST(ManagerResources, EveryGdiObjectIsReleased) {
    ManagedWindow probe;
    if (!probe.hwnd()) GTEST_SKIP() << "no display";
    const long before = CPaintManagerUI::LiveGdiObjects();
    const DWORD gdiBefore = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    std::vector<HFONT> fonts;
    for (int i = 0; i < 100; ++i) {
        ManagedWindow w(200, 100);
        ASSERT_NE(w.Load(L"<Window><Font id=\"1\" name=\"Arial\" size=\"12\" default=\"true\"/>"
                         L"<HorizontalLayout bkcolor=\"#FF102030\"><Control name=\"a\" tooltip=\"tip\"/>"
                         L"</HorizontalLayout></Window>"),
                  nullptr);
        if (i % 20 == 0) fonts.push_back(w.pm.GetFont(1));
        ::ShowWindow(w.hwnd(), SW_SHOWNA);
        ::UpdateWindow(w.hwnd());  // the off-screen bitmap is made
        w.pm.SetControlTimer(w.Find(L"a"), 1, 1000);
        w.pm.SetDpi(i % 2 ? 120 : 96);
        ::UpdateWindow(w.hwnd());
    }
    ManagedWindow::Pump();
    EXPECT_EQ(CPaintManagerUI::LiveGdiObjects(), before);
    for (HFONT f : fonts) EXPECT_EQ(::GetObjectType(f), 0u);  // the handles are gone
    const DWORD gdiAfter = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    if (gdiBefore != 0) EXPECT_LE(gdiAfter, gdiBefore + 8);  // where the system counts them
}

}  // namespace
