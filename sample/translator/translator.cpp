// Contoso 翻译 标准版: the product's main program.
//
// A small dictionary window. Command line:
//   /auto                 started with Windows: minimised to the notification area
//   /menu                 started from the start menu
//   #/translate?tab=<t>   open the page <t> (the installer's completion page uses it)
// A second start hands its command line to the running window and ends.
// Every start is recorded in %LOCALAPPDATA%\ContosoTranslator\launches.log.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "sample/common/contoso.h"

namespace {

constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kTrayId = 1;

struct AppState {
    std::wstring page = L"home";
    std::wstring startedBy = L"user";
    size_t entries = 0;
    bool inTray = false;
};
AppState g_state;
UINT g_shortcutMessage = 0;

bool HasArg(const std::vector<std::wstring>& args, const wchar_t* arg) {
    for (const auto& a : args)
        if (_wcsicmp(a.c_str(), arg) == 0) return true;
    return false;
}

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
    std::vector<std::wstring> out;
    int n = 0;
    nq::unique_hlocal mem(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(commandLine, &n)));
    auto** argv = static_cast<wchar_t**>(mem.get());
    for (int i = 1; argv && i < n; ++i) out.emplace_back(argv[i]);
    return out;
}

// The page named by a "#/translate?tab=<page>" argument, or "".
std::wstring PageFromArgs(const std::vector<std::wstring>& args) {
    for (const auto& a : args) {
        const std::wstring prefix = L"#/translate?tab=";
        if (a.compare(0, prefix.size(), prefix) == 0) return a.substr(prefix.size());
        if (a == L"#/translate") return L"translate";
    }
    return L"";
}

bool RunToTrayPreference() {
    DWORD value = 0, size = sizeof value;
    return ::RegGetValueW(HKEY_CURRENT_USER, contoso::kProductKey, L"RunToTray", RRF_RT_REG_DWORD, nullptr, &value,
                          &size) == ERROR_SUCCESS &&
           value == 1;
}

// Counts the entries of the dictionary beside the program (tab-separated lines).
size_t CountDictionaryEntries() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    ::PathRemoveFileSpecW(path);
    const std::wstring dict = std::wstring(path) + L"\\data\\dict\\zh-en.dict";
    nq::unique_hfile file(::CreateFileW(dict.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return 0;
    size_t lines = 0;
    char buf[8192];
    DWORD got = 0;
    while (::ReadFile(file.get(), buf, sizeof buf, &got, nullptr) && got > 0)
        for (DWORD i = 0; i < got; ++i)
            if (buf[i] == '\n') ++lines;
    return lines;
}

void ApplyArgs(HWND hwnd, const std::vector<std::wstring>& args) {
    const std::wstring page = PageFromArgs(args);
    if (!page.empty()) g_state.page = page;
    if (HasArg(args, L"/auto"))
        g_state.startedBy = L"windows start-up";
    else if (HasArg(args, L"/menu"))
        g_state.startedBy = L"start menu";
    if (hwnd) ::InvalidateRect(hwnd, nullptr, TRUE);
}

void AddTrayIcon(HWND hwnd) {
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd;
    nid.uID = kTrayId;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = kTrayMessage;
    nid.hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    lstrcpynW(nid.szTip, contoso::kProductName, ARRAYSIZE(nid.szTip));
    g_state.inTray = ::Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
}

void RemoveTrayIcon(HWND hwnd) {
    if (!g_state.inTray) return;
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd;
    nid.uID = kTrayId;
    ::Shell_NotifyIconW(NIM_DELETE, &nid);
    g_state.inTray = false;
}

void Paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    RECT rc;
    ::GetClientRect(hwnd, &rc);
    ::InflateRect(&rc, -16, -16);
    std::wstring text = std::wstring(contoso::kProductName) + L"  1.0.3.0\r\n\r\n页面: " + g_state.page +
                        L"\r\n启动方式: " + g_state.startedBy + L"\r\n词典条目: " +
                        std::to_wstring(g_state.entries);
    ::SetBkMode(dc, TRANSPARENT);
    ::DrawTextW(dc, text.c_str(), -1, &rc, DT_LEFT | DT_TOP | DT_WORDBREAK);
    ::EndPaint(hwnd, &ps);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_PAINT:
        Paint(hwnd);
        return 0;
    case WM_COPYDATA: {
        // Another start of the product hands over its command line.
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        if (cds && cds->lpData && cds->cbData >= sizeof(wchar_t)) {
            std::wstring commandLine(static_cast<const wchar_t*>(cds->lpData), cds->cbData / sizeof(wchar_t));
            while (!commandLine.empty() && commandLine.back() == L'\0') commandLine.pop_back();
            const auto args = SplitCommandLine((L"x " + commandLine).c_str());
            ApplyArgs(hwnd, args);
            if (!HasArg(args, L"/auto")) {
                ::ShowWindow(hwnd, SW_SHOWNORMAL);
                ::SetForegroundWindow(hwnd);
            }
        }
        return TRUE;
    }
    case kTrayMessage:
        if (LOWORD(lp) == WM_LBUTTONDBLCLK) {
            ::ShowWindow(hwnd, SW_SHOWNORMAL);
            ::SetForegroundWindow(hwnd);
        }
        return 0;
    case WM_DESTROY:
        RemoveTrayIcon(hwnd);
        ::PostQuitMessage(0);
        return 0;
    }
    if (msg == g_shortcutMessage && g_shortcutMessage != 0) {
        // The installer created the desktop shortcut: nothing to refresh here
        // beyond a repaint.
        ::InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show) {
    const auto args = SplitCommandLine(::GetCommandLineW());
    const bool tray = HasArg(args, L"/auto") || RunToTrayPreference();
    contoso::RecordLaunch(L"ContosoTranslator.exe", tray ? L"tray=1" : L"tray=0");

    // One window per user session: a second start hands over its arguments.
    if (HWND running = ::FindWindowW(contoso::kMainWindowClass, nullptr)) {
        const wchar_t* rest = ::PathGetArgsW(::GetCommandLineW());
        COPYDATASTRUCT cds = {};
        cds.dwData = 1;
        cds.cbData = static_cast<DWORD>((wcslen(rest) + 1) * sizeof(wchar_t));
        cds.lpData = const_cast<wchar_t*>(rest);
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, 5000, &result);
        return 0;
    }

    g_shortcutMessage = ::RegisterWindowMessageW(L"ContosoTranslator.DesktopShortcut");
    g_state.entries = CountDictionaryEntries();
    ApplyArgs(nullptr, args);

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = contoso::kMainWindowClass;
    if (!::RegisterClassExW(&wc)) return 1;
    HWND hwnd = ::CreateWindowExW(0, contoso::kMainWindowClass, contoso::kProductName, WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 520, 360, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 1;
    if (tray) {
        AddTrayIcon(hwnd);
        if (!g_state.inTray) ::ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
    } else {
        ::ShowWindow(hwnd, show == SW_HIDE ? SW_SHOWNORMAL : show);
    }
    ::UpdateWindow(hwnd);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
