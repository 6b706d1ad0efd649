// Process lookup and termination, privileges of the own token, device-path
// mapping, directory creation and launching programs at the level of the
// logged-on user's shell.
//
// A CProcessToolHelp is made on the stack where it is needed: the process
// snapshot is taken when the object is constructed and closed with it. The
// operations that do not read the snapshot are static.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "nqpublic/nqbase/nqhandle.h"

class CProcessToolHelp {
public:
    // Result of FindProcessIdByName when no process matches.
    static constexpr DWORD kNoProcess = static_cast<DWORD>(-1);

    // Result codes of LaunchWithShellToken (0 is success).
    enum LaunchResult : int {
        kLaunchOk = 0,
        kNoShellWindow = -101,
        kNoShellProcessId = -102,
        kOpenShellProcessFailed = -103,
        kCreateProcessFailed = 150,
        kDuplicateTokenFailed = 151,
        kOpenShellTokenFailed = 152,
        // The system offers no CreateProcessWithTokenW: nothing was started.
        kNoCreateProcessWithToken = 153,
    };

    CProcessToolHelp();
    ~CProcessToolHelp() = default;
    CProcessToolHelp(const CProcessToolHelp&) = delete;
    CProcessToolHelp& operator=(const CProcessToolHelp&) = delete;

    // Id of the first process in the snapshot whose executable name (file name
    // and extension, no path) equals `name` case-insensitively; entries with id
    // 0 are skipped. kNoProcess when none matches or there is no snapshot.
    DWORD FindProcessIdByName(const wchar_t* name) const;
    // Every such id, in snapshot order.
    std::vector<DWORD> FindProcessIdsByName(const wchar_t* name) const;

    // Turns a device path ("\Device\HarddiskVolume2\a\b.exe") into a
    // drive-letter path ("D:\a\b.exe"): the text before the third backslash
    // is the device prefix; a known prefix is replaced by its drive, an
    // unknown one (a network redirector, for instance) is removed. A path
    // with fewer than three backslashes stays as it is. Returns 1, or 0 when
    // the device map cannot be built (the path is then unchanged).
    int DevicePathToDosPath(std::wstring& path);

    // Asks the process's top-level windows to close, waits up to 3 s, then
    // terminates it and waits up to 3 s more. True when the process is gone
    // (also for id 0 and for an id that no longer exists).
    static bool KillProcess(DWORD pid);

    // Enables or disables one privilege of the current process's token. A
    // privilege the token does not hold still gives true.
    static bool SetPrivilege(const wchar_t* name, bool enable);

    // Starts the program through the shell process (explorer.exe) so that it
    // runs with the rights of the logged-on user. Returns the WinExec result:
    // above 31 means started, small values are the system's error codes.
    static UINT LaunchViaExplorer(const wchar_t* program, const wchar_t* parameters);
    // The command line LaunchViaExplorer runs:
    //   explorer.exe "<program>" "<parameters>"
    static std::wstring ExplorerCommandLine(const wchar_t* program, const wchar_t* parameters);

    // Starts a program with a primary token copied from the shell's process.
    // Returns a LaunchResult.
    static int LaunchWithShellToken(const wchar_t* application, const wchar_t* commandLine,
                                    const wchar_t* currentDirectory);

    // Creates the directory with every missing parent. True when it was
    // created or already existed.
    static bool EnsureDirectory(const wchar_t* path);

private:
    bool BuildDeviceMap();

    nq::unique_hfile snapshot_;
    // Device name -> drive ("\Device\HarddiskVolume1" -> "C:"), exact comparison.
    std::map<std::wstring, std::wstring> deviceMap_;
};
