// Running script snippets in the engine from tests, and reading what they
// return as text, so that a behaviour can be written as a table of cases
// {script body, expected description}.
//
// Programs that use these link qvrtest_main: a run-time script error ends the
// program with exit code 99 and the error text on stderr.
#pragma once

#include <string>
#include <vector>

namespace testutil {

// Runs `code` as a chunk in the process's engine; false when it does not load.
bool RunScript(const std::string& code, const char* chunkName = "=test");

// Runs `body` as the body of a function and describes its results, joined by
// ", ": nil, true/false, numbers as tostring gives them, strings quoted with
// %q, AString/WString objects as AString("text"/capacity), RawBuffer objects
// as RawBuffer(size), DllManager objects as DllManager, light userdata as ptr,
// other values by their type name. No result gives "".
std::string Describe(const std::string& body);

// Lua string literal of a UTF-16 text: every byte of its UTF-8 form escaped
// (a long bracket cannot hold every text).
std::string Lit(const std::wstring& text);

// One case of a table: a script body and the description of its results.
struct ScriptCase {
    std::string body;
    std::string expected;
};
// Expects Describe(body) == expected for every case (a failure names the body).
void RunCases(const std::vector<ScriptCase>& cases);

// Sets a global to a UTF-8 string made from `value`.
void SetScriptGlobal(const char* name, const std::wstring& value);

// Collects the debugger-output lines (DebugTrace) written while it exists.
class DebugLines {
public:
    DebugLines();
    ~DebugLines();
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;

    const std::vector<std::wstring>& lines() const;
    void clear();
    // Number of lines equal to `line`.
    int Count(const std::wstring& line) const;
};

}  // namespace testutil
