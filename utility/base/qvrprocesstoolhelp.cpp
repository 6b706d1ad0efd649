#include "utility/base/qvrprocesstoolhelp.h"

#include <tlhelp32.h>

#include <vector>

#include "nqpublic/nqbase/log/nqbaselog.h"

namespace {

constexpr DWORD kCloseWaitMs = 3000;
constexpr DWORD kTerminateWaitMs = 3000;

// SHCreateDirectory is exported by ordinal only on some systems.
using SHCreateDirectoryFn = int(WINAPI*)(HWND, LPCWSTR);
constexpr WORD kSHCreateDirectoryOrdinal = 165;

using CreateProcessWithTokenWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR,
                                                LPSTARTUPINFOW, LPPROCESS_INFORMATION);

BOOL CALLBACK CloseWindowsOfProcess(HWND hwnd, LPARAM lp) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner == static_cast<DWORD>(lp)) {
        ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

// Walks the snapshot from its first entry; `visit` returns false to stop.
template <typename Visit>
void ForEachProcess(HANDLE snapshot, Visit visit) {
    if (snapshot == INVALID_HANDLE_VALUE || snapshot == nullptr) return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == 0) continue;
        if (!visit(entry)) return;
    }
}

}  // namespace

static_assert(sizeof(PROCESSENTRY32W) == 556, "PROCESSENTRY32W layout");

CProcessToolHelp::CProcessToolHelp() : snapshot_(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)) {
    if (!snapshot_) TRACE_FAILURE("CreateToolhelp32Snapshot failed");
}

DWORD CProcessToolHelp::FindProcessIdByName(const wchar_t* name) const {
    DWORD found = kNoProcess;
    ForEachProcess(snapshot_.get(), [&](const PROCESSENTRY32W& e) {
        if (::lstrcmpiW(e.szExeFile, name ? name : L"") != 0) return true;
        found = e.th32ProcessID;
        return false;
    });
    return found;
}

std::vector<DWORD> CProcessToolHelp::FindProcessIdsByName(const wchar_t* name) const {
    std::vector<DWORD> ids;
    ForEachProcess(snapshot_.get(), [&](const PROCESSENTRY32W& e) {
        if (::lstrcmpiW(e.szExeFile, name ? name : L"") == 0) ids.push_back(e.th32ProcessID);
        return true;
    });
    return ids;
}

bool CProcessToolHelp::BuildDeviceMap() {
    const DWORD units = ::GetLogicalDriveStringsW(0, nullptr);
    std::vector<wchar_t> roots;
    bool ok = units != 0;
    if (ok) {
        roots.assign(units + 1, L'\0');
        const DWORD got = ::GetLogicalDriveStringsW(units, roots.data());
        ok = got != 0 && got <= units;
    }
    if (!ok) {
        TRACE_FAILURE("GetLogicalDriveStrings failed");
        return false;
    }
    // Each root is "X:\" and a terminating zero; the list ends with an empty root.
    for (const wchar_t* root = roots.data(); *root; root += wcslen(root) + 1) {
        if (wcslen(root) < 2) continue;
        const std::wstring drive(root, 2);
        wchar_t device[MAX_PATH] = {};
        if (::QueryDosDeviceW(drive.c_str(), device, MAX_PATH)) deviceMap_[device] = drive;
    }
    return true;
}

int CProcessToolHelp::DevicePathToDosPath(std::wstring& path) {
    if (deviceMap_.empty() && !BuildDeviceMap()) return 0;

    // The device prefix: everything before the third backslash.
    size_t cut = std::wstring::npos;
    size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        cut = path.find(L'\\', from);
        if (cut == std::wstring::npos) break;
        from = cut + 1;
    }
    if (cut == std::wstring::npos || cut == 0) return 1;
    const std::wstring prefix = path.substr(0, cut);

    // Only the leading prefix is the device: text further on that happens to
    // look like a device name belongs to the path and is kept.
    auto it = deviceMap_.find(prefix);
    const std::wstring drive = it == deviceMap_.end() ? std::wstring() : it->second;
    path.replace(0, prefix.size(), drive);
    return 1;
}

