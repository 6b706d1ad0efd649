// Resident helpers of Contoso 翻译. One source, three programs:
//   ContosoHelper.exe / ContosoHelper64.exe  the 32-bit and 64-bit screen-word
//                                            helpers, started with the product
//   Tools\Updater\ContosoUpdater.exe          the update checker
// Each records its start, then waits in a message loop until it is asked to
// close (WM_CLOSE to its hidden window, or the end of the session).
#include <windows.h>

#include "sample/common/contoso.h"

#ifndef CONTOSO_HELPER_NAME
#error CONTOSO_HELPER_NAME must name the program
#endif
#define CONTOSO_STR2(x) #x
#define CONTOSO_STR(x) CONTOSO_STR2(x)
#define CONTOSO_WIDEN2(x) L##x
#define CONTOSO_WIDEN(x) CONTOSO_WIDEN2(x)

namespace {
LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_CLOSE) {
        ::DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    const wchar_t* name = CONTOSO_WIDEN(CONTOSO_STR(CONTOSO_HELPER_NAME));
#ifdef _WIN64
    contoso::RecordLaunch(name, L"bits=64");
#else
    contoso::RecordLaunch(name, L"bits=32");
#endif
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    const std::wstring cls = std::wstring(L"Contoso.") + name;
    wc.lpszClassName = cls.c_str();
    if (!::RegisterClassW(&wc)) return 1;
    // A hidden top-level window (not message-only) so that the session's end
    // and a polite WM_CLOSE reach the helper.
    HWND hwnd = ::CreateWindowExW(WS_EX_TOOLWINDOW, cls.c_str(), name, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  instance, nullptr);
    if (!hwnd) return 1;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
