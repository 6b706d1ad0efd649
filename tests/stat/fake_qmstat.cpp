// Stand-ins for the statistics DLL that misbehave on purpose. Built several
// times with different export tables (see CMakeLists.txt: plain names,
// "_name@N" decorations, one or two exports left out). Each call is appended
// to "qmstat_journal.log" in the DLL's folder, in the journal format of the
// product's own DLL, before anything else happens. The environment steers
// the rest:
//   FAKE_QMSTAT_INIT=0          stat_init fails
//   FAKE_QMSTAT_SLOW=a,b        these exports block ...
//   FAKE_QMSTAT_SLOW_MS=n       ... for n milliseconds
#include <windows.h>

#include <mutex>
#include <string>

namespace {
std::mutex g_lock;

HMODULE SelfModule() {
    HMODULE self = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&SelfModule), &self);
    return self;
}

std::string Env(const char* name) {
    char value[256] = {};
    const DWORD n = ::GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// Journals the call, then blocks when this export is named slow.
void Enter(const char* name, const std::string& line) {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        wchar_t path[MAX_PATH] = {};
        ::GetModuleFileNameW(SelfModule(), path, MAX_PATH);
        std::wstring journal = path;
        journal = journal.substr(0, journal.find_last_of(L'\\') + 1) + L"qmstat_journal.log";
        HANDLE file = ::CreateFileW(journal.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const std::string text = line + "\r\n";
            DWORD written = 0;
            ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            ::CloseHandle(file);
        }
    }
    const std::string slow = "," + Env("FAKE_QMSTAT_SLOW") + ",";
    if (slow.find("," + std::string(name) + ",") != std::string::npos)
        ::Sleep(static_cast<DWORD>(std::stoul("0" + Env("FAKE_QMSTAT_SLOW_MS"))));
}

std::string Num(unsigned long long v) { return std::to_string(v); }
}  // namespace

#define FAKE extern "C" __stdcall

FAKE BOOL stat_init() {
    const BOOL ok = Env("FAKE_QMSTAT_INIT") != "0";
    Enter("stat_init", "stat_init() = " + Num(ok));
    return ok;
}
FAKE void stat_dispatch_addr(const char* host, int port) {
    Enter("stat_dispatch_addr", "stat_dispatch_addr(\"" + std::string(host ? host : "") + "\", " + Num(port) + ")");
}
FAKE void stat_unionid(unsigned id) { Enter("stat_unionid", "stat_unionid(" + Num(id & 0xFFFFu) + ")"); }
FAKE void stat_appid(unsigned id) { Enter("stat_appid", "stat_appid(" + Num(id & 0xFFu) + ")"); }
FAKE void stat_version_ex(unsigned a, unsigned b, unsigned c, unsigned d) {
    Enter("stat_version_ex",
          "stat_version_ex(" + Num(a) + ", " + Num(b) + ", " + Num(c) + ", " + Num(d) + ")");
}
FAKE void stat_offline() { Enter("stat_offline", "stat_offline()"); }
FAKE void stat_mutilaction(const unsigned* actions, int count, unsigned flag) {
    std::string list;
    for (int i = 0; actions && i < count && i < 256; ++i) list += (i ? ", " : "") + Num(actions[i]);
    Enter("stat_mutilaction", "stat_mutilaction([" + list + "], " + Num(count) + ", " + Num(flag & 0xFFu) + ")");
}
FAKE void stat_close(int timeoutMs) { Enter("stat_close", "stat_close(" + Num(timeoutMs) + ")"); }

// Exports the installer resolves but never calls.
FAKE void stat_proxy(const char*, int) { Enter("stat_proxy", "stat_proxy"); }
FAKE void stat_online_addr(const char*, int) { Enter("stat_online_addr", "stat_online_addr"); }
FAKE void stat_action_addr(const char*, int) { Enter("stat_action_addr", "stat_action_addr"); }
FAKE void stat_install_addr(const char*, int) { Enter("stat_install_addr", "stat_install_addr"); }
FAKE void stat_loginout_addr(const char*, int) { Enter("stat_loginout_addr", "stat_loginout_addr"); }
FAKE void stat_level(int) { Enter("stat_level", "stat_level"); }
FAKE void stat_version(unsigned) { Enter("stat_version", "stat_version"); }
FAKE void stat_online() { Enter("stat_online", "stat_online"); }
FAKE void stat_action(unsigned) { Enter("stat_action", "stat_action"); }
FAKE int stat_install(int) {
    Enter("stat_install", "stat_install");
    return 1;
}
FAKE void stat_app_install(const char*, int) { Enter("stat_app_install", "stat_app_install"); }
FAKE int stat_http_post(const char*, const char*, int, BOOL) {
    Enter("stat_http_post", "stat_http_post");
    return 0;
}
