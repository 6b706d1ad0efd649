// The test skin's window, run for real: shows skin/test.xml and writes what
// happens to a log file (one UTF-8 line each) for the driver outside the
// process: notifications, focus and tooltip changes, the window position and
// the end of the message loop.
//
//   skin_window_app --skin <dir> --log <file> [--dpi 144] [--layout name.xml]
//   skin_window_app --skin <dir> --cycles N     create and destroy N windows,
//                                               print object counts before/after
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "tests/uiwindow/gdicount.h"
#include "ui/control/uicontrol.h"
#include "ui/manager/uimanager.h"
#include "ui/window/uiwindowimpl.h"

namespace {

using namespace SkinUI;

constexpr UINT_PTR kProbeTimer = 1;
constexpr UINT kControlTimer = 7;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

class Log {
public:
    explicit Log(const std::wstring& path) {
        if (!path.empty()) file_ = _wfopen(path.c_str(), L"wb");
    }
    ~Log() {
        if (file_) fclose(file_);
    }
    void Line(const std::string& line) {
        if (!file_) return;
        fprintf(file_, "%s\n", line.c_str());
        fflush(file_);
    }

private:
    FILE* file_ = nullptr;
};

class CSkinTestWindow : public WindowImplBase {
public:
    CSkinTestWindow(Log* log, std::wstring layout, int dpi) : log_(log), layout_(std::move(layout)), dpi_(dpi) {}

    std::wstring_view WindowClassName() const override { return L"SkinTestWindow"; }
    std::wstring_view SkinFile() const override { return layout_; }

    void OnInitWindow() override {
        if (dpi_) paintManager_.SetDpi(dpi_);
        if (log_) ::SetTimer(GetHWND(), kProbeTimer, 100, nullptr);
    }

    void Notify(NotifyMessage& msg) override {
        if (log_ && msg.sType != L"mousemove") {
            const std::wstring name = msg.pSender ? msg.pSender->GetName() : L"";
            log_->Line("notify " + Utf8(msg.sType) + " " + Utf8(name) + " " + std::to_string(msg.wParam));
            if (msg.sType == L"textchanged" && msg.pSender)
                log_->Line("text " + Utf8(name) + " " + Utf8(msg.pSender->GetText()));
        }
        if (msg.sType == L"windowinit") {
            // A control timer that fires three times and is then stopped.
            if (CControlUI* status = paintManager_.FindControl(std::wstring(L"status")))
                paintManager_.SetControlTimer(status, kControlTimer, 150);
        } else if (msg.sType == L"timer" && msg.pSender && msg.wParam == kControlTimer) {
            if (++timerFires_ == 3) paintManager_.KillControlTimer(msg.pSender, kControlTimer);
        }
        WindowImplBase::Notify(msg);
    }

    LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool& handled) override {
        handled = false;
        if (log_) ::KillTimer(GetHWND(), kProbeTimer);
        if (quitOnDestroy_) ::PostQuitMessage(0);
        return 0;
    }

    LRESULT OnOtherMessage(UINT msg, WPARAM wParam, LPARAM, bool& handled) override {
        handled = false;
        if (msg == WM_TIMER && wParam == kProbeTimer) {
            Probe();
            handled = true;
        }
        return 0;
    }

    void SetQuitOnDestroy(bool quit) { quitOnDestroy_ = quit; }

private:
    // Logs what changed since the last look: focus, tooltip, position.
    void Probe() {
        CControlUI* focus = paintManager_.GetFocus();
        const std::wstring focusName = focus ? focus->GetName() : L"-";
        if (focusName != lastFocus_) log_->Line("focus " + Utf8(lastFocus_ = focusName));
        HWND tip = paintManager_.GetTooltipWindow();
        const bool tipShown = tip && ::IsWindowVisible(tip);
        if (tipShown != lastTip_) {
            RECT rc = {};
            if (tip) ::GetWindowRect(tip, &rc);
            log_->Line(std::string("tooltip ") + (tipShown ? "1 " : "0 ") + std::to_string(rc.left) + " " +
                       std::to_string(rc.top));
            lastTip_ = tipShown;
        }
        for (const wchar_t* name : {L"closebtn", L"title", L"btnA", L"btnB", L"status", L"optRed", L"optGreen",
                                    L"optBlue", L"chkAgree", L"edit", L"progress", L"tabs", L"floater"}) {
            CControlUI* control = paintManager_.FindControl(std::wstring(name));
            if (!control) continue;
            const RECT pos = control->GetPos();
            RECT& last = lastControlPos_[name];
            if (::EqualRect(&pos, &last)) continue;
            last = pos;
            log_->Line("ctl " + Utf8(name) + " " + std::to_string(pos.left) + " " + std::to_string(pos.top) + " " +
                       std::to_string(pos.right) + " " + std::to_string(pos.bottom) + " " +
                       (control->IsVisible() ? "1" : "0"));
        }
        RECT rc = {};
        ::GetWindowRect(GetHWND(), &rc);
        if (rc.left != lastPos_.left || rc.top != lastPos_.top || rc.right != lastPos_.right ||
            rc.bottom != lastPos_.bottom) {
            lastPos_ = rc;
            log_->Line("rect " + std::to_string(rc.left) + " " + std::to_string(rc.top) + " " +
                       std::to_string(rc.right) + " " + std::to_string(rc.bottom));
        }
    }

