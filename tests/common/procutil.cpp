#include "tests/common/procutil.h"

#include "tests/common/testutil.h"

namespace testutil {

std::wstring CopyProgram(const std::wstring& fileName, const std::wstring& dir, const std::wstring& newName) {
    const std::wstring from = ExeDir() + L"\\" + fileName;
    const std::wstring to = dir + L"\\" + newName;
    return ::CopyFileW(from.c_str(), to.c_str(), FALSE) ? to : L"";
}

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    return WaitUntil([&] { return FileExists(path); }, timeoutMs);
}

std::wstring LongPath(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {};
    if (!::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr)) return path;
    wchar_t longer[MAX_PATH] = {};
    if (!::GetLongPathNameW(full, longer, MAX_PATH)) return full;
    return longer;
}

bool ProcessRunning(DWORD pid) {
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return false;
    const bool running = ::WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    ::CloseHandle(h);
    return running;
}

}  // namespace testutil
