#include "qvrapi_pending.h"
#include "qvrscriptapi.h"

QVR_PENDING_FUNCTION(Lua_CreateShortcut)
QVR_PENDING_FUNCTION(Lua_Exec)
QVR_PENDING_FUNCTION(Lua_ExplorerExec)
QVR_PENDING_FUNCTION(Lua_ShellExec)
QVR_PENDING_FUNCTION(Lua_MsgBox)
