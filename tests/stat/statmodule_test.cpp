// The statistics module in a real installer-like process: stat_probe.exe is
// copied into a fresh folder together with the qmstat.dll the case needs
// (the product's own DLL, or one of the misbehaving stand-ins built from
// fake_qmstat.cpp), run under Wine, and judged by the DLL's journal, the
// probe's log file, its result file, the actions file and the requests the
// stand-in gateway of stat_server.py received.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/procutil.h"
#include "tests/common/testutil.h"

namespace {

using Lines = std::vector<std::string>;

std::wstring SampleBin() {
    std::wstring dir = testutil::Utf8ToWide(SAMPLE_QMSTAT_DIR);
    for (auto& c : dir)
        if (c == L'/') c = L'\\';
    return L"Z:" + dir;
}

std::string EnvOr(const char* name, const char* fallback) {
    char value[1024] = {};
    const DWORD n = ::GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? value : fallback;
}

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string Cp936(const std::wstring& text) {
    char buf[512] = {};
    ::WideCharToMultiByte(936, 0, text.c_str(), -1, buf, sizeof buf - 1, nullptr, nullptr);
    return buf;
}

// The four identity calls and stat_init, as the journal shows them.
Lines Identity(const std::string& app, const std::string& unionId, const std::string& version,
               const std::string& host, const std::string& init) {
    return {"stat_appid(" + app + ")", "stat_unionid(" + unionId + ")", "stat_version_ex(" + version + ")",
            "stat_dispatch_addr(\"" + host + "\", 8700)", "stat_init() = " + init};
}
Lines Defaults(const char* version, const char* init) {
    return Identity("123", "31000", version, "stat.contoso.example", init);
}
const char* const kVersioned = "3, 1, 4, 159";  // stat_probe.exe's version resource
const char* const kUnversioned = "1, 0, 0, 1";  // stat_probe_nover.exe has none

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Lines Actions(std::initializer_list<unsigned> ids) {
    Lines lines;
    for (unsigned id : ids) lines.push_back("stat_mutilaction([" + std::to_string(id) + "], 1, 0)");
    return lines;
}
const Lines kShutdownCalls = {"stat_offline()", "stat_close(200)"};

struct ProbeSetup {
    const wchar_t* probe = L"stat_probe.exe";
    std::wstring dll;      // copied as qmstat.dll; empty: none
    bool net = false;      // the product's qmnet.dll beside it
    std::wstring args;
    std::map<std::wstring, std::wstring> env;
    bool decoy = false;    // a working qmstat.dll in the current folder and on PATH, not beside the probe
};

struct Outcome {
    DWORD exitCode = ~0u;
    DWORD wallMs = 0;
    std::map<std::string, std::string> result;
    bool hasJournal = false;
    Lines journal;
    std::string log;
    Lines actions;
    bool decoyJournal = false;

    long long Num(const char* key) const {
        auto it = result.find(key);
        return it == result.end() ? -1 : std::stoll(it->second);
    }
};

class StatModule : public testing::Test {
protected:
    void TearDown() override {
        for (auto& dir : dirs_) testutil::RemoveTree(dir);
    }

