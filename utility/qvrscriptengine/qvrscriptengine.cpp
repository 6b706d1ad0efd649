#include "qvrscriptengine.h"

#include <cstdio>
#include <cstdlib>

#include "../../nqpublic/nqbase/log/nqbaselog.h"
#include "qvrmsgbox.h"
#include "qvrrunresult.h"
#include "qvrscriptapi.h"
#include "qvrscriptargs.h"

const wchar_t kScriptErrorCaption[] = L":-( 杯具，脚本执行时发生错误";
const wchar_t kScriptErrorAppeal[] = L"请向我们反馈以上错误信息，以便我们改善产品质量！";

namespace {

// os.exit([code [, close]]) of the scripts: the standard function, called with
// the exit code the run's result gives (a script that ends a failed or
// unfinished installation with a success code does not end it with 0).
int ScriptOsExit(lua_State* L) {
    int requested = EXIT_SUCCESS;
    if (lua_isboolean(L, 1))
        requested = lua_toboolean(L, 1) ? EXIT_SUCCESS : EXIT_FAILURE;
    else
        requested = luaL_optint(L, 1, EXIT_SUCCESS);
    const int code = qvrrun::ScriptExitCode(requested);
    LOG_INFO("os.exit({}) ends the run with exit code {}", requested, code);
    lua_settop(L, 2);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_pushinteger(L, code);
    lua_pushvalue(L, 2);
    lua_call(L, 2, 0);
    return 0;
}

// Replaces os.exit with ScriptOsExit around the library's own function.
void WrapOsExit(lua_State* L) {
    lua_getglobal(L, "os");
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, "exit");
        lua_pushcclosure(L, &ScriptOsExit, 1);
        lua_setfield(L, -2, "exit");
    }
    lua_pop(L, 1);
}

}  // namespace

QVRScriptEngine& QVRScriptEngine::Instance() {
    static QVRScriptEngine engine;
    return engine;
}

QVRScriptEngine::QVRScriptEngine() {
    // Standard allocator and panic function of the auxiliary library.
    state_ = luaL_newstate();
    if (!state_) {
        init_ = E_FAIL;
        DebugTrace(L"luaL_newstate failed\r\n");
        return;
    }
    lua_State* L = state_;

    // Standard libraries and the (empty) preload table, as luaL_openlibs does.
    luaL_openlibs(L);
    luaL_getsubtable(L, LUA_REGISTRYINDEX, "_PRELOAD");
    lua_pop(L, 1);
    WrapOsExit(L);

    for (const luaL_Reg* m = kScriptValueTypes; m->name; ++m) {
        luaL_requiref(L, m->name, m->func, 1);
        lua_pop(L, 1);
    }
    CreateGLibTab(L);
    for (const luaL_Reg* f = kScriptApiFunctions; f->name; ++f) {
        lua_pushcfunction(L, f->func);
        lua_setglobal(L, f->name);
    }
    init_ = S_OK;
    std::atexit(&QVRScriptEngine::CloseAtExit);
}

void QVRScriptEngine::CloseAtExit() {
    QVRScriptEngine& engine = Instance();
    if (engine.state_) {
        lua_State* L = engine.state_;
        engine.state_ = nullptr;
        lua_close(L);
    }
}

bool QVRScriptEngine::DoResLua(const wchar_t* type, const wchar_t* name) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC res = ::FindResourceW(module, name, type);
    HGLOBAL loaded = res ? ::LoadResource(module, res) : nullptr;
    if (!loaded) {
        DebugTrace(L"LoadResource failed. Type : %s ID : %s\r\n", type, name);
        TRACE_FAILURE("");
        return false;
    }
    const void* bytes = ::LockResource(loaded);
    if (!bytes) {
        TRACE_FAILURE("LockResource failed.");
        return false;
    }
    const DWORD size = ::SizeofResource(module, res);
    if (size == 0) {
        DebugTrace(L"ResSize == 0\r\n");
        return false;
    }
    const std::string chunkName = WideToAnsi(name);
    // Resources of the program's own image stay mapped; nothing to free.
    return DoBuffer(static_cast<const char*>(bytes), size, chunkName.c_str());
}

