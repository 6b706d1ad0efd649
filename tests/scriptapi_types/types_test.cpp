// AString, WString, RawBuffer, DllManager and GLibTab as scripts see them.
// Each behaviour is a table of {script body, description of its results}.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/scriptcase.h"
#include "tests/common/testutil.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace {

using Case = testutil::ScriptCase;
using testutil::RunCases;

std::wstring CallTarget() { return testutil::ExeDir() + L"\\qvrcalltarget.dll"; }

class ValueTypes : public testing::Test {
protected:
    void SetUp() override {
        L = QVRScriptEngine::Instance().GetState();
        ASSERT_NE(L, nullptr);
        top_ = lua_gettop(L);
        testutil::SetScriptGlobal("CALLTARGET", CallTarget());
    }
    void TearDown() override { EXPECT_EQ(lua_gettop(L), top_) << "the stack is left as it was found"; }

    lua_State* L = nullptr;
    int top_ = 0;
};

// Text in the tables is UTF-8; AString contents are in code page 936 (the
// tests run with the zh_CN locale), so 中文 is four bytes there.
TEST_F(ValueTypes, AString) {
    ASSERT_EQ(::GetACP(), 936u);
    RunCases({
        {"return AString.New(nil, 'abc')", R"(AString("abc"/4))"},
        {"return #AString.New(nil, 'abc')", "3"},
        {"local a = AString.New(nil, 'abc') return a[0], a[2], a[3], a[-1]", R"("a", "c", "", nil)"},
        {"local a = AString.New(nil, 'abc') return a[4], a[1e6], a[1.5], a['x']", R"(nil, nil, "c", "a")"},
        {"return AString.New(260)", R"(AString(""/260))"},
        {"return AString.New(0), AString.New(-3), AString.New(), AString.New('x'), AString.New({})",
         "nil, nil, nil, nil, nil"},
        {"return AString.New('6')", R"(AString(""/6))"},
        // The capacity holds the text and its terminator: equal to the length is raised by one.
        {"return AString.New(3, 'abc'), AString.New(8, 'abc'), AString.New(0, nil), AString.New(-1, 'ab')",
         R"(AString("abc"/4), AString("abc"/8), AString(""/1), AString("ab"/3))"},
        {"return AString.New(nil, 12.5), AString.New(nil, {}), AString.New(nil, true)",
         R"(AString("12.5"/5), AString(""/1), AString(""/1))"},
        {"local a = AString.New(nil, '中文') return a, #a", R"(AString("中文"/5), 4)"},
        {"return AString.New(nil, WString.New(nil, '中文'))", R"(AString("中文"/5))"},
        // Assignment replaces one byte inside the text, never the first, never growing it.
        {"local a = AString.New(nil, 'abc') a[1] = 'XY' a[0] = 'Z' a[3] = 'd' a[2] = '' a[-1] = 'q' return a",
         R"(AString("aXc"/4))"},
        {"local a = AString.New(nil, 'abc') a[2] = 7 return tostring(a)", R"("ab7")"},
        {"local a = AString.New(10) a[1] = 'x' return a, #a", R"(AString(""/10), 0)"},
        // Concatenation: the type of the first text object from the left, capacity length + 1.
        {"return AString.New(nil, 'ab') .. 'cd'", R"(AString("abcd"/5))"},
        {"return 'cd' .. AString.New(nil, 'ab')", R"(AString("cdab"/5))"},
        {"return AString.New(nil, 'ab') .. WString.New(nil, '中')", R"(AString("ab中"/5))"},
        {"return 1 .. AString.New(nil, 'x')", R"(AString("1x"/3))"},
        {"return AString.New(8, 'ab') .. AString.New(9)", R"(AString("ab"/3))"},
        {"local a, b = AString.New(nil, 'ab'), AString.New(5, 'ab')\n"
         "return a == b, a == AString.New(nil, 'ac'), a == WString.New(nil, 'ab'), a == 'ab', a ~= b",
         "true, false, false, false, false"},
    });
}

