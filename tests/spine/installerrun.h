// One run of the demo installer (the event-recording scripts) as a user's
// program or another program starts it, shared by the end-to-end tests.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/procutil.h"
#include "tests/common/testutil.h"

namespace spinetest {

using testutil::Quote;

constexpr wchar_t kErrorCaption[] = L":-( 杯具，脚本执行时发生错误";

inline std::wstring Exe(const wchar_t* name) { return testutil::ExeDir() + L"\\" + name; }

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

inline std::string TodayLogName() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "Install_%d-%02d-%02d.log", t.wYear, t.wMonth, t.wDay);
    return buf;
}

// One run of an installer in its own temporary folder (TMP/TEMP point there,
// so the log file is the run's own) with its own instance name.
class InstallerRun : public testing::Test {
protected:
    void SetUp() override {
        dir_ = testutil::MakeTempDir(L"spine");
        ASSERT_FALSE(dir_.empty());
        events_ = dir_ + L"\\events.txt";
        env_ = {{L"TMP", dir_}, {L"TEMP", dir_}, {L"QVR_TEST_EVENTS", events_},
                {L"QVR_TEST_MUTEX", L"Local\\qvr-spine-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                        std::to_wstring(counter_++)}};
    }
    void TearDown() override { testutil::RemoveTree(dir_); }

    std::vector<std::string> Events() const { return Lines(testutil::ReadFileOr(events_)); }
    std::string Log() const { return testutil::ReadFileOr(dir_ + L"\\" + testutil::Utf8ToWide(TodayLogName())); }

    DWORD RunDemo(const std::wstring& args, DWORD timeout = 60000) {
        return testutil::Run(Quote(Exe(L"qvrinstaller_demo.exe")) + L" " + args, env_, timeout);
    }

    std::wstring dir_, events_;
    std::map<std::wstring, std::wstring> env_;
    static inline int counter_ = 0;
};

}  // namespace spinetest
