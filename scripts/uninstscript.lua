-- Uninstall procedure of Contoso 翻译 标准版.
--
-- The installer places this chunk in the install folder as "Uninst.dar1",
-- beside the configuration chunk "Uninst.dar0". The product's uninstaller runs
-- both in one interpreter and then calls, in this order: QVRSE_BeforeInit,
-- QVRSE_OnUninstall, QVRSE_FeedBack (when the user gave feedback) and
-- QVRSE_AfterUnintall.
--
-- Globals supplied by the uninstaller: _Uninstall_Path (its own file),
-- ClearUserData, ChkUserSetting, tbContact, tbSuggest, ReasonID and,
-- optionally, _UninstallLib and global_install_path.

local script_version = "1.0.2.55"
local stat_module = nil
local stat_dll_copy = nil
local move_aside_dir = Lua_ExpandEnv("%TMP%")

-- File-system redirection of a 32-bit process on 64-bit Windows.
fsredir = {}
fsredir.IsNeed = (Lua_GetOSVersion() > 5 and Lua_IsWow64())
local fsredir_old = RawBuffer.New(4)
function fsredir.Disable()
  if not fsredir.IsNeed then return end
  local disable = GLibTab.kernel32:Get("Wow64DisableWow64FsRedirection", "int")
  disable(fsredir_old)
end
function fsredir.Revert()
  if not fsredir.IsNeed then return end
  local revert = GLibTab.kernel32:Get("Wow64RevertWow64FsRedirection", "int")
  revert(fsredir_old:OffsetGetAsUInt32(0))
end

local version_numbers = {}