    Outcome Run(const ProbeSetup& s) {
        Outcome o;
        const std::wstring dir = testutil::MakeTempDir(L"stat");
        dirs_.push_back(dir);
        EXPECT_TRUE(::CopyFileW((testutil::ExeDir() + L"\\" + s.probe).c_str(), (dir + L"\\stat_probe.exe").c_str(),
                                FALSE));
        if (!s.dll.empty()) {
            EXPECT_TRUE(::CopyFileW(s.dll.c_str(), (dir + L"\\qmstat.dll").c_str(), FALSE));
        }
        if (s.net) {
            EXPECT_TRUE(::CopyFileW((SampleBin() + L"\\qmnet.dll").c_str(), (dir + L"\\qmnet.dll").c_str(), FALSE));
        }
        EXPECT_TRUE(testutil::WriteFileBytes(dir + L"\\actions.txt", ""));
        std::wstring cwd;
        auto env = s.env;
        if (s.decoy) {
            cwd = testutil::MakeTempDir(L"stat_decoy");
            dirs_.push_back(cwd);
            EXPECT_TRUE(::CopyFileW((SampleBin() + L"\\qmstat.dll").c_str(), (cwd + L"\\qmstat.dll").c_str(), FALSE));
            EXPECT_TRUE(::CopyFileW((SampleBin() + L"\\qmnet.dll").c_str(), (cwd + L"\\qmnet.dll").c_str(), FALSE));
            wchar_t path[8192] = {};
            ::GetEnvironmentVariableW(L"PATH", path, 8192);
            env[L"PATH"] = cwd + L";" + path;
        }

        const DWORD start = ::GetTickCount();
        testutil::Child child;
        EXPECT_TRUE(child.Start(testutil::Quote(dir + L"\\stat_probe.exe") + L" " + s.args, env, cwd));
        EXPECT_TRUE(child.Wait(120000)) << "the probe did not end";
        o.wallMs = ::GetTickCount() - start;
        o.exitCode = child.ExitCode();

        for (const auto& line : SplitLines(testutil::ReadFileOr(dir + L"\\result.txt"))) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) o.result[line.substr(0, eq)] = line.substr(eq + 1);
            else if (!line.empty()) o.result[line] = "";
        }
        std::string journal;
        o.hasJournal = testutil::ReadFileBytes(dir + L"\\qmstat_journal.log", journal);
        o.journal = SplitLines(journal);
        WIN32_FIND_DATAW fd;
        HANDLE find = ::FindFirstFileW((dir + L"\\probe_*.log").c_str(), &fd);
        if (find != INVALID_HANDLE_VALUE) {
            o.log = testutil::ReadFileOr(dir + L"\\" + fd.cFileName);
            ::FindClose(find);
        }
        o.actions = SplitLines(testutil::ReadFileOr(dir + L"\\actions.txt"));
        if (s.decoy) o.decoyJournal = testutil::FileExists(cwd + L"\\qmstat_journal.log");
        return o;
    }

    std::vector<std::wstring> dirs_;
};

std::wstring Fake(const wchar_t* variant) { return testutil::ExeDir() + L"\\fake_qmstat_" + variant + L".dll"; }

