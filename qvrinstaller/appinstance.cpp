#include "appinstance.h"

#include <cwchar>

#include "../nqpublic/nqbase/log/nqbaselog.h"
#include "../nqpublic/nqbase/nqhandle.h"

namespace {
// The first installer's mutex: held for the life of the process.
nq::unique_handle g_ownMutex;
}  // namespace

const wchar_t kDefaultInstanceMutex[] = L"Global\\{A043B702-166A-4FB8-9733-E2BC4713F36F}";

HANDLE CreateAppInstance(const wchar_t* baseName, int appId) {
    wchar_t name[MAX_PATH] = {};
    if (appId != 0)
        _snwprintf(name, MAX_PATH - 1, L"%s%d", baseName, appId);
    else
        _snwprintf(name, MAX_PATH - 1, L"%s", baseName);
    DebugTrace(L" szObjectName = %s ", name);

    // Everyone may open it: a NULL DACL.
    SECURITY_DESCRIPTOR sd;
    ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, TRUE};

    HANDLE mutex = ::CreateMutexW(&sa, FALSE, name);
    if (!mutex || ::GetLastError() != ERROR_ALREADY_EXISTS) {
        // First installer: the mutex (when created) stays open until the
        // process ends, which is what keeps later installers out.
        g_ownMutex.reset(mutex);
        return nullptr;
    }
    if (HWND other = ::FindWindowW(L"CDlgInstall", nullptr)) ::SwitchToThisWindow(other, TRUE);
    return mutex;
}

void BringWindowToFront(HWND hwnd) {
    const DWORD self = ::GetCurrentThreadId();
    const DWORD fore = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
    ::AttachThreadInput(self, fore, TRUE);
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    ::SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetWindowPos(hwnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(hwnd);
    ::AttachThreadInput(self, fore, FALSE);
}
