// The Lua 5.2 C API. The library is compiled as C: a script error unwinds with
// longjmp, so no object with a destructor may be alive across a call that can
// raise (lua_error, luaL_error, luaL_check*). Native functions read their
// arguments with the non-raising helpers of qvrscriptargs.h.
#pragma once

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}