// The product's DLL: identity first, every action once and in each poster's
// order, the shutdown calls last, and the DLL's report reaches the gateway
// with the identity the module gave it.
TEST_F(StatModule, ProductDllSeesIdentityThenActionsThenShutdown) {
    const std::string port = EnvOr("QVR_STAT_PORT", "");
    ASSERT_FALSE(port.empty()) << "run through stat_server.py";
    const std::wstring host = L"统计.contoso.example";
    const std::string url = "http://127.0.0.1:" + port + "/stat/install";
    ProbeSetup s;
    s.dll = SampleBin() + L"\\qmstat.dll";
    s.net = true;
    s.args = L"--appid 300 --unionid 70000 --host " + host + L" --threads 4 --actions 25 --action-log --drain "
             L"--report " + testutil::Utf8ToWide(url);
    const Outcome o = Run(s);

    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_EQ(o.Num("init"), 1);
    EXPECT_EQ(o.Num("report"), 1);
    EXPECT_EQ(o.Num("shutdown"), 1);
    EXPECT_EQ(o.Num("unloaded"), 1);
    EXPECT_EQ(o.Num("post_after_stop"), 0);

    // 300 -> 8 bits: 44; 70000 -> 16 bits: 4464; the host in code page 936.
    const Lines head = Identity("44", "4464", kVersioned, Cp936(host), "1") +
                       Lines{"stat_http_post(\"" + url + "\", null, 0, 1) = 1"};
    ASSERT_GE(o.journal.size(), head.size() + kShutdownCalls.size());
    EXPECT_EQ(Lines(o.journal.begin(), o.journal.begin() + head.size()), head);
    EXPECT_EQ(Lines(o.journal.end() - 2, o.journal.end()), kShutdownCalls);

    // The actions between them: each of the 100 once, each thread's in order,
    // and the action file written in the same order.
    const Lines middle(o.journal.begin() + head.size(), o.journal.end() - 2);
    std::vector<unsigned> ids;
    for (const auto& line : middle) {
        unsigned id = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "stat_mutilaction([%u], 1, 0)", &id), 1) << line;
        ids.push_back(id);
    }
    EXPECT_EQ(ids.size(), 100u);
    EXPECT_EQ(std::set<unsigned>(ids.begin(), ids.end()).size(), ids.size()) << "an action arrived twice";
    std::map<unsigned, unsigned> last;
    for (unsigned id : ids) {
        const unsigned thread = id / 1000, k = id % 1000;
        EXPECT_TRUE(thread >= 1 && thread <= 4 && k >= 1 && k <= 25) << id;
        EXPECT_EQ(k, last[thread] + 1) << "thread " << thread << " out of order";
        last[thread] = k;
    }
    Lines expectedActions;
    for (unsigned id : ids) expectedActions.push_back(std::to_string(id));
    EXPECT_EQ(o.actions, expectedActions);

    // The report, as the gateway received it.
    const Lines requests = SplitLines(testutil::ReadFileOr(testutil::Utf8ToWide(EnvOr("QVR_STAT_REQUESTS", ""))));
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find('\t')), "/stat/install");
    for (const char* field : {"\"appid\":44", "\"unionid\":4464", "\"version\":\"3.1.4.159\""})
        EXPECT_NE(requests[0].find(field), std::string::npos) << field << " in " << requests[0];

    EXPECT_NE(o.log.find("stat_init succeeded"), std::string::npos) << o.log;
    EXPECT_NE(o.log.find("qmstat.dll unloaded"), std::string::npos) << o.log;
}

// Each way the DLL can let the installer down: the probe still ends with exit
// code 0 in good time, the journal shows exactly the calls that could be
// made, and the log says why statistics were lost.
struct FailureCase {
    const char* name;
    ProbeSetup setup;
    long long init;
    bool hasJournal;
    Lines journal;
    std::vector<const char*> logSays;
    long long shutdown;      // Shutdown's result; -1: left to the process end
    long long unloaded;
    Lines actions;           // the action file
    DWORD maxShutdownMs;     // 0: not judged
    DWORD maxWallMs;
    DWORD minInitMs = 0;
};

