// The installer's statistics module.
//
// NQStatModule does no networking itself. It loads the product's statistics
// DLL "qmstat.dll" from the folder of the running executable (that full path
// only, never through the DLL search path), hands it the identity of this
// installation and forwards the installer window's action ids to it from its
// own worker thread, so the window never waits on a report.
//
// Every call into the DLL runs on the module's single worker, one at a time
// and in posting order: first the identity (stat_appid, stat_unionid,
// stat_version_ex, stat_dispatch_addr with port 8700) and stat_init, then one
// stat_mutilaction per action, last stat_offline and stat_close(200). Exports
// are looked up by their plain names and, failing that, by their stdcall
// decorations ("_stat_init@0", "stat_init@0"); a missing export skips its
// call.
//
// How the interactive run uses it:
//
//   auto stat = NQStatModule::Instance();
//   stat->InitStat(appId, unionId, dispatchHost, L"");       // after curl_global_init
//   ...
//   stat->PostAction(NQStatModule::kActionDesktopLaunchOn);  // from the window, any thread
//   ...
//   stat->Shutdown();                                        // after the message loop
//
// Nothing here stops the installer: a missing DLL, missing exports, a failing
// stat_init or a DLL that blocks each leave a line in the log saying why, and
// the installer goes on without statistics. Waiting on the DLL is bounded:
// InitStat waits at most kInitBoundMs, Shutdown at most its bound
// (kShutdownBoundMs by default); a DLL still busy then is left loaded and
// running until the process ends, and the log names the call it is stuck in.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "../nqhandle.h"
#include "../nqsingle.h"
#include "../pool/nqthreadpool.h"

class NQStatModule : public ThreadPoolImpl, public std::enable_shared_from_this<NQStatModule> {
public:
    // The DLL's exports, in the order of its table.
    enum Export {
        kStatInit, kStatProxy, kStatDispatchAddr, kStatOnlineAddr, kStatActionAddr, kStatInstallAddr,
        kStatLoginoutAddr, kStatUnionId, kStatAppId, kStatLevel, kStatVersion, kStatVersionEx, kStatOnline,
        kStatOffline, kStatAction, kStatMutilAction, kStatInstall, kStatClose, kStatAppInstall, kStatHttpPost,
        kExportCount
    };
    static const char* ExportName(int index);

    // The actions the installer window posts when the installation starts:
    // one of each pair, by the state of its option.
    enum Action : unsigned {
        kActionDesktopLaunchOn = 25103,   // CheckDesktopLaunch exists and is selected
        kActionDesktopLaunchOff = 25104,  // otherwise
        kActionAutoStartOn = 25105,       // CheckAutoStartup exists and is selected
        kActionAutoStartOff = 25106,      // otherwise
    };

    static constexpr const wchar_t* kDllName = L"qmstat.dll";
    static constexpr int kDispatchPort = 8700;
    static constexpr int kCloseWaitMs = 200;      // passed to stat_close
    static constexpr DWORD kInitBoundMs = 5000;   // longest wait for the identity calls and stat_init
    static constexpr DWORD kShutdownBoundMs = 3000;  // longest wait of Shutdown by default

    // The process-wide module (created on first use, lives until the process ends).
    static std::shared_ptr<NQStatModule> Instance();

    // Runs Shutdown when the process ends without it.
    ~NQStatModule() override;

    // Starts the worker, loads qmstat.dll from the executable's folder,
    // resolves its exports and initialises it with the app id (its low 8
    // bits), the union id (its low 16 bits), the executable's file version
    // (1.0.0.1 without a version resource) and the dispatch host (in the
    // thread's ANSI code page) with port 8700. Returns what stat_init
    // returned; false when the DLL cannot be loaded, lacks stat_init or does
    // not finish within kInitBoundMs (statistics are then off for this run).
    // `unused` is accepted for the caller's convenience. A second call while
    // started changes nothing and returns the first result.
    bool InitStat(int appId, unsigned unionId, const std::wstring& dispatchHost, const std::wstring& unused = L"");

    // Queues one action for the worker, which appends it to the action log
    // (when set) and reports it through stat_mutilaction([id], 1, 0). Returns
    // true when queued; false once Shutdown has begun. Any thread.
    bool PostAction(unsigned actionId, unsigned unused = 0);

    // When `path` names an existing file, every action is also appended to it
    // as a line of text before it is reported. Empty: off (the default).
    void SetActionLogPath(const std::wstring& path);

    // Stops the module: drops the actions still queued, lets the running one
    // end, calls stat_offline and stat_close(200), stops the worker and
    // unloads the DLL. Waits at most `boundMs` for the DLL in all; returns
    // false when the DLL had not returned by then (it stays loaded). Does
    // nothing when not started. InitStat may start the module again.
    bool Shutdown(DWORD boundMs = kShutdownBoundMs);

    // True while the DLL is loaded and initialised (in time).
    bool IsLoaded() const;

private:
    friend class CSingleT<NQStatModule>;
    struct Link;
    NQStatModule();

    mutable std::mutex lock_;  // InitStat and Shutdown
    bool started_ = false;
    bool initResult_ = false;
    nq::unique_hmodule dll_;
    int appId_ = 0;
    unsigned unionId_ = 0;
    std::wstring dispatchHost_;

    mutable std::mutex postLock_;  // the fields below, read by PostAction
    bool closing_ = false;
    std::shared_ptr<Link> link_;   // the export table, shared with queued tasks
    std::wstring actionLog_;
};
