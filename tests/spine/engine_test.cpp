#include "utility/qvrscriptengine/qvrscriptengine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "tests/common/scripttest.h"
#include "utility/qvrscriptengine/qvrscriptglobals.h"
#include "utility/qvrscriptengine/qvrscriptapi.h"
#include "utility/qvrscriptengine/qvrscriptargs.h"

namespace {

// The script host itself: chunks, registrations, errors.
class Engine : public testutil::ScriptTest {};

TEST_F(Engine, DoResLuaFailures) {
    QVRScriptEngine& engine = QVRScriptEngine::Instance();
    EXPECT_FALSE(engine.DoResLua(L"LUA", L"MISSING.LUAC"));
    ASSERT_EQ(Lines().size(), 4u);
    EXPECT_EQ(Lines()[0], L"vq LoadResource failed. Type : LUA ID : MISSING.LUAC\r\n");
    // The source file as the project names it, not where the build machine kept it.
    EXPECT_EQ(Lines()[1], L"vq vq file:utility/qvrscriptengine/qvrscriptengine.cpp\r\n");
    EXPECT_EQ(Lines()[3].rfind(L"vq vq err:", 0), 0u);

    ClearLines();
    EXPECT_FALSE(engine.DoResLua(L"LUA", L"EMPTY.LUAC"));
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Lines()[0], L"vq ResSize == 0\r\n");

    ClearLines();
    EXPECT_FALSE(engine.DoResLua(L"LUA", L"SYNTAX.LUAC"));
    ASSERT_EQ(Lines().size(), 2u);
    EXPECT_EQ(Lines()[0].rfind(L"vq [string \"SYNTAX.LUAC\"]:1:", 0), 0u) << Lines()[0];
    EXPECT_EQ(Lines()[1], L"vq luaL_loadbuffer failed!\r\n");

    ClearLines();
    EXPECT_TRUE(engine.DoResLua(L"LUA", L"GOOD.LUAC"));
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(scriptglobals::GetInt(L, "qvr_good_chunk"), 42);
}

TEST_F(Engine, BadBytecodeHeaderIsALoadFailure) {
    const char bogus[] = "\x1bLua\x52\x00\x01\x04\x08\x04\x08\x00";  // 8-byte size_t: a 64-bit host's dump
    EXPECT_FALSE(QVRScriptEngine::Instance().DoBuffer(bogus, sizeof bogus - 1, "bogus"));
    ASSERT_EQ(Lines().size(), 2u);
    EXPECT_EQ(Lines()[1], L"vq luaL_loadbuffer failed!\r\n");
}

TEST_F(Engine, RegistersLibrariesTypesAndFunctions) {
    ASSERT_TRUE(Run(
        "assert(_G and package and coroutine and table and io and os and string and bit32 and math and debug)\n"
        "for _, m in ipairs{'AString','WString','RawBuffer','DllManager'} do\n"
        "  assert(type(_G[m]) == 'table', m) assert(package.loaded[m] == _G[m], m)\n"
        "end\n"
        "assert(type(debug.getregistry()._PRELOAD) == 'table')\n"
        "assert(next(debug.getregistry()._PRELOAD) == nil)\n"
        "assert(getmetatable(GLibTab) == debug.getregistry().GlobalLibTableMetaTable)\n"
        "local n = 0 for k, v in pairs(_G) do if k:sub(1, 4) == 'Lua_' then n = n + 1 assert(type(v) == 'function') end end\n"
        "qvr_native_count = n\n"));
    EXPECT_EQ(scriptglobals::GetInt(L, "qvr_native_count"), 41);
    int listed = 0;
    for (const luaL_Reg* f = kScriptApiFunctions; f->name; ++f) ++listed;
    EXPECT_EQ(listed, 41);
    EXPECT_STREQ(kScriptApiFunctions[0].name, "Lua_UnCompress7z");
    EXPECT_STREQ(kScriptApiFunctions[40].name, "Lua_HttpPost");
}

