#include "ui/core/uidpi.h"

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "nqpublic/nqbase/nqhandle.h"

namespace SkinUI {

void CDpiScale::SetDpi(int dpi) {
    percent_ = ::MulDiv(dpi, 100, 96);
    if (systemPercent_ == 0) systemPercent_ = percent_;
}

int CDpiScale::GetScale() const {
    switch (awareness_) {
    case Unaware: return 100;
    case SystemAware: return systemPercent_;
    default: return percent_;
    }
}

int CDpiScale::GetDpi() const {
    if (awareness_ == Unaware) return 96;
    return ::MulDiv(GetScale(), 96, 100);
}

int CDpiScale::Scale(int value) const {
    if (awareness_ == Unaware) return value;
    return ::MulDiv(value, GetScale(), 100);
}

int CDpiScale::ScaleBack(int value) const {
    const int percent = GetScale();
    if (awareness_ == Unaware || percent == 0) return value;
    return ::MulDiv(value, 100, percent);
}

RECT CDpiScale::Scale(const RECT& rc) const {
    RECT out;
    out.left = Scale(static_cast<int>(rc.left));
    out.top = Scale(static_cast<int>(rc.top));
    out.right = out.left + Scale(static_cast<int>(rc.right - rc.left));
    out.bottom = out.top + Scale(static_cast<int>(rc.bottom - rc.top));
    return out;
}

SIZE CDpiScale::Scale(const SIZE& size) const {
    return SIZE{Scale(static_cast<int>(size.cx)), Scale(static_cast<int>(size.cy))};
}

POINT CDpiScale::Scale(const POINT& pt) const {
    return POINT{Scale(static_cast<int>(pt.x)), Scale(static_cast<int>(pt.y))};
}

int MonitorDpi(HMONITOR monitor) {
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    // Shcore.dll is loaded once, on first use, and kept for the life of the process.
    static const GetDpiForMonitorFn getDpi = []() -> GetDpiForMonitorFn {
        HMODULE shcore = ::LoadLibraryW(L"Shcore.dll");
        if (!shcore) return nullptr;
        return reinterpret_cast<GetDpiForMonitorFn>(::GetProcAddress(shcore, "GetDpiForMonitor"));
    }();
    if (getDpi) {
        UINT dpiX = 96, dpiY = 96;
        const HRESULT hr = getDpi(monitor, 0 /* MDT_EFFECTIVE_DPI */, &dpiX, &dpiY);
        if (SUCCEEDED(hr)) return static_cast<int>(dpiX);
        DebugTrace(L"GetDpiForMonitor failed:0x%08x\r\n", static_cast<unsigned>(hr));
        ::MessageBoxW(nullptr, L"GetDpiForMonitor failed", L"Notification", MB_OK);
    }
    nq::scoped_getdc screen(nullptr);
    if (!screen.get()) return 96;
    return ::GetDeviceCaps(screen.get(), LOGPIXELSX);
}

int SnapDpi(int dpi) {
    if (dpi < 96) return dpi;
    if (dpi < 120) return 96;
    if (dpi < 144) return 120;
    if (dpi < 168) return 144;
    if (dpi < 192) return 168;
    return 192;
}

}  // namespace SkinUI
