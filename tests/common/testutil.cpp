#include "tests/common/testutil.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <atomic>

namespace testutil {

std::wstring ExeDir() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    ::PathRemoveFileSpecW(path);
    return path;
}

std::wstring MakeTempDir(const std::wstring& tag) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring base = temp;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    for (;;) {
        std::wstring dir = base + L"qvrtest_" + tag + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                           std::to_wstring(counter++);
        if (::CreateDirectoryW(dir.c_str(), nullptr)) return dir;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return L"";
    }
}

void RemoveTree(const std::wstring& path) {
    if (path.empty()) return;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = path + L"\\" + name;
            ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                ::DeleteFileW(full.c_str());
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(path.c_str());
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
    return ok && written == bytes.size();
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
    bytes.clear();
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    char buf[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ::ReadFile(h, buf, sizeof buf, &got, nullptr) != 0) && got > 0) bytes.append(buf, got);
    ::CloseHandle(h);
    return ok;
}

std::string ReadFileOr(const std::wstring& path, const std::string& fallback) {
    std::string bytes;
    return ReadFileBytes(path, bytes) ? bytes : fallback;
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Utf8ToWide(const std::string& s) {
    if (s.empty()) return L"";
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

std::string WideToUtf8(const std::wstring& s) {
    if (s.empty()) return "";
    int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

Child::~Child() {
    if (pi_.hProcess) ::CloseHandle(pi_.hProcess);
    if (pi_.hThread) ::CloseHandle(pi_.hThread);
}

Child::Child(Child&& o) noexcept : pi_(o.pi_) { o.pi_ = {}; }

Child& Child::operator=(Child&& o) noexcept {
    if (this != &o) {
        this->~Child();
        pi_ = o.pi_;
        o.pi_ = {};
    }
    return *this;
}

bool Child::Start(const std::wstring& commandLine, const std::map<std::wstring, std::wstring>& env,
                  const std::wstring& cwd) {
    // Environment block: this process's variables with `env` laid over them.
    std::map<std::wstring, std::wstring, bool (*)(const std::wstring&, const std::wstring&)> vars(
        [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            std::wstring entry = p;
            const size_t eq = entry.find(L'=', 1);
            if (eq == std::wstring::npos) continue;
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        ::FreeEnvironmentStringsW(block);
    }
    for (const auto& kv : env) vars[kv.first] = kv.second;
    std::wstring envBlock;
    for (const auto& kv : vars) envBlock += kv.first + L"=" + kv.second + L'\0';
    envBlock += L'\0';

    std::wstring cmd = commandLine;
    STARTUPINFOW si = {sizeof si};
    return ::CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &envBlock[0],
                            cwd.empty() ? nullptr : cwd.c_str(), &si, &pi_) != 0;
}

bool Child::Wait(DWORD timeoutMs) {
    if (!pi_.hProcess) return false;
    const DWORD start = ::GetTickCount();
    for (;;) {
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs) return ::WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0;
        const DWORD r = ::MsgWaitForMultipleObjects(1, &pi_.hProcess, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return true;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

DWORD Child::ExitCode() const {
    DWORD code = ~0u;
    if (pi_.hProcess) ::GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

bool Child::Running() const { return pi_.hProcess && ::WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

void Child::Kill(UINT code) {
    if (Running()) {
        ::TerminateProcess(pi_.hProcess, code);
        ::WaitForSingleObject(pi_.hProcess, 5000);
    }
}

DWORD Run(const std::wstring& commandLine, const std::map<std::wstring, std::wstring>& env, DWORD timeoutMs) {
    Child c;
    if (!c.Start(commandLine, env)) return ~0u;
    if (!c.Wait(timeoutMs)) {
        c.Kill();
        return ~0u;
    }
    return c.ExitCode();
}

void PumpFor(DWORD ms) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < ms) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        PumpFor(50);
    }
}

RecordingWindow::RecordingWindow() {
    static const wchar_t* kClass = L"QvrTestRecordingWindow";
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &RecordingWindow::Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        ::RegisterClassW(&wc);
        registered = true;
    }
    hwnd_ = ::CreateWindowExW(0, kClass, L"qvr test listener", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), this);
}

RecordingWindow::~RecordingWindow() {
    if (hwnd_) ::DestroyWindow(hwnd_);
}

LRESULT CALLBACK RecordingWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<RecordingWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg >= WM_USER) self->seen_[msg].push_back({wp, lp});
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

int RecordingWindow::Count(UINT msg) const {
    auto it = seen_.find(msg);
    return it == seen_.end() ? 0 : static_cast<int>(it->second.size());
}

std::vector<std::pair<WPARAM, LPARAM>> RecordingWindow::Params(UINT msg) const {
    auto it = seen_.find(msg);
    return it == seen_.end() ? std::vector<std::pair<WPARAM, LPARAM>>{} : it->second;
}

namespace {
struct FindData {
    std::wstring title;
    DWORD pid;
    HWND found;
    bool anyDialog = false;  // any dialog-class window instead of a title
};
BOOL CALLBACK FindTopProc(HWND hwnd, LPARAM lp) {
    auto* d = reinterpret_cast<FindData*>(lp);
    if (!::IsWindowVisible(hwnd)) return TRUE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (d->pid && pid != d->pid) return TRUE;
    wchar_t title[512] = {};
    if (d->anyDialog)
        ::GetClassNameW(hwnd, title, 512);
    else
        ::GetWindowTextW(hwnd, title, 512);
    if (d->anyDialog ? std::wstring(title) == L"#32770" : d->title == title) {
        d->found = hwnd;
        return FALSE;
    }
    return TRUE;
}
BOOL CALLBACK CollectStatics(HWND hwnd, LPARAM lp) {
    wchar_t cls[64] = {};
    ::GetClassNameW(hwnd, cls, 64);
    if (_wcsicmp(cls, L"Static") == 0) {
        const int len = ::GetWindowTextLengthW(hwnd);
        std::wstring text(static_cast<size_t>(len) + 1, L'\0');
        ::GetWindowTextW(hwnd, &text[0], len + 1);
        text.resize(static_cast<size_t>(len));
        auto* out = reinterpret_cast<std::wstring*>(lp);
        *out += text;
    }
    return TRUE;
}
}  // namespace

HWND FindTopWindow(const std::wstring& title, DWORD pid) {
    FindData d{title, pid, nullptr};
    ::EnumWindows(&FindTopProc, reinterpret_cast<LPARAM>(&d));
    return d.found;
}

HWND WaitForTopWindow(const std::wstring& title, DWORD pid, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopWindow(title, pid)) != nullptr; }, timeoutMs);
    return found;
}

HWND WaitForDialog(DWORD pid, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            FindData d{L"", pid, nullptr, true};
            ::EnumWindows(&FindTopProc, reinterpret_cast<LPARAM>(&d));
            return (found = d.found) != nullptr;
        },
        timeoutMs);
    return found;
}

std::wstring DialogText(HWND dialog) {
    std::wstring text;
    ::EnumChildWindows(dialog, &CollectStatics, reinterpret_cast<LPARAM>(&text));
    return text;
}

bool PressDialogButton(HWND dialog, int id) {
    HWND button = ::GetDlgItem(dialog, id);
    if (!button) return false;
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return true;
}

}  // namespace testutil
