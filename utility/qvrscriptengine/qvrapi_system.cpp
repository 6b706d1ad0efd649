// Script functions for processes, services and facts about the system.
#include "qvrapi_system.h"

#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "nqpublic/nqbase/nqhandle.h"
#include "qvrscriptapi.h"
#include "qvrscriptargs.h"
#include "utility/base/qvrprocesstoolhelp.h"

namespace qvrapi {
namespace {
DWORD g_serviceWaitLimitMs = kDefaultServiceWaitLimitMs;
}  // namespace

DWORD SetServiceWaitLimit(DWORD ms) { return std::exchange(g_serviceWaitLimitMs, ms); }
DWORD ServiceWaitLimit() { return g_serviceWaitLimitMs; }

}  // namespace qvrapi

namespace {

// Polling bounds of the service wait loop: never spin on a zero wait hint,
// and look again at least once a second whatever the hint says.
constexpr DWORD kServiceMinPollMs = 50;
constexpr DWORD kServiceMaxPollMs = 1000;

// The index of the k-th argument counted from the end (1 = last), or 0 when
// there are fewer arguments.
int FromEnd(lua_State* L, int k) {
    const int idx = lua_gettop(L) - k + 1;
    return idx >= 1 ? idx : 0;
}

// qvrargs helpers for an index that may be 0 (no such argument).
std::wstring TextAt(lua_State* L, int idx) { return idx ? qvrargs::Text(L, idx) : std::wstring(); }

// A process given by id (a number or numeric string) or by executable name.
// CProcessToolHelp::kNoProcess when no process has that name.
DWORD ProcessTarget(lua_State* L, int idx) {
    const int t = lua_type(L, idx);
    if (t == LUA_TNUMBER) return qvrargs::UInt(L, idx);
    if (t == LUA_TSTRING) {
        int isnum = 0;
        lua_tonumberx(L, idx, &isnum);
        if (isnum) return qvrargs::UInt(L, idx);
    }
    const std::wstring name = qvrargs::Text(L, idx);
    CProcessToolHelp processes;
    return processes.FindProcessIdByName(name.c_str());
}

bool KillTarget(lua_State* L, int idx) {
    const DWORD pid = ProcessTarget(L, idx);
    if (pid == CProcessToolHelp::kNoProcess) return true;
    return CProcessToolHelp::KillProcess(pid);
}

bool ServiceUnknownError() {
    DebugTrace(L"Unknow Error in fun:%s\r\n", L"Lua_SCM");
    TRACE_FAILURE("");
    return false;
}

// Waits until the service reports `target`, a status query fails, or the
// wait limit is reached.
bool WaitForServiceState(SC_HANDLE service, DWORD target, const std::wstring& name) {
    const DWORD limit = qvrapi::ServiceWaitLimit();
    const DWORD start = ::GetTickCount();
    SERVICE_STATUS status = {};
    if (!::QueryServiceStatus(service, &status)) return ServiceUnknownError();
    for (;;) {
        const DWORD elapsed = ::GetTickCount() - start;
        DWORD pause = status.dwWaitHint;
        if (status.dwCurrentState != target) pause = std::clamp<DWORD>(pause, kServiceMinPollMs, kServiceMaxPollMs);
        pause = std::min<DWORD>(pause, limit > elapsed ? limit - elapsed : 0);
        ::Sleep(pause);
        if (status.dwCurrentState == target) return true;
        if (::GetTickCount() - start >= limit) {
            DebugTrace(L"Lua_SCM: service %s did not reach state %lu within %lu ms (state %lu)\r\n", name.c_str(),
                       target, limit, status.dwCurrentState);
            return false;
        }
        if (!::QueryServiceStatus(service, &status)) return ServiceUnknownError();
    }
}

bool ControlServiceByName(const std::wstring& name, const std::wstring& action) {
    nq::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, GENERIC_EXECUTE));
    if (!manager) {
        TRACE_FAILURE("OpenSCManager failed!");
        return false;
    }
    nq::unique_schandle service(
        ::OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP));
    if (!service) {
        if (::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return true;
        TRACE_FAILURE("OpenService failed!");
        return false;
    }
    SERVICE_STATUS status = {};
    if (!::QueryServiceStatus(service.get(), &status)) {
        TRACE_FAILURE("QueryServiceStatus failed!");
        return false;
    }
    DWORD target = 0;
    if (::lstrcmpiW(action.c_str(), L"start") == 0) {
        if (status.dwCurrentState == SERVICE_STOPPED && !::StartServiceW(service.get(), 0, nullptr)) {
            TRACE_FAILURE("StartService failed!");
            return false;
        }
        target = SERVICE_RUNNING;
    } else if (::lstrcmpiW(action.c_str(), L"stop") == 0) {
        if (status.dwCurrentState == SERVICE_RUNNING &&
            !::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
            TRACE_FAILURE("StopService failed!");
            return false;
        }
        target = SERVICE_STOPPED;
    } else {
        return ServiceUnknownError();
    }
    return WaitForServiceState(service.get(), target, name);
}

