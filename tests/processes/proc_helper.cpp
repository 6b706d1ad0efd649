// A program the process tests start, find and end.
//
//   proc_helper window <class> <ready file>    a hidden top-level window of that
//       class; closes (exit code 42) on WM_CLOSE; on WM_APP+1 ends with the exit
//       code wParam + lParam. Writes the ready file once the window exists.
//   proc_helper stubborn <class> <ready file>  the same, but ignores WM_CLOSE
//       (and so the close command of the system menu).
//   proc_helper marker <file> [ms] [...]        waits `ms` milliseconds, then writes
//       the file: how it was asked to show itself, its command line and its
//       current folder; ends with exit code 7.
//   proc_helper shell <class> <ready file>      a window like "window" that makes
//       itself the shell window; the ready file says "shell" when that worked.
//   proc_helper sleep                           stays alive for ten minutes.
//   Whatever the arguments: when the environment variable
//   QVR_TEST_RECORD_COMMAND_LINE names a file, the command line is appended to
//   it as one UTF-8 line and the program ends with exit code 0 (a stand-in for
//   a system program, such as netsh, whose command lines a test checks).
//   proc_helper                                 (no arguments) writes the marker
//       file "<own path>.ran" at once and ends with exit code 7: started by the
//       shell, a program may receive no arguments.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr int kClosedExitCode = 42;
constexpr int kMarkerExitCode = 7;
bool g_stubborn = false;

bool WriteUtf8(const std::wstring& path, const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], n, nullptr, nullptr);
    // Written under another name first, so a reader never sees half a file.
    const std::wstring temp = path + L".part";
    HANDLE h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
    return ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CLOSE:
            if (g_stubborn) return 0;
            ::DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(kClosedExitCode);
            return 0;
        case WM_APP + 1:
            ::PostQuitMessage(static_cast<int>(wp + lp));
            return 0;
        default:
            return ::DefWindowProcW(hwnd, msg, wp, lp);
    }
}

int RunWindow(const wchar_t* className, const wchar_t* readyFile, bool asShell) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    if (!::RegisterClassW(&wc)) return 3;
    HWND hwnd = ::CreateWindowExW(0, className, L"qvr process helper", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    if (!hwnd) return 4;
    if (asShell) {
        using SetShellWindowFn = BOOL(WINAPI*)(HWND);
        auto setShell = reinterpret_cast<SetShellWindowFn>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetShellWindow")));
        WriteUtf8(readyFile, setShell && setShell(hwnd) ? L"shell" : L"no shell");
    } else {
        WriteUtf8(readyFile, L"ready");
    }
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

int RunMarker(const wchar_t* file, DWORD waitMs) {
    ::Sleep(waitMs);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    ::GetStartupInfoW(&si);
    wchar_t cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, cwd);
    wchar_t head[64];
    swprintf(head, 64, L"show=%u usesshow=%d\n", static_cast<unsigned>(si.wShowWindow),
             (si.dwFlags & STARTF_USESHOWWINDOW) ? 1 : 0);
    std::wstring text = head;
    text += L"cmd=";
    text += ::GetCommandLineW();
    text += L"\ncwd=";
    text += cwd;
    text += L"\n";
    WriteUtf8(file, text);
    return kMarkerExitCode;
}

// Appends the command line to `file` as one UTF-8 line.
bool AppendCommandLine(const wchar_t* file) {
    const std::wstring line = std::wstring(::GetCommandLineW()) + L"\n";
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &bytes[0], n, nullptr, nullptr);
    HANDLE h = ::CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    ::CloseHandle(h);
    return ok;
}

}  // namespace

int main() {
    wchar_t record[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"QVR_TEST_RECORD_COMMAND_LINE", record, MAX_PATH) - 1u < MAX_PATH - 1u)
        return AppendCommandLine(record) ? 0 : 5;
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv) return 2;
    if (argc < 2) {
        wchar_t self[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        ::LocalFree(argv);
        return RunMarker((std::wstring(self) + L".ran").c_str(), 0);
    }
    const std::wstring mode = argv[1];
    int rc = 2;
    if ((mode == L"window" || mode == L"stubborn" || mode == L"shell") && argc >= 4) {
        g_stubborn = mode == L"stubborn";
        rc = RunWindow(argv[2], argv[3], mode == L"shell");
    } else if (mode == L"marker" && argc >= 3) {
        rc = RunMarker(argv[2], argc >= 4 ? static_cast<DWORD>(_wtoi(argv[3])) : 0);
    } else if (mode == L"sleep") {
        ::Sleep(600000);
        rc = 0;
    }
    ::LocalFree(argv);
    return rc;
}
