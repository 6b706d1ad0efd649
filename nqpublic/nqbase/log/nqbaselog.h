// The installer's two diagnostic channels:
//  - the dated log file in the temporary folder (CNQBaseLog, LOG_INFO), and
//  - one-line diagnostics on the debugger output (DebugTrace, TRACE_FAILURE),
//    every line tagged "vq ".
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#ifndef FMT_HEADER_ONLY
#define FMT_HEADER_ONLY
#endif
#ifndef SPDLOG_FMT_EXTERNAL
#define SPDLOG_FMT_EXTERNAL
#endif
#include <spdlog/spdlog.h>

class CNQBaseLog {
public:
    static CNQBaseLog& Instance();
    virtual ~CNQBaseLog();

    // Creates the daily logger "both" for `path` (ANSI code page). Removes the
    // earlier dated files of the same base name first. On failure no logger
    // exists and every LOG_INFO is skipped.
    void InitLogger(const char* path);
    std::shared_ptr<spdlog::logger> GetLogger() const { return logger_; }

    // Removes every entry of `folder` whose name before its first '_' equals
    // `baseName`, except today's dated log file.
    static void DeleteOldLogs(const char* folder, const char* baseName);

private:
    CNQBaseLog() = default;
    std::shared_ptr<spdlog::logger> logger_;
};

namespace nqlog {
constexpr const char* SourceName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    return name;
}

// Where DebugTrace lines go. The default is OutputDebugStringW; tests install
// their own to read the lines.
using DebugSink = void (*)(const wchar_t* line);
DebugSink SetDebugSink(DebugSink sink);
}  // namespace nqlog

// One debugger-output line: "vq " + the printf-style wide text, cut to fit the
// 1024-unit buffer. No line end is added.
void DebugTrace(const wchar_t* format, ...);

#define NQ_WIDEN2(x) L##x
#define NQ_WIDEN(x) NQ_WIDEN2(x)

// Three lines: source file, line and the last error, each behind `context`.
#define TRACE_FAILURE(context)                                              \
    do {                                                                    \
        DebugTrace(NQ_WIDEN(context) L"vq file:%s\r\n", NQ_WIDEN(__FILE__)); \
        DebugTrace(NQ_WIDEN(context) L"vq line:%d\r\n", __LINE__);          \
        DebugTrace(NQ_WIDEN(context) L"vq err:%d\r\n", (int)::GetLastError()); \
    } while (0)

// One info line in the log file behind "[file function: line] ".
#define LOG_INFO(format, ...)                                                              \
    do {                                                                                   \
        if (auto nq_logger_ = CNQBaseLog::Instance().GetLogger())                          \
            nq_logger_->info("[{} {}: {}] " format, nqlog::SourceName(__FILE__), __FUNCTION__, \
                             __LINE__, ##__VA_ARGS__);                                     \
    } while (0)