// The device path of the process's image as a drive-letter path; empty when
// it is not available.
std::wstring ImagePathOf(DWORD pid) {
    wchar_t device[MAX_PATH] = {};
    {
        nq::unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
        if (!process || !::GetProcessImageFileNameW(process.get(), device, MAX_PATH)) return {};
    }
    std::wstring path = device;
    CProcessToolHelp helper;
    if (!helper.DevicePathToDosPath(path)) return {};
    return path;
}

std::wstring DriverInstallPath() {
    // Fixed drives in letter order ("C:", "D:", ...).
    std::vector<std::wstring> fixed;
    const DWORD drives = ::GetLogicalDrives();
    for (int bit = 0; bit <= 30; ++bit) {
        if (!(drives & (1u << bit))) continue;
        const std::wstring root = {static_cast<wchar_t>(L'A' + bit), L':'};
        // The type is asked of the root folder ("C:\\"): a bare "C:" may name
        // the current folder of that drive.
        if (::GetDriveTypeW((root + L"\\").c_str()) == DRIVE_FIXED) fixed.push_back(root);
    }
    wchar_t expanded[MAX_PATH] = {};
    if (!::ExpandEnvironmentStringsW(L"%ProgramFiles%\\", expanded, MAX_PATH)) wcscpy(expanded, L"%ProgramFiles%\\");
    const std::wstring fallback = expanded;
    if (fixed.size() >= 2 && fallback.size() >= 2) {
        // The same folder on a data drive, when it exists there.
        for (size_t i = 1; i < fixed.size(); ++i) {
            const std::wstring candidate = fixed[i] + fallback.substr(2);
            if (::PathFileExistsW(candidate.c_str())) return candidate;
        }
    }
    return fallback;
}

}  // namespace

// Lua_TaskKill(name or id, window class, message, wParam, lParam).
int Lua_TaskKill(lua_State* L) {
    bool ok = false;
    {
        // The window step: skipped only for an explicit nil class.
        if (lua_type(L, 2) != LUA_TNIL) {
            const std::wstring windowClass = qvrargs::Text(L, 2);
            UINT message = WM_SYSCOMMAND;
            WPARAM wParam = SC_CLOSE;
            LPARAM lParam = 0;
            if (lua_type(L, 3) != LUA_TNIL) {
                message = qvrargs::UInt(L, 3);
                wParam = qvrargs::UInt(L, 4);
                lParam = static_cast<LPARAM>(qvrargs::UInt(L, 5));
            }
            // Posted even when no window was found (to this thread's queue then).
            const HWND window = ::FindWindowW(windowClass.c_str(), nullptr);
            ::PostMessageW(window, message, wParam, lParam);
        }
        ok = KillTarget(L, 1);
    }
    lua_pushboolean(L, ok);
    return 1;
}

// Lua_KillAllTaskByName(name or id): ends the first process of that name.
int Lua_KillAllTaskByName(lua_State* L) {
    const bool ok = KillTarget(L, 1);
    lua_pushboolean(L, ok);
    return 1;
}

// Lua_GetProcessId(name): one number per process of that name, or -1.
int Lua_GetProcessId(lua_State* L) {
    std::vector<DWORD> ids;
    {
        const std::wstring name = TextAt(L, FromEnd(L, 1));
        CProcessToolHelp processes;
        ids = processes.FindProcessIdsByName(name.c_str());
    }
    if (ids.empty()) {
        lua_pushnumber(L, -1);
        return 1;
    }
    if (!lua_checkstack(L, static_cast<int>(ids.size()))) ids.resize(1);
    for (DWORD id : ids) qvrargs::PushUInt(L, id);
    return static_cast<int>(ids.size());
}

