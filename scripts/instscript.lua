-- Install procedure of Contoso 翻译 标准版.
--
-- The installer runs this chunk after the configuration chunk (global_var.lua)
-- and then calls the five event handlers at the end of this file. The top
-- level only prepares state and defines functions. Everything reaches the
-- system through the installer's Lua_ functions and GLibTab.

local script_version = "1.0.11.18"
local title = string.format("%s - 安装", global_product_name)
local oem_union_id = 13000
local move_aside_dir = Lua_ExpandEnv("%TMP%")
local current_union_id = 0
local service_exe = "ContosoSearchSvc.exe"
local run_tray = false

is_upgrade = false
global_ss_install = false
global_ss_run = false

-- Files of the payload, by role.
local service_name = "ContosoSearchService"
local helper_exe_x64 = "ContosoHelper64.exe"
local helper_exe_x86 = "ContosoHelper.exe"
local support_dll = "ContosoSupport.dll"
local shell_ext_x64 = "ContosoShellExt64.dll"
local shell_ext_x86 = "ContosoShellExt.dll"
local shell_dll = "shell\\ContosoShell.dll"
local certificate_file = "ContosoRoot.cer"
local uninstaller_exe = "ContosoUninst.exe"
local run_key = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"

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

function Sleep(ms)
  local sleep = GLibTab.kernel32:Get("Sleep")
  sleep(ms)
end

