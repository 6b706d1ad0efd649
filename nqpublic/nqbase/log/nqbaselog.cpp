#include "nqbaselog.h"

#include <shlwapi.h>

#include <spdlog/sinks/daily_file_sink.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "../nqhandle.h"

namespace {
void DefaultSink(const wchar_t* line) { ::OutputDebugStringW(line); }
nqlog::DebugSink g_sink = &DefaultSink;
}  // namespace

nqlog::DebugSink nqlog::SetDebugSink(DebugSink sink) {
    DebugSink old = g_sink;
    g_sink = sink ? sink : &DefaultSink;
    return old;
}

void DebugTrace(const wchar_t* format, ...) {
    constexpr size_t kUnits = 1024;
    wchar_t line[kUnits] = L"vq ";
    constexpr size_t kTag = 3;
    va_list args;
    va_start(args, format);
    // Microsoft semantics: %s takes a wide string in a wide format.
    int n = _vsnwprintf(line + kTag, kUnits - kTag - 1, format, args);
    va_end(args);
    if (n < 0) n = 0;  // the text did not fit: what was written stays, cut at the end
    line[kUnits - 1] = L'\0';
    g_sink(line);
}

CNQBaseLog& CNQBaseLog::Instance() {
    static CNQBaseLog instance;
    return instance;
}

CNQBaseLog::~CNQBaseLog() { logger_.reset(); }

void CNQBaseLog::DeleteOldLogs(const char* folder, const char* baseName) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char today[MAX_PATH];
    std::snprintf(today, sizeof today, "%s_%d-%02d-%02d.log", baseName, now.wYear, now.wMonth, now.wDay);

    char pattern[MAX_PATH * 2];
    std::snprintf(pattern, sizeof pattern, "%s\\*.*", folder);
    WIN32_FIND_DATAA fd;
    nq::unique_hfind find(::FindFirstFileA(pattern, &fd));
    if (!find) {
        std::printf("%s", "\xCB\xD1\xCB\xF7\xCA\xA7\xB0\xDC!");  // "搜索失败!" in the ANSI code page 936
        return;
    }
    do {
        if (!std::strcmp(fd.cFileName, ".") || !std::strcmp(fd.cFileName, "..")) continue;
        if (!std::strcmp(fd.cFileName, today)) continue;
        std::string stem(fd.cFileName);
        stem = stem.substr(0, stem.find('_'));
        if (stem != baseName) continue;
        char full[MAX_PATH * 2];
        std::snprintf(full, sizeof full, "%s\\%s", folder, fd.cFileName);
        ::DeleteFileA(full);
    } while (::FindNextFileA(find.get(), &fd));
}

void CNQBaseLog::InitLogger(const char* path) {
    char buf[MAX_PATH] = {};
    lstrcpynA(buf, path, MAX_PATH);
    ::PathRemoveExtensionA(buf);
    std::string baseName = ::PathFindFileNameA(buf);
    ::PathRemoveFileSpecA(buf);
    DeleteOldLogs(buf, baseName.c_str());

    try {
        auto sink = std::make_shared<spdlog::sinks::daily_file_sink_mt>(path, 23, 59, false);
        auto logger = std::make_shared<spdlog::logger>("both", sink);
        spdlog::drop("both");
        spdlog::register_logger(logger);
        logger_ = logger;
        logger_->set_level(spdlog::level::info);
        logger_->set_pattern("[%Y-%m-%d %H:%M:%S.%e] [%^%l%$] [%t] %v", spdlog::pattern_time_type::local);
        logger_->flush_on(spdlog::level::info);
    } catch (const spdlog::spdlog_ex& e) {
        ::OutputDebugStringA(e.what());
    } catch (...) {
        ::OutputDebugStringA("Unknown exception in InitLogger");
    }
}
