// Everything the engine registers in the interpreter, in registration order.
//
// Each group of script functions lives in its own source file (qvrapi_*.cpp,
// qvrscripttypes.cpp); this header and the tables in qvrscriptapi.cpp are the
// one place that fixes names and order.
#pragma once

#include "qvrlua.h"

// Value-type modules, opened with "require" semantics in this order.
int luaopen_AString(lua_State* L);
int luaopen_WString(lua_State* L);
int luaopen_RawBuffer(lua_State* L);
int luaopen_DllManager(lua_State* L);
// Creates the global table GLibTab with its metatable.
void CreateGLibTab(lua_State* L);

// Files and directories (qvrapi_files.cpp).
int Lua_CreateDirectory(lua_State* L);
int Lua_CopyFile(lua_State* L);
int Lua_MoveFile(lua_State* L);
int Lua_RenameFile(lua_State* L);
int Lua_DeleteFile(lua_State* L);
int Lua_DeleteFileEx(lua_State* L);
int Lua_DelFileRecursive(lua_State* L);
int Lua_DelFileRecursiveEx(lua_State* L);
int Lua_DeleteFileAfterReboot(lua_State* L);
int Lua_PathFileExists(lua_State* L);
int Lua_PathYetAnotherMakeUniqueName(lua_State* L);

// Registry (qvrapi_registry.cpp).
int Lua_RegSvr32(lua_State* L);
int Lua_RegistDll(lua_State* L);
int Lua_RegQuery(lua_State* L);
int Lua_RegAdd(lua_State* L);
int Lua_RegDel(lua_State* L);

// Shortcuts and shell (qvrapi_shell.cpp).
int Lua_CreateShortcut(lua_State* L);
int Lua_Exec(lua_State* L);
int Lua_ExplorerExec(lua_State* L);
int Lua_ShellExec(lua_State* L);
int Lua_MsgBox(lua_State* L);

// Processes, services and system (qvrapi_system.cpp).
int Lua_TaskKill(lua_State* L);
int Lua_KillAllTaskByName(lua_State* L);
int Lua_GetProcessId(lua_State* L);
int Lua_GetImagePathByPid(lua_State* L);
int Lua_SCM(lua_State* L);
int Lua_EnablePrivilege(lua_State* L);
int Lua_ExitWindows(lua_State* L);
int Lua_GetOSVersion(lua_State* L);
int Lua_IsWow64(lua_State* L);
int Lua_GetModuleFileName(lua_State* L);
int Lua_GetCommandLineArgv(lua_State* L);
int Lua_GetDriverInstallPath(lua_State* L);

// Paths, resources, network and log (qvrapi_paths.cpp).
int Lua_ExpandEnv(lua_State* L);
int Lua_RegVarByCSIDL(lua_State* L);
int Lua_GetTempFileName(lua_State* L);
int Lua_GetTempPath(lua_State* L);
int Lua_ExtractResource(lua_State* L);
int Lua_UnCompress7z(lua_State* L);
int Lua_HttpPost(lua_State* L);
int Lua_Logout(lua_State* L);

// Value-type modules in opening order, null-terminated.
extern const luaL_Reg kScriptValueTypes[];
// The 41 native functions in registration order, null-terminated.
extern const luaL_Reg kScriptApiFunctions[];