TEST_F(Engine, EventsThatAreNotFunctionsAreSkipped) {
    ASSERT_TRUE(Run("qvr_calls = 0 QVRSE_Fn = function() qvr_calls = qvr_calls + 1 end QVRSE_Tab = {} QVRSE_Str = 'x'"));
    for (const char* name : {"QVRSE_Missing", "QVRSE_Tab", "QVRSE_Str", "QVRSE_Fn"}) QVRScriptEngine::CallEvent(L, name);
    EXPECT_EQ(scriptglobals::GetInt(L, "qvr_calls"), 1);
    EXPECT_TRUE(Lines().empty());
}

TEST_F(Engine, GlobalsReadInTheFixedShapes) {
    ASSERT_TRUE(Run("g_num = 12 g_str = '中文' g_bool = true g_numstr = '34' g_tab = {}"));
    struct Case {
        const char* name;
        std::wstring text;
        bool truth;
        int integer;
    };
    const Case cases[] = {
        {"g_num", L"12", true, 12},   {"g_str", L"中文", true, 0}, {"g_bool", L"", true, 0},
        {"g_numstr", L"34", true, 34}, {"g_tab", L"", true, 0},   {"g_missing", L"", false, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scriptglobals::GetText(L, c.name), c.text) << c.name;
        EXPECT_EQ(scriptglobals::GetBool(L, c.name), c.truth) << c.name;
        EXPECT_EQ(scriptglobals::GetInt(L, c.name), c.integer) << c.name;
    }
    scriptglobals::SetText(L, "g_out", L"路径\\x");
    scriptglobals::SetBool(L, "g_flag", true);
    ASSERT_TRUE(Run("assert(g_out == '路径\\\\x') assert(g_flag == true) assert(type(g_num) == 'number')"));
}

// Message handler that composes the error text without showing the box.
std::wstring g_errorText;
int CaptureError(lua_State* L) {
    g_errorText = QVRScriptEngine::ComposeErrorText(L);
    return 1;
}

TEST_F(Engine, ErrorTextCarriesMessageCallStackAndAppeal) {
    const char* code =
        "local function inner()\n"
        "  error('boom')\n"
        "end\n"
        "function qvr_outer()\n"
        "  inner()\n"
        "end\n";
    ASSERT_EQ(luaL_loadbuffer(L, code, strlen(code), "@stack.lua"), LUA_OK);
    lua_call(L, 0, 0);
    lua_pushcfunction(L, &CaptureError);
    lua_getglobal(L, "qvr_outer");
    EXPECT_NE(lua_pcall(L, 0, 0, -2), LUA_OK);
    lua_pop(L, 2);

    const std::wstring expected_head =
        L"stack.lua:2: boom\n"
        L"      <call stack>\n"
        L"-> | unknown : line -1 [=[C] : line -1]\n"
        L"--  | error() : line -1 [=[C] : line -1]\n"
        L"--  | inner() : line 2 [@stack.lua : line 1]\n"
        L"--  | unknown : line 5 [@stack.lua : line 4]\n";  // called from C: no name
    EXPECT_EQ(g_errorText.substr(0, expected_head.size()), expected_head) << testing::PrintToString(g_errorText);
    const std::wstring appeal = kScriptErrorAppeal;
    ASSERT_GE(g_errorText.size(), appeal.size());
    EXPECT_EQ(g_errorText.substr(g_errorText.size() - appeal.size()), appeal);
}

TEST_F(Engine, ErrorValueWithoutStringForm) {
    lua_pushcfunction(L, &CaptureError);
    ASSERT_EQ(luaL_loadstring(L, "error({})"), LUA_OK);
    EXPECT_NE(lua_pcall(L, 0, 0, -2), LUA_OK);
    lua_pop(L, 2);
    EXPECT_EQ(g_errorText.rfind(L"(error object is a table value)\n      <call stack>\n", 0), 0u)
        << testing::PrintToString(g_errorText);
}

