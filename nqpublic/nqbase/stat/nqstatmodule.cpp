#include "nqstatmodule.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "../log/nqbaselog.h"
#include "../nqmodule.h"

namespace {

struct ExportInfo {
    const char* name;
    int argBytes;  // stack bytes of the stdcall decoration
};

constexpr ExportInfo kExports[NQStatModule::kExportCount] = {
    {"stat_init", 0},          {"stat_proxy", 8},       {"stat_dispatch_addr", 8}, {"stat_online_addr", 8},
    {"stat_action_addr", 8},   {"stat_install_addr", 8}, {"stat_loginout_addr", 8}, {"stat_unionid", 4},
    {"stat_appid", 4},         {"stat_level", 4},       {"stat_version", 4},       {"stat_version_ex", 16},
    {"stat_online", 0},        {"stat_offline", 0},     {"stat_action", 4},        {"stat_mutilaction", 12},
    {"stat_install", 4},       {"stat_close", 4},       {"stat_app_install", 8},   {"stat_http_post", 16},
};

using InitFn = unsigned char(__stdcall*)();
using AddrFn = void(__stdcall*)(const char* host, int port);
using IdFn = void(__stdcall*)(unsigned id);
using VersionExFn = void(__stdcall*)(unsigned major, unsigned minor, unsigned build, unsigned revision);
using VoidFn = void(__stdcall*)();
using MultiActionFn = void(__stdcall*)(const unsigned* actions, int count, unsigned flag);
using CloseFn = void(__stdcall*)(int timeoutMs);

std::string Convert(const std::wstring& text, UINT codePage) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}
std::string Utf8(const std::wstring& text) { return Convert(text, CP_UTF8); }

// Folder of `path` with its trailing backslash; "" unless the path is absolute.
std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    const bool absolute = (path.size() > 2 && path[1] == L':' && path[2] == L'\\') || path.rfind(L"\\\\", 0) == 0;
    if (!absolute || slash == std::wstring::npos) return L"";
    return path.substr(0, slash + 1);
}

// The file version of `exe`: major, minor, build, revision; 1.0.0.1 without one.
void FileVersion(const std::wstring& exe, unsigned out[4]) {
    out[0] = 1, out[1] = 0, out[2] = 0, out[3] = 1;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    if (!size) return;
    std::vector<unsigned char> data(size);
    if (!::GetFileVersionInfoW(exe.c_str(), 0, size, data.data())) return;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info ||
        len < sizeof(VS_FIXEDFILEINFO))
        return;
    out[0] = HIWORD(info->dwFileVersionMS);
    out[1] = LOWORD(info->dwFileVersionMS);
    out[2] = HIWORD(info->dwFileVersionLS);
    out[3] = LOWORD(info->dwFileVersionLS);
}

FARPROC Resolve(HMODULE dll, const ExportInfo& e) {
    if (FARPROC fn = ::GetProcAddress(dll, e.name)) return fn;
    const std::string suffix = "@" + std::to_string(e.argBytes);
    if (FARPROC fn = ::GetProcAddress(dll, ("_" + std::string(e.name) + suffix).c_str())) return fn;
    return ::GetProcAddress(dll, (e.name + suffix).c_str());
}

// Appends "<id>\r\n" to `path` when that file exists.
void AppendToActionLog(const std::wstring& path, unsigned actionId) {
    if (path.empty()) return;
    nq::unique_hfile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    char line[16];
    const int n = std::snprintf(line, sizeof line, "%u\r\n", actionId);
    DWORD written = 0;
    ::WriteFile(file.get(), line, static_cast<DWORD>(n), &written, nullptr);
}

// The outcome of one task on the worker, awaited with a bound by the thread
// that posted it. A task that never ran (not accepted by the pool, or
// dropped before it ran) leaves it settled without a value, so the waiter
// does not sit out its bound for a task that is gone.
class Outcome {
public:
    void Settle(bool value) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (settled_) return;
            settled_ = true;
            value_ = value;
        }
        changed_.notify_all();
    }
    // True when settled within `bound`.
    bool WaitFor(std::chrono::milliseconds bound) {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, bound, [this] { return settled_; });
    }
    bool Value() {
        std::lock_guard<std::mutex> hold(lock_);
        return value_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool settled_ = false;
    bool value_ = false;
};