TEST_F(ValueTypes, WString) {
    RunCases({
        {"return WString.New(10), #WString.New(10)", R"(WString(""/10), 0)"},
        {"local w = WString.New(10) w[1] = 'x' return w", R"(WString(""/10))"},
        {"local w = WString.New(nil, 'héllo') w[1] = 'a' w[0] = 'j' return tostring(w), #w", R"("hallo", 5)"},
        {"return WString.New(0), WString.New(), WString.New(-1), WString.New(2^40)", "nil, nil, nil, nil"},
        {"local w = WString.New(nil, '中文') return w, #w, w[0], w[1], w[2], w[3], w[-1]",
         R"(WString("中文"/3), 2, "中", "文", "", nil, nil)"},
        {"return WString.New(2, 'ab'), WString.New(5, 'ab'), WString.New(nil, 7)",
         R"(WString("ab"/3), WString("ab"/5), WString("7"/2))"},
        {"return WString.New(nil, AString.New(nil, '中文'))", R"(WString("中文"/3))"},
        {"local w = WString.New(nil, 'abc') w[2] = '文字' w[3] = 'x' return w", R"(WString("ab文"/4))"},
        {"return 'cd' .. WString.New(nil, 'ab')", R"(WString("cdab"/5))"},
        {"return WString.New(nil, '宽') .. AString.New(nil, '中')", R"(WString("宽中"/3))"},
        {"return WString.New(nil, 'ab') == WString.New(9, 'ab'), WString.New(nil, 'ab') == WString.New(nil, 'aB')",
         "true, false"},
    });
}

TEST_F(ValueTypes, RawBufferAccessors) {
    RunCases({
        {"return RawBuffer.New(0), RawBuffer.New('x'), RawBuffer.New(), RawBuffer.New(-1)", "nil, nil, nil, nil"},
        {"return RawBuffer.New(4), RawBuffer.New('16')", "RawBuffer(4), RawBuffer(16)"},
        {"local b = RawBuffer.New(4) b:OffsetSetAsUInt32(0, 4294967295)\n"
         "return b:OffsetGetAsUInt32(0), b:OffsetGetAsInt32(0), b:OffsetGetAsInt16(0), b:OffsetGetAsUInt16(2),\n"
         "  b:OffsetGetAsInt8(0), b:OffsetGetAsUInt8(3), b:OffsetGetAsBoolean(0)",
         "4294967295, -1, -1, 65535, -1, 255, true"},
        // Little-endian at any alignment.
        {"local b = RawBuffer.New(8) b:OffsetSetAsUInt32(1, 0x01020304)\n"
         "return b:OffsetGetAsUInt8(1), b:OffsetGetAsUInt8(4), b:OffsetGetAsUInt16(2), b:OffsetGetAsUInt32(0)",
         "4, 1, 515, 33752064"},
        {"local b = RawBuffer.New(4) b:OffsetSetAsInt8(0, 300) b:OffsetSetAsInt16(2, -2)\n"
         "return b:OffsetGetAsUInt8(0), b:OffsetGetAsUInt16(2), b:OffsetGetAsInt16(2)",
         "44, 65534, -2"},
        {"local b = RawBuffer.New(12) b:OffsetSetAsBoolean(0, 'x') b:OffsetSetAsBoolean(4, false)\n"
         "b:OffsetSetAsUInt32(8, 256)\n"
         "return b:OffsetGetAsUInt32(0), b:OffsetGetAsUInt32(4), b:OffsetGetAsBoolean(0), b:OffsetGetAsBoolean(4),\n"
         "  b:OffsetGetAsBoolean(8)",
         "1, 0, true, false, true"},
        // A pointer getter gives the address of the byte, not a value read from it.
        {"local b, c = RawBuffer.New(8), RawBuffer.New(12)\n"
         "c:OffsetSetAsPointer(0, b) c:OffsetSetAsPointer(4, b:OffsetGetAsPointer(3)) c:OffsetSetAsPointer(8, 'text')\n"
         "return c:OffsetGetAsUInt32(4) - c:OffsetGetAsUInt32(0), c:OffsetGetAsUInt32(8),\n"
         "  b:OffsetGetAsPointer(3) == b:OffsetGetAsPointer(3)",
         "3, 0, true"},
        // Text setters copy the object's whole block, getters read up to the terminator.
        {"local b = RawBuffer.New(16)\n"
         "b:OffsetSetAsWString(0, WString.New(nil, '宽x')) b:OffsetSetAsAString(8, AString.New(nil, '中文'))\n"
         "return b:OffsetGetAsWString(0), b:OffsetGetAsAString(8), b:OffsetGetAsUInt16(4), b:OffsetGetAsUInt8(12)",
         R"("宽x", "中文", 0, 0)"},
        {"local b = RawBuffer.New(8) b:OffsetSetAsAString(0, WString.New(4, 'ab')) return b:OffsetGetAsWString(0)",
         R"("ab")"},
        // A missing offset is offset 0; offsets are rounded like values.
        {"local b = RawBuffer.New(4) b:OffsetSetAsUInt8(1.5, 9) b:OffsetSetAsUInt8(nil, 7)\n"
         "return b:OffsetGetAsUInt8(), b:OffsetGetAsUInt8(nil), b:OffsetGetAsUInt8(2), b:OffsetGetAsUInt8('2')",
         "7, 7, 9, 9"},
    });
}

