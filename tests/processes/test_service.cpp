// A Windows service for the service tests, installed by the tests themselves.
//
//   qvrtest_service <name> normal   starts, runs until it is asked to stop
//   qvrtest_service <name> falls    reports "start pending", then stops again
//                                   without ever running
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::wstring g_name;
std::wstring g_mode;
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state, DWORD waitHint, DWORD exitCode = NO_ERROR) {
    static DWORD checkPoint = 1;
    SERVICE_STATUS st = {};
    st.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    st.dwCurrentState = state;
    st.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    st.dwWin32ExitCode = exitCode;
    st.dwWaitHint = waitHint;
    st.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : checkPoint++;
    ::SetServiceStatus(g_status, &st);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING, 500);
        ::SetEvent(g_stop);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_status = ::RegisterServiceCtrlHandlerExW(g_name.c_str(), &Handler, nullptr);
    if (!g_status) return;
    Report(SERVICE_START_PENDING, 200);
    ::Sleep(300);
    if (g_mode == L"falls") {
        Report(SERVICE_STOPPED, 0, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    Report(SERVICE_RUNNING, 0);
    ::WaitForSingleObject(g_stop, INFINITE);
    ::Sleep(200);
    Report(SERVICE_STOPPED, 0);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    g_name = argv[1];
    g_mode = argv[2];
    ::LocalFree(argv);
    g_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYW table[] = {{&g_name[0], &ServiceMain}, {nullptr, nullptr}};
    const BOOL ok = ::StartServiceCtrlDispatcherW(table);
    ::CloseHandle(g_stop);
    return ok ? 0 : 1;
}