TEST_F(Engine, ArgumentHelpersNeverRaise) {
    lua_pushnumber(L, 12.0);
    lua_pushstring(L, "  7");
    lua_pushboolean(L, 1);
    lua_newtable(L);
    lua_pushnumber(L, -1.0);
    lua_pushnumber(L, 4294967295.0);
    const int b = lua_gettop(L) - 5;
    EXPECT_EQ(qvrargs::Text(L, b), L"12");
    EXPECT_EQ(lua_type(L, b), LUA_TNUMBER) << "the argument is not converted in place";
    EXPECT_EQ(qvrargs::Int(L, b + 1), 7);
    EXPECT_EQ(qvrargs::Text(L, b + 2), L"");
    EXPECT_EQ(qvrargs::Int(L, b + 2), 0);
    EXPECT_EQ(qvrargs::Text(L, b + 3), L"");
    EXPECT_EQ(qvrargs::UInt(L, b + 4), 4294967295u);
    EXPECT_EQ(qvrargs::UInt(L, b + 5), 4294967295u);
    EXPECT_EQ(qvrargs::Int(L, b + 5), -1);
    EXPECT_EQ(qvrargs::Text(L, b + 40), L"");
    EXPECT_FALSE(qvrargs::Bool(L, b + 40));
    lua_settop(L, b - 1);
}

TEST_F(Engine, CallbackPassesPathsAndCodesAndRestoresTheStack) {
    ASSERT_TRUE(Run("function qvr_cb(p, c) qvr_cb_args = tostring(p) .. '|' .. tostring(c) return 3 end"));
    lua_getglobal(L, "qvr_cb");
    ScriptCallback cb(L, -1);
    lua_pop(L, 1);
    ASSERT_TRUE(static_cast<bool>(cb));
    EXPECT_EQ(cb.Call({CallbackArg::Path(L"C:\\目录\\a.txt"), CallbackArg::Number(0xFFFFFFFFu)}), 3);
    EXPECT_EQ(scriptglobals::GetText(L, "qvr_cb_args"), L"C:\\目录\\a.txt|4294967295");
    EXPECT_EQ(cb.Call({CallbackArg::Path(nullptr), CallbackArg::Number(5)}), 3);
    EXPECT_EQ(scriptglobals::GetText(L, "qvr_cb_args"), L"nil|5");
    lua_pushnil(L);
    ScriptCallback none(L, -1);
    lua_pop(L, 1);
    EXPECT_FALSE(static_cast<bool>(none));
}

// Numbers through the io library: io.write prints them as tostring does (two
// exponent digits, 14 significant ones), io.read("*n") reads decimal numbers
// back and gives nil where none starts.
TEST_F(Engine, IoLibraryWritesAndReadsNumbers) {
    ASSERT_TRUE(Run(
        "local path = os.getenv('TEMP') .. '\\\\qvr_io_numbers.txt'\n"
        "local f = assert(io.open(path, 'w'))\n"
        "local values = {1e20, 0.1, -3, 2^53, 1/3, 123456789012, -2.5e-7}\n"
        "for i, v in ipairs(values) do f:write(v, i < #values and ' ' or '\\n') end\n"
        "f:write('  12.5\\n-3e2\\t7 +4.25E+01 .5 abc')\n"
        "f:close()\n"
        "f = assert(io.open(path, 'r'))\n"
        "local written = f:read('*l')\n"
        "local expected = {}\n"
        "for i, v in ipairs(values) do expected[i] = tostring(v) end\n"
        "assert(written == table.concat(expected, ' '), written)\n"
        "assert(written == '1e+20 0.1 -3 9.007199254741e+15 0.33333333333333 123456789012 -2.5e-07', written)\n"
        "local a, b, c, d, e = f:read('*n', '*n', '*n', '*n', '*n')\n"
        "assert(a == 12.5 and b == -300 and c == 7 and d == 42.5 and e == 0.5, tostring(a)..' '..tostring(b)..' '..tostring(c)..' '..tostring(d)..' '..tostring(e))\n"
        "assert(f:read('*n') == nil)\n"
        "assert(f:read('*a') == 'abc')\n"
        "f:close()\n"
        "os.remove(path)\n"
        "qvr_io_numbers_ok = 1\n"));
    EXPECT_EQ(scriptglobals::GetInt(L, "qvr_io_numbers_ok"), 1);
}

}  // namespace