// Setters convert by rounding to the nearest integer, ties to even.
TEST_F(ValueTypes, RawBufferSettersRoundToEven) {
    const std::vector<std::pair<std::string, std::string>> values = {
        {"2.5", "2"},   {"3.5", "4"},     {"-2.5", "-2"},  {"0.5", "0"},  {"1.5", "2"},        {"2.4999", "2"},
        {"2.6", "3"},   {"-1", "-1"},     {"'7'", "7"},    {"' 8 '", "8"}, {"'4.5'", "4"},     {"'x'", "0"},
        {"nil", "0"},   {"true", "0"},    {"{}", "0"},     {"2^31", "-2147483648"}, {"4294967295", "-1"},
    };
    std::vector<Case> cases;
    for (const auto& v : values)
        cases.push_back({"local b = RawBuffer.New(4) b:OffsetSetAsInt32(0, " + v.first + ") return b:OffsetGetAsInt32(0)",
                         v.second});
    cases.push_back({"local b = RawBuffer.New(4) b:OffsetSetAsUInt32(0, 4294967294.5) return b:OffsetGetAsUInt32(0)",
                     "4294967294"});
    cases.push_back({"local b = RawBuffer.New(4) b:OffsetSetAsUInt16(0, 65534.5) return b:OffsetGetAsUInt16(0)",
                     "65534"});
    RunCases(cases);
}

// Accesses outside the block: reads give nil, writes change nothing, texts
// without a terminator end with the block.
TEST_F(ValueTypes, RawBufferBoundsAreChecked) {
    RunCases({
        {"local b = RawBuffer.New(4)\n"
         "return b:OffsetGetAsInt32(1), b:OffsetGetAsInt32(-1), b:OffsetGetAsUInt16(3), b:OffsetGetAsUInt8(4),\n"
         "  b:OffsetGetAsPointer(4), b:OffsetGetAsBoolean(2), b:OffsetGetAsUInt8(3), b:OffsetGetAsInt32(2^32)",
         "nil, nil, nil, nil, nil, nil, 0, 0"},
        {"local b = RawBuffer.New(4) b:OffsetSetAsUInt32(0, 0x11223344)\n"
         "b:OffsetSetAsInt32(1, -1) b:OffsetSetAsInt16(3, -1) b:OffsetSetAsUInt8(4, 255) b:OffsetSetAsUInt8(-1, 255)\n"
         "b:OffsetSetAsBoolean(2, true) b:OffsetSetAsPointer(1, b) b:OffsetSetAsInt32(2^31, 0)\n"
         "b:OffsetSetAsWString(0, WString.New(nil, 'abc')) b:OffsetSetAsAString(2, AString.New(nil, 'abc'))\n"
         "b:OffsetSetAsAString(0, 'abcdefgh')\n"
         "return b:OffsetGetAsUInt32(0)",
         "287454020"},
        {"local b = RawBuffer.New(4) b:OffsetSetAsUInt32(0, 0x64636261)\n"
         "return b:OffsetGetAsAString(0), b:OffsetGetAsAString(2), b:OffsetGetAsAString(4)",
         R"("abcd", "cd", nil)"},
        {"local b = RawBuffer.New(4) b:OffsetSetAsUInt32(0, 0x4E2D0061)\n"
         "return b:OffsetGetAsWString(0), b:OffsetGetAsWString(2), b:OffsetGetAsWString(3), b:OffsetGetAsAString(0)",
         R"("a中", "中", nil, "a")"},
        // The accessors work on RawBuffer objects only.
        {"local m = debug.getregistry().RawBufferMetaTable local a = AString.New(8, 'abcdefg')\n"
         "m.OffsetSetAsUInt8(a, 0, 65) m.OffsetSetAsAString(a, 0, AString.New(nil, 'xy'))\n"
         "return m.OffsetGetAsUInt8(a, 0), tostring(a), m.OffsetGetAsUInt8(io.stdout, 0)",
         R"(nil, "abcdefg", nil)"},
    });
}

