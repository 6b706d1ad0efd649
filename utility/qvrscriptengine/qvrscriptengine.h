// The installer's one Lua interpreter: standard libraries, the value-type
// modules, GLibTab and the Lua_ functions; chunk loading from resources and
// memory; protected calls whose errors end the process through a message box.
#pragma once

#include <windows.h>

#include <string>

#include "qvrlua.h"

class ScriptCallback;

class QVRScriptEngine {
public:
    // The process-wide engine, created (and its state filled) on first use.
    static QVRScriptEngine& Instance();

    lua_State* GetState() const { return state_; }

    // Loads the chunk `name` of resource type `type` from the program's module
    // and runs it. False when the resource cannot be found, loaded or compiled.
    bool DoResLua(const wchar_t* type, const wchar_t* name);
    // Loads a text or precompiled chunk from memory and runs it.
    bool DoBuffer(const char* data, size_t size, const char* chunkName);
    // The function and `nargs` arguments are on the stack; runs them with
    // OnScriptError as message handler and returns the call status.
    static int CallProtected(lua_State* L, int nargs, int nresults);
    // Runs the global function `name` with no arguments and no results; any
    // other value of that global is skipped silently.
    static void CallEvent(lua_State* L, const char* name);

    // Remove a directory tree (or the files and trees matching a pattern);
    // used by the file functions. Entries that cannot be deleted are skipped;
    // the Ex variant reports each file it could not delete to `onFailure`
    // (path, system error code) when one is given.
    static void DeleteDirectories(const wchar_t* path);
    static void DeleteDirectoriesEx(const wchar_t* path, ScriptCallback* onFailure);

    // Message handler: shows the error with the script call stack (or, when
    // boxes are suppressed, logs it) and ends the process with the exit code of
    // a script error (qvrrunresult.h; 0 unless the program set one).
    static int OnScriptError(lua_State* L);
    static void AppendCallStack(lua_State* L, int level, std::string& text);

    // Builds the text OnScriptError shows (error value, call stack, appeal).
    static std::wstring ComposeErrorText(lua_State* L);

    // What OnScriptError does with the composed text. The default shows the
    // error box and ends the process with the script error's exit code; test programs install
    // one that fails the test run instead (a script error must never end a
    // test program with a success code).
    using ErrorPresenter = void (*)(const std::wstring& text);
    static ErrorPresenter SetErrorPresenter(ErrorPresenter presenter);

    // Construction result: S_OK, or E_FAIL when no state could be created.
    HRESULT InitResult() const { return init_; }

    QVRScriptEngine(const QVRScriptEngine&) = delete;
    QVRScriptEngine& operator=(const QVRScriptEngine&) = delete;

private:
    QVRScriptEngine();
    ~QVRScriptEngine() = default;
    static void CloseAtExit();

    lua_State* state_ = nullptr;
    HRESULT init_ = E_FAIL;
};

// Caption and appeal of the script error box.
extern const wchar_t kScriptErrorCaption[];
extern const wchar_t kScriptErrorAppeal[];