// Held by a task's closure: settles the outcome as "did not run" when the
// closure is destroyed without having settled it.
struct OutcomeGuard {
    explicit OutcomeGuard(std::shared_ptr<Outcome> o) : outcome(std::move(o)) {}
    OutcomeGuard(const OutcomeGuard&) = delete;
    OutcomeGuard& operator=(const OutcomeGuard&) = delete;
    ~OutcomeGuard() { outcome->Settle(false); }
    std::shared_ptr<Outcome> outcome;
};

DWORD MsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
}

}  // namespace

// The export table of one load of the DLL, shared with the worker's tasks so
// that a task still running after a bounded shutdown touches nothing of the
// module.
struct NQStatModule::Link {
    FARPROC fn[kExportCount] = {};
    std::atomic<const char*> calling{nullptr};  // the export being called, for the log
    std::atomic<bool> off{false};               // the DLL missed its bound: no further calls

    template <typename F, typename... Args>
    void Call(int index, Args... args) {
        if (!fn[index] || off) return;
        calling = kExports[index].name;
        reinterpret_cast<F>(fn[index])(args...);
        calling = nullptr;
    }
};

const char* NQStatModule::ExportName(int index) {
    return index >= 0 && index < kExportCount ? kExports[index].name : "";
}

std::shared_ptr<NQStatModule> NQStatModule::Instance() { return CSingleT<NQStatModule>::Instance(); }

NQStatModule::NQStatModule() {
    // The log is created first so that it is still there when this object
    // logs its shutdown at process end.
    (void)CNQBaseLog::Instance();
}

NQStatModule::~NQStatModule() {
    try {
        Shutdown();
    } catch (...) {
    }
}

bool NQStatModule::IsLoaded() const {
    std::lock_guard<std::mutex> hold(postLock_);
    return link_ && !link_->off;
}

void NQStatModule::SetActionLogPath(const std::wstring& path) {
    std::lock_guard<std::mutex> hold(postLock_);
    actionLog_ = path;
}

bool NQStatModule::InitStat(int appId, unsigned unionId, const std::wstring& dispatchHost, const std::wstring&) {
    std::lock_guard<std::mutex> hold(lock_);
    if (started_) {
        LOG_INFO("statistics: already started; the second start changes nothing");
        return initResult_;
    }
    appId_ = appId;
    unionId_ = unionId;
    dispatchHost_ = dispatchHost;
    initResult_ = false;
    try {
        StartWorkers();
    } catch (const std::exception& e) {
        LOG_INFO("statistics off: the worker thread cannot start ({}); the installer goes on without statistics",
                 e.what());
        return false;
    }
    started_ = true;
    {
        std::lock_guard<std::mutex> post(postLock_);
        closing_ = false;
    }

    const std::wstring exe = nq::ModuleFileName();
    const std::wstring folder = FolderOf(exe);
    if (folder.empty()) {
        LOG_INFO("statistics off: the installer's own folder is unknown ({}); the installer goes on without "
                 "statistics",
                 Utf8(exe));
        return false;
    }
    const std::wstring path = folder + kDllName;
    dll_.reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!dll_) {
        LOG_INFO("statistics off: cannot load {} (error {}); the installer goes on without statistics", Utf8(path),
                 ::GetLastError());
        return false;
    }

    auto link = std::make_shared<Link>();
    std::string missing;
    for (int i = 0; i < kExportCount; ++i) {
        link->fn[i] = Resolve(dll_.get(), kExports[i]);
        if (!link->fn[i]) missing += std::string(missing.empty() ? "" : ", ") + kExports[i].name;
    }
    if (!missing.empty()) LOG_INFO("statistics: {} does not export {}; those calls are skipped", Utf8(path), missing);

    unsigned version[4];
    FileVersion(exe, version);
    const std::string host = Convert(dispatchHost, CP_THREAD_ACP);
    const unsigned appId8 = static_cast<unsigned>(appId) & 0xFFu;
    const unsigned unionId16 = unionId & 0xFFFFu;

    auto done = std::make_shared<Outcome>();
    auto settle = std::make_shared<OutcomeGuard>(done);
    PostTask(std::make_shared<EasyTask0>([link, settle, appId8, unionId16, version, host] {
        link->Call<IdFn>(kStatAppId, appId8);
        link->Call<IdFn>(kStatUnionId, unionId16);
        link->Call<VersionExFn>(kStatVersionEx, version[0], version[1], version[2], version[3]);
        link->Call<AddrFn>(kStatDispatchAddr, host.c_str(), kDispatchPort);
        bool ok = false;
        if (link->fn[kStatInit] && !link->off) {
            link->calling = kExports[kStatInit].name;
            ok = reinterpret_cast<InitFn>(link->fn[kStatInit])() != 0;
            link->calling = nullptr;
        }
        settle->outcome->Settle(ok);
    }));
    settle.reset();  // the task's closure holds the only guard now
    {
        std::lock_guard<std::mutex> post(postLock_);
        link_ = link;
    }

    if (!done->WaitFor(std::chrono::milliseconds(kInitBoundMs))) {
        link->off = true;
        const char* stuck = link->calling.load();
        LOG_INFO("statistics off: {} did not return from {} within {} ms; the installer goes on without statistics",
                 Utf8(path), stuck ? stuck : "its initialisation", kInitBoundMs);
        return false;
    }
    initResult_ = done->Value();
    LOG_INFO("statistics: {} loaded; app id {}, union id {}, version {}.{}.{}.{}, dispatch {}:{}; stat_init {}",
             Utf8(path), appId8, unionId16, version[0], version[1], version[2], version[3], Utf8(dispatchHost),
             kDispatchPort, !link->fn[kStatInit] ? "missing" : initResult_ ? "succeeded" : "failed");
    if (!initResult_)
        LOG_INFO("statistics: the DLL did not initialise; actions are still handed to it, the installer goes on");
    return initResult_;
}