bool CProcessToolHelp::KillProcess(DWORD pid) {
    if (pid == 0) return true;

    ::EnumWindows(&CloseWindowsOfProcess, static_cast<LPARAM>(pid));
    SetPrivilege(L"SeDebugPrivilege", true);

    nq::unique_handle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;

    if (::WaitForSingleObject(process.get(), kCloseWaitMs) != WAIT_OBJECT_0)
        ::TerminateProcess(process.get(), 0);
    return ::WaitForSingleObject(process.get(), kTerminateWaitMs) == WAIT_OBJECT_0;
}

bool CProcessToolHelp::SetPrivilege(const wchar_t* name, bool enable) {
    nq::unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) {
        TRACE_FAILURE("OpenProcessToken failed!");
        return false;
    }
    TOKEN_PRIVILEGES tp = {};
    if (!::LookupPrivilegeValueW(nullptr, name ? name : L"", &tp.Privileges[0].Luid)) {
        TRACE_FAILURE("LookupPrivilegeValue failed!");
        return false;
    }
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!::AdjustTokenPrivileges(token.get(), FALSE, &tp, sizeof tp, nullptr, nullptr)) {
        TRACE_FAILURE("AdjustTokenPrivileges failed!");
        return false;
    }
    return true;
}

std::wstring CProcessToolHelp::ExplorerCommandLine(const wchar_t* program, const wchar_t* parameters) {
    std::wstring line = L"explorer.exe ";
    line += L'"';
    line += program ? program : L"";
    line += L"\" \"";
    line += parameters ? parameters : L"";
    line += L'"';
    return line;
}

UINT CProcessToolHelp::LaunchViaExplorer(const wchar_t* program, const wchar_t* parameters) {
    const std::wstring line = ExplorerCommandLine(program, parameters);
    const int n = ::WideCharToMultiByte(CP_THREAD_ACP, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return 0;
    std::string ansi(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, line.c_str(), -1, &ansi[0], n, nullptr, nullptr);
    return ::WinExec(ansi.c_str(), SW_SHOWNORMAL);
}

int CProcessToolHelp::LaunchWithShellToken(const wchar_t* application, const wchar_t* commandLine,
                                           const wchar_t* currentDirectory) {
    const HWND shell = ::GetShellWindow();
    if (!shell) return kNoShellWindow;
    DWORD shellPid = 0;
    ::GetWindowThreadProcessId(shell, &shellPid);
    if (shellPid == 0) return kNoShellProcessId;

    nq::unique_handle shellProcess(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellPid));
    if (!shellProcess) return kOpenShellProcessFailed;
    nq::unique_handle shellToken;
    if (!::OpenProcessToken(shellProcess.get(), TOKEN_DUPLICATE, shellToken.put())) return kOpenShellTokenFailed;
    nq::unique_handle primary;
    constexpr DWORD kRights =
        TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;
    if (!::DuplicateTokenEx(shellToken.get(), kRights, nullptr, SecurityImpersonation, TokenPrimary, primary.put()))
        return kDuplicateTokenFailed;

    nq::unique_hmodule advapi(::LoadLibraryW(L"Advapi32.dll"));
    auto create = advapi ? reinterpret_cast<CreateProcessWithTokenWFn>(
                               reinterpret_cast<void*>(::GetProcAddress(advapi.get(), "CreateProcessWithTokenW")))
                         : nullptr;
    if (!create) return kNoCreateProcessWithToken;

    // The command line must be writable.
    std::wstring line = commandLine ? commandLine : L"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!create(primary.get(), 0, application, line.empty() ? nullptr : &line[0], 0, nullptr, currentDirectory,
                &si, &pi))
        return kCreateProcessFailed;
    nq::unique_handle thread(pi.hThread);
    nq::unique_handle process(pi.hProcess);
    return kLaunchOk;
}

bool CProcessToolHelp::EnsureDirectory(const wchar_t* path) {
    nq::unique_hmodule shell32(::LoadLibraryW(L"shell32.dll"));
    auto create = shell32 ? reinterpret_cast<SHCreateDirectoryFn>(reinterpret_cast<void*>(
                                ::GetProcAddress(shell32.get(), MAKEINTRESOURCEA(kSHCreateDirectoryOrdinal))))
                          : nullptr;
    if (!create) return false;
    const int rc = create(nullptr, path ? path : L"");
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_EXISTS || rc == ERROR_ALREADY_EXISTS;
}
