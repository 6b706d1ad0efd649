-- Benchmark install script: the same work as the NSIS script (extract the
-- payload, one registry value, the uninstall chunks).
function QVRSE_OnInstall()
  Lua_CreateDirectory(InstallPath)
  if not Lua_UnCompress7z("App.7z", InstallPath, false) then
    Lua_Logout("payload extraction failed")
    os.exit(2)
  end
  Lua_RegAdd("HKCU", "Software\\ContosoBench", "InstallPath", "REG_SZ", InstallPath, true)
  Lua_ExtractResource("LUA", "GLOBAL_VAR.LUAC", InstallPath .. "\\Uninst.dar0")
  Lua_ExtractResource("LUA", "UNINSTSCRIPT.LUAC", InstallPath .. "\\Uninst.dar1")
end
