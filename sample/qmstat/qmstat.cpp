// qmstat.dll: the statistics DLL of Contoso 翻译.
//
// The installer, the install and uninstall scripts and the product report
// through these 20 stdcall exports. The DLL keeps the identity of the
// installation (app id, union id, version, addresses), appends every call
// with its arguments to "qmstat_journal.log" in its own folder (support reads
// it when a report goes missing), and sends reports as JSON over HTTP through
// qmnet.dll, which it loads from its own folder in stat_init.
//
// Every export may be called from several threads; one lock guards the state
// and the journal.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "nqpublic/nqbase/nqhandle.h"

#define QMSTAT_API extern "C" __declspec(dllexport)

namespace {

using PostJsonFn = int(__stdcall*)(const char* url, const char* body, int length, const char* userAgent,
                                   int timeoutMs, long* httpStatus);

struct Address {
    std::string host;
    int port = 0;
};

struct State {
    std::mutex lock;
    unsigned appId = 0;
    unsigned unionId = 0;
    int level = 0;
    unsigned version[4] = {0, 0, 0, 0};
    unsigned packedVersion = 0;
    Address proxy, dispatch, online, action, install, loginout;
    int installKind = 0;
    bool online_ = false;
    HMODULE net = nullptr;
    PostJsonFn post = nullptr;
    std::vector<nq::unique_handle> pending;  // threads of posts that do not wait
};
State g;

HMODULE SelfModule() {
    HMODULE self = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&SelfModule), &self);
    return self;
}

// Folder of this DLL with a trailing backslash.
std::wstring SelfFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(SelfModule(), path, MAX_PATH);
    std::wstring folder = path;
    const size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos ? L"" : folder.substr(0, slash + 1);
}

// `length` > 0: exactly that many bytes (the text need not end in a NUL).
std::string Quote(const char* text, int length = 0) {
    if (!text) return "null";
    const size_t n = length > 0 ? static_cast<size_t>(length) : std::strlen(text);
    std::string out = "\"";
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Num(long long v) { return std::to_string(v); }

// One journal line "name(arguments)[ = result]"; the caller holds the lock.
void Journal(const std::string& line) {
    const std::wstring path = SelfFolder() + L"qmstat_journal.log";
    nq::unique_hfile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void SetAddress(Address& a, const char* name, const char* host, int port) {
    std::lock_guard<std::mutex> hold(g.lock);
    a.host = host ? host : "";
    a.port = port;
    Journal(std::string(name) + "(" + Quote(host) + ", " + Num(port) + ")");
}

const char* EventName(int kind) {
    switch (kind) {
    case 1: return "install";
    case 2: return "uninstall";
    case 3: return "cover_install";
    default: return "report";
    }
}

std::string ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &size)) return "";
    char utf8[64] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
    return utf8;
}

// The report of this installation; the caller holds the lock.
std::string Report() {
    char version[48];
    std::snprintf(version, sizeof version, "%u.%u.%u.%u", g.version[0], g.version[1], g.version[2], g.version[3]);
    const std::string server = g.install.host + ":" + Num(g.install.port);
    return std::string("{\"event\":\"") + EventName(g.installKind) + "\",\"install_type\":" + Num(g.installKind) +
           ",\"appid\":" + Num(g.appId) + ",\"unionid\":" + Num(g.unionId) + ",\"level\":" + Num(g.level) +
           ",\"version\":\"" + version + "\",\"server\":" + Quote(server.c_str()) +
           ",\"machine\":" + Quote(ComputerName().c_str()) + ",\"pid\":" + Num(::GetCurrentProcessId()) + "}";
}

struct PostJob {
    PostJsonFn post;
    std::string url, body, agent;
};

int Send(const PostJob& job) {
    long status = 0;
    return job.post(job.url.c_str(), job.body.data(), static_cast<int>(job.body.size()), job.agent.c_str(), 15000,
                    &status) == 0
               ? 1
               : 0;
}

