// Runs one script file in the engine of a process of its own:
//   qvrtest_scripthost <script file> [more arguments the script may read]
// The exit code is the script global qvr_exit (an integer, 0 when unset);
// 98 when the file cannot be read or compiled, 99 on a script error.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "tests/common/testutil.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace {
void FailRun(const std::wstring& text) {
    std::fprintf(stderr, "script error:\n%s\n", testutil::WideToUtf8(text).c_str());
    std::fflush(stderr);
    ::ExitProcess(99);
}
}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 98;
    std::string code;
    const bool read = testutil::ReadFileBytes(argv[1], code);
    ::LocalFree(argv);
    if (!read) return 98;

    QVRScriptEngine::SetErrorPresenter(&FailRun);
    QVRScriptEngine& engine = QVRScriptEngine::Instance();
    if (!engine.DoBuffer(code.data(), code.size(), "host")) return 98;
    lua_State* L = engine.GetState();
    lua_getglobal(L, "qvr_exit");
    const int rc = static_cast<int>(lua_tointeger(L, -1));
    lua_pop(L, 1);
    return rc;
}
