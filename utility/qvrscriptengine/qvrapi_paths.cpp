#include "../../nqpublic/nqbase/log/nqbaselog.h"
#include "qvrapi_pending.h"
#include "qvrscriptapi.h"
#include "qvrscriptargs.h"

QVR_PENDING_FUNCTION(Lua_ExpandEnv)
QVR_PENDING_FUNCTION(Lua_RegVarByCSIDL)
QVR_PENDING_FUNCTION(Lua_GetTempFileName)
QVR_PENDING_FUNCTION(Lua_GetTempPath)
QVR_PENDING_FUNCTION(Lua_ExtractResource)
QVR_PENDING_FUNCTION(Lua_UnCompress7z)
QVR_PENDING_FUNCTION(Lua_HttpPost)

// Writes the text to the debugger output and, as ANSI text, to the log file.
int Lua_Logout(lua_State* L) {
    const std::wstring text = qvrargs::Text(L, 1);
    DebugTrace(L"%s", text.c_str());
    LOG_INFO("log:{}", WideToAnsi(text));
    return 0;
}
