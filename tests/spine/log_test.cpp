#include "nqpublic/nqbase/log/nqbaselog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
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

TEST(LogFormat, FillsPlaceholdersInOrderWithEveryKindOfArgument) {
    using nqlog::Format;
    EXPECT_EQ(Format("a{}b{}c", 7, "x"), "a7bxc");
    EXPECT_EQ(Format("{} {} {}", -42, INT_MIN, LLONG_MIN), "-42 -2147483648 -9223372036854775808");
    EXPECT_EQ(Format("{} {}", 4294967295u, ULLONG_MAX), "4294967295 18446744073709551615");
    EXPECT_EQ(Format("{} {} {}", true, false, 'c'), "true false c");
    EXPECT_EQ(Format("{} {} {} {}", 0.1, 1.0 / 3, 1e21, -2.5f), "0.1 0.3333333333333333 1e+21 -2.5");
    EXPECT_EQ(Format("{}|{}", std::string("a\0b", 3), std::string_view("view")), std::string("a\0b|view", 8));
    const char* none = nullptr;
    EXPECT_EQ(Format("[{}]", none), "[]");
    char buffer[] = "array";
    EXPECT_EQ(Format("{}", buffer), "array");
    EXPECT_EQ(Format("{}", reinterpret_cast<const void*>(0x1f2e)), "0x1f2e");
    // Braces: doubled ones are literal; arguments are never parsed as formats.
    EXPECT_EQ(Format("{{}} {{{}}} }}", "{}"), "{} {{}} }");
    // A placeholder without an argument stays as written, a surplus argument is left out.
    EXPECT_EQ(Format("{} {}", 1), "1 {}");
    EXPECT_EQ(Format("{}", 1, 2), "1");
    EXPECT_EQ(Format("no placeholder"), "no placeholder");
}

TEST(LogFormat, CompileTimeCheckCountsPlaceholders) {
    static_assert(nqlog::FormatFits("a {} b {}", 2));
    static_assert(nqlog::FormatFits("{{literal}} {}", 1));
    static_assert(!nqlog::FormatFits("{}", 2));
    static_assert(!nqlog::FormatFits("{:d}", 1), "no format specifications");
    static_assert(!nqlog::FormatFits("lone } brace", 0));
    static_assert(!nqlog::FormatFits("lone { brace", 0));
}

// "_YYYY-MM-DD" of today.
std::string Date() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char buf[16];
    std::snprintf(buf, sizeof buf, "_%04d-%02d-%02d", t.wYear, t.wMonth, t.wDay);
    return buf;
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

TEST(BaseLog, DatedNameGoesBeforeTheExtensionAndMissingFoldersAreMade) {
    const std::wstring dir = testutil::MakeTempDir(L"logname");
    const std::string root = testutil::WideToUtf8(dir);
    struct Case {
        std::string base;      // below the temporary folder
        std::string expected;  // the file written, below it
    };
    const std::string d = Date();
    const Case cases[] = {
        {"\\Install.log", "\\Install" + d + ".log"},
        {"\\Setup", "\\Setup" + d},                                // no extension
        {"\\a.b\\Install", "\\a.b\\Install" + d},                    // the dot is the folder's
        {"\\new\\sub\\Install.txt", "\\new\\sub\\Install" + d + ".txt"},  // folders made
        {"\\.hidden", "\\.hidden" + d},                            // a leading dot is no extension
        {"\\trailing.", "\\trailing." + d},                        // nor is a trailing one
    };
    for (const auto& c : cases) {
        std::string error;
        auto logger = nqlog::Logger::Open(root + c.base, &error);
        ASSERT_TRUE(logger) << c.base << ": " << error;
        EXPECT_EQ(logger->FileName(), root + c.expected) << c.base;
        logger->Info("line {}", 1);
        EXPECT_NE(testutil::ReadFileOr(testutil::Utf8ToWide(root + c.expected)).find("] [info] ["), std::string::npos)
            << c.base;
    }
    std::string error;
    EXPECT_FALSE(nqlog::Logger::Open("Q:\\no\\such\\drive\\Install.log", &error));
    EXPECT_NE(error.find("Install_"), std::string::npos) << error;
    testutil::RemoveTree(dir);
}

TEST(BaseLog, LinesOfConcurrentThreadsStayWhole) {
    const std::wstring dir = testutil::MakeTempDir(L"logthreads");
    std::string error;
    auto logger = nqlog::Logger::Open(testutil::WideToUtf8(dir) + "\\Install.log", &error);
    ASSERT_TRUE(logger) << error;
    constexpr int kThreads = 4, kLines = 200;
    const std::string payload(300, 'p');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) logger->Info("thread {} line {} {}", t, i, payload);
        });
    for (auto& t : threads) t.join();

    const std::string content = testutil::ReadFileOr(testutil::Utf8ToWide(logger->FileName()));
    const std::regex whole("\\[[-0-9 :.]{23}\\] \\[info\\] \\[\\d+\\] thread (\\d) line (\\d+) p{300}\r");
    std::vector<int> seen(kThreads * kLines, 0);
    size_t lines = 0, start = 0;
    for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1, ++lines) {
        std::smatch m;
        const std::string line = content.substr(start, end - start);
        ASSERT_TRUE(std::regex_match(line, m, whole)) << "line " << lines << ": " << line;
        ++seen[std::stoi(m[1]) * kLines + std::stoi(m[2])];
    }
    EXPECT_EQ(start, content.size()) << "the file ends with a whole line";
    EXPECT_EQ(lines, static_cast<size_t>(kThreads * kLines));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kThreads * kLines) << "every line once";
    logger.reset();
    testutil::RemoveTree(dir);
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
