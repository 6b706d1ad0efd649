#include "nqpublic/nqbase/log/nqbaselog.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/common/testutil.h"

namespace {

std::vector<std::wstring> g_lines;
void Capture(const wchar_t* line) { g_lines.push_back(line); }

class DebugCapture {
public:
    DebugCapture() {
        g_lines.clear();
        old_ = nqlog::SetDebugSink(&Capture);
    }
    ~DebugCapture() { nqlog::SetDebugSink(old_); }

private:
    nqlog::DebugSink old_;
};

TEST(DebugTrace, TagsFormatsAndCutsToTheBuffer) {
    DebugCapture capture;
    DebugTrace(L"%s=%d\r\n", L"answer", 42);
    std::wstring huge(5000, L'x');
    DebugTrace(L"%s", huge.c_str());
    std::wstring exact(1020, L'y');  // 3 tag units + 1020 + terminator = 1024
    DebugTrace(L"%s", exact.c_str());
    ASSERT_EQ(g_lines.size(), 3u);
    EXPECT_EQ(g_lines[0], L"vq answer=42\r\n");
    EXPECT_EQ(g_lines[1].size(), 1023u);
    EXPECT_EQ(g_lines[1].substr(0, 4), L"vq x");
    EXPECT_EQ(g_lines[2], L"vq " + exact);
}

TEST(DebugTrace, TraceFailureWritesThreeLines) {
    DebugCapture capture;
    ::SetLastError(5);
    TRACE_FAILURE("LockResource failed.");
    ASSERT_EQ(g_lines.size(), 3u);
    EXPECT_EQ(g_lines[0].rfind(L"vq LockResource failed.vq file:", 0), 0u);
    EXPECT_NE(g_lines[0].find(L"log_test.cpp\r\n"), std::wstring::npos);
    EXPECT_TRUE(std::regex_match(g_lines[1], std::wregex(L"vq LockResource failed\\.vq line:\\d+\r\n")));
    EXPECT_EQ(g_lines[2], L"vq LockResource failed.vq err:5\r\n");
}

std::string Today(const char* base) {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char buf[MAX_PATH];
    std::snprintf(buf, sizeof buf, "%s_%d-%02d-%02d.log", base, t.wYear, t.wMonth, t.wDay);
    return buf;
}

TEST(BaseLog, CleansOldFilesAndKeepsOthers) {
    const std::wstring dir = testutil::MakeTempDir(L"logclean");
    ASSERT_FALSE(dir.empty());
    struct Entry {
        std::string name;
        bool kept;
    };
    const Entry entries[] = {
        {"Install_2020-01-01.log", false},
        {"Install_old.txt", false},
        {"Install_", false},
        {Today("Install"), true},
        {"install_2020-02-02.log", true},  // other case (the file system ignores case: another date)
        {"Install.log", true},             // no underscore: the stem is "Install.log"
        {"Installer_1.log", true},
        {"Other_2020-01-01.log", true},
    };
    for (const auto& e : entries) ASSERT_TRUE(testutil::WriteFileBytes(dir + L"\\" + testutil::Utf8ToWide(e.name), "x"));
    ::CreateDirectoryW((dir + L"\\Install_dir").c_str(), nullptr);  // a folder: DeleteFile fails, it stays

    const std::string folder = testutil::WideToUtf8(dir);  // the temp path is ASCII here
    CNQBaseLog::DeleteOldLogs(folder.c_str(), "Install");
    for (const auto& e : entries)
        EXPECT_EQ(testutil::FileExists(dir + L"\\" + testutil::Utf8ToWide(e.name)), e.kept) << e.name;
    EXPECT_TRUE(testutil::FileExists(dir + L"\\Install_dir"));
    testutil::RemoveTree(dir);
}

TEST(BaseLog, WritesDatedFileWithPrefixedLinesAndAppends) {
    const std::wstring dir = testutil::MakeTempDir(L"logwrite");
    const std::string base = testutil::WideToUtf8(dir) + "\\Install.log";
    const std::wstring dated = dir + L"\\" + testutil::Utf8ToWide(Today("Install"));
    ASSERT_TRUE(testutil::WriteFileBytes(dated, "earlier line\n"));

    CNQBaseLog::Instance().InitLogger(base.c_str());
    ASSERT_TRUE(CNQBaseLog::Instance().GetLogger());
    LOG_INFO("value:{} {}", 7, "text");
    auto logger = CNQBaseLog::Instance().GetLogger();
    logger->Debug("dropped");

    const std::string content = testutil::ReadFileOr(dated);  // flushed at every line: readable at once
    EXPECT_EQ(content.rfind("earlier line\n", 0), 0u) << "no truncation";
    const std::regex line(
        "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\[info\\] \\[" + std::to_string(::GetCurrentThreadId()) +
        "\\] \\[log_test\\.cpp [A-Za-z_0-9]+: \\d+\\] value:7 text\r?\n");
    EXPECT_TRUE(std::regex_search(content, line)) << content;
    EXPECT_EQ(content.find("dropped"), std::string::npos);
    EXPECT_FALSE(testutil::FileExists(testutil::Utf8ToWide(base))) << "the base name itself is never written";
}

TEST(BaseLog, InitInAnUnwritableFolderKeepsTheWorkingLoggerAndItsFile) {
    // The process has one logger; a start without a writable folder must
    // neither drop it nor replace it with one that writes nowhere. (That the
    // installer runs without any log is shown end to end with an unwritable
    // temporary folder.)
    const std::wstring dir = testutil::MakeTempDir(L"logkeep");
    const std::string base = testutil::WideToUtf8(dir) + "\\Install.log";
    CNQBaseLog::Instance().InitLogger(base.c_str());
    const auto before = CNQBaseLog::Instance().GetLogger();
    ASSERT_TRUE(before);

    CNQBaseLog::Instance().InitLogger("Q:\\no\\such\\drive\\Install.log");
    EXPECT_EQ(CNQBaseLog::Instance().GetLogger(), before);
    LOG_INFO("after the failed start {}", 1);
    const std::string content = testutil::ReadFileOr(dir + L"\\" + testutil::Utf8ToWide(Today("Install")));
    EXPECT_NE(content.find("after the failed start 1"), std::string::npos) << content;
}

}  // namespace