TEST_F(StatModule, FailuresLeaveTheInstallerRunning) {
    auto with = [](std::wstring dll, bool net, const wchar_t* args) {
        ProbeSetup s;
        s.dll = std::move(dll);
        s.net = net;
        s.args = args;
        return s;
    };
    const std::wstring product = SampleBin() + L"\\qmstat.dll";

    ProbeSetup noDll = with(L"", false, L"--threads 2 --actions 2 --action-log --drain");
    noDll.decoy = true;
    ProbeSetup initFails = with(product, false, L"--threads 1 --actions 2 --drain");
    initFails.probe = L"stat_probe_nover.exe";
    ProbeSetup slow = with(Fake(L"plain"), false, L"--threads 1 --actions 1 --drain");
    slow.env = {{L"FAKE_QMSTAT_SLOW", L"stat_mutilaction,stat_offline,stat_close"}, {L"FAKE_QMSTAT_SLOW_MS", L"60000"}};
    ProbeSetup slowInit = with(Fake(L"plain"), false, L"--threads 1 --actions 1 --no-shutdown");
    slowInit.env = {{L"FAKE_QMSTAT_SLOW", L"stat_init"}, {L"FAKE_QMSTAT_SLOW_MS", L"60000"}};

    // The module waits at most 5000 ms for initialisation and 3000 ms for
    // shutdown; the slow stand-in blocks for 60 s.
    const std::vector<FailureCase> cases = {
        {"no qmstat.dll beside the installer (only in the current folder and on PATH)", noDll, 0, false, {},
         {"cannot load", "\\qmstat.dll (error 126)", "(qmstat.dll was not loaded)"}, 1, 1, {"1001", "1002", "2001", "2002"},
         0, 60000},
        {"stat_init fails (no qmnet.dll), no version resource", initFails, 0, true,
         Defaults(kUnversioned, "0") + Actions({1001, 1002}) + kShutdownCalls,
         {"stat_init failed", "qmstat.dll unloaded"}, 1, 1, {}, 0, 60000},
        {"stat_mutilaction missing", with(Fake(L"nomulti"), false, L"--threads 1 --actions 2 --drain"), 1, true,
         Defaults(kVersioned, "1") + kShutdownCalls, {"does not export stat_mutilaction;"}, 1, 1, {}, 0, 60000},
        {"stat_offline and stat_close missing", with(Fake(L"noclose"), false, L"--threads 1 --actions 1 --drain"), 1,
         true, Defaults(kVersioned, "1") + Actions({1001}),
         {"does not export stat_offline, stat_close;", "stat_offline is not exported; skipped",
          "stat_close is not exported; skipped", "qmstat.dll unloaded"},
         1, 1, {}, 0, 60000},
        {"decorated export names", with(Fake(L"msvc"), false, L"--threads 1 --actions 2 --drain"), 1, true,
         Defaults(kVersioned, "1") + Actions({1001, 1002}) + kShutdownCalls, {"stat_init succeeded"}, 1, 1, {}, 0,
         60000},
        {"stat_mutilaction, stat_offline and stat_close block", slow, 1, true,
         Defaults(kVersioned, "1") + Actions({1001}),
         {"did not return from stat_mutilaction within 3000 ms", "stays loaded"}, 0, 0, {}, 3000 + 2000, 40000},
        {"stat_init blocks; stopped at process end", slowInit, 0, true, Defaults(kVersioned, "1"),
         {"did not return from stat_init within 5000 ms", "stays loaded"}, -1, -1, {}, 0, 40000, 5000},
        {"stopped at process end", with(product, true, L"--threads 1 --actions 1 --drain --no-shutdown"), 1, true,
         Defaults(kVersioned, "1") + Actions({1001}) + kShutdownCalls, {"qmstat.dll unloaded"}, -1, -1, {}, 0, 60000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = Run(c.setup);
        EXPECT_EQ(o.exitCode, 0u);
        EXPECT_EQ(o.result.count("end"), 1u) << "the probe did not get to its end";
        EXPECT_LT(o.wallMs, c.maxWallMs);
        EXPECT_EQ(o.Num("init"), c.init);
        EXPECT_GE(o.Num("init_ms"), c.minInitMs);
        // Without a blocking stat_init the start ends before its 5000 ms bound.
        EXPECT_LT(o.Num("init_ms"), c.minInitMs ? c.minInitMs + 4000 : 5000);
        EXPECT_EQ(o.hasJournal, c.hasJournal);
        EXPECT_EQ(o.journal, c.journal);
        for (const char* text : c.logSays) EXPECT_NE(o.log.find(text), std::string::npos) << text << "\n" << o.log;
        EXPECT_EQ(o.Num("shutdown"), c.shutdown);
        EXPECT_EQ(o.Num("unloaded"), c.unloaded);
        if (c.shutdown >= 0) {
            EXPECT_EQ(o.Num("post_after_stop"), 0);
        }
        if (c.maxShutdownMs) {
            EXPECT_LT(o.Num("shutdown_ms"), c.maxShutdownMs);
        }
        if (!c.actions.empty()) {
            Lines sorted = o.actions;
            std::sort(sorted.begin(), sorted.end());
            EXPECT_EQ(sorted, c.actions);
        }
        if (c.setup.decoy) {
            EXPECT_FALSE(o.decoyJournal) << "a qmstat.dll off the installer's folder was called";
        }
    }
}

}  // namespace
