// Argument reading and text conversion shared by every Lua_ function.
//
// Native functions never raise a script error: a missing or unsuitable
// argument reads as empty text, 0 or false. These helpers never raise either.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "qvrlua.h"

// UTF-8 (script strings) <-> UTF-16. A null source converts to "".
std::wstring ScriptToWide(const char* text);
std::wstring ScriptToWide(const char* text, size_t len);
std::string WideToScript(const wchar_t* text);
inline std::string WideToScript(const std::wstring& text) { return WideToScript(text.c_str()); }
// The thread's ANSI code page (CP_THREAD_ACP) <-> UTF-16.
std::wstring AnsiToWide(const char* text);
std::wstring AnsiToWide(const char* text, size_t len);
std::string WideToAnsi(const wchar_t* text);
inline std::string WideToAnsi(const std::wstring& text) { return WideToAnsi(text.c_str()); }

namespace qvrargs {

// Text argument: strings and numbers give their text (UTF-8 -> UTF-16);
// nil, booleans, tables, missing arguments give "".
std::wstring Text(lua_State* L, int idx);
// The raw UTF-8 bytes of a text argument ("" as above).
std::string Utf8(lua_State* L, int idx);
// Integer argument: a number or numeric string, anything else 0.
int32_t Int(lua_State* L, int idx);
uint32_t UInt(lua_State* L, int idx);
// Lua truth: nil and false are false, everything else true.
bool Bool(lua_State* L, int idx);
// Environment expansion of a path argument into 260 UTF-16 units.
std::wstring Path(lua_State* L, int idx);

// Pushes an unsigned 32-bit number as its unsigned value.
inline void PushUInt(lua_State* L, uint32_t v) { lua_pushnumber(L, static_cast<lua_Number>(v)); }
void PushText(lua_State* L, const std::wstring& text);

}  // namespace qvrargs

// ExpandEnvironmentStringsW into a 260-unit buffer. An empty expansion, a
// failure or an expansion longer than 259 units gives the empty path.
std::wstring ExpandPath(const std::wstring& path);

// One argument of a script callback: a UTF-16 path (null gives nil) or an
// unsigned number.
struct CallbackArg {
    static CallbackArg Path(const wchar_t* p) { return {true, p, 0}; }
    static CallbackArg Number(uint32_t n) { return {false, nullptr, n}; }
    bool isPath;
    const wchar_t* path;
    uint32_t number;
};

// A script function held as a registry reference together with its state,
// called back from native code. The reference is released with the object.
class ScriptCallback {
public:
    ScriptCallback() = default;
    // Takes a reference to the function at `idx` (the value stays on the
    // stack); a non-function gives an empty callback.
    ScriptCallback(lua_State* L, int idx);
    ~ScriptCallback();
    ScriptCallback(const ScriptCallback&) = delete;
    ScriptCallback& operator=(const ScriptCallback&) = delete;

    explicit operator bool() const { return L_ != nullptr && ref_ != LUA_NOREF && ref_ != LUA_REFNIL; }

    // Calls the function like CallProtected with one result and returns that
    // result as an integer (0 when it is not a number). When the protected
    // call fails: DebugTrace of the message and 2. The stack top is restored.
    int Call(std::initializer_list<CallbackArg> args);

private:
    lua_State* L_ = nullptr;
    int ref_ = LUA_NOREF;
};
