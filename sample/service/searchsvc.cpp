// ContosoSearchSvc.exe: the local search service of Contoso 翻译.
//
//   ContosoSearchSvc.exe --install    registers the service "ContosoSearchService"
//                                     for this file (or points an existing one
//                                     at it) and starts it; exit code 0 when it runs
//   ContosoSearchSvc.exe --uninstall  stops and deletes the service
//   (started by the service manager)  runs as the service until it is stopped
#include <windows.h>

#include <string>

#include "sample/common/contoso.h"

namespace {

constexpr wchar_t kServiceName[] = L"ContosoSearchService";
constexpr wchar_t kDisplayName[] = L"Contoso 翻译 搜索服务";
constexpr wchar_t kDescription[] = L"为 Contoso 翻译 标准版 提供本地词典搜索。";

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
nq::unique_handle g_stopEvent;

void ReportStatus(DWORD state, DWORD waitHint = 0) {
    static DWORD checkpoint = 1;
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwWaitHint = waitHint;
    g_status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : checkpoint++;
    ::SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        ReportStatus(SERVICE_STOP_PENDING, 3000);
        ::SetEvent(g_stopEvent.get());
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_statusHandle = ::RegisterServiceCtrlHandlerExW(kServiceName, Control, nullptr);
    if (!g_statusHandle) return;
    ReportStatus(SERVICE_START_PENDING, 3000);
    g_stopEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!g_stopEvent) {
        ReportStatus(SERVICE_STOPPED);
        return;
    }
    contoso::RecordLaunch(L"ContosoSearchSvc.exe", L"service=running");
    ReportStatus(SERVICE_RUNNING);
    // The index is refreshed when the dictionary changes; between refreshes
    // the service only waits for its stop request.
    ::WaitForSingleObject(g_stopEvent.get(), INFINITE);
    ReportStatus(SERVICE_STOPPED);
}

// Waits until the service reports `state`; false after `timeoutMs`.
bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    SERVICE_STATUS status = {};
    while (::QueryServiceStatus(service, &status)) {
        if (status.dwCurrentState == state) return true;
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(100);
    }
    return false;
}

int Install() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring command = L"\"" + std::wstring(self) + L"\"";

    nq::unique_schandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!scm) return 2;
    nq::unique_schandle service;
    // A service deleted a moment ago (the installer stops and deletes the old
    // one first) stays "marked for delete" until its process has ended.
    for (int attempt = 0; attempt < 100 && !service; ++attempt) {
        service.reset(::CreateServiceW(scm.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (service) break;
        const DWORD err = ::GetLastError();
        if (err == ERROR_SERVICE_EXISTS) {
            service.reset(::OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
            if (!service) return 3;
            SERVICE_STATUS status = {};
            if (::QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
                ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
                WaitForState(service.get(), SERVICE_STOPPED, 15000);
            }
            if (!::ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                        SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, nullptr,
                                        nullptr, kDisplayName))
                return 4;
            break;
        }
        if (err != ERROR_SERVICE_MARKED_FOR_DELETE) return 5;
        ::Sleep(200);
    }
    if (!service) return 6;
    SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(kDescription)};
    ::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
    if (!::StartServiceW(service.get(), 0, nullptr) && ::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) return 7;
    return WaitForState(service.get(), SERVICE_RUNNING, 15000) ? 0 : 8;
}

int Uninstall() {
    nq::unique_schandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) return 2;
    nq::unique_schandle service(::OpenServiceW(scm.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : 3;
    SERVICE_STATUS status = {};
    if (::QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
        ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitForState(service.get(), SERVICE_STOPPED, 15000);
    }
    return ::DeleteService(service.get()) ? 0 : 4;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && _wcsicmp(argv[1], L"--install") == 0) return Install();
    if (argc > 1 && _wcsicmp(argv[1], L"--uninstall") == 0) return Uninstall();
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