bool QVRScriptEngine::DoBuffer(const char* data, size_t size, const char* chunkName) {
    lua_State* L = state_;
    if (!L) return false;
    if (luaL_loadbufferx(L, data, size, chunkName, nullptr) != LUA_OK) {
        const std::wstring message = ScriptToWide(lua_tostring(L, -1));
        lua_pop(L, 1);
        DebugTrace(L"%s\r\n", message.c_str());
        DebugTrace(L"luaL_loadbuffer failed!\r\n");
        return false;
    }
    lua_pushcfunction(L, &QVRScriptEngine::OnScriptError);
    lua_insert(L, -2);
    const int handler = lua_gettop(L) - 1;
    const int status = lua_pcall(L, 0, 0, handler);
    lua_remove(L, handler);
    return status == LUA_OK;
}

int QVRScriptEngine::CallProtected(lua_State* L, int nargs, int nresults) {
    const int handler = lua_gettop(L) - nargs;  // position of the function
    lua_pushcfunction(L, &QVRScriptEngine::OnScriptError);
    lua_insert(L, handler);
    const int status = lua_pcall(L, nargs, nresults, handler);
    lua_remove(L, handler);
    return status;
}

void QVRScriptEngine::CallEvent(lua_State* L, const char* name) {
    lua_getglobal(L, name);
    if (lua_type(L, -1) == LUA_TFUNCTION)
        CallProtected(L, 0, 0);
    else
        lua_pop(L, 1);
}

void QVRScriptEngine::AppendCallStack(lua_State* L, int level, std::string& text) {
    for (; level >= 0; ++level) {
        lua_Debug ar;
        if (!lua_getstack(L, level, &ar)) return;
        lua_getinfo(L, "nSlu", &ar);
        const char* prefix = "--  | ";
        if (level == 0) {
            text += "      <call stack>\n";
            prefix = "-> | ";
        }
        char line[1024];
        if (ar.name)
            std::snprintf(line, sizeof line, "%s%s() : line %d [%s : line %d]\n", prefix, ar.name,
                          ar.currentline, ar.source, ar.linedefined);
        else
            std::snprintf(line, sizeof line, "%sunknown : line %d [%s : line %d]\n", prefix, ar.currentline,
                          ar.source, ar.linedefined);
        text += line;
    }
}

std::wstring QVRScriptEngine::ComposeErrorText(lua_State* L) {
    std::string text;
    if (const char* message = lua_tostring(L, -1)) {
        text = message;
    } else {
        // An error value without a string form (nil, a table, a boolean).
        text = "(error object is a ";
        text += luaL_typename(L, -1);
        text += " value)";
    }
    text += "\n";
    AppendCallStack(L, 0, text);
    return AnsiToWide(text.c_str()) + kScriptErrorAppeal;
}

namespace {
void ShowErrorAndExit(const std::wstring& text) {
    qvrbox::Show(text, kScriptErrorCaption, MB_ICONERROR);
    qvrrun::Exit(qvrrun::Failure::kScriptError);
}
QVRScriptEngine::ErrorPresenter g_presenter = &ShowErrorAndExit;
}  // namespace

QVRScriptEngine::ErrorPresenter QVRScriptEngine::SetErrorPresenter(ErrorPresenter presenter) {
    ErrorPresenter old = g_presenter;
    g_presenter = presenter ? presenter : &ShowErrorAndExit;
    return old;
}

int QVRScriptEngine::OnScriptError(lua_State* L) {
    const std::wstring text = ComposeErrorText(L);
    g_presenter(text);
    // A presenter that returns leaves the error value as the call's result.
    return 1;
}