// Stubs of every arity, both conventions, with and without callerPops.
TEST_F(ValueTypes, StubsPassArgumentsInOrder) {
    std::vector<Case> cases;
    for (int n = 0; n <= 8; ++n) {
        std::string args, digits;
        for (int i = 1; i <= n; ++i) {
            args += (i > 1 ? ", " : "") + std::to_string(i);
            digits += std::to_string(i);
        }
        if (digits.empty()) digits = "0";
        const std::string load = "local dll = DllManager.Load(CALLTARGET) ";
        cases.push_back({load + "return dll:Get('Std" + std::to_string(n) + "', 'int')(" + args + ")",
                         digits + ", " + std::to_string(1000 + n)});
        cases.push_back({load + "return dll:Get('Cdecl" + std::to_string(n) + "', 'int', true)(" + args + ")",
                         digits + ", " + std::to_string(2000 + n)});
    }
    RunCases(cases);
}

// The stack stays balanced whatever the script claims about the convention or
// the argument count: 40000 unbalanced calls of 32 bytes would need more than
// the whole 1 MiB stack.
TEST_F(ValueTypes, StubsKeepTheStackWhateverTheConvention) {
    RunCases({
        {"local f = DllManager.Load(CALLTARGET):Get('Cdecl8', 'int')\n"
         "local r for i = 1, 40000 do r = f(1, 2, 3, 4, 5, 6, 7, 8) end return r",
         "12345678"},
        {"local f = DllManager.Load(CALLTARGET):Get('Std8', 'int', true)\n"
         "local r for i = 1, 40000 do r = f(1, 2, 3, 4, 5, 6, 7, 8) end return r",
         "12345678"},
        {"local dll = DllManager.Load(CALLTARGET)\n"
         "local f, g = dll:Get('Std2', 'int'), dll:Get('Std8', 'int')\n"
         "local r = f(1, 2, 3, 4, 5) local t = type(g(1)) local s = type(g())\n"
         "return r, t, s, (f(4, 5))",
         R"(12, "number", "number", 45)"},
        // A float result is dropped from the x87 stack: later arithmetic still works.
        {"local d = DllManager.Load(CALLTARGET):Get('ReturnsDouble', 'int')\n"
         "for i = 1, 20 do d() end return 1.5 * 3, math.sqrt(16) + 0.25",
         "4.5, 4.25"},
    });
}

