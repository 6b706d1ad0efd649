-- Install script of the spine tests: records every event it runs (to the log
-- through Lua_Logout, and to the file named by QVR_TEST_EVENTS), and can be
-- asked to hold in an event, to request the silent mode or to fail.
local out = os.getenv("QVR_TEST_EVENTS")
local hold = os.getenv("QVR_TEST_HOLD")          -- wait in QVRSE_BeforeInit until this file exists
local started = os.getenv("QVR_TEST_STARTED")    -- created when QVRSE_BeforeInit starts
local fail_in = os.getenv("QVR_TEST_ERROR_IN")   -- event that raises a script error
-- Steps of QVRSE_OnInstall that may stop on a box nobody answers:
local shell_exec = os.getenv("QVR_TEST_SHELLEXEC")  -- Lua_ShellExec of this (missing) file
local delete_file = os.getenv("QVR_TEST_DELETE")    -- Lua_DeleteFile of this (locked) file
local msgbox = os.getenv("QVR_TEST_MSGBOX")         -- Lua_MsgBox with this style (in QVRSE_BeforeInit)
local exit_code = os.getenv("QVR_TEST_EXIT")        -- os.exit with this argument ("none": no argument)

local function record(name)
  Lua_Logout("event " .. name)
  if out then
    local f = assert(io.open(out, "a"))
    f:write(name, "\n")
    f:close()
  end
end

local function exists(path)
  local f = io.open(path, "r")
  if f then f:close() return true end
  return false
end

local function deep_failure(name)
  local function inner() error("boom in " .. name) end
  inner()
end

local function event(name, body)
  _G[name] = function()
    record(name)
    if body then body() end
    if fail_in == name then deep_failure(name) end
  end
end

event("QVRSE_BeforeInit", function()
  if started then io.open(started, "w"):close() end
  if hold then
    local deadline = os.time() + 60
    while not exists(hold) and os.time() < deadline do end
  end
  if os.getenv("QVR_TEST_SCRIPT_SS") == "1" then global_ss_install = true end
  if msgbox then record("msgbox=" .. tostring(Lua_MsgBox("继续安装？", "Contoso 问题", tonumber(msgbox)))) end
end)
event("QVRSE_BeforeInstall", function()
  record("InstallPath=" .. tostring(InstallPath))
  record("global_ss_install=" .. tostring(global_ss_install))
  -- The install folder argument as install scripts read it (the argument list).
  for _, arg in ipairs(Lua_GetCommandLineArgv() or {}) do
    if string.sub(arg, 1, 6) == "/path:" then record("argv " .. arg) end
  end
end)
event("QVRSE_OnInstall", function()
  if shell_exec then record("shellexec=" .. tostring(Lua_ShellExec(shell_exec, ""))) end
  if delete_file then record("delete=" .. tostring(Lua_DeleteFile(delete_file))) end
  if exit_code == "none" then os.exit() elseif exit_code then os.exit(tonumber(exit_code)) end
end)
event("QVRSE_BeforeComplete")
event("QVRSE_AfterComplete")

if os.getenv("QVR_TEST_ONINSTALL_STRING") == "1" then QVRSE_OnInstall = "not a function" end
