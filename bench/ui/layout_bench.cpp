// Layout and paint timings of a control tree of about 2,000 controls on a
// paint manager without a window (a 1280x800 memory DIB stands for the
// window's off-screen bitmap):
//
//   1. building the tree from markup (parse, factory, attributes) and attaching it;
//   2. one full layout pass (every control placed again);
//   3. one full frame painted (backgrounds, borders, rounded fills);
//   4. one small repaint (a 100x30 rectangle, as a button's hover does);
//   5. the same at 150 %.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <objidl.h>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "nqpublic/nqbase/nqhandle.h"
#include "ui/builder/uibuilder.h"
#include "ui/control/uicontrol.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uiimage.h"

namespace {

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

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// 100 rows of 19 controls: fixed and stretched widths, padding, centring, a
// floating badge per row, borders and rounded corners.
// `plain`: the same tree without fills and borders (the tree walk and clipping alone).
std::wstring Layout(int& controls, bool plain) {
    std::wstring xml = L"<Window><VerticalLayout bkcolor=\"#FFF0F0F0\" inset=\"8,8,8,8\" childpadding=\"2\">";
    controls = 1;
    for (int r = 0; r < 100; ++r) {
        xml += L"<HorizontalLayout height=\"6\" childpadding=\"3\" childvalign=\"vcenter\">";
        ++controls;
        for (int c = 0; c < 19; ++c) {
            xml += L"<Control name=\"c" + std::to_wstring(r) + L"_" + std::to_wstring(c) + L"\" ";
            if (c % 4 == 0)
                xml += L"bkcolor=\"#FF3080C0\" ";
            else if (c % 4 == 1)
                xml += L"width=\"48\" height=\"5\" bkcolor=\"#FFFFFFFF\" bordercolor=\"#FF808080\" bordersize=\"1\" ";
            else if (c % 4 == 2)
                xml += L"width=\"30\" padding=\"2,0,2,0\" bkcolor=\"#FF40A040\" borderround=\"3,3\" ";
            else
                xml += L"float=\"true\" floatalign=\"right,vcenter\" width=\"8\" height=\"4\" bkcolor=\"#FFC04040\" ";
            xml += L"/>";
            ++controls;
        }
        xml += L"</HorizontalLayout>";
    }
    xml += L"</VerticalLayout></Window>";
    if (plain) {
        for (const wchar_t* attr : {L"bkcolor=", L"bordercolor="}) {
            for (size_t at = xml.find(attr); at != std::wstring::npos; at = xml.find(attr, at))
                xml.replace(at, 2, L"x");
        }
    }
    return xml;
}

void Run(int dpi, bool plain) {
    const int percent = dpi * 100 / 96;
    const RECT client = {0, 0, 1280 * percent / 100, 800 * percent / 100};
    int controls = 0;
    const std::wstring xml = Layout(controls, plain);

    std::vector<double> build;
    for (int i = 0; i < 5; ++i) {
        SkinUI::CPaintManagerUI pm;
        if (dpi != 96) pm.SetDpi(dpi);
        const double t0 = Now();
        SkinUI::CLayoutBuilder builder;
        SkinUI::CControlUI* root = builder.BuildFrom(xml, nullptr, nullptr, &pm);
        pm.AttachRoot(root);
        build.push_back((Now() - t0) * 1000.0);
    }

    SkinUI::CPaintManagerUI pm;
    if (dpi != 96) pm.SetDpi(dpi);
    SkinUI::CLayoutBuilder builder;
    pm.AttachRoot(builder.BuildFrom(xml, nullptr, nullptr, &pm));
    const nq::scoped_getdc screen(nullptr);
    const nq::unique_hdc dc(::CreateCompatibleDC(screen.get()));
    BYTE* bits = nullptr;
    const nq::unique_hbitmap bmp = SkinUI::CreateDib32(screen.get(), client.right, client.bottom, &bits);
    const nq::scoped_select selected(dc.get(), bmp.get());

    std::vector<double> layout, frame, small;
    for (int i = 0; i < 20; ++i) {
        double t0 = Now();
        pm.LayoutTo(client);
        layout.push_back((Now() - t0) * 1000.0);
        t0 = Now();
        pm.PaintTo(dc.get(), client);
        frame.push_back((Now() - t0) * 1000.0);
        const RECT hover = {200, 200, 300, 230};
        t0 = Now();
        pm.PaintTo(dc.get(), hover);
        small.push_back((Now() - t0) * 1000.0);
    }
    std::printf("%d %%%s: %d controls; build+attach %.1f ms; layout pass %.2f ms; full frame %.2f ms; "
                "100x30 repaint %.3f ms (medians)\n",
                percent, plain ? " (no fills)" : "", controls, Median(build), Median(layout), Median(frame), Median(small));
}

}  // namespace

int main() {
    // Drawing goes through GDI+, which the installer starts at start-up.
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;
    Run(96, false);
    Run(144, false);
    Run(96, true);
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
