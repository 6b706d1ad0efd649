#include "nqbaselog.h"

#include <shlwapi.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>

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

// ---- Formatting ------------------------------------------------------------

namespace {
void AppendUnsigned(std::string& out, unsigned long long v) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) out.push_back(digits[--n]);
}

void AppendDouble(std::string& out, double d) {
    char buf[40];
    // The shortest of 15 to 17 significant digits that reads back the same.
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, d);
        if (precision == 17 || std::strtod(buf, nullptr) == d) break;
    }
    out += buf;
}

void AppendArg(std::string& out, const nqlog::Arg& a) {
    using nqlog::Arg;
    switch (a.kind) {
    case Arg::kText: out.append(a.text.data, a.text.size); break;
    case Arg::kSigned:
        if (a.i < 0) {
            out.push_back('-');
            AppendUnsigned(out, 0ull - static_cast<unsigned long long>(a.i));
        } else {
            AppendUnsigned(out, static_cast<unsigned long long>(a.i));
        }
        break;
    case Arg::kUnsigned: AppendUnsigned(out, a.u); break;
    case Arg::kBool: out += a.u ? "true" : "false"; break;
    case Arg::kChar: out.push_back(static_cast<char>(a.u)); break;
    case Arg::kDouble: AppendDouble(out, a.d); break;
    case Arg::kPointer: {
        char buf[24];
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(a.p)));
        out += buf;
        break;
    }
    }
}

void AppendTwo(std::string& out, unsigned v) {
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

const char* LevelName(nqlog::Level level) {
    static const char* const kNames[] = {"trace", "debug", "info", "warning", "error", "critical", "off"};
    return kNames[static_cast<int>(level)];
}

// Local time as 100 ns units since 1601, and broken down.
uint64_t LocalNow(SYSTEMTIME* parts) {
    FILETIME utc, local;
    ::GetSystemTimeAsFileTime(&utc);
    ::FileTimeToLocalFileTime(&utc, &local);
    ::FileTimeToSystemTime(&local, parts);
    return (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
}

constexpr uint64_t kTicksPerMinute = 600000000ull;
constexpr uint64_t kTicksPerDay = 24 * 60 * kTicksPerMinute;

// The first 23:59 local time after `now`.
uint64_t NextRotation(uint64_t now, const SYSTEMTIME& parts) {
    const uint64_t sinceMidnight = ((parts.wHour * 60ull + parts.wMinute) * 60 + parts.wSecond) * 10000000ull +
                                   parts.wMilliseconds * 10000ull + (now % 10000ull);
    const uint64_t rotation = now - sinceMidnight + (23 * 60 + 59) * kTicksPerMinute;
    return rotation > now ? rotation : rotation + kTicksPerDay;
}

// "<base without extension>_YYYY-MM-DD<extension>"; the extension is the part
// from the last dot of the file name on, unless that dot is the name's first
// or last character.
std::string DatedName(const std::string& base, const SYSTEMTIME& t) {
    const size_t slash = base.find_last_of("\\/");
    const size_t dot = base.rfind('.');
    const bool hasExt = dot != std::string::npos && dot != 0 && dot + 1 != base.size() &&
                        (slash == std::string::npos || dot > slash + 1);
    char date[16];
    std::snprintf(date, sizeof date, "_%04u-%02u-%02u", t.wYear, t.wMonth, t.wDay);
    return hasExt ? base.substr(0, dot) + date + base.substr(dot) : base + date;
}

// Creates the folders of `path` that are missing (its file-name part excluded).
void CreateFolders(const std::string& path) {
    for (size_t i = path.find_first_of("\\/", 1); i != std::string::npos; i = path.find_first_of("\\/", i + 1)) {
        if (path[i - 1] == ':' || path[i - 1] == '\\' || path[i - 1] == '/') continue;
        const std::string folder = path.substr(0, i);
        if (::GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) ::CreateDirectoryA(folder.c_str(), nullptr);
    }
}
}  // namespace

void nqlog::FormatTo(std::string& out, std::string_view format, const Arg* args, size_t count) {
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        const char after = i + 1 < format.size() ? format[i + 1] : '\0';
        if ((c == '{' || c == '}') && after == c) {
            out.push_back(c);
            ++i;
        } else if (c == '{' && after == '}' && next < count) {
            AppendArg(out, args[next++]);
            ++i;
        } else {
            out.push_back(c);
        }
    }
}

