#include "qvrapi_pending.h"
#include "qvrscriptapi.h"

QVR_PENDING_FUNCTION(Lua_RegSvr32)
QVR_PENDING_FUNCTION(Lua_RegistDll)
QVR_PENDING_FUNCTION(Lua_RegQuery)
QVR_PENDING_FUNCTION(Lua_RegAdd)
QVR_PENDING_FUNCTION(Lua_RegDel)
