#include "tests/uiwindow/gdicount.h"

#include <cstring>
#include <set>
#include <utility>

namespace gdicount {
namespace {

long g_gdi = 0;
long g_dc = 0;
long g_icons = 0;
std::set<std::pair<HWND, UINT_PTR>> g_timers;
// The system's functions, fetched before the imports are routed here.
decltype(&::CreatePen) RealCreatePen = nullptr;
decltype(&::CreateSolidBrush) RealCreateSolidBrush = nullptr;
decltype(&::CreatePatternBrush) RealCreatePatternBrush = nullptr;
decltype(&::CreateFontIndirectW) RealCreateFontIndirectW = nullptr;
decltype(&::CreateCompatibleBitmap) RealCreateCompatibleBitmap = nullptr;
decltype(&::CreateBitmap) RealCreateBitmap = nullptr;
decltype(&::CreateDIBSection) RealCreateDIBSection = nullptr;
decltype(&::CreateRectRgn) RealCreateRectRgn = nullptr;
decltype(&::CreateRectRgnIndirect) RealCreateRectRgnIndirect = nullptr;
decltype(&::CreateRoundRectRgn) RealCreateRoundRectRgn = nullptr;
decltype(&::DeleteObject) RealDeleteObject = nullptr;
decltype(&::SetWindowRgn) RealSetWindowRgn = nullptr;
decltype(&::CreateCompatibleDC) RealCreateCompatibleDC = nullptr;
decltype(&::DeleteDC) RealDeleteDC = nullptr;
decltype(&::GetDC) RealGetDC = nullptr;
decltype(&::GetWindowDC) RealGetWindowDC = nullptr;
decltype(&::ReleaseDC) RealReleaseDC = nullptr;
decltype(&::SetTimer) RealSetTimer = nullptr;
decltype(&::KillTimer) RealKillTimer = nullptr;
decltype(&::LoadImageW) RealLoadImageW = nullptr;
decltype(&::DestroyIcon) RealDestroyIcon = nullptr;

template <typename T>
T Counted(T object, long& counter) {
    if (object) ++counter;
    return object;
}

HPEN WINAPI MyCreatePen(int a, int b, COLORREF c) { return Counted(RealCreatePen(a, b, c), g_gdi); }
HBRUSH WINAPI MyCreateSolidBrush(COLORREF c) { return Counted(RealCreateSolidBrush(c), g_gdi); }
HBRUSH WINAPI MyCreatePatternBrush(HBITMAP b) { return Counted(RealCreatePatternBrush(b), g_gdi); }
HFONT WINAPI MyCreateFontIndirectW(const LOGFONTW* lf) { return Counted(RealCreateFontIndirectW(lf), g_gdi); }
HBITMAP WINAPI MyCreateCompatibleBitmap(HDC dc, int w, int h) {
    return Counted(RealCreateCompatibleBitmap(dc, w, h), g_gdi);
}
HBITMAP WINAPI MyCreateBitmap(int w, int h, UINT p, UINT b, const void* bits) {
    return Counted(RealCreateBitmap(w, h, p, b, bits), g_gdi);
}
HBITMAP WINAPI MyCreateDIBSection(HDC dc, const BITMAPINFO* bi, UINT u, void** bits, HANDLE s, DWORD o) {
    return Counted(RealCreateDIBSection(dc, bi, u, bits, s, o), g_gdi);
}
HRGN WINAPI MyCreateRectRgn(int a, int b, int c, int d) { return Counted(RealCreateRectRgn(a, b, c, d), g_gdi); }
HRGN WINAPI MyCreateRectRgnIndirect(const RECT* rc) { return Counted(RealCreateRectRgnIndirect(rc), g_gdi); }
HRGN WINAPI MyCreateRoundRectRgn(int a, int b, int c, int d, int e, int f) {
    return Counted(RealCreateRoundRectRgn(a, b, c, d, e, f), g_gdi);
}
BOOL WINAPI MyDeleteObject(HGDIOBJ o) {
    const BOOL ok = RealDeleteObject(o);
    if (ok && o) --g_gdi;
    return ok;
}
int WINAPI MySetWindowRgn(HWND hwnd, HRGN rgn, BOOL redraw) {
    const int ok = RealSetWindowRgn(hwnd, rgn, redraw);
    if (ok && rgn) --g_gdi;  // the window owns it now
    return ok;
}
HDC WINAPI MyCreateCompatibleDC(HDC dc) { return Counted(RealCreateCompatibleDC(dc), g_dc); }
BOOL WINAPI MyDeleteDC(HDC dc) {
    const BOOL ok = RealDeleteDC(dc);
    if (ok) --g_dc;
    return ok;
}
HDC WINAPI MyGetDC(HWND hwnd) { return Counted(RealGetDC(hwnd), g_dc); }
HDC WINAPI MyGetWindowDC(HWND hwnd) { return Counted(RealGetWindowDC(hwnd), g_dc); }
int WINAPI MyReleaseDC(HWND hwnd, HDC dc) {
    const int ok = RealReleaseDC(hwnd, dc);
    if (ok) --g_dc;
    return ok;
}
UINT_PTR WINAPI MySetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    const UINT_PTR r = RealSetTimer(hwnd, id, elapse, proc);
    if (r) g_timers.insert({hwnd, hwnd ? id : r});
    return r;
}
BOOL WINAPI MyKillTimer(HWND hwnd, UINT_PTR id) {
    const BOOL ok = RealKillTimer(hwnd, id);
    g_timers.erase({hwnd, id});
    return ok;
}
HANDLE WINAPI MyLoadImageW(HINSTANCE inst, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
    HANDLE h = RealLoadImageW(inst, name, type, cx, cy, flags);
    if (h && !(flags & LR_SHARED)) {
        if (type == IMAGE_ICON || type == IMAGE_CURSOR) ++g_icons;
        else if (type == IMAGE_BITMAP) ++g_gdi;
    }
    return h;
}
BOOL WINAPI MyDestroyIcon(HICON icon) {
    const BOOL ok = RealDestroyIcon(icon);
    if (ok) --g_icons;
    return ok;
}

struct Hook {
    const char* dll;
    const char* name;
    void* replacement;
};

const Hook kHooks[] = {
    {"gdi32.dll", "CreatePen", reinterpret_cast<void*>(&MyCreatePen)},
    {"gdi32.dll", "CreateSolidBrush", reinterpret_cast<void*>(&MyCreateSolidBrush)},
    {"gdi32.dll", "CreatePatternBrush", reinterpret_cast<void*>(&MyCreatePatternBrush)},
    {"gdi32.dll", "CreateFontIndirectW", reinterpret_cast<void*>(&MyCreateFontIndirectW)},
    {"gdi32.dll", "CreateCompatibleBitmap", reinterpret_cast<void*>(&MyCreateCompatibleBitmap)},
    {"gdi32.dll", "CreateBitmap", reinterpret_cast<void*>(&MyCreateBitmap)},
    {"gdi32.dll", "CreateDIBSection", reinterpret_cast<void*>(&MyCreateDIBSection)},
    {"gdi32.dll", "CreateRectRgn", reinterpret_cast<void*>(&MyCreateRectRgn)},
    {"gdi32.dll", "CreateRectRgnIndirect", reinterpret_cast<void*>(&MyCreateRectRgnIndirect)},
    {"gdi32.dll", "CreateRoundRectRgn", reinterpret_cast<void*>(&MyCreateRoundRectRgn)},
    {"gdi32.dll", "DeleteObject", reinterpret_cast<void*>(&MyDeleteObject)},
    {"gdi32.dll", "CreateCompatibleDC", reinterpret_cast<void*>(&MyCreateCompatibleDC)},
    {"gdi32.dll", "DeleteDC", reinterpret_cast<void*>(&MyDeleteDC)},
    {"user32.dll", "SetWindowRgn", reinterpret_cast<void*>(&MySetWindowRgn)},
    {"user32.dll", "GetDC", reinterpret_cast<void*>(&MyGetDC)},
    {"user32.dll", "GetWindowDC", reinterpret_cast<void*>(&MyGetWindowDC)},
    {"user32.dll", "ReleaseDC", reinterpret_cast<void*>(&MyReleaseDC)},
    {"user32.dll", "SetTimer", reinterpret_cast<void*>(&MySetTimer)},
    {"user32.dll", "KillTimer", reinterpret_cast<void*>(&MyKillTimer)},
    {"user32.dll", "LoadImageW", reinterpret_cast<void*>(&MyLoadImageW)},
    {"user32.dll", "DestroyIcon", reinterpret_cast<void*>(&MyDestroyIcon)},
};

}  // namespace