    Log* log_;
    std::wstring layout_;
    int dpi_;
    bool quitOnDestroy_ = true;
    int timerFires_ = 0;
    std::wstring lastFocus_ = L"-";
    bool lastTip_ = false;
    RECT lastPos_ = {};
    std::map<std::wstring, RECT> lastControlPos_;
};

void PumpPending() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

BOOL CALLBACK CountWindow(HWND, LPARAM param) {
    ++*reinterpret_cast<int*>(param);
    return TRUE;
}

int CountThreadWindows() {
    int count = 0;
    ::EnumThreadWindows(::GetCurrentThreadId(), &CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Creates, paints and destroys one window.
void OneCycle(const std::wstring& layout) {
    CSkinTestWindow window(nullptr, layout, 0);
    window.SetQuitOnDestroy(false);
    if (!window.Create(nullptr, L"cycle", WS_POPUP, 0)) return;
    // Shown without activation: painted for real, and not handed to a window
    // manager (whose absence would make every hide wait).
    ::ShowWindow(window.GetHWND(), SW_SHOWNOACTIVATE);
    ::UpdateWindow(window.GetHWND());
    PumpPending();
    ::DestroyWindow(window.GetHWND());
    PumpPending();
}

void PrintCounts(const char* when) {
    DWORD handles = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
    const gdicount::Counts own = gdicount::Now();
    std::printf("%s own_gdi=%ld own_dc=%ld own_timers=%ld own_icons=%ld ", when, own.gdiObjects, own.dcs,
                own.timers, own.icons);
    std::printf("gdi=%lu user=%lu framework_gdi=%ld windows=%d handles=%lu managers=%u\n",
                ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS),
                ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS), CPaintManagerUI::LiveGdiObjects(),
                CountThreadWindows(), handles, static_cast<unsigned>(CPaintManagerUI::GetManagers().size()));
    std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring skinDir, logPath, layout = L"test.xml";
    int dpi = 0, cycles = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring key = argv[i];
        if (key == L"--skin") skinDir = argv[i + 1];
        else if (key == L"--log") logPath = argv[i + 1];
        else if (key == L"--layout") layout = argv[i + 1];
        else if (key == L"--dpi") dpi = _wtoi(argv[i + 1]);
        else if (key == L"--cycles") cycles = _wtoi(argv[i + 1]);
    }
    CPaintManagerUI::SetResourceInstance(::GetModuleHandleW(nullptr));
    CPaintManagerUI::SetResourcePath(skinDir.c_str());

    if (cycles > 0) {
        if (!gdicount::Install()) std::printf("object counters not installed\n");
        OneCycle(layout);  // the first window makes the process-wide objects
        PrintCounts("before");
        for (int i = 0; i < cycles; ++i) OneCycle(layout);
        PrintCounts("after");
        CPaintManagerUI::ReleaseSharedResources();
        return 0;
    }

    Log log(logPath);
    {
        CSkinTestWindow window(&log, layout, dpi);
        if (!window.Create(nullptr, L"SkinTest", WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0)) {
            log.Line("create failed");
            return 2;
        }
        window.CenterWindow();
        log.Line("hwnd " + std::to_string(reinterpret_cast<UINT_PTR>(window.GetHWND())));
        CPaintManagerUI::MessageLoop();
        log.Line("loop ended");
    }
    CPaintManagerUI::ReleaseSharedResources();
    return 0;
}
