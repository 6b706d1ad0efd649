// Counts the GDI and USER objects this program's own code makes and frees, by
// routing its imports of the creating and freeing functions through counters.
// Wine reports no per-process object counts (GetGuiResources gives 0), so the
// leak check of the window framework (linked into this program) uses these.
#pragma once

#include <windows.h>

namespace gdicount {

struct Counts {
    long gdiObjects;  // pens, brushes, fonts, bitmaps, regions
    long dcs;         // memory DCs and GetDC/GetWindowDC DCs
    long timers;      // window timers of live windows
    long icons;
};

// Patches the import table of the main module; false when nothing was found.
bool Install();
Counts Now();

}  // namespace gdicount