TEST_F(ValueTypes, StubArgumentWords) {
    RunCases({
        {"local w = DllManager.Load(CALLTARGET):Get('Word', 'uint')\n"
         "return (w(nil)), (w(true)), (w(false)), (w(2.5)), (w(3.5)), (w(-1)), (w(4294967295)), (w('7') ~= 7)",
         "0, 1, 0, 2, 4, 4294967295, 4294967295, true"},
        {"local s = DllManager.Load(CALLTARGET):Get('StrLenA', 'int')\n"
         "return (s('hello')), (s('中文')), (s(AString.New(nil, 'abc'))), (s(nil))",
         "5, 6, 3, -1"},
        {"local r = DllManager.Load(CALLTARGET):Get('ReadU32', 'uint') local b = RawBuffer.New(4)\n"
         "b:OffsetSetAsUInt32(0, 77) return (r(b)), (r(b:OffsetGetAsPointer(0)))",
         "77, 77"},
        // A DllManager passes the address of its block, which holds the module handle.
        {"local dll = DllManager.Load(CALLTARGET) local r = dll:Get('ReadU32', 'uint')\n"
         "local gmh = GLibTab.kernel32:Get('GetModuleHandleW', 'uint')\n"
         "return r(dll) == gmh(WString.New(nil, CALLTARGET)), r(dll) ~= 0",
         "true, true"},
        {"local w2 = DllManager.Load(CALLTARGET):Get('Word2', 'uint') return (w2(1, 2.5)), (w2(nil, -2))",
         "2, 4294967294"},
    });
}

TEST_F(ValueTypes, StubResultKinds) {
    RunCases({
        {"local dll = DllManager.Load(CALLTARGET)\n"
         "return (dll:Get('MinusOne', 'int')()), (dll:Get('MinusOne', 'uint')()), (dll:Get('MinusOne', 'bool')()),\n"
         "  (dll:Get('Zero', 'bool')())",
         "-1, 4294967295, true, false"},
        {"local dll = DllManager.Load(CALLTARGET)\n"
         "return (dll:Get('AnsiText', 'astr')()), (dll:Get('NullText', 'astr')()), (dll:Get('WideText', 'wstr')()),\n"
         "  (dll:Get('NullText', 'wstr')())",
         R"("abc中文", "", "宽字符", "")"},
        {"local dll = DllManager.Load(CALLTARGET) local b = RawBuffer.New(4) local p = b:OffsetGetAsPointer(0)\n"
         "local q = dll:Get('EchoPtr', 'ptr')(p) local z = dll:Get('NullText', 'ptr')()\n"
         "return q == p, type(q), z == nil, z",
         R"(true, "userdata", false, ptr)"},
        // No kind, an unknown kind or one of another letter case: nil.
        {"local dll = DllManager.Load(CALLTARGET)\n"
         "return (dll:Get('MinusOne', 'Int')()), (dll:Get('MinusOne')()), (dll:Get('MinusOne', 5)()), "
         "(dll:Get('MinusOne', nil, true)())",
         "nil, nil, nil, nil"},
        // The second result is the last error, read right after the call.
        {"return DllManager.Load(CALLTARGET):Get('FailWith')(5)", "nil, 5"},
        {"return DllManager.Load(CALLTARGET):Get('FailWith', 'bool')(4294967295)", "false, 4294967295"},
    });
}

TEST_F(ValueTypes, StubOutParameters) {
    RunCases({
        {"local b = RawBuffer.New(4) local ok, err = DllManager.Load(CALLTARGET):Get('FillOut', 'bool')(b, 4294967295)\n"
         "return ok, err, b:OffsetGetAsUInt32(0), b:OffsetGetAsInt32(0), b:OffsetGetAsInt8(0), b:OffsetGetAsUInt8(0)",
         "true, 0, 4294967295, -1, -1, 255"},
        {"local a = AString.New(16) local n = DllManager.Load(CALLTARGET):Get('WriteAnsi', 'int')(a, 16)\n"
         "return n, a, #a",
         R"(3, AString("xyz"/16), 3)"},
        {"local w = WString.New(8) DllManager.Load(CALLTARGET):Get('WriteWide', 'int')(w, 8) return w, #w",
         R"(WString("宽xyz"/8), 4)"},
        // A DLL that fills the whole block leaves no terminator: the text ends with the block.
        {"local w = WString.New(nil, 'abc') DllManager.Load(CALLTARGET):Get('FillWide')(w, 4)\n"
         "return #w, tostring(w), w[3], w[4], w .. ''",
         R"(4, "wwww", "w", nil, WString("wwww"/5))"},
        {"local a = AString.New(3) DllManager.Load(CALLTARGET):Get('FillAnsi', nil, true)(a, 3)\n"
         "return #a, tostring(a), a .. '', a == AString.New(nil, 'aaa')",
         R"(3, "aaa", AString("aaa"/4), true)"},
    });
}