// Lua_GetImagePathByPid(id): the image path, or nothing.
int Lua_GetImagePathByPid(lua_State* L) {
    const int idx = FromEnd(L, 1);
    const std::wstring path = ImagePathOf(idx ? qvrargs::UInt(L, idx) : 0);
    if (path.empty()) return 0;
    qvrargs::PushText(L, path);
    return 1;
}

// Lua_SCM(service name, action): action "start" or "stop".
int Lua_SCM(lua_State* L) {
    bool ok = false;
    {
        const std::wstring name = qvrargs::Text(L, 1);
        const std::wstring action = qvrargs::Text(L, 2);
        ok = ControlServiceByName(name, action);
    }
    lua_pushboolean(L, ok);
    return 1;
}

// Lua_EnablePrivilege(name, enable): the last two arguments.
int Lua_EnablePrivilege(lua_State* L) {
    bool ok = false;
    {
        const std::wstring name = TextAt(L, FromEnd(L, 2));
        const int enableIdx = FromEnd(L, 1);
        const bool enable = enableIdx && qvrargs::Bool(L, enableIdx);
        ok = CProcessToolHelp::SetPrivilege(name.c_str(), enable);
    }
    lua_pushboolean(L, ok);
    return 1;
}

// Lua_ExitWindows(flags, reason).
int Lua_ExitWindows(lua_State* L) {
    const UINT flags = qvrargs::UInt(L, 1);
    const DWORD reason = qvrargs::UInt(L, 2);
    CProcessToolHelp::SetPrivilege(L"SeShutdownPrivilege", true);
    lua_pushboolean(L, ::ExitWindowsEx(flags, reason) != FALSE);
    return 1;
}

// Lua_GetOSVersion(): the major version number the system reports.
int Lua_GetOSVersion(lua_State* L) {
    lua_pushnumber(L, LOBYTE(LOWORD(::GetVersion())));
    return 1;
}

// Lua_IsWow64(): true for a 32-bit process on 64-bit Windows.
int Lua_IsWow64(lua_State* L) {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    BOOL wow64 = FALSE;
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32");
    auto isWow64 = kernel ? reinterpret_cast<IsWow64ProcessFn>(
                                reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")))
                          : nullptr;
    if (isWow64 && !isWow64(::GetCurrentProcess(), &wow64)) wow64 = FALSE;
    lua_pushboolean(L, wow64 != FALSE);
    return 1;
}

// Lua_GetModuleFileName([module]): the full path of a loaded module, or of
// the program itself.
int Lua_GetModuleFileName(lua_State* L) {
    wchar_t path[MAX_PATH] = {};
    {
        HMODULE module = nullptr;
        if (lua_gettop(L) >= 1) {
            const std::wstring name = qvrargs::Text(L, 1);
            module = ::GetModuleHandleW(name.c_str());
        }
        ::GetModuleFileNameW(module, path, MAX_PATH);
    }
    qvrargs::PushText(L, path);
    return 1;
}

// Lua_GetCommandLineArgv(): the split command line as a table, or nothing.
int Lua_GetCommandLineArgv(lua_State* L) {
    std::vector<std::wstring> parts;
    {
        int count = 0;
        nq::unique_hlocal argv(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(::GetCommandLineW(), &count)));
        if (!argv || count <= 0) return 0;
        auto* args = static_cast<wchar_t**>(argv.get());
        parts.assign(args, args + count);
    }
    lua_createtable(L, static_cast<int>(parts.size()), 0);
    for (size_t i = 0; i < parts.size(); ++i) {
        qvrargs::PushText(L, parts[i]);
        lua_rawseti(L, -2, static_cast<int>(i + 1));
    }
    return 1;
}

// Lua_GetDriverInstallPath(): the Program Files folder, on a data drive when
// one has it. Always ends with a backslash.
int Lua_GetDriverInstallPath(lua_State* L) {
    qvrargs::PushText(L, DriverInstallPath());
    return 1;
}
