// Reading and writing script globals from native code, in the engine's fixed
// shapes. Every read leaves the stack as it found it.
#pragma once

#include <string>

#include "qvrlua.h"

namespace scriptglobals {
// A string gives its text, a number its decimal text; anything else "".
std::wstring GetText(lua_State* L, const char* name);
// Lua truth.
bool GetBool(lua_State* L, const char* name);
// A number or numeric string; anything else 0.
int GetInt(lua_State* L, const char* name);
void SetText(lua_State* L, const char* name, const std::wstring& value);
void SetBool(lua_State* L, const char* name, bool value);
void SetNumber(lua_State* L, const char* name, double value);
}  // namespace scriptglobals
