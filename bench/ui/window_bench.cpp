// Build-and-first-paint of the test skin's window (tests/uiwindow/skin): the
// time from Create (class registration, layout parse, control tree, fonts) to
// the end of the first WM_PAINT (layout pass, SVG images rendered, off-screen
// paint), at 100 % and 150 %, then a repaint of the whole window.
//
//   window_bench <skin folder> [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/manager/uimanager.h"
#include "ui/window/uiwindowimpl.h"

namespace {

using namespace SkinUI;

double Now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

class BenchWindow : public WindowImplBase {
public:
    std::wstring_view WindowClassName() const override { return L"SkinBenchWindow"; }
    std::wstring_view SkinFile() const override { return L"test.xml"; }
};

void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

struct Times {
    double build, firstPaint, repaint;
};

Times OneWindow(int dpi) {
    BenchWindow w;
    const double t0 = Now();
    w.Create(nullptr, L"bench", WS_POPUP, 0);
    if (dpi) w.GetPaintManager().SetDpi(dpi);
    const double t1 = Now();
    ::ShowWindow(w.GetHWND(), SW_SHOWNOACTIVATE);
    ::UpdateWindow(w.GetHWND());
    const double t2 = Now();
    ::InvalidateRect(w.GetHWND(), nullptr, FALSE);
    ::UpdateWindow(w.GetHWND());
    const double t3 = Now();
    ::DestroyWindow(w.GetHWND());
    Pump();
    return Times{t1 - t0, t2 - t1, t3 - t2};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_bench <skin folder> [runs]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 7;
    CPaintManagerUI::SetResourceInstance(::GetModuleHandleW(nullptr));
    CPaintManagerUI::SetResourcePath(argv[1]);
    OneWindow(0);  // process-wide set-up (classes, common controls, text services) is not counted
    for (int dpi : {96, 144}) {
        std::vector<double> build, paint, repaint;
        for (int i = 0; i < runs; ++i) {
            const Times t = OneWindow(dpi == 96 ? 0 : dpi);
            build.push_back(t.build * 1000);
            paint.push_back(t.firstPaint * 1000);
            repaint.push_back(t.repaint * 1000);
        }
        std::printf("test skin window at %3d %%: build %7.1f ms, first paint %7.1f ms, build+first paint %7.1f ms, "
                    "full repaint %6.1f ms (median of %d)\n",
                    dpi * 100 / 96, Median(build), Median(paint), Median(build) + Median(paint), Median(repaint),
                    runs);
    }
    CPaintManagerUI::ReleaseSharedResources();
    return 0;
}
