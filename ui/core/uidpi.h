// DPI model of skinned windows: layouts are written in 96-DPI units and scaled
// by a per-window percent.
#pragma once

#include <windows.h>

namespace SkinUI {

class CDpiScale {
public:
    enum Awareness { Unaware = 0, SystemAware = 1, PerMonitorAware = 2 };

    // percent = MulDiv(dpi, 100, 96); the system percent takes it when it is 0.
    void SetDpi(int dpi);
    // 100 when unaware, the system percent when system aware, else the scale percent.
    int GetScale() const;
    // 96 when unaware, else MulDiv(percent in use, 96, 100).
    int GetDpi() const;

    int Scale(int value) const;
    int ScaleBack(int value) const;
    // Position and size scale separately: right = scaled left + scaled width.
    RECT Scale(const RECT& rc) const;
    SIZE Scale(const SIZE& size) const;
    POINT Scale(const POINT& pt) const;
    void ScaleRect(RECT* rc) const { *rc = Scale(*rc); }

    Awareness GetAwareness() const { return awareness_; }
    void SetAwareness(Awareness awareness) { awareness_ = awareness; }
    int GetSystemScale() const { return systemPercent_; }
    void SetSystemScale(int percent) { systemPercent_ = percent; }

private:
    Awareness awareness_ = PerMonitorAware;
    int percent_ = 100;
    int systemPercent_ = 100;
};

// Effective DPI of a monitor (GetDpiForMonitor from Shcore.dll when present,
// else the screen's LOGPIXELSX).
int MonitorDpi(HMONITOR monitor);
// The nearest of the skin's DPI steps at or below dpi: 96, 120, 144, 168, 192;
// values below 96 stay as they are.
int SnapDpi(int dpi);

}  // namespace SkinUI