TEST_F(ValueTypes, LoadAndGetFailures) {
    testutil::DebugLines debug;
    RunCases({
        {"return DllManager.Load(CALLTARGET):Get('NoSuchExport', 'int')", "nil, 127"},
        {"return DllManager.Load(CALLTARGET):Get()", "nil, 127"},
        {"return DllManager.Load('qvr_no_such_library.dll')", "nil, 126"},
        {"return DllManager:Load(CALLTARGET), DllManager.Load()", "DllManager, nil, 126"},
        {"return debug.getregistry().DllManagerMetaTable.Get(RawBuffer.New(4), 'Std0')", R"(nil, "hModule is nil")"},
        // A stub whose export address is missing answers 0.
        {"local f = DllManager.Load(CALLTARGET):Get('Std0', 'int') debug.setupvalue(f, 3, nil) return f()", "0"},
    });
    EXPECT_EQ(debug.Count(L"vq if (nullptr == phMod)"), 1);
}

// Tables, functions and threads cannot be passed: the one script error a
// native function raises. It unwinds cleanly; the state stays usable.
TEST_F(ValueTypes, UnknownArgumentTypeIsAScriptError) {
    for (const char* arg : {"{}", "print", "coroutine.create(print)"}) {
        const std::string code = "local w = DllManager.Load(CALLTARGET):Get('Word', 'uint') return w(1, " +
                                 std::string(arg) + ")";
        ASSERT_EQ(luaL_loadstring(L, code.c_str()), LUA_OK);
        EXPECT_EQ(lua_pcall(L, 0, LUA_MULTRET, 0), LUA_ERRRUN) << arg;
        // luaL_error puts the calling script's position in front.
        const std::string message = lua_tostring(L, -1);
        EXPECT_EQ(message, "[string \"local w = DllManager.Load(CALLTARGET):Get('Wo...\"]:1: unknow argument type")
            << arg;
        lua_settop(L, top_);
    }
    EXPECT_EQ(testutil::Describe("return DllManager.Load(CALLTARGET):Get('Std1', 'int')(7)"), "7, 1001");
}

class DllCache : public ValueTypes {
protected:
    void SetUp() override {
        ValueTypes::SetUp();
        dir_ = testutil::MakeTempDir(L"glibtab");
        ASSERT_FALSE(dir_.empty());
        // A copy under its own name: no other test holds it loaded.
        probe_ = dir_ + L"\\qvrprobe.dll";
        ASSERT_TRUE(::CopyFileW(CallTarget().c_str(), probe_.c_str(), FALSE));
        testutil::SetScriptGlobal("PROBE", probe_);
        ASSERT_TRUE(testutil::RunScript(
            "local gmh = GLibTab.kernel32:Get('GetModuleHandleW', 'uint')\n"
            "function probe_loaded() return gmh(WString.New(nil, PROBE)) ~= 0 end"));
    }
    void TearDown() override {
        ValueTypes::TearDown();
        EXPECT_EQ(::GetModuleHandleW(probe_.c_str()), nullptr) << "the probe is left loaded";
        testutil::RemoveTree(dir_);
    }
    std::wstring dir_, probe_;
};