-- Files of the product, by role (the same names as the install script's).
local service_name = "ContosoSearchService"
local helper_exe_x64 = "ContosoHelper64.exe"
local helper_exe_x86 = "ContosoHelper.exe"
local shell_ext_x64 = "ContosoShellExt64.dll"
local shell_ext_x86 = "ContosoShellExt.dll"
local shell_dll = "shell\\ContosoShell.dll"
local second_stat_dll = "qmnet.dll"
local run_key = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"

function Sleep(ms)
  local sleep = GLibTab.kernel32:Get("Sleep")
  sleep(ms)
end

function Lua_Sleep(ms)
  lib = GLibTab.kernel32
  my_Sleep = lib:Get("Sleep")
  my_Sleep(ms)
end

function CheckPathExist(path)
  local shlwapi = GLibTab.shlwapi
  if not shlwapi then return 0 end
  local exists = shlwapi:Get("PathFileExistsW", "int")
  if not exists then return 0 end
  local result = exists(WString.New(0, path))
  return result
end

function PathIsDirmpty(path)
  local shlwapi = GLibTab.shlwapi
  if not shlwapi then return 0 end
  local empty = shlwapi:Get("PathIsDirectoryEmptyW", "bool")
  if not empty then return 0 end
  local result = empty(WString.New(0, path))
  return result
end

function UnSetAssociate()
end

function UnRegeditRightMenu(dll, arg)
  local lib = GLibTab[dll]
  if not lib then return end
  local register = lib:Get("DllRegEx", "int")
  if register then register(arg) end
  lib:UnLoad()
  GLibTab[dll] = nil
end

function GetUnionID()
  local id = Lua_RegQuery("HKCU", global_reg_sub_key, "UnionId")
  if id == nil then id = Lua_RegQuery("HKLM", global_reg_sub_key, "UnionId") end
  global_union_id = tonumber(id) or 1
  Lua_Logout("global_union_id:" .. tostring(global_union_id))
end

function DeleteFileAndDirect(path, flag)
  if path == nil then return end
  if flag then
    Lua_DelFileRecursive(path, function() end)
  else
    Lua_DelFileRecursive(path)
  end
end

function UninstallService()
  for _, command in ipairs({ "/C sc stop " .. service_name, "/C sc delete " .. service_name }) do
    if Lua_ShellExec("cmd.exe", command) then Lua_Logout(command) end
  end
end

function paht_remove_filename(path)
  local parent = string.match(path, "^(%a:\\.+)\\[^\\]*$")
  if parent then return parent end
  return string.sub(path, 1, 3)
end

-- Texts inserted into the feedback record are JSON strings: quote, backslash
-- and control characters are escaped.
function JsonEscape(text)
  return (string.gsub(text, '[%c"\\]', function(c)
    if c == '"' then return '\\"' end
    if c == "\\" then return "\\\\" end
    if c == "\n" then return "\\n" end
    if c == "\r" then return "\\r" end
    if c == "\t" then return "\\t" end
    return string.format("\\u%04x", string.byte(c))
  end))
end

function CreateSubtatModule()
  local module = {}
  local lib = GLibTab[stat_dll_copy]
  if lib then
    module.lib = lib
    module.stat_init = lib:Get("stat_init", "bool")
    module.stat_level = lib:Get("stat_level")
    module.stat_unionid = lib:Get("stat_unionid")
    module.stat_appid = lib:Get("stat_appid")
    module.stat_install = lib:Get("stat_install", "int")
    module.stat_version_ex = lib:Get("stat_version_ex")
    module.stat_install_addr = lib:Get("stat_install_addr")
    module.stat_close = lib:Get("stat_close")
    module.stat_http_post = lib:Get("stat_http_post", "int")
  end
  return module
end

-- Calls one export of the statistics module; a missing export is skipped.
local function stat(name, ...)
  local fn = stat_module and stat_module[name]
  if fn then return fn(...) end
  return nil
end

function InitSubStat()
  if stat_module == nil then return false end
  if not stat("stat_init") then
    Lua_Logout("stat_init failed!")
    return false
  end
  stat("stat_level", 2)
  stat("stat_unionid", tonumber(global_union_id))
  stat("stat_appid", global_app_id)
  stat("stat_install_addr", global_udp_install_uninstall_url, tonumber(global_udp_un_install_port))
  stat("stat_version_ex", version_numbers[1], version_numbers[2], version_numbers[3], version_numbers[4])
  Lua_Logout(global_udp_install_uninstall_url)
end

function UninstallReport()
  if stat_module == nil then return false end
  stat("stat_install", 2)
  stat("stat_http_post", global_Uninstall_PostURL, nil, 0, true)
  Lua_Logout(global_Uninstall_PostURL)
end

function UninstallReason(text)
  if stat_module == nil then return false end
  stat("stat_install", 2)
  stat("stat_http_post", global_Uninstall_ReasonURL, text, #text, true)
  Lua_Logout("report reason" .. global_Uninstall_ReasonURL)
end

local function squeeze(text)
  if type(text) ~= "string" then return text end
  text = string.gsub(text, "/r/n", "")
  text = string.gsub(text, "%s+", "")
  return text
end

function FeedBack()
  if tbContact == nil and ReasonID == nil then return end
  tbContact = squeeze(tbContact)
  tbSuggest = squeeze(tbSuggest)
  uninstreason = string.format('{"come_from":32772, "content_ids":"%s", "uninstsuggest":"%s","contact":"%s"}',
                               JsonEscape(tostring(ReasonID)), JsonEscape(tostring(tbSuggest)),
                               JsonEscape(tostring(tbContact)))
  UninstallReason(uninstreason)
end

-- regsvr32 runs on its own; wait (bounded) until no copy of it runs, so that a
-- DLL is not deleted before it has been unregistered.
local function wait_for_regsvr32(timeout_ms)
  local waited = 0
  while waited < timeout_ms do
    local pid = Lua_GetProcessId("regsvr32.exe")
    if pid == nil or pid == -1 then return end
    Sleep(100)
    waited = waited + 100
  end
end

local function remove_shell_dll(path)
  if Lua_PathFileExists(path) ~= true then return end
  Lua_RegistDll(path, "/u /s", false)
  wait_for_regsvr32(15000)
  if Lua_DeleteFileEx(path) == true then return end
  Lua_Logout(path .. "  Delete Failed!!!")
  local name = Lua_PathYetAnotherMakeUniqueName(Lua_GetTempPath() .. "\\sh000001.tmp")
  if Lua_MoveFile(path, name) == true then Lua_DeleteFileAfterReboot(name) end
end

local function move_aside_and_schedule(path, code)
  Lua_Logout(tostring(path) .. string.format("  delete file failed:%d", tonumber(code) or 0))
  local placeholder = Lua_GetTempFileName(move_aside_dir, "JsZip")
  local name = Lua_PathYetAnotherMakeUniqueName(placeholder or "")
  Lua_Logout(tostring(name))
  if name ~= "" and Lua_MoveFile(path, name) == true then
    Lua_DeleteFileAfterReboot(name)
  end
  -- GetTempFileName left an empty file behind; it is not needed.
  if placeholder then Lua_DeleteFileEx(placeholder) end
end

function doUninstall()
  UninstallService()
  Sleep(1000)

  Lua_KillAllTaskByName(global_main_app_name_inner)
  Lua_KillAllTaskByName(global_main_app_name)
  Lua_KillAllTaskByName(helper_exe_x64)
  Lua_KillAllTaskByName(helper_exe_x86)
  Sleep(1000)

  if string.lower(string.sub(move_aside_dir, 1, 1)) ~= string.lower(string.sub(global_install_path, 1, 1)) then
    move_aside_dir = paht_remove_filename(global_install_path) .. "\\del_reboot"
    Lua_CreateDirectory(move_aside_dir)
  end

  if Lua_IsWow64() then
    remove_shell_dll(global_install_path .. "\\" .. shell_ext_x64)
    remove_shell_dll(global_install_path .. "\\" .. shell_dll)
  else
    remove_shell_dll(global_install_path .. "\\" .. shell_ext_x86)
  end

  fsredir.Disable()
  Lua_RegVarByCSIDL("DESKTOP", 16)
  for _, name in ipairs({ global_old_product_name, global_product_name }) do
    Lua_DeleteFile(string.format("%s\\%s.lnk", "%DESKTOP%", name))
  end
  for _, name in ipairs({ global_old_product_name, global_product_name }) do
    Lua_Exec(string.format("%s\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar\\%s.lnk",
                           "%APPDATA%", name), "taskbarunpin")
  end
  for _, name in ipairs({ global_old_product_name, global_product_name }) do
    Lua_DeleteFile(string.format("%s\\Microsoft\\Internet Explorer\\Quick Launch\\%s.lnk", "%APPDATA%", name))
  end
  Lua_RegVarByCSIDL("COMMPROGRAMS", 23)
  for _, name in ipairs({ global_old_product_name, global_product_name }) do
    Lua_Exec(string.format("%s\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\StartMenu\\%s.lnk",
                           "%APPDATA%", name), "startunpin")
  end
  Sleep(1000)
  DeleteFileAndDirect(string.format("%s\\%s", "%COMMPROGRAMS%", global_old_product_name))
  start_menu_app_dir = string.format("%s\\%s", "%COMMPROGRAMS%", global_product_name)
  DeleteFileAndDirect(start_menu_app_dir)
  Lua_DeleteFile(start_menu_app_dir)
  fsredir.Revert()

  reg_del_list = {
    { hkey = "HKLM", subkey = global_reg_sub_key },
    { hkey = "HKCU", subkey = global_reg_sub_key },
    { hkey = "HKLM", subkey = global_uninst_sub_key },
    { hkey = "HKCU", subkey = global_reg_run_key },
  }
  for _, row in ipairs(reg_del_list) do
    Lua_Logout(row.hkey .. "\\" .. row.subkey)
    Lua_RegDel(row.hkey, row.subkey)
  end
  -- The install script writes the autostart entry as a value of the Run key.
  Lua_RegDel("HKCU", run_key, global_product_name_inner)

  Lua_DelFileRecursiveEx(global_install_path, move_aside_and_schedule)
  if move_aside_dir ~= Lua_ExpandEnv("%TMP%") then
    Lua_DelFileRecursive(move_aside_dir)
    Lua_DeleteFileAfterReboot(move_aside_dir)
  end
  if ClearUserData then
    Lua_DelFileRecursive(string.format("%s\\%s", "%LOCALAPPDATA%", global_product_name_inner))
  end
  Lua_DelFileRecursive(string.format("%s\\%s", "%TEMP%", global_product_name_inner))
  return true
end

function doClean()
  if stat_module ~= nil then
    Sleep(6000)
    stat("stat_close", 50)
    if stat_module.lib then stat_module.lib:UnLoad() end
  end
  if _UninstallLib ~= nil and _UninstallLib.lib then _UninstallLib.lib:UnLoad() end
  if not ChkUserSetting then
    Lua_RegVarByCSIDL("APPDATA_USER", 26)
    Lua_RegVarByCSIDL("APPDATA_ALLUSER", 35)
  end
  Lua_DeleteFile(_Uninstall_Path)
  Lua_DeleteFileAfterReboot(global_install_path)
end

function QVRSE_BeforeInit()
  Lua_Logout("script_version:" .. script_version)
  GetUnionID()
  for n in string.gmatch(global_version, "(%d+)|*") do
    version_numbers[#version_numbers + 1] = tonumber(n)
  end
  if global_install_path == nil or CheckPathExist(global_install_path) ~= 1 then
    global_install_path = Lua_RegQuery("HKLM", global_uninst_sub_key, "InstallLocation")
  end
  main_app_fullpath = string.format("%s\\%s", tostring(global_install_path), global_main_app_name_inner)
  uninstall_work_dir = paht_remove_filename(Lua_GetModuleFileName())
  if global_install_path and CheckPathExist(global_install_path .. "\\qmstat.dll") == 1 then
    stat_dll_copy = uninstall_work_dir .. "\\qmstat.dll"
    Lua_CopyFile(global_install_path .. "\\qmstat.dll", stat_dll_copy)
    Lua_CopyFile(global_install_path .. "\\" .. second_stat_dll, uninstall_work_dir .. "\\" .. second_stat_dll)
    if CheckPathExist(stat_dll_copy) == 1 then
      stat_module = CreateSubtatModule()
      InitSubStat()
    end
  end
end

function QVRSE_OnUninstall()
  doUninstall()
  UninstallReport()
end

function QVRSE_AfterUnintall()
  Lua_Logout("-----install----")
  doClean()
end

function QVRSE_FeedBack()
  Lua_Logout("-----QVRSE_FeedBack----")
  FeedBack()
end
