// A small program that runs one script file in the engine, for tests whose
// script shows a question box or ends the process.
//
//   qvrscripthost <script.lua> <lines.txt>
//
// Every debugger-output line is appended to lines.txt (UTF-8, one per line,
// written at once so that nothing is lost when the script ends the process).
// After the script the global `result` is written as "result=<tostring>" and
// the program ends with exit code 7; a script error ends it with exit code 99.
#include <windows.h>

#include <string>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "utility/qvrscriptengine/qvrscriptargs.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace {

HANDLE g_lines = INVALID_HANDLE_VALUE;

void Append(const std::string& text) {
    DWORD written = 0;
    ::WriteFile(g_lines, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Sink(const wchar_t* line) { Append(WideToScript(line) + "\n"); }

void ScriptError(const std::wstring& text) {
    Append("script error: " + WideToScript(text) + "\n");
    ::ExitProcess(99);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    g_lines = ::CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
    if (g_lines == INVALID_HANDLE_VALUE) return 3;
    nqlog::SetDebugSink(&Sink);
    QVRScriptEngine::SetErrorPresenter(&ScriptError);

    std::string code;
    HANDLE script = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (script == INVALID_HANDLE_VALUE) return 4;
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(script, buf, sizeof buf, &got, nullptr) && got) code.append(buf, got);
    ::CloseHandle(script);

    QVRScriptEngine& engine = QVRScriptEngine::Instance();
    if (!engine.DoBuffer(code.data(), code.size(), "=host")) return 5;
    lua_State* L = engine.GetState();
    lua_getglobal(L, "tostring");
    lua_getglobal(L, "result");
    lua_call(L, 1, 1);
    Append(std::string("result=") + lua_tostring(L, -1) + "\n");
    lua_pop(L, 1);
    ::CloseHandle(g_lines);
    return 7;
}
