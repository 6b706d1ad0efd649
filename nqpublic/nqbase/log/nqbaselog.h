// The installer's two diagnostic channels:
//  - the dated log file in the temporary folder (CNQBaseLog, LOG_INFO), and
//  - one-line diagnostics on the debugger output (DebugTrace, TRACE_FAILURE),
//    every line tagged "vq ".
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace nqlog {

// ---- Message formatting -------------------------------------------------
// The log's messages use "{}" placeholders, filled in order with the
// arguments; "{{" and "}}" are literal braces. Arguments are texts (C
// strings, std::string, std::string_view: written byte for byte), integers,
// characters, booleans ("true"/"false"), floating-point numbers (shortest
// form that reads back the same) and pointers (0x + hex). There are no format
// specifications: LOG_INFO checks its format against its arguments when it
// is compiled.

enum class Level { trace, debug, info, warn, err, critical, off };

struct Arg {
    enum Kind : unsigned char { kText, kSigned, kUnsigned, kBool, kChar, kDouble, kPointer };
    Kind kind;
    union {
        struct {
            const char* data;
            size_t size;
        } text;
        long long i;
        unsigned long long u;
        double d;
        const void* p;
    };
};

template <typename T>
Arg MakeArg(const T& v) {
    using D = std::decay_t<T>;
    Arg a;
    if constexpr (std::is_array_v<T> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char>) {
        a.kind = Arg::kText;
        a.text.data = v;
        a.text.size = std::char_traits<char>::length(v);
    } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
        a.kind = Arg::kText;
        a.text.data = v ? v : "";
        a.text.size = std::char_traits<char>::length(a.text.data);
    } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        const std::string_view sv(v);
        a.kind = Arg::kText;
        a.text.data = sv.data();
        a.text.size = sv.size();
    } else if constexpr (std::is_same_v<D, bool>) {
        a.kind = Arg::kBool;
        a.u = v;
    } else if constexpr (std::is_same_v<D, char>) {
        a.kind = Arg::kChar;
        a.u = static_cast<unsigned char>(v);
    } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
        a.kind = Arg::kSigned;
        a.i = v;
    } else if constexpr (std::is_integral_v<D>) {
        a.kind = Arg::kUnsigned;
        a.u = v;
    } else if constexpr (std::is_floating_point_v<D>) {
        a.kind = Arg::kDouble;
        a.d = static_cast<double>(v);
    } else if constexpr (std::is_pointer_v<D>) {
        a.kind = Arg::kPointer;
        a.p = static_cast<const void*>(v);
    } else {
        static_assert(sizeof(T) == 0, "the log writes texts, numbers, characters, booleans and pointers");
    }
    return a;
}

// Appends `format` with its placeholders filled from args[0..count) to `out`.
// A placeholder without an argument stays as written; surplus arguments are
// left out.
void FormatTo(std::string& out, std::string_view format, const Arg* args, size_t count);

template <typename... A>
std::string Format(std::string_view format, const A&... args) {
    std::string out;
    if constexpr (sizeof...(A) == 0) {
        FormatTo(out, format, nullptr, 0);
    } else {
        const Arg list[] = {MakeArg(args)...};
        FormatTo(out, format, list, sizeof...(A));
    }
    return out;
}

// True when `format` holds exactly `count` "{}" placeholders and no other
// brace than the doubled ones.
constexpr bool FormatFits(const char* format, size_t count) {
    size_t found = 0;
    for (const char* p = format; *p; ++p) {
        if (*p == '{') {
            if (p[1] == '{') {
                ++p;
            } else if (p[1] == '}') {
                ++found;
                ++p;
            } else {
                return false;
            }
        } else if (*p == '}') {
            if (p[1] != '}') return false;
            ++p;
        }
    }
    return found == count;
}

template <typename... A>
std::integral_constant<size_t, sizeof...(A)> CountOf(const A&...);

// ---- The log file -------------------------------------------------------
// One dated file, "<base>_YYYY-MM-DD<ext>", appended to, a line at a time:
// "[%Y-%m-%d %H:%M:%S.%e] [level] [thread id] message" in local time, each line
// written through to the file at once, lines of concurrent threads never
// interleaved. At 23:59 local time the next line goes to the file of its own
// date.
class Logger {
public:
    // Opens (creates, or appends to) today's file for `basePath` and its
    // folder if missing. On failure returns null and `error` says why.
    static std::shared_ptr<Logger> Open(const std::string& basePath, std::string* error);
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void SetLevel(Level level) { level_ = level; }
    bool ShouldLog(Level level) const { return level >= level_ && level != Level::off; }
    // The file's current name.
    std::string FileName() const;

    template <typename... A>
    void Log(Level level, std::string_view format, const A&... args) {
        if (!ShouldLog(level)) return;
        if constexpr (sizeof...(A) == 0) {
            Write(level, format, nullptr, 0);
        } else {
            const Arg list[] = {MakeArg(args)...};
            Write(level, format, list, sizeof...(A));
        }
    }
    template <typename... A>
    void Info(std::string_view format, const A&... args) { Log(Level::info, format, args...); }
    template <typename... A>
    void Debug(std::string_view format, const A&... args) { Log(Level::debug, format, args...); }

private:
    struct File;
    explicit Logger(std::unique_ptr<File> file);
    void Write(Level level, std::string_view format, const Arg* args, size_t count);

    std::unique_ptr<File> file_;
    Level level_ = Level::info;
};

}  // namespace nqlog

class CNQBaseLog {
public:
    static CNQBaseLog& Instance();
    virtual ~CNQBaseLog();

    // Creates the daily log for `path` (ANSI code page): lines of level info
    // and above, each written through at once. Removes the earlier dated files
    // of the same base name first. On failure the reason goes to the debugger
    // output and the logger stays as it was (none at the first start: every
    // LOG_INFO is skipped).
    void InitLogger(const char* path);
    std::shared_ptr<nqlog::Logger> GetLogger() const;

    // Removes every entry of `folder` whose name before its first '_' equals
    // `baseName`, except today's dated log file.
    static void DeleteOldLogs(const char* folder, const char* baseName);

private:
    CNQBaseLog() = default;
    std::shared_ptr<nqlog::Logger> logger_;
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

// One info line in the log file behind "[file function: line] ". The format
// is a string literal with "{}" placeholders, one per argument.
#define LOG_INFO(format, ...)                                                                        \
    do {                                                                                             \
        static_assert(nqlog::FormatFits(format, decltype(nqlog::CountOf(__VA_ARGS__))::value),       \
                      "LOG_INFO: one {} placeholder per argument, literal braces doubled");          \
        if (auto nq_logger_ = CNQBaseLog::Instance().GetLogger())                                    \
            nq_logger_->Info("[{} {}: {}] " format, nqlog::SourceName(__FILE__), __FUNCTION__, __LINE__, \
                             ##__VA_ARGS__);                                                         \
    } while (0)