TEST_F(DllCache, GLibTabLoadsOncePerKey) {
    RunCases({
        {"local k1, k2, K = GLibTab.kernel32, GLibTab.kernel32, GLibTab.Kernel32\n"
         "return k1, rawequal(k1, k2), rawequal(rawget(GLibTab, 'kernel32'), k1), rawequal(K, k1),\n"
         "  rawget(GLibTab, 'Kernel32') ~= nil",
         "DllManager, true, true, false, true"},
        {"return GLibTab.qvr_no_such_library, rawget(GLibTab, 'qvr_no_such_library'), GLibTab[true], GLibTab[{}]",
         "nil, nil, nil, nil"},
        // Two reads of one key load the DLL once: one UnLoad unloads it.
        {"local before = probe_loaded() local a, b = GLibTab[PROBE], GLibTab[PROBE]\n"
         "local loaded = probe_loaded() a:UnLoad() local after = probe_loaded() GLibTab[PROBE] = nil\n"
         "return before, rawequal(a, b), loaded, after, rawget(GLibTab, PROBE)",
         "false, true, true, false, nil"},
        // A key of another letter case is another entry and another load.
        {"local a, b = GLibTab[PROBE], GLibTab[PROBE:upper()]\n"
         "local two = not rawequal(a, b) a:UnLoad() local one = probe_loaded() b:UnLoad()\n"
         "GLibTab[PROBE], GLibTab[PROBE:upper()] = nil, nil\n"
         "return two, one, probe_loaded()",
         "true, true, false"},
        // Clearing the field forgets the object: the next read loads again.
        {"local a = GLibTab[PROBE] GLibTab[PROBE] = nil local b = GLibTab[PROBE]\n"
         "local different = not rawequal(a, b) a:UnLoad() local still = probe_loaded() b:UnLoad() GLibTab[PROBE] = nil\n"
         "return different, still, probe_loaded()",
         "true, true, false"},
    });
}

// UnLoad frees the object's own reference once; a second UnLoad of the same
// object must not drop a reference another holder owns. Get refuses a freed
// object.
TEST_F(DllCache, UnLoadFreesOncePerObject) {
    RunCases({
        {"local d1, d2 = DllManager.Load(PROBE), DllManager.Load(PROBE)\n"
         "local r = d1:UnLoad() d1:UnLoad() local still = probe_loaded() local f, e = d1:Get('Std0')\n"
         "d2:UnLoad() return r, still, f, e, probe_loaded()",
         R"(nil, true, nil, "hModule is nil", false)"},
        {"local d = DllManager.Load(PROBE) local f = d:Get('Std1', 'int') local r = f(4) d:UnLoad()\n"
         "return r, probe_loaded(), d:UnLoad(), DllManager.Load(PROBE):UnLoad()",
         "4, false, nil, nil"},
    });
}

// Reads the machine field of a PE file's header.
WORD Machine(const std::wstring& path) {
    std::string bytes;
    if (!testutil::ReadFileBytes(path, bytes) || bytes.size() < 0x40) return 0;
    const DWORD peOffset = *reinterpret_cast<const DWORD*>(&bytes[0x3C]);
    if (bytes.size() < peOffset + 6) return 0;
    return *reinterpret_cast<const WORD*>(&bytes[peOffset + 4]);
}

// The install script turns file-system redirection off around its work on a
// 64-bit system and back on afterwards, through GLibTab.kernel32.
TEST_F(ValueTypes, Wow64RedirectionPairAsTheInstallScriptUsesIt) {
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    if (!wow64) GTEST_SKIP() << "not a WoW64 process";
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring kernel32 = std::wstring(system) + L"\\kernel32.dll";
    ASSERT_EQ(Machine(kernel32), IMAGE_FILE_MACHINE_I386);

    ASSERT_TRUE(testutil::RunScript(
        "local disable = GLibTab.kernel32:Get('Wow64DisableWow64FsRedirection', 'int')\n"
        "qvr_fs_old = RawBuffer.New(4)\n"
        "qvr_fs_disabled = disable(qvr_fs_old)\n"));
    const WORD disabled = Machine(kernel32);
    ASSERT_TRUE(testutil::RunScript(
        "local revert = GLibTab.kernel32:Get('Wow64RevertWow64FsRedirection', 'int')\n"
        "qvr_fs_reverted = revert(qvr_fs_old:OffsetGetAsUInt32(0))\n"));
    EXPECT_EQ(disabled, IMAGE_FILE_MACHINE_AMD64) << "system32 shows the 64-bit files while redirection is off";
    EXPECT_EQ(Machine(kernel32), IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(testutil::Describe("return qvr_fs_disabled, qvr_fs_reverted"), "1, 1");
}

}  // namespace
