#include "qvrscriptapi.h"

// Value types arrive with their own module; until then each module is an empty table.
int luaopen_AString(lua_State* L) { lua_newtable(L); return 1; }
int luaopen_WString(lua_State* L) { lua_newtable(L); return 1; }
int luaopen_RawBuffer(lua_State* L) { lua_newtable(L); return 1; }
int luaopen_DllManager(lua_State* L) { lua_newtable(L); return 1; }

void CreateGLibTab(lua_State* L) {
    lua_newtable(L);
    luaL_newmetatable(L, "GlobalLibTableMetaTable");
    lua_setmetatable(L, -2);
    lua_setglobal(L, "GLibTab");
}
