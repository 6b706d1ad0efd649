#include "qvrapi_pending.h"
#include "qvrscriptapi.h"
#include "qvrscriptengine.h"

QVR_PENDING_FUNCTION(Lua_CreateDirectory)
QVR_PENDING_FUNCTION(Lua_CopyFile)
QVR_PENDING_FUNCTION(Lua_MoveFile)
QVR_PENDING_FUNCTION(Lua_RenameFile)
QVR_PENDING_FUNCTION(Lua_DeleteFile)
QVR_PENDING_FUNCTION(Lua_DeleteFileEx)
QVR_PENDING_FUNCTION(Lua_DelFileRecursive)
QVR_PENDING_FUNCTION(Lua_DelFileRecursiveEx)
QVR_PENDING_FUNCTION(Lua_DeleteFileAfterReboot)
QVR_PENDING_FUNCTION(Lua_PathFileExists)
QVR_PENDING_FUNCTION(Lua_PathYetAnotherMakeUniqueName)

bool QVRScriptEngine::DeleteDirectories(const wchar_t*) { return false; }
bool QVRScriptEngine::DeleteDirectoriesEx(const wchar_t*) { return false; }
