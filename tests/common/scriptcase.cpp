#include "tests/common/scriptcase.h"
#include "tests/common/scripttest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "tests/common/testutil.h"
#include "utility/qvrscriptengine/qvrscriptargs.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace testutil {

namespace {

const char kDescribeSource[] = R"lua(
local reg = debug.getregistry()
local function capacity(v)
  local n = 0
  while v[n] ~= nil do n = n + 1 end
  return n
end
local function size(v)
  local n = 0
  while v:OffsetGetAsUInt8(n) ~= nil do n = n + 1 end
  return n
end
local function one(v)
  local t = type(v)
  if t == 'string' then return string.format('%q', v) end
  if t == 'number' or t == 'boolean' or t == 'nil' then return tostring(v) end
  if t == 'userdata' and getmetatable(v) == nil then return 'ptr' end  -- light userdata
  if t == 'userdata' then
    local mt = getmetatable(v)
    if mt == reg.AStringMetaTable then return 'AString(' .. string.format('%q', tostring(v)) .. '/' .. capacity(v) .. ')' end
    if mt == reg.WStringMetaTable then return 'WString(' .. string.format('%q', tostring(v)) .. '/' .. capacity(v) .. ')' end
    if mt == reg.RawBufferMetaTable then return 'RawBuffer(' .. size(v) .. ')' end
    if mt == reg.DllManagerMetaTable then return 'DllManager' end
  end
  return t
end
function qvrtest_describe(...)
  local parts = {}
  for i = 1, select('#', ...) do parts[i] = one((select(i, ...))) end
  return table.concat(parts, ', ')
end
)lua";

std::vector<std::wstring>* g_lines = nullptr;
nqlog::DebugSink g_previous = nullptr;
void Collect(const wchar_t* line) {
    if (g_lines) g_lines->push_back(line);
}

}  // namespace

bool RunScript(const std::string& code, const char* chunkName) {
    return QVRScriptEngine::Instance().DoBuffer(code.data(), code.size(), chunkName);
}

std::string Describe(const std::string& body) {
    static bool ready = RunScript(kDescribeSource, "=describe");
    if (!ready) return "<describe helper did not load>";
    const std::string code = "qvrtest_described = qvrtest_describe((function()\n" + body + "\nend)())";
    if (!RunScript(code, "=case")) return "<case did not load>";
    lua_State* L = QVRScriptEngine::Instance().GetState();
    lua_getglobal(L, "qvrtest_described");
    size_t len = 0;
    const char* s = lua_tolstring(L, -1, &len);
    std::string out(s ? s : "", s ? len : 0);
    lua_pop(L, 1);
    return out;
}

void SetScriptGlobal(const char* name, const std::wstring& value) {
    lua_State* L = QVRScriptEngine::Instance().GetState();
    const std::string utf8 = WideToUtf8(value);
    lua_pushlstring(L, utf8.data(), utf8.size());
    lua_setglobal(L, name);
}

DebugLines::DebugLines() {
    g_lines = new std::vector<std::wstring>();
    g_previous = nqlog::SetDebugSink(&Collect);
}

DebugLines::~DebugLines() {
    nqlog::SetDebugSink(g_previous);
    delete g_lines;
    g_lines = nullptr;
}

const std::vector<std::wstring>& DebugLines::lines() const { return *g_lines; }
void DebugLines::clear() { g_lines->clear(); }
int DebugLines::Count(const std::wstring& line) const {
    return static_cast<int>(std::count(g_lines->begin(), g_lines->end(), line));
}

void RunCases(const std::vector<ScriptCase>& cases) {
    for (const ScriptCase& c : cases) EXPECT_EQ(Describe(c.body), c.expected) << c.body;
}

std::string Lit(const std::wstring& text) {
    const std::string utf8 = WideToScript(text);
    std::string out = "\"";
    for (unsigned char c : utf8) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\%03u", c);
        out += buf;
    }
    return out + "\"";
}

std::wstring ScriptTest::Text(const char* name) {
    lua_getglobal(L, name);
    std::wstring out = lua_type(L, -1) == LUA_TSTRING ? ScriptToWide(lua_tostring(L, -1)) : L"<not a string>";
    lua_pop(L, 1);
    return out;
}

double ScriptTest::Number(const char* name) {
    lua_getglobal(L, name);
    const double out = lua_type(L, -1) == LUA_TNUMBER ? lua_tonumber(L, -1) : -12345.0;
    lua_pop(L, 1);
    return out;
}

std::string ScriptTest::Kind(const char* name) {
    lua_getglobal(L, name);
    std::string out = lua_type(L, -1) == LUA_TBOOLEAN ? (lua_toboolean(L, -1) ? "true" : "false")
                                                        : lua_typename(L, lua_type(L, -1));
    lua_pop(L, 1);
    return out;
}

bool ScriptTest::HasTraceAfter(const std::wstring& context) const {
    const auto& lines = Lines();
    for (size_t i = 0; i + 2 < lines.size(); ++i)
        if (lines[i].rfind(L"vq " + context + L"vq file:", 0) == 0 &&
            lines[i + 1].rfind(L"vq " + context + L"vq line:", 0) == 0 &&
            lines[i + 2].rfind(L"vq " + context + L"vq err:", 0) == 0)
            return true;
    return false;
}

std::wstring ScriptTest::AllLines() const {
    std::wstring all;
    for (const auto& l : Lines()) all += l;
    return all;
}

}  // namespace testutil