DWORD WINAPI PostThread(LPVOID param) {
    PostJob* job = static_cast<PostJob*>(param);
    const int ok = Send(*job);
    {
        std::lock_guard<std::mutex> hold(g.lock);
        Journal("  (posted to " + job->url + " = " + Num(ok) + ")");
    }
    delete job;
    // The thread holds a reference on the DLL so that an unload cannot pull
    // the code from under it.
    ::FreeLibraryAndExitThread(SelfModule(), 0);
    return 0;
}

}  // namespace

QMSTAT_API BOOL __stdcall stat_init() {
    std::lock_guard<std::mutex> hold(g.lock);
    if (!g.post) {
        // A qmnet.dll without the export is let go again (each call would
        // otherwise keep one more reference on it).
        nq::unique_hmodule net(::LoadLibraryW((SelfFolder() + L"qmnet.dll").c_str()));
        const auto post = net ? reinterpret_cast<PostJsonFn>(::GetProcAddress(net.get(), "qmnet_post_json")) : nullptr;
        if (post) {
            g.net = net.release();
            g.post = post;
        }
    }
    const BOOL ok = g.post != nullptr;
    Journal("stat_init() = " + Num(ok));
    return ok;
}

QMSTAT_API void __stdcall stat_proxy(const char* host, int port) { SetAddress(g.proxy, "stat_proxy", host, port); }
QMSTAT_API void __stdcall stat_dispatch_addr(const char* host, int port) {
    SetAddress(g.dispatch, "stat_dispatch_addr", host, port);
}
QMSTAT_API void __stdcall stat_online_addr(const char* host, int port) {
    SetAddress(g.online, "stat_online_addr", host, port);
}
QMSTAT_API void __stdcall stat_action_addr(const char* host, int port) {
    SetAddress(g.action, "stat_action_addr", host, port);
}
QMSTAT_API void __stdcall stat_install_addr(const char* host, int port) {
    SetAddress(g.install, "stat_install_addr", host, port);
}
QMSTAT_API void __stdcall stat_loginout_addr(const char* host, int port) {
    SetAddress(g.loginout, "stat_loginout_addr", host, port);
}

// The union id travels as 16 bits, the app id as 8 (they are pushed as full
// stack words; only the low bits count).
QMSTAT_API void __stdcall stat_unionid(unsigned id) {
    std::lock_guard<std::mutex> hold(g.lock);
    g.unionId = id & 0xFFFFu;
    Journal("stat_unionid(" + Num(g.unionId) + ")");
}

QMSTAT_API void __stdcall stat_appid(unsigned id) {
    std::lock_guard<std::mutex> hold(g.lock);
    g.appId = id & 0xFFu;
    Journal("stat_appid(" + Num(g.appId) + ")");
}

QMSTAT_API void __stdcall stat_level(int level) {
    std::lock_guard<std::mutex> hold(g.lock);
    g.level = level;
    Journal("stat_level(" + Num(level) + ")");
}

QMSTAT_API void __stdcall stat_version(unsigned packed) {
    std::lock_guard<std::mutex> hold(g.lock);
    g.packedVersion = packed;
    Journal("stat_version(" + Num(packed) + ")");
}

QMSTAT_API void __stdcall stat_version_ex(unsigned major, unsigned minor, unsigned build, unsigned revision) {
    std::lock_guard<std::mutex> hold(g.lock);
    g.version[0] = major;
    g.version[1] = minor;
    g.version[2] = build;
    g.version[3] = revision;
    Journal("stat_version_ex(" + Num(major) + ", " + Num(minor) + ", " + Num(build) + ", " + Num(revision) + ")");
}

QMSTAT_API void __stdcall stat_online() {
    std::lock_guard<std::mutex> hold(g.lock);
    g.online_ = true;
    Journal("stat_online()");
}

QMSTAT_API void __stdcall stat_offline() {
    std::lock_guard<std::mutex> hold(g.lock);
    g.online_ = false;
    Journal("stat_offline()");
}

QMSTAT_API void __stdcall stat_action(unsigned action) {
    std::lock_guard<std::mutex> hold(g.lock);
    Journal("stat_action(" + Num(action) + ")");
}

