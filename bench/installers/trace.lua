-- Time profile of an install script. Appended to the shipped install script by
-- the benchmark build (bench_shipped_traced): it wraps every global function
-- the installer or the script calls (the Lua_ natives, Sleep, the script's own
-- global functions and the five events) and, when the last event ends, writes
-- one log line per function:
--   trace: <kind> <name> calls=<n> ms=<total inclusive wall time>
-- kind is "event" for QVRSE_ handlers, "native" for Lua_ functions and
-- "script" for the script's own functions (inclusive: their natives are
-- counted again under "native"). os.clock() is the process's elapsed wall
-- time on Windows (the C runtime's clock()).
local clock = os.clock
local logout = Lua_Logout
local totals = {}
local order = {}

local function kind_of(name)
  if name:sub(1, 6) == "QVRSE_" then return "event" end
  if name:sub(1, 4) == "Lua_" then return "native" end
  return "script"
end

local function report()
  logout(string.format("trace: process ms=%d", math.floor(clock() * 1000 + 0.5)))
  for _, name in ipairs(order) do
    local t = totals[name]
    if t.calls > 0 then
      logout(string.format("trace: %s %s calls=%d ms=%d", kind_of(name), name, t.calls,
                           math.floor(t.seconds * 1000 + 0.5)))
    end
  end
end

local function wrap(name, fn)
  local t = { calls = 0, seconds = 0 }
  totals[name] = t
  order[#order + 1] = name
  return function(...)
    local started = clock()
    local results = table.pack(fn(...))
    t.calls = t.calls + 1
    t.seconds = t.seconds + (clock() - started)
    if name == "QVRSE_AfterComplete" then report() end
    return table.unpack(results, 1, results.n)
  end
end

-- os.exit() inside an event (the script's error paths) skips the report;
-- the benchmark only times successful installs.
if not QVRSE_AfterComplete then QVRSE_AfterComplete = function() end end
local names = {}
for name, value in pairs(_G) do
  if type(value) == "function" and name ~= "Lua_Logout" and
     (name:sub(1, 4) == "Lua_" or name:sub(1, 6) == "QVRSE_" or debug.getinfo(value, "S").what == "Lua") then
    names[#names + 1] = name
  end
end
table.sort(names)
for _, name in ipairs(names) do _G[name] = wrap(name, _G[name]) end