-- Splits `text` at every occurrence of the one-character separator `sep`;
-- empty parts are kept ("a__b" gives "a", "", "b").
function Split(text, sep)
  local parts = {}
  local start = 1
  while true do
    local at = string.find(text, sep, start, true)
    if not at then
      parts[#parts + 1] = string.sub(text, start)
      return parts
    end
    parts[#parts + 1] = string.sub(text, start, at - 1)
    start = at + #sep
  end
end

-- The file name of the running installer (text after the last backslash).
local function installer_file_name()
  local full = Lua_GetModuleFileName() or ""
  return string.match(full, "([^\\]*)$") or full
end

function InitCommandLineArgv_new()
  local argv = Lua_GetCommandLineArgv()
  if type(argv) ~= "table" then return end
  for _, arg in ipairs(argv) do
    if arg == "/s" or arg == "-s" then
      if global_enable_ss_install then
        global_ss_install = true
        global_ss_run = true
        global_show_completewindow = false
      end
    elseif arg == "/sUpdate" or arg == "-sUpdate" or arg == "/srvUpdate" then
      global_ss_install = true
      global_show_completewindow = false
      run_tray = true
    elseif arg == "/NormalUpdate" then
      is_normal_update_install = true
      is_upgrade = true
    elseif arg == "/ForceUpdate" then
      is_force_update_install = true
      is_upgrade = true
      global_show_completewindow = false
    else
      local head5, head6 = string.sub(arg, 1, 5), string.sub(arg, 1, 6)
      if head5 == "-uid=" or head5 == "-uid:" or head5 == "/uid:" then
        global_union_id = tonumber(string.sub(arg, 6))
      elseif head6 == "-path=" or head6 == "-path:" or head6 == "/path:" then
        global_install_path = string.sub(arg, 7)
      elseif string.sub(arg, 1, 9) == "/startup:" then
        update_startup_type = tonumber(string.sub(arg, 10))
      end
    end
  end
end

-- Union id from an installer named <inner name>_<union id>_<anything>.exe.
function AnalyzeParam()
  if global_disable_analyze_params_from_file_name ~= false then return end
  local name = installer_file_name()
  local stem = string.match(name, "^(.*)%.[^%.]*$") or name
  local parts = Split(stem, "_")
  if #parts ~= 3 or string.lower(parts[1]) ~= string.lower(global_product_name_inner) then return end
  local n = tonumber(parts[2])
  if n and n >= 31000 and n < 31999 then
    global_union_id = n
    Lua_Logout("union_id:-----------2" .. n)
  end
end

function GetUnionByPkgName()
  local digits = string.match(installer_file_name(), "^.*_.*%-(%d+).*%..*$")
  if digits then oem_union_id = tonumber(digits) end
end

function analy_filename_with_ss_param()
  local name = string.lower(installer_file_name())
  Lua_Logout("analy_filename_with_ss_param:stAppName " .. name)
  if string.find(name, "@st", 1, true) then
    global_ss_install = true
    global_ss_run = true
  end
  if string.find(name, "@stt", 1, true) then
    global_ss_install = true
    global_ss_run = false
  end
end

function analy_filename_with_shortcut_param()
  local name = string.lower(installer_file_name())
  local markers = {
    { "@dto", "DesktopShortcutChk", true }, { "@dtc", "DesktopShortcutChk", false },
    { "@smo", "StartMenuShortcutChk", true }, { "@smc", "StartMenuShortcutChk", false },
    { "@qlo", "QuickLaunchChk", true }, { "@qlc", "QuickLaunchChk", false },
    { "@swo", "ShouldStartWithWindowsChk", true }, { "@swc", "ShouldStartWithWindowsChk", false },
    { "@ssc", "InstallSearchServer", false },
  }
  for _, m in ipairs(markers) do
    if string.find(name, m[1], 1, true) then _G[m[2]] = m[3] end
  end
end

function GetCurrentUnionID()
  local id = Lua_RegQuery("HKCU", global_reg_sub_key, "UnionId")
  Lua_Logout("union_id=" .. tostring(id))
  if id == nil then
    id = Lua_RegQuery("HKLM", global_reg_sub_key, "UnionId")
    Lua_Logout("union_id=" .. tostring(id))
  end
  if id == nil then return 0 end
  return tonumber(id) or 0
end

-- True when the installed product came through another channel.
function CheckUnionID()
  return current_union_id ~= global_union_id
end

function paht_remove_filename(path)
  local parent = string.match(path, "^(%a:\\.+)\\[^\\]*$")
  if parent then return parent end
  return string.sub(path, 1, 3)
end

-- The top-level window of class `cls`, or nil.
function FindWnd(cls)
  local user32 = GLibTab.user32
  if not user32 then return nil end
  local find = user32:Get("FindWindowW", "uint")
  if not find then return nil end
  local hwnd = find(WString.New(0, cls), nil)
  if hwnd and hwnd ~= 0 then return hwnd end
  return nil
end

function CheckClient()
  if global_ss_install then return end
  if FindWnd(global_main_wnd_cls) then
    local text = string.format("检测到 %s 正在运行\r\n选择[确定]强制关闭，[取消]取消安装", global_product_name)
    if Lua_MsgBox(text, title, 1 + 48 + 65536) ~= 1 then os.exit(0) end
  end
end

function DeleteFileAndDirect(path, flag)
  if path == nil then return end
  if flag then
    Lua_DelFileRecursive(path, function() end)
  else
    Lua_DelFileRecursive(path)
  end
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

function checkShellExt(path)
  if not Lua_PathFileExists(path) then return end
  Lua_Logout(path .. "  check!!!")
  Lua_RegistDll(path, "/u /s", false)
  wait_for_regsvr32(15000)
  if Lua_DeleteFileEx(path) then return end
  Lua_Logout(path .. "  Delete Failed!!!")
  local tmp = Lua_PathYetAnotherMakeUniqueName(Lua_GetTempPath() .. "\\sha000001.tmp")
  Lua_Logout(tostring(tmp) .. "  generate tmpfile")
  if Lua_MoveFile(path, tmp) then
    Lua_DeleteFileAfterReboot(tmp)
  else
    Lua_Logout(path .. "  move to tmp Failed!!!")
  end
end

local function main_exe_path()
  return string.format("%s\\%s", global_install_path, global_main_app_name)
end

function RunApp()
  if not (global_enable_ss_install and global_ss_install) then return end
  if global_ss_run then
    Lua_ExplorerExec(main_exe_path(), "")
  elseif run_tray then
    Lua_Logout("bRunTray")
    Lua_RegAdd("HKCU", global_reg_sub_key, "RunToTray", "REG_DWORD", 1, true)
    Lua_ExplorerExec(main_exe_path(), "")
  end
end

function notify_association_changed()
  local shell32 = GLibTab.shell32
  if not shell32 then return end
  local notify = shell32:Get("SHChangeNotify")
  if notify then notify(0x08000000, 3, 0, 0) end
end

function add_firewall_rule()
  Lua_Logout("add_firewall_rule")
  local netsh = "%windir%\\system32\\netsh.exe"
  local program = string.format("%s\\%s", global_install_path, global_main_app_name)
  local commands = {
    string.format('advfirewall firewall delete rule name="%s"', global_product_name_inner),
    string.format('advfirewall firewall add rule name="%s" dir=in program="%s" action=allow',
                  global_product_name_inner, program),
    string.format('advfirewall firewall add rule name="%s" dir=out program="%s" action=allow',
                  global_product_name_inner, program),
  }
  for _, command in ipairs(commands) do
    Lua_Logout("netsh " .. command)
    Lua_Exec(netsh, nil, command, true)
  end
  Lua_Logout("add_firewall_rule end")
end

-- Reports the installation through the statistics DLL of the install folder.
function InstallReport(version, union_id, app_id)
  Lua_Logout("start install report info")
  local path = global_install_path .. "\\qmstat.dll"
  local lib = GLibTab[path]
  assert(lib, "LoadLibrary " .. path .. " failed")
  local function export(name, kind)
    local fn, err
    if kind then fn, err = lib:Get(name, kind) else fn, err = lib:Get(name) end
    assert(fn, 'GetProcAddress "' .. name .. '" failed, errcode : ' .. tostring(err))
    return fn
  end
  local stat_unionid = export("stat_unionid")
  local stat_appid = export("stat_appid")
  local stat_level = export("stat_level")
  local stat_version_ex = export("stat_version_ex")
  local stat_install_addr = export("stat_install_addr")
  local stat_init = export("stat_init", "bool")
  local stat_install = export("stat_install", "int")
  local stat_http_post = export("stat_http_post", "int")
  local stat_close = export("stat_close")

  stat_unionid(union_id)
  stat_appid(app_id)
  stat_level(2)
  stat_version_ex(version[1], version[2], version[3], version[4])
  stat_install_addr(global_udp_install_uninstall_url, tonumber(global_udp_un_install_port))
  if not stat_init() then
    Lua_Logout("stat_init failed!")
    return false
  end
  Lua_Logout(global_udp_install_uninstall_url)
  if current_union_id ~= 0 then
    stat_install(3)
    Lua_Logout("cover install!!!")
  else
    stat_install(1)
  end
  local posted = stat_http_post(global_install_PostURL, nil, 0, true)
  Lua_Logout(global_install_PostURL)
  stat_close(50)
  lib:UnLoad()
  GLibTab[path] = nil
  return posted == 1
end

function UpInfomession()
  local union_id = global_union_id
  if current_union_id ~= 0 then union_id = current_union_id end
  InstallReport(global_tb_version, union_id, global_app_id)
end

local function write_rows(rows)
  for _, row in ipairs(rows) do
    Lua_RegAdd(row.hkey, row.subkey, row.value, row.datatype, row.data, row.overwrite)
  end
end

-- Moves a file that cannot be replaced out of the way and answers the
-- extractor: 0 try the file again, 2 stop.
local function on_create_failure(path, code)
  Lua_Logout(tostring(path) .. string.format("  创建文件出错:%d", tonumber(code) or 0))
  local placeholder = Lua_GetTempFileName(move_aside_dir, "JsZip")
  local name = Lua_PathYetAnotherMakeUniqueName(placeholder or "")
  Lua_Logout(tostring(name))
  if name ~= "" and Lua_MoveFile(path, name) then
    Lua_DeleteFileAfterReboot(name)
    -- GetTempFileName left an empty file behind; it is not needed.
    if placeholder then Lua_DeleteFileEx(placeholder) end
    return 0
  end
  if placeholder then Lua_DeleteFileEx(placeholder) end
  return 2
end

function QVRSE_BeforeInit()
  Lua_Logout("script_version:" .. script_version)
  if Lua_GetOSVersion() < 6 then
    Lua_MsgBox(global_product_name .. " 目前只支持WIN7和更新的Windows操作系统！")
    os.exit(0)
  end
  current_union_id = GetCurrentUnionID()
  GetUnionByPkgName()

  global_install_path = Lua_RegQuery("HKLM", global_uninst_sub_key, "InstallLocation")
    or Lua_RegQuery("HKLM", global_reg_sub_key, "AppPath")
    or Lua_RegQuery("HKCU", global_reg_sub_key, "AppPath")
  if global_disable_cover and CheckUnionID() and global_install_path then os.exit(0) end

  AnalyzeParam()
  InitCommandLineArgv_new()

  if not global_install_path then
    local base
    if fsredir.IsNeed then base = Lua_ExpandEnv("%ProgramFiles(x86)%\\") else base = Lua_ExpandEnv("%ProgramFiles%\\") end
    global_install_path = base .. global_install_basepath
  end

  if not global_need_disk_space then global_need_disk_space = 20048128 end
  if global_startup_check_visable == nil then global_startup_check_visable = true end
  if not global_startup_check then global_startup_check = true end

  if global_enable_ss_install == true then
    if global_default_ss_install then
      global_ss_install = true
      global_ss_run = true
    else
      analy_filename_with_ss_param()
    end
  end

  if global_custom_reg_list == nil then global_custom_reg_list = {} end
  if global_show_completewindow == nil then global_show_completewindow = true end
  for _, option in ipairs({ "DesktopShortcutChk", "StartMenuShortcutChk", "QuickLaunchChk",
                            "ShouldStartWithWindowsChk", "InstallSearchServer" }) do
    if not _G[option] then _G[option] = true end
  end

  if global_ss_install then analy_filename_with_shortcut_param() end
end

function QVRSE_BeforeInstall()
  CheckClient()

  global_tb_version = {}
  for n in string.gmatch(global_version, "(%d+)|*") do
    global_tb_version[#global_tb_version + 1] = tonumber(n)
  end
  local v = global_tb_version
  global_dwversion = (((v[1] or 0) * 100 + (v[2] or 0)) * 100 + (v[3] or 0)) * 10000 + (v[4] or 0)

  Lua_Logout("InstallPath:" .. tostring(InstallPath))
  global_install_path = InstallPath
  Lua_CreateDirectory(global_install_path)
end

function QVRSE_OnInstall()
  -- 1. The product's service.
  for _, command in ipairs({ "/C sc stop " .. service_name, "/C sc delete " .. service_name }) do
    if Lua_ShellExec("cmd.exe", command) then Lua_Logout(command) end
  end

  -- 2. Running programs of the product.
  Lua_KillAllTaskByName(global_main_app_name_inner)
  Lua_KillAllTaskByName(global_main_app_name)
  Lua_KillAllTaskByName(helper_exe_x64)
  Lua_KillAllTaskByName(helper_exe_x86)
  Sleep(2000)

  -- 3. Old shell extensions.
  if Lua_IsWow64() then
    checkShellExt(global_install_path .. "\\" .. shell_ext_x64)
  else
    checkShellExt(global_install_path .. "\\" .. shell_ext_x86)
  end
  checkShellExt(global_install_path .. "\\" .. shell_dll)

  -- 4. Files that cannot be replaced go to the same drive as the install folder.
  if string.lower(string.sub(move_aside_dir, 1, 1)) ~= string.lower(string.sub(global_install_path, 1, 1)) then
    move_aside_dir = paht_remove_filename(global_install_path) .. "\\del_reboot"
    Lua_CreateDirectory(move_aside_dir)
  end

  -- 5. The payload.
  if not Lua_UnCompress7z("App.7z", global_install_path, false, nil, on_create_failure) then
    Lua_MsgBox("释放文件时出现错误，安装程序将终止！", title)
    os.exit(0)
  end

  -- 6. The uninstaller's scripts. Without them, or without the main program,
  -- the product could neither run nor be removed: the installation stops
  -- here, visibly, with the installer's exit code for a file that could not
  -- be written (6), before anything is registered.
  local settings_written = Lua_ExtractResource("LUA", "GLOBAL_VAR.LUAC", global_install_path .. "\\Uninst.dar0")
  local procedure_written = Lua_ExtractResource("LUA", "UNINSTSCRIPT.LUAC", global_install_path .. "\\Uninst.dar1")
  if not (settings_written and procedure_written and Lua_PathFileExists(Lua_ExpandEnv(main_exe_path()))) then
    Lua_Logout("Uninst.dar0/Uninst.dar1 or the main program could not be written to " .. tostring(global_install_path))
    Lua_MsgBox("写入文件时出现错误，安装程序将终止！", title)
    os.exit(6)
  end

  -- 7-8. The support DLL: system check and the product's certificate.
  main_app_fullpath = main_exe_path()
  local support_path = global_install_path .. "\\" .. support_dll
  local support = GLibTab[support_path]
  local function support_export(name, kind)
    if not support then return nil end
    local fn = support:Get(name, kind)
    return fn
  end
  local IsOSWin7 = support_export("IsOSWin7", "bool")
  if IsOSWin7 and IsOSWin7() then Lua_Logout("Win7") end
  local certificate = global_install_path .. "\\" .. certificate_file
  local ImportCertificate = support_export("ImportCertificate", "bool")
  if ImportCertificate and ImportCertificate(WString.New(0, certificate)) then Lua_Logout("ImportCert OK") end
  Lua_DeleteFileEx(certificate)

  -- 9. MerchantID only on a first installation.
  if Lua_RegQuery("HKCU", global_reg_sub_key, "MerchantID") == "" then
    Lua_RegDel("HKCU", global_reg_sub_key, "MerchantID")
  end
  local first_install = Lua_RegQuery("HKLM", global_reg_sub_key, "AppPath") == nil
    and Lua_RegQuery("HKCU", global_reg_sub_key, "AppPath") == nil
  if first_install and global_merchant_id and global_merchant_id ~= "" then
    Lua_RegAdd("HKCU", global_reg_sub_key, "MerchantID", "REG_SZ", global_merchant_id, global_merchant_id_overwrite)
  end

  -- 10. The product key and the uninstall entry.
  local key, ukey = global_reg_sub_key, global_uninst_sub_key
  write_rows({
    { hkey = "HKLM", subkey = key, value = "AppPath", datatype = "REG_SZ", data = global_install_path, overwrite = true },
    { hkey = "HKLM", subkey = key, value = "UnionId", datatype = "REG_DWORD", data = global_union_id, overwrite = global_cover_unionId },
    { hkey = "HKLM", subkey = key, value = "OEMUnionId", datatype = "REG_DWORD", data = oem_union_id, overwrite = global_cover_unionId },
    { hkey = "HKLM", subkey = key, value = "OemID", datatype = "REG_DWORD", data = 1, overwrite = true },
    { hkey = "HKLM", subkey = key, value = "UserID", datatype = "REG_BINARY", data = 0, overwrite = true },
    { hkey = "HKCU", subkey = key, value = "AppPath", datatype = "REG_SZ", data = global_install_path, overwrite = true },
    { hkey = "HKCU", subkey = key, value = "UnionId", datatype = "REG_DWORD", data = global_union_id, overwrite = global_cover_unionId },
    { hkey = "HKCU", subkey = key, value = "OEMUnionId", datatype = "REG_DWORD", data = oem_union_id, overwrite = global_cover_unionId },
    { hkey = "HKCU", subkey = key, value = "OemID", datatype = "REG_DWORD", data = 1, overwrite = true },
    { hkey = "HKCU", subkey = key, value = "UserID", datatype = "REG_BINARY", data = 0, overwrite = true },
    { hkey = "HKCU", subkey = key, value = "DisplayVersion", datatype = "REG_SZ", data = global_version, overwrite = true },
    { hkey = "HKCU", subkey = key, value = "Version", datatype = "REG_DWORD", data = global_dwversion, overwrite = true },
    { hkey = "HKLM", subkey = ukey, value = "DisplayIcon", datatype = "REG_SZ", data = main_app_fullpath, overwrite = true },
    { hkey = "HKLM", subkey = ukey, value = "DisplayName", datatype = "REG_SZ", data = global_product_name, overwrite = true },
    { hkey = "HKLM", subkey = ukey, value = "DisplayVersion", datatype = "REG_SZ", data = global_version, overwrite = true },
    { hkey = "HKLM", subkey = ukey, value = "EstimatedSize", datatype = "REG_DWORD", data = math.floor(global_need_disk_space / 1024), overwrite = true },
    { hkey = "HKLM", subkey = ukey, value = "NoModify", datatype = "REG_DWORD", data = 1, overwrite = true },
    { hkey = "HKLM", subkey = ukey, value = "NoRepair", datatype = "REG_DWORD", data = 1, overwrite = true },
    { hkey = "HKLM", subkey = ukey, value = "Publisher", datatype = "REG_SZ", data = global_company_name, overwrite = true },
    -- Quoted: the folder usually contains spaces.
    { hkey = "HKLM", subkey = ukey, value = "UninstallString", datatype = "REG_SZ",
      data = string.format('"%s\\%s"', global_install_path, uninstaller_exe), overwrite = true },
    { hkey = "HKLM", subkey = ukey, value = "InstallLocation", datatype = "REG_SZ", data = global_install_path, overwrite = true },
    { hkey = "HKLM", subkey = ukey, value = "InstallDate", datatype = "REG_SZ", data = os.date("%Y%m%d"), overwrite = true },
  })
  write_rows(global_custom_reg_list)

  -- 11-12. Shell folders as variables; the install folder's access rights.
  fsredir.Disable()
  Lua_RegVarByCSIDL("COMMPROGRAMS", 23)
  Lua_RegVarByCSIDL("DESKTOP", 16)
  local AllowAccountPrivilege = support_export("AllowAccountPrivilege", "bool")
  if AllowAccountPrivilege then AllowAccountPrivilege(WString.New(0, global_install_path)) end
  Lua_Logout("QVRSE_OnInstall_8")

  -- 13-14. The former product's desktop shortcut; the shell extensions.
  Lua_DeleteFile(string.format("%s\\%s.lnk", "%DESKTOP%", global_old_product_name))
  if Lua_IsWow64() then
    Lua_RegistDll(global_install_path .. "\\" .. shell_ext_x64, "/i /s", false)
    Lua_RegistDll(global_install_path .. "\\" .. shell_dll, "/i /s", false)
  else
    Lua_RegistDll(global_install_path .. "\\" .. shell_ext_x86, "/i /s", false)
  end

  -- 15-16. Shortcuts.
  if DesktopShortcutChk then
    local CreateDesktopShortcut = support_export("CreateDesktopShortcut", "void")
    if CreateDesktopShortcut then
      CreateDesktopShortcut(WString.New(0, main_app_fullpath), WString.New(0, global_main_wnd_cls),
                            WString.New(0, global_product_name))
    end
  end
  if StartMenuShortcutChk then
    local name = global_product_name
    local folder = string.format("%s\\%s", "%COMMPROGRAMS%", name)
    DeleteFileAndDirect(folder, true)
    Lua_DeleteFile(folder)
    fsredir.Revert()
    Lua_CreateShortcut(main_app_fullpath, string.format("%s\\%s\\%s.lnk", "%COMMPROGRAMS%", name, name), "/menu", nil)
    Lua_CreateShortcut(global_install_path .. "\\" .. uninstaller_exe,
                       string.format("%s\\%s\\卸载%s.lnk", "%COMMPROGRAMS%", name, name), "", nil)
    Lua_RegAdd("HKCU", global_reg_sub_key, "StartMenuShortcutChk", "REG_DWORD", 1, true)
  else
    Lua_RegAdd("HKCU", global_reg_sub_key, "StartMenuShortcutChk", "REG_DWORD", 0, true)
  end

  -- 17. Start with Windows (the path quoted: it usually contains spaces).
  if ShouldStartWithWindowsChk then
    Lua_RegAdd("HKCU", run_key, global_product_name_inner, "REG_SZ",
               string.format('"%s\\%s" /auto', global_install_path, global_main_app_name), true)
  else
    Lua_RegDel("HKCU", run_key, global_product_name_inner)
  end

  -- 18-20.
  if support then
    support:UnLoad()
    GLibTab[support_path] = nil
  end
  fsredir.Revert()
  if global_create_log_folder == true then Lua_CreateDirectory(global_install_path .. "\\log") end
  if move_aside_dir ~= Lua_ExpandEnv("%TMP%") then
    Lua_DelFileRecursive(move_aside_dir)
    Lua_DeleteFileAfterReboot(move_aside_dir)
  end
end

function QVRSE_BeforeComplete()
  if is_upgrade and not global_show_completewindow then
    Lua_ExplorerExec(main_exe_path(), "")
  end
  add_firewall_rule()
  if InstallSearchServer == true then
    Lua_Exec(global_install_path .. "\\" .. service_exe, nil, "--install", true)
  end
  RunApp()
  UpInfomession()
  notify_association_changed()
end

function QVRSE_AfterComplete()
end