bool Install() {
    static bool resolved = false;
    if (!resolved) {
        resolved = true;
        HMODULE gdi = ::GetModuleHandleA("gdi32.dll");
        HMODULE user = ::GetModuleHandleA("user32.dll");
        RealCreatePen = reinterpret_cast<decltype(RealCreatePen)>(::GetProcAddress(gdi, "CreatePen"));
        RealCreateSolidBrush = reinterpret_cast<decltype(RealCreateSolidBrush)>(::GetProcAddress(gdi, "CreateSolidBrush"));
        RealCreatePatternBrush = reinterpret_cast<decltype(RealCreatePatternBrush)>(::GetProcAddress(gdi, "CreatePatternBrush"));
        RealCreateFontIndirectW = reinterpret_cast<decltype(RealCreateFontIndirectW)>(::GetProcAddress(gdi, "CreateFontIndirectW"));
        RealCreateCompatibleBitmap = reinterpret_cast<decltype(RealCreateCompatibleBitmap)>(::GetProcAddress(gdi, "CreateCompatibleBitmap"));
        RealCreateBitmap = reinterpret_cast<decltype(RealCreateBitmap)>(::GetProcAddress(gdi, "CreateBitmap"));
        RealCreateDIBSection = reinterpret_cast<decltype(RealCreateDIBSection)>(::GetProcAddress(gdi, "CreateDIBSection"));
        RealCreateRectRgn = reinterpret_cast<decltype(RealCreateRectRgn)>(::GetProcAddress(gdi, "CreateRectRgn"));
        RealCreateRectRgnIndirect = reinterpret_cast<decltype(RealCreateRectRgnIndirect)>(::GetProcAddress(gdi, "CreateRectRgnIndirect"));
        RealCreateRoundRectRgn = reinterpret_cast<decltype(RealCreateRoundRectRgn)>(::GetProcAddress(gdi, "CreateRoundRectRgn"));
        RealDeleteObject = reinterpret_cast<decltype(RealDeleteObject)>(::GetProcAddress(gdi, "DeleteObject"));
        RealSetWindowRgn = reinterpret_cast<decltype(RealSetWindowRgn)>(::GetProcAddress(user, "SetWindowRgn"));
        RealCreateCompatibleDC = reinterpret_cast<decltype(RealCreateCompatibleDC)>(::GetProcAddress(gdi, "CreateCompatibleDC"));
        RealDeleteDC = reinterpret_cast<decltype(RealDeleteDC)>(::GetProcAddress(gdi, "DeleteDC"));
        RealGetDC = reinterpret_cast<decltype(RealGetDC)>(::GetProcAddress(user, "GetDC"));
        RealGetWindowDC = reinterpret_cast<decltype(RealGetWindowDC)>(::GetProcAddress(user, "GetWindowDC"));
        RealReleaseDC = reinterpret_cast<decltype(RealReleaseDC)>(::GetProcAddress(user, "ReleaseDC"));
        RealSetTimer = reinterpret_cast<decltype(RealSetTimer)>(::GetProcAddress(user, "SetTimer"));
        RealKillTimer = reinterpret_cast<decltype(RealKillTimer)>(::GetProcAddress(user, "KillTimer"));
        RealLoadImageW = reinterpret_cast<decltype(RealLoadImageW)>(::GetProcAddress(user, "LoadImageW"));
        RealDestroyIcon = reinterpret_cast<decltype(RealDestroyIcon)>(::GetProcAddress(user, "DestroyIcon"));
    }
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return false;
    int patched = 0;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        const char* dll = reinterpret_cast<const char*>(base + imp->Name);
        for (const Hook& hook : kHooks) {
            if (_stricmp(dll, hook.dll) != 0) continue;
            void* target = reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA(hook.dll), hook.name));
            for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk); thunk->u1.Function;
                 ++thunk) {
                if (reinterpret_cast<void*>(thunk->u1.Function) != target) continue;
                DWORD old = 0;
                ::VirtualProtect(&thunk->u1.Function, sizeof(thunk->u1.Function), PAGE_READWRITE, &old);
                thunk->u1.Function = reinterpret_cast<ULONG_PTR>(hook.replacement);
                ::VirtualProtect(&thunk->u1.Function, sizeof(thunk->u1.Function), old, &old);
                ++patched;
            }
        }
    }
    return patched > 0;
}

Counts Now() {
    // Timers die with their windows.
    for (auto it = g_timers.begin(); it != g_timers.end();)
        it = it->first && !::IsWindow(it->first) ? g_timers.erase(it) : std::next(it);
    return Counts{g_gdi, g_dc, static_cast<long>(g_timers.size()), g_icons};
}

}  // namespace gdicount