QMSTAT_API void __stdcall stat_mutilaction(const unsigned* actions, int count, unsigned flag) {
    std::lock_guard<std::mutex> hold(g.lock);
    std::string list = "[";
    for (int i = 0; actions && i < count && i < 256; ++i) list += (i ? ", " : "") + Num(actions[i]);
    Journal("stat_mutilaction(" + list + "], " + Num(count) + ", " + Num(flag & 0xFFu) + ")");
}

QMSTAT_API int __stdcall stat_install(int kind) {
    std::lock_guard<std::mutex> hold(g.lock);
    g.installKind = kind;
    Journal("stat_install(" + Num(kind) + ") = 1");
    return 1;
}

QMSTAT_API void __stdcall stat_app_install(const char* app, int kind) {
    std::lock_guard<std::mutex> hold(g.lock);
    Journal("stat_app_install(" + Quote(app) + ", " + Num(kind) + ")");
}

// Posts `body` (or, when it is null, the report of this installation) as JSON
// to `url`. With `wait` the post completes before the call returns and the
// result tells whether the server took it (1) or not (0); without, the post
// runs on its own thread and 1 means it was started. stat_close waits for
// posts still running.
QMSTAT_API int __stdcall stat_http_post(const char* url, const char* body, int length, BOOL wait) {
    PostJob job;
    std::string call;
    {
        std::lock_guard<std::mutex> hold(g.lock);
        call = "stat_http_post(" + Quote(url) + ", " + Quote(body, length) + ", " + Num(length) + ", " +
                                 Num(wait ? 1 : 0) + ")";
        if (!g.post || !url || !*url) {
            Journal(call + " = 0");
            return 0;
        }
        job.post = g.post;
        job.url = url;
        if (body)
            job.body.assign(body, length > 0 ? static_cast<size_t>(length) : std::strlen(body));
        else
            job.body = Report();
        job.agent = "ContosoTranslator-qmstat/1.0";
        if (!wait) {
            // The thread's reference on this DLL, given back by the thread itself.
            nq::unique_hmodule ref;
            auto* copy = new PostJob(job);
            nq::unique_handle thread;
            if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&SelfModule),
                                     ref.put()))
                thread.reset(::CreateThread(nullptr, 0, &PostThread, copy, 0, nullptr));
            if (!thread) {
                delete copy;
                Journal(call + " = 0");
                return 0;
            }
            (void)ref.release();
            g.pending.push_back(std::move(thread));
            Journal(call + " = 1");
            return 1;
        }
    }
    const int ok = Send(job);
    std::lock_guard<std::mutex> hold(g.lock);
    Journal(call + " = " + Num(ok));
    return ok;
}

// Waits up to `timeoutMs` for posts still running, then ends the session:
// qmnet.dll is released (when no post runs any more), so that the DLLs can be
// deleted once the caller unloads this one. stat_init starts a new session.
QMSTAT_API void __stdcall stat_close(int timeoutMs) {
    std::vector<nq::unique_handle> pending;
    {
        std::lock_guard<std::mutex> hold(g.lock);
        pending.swap(g.pending);
        Journal("stat_close(" + Num(timeoutMs) + ")");
    }
    const DWORD start = ::GetTickCount();
    bool allDone = true;
    for (auto& thread : pending) {
        const DWORD spent = ::GetTickCount() - start;
        const DWORD left = timeoutMs > 0 && spent < static_cast<DWORD>(timeoutMs) ? timeoutMs - spent : 0;
        if (::WaitForSingleObject(thread.get(), left) != WAIT_OBJECT_0) allDone = false;
    }
    std::lock_guard<std::mutex> hold(g.lock);
    if (!allDone) {
        // Posts still running keep their thread handles and qmnet.dll.
        for (auto& thread : pending) g.pending.push_back(std::move(thread));
        return;
    }
    if (g.pending.empty() && g.net) {
        g.post = nullptr;
        ::FreeLibrary(g.net);
        g.net = nullptr;
    }
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