bool NQStatModule::PostAction(unsigned actionId, unsigned) {
    std::lock_guard<std::mutex> hold(postLock_);
    if (closing_) return false;
    std::shared_ptr<Link> link = link_;
    std::wstring actionLog = actionLog_;
    return PostTask(std::make_shared<EasyTask0>([link, actionLog, actionId] {
        AppendToActionLog(actionLog, actionId);
        if (!link) return;
        const unsigned actions[1] = {actionId};
        link->Call<MultiActionFn>(kStatMutilAction, actions, 1, 0u);
    }));
}

bool NQStatModule::Shutdown(DWORD boundMs) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!started_) return true;
    started_ = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);

    std::shared_ptr<Link> link;
    {
        std::lock_guard<std::mutex> post(postLock_);
        closing_ = true;
        link = std::move(link_);
    }
    const size_t dropped = DropQueuedTasks();

    // stat_offline and stat_close(200) follow whatever action still runs.
    bool callsEnded = true;
    if (link && !link->off) {
        LOG_INFO("statistics: stopping; waiting at most {} ms for {}", boundMs, Utf8(kDllName));
        if (!link->fn[kStatOffline]) LOG_INFO("statistics: stat_offline is not exported; skipped");
        if (!link->fn[kStatClose]) LOG_INFO("statistics: stat_close is not exported; skipped");
        auto done = std::make_shared<Outcome>();
        auto settle = std::make_shared<OutcomeGuard>(done);
        PostTask(std::make_shared<EasyTask0>([link, settle] {
            link->Call<VoidFn>(kStatOffline);
            link->Call<CloseFn>(kStatClose, kCloseWaitMs);
            settle->outcome->Settle(true);
        }));
        settle.reset();
        callsEnded = done->WaitFor(std::chrono::milliseconds(MsLeft(deadline)));
    }
    const bool workersEnded = StopWorkers(link && link->off ? 0 : MsLeft(deadline));

    if (!dll_) {
        LOG_INFO("statistics: stopped ({} was not loaded)", Utf8(kDllName));
        return true;
    }
    if (callsEnded && workersEnded) {
        dll_.reset();
        LOG_INFO("statistics: stopped; {} unloaded{}", Utf8(kDllName),
                 dropped ? " (" + std::to_string(dropped) + " queued actions not reported)" : std::string());
        return true;
    }
    const char* stuck = link->calling.load();
    const bool wasOff = link->off.exchange(true);
    (void)dll_.release();  // a thread may still be inside the DLL
    if (wasOff)
        LOG_INFO("statistics: stopped without waiting for {}, still in {}; the DLL stays loaded until the process "
                 "ends",
                 Utf8(kDllName), stuck ? stuck : "its initialisation");
    else
        LOG_INFO("statistics: {} did not return from {} within {} ms; shutdown goes on without it and the DLL stays "
                 "loaded until the process ends",
                 Utf8(kDllName), stuck ? stuck : "its calls", boundMs);
    return false;
}
