#include "qvrscriptglobals.h"

#include "qvrscriptargs.h"

namespace scriptglobals {

std::wstring GetText(lua_State* L, const char* name) {
    lua_getglobal(L, name);
    const std::wstring text = qvrargs::Text(L, -1);
    lua_pop(L, 1);
    return text;
}

bool GetBool(lua_State* L, const char* name) {
    lua_getglobal(L, name);
    const bool value = lua_toboolean(L, -1) != 0;
    lua_pop(L, 1);
    return value;
}

int GetInt(lua_State* L, const char* name) {
    lua_getglobal(L, name);
    const int value = static_cast<int>(lua_tointeger(L, -1));
    lua_pop(L, 1);
    return value;
}

void SetText(lua_State* L, const char* name, const std::wstring& value) {
    qvrargs::PushText(L, value);
    lua_setglobal(L, name);
}

void SetBool(lua_State* L, const char* name, bool value) {
    lua_pushboolean(L, value ? 1 : 0);
    lua_setglobal(L, name);
}

void SetNumber(lua_State* L, const char* name, double value) {
    lua_pushnumber(L, value);
    lua_setglobal(L, name);
}

}  // namespace scriptglobals
