// The install manager: runs the five script events, one at a time, under one
// recursive lock, and ends the product's tool processes before the install step.
#pragma once

#include <mutex>
#include <string>

#include "../utility/qvrscriptengine/qvrlua.h"

class CInstallMgr {
public:
    static CInstallMgr& Instance();
    virtual ~CInstallMgr() = default;

    void BeforeInit();
    void BeforeInstall();
    void OnInstall();  // runs KillAllToolProcess first
    void BeforeComplete();
    void AfterComplete();

    // Ends every process whose executable name matches an *.exe found in a
    // first-level sub-folder of <global_install_path>\Tools\.
    void KillAllToolProcess();

    // The lock every access to the interpreter from another thread takes, so
    // that it never runs inside a script event of another thread. Recursive:
    // code inside an event may take it again.
    std::unique_lock<std::recursive_mutex> LockScript() { return std::unique_lock<std::recursive_mutex>(mutex_); }

    // Runs fn(state) under the lock.
    template <typename Fn>
    auto WithScript(Fn&& fn) {
        auto lock = LockScript();
        return fn(ScriptState());
    }

    // Runs fn(state) when the lock is free at once (no event runs on another
    // thread); true when it ran. For the UI thread, which must not wait for
    // an event that runs for minutes.
    template <typename Fn>
    bool TryWithScript(Fn&& fn) {
        std::unique_lock<std::recursive_mutex> lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) return false;
        fn(ScriptState());
        return true;
    }

    // Terminates (exit code 10000) every process whose executable name equals
    // `exeName` ignoring case.
    static void TerminateByName(const std::wstring& exeName);

private:
    CInstallMgr() = default;
    void RunEvent(const char* name, bool killTools);
    static lua_State* ScriptState();

    std::recursive_mutex mutex_;
};
