// A stand-in for the installer around the statistics module: started by
// statmodule_test.cpp from a folder that holds whatever qmstat.dll the case
// needs. It opens the log in its own folder ("probe_<date>.log"), starts the
// module, optionally sends the DLL's report the way the install script does,
// posts actions from several threads, stops the module (or leaves that to the
// process end) and writes what it saw to "result.txt" in its folder:
//
//   stat_probe [--appid N] [--unionid N] [--host TEXT] [--threads T] [--actions K]
//              [--report URL] [--action-log] [--drain] [--no-shutdown]
//
// --drain waits (up to 30 s) until the worker has taken every posted action
// before the stop, which would drop the ones still queued.
//
// Thread t (from 1) posts the actions t*1000+1 ... t*1000+K in this order.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "nqpublic/nqbase/stat/nqstatmodule.h"

namespace {

std::wstring ProbeFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::string Ansi(const std::wstring& text) {
    char buf[1024] = {};
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buf, sizeof buf - 1, nullptr, nullptr);
    return buf;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int appId = 123;
    unsigned unionId = 31000;
    std::wstring host = L"stat.contoso.example", report;
    int threads = 0, actions = 0;
    bool actionLog = false, drain = false, shutdown = true;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        const wchar_t* next = i + 1 < argc ? argv[i + 1] : L"";
        if (a == L"--appid") appId = _wtoi(next), ++i;
        else if (a == L"--unionid") unionId = static_cast<unsigned>(_wtoi(next)), ++i;
        else if (a == L"--host") host = next, ++i;
        else if (a == L"--threads") threads = _wtoi(next), ++i;
        else if (a == L"--actions") actions = _wtoi(next), ++i;
        else if (a == L"--report") report = next, ++i;
        else if (a == L"--action-log") actionLog = true;
        else if (a == L"--drain") drain = true;
        else if (a == L"--no-shutdown") shutdown = false;
    }
    const std::wstring folder = ProbeFolder();
    CNQBaseLog::Instance().InitLogger(Ansi(folder + L"probe.log").c_str());
    // result.txt: one "key=value" line per finding, written as the run goes.
    std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen((folder + L"result.txt").c_str(), L"wb"), &std::fclose);
    if (!file) return 2;
    auto out = [&file](const char* key, long long value) {
        std::fprintf(file.get(), "%s=%lld\r\n", key, value);
        std::fflush(file.get());
    };

    auto stat = NQStatModule::Instance();
    if (actionLog) stat->SetActionLogPath(folder + L"actions.txt");
    auto start = std::chrono::steady_clock::now();
    const bool init = stat->InitStat(appId, unionId, host, L"");
    out("init", init);
    out("init_ms", MsSince(start));

    // The install script's report through the same loaded DLL.
    if (!report.empty()) {
        using PostFn = int(__stdcall*)(const char*, const char*, int, BOOL);
        HMODULE dll = ::GetModuleHandleW((folder + L"qmstat.dll").c_str());
        auto post = dll ? reinterpret_cast<PostFn>(::GetProcAddress(dll, "stat_http_post")) : nullptr;
        out("report", post ? post(Narrow(report).c_str(), nullptr, 0, TRUE) : -1);
    }

    std::vector<std::thread> posters;
    for (int t = 1; t <= threads; ++t)
        posters.emplace_back([&stat, t, actions] {
            for (int k = 1; k <= actions; ++k) stat->PostAction(static_cast<unsigned>(t * 1000 + k));
        });
    for (auto& p : posters) p.join();

    if (drain) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (stat->QueuedTasks() > 0 && std::chrono::steady_clock::now() < deadline) ::Sleep(20);
    }
    if (shutdown) {
        start = std::chrono::steady_clock::now();
        const bool clean = stat->Shutdown();
        out("shutdown", clean);
        out("shutdown_ms", MsSince(start));
        out("unloaded", ::GetModuleHandleW((folder + L"qmstat.dll").c_str()) == nullptr);
        out("post_after_stop", stat->PostAction(1));
    }
    out("end", 1);
    return 0;
}
