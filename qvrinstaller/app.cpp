#include "app.h"

#include <objbase.h>
#include <gdiplus.h>

#include <memory>

#include "../nqpublic/nqbase/com/nqcomdemand.h"
#include "../nqpublic/nqbase/log/nqbaselog.h"
#include "../nqpublic/nqbase/nqhandle.h"
#include "../utility/qvrscriptengine/qvrmsgbox.h"
#include "../utility/qvrscriptengine/qvrrunresult.h"
#include "../utility/qvrscriptengine/qvrscriptargs.h"
#include "../utility/qvrscriptengine/qvrscriptengine.h"
#include "../utility/qvrscriptengine/qvrscriptglobals.h"
#include "appinstance.h"
#include "commandline.h"
#include "exitcodes.h"
#include "installfolder.h"
#include "installmgr.h"

namespace qvrapp {
namespace {

std::unique_ptr<CCommandLine> g_cmd;
HWND g_listener = nullptr;
std::wstring g_logBase;

// GDI+ is started once for the process and shut down at process exit.
class GdiplusRuntime {
public:
    static void Start() { static GdiplusRuntime runtime; }
    ~GdiplusRuntime() {
        if (token_) Gdiplus::GdiplusShutdown(token_);
    }

private:
    GdiplusRuntime() {
        Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback
        if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
    }
    ULONG_PTR token_ = 0;
};

// The exit codes of the failures the script engine ends a run on.
void SetFailureExitCodes() {
    using qvrrun::Failure;
    qvrrun::SetExitCode(Failure::kScriptError, kExitScriptError);
    qvrrun::SetExitCode(Failure::kPayload, kExitPayloadFailed);
    qvrrun::SetExitCode(Failure::kWrite, kExitWriteFailed);
    qvrrun::SetExitCode(Failure::kAborted, kExitCancelled);
    qvrrun::SetExitCode(Failure::kEndedEarly, kExitScriptEnded);
}

// Returns the exit code: 0 when the installation completed.
int RunSilent(lua_State* L) {
    CInstallMgr& mgr = CInstallMgr::Instance();
    {
        auto lock = mgr.LockScript();
        scriptglobals::SetBool(L, "global_ss_install", true);
        DebugTrace(L"global_ss_install==true ~!\r\n");
        DebugTrace(L"start ss install!");
        scriptglobals::SetText(L, "InstallPath", scriptglobals::GetText(L, "global_install_path"));
        // The folder is checked before anything changes.
        if (!AcceptSilentInstallFolder(L)) return kExitFolderRefused;
    }
    mgr.BeforeInstall();
    mgr.OnInstall();
    mgr.BeforeComplete();
    mgr.AfterComplete();
    qvrrun::SetInProgress(false);
    ::SendMessageW(g_listener, kInstallCompleteMsg, 0, 0);
    // A failure the script went on after (a file that could not be written)
    // still leaves the installation incomplete.
    return qvrrun::FinalExitCode();
}

}  // namespace

std::wstring LogBasePath() {
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathW(MAX_PATH, temp);
    if (n > MAX_PATH) n = 0;
    std::wstring path(temp, n);
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path + L"Install.log";
}

const CCommandLine* CommandLine() { return g_cmd.get(); }
HWND ListenerWindow() { return g_listener; }
const std::wstring& LogBase() { return g_logBase; }

bool SilentBySwitch(const CCommandLine& cmd) {
    std::wstring value;
    return cmd.GetValue(L"InstallSlience", value) && value == L"true";
}

bool ChooseSilent(const CCommandLine& cmd, bool enableScriptSilent, bool scriptSilent) {
    return SilentBySwitch(cmd) || (enableScriptSilent && scriptSilent);
}

int Run() {
    SetFailureExitCodes();

    // 1-2: log file.
    g_logBase = LogBasePath();
    ::DeleteFileW(g_logBase.c_str());
    CNQBaseLog::Instance().InitLogger(WideToAnsi(g_logBase).c_str());

    // 3-4: command line and listener.
    g_cmd = std::make_unique<CCommandLine>(::GetCommandLineW());
    std::wstring listen;
    if (g_cmd->GetValue(L"InstallListenWnd", listen))
        g_listener = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(ParseListenerHandle(listen)));

    // 5: the configuration first: the install script's top level reads it.
    QVRScriptEngine& engine = QVRScriptEngine::Instance();
    if (FAILED(engine.InitResult())) {
        DebugTrace(L"script engine could not be created\r\n");
        return kExitStartupFailed;
    }
    // Unattended: a silent run by switch with /SuppressMsgBoxes answers every
    // box at once, from the first chunk on.
    const bool suppressBoxes = g_cmd->HasKey(L"SuppressMsgBoxes");
    qvrbox::SetSuppressed(suppressBoxes && SilentBySwitch(*g_cmd));
    if (!engine.DoResLua(L"LUA", L"GLOBAL_VAR.LUAC")) {
        DebugTrace(L"DoResLua failed, GLOBAL_VAR.LUAC");
        LOG_INFO("the configuration chunk could not be loaded");
        return kExitStartupFailed;
    }
    if (!engine.DoResLua(L"LUA", L"INSTSCRIPT.LUAC")) {
        DebugTrace(L"DoResLua failed, INSTSCRIPT.LUAC");
        LOG_INFO("the install script could not be loaded");
        return kExitStartupFailed;
    }
    lua_State* L = engine.GetState();

    // 6-8: single-instance guard.
    std::wstring baseName = scriptglobals::GetText(L, "global_install_mutex_guid");
    int appId = scriptglobals::GetInt(L, "global_app_id");
    if (baseName.empty())
        baseName = kDefaultInstanceMutex;
    else
        appId = 0;
    // Another installer's mutex, when there is one; closed on every path.
    const nq::unique_handle instance(CreateAppInstance(baseName.c_str(), appId));
    if (instance && !g_cmd->HasKey(L"InstallSlience")) {
        DebugTrace(L"CreateAppInstance return true");
        return 0;
    }

    // 9: COM, the first event. COM starts on this thread when a function of
    // the script first needs it (or the window does), not before: a silent run
    // that never uses it does not pay for the apartment and its window.
    const nq::com_on_demand com;
    CInstallMgr& mgr = CInstallMgr::Instance();
    qvrrun::SetInProgress(true);
    mgr.BeforeInit();

    // 10: the mode. global_ss_install is read after QVRSE_BeforeInit so that
    // the script can ask for the silent mode.
    bool silent = false;
    {
        auto lock = mgr.LockScript();
        silent = ChooseSilent(*g_cmd, scriptglobals::GetBool(L, "global_enable_ss_install"),
                              scriptglobals::GetBool(L, "global_ss_install"));
    }
    qvrbox::SetSuppressed(suppressBoxes && silent);  // the switch works in the silent mode only
    if (silent) {
        const int code = RunSilent(L);
        LOG_INFO("silent run ends with exit code {}", code);
        ::MoveFileExW(g_logBase.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return code;
    }
    // The window's shell dialogs and drag and drop want COM from the start.
    nq::need_com();
    // GDI+ draws the window only: a silent run does not load it.
    GdiplusRuntime::Start();
    RunInteractive(instance.get(), appId);
    // Ended by the user while the installation ran: its worker may still be
    // inside the script. The process ends here, with the worker, before the
    // interpreter and the other process-wide objects are torn down under it.
    if (qvrrun::Recorded() == qvrrun::Failure::kAborted) qvrrun::Exit(qvrrun::Failure::kAborted);
    qvrrun::SetInProgress(false);
    return qvrrun::FinalExitCode();
}

}  // namespace qvrapp