// ---- The log file ------------------------------------------------------------

struct nqlog::Logger::File {
    std::mutex lock;
    std::string base;     // the path given, e.g. C:\Temp\Install.log
    std::string name;     // the dated file written now
    nq::unique_hfile handle;
    uint64_t rotation = 0;  // local time of the next change of file

    bool OpenFor(const SYSTEMTIME& t, std::string* error) {
        const std::string dated = DatedName(base, t);
        CreateFolders(dated);
        // Appended to, readable and writable by others meanwhile, not inherited
        // by the programs the installer starts.
        nq::unique_hfile file(::CreateFileA(dated.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            if (error) *error = "Failed opening file " + dated + " for writing: error " + std::to_string(::GetLastError());
            return false;
        }
        handle = std::move(file);
        name = dated;
        return true;
    }
};

std::shared_ptr<nqlog::Logger> nqlog::Logger::Open(const std::string& basePath, std::string* error) {
    auto file = std::make_unique<File>();
    file->base = basePath;
    SYSTEMTIME t;
    const uint64_t now = LocalNow(&t);
    if (!file->OpenFor(t, error)) return nullptr;
    file->rotation = NextRotation(now, t);
    return std::shared_ptr<Logger>(new Logger(std::move(file)));
}

nqlog::Logger::Logger(std::unique_ptr<File> file) : file_(std::move(file)) {}
nqlog::Logger::~Logger() = default;

std::string nqlog::Logger::FileName() const {
    std::lock_guard<std::mutex> hold(file_->lock);
    return file_->name;
}

void nqlog::Logger::Write(Level level, std::string_view format, const Arg* args, size_t count) {
    SYSTEMTIME t;
    const uint64_t now = LocalNow(&t);
    // [2024-03-05 14:07:09.042] [info] [1234] message
    std::string line;
    line.reserve(64 + format.size());
    line.push_back('[');
    AppendUnsigned(line, t.wYear);
    line.push_back('-');
    AppendTwo(line, t.wMonth);
    line.push_back('-');
    AppendTwo(line, t.wDay);
    line.push_back(' ');
    AppendTwo(line, t.wHour);
    line.push_back(':');
    AppendTwo(line, t.wMinute);
    line.push_back(':');
    AppendTwo(line, t.wSecond);
    line.push_back('.');
    line.push_back(static_cast<char>('0' + t.wMilliseconds / 100));
    AppendTwo(line, t.wMilliseconds % 100);
    line += "] [";
    line += LevelName(level);
    line += "] [";
    AppendUnsigned(line, ::GetCurrentThreadId());
    line += "] ";
    FormatTo(line, format, args, count);
    line += "\r\n";

    std::lock_guard<std::mutex> hold(file_->lock);
    if (now >= file_->rotation) {
        // A file that cannot be opened leaves the lines in the one open before.
        file_->OpenFor(t, nullptr);
        file_->rotation = NextRotation(now, t);
    }
    // One write per line, straight to the system: the file is complete even
    // when the process is ended abruptly.
    const char* p = line.data();
    size_t left = line.size();
    while (left) {
        DWORD written = 0;
        if (!::WriteFile(file_->handle.get(), p, static_cast<DWORD>(left), &written, nullptr) || !written) break;
        p += written;
        left -= written;
    }
}

// ---- The process-wide log -------------------------------------------------------

CNQBaseLog& CNQBaseLog::Instance() {
    static CNQBaseLog instance;
    return instance;
}

CNQBaseLog::~CNQBaseLog() { std::atomic_store(&logger_, std::shared_ptr<nqlog::Logger>()); }

std::shared_ptr<nqlog::Logger> CNQBaseLog::GetLogger() const { return std::atomic_load(&logger_); }

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

    std::string error;
    auto logger = nqlog::Logger::Open(path, &error);
    if (!logger) {
        ::OutputDebugStringA(error.c_str());
        return;
    }
    logger->SetLevel(nqlog::Level::info);
    std::atomic_store(&logger_, std::move(logger));
}
