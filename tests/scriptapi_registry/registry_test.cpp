// The registry functions and COM registration as scripts call them, on the
// Wine prefix's registry. Each behaviour is a table of {script body, expected
// results}; K is a key of this test run under HKCU\Software\QvrTest.
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

// --- script-visible helpers that look at the registry directly -------------

std::wstring Arg(lua_State* L, int idx) {
    size_t len = 0;
    const char* s = lua_tolstring(L, idx, &len);
    return s ? testutil::Utf8ToWide(std::string(s, len)) : std::wstring();
}

HKEY Root(const std::wstring& name) {
    if (name == L"HKCU") return HKEY_CURRENT_USER;
    if (name == L"HKLM") return HKEY_LOCAL_MACHINE;
    if (name == L"HKCR") return HKEY_CLASSES_ROOT;
    return nullptr;
}

// (root, subkey [, view64]) -> opened key or null. view64 reads the 64-bit view.
HKEY Open(lua_State* L, REGSAM access) {
    HKEY key = nullptr;
    const REGSAM view = lua_toboolean(L, 4) ? KEY_WOW64_64KEY : 0;
    if (::RegOpenKeyExW(Root(Arg(L, 1)), Arg(L, 2).c_str(), 0, access | view, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

// t_regraw(root, subkey, name [, view64]) -> type, hex bytes | nil
int RegRaw(lua_State* L) {
    HKEY key = Open(L, KEY_QUERY_VALUE);
    if (!key) return 0;
    DWORD type = 0, size = 0;
    const std::wstring name = Arg(L, 3);
    std::string hex;
    bool found = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    if (found) {
        std::vector<BYTE> data(size + 1);
        ::RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
        for (DWORD i = 0; i < size; ++i) {
            char b[3];
            std::snprintf(b, sizeof b, "%02X", data[i]);
            hex += b;
        }
    }
    ::RegCloseKey(key);
    if (!found) return 0;
    lua_pushnumber(L, type);
    lua_pushlstring(L, hex.data(), hex.size());
    return 2;
}

// t_regkey(root, subkey [, view64]) -> whether the key exists
int RegKey(lua_State* L) {
    lua_settop(L, 3);
    lua_pushnil(L);
    lua_insert(L, 3);  // view flag to position 4
    HKEY key = Open(L, KEY_QUERY_VALUE);
    if (key) ::RegCloseKey(key);
    lua_pushboolean(L, key != nullptr);
    return 1;
}

// t_regset(root, subkey, name, type, text): a text value of REG_EXPAND_SZ (2)
// or REG_MULTI_SZ (7, the text's '|' separating the strings).
int RegSet(lua_State* L) {
    HKEY key = nullptr;
    ::RegCreateKeyExW(Root(Arg(L, 1)), Arg(L, 2).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    const DWORD type = static_cast<DWORD>(lua_tonumber(L, 4));
    std::wstring text = Arg(L, 5);
    if (type == REG_MULTI_SZ) {
        for (wchar_t& c : text)
            if (c == L'|') c = L'\0';
        text += L'\0';
    }
    const bool ok = key && ::RegSetValueExW(key, Arg(L, 3).c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    if (key) ::RegCloseKey(key);
    lua_pushboolean(L, ok);
    return 1;
}

std::wstring RunKey() { return L"Software\\QvrTest\\values_" + std::to_wstring(::GetCurrentProcessId()); }

class Registry : public testing::Test {
protected:
    void SetUp() override {
        L = QVRScriptEngine::Instance().GetState();
        ASSERT_NE(L, nullptr);
        top_ = lua_gettop(L);
        lua_register(L, "t_regraw", RegRaw);
        lua_register(L, "t_regkey", RegKey);
        lua_register(L, "t_regset", RegSet);
        key_ = RunKey();
        testutil::SetScriptGlobal("K", key_);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
        EXPECT_EQ(lua_gettop(L), top_) << "the stack is left as it was found";
    }

    lua_State* L = nullptr;
    int top_ = 0;
    std::wstring key_;
};

TEST_F(Registry, AddStoresEachType) {
    wchar_t temp[MAX_PATH] = {};
    ::ExpandEnvironmentStringsW(L"%TEMP%\\x", temp, MAX_PATH);
    testutil::SetScriptGlobal("TEMPX", temp);
    RunCases({
        {"return Lua_RegAdd('HKCU', K, 'dw', 'REG_DWORD', 1, true), t_regraw('HKCU', K, 'dw')", R"(true, 4, "01000000")"},
        {"Lua_RegAdd('HKCU', K, 'max', 'REG_DWORD', 4294967295, true) Lua_RegAdd('HKCU', K, 'neg', 'REG_DWORD', -1, true)\n"
         "return Lua_RegQuery('HKCU', K, 'max'), Lua_RegQuery('HKCU', K, 'neg'), t_regraw('HKCU', K, 'max')",
         R"(4294967295, 4294967295, 4, "FFFFFFFF")"},
        {"Lua_RegAdd('HKCU', K, 'bin', 'REG_BINARY', '0A1B2', true)\n"
         "return Lua_RegQuery('HKCU', K, 'bin'), t_regraw('HKCU', K, 'bin')",
         R"(nil, 3, "0A1B02")"},
        // REG_SZ text is expanded; REG_EXPAND_SZ text is kept as written and stored as REG_SZ.
        {"Lua_RegAdd('HKCU', K, 'sz', 'REG_SZ', '%TEMP%\\\\x', true)\n"
         "return Lua_RegQuery('HKCU', K, 'sz') == TEMPX, (t_regraw('HKCU', K, 'sz'))",
         "true, 1"},
        {"Lua_RegAdd('HKCU', K, 'ex', 'REG_EXPAND_SZ', '%TEMP%\\\\x', true)\n"
         "return Lua_RegQuery('HKCU', K, 'ex'), t_regraw('HKCU', K, 'ex')",
         R"("%TEMP%\\x", 1, "2500540045004D00500025005C0078000000")"},
        {"Lua_RegAdd('HKCU', K, 'cn', 'REG_SZ', '中文', true) Lua_RegAdd('HKCU', K, 'empty', 'REG_SZ', '', true)\n"
         "return Lua_RegQuery('HKCU', K, 'cn'), Lua_RegQuery('HKCU', K, 'empty'), t_regraw('HKCU', K, 'empty')",
         R"("中文", "", 1, "0000")"},
        {"return Lua_RegAdd('HKCU', K, 'q', 'REG_QWORD', 1, true), Lua_RegAdd('HKCU', K, 'l', 'reg_sz', 'x', true),\n"
         "  t_regraw('HKCU', K, 'q'), t_regraw('HKCU', K, 'l')",
         "true, true, nil"},
    });
}

// REG_BINARY text: pairs of hexadecimal digits; an odd last digit alone; a
// pair without a digit repeats the byte before it.
TEST_F(Registry, BinaryText) {
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"0A1B2", "0A1B02"}, {"a", "0A"},   {"", ""},           {"ffxx", "FFFF"}, {"zz11", "0011"},
        {"1g2", "0102"},     {"7F", "7F"},  {"00ff10", "00FF10"}, {"Ab", "AB"},
    };
    std::vector<Case> cases;
    for (const auto& t : texts)
        cases.push_back({"Lua_RegAdd('HKCU', K, 'b', 'REG_BINARY', '" + t.first + "', true) return t_regraw('HKCU', K, 'b')",
                         "3, \"" + t.second + "\""});
    RunCases(cases);
}

TEST_F(Registry, OverwriteAndQuery) {
    RunCases({
        // overwrite nil or false keeps an existing value.
        {"Lua_RegAdd('HKCU', K, 'keep', 'REG_SZ', 'first', true)\n"
         "local r1 = Lua_RegAdd('HKCU', K, 'keep', 'REG_SZ', 'second')\n"
         "local r2 = Lua_RegAdd('HKCU', K, 'keep', 'REG_DWORD', 3, false)\n"
         "local kept = Lua_RegQuery('HKCU', K, 'keep')\n"
         "Lua_RegAdd('HKCU', K, 'keep', 'REG_SZ', 'third', 1)\n"
         "return r1, r2, kept, Lua_RegQuery('HKCU', K, 'keep')",
         R"(true, true, "first", "third")"},
        {"Lua_RegAdd('HKCU', K, 'fresh', 'REG_DWORD', 5) return Lua_RegQuery('HKCU', K, 'fresh')", "5"},
        // Only text and DWORD values are read.
        {"t_regset('HKCU', K, 'multi', 7, 'a|b') t_regset('HKCU', K, 'expand', 2, '%TEMP%')\n"
         "Lua_RegAdd('HKCU', K, 'bin', 'REG_BINARY', '01', true)\n"
         "return Lua_RegQuery('HKCU', K, 'multi'), Lua_RegQuery('HKCU', K, 'expand'), Lua_RegQuery('HKCU', K, 'bin')",
         R"(nil, "%TEMP%", nil)"},
        {"return Lua_RegQuery('HKCU', K, 'missing'), Lua_RegQuery('HKCU', K .. '\\\\missing', 'x'), Lua_RegQuery()",
         "nil, nil, nil"},
        // The default value: an empty or missing name.
        {"Lua_RegAdd('HKCU', K, '', 'REG_SZ', 'dflt', true) return Lua_RegQuery('HKCU', K), Lua_RegQuery('HKCU', K, nil)",
         R"("dflt", "dflt")"},
        {"Lua_RegAdd('HKCU', K, nil, 'REG_SZ', 'dflt2', true) return Lua_RegQuery('HKCU', K, '')", R"("dflt2")"},
    });
}

TEST_F(Registry, Delete) {
    testutil::DebugLines debug;
    RunCases({
        {"Lua_RegAdd('HKCU', K, 'v', 'REG_DWORD', 1, true) Lua_RegAdd('HKCU', K, 'w', 'REG_DWORD', 2, true)\n"
         "return Lua_RegDel('HKCU', K, 'v'), Lua_RegQuery('HKCU', K, 'v'), Lua_RegQuery('HKCU', K, 'w')",
         "true, nil, 2"},
        // A nil name deletes the default value; the key and its other values stay.
        {"Lua_RegAdd('HKCU', K, '', 'REG_SZ', 'dflt', true)\n"
         "return Lua_RegDel('HKCU', K, nil), Lua_RegQuery('HKCU', K), Lua_RegQuery('HKCU', K, 'w'), t_regkey('HKCU', K)",
         "true, nil, 2, true"},
        {"Lua_RegAdd('HKCU', K .. '\\\\tree\\\\a\\\\b', 'x', 'REG_DWORD', 1, true)\n"
         "Lua_RegAdd('HKCU', K .. '\\\\tree\\\\a\\\\c', 'x', 'REG_DWORD', 1, true)\n"
         "Lua_RegAdd('HKCU', K .. '\\\\tree\\\\d', 'x', 'REG_DWORD', 1, true)\n"
         "Lua_RegAdd('HKCU', K .. '\\\\tree', 'x', 'REG_DWORD', 1, true)\n"
         "return Lua_RegDel('HKCU', K .. '\\\\tree'), t_regkey('HKCU', K .. '\\\\tree'), t_regkey('HKCU', K)",
         "true, false, true"},
        {"return Lua_RegDel('HKCU', K .. '\\\\none'), Lua_RegDel('HKCU', K .. '\\\\none', 'x')", "true, true"},
    });
    const std::wstring k = key_;
    EXPECT_EQ(debug.Count(L"vq Delete Value HKCU, " + k + L", v"), 1);
    EXPECT_EQ(debug.Count(L"vq Delete Value HKCU, " + k + L", "), 1);
    EXPECT_EQ(debug.Count(L"vq DeleteSubKey " + k + L"\\none failed, errcode: 2"), 1);
}

TEST_F(Registry, UnknownRootNames) {
    testutil::DebugLines debug;
    RunCases({
        {"return Lua_RegAdd('hkcu', K, 'x', 'REG_DWORD', 1, true), Lua_RegAdd('HKEY_CURRENT_USER', K, 'x', 'REG_DWORD', 1, true),\n"
         "  t_regkey('HKCU', K)",
         "true, true, false"},
        {"Lua_RegAdd('HKCU', K, 'x', 'REG_DWORD', 1, true)\n"
         "return Lua_RegQuery('HKXX', K, 'x'), Lua_RegQuery('hkcu', K, 'x'), Lua_RegDel('HKXX', K), Lua_RegDel('Hkcu', K, 'x'),\n"
         "  Lua_RegQuery('HKCU', K, 'x')",
         "nil, nil, true, true, 1"},
    });
    EXPECT_EQ(debug.Count(L"vq OpenKey HKXX failed, errcode: 6\r\n"), 1);
}

// Lua_RegDel with an empty subkey would start the recursive delete at the root
// itself. HKCU is redirected to a scratch key for the call, so that a fault
// here empties the scratch key and not the user's registry.
TEST_F(Registry, DeleteRefusesToEmptyARootKey) {
    const std::wstring scratch = key_ + L"\\scratch";
    HKEY override = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &override,
                                nullptr),
              ERROR_SUCCESS);
    HKEY sentinel = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(override, L"sentinel", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sentinel, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(sentinel);
    if (::RegOverridePredefKey(HKEY_CURRENT_USER, override) != ERROR_SUCCESS) {
        ::RegCloseKey(override);
        GTEST_SKIP() << "no predefined-key override here";
    }
    // The override is in force: HKCU\sentinel is the scratch key's child.
    HKEY probe = nullptr;
    const bool redirected = ::RegOpenKeyExW(HKEY_CURRENT_USER, L"sentinel", 0, KEY_READ, &probe) == ERROR_SUCCESS;
    if (probe) ::RegCloseKey(probe);
    std::string described;
    if (redirected) {
        testutil::DebugLines debug;
        described = testutil::Describe("return Lua_RegDel('HKCU', ''), Lua_RegDel('HKCU'), Lua_RegDel('HKCU', '\\\\'),\n"
                                       "  Lua_RegDel('HKCU', ' / ')");
        EXPECT_EQ(debug.Count(L"vq Lua_RegDel refuses to delete the subkeys of the root HKCU\r\n"), 4);
    }
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegCloseKey(override);
    if (!redirected) GTEST_SKIP() << "the predefined-key override has no effect here";
    EXPECT_EQ(described, "true, true, true, true");
    HKEY check = nullptr;
    EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, (scratch + L"\\sentinel").c_str(), 0, KEY_READ, &check), ERROR_SUCCESS);
    if (check) ::RegCloseKey(check);
}

// No view flag: a 32-bit installer's HKLM\Software writes land in the 32-bit
// view, which the 64-bit view shows under Wow6432Node.
TEST_F(Registry, MachineSoftwareGoesToThe32BitView) {
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    if (!wow64) GTEST_SKIP() << "not a WoW64 process";
    const std::wstring sub = L"QvrTest\\values_" + std::to_wstring(::GetCurrentProcessId());
    testutil::SetScriptGlobal("MK", L"Software\\" + sub);
    testutil::SetScriptGlobal("MK64", L"Software\\Wow6432Node\\" + sub);
    RunCases({
        {"Lua_RegAdd('HKLM', MK, 'v', 'REG_SZ', 'x', true)\n"
         "return Lua_RegQuery('HKLM', MK, 'v'), t_regkey('HKLM', MK, true), t_regraw('HKLM', MK64, 'v', true)",
         R"("x", false, 1, "78000000")"},
        {"return Lua_RegDel('HKLM', MK), t_regkey('HKLM', MK64, true), Lua_RegQuery('HKLM', MK, 'v')",
         "true, false, nil"},
    });
}

// --- COM registration -------------------------------------------------------

class ComRegistration : public Registry {
protected:
    void SetUp() override {
        Registry::SetUp();
        marker_ = L"ComMarker_" + std::to_wstring(::GetCurrentProcessId());
        ::SetEnvironmentVariableW(L"QVR_COM_MARKER", marker_.c_str());
        ::SetEnvironmentVariableW(L"QVR_COM_FAIL", nullptr);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, MarkerKey().c_str());
        // A copy in a folder whose name needs quoting.
        dir_ = testutil::MakeTempDir(L"com");
        ASSERT_FALSE(dir_.empty());
        const std::wstring folder = dir_ + L"\\com dir";
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
        dll_ = folder + L"\\qvrcomtarget.dll";
        ASSERT_TRUE(::CopyFileW((testutil::ExeDir() + L"\\qvrcomtarget.dll").c_str(), dll_.c_str(), FALSE));
        testutil::SetScriptGlobal("COMDLL", dll_);
    }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, MarkerKey().c_str());
        ::SetEnvironmentVariableW(L"QVR_COM_FAIL", nullptr);
        testutil::RemoveTree(dir_);
        Registry::TearDown();
    }
    std::wstring MarkerKey() const { return L"Software\\QvrTest\\" + marker_; }
    // The marker the DLL left for `entry`, or nothing.
    bool Marker(const wchar_t* entry, std::wstring* data = nullptr) const {
        wchar_t buf[512] = {};
        DWORD size = sizeof buf - sizeof(wchar_t);
        const bool found = ::RegGetValueW(HKEY_CURRENT_USER, MarkerKey().c_str(), entry, RRF_RT_REG_SZ, nullptr, buf,
                                          &size) == ERROR_SUCCESS;
        if (found && data) *data = buf;
        return found;
    }
    void ClearMarkers() { ::RegDeleteTreeW(HKEY_CURRENT_USER, MarkerKey().c_str()); }

    std::wstring marker_, dir_, dll_;
};

TEST_F(ComRegistration, RegSvr32CallsTheEntryPointInProcess) {
    EXPECT_EQ(testutil::Describe("return Lua_RegSvr32(COMDLL, true)"), "true");
    EXPECT_TRUE(Marker(L"DllRegisterServer"));
    EXPECT_FALSE(Marker(L"DllUnregisterServer"));
    EXPECT_EQ(testutil::Describe("return Lua_RegSvr32(COMDLL, false), Lua_RegSvr32(COMDLL)"), "true, true");
    EXPECT_TRUE(Marker(L"DllUnregisterServer"));
    EXPECT_EQ(::GetModuleHandleW(dll_.c_str()), nullptr) << "the DLL is freed again";

    ClearMarkers();
    ::SetEnvironmentVariableW(L"QVR_COM_FAIL", L"1");
    EXPECT_EQ(testutil::Describe("return Lua_RegSvr32(COMDLL, true)"), "false") << "a failing entry point";
    EXPECT_TRUE(Marker(L"DllRegisterServer"));
}

TEST_F(ComRegistration, RegSvr32Failures) {
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    testutil::SetScriptGlobal("KERNEL32", std::wstring(system) + L"\\kernel32.dll");
    const std::wstring text = dir_ + L"\\not a dll.dll";
    ASSERT_TRUE(testutil::WriteFileBytes(text, "plain text"));
    testutil::SetScriptGlobal("NOTADLL", text);
    testutil::DebugLines debug;
    EXPECT_EQ(testutil::Describe("return Lua_RegSvr32(COMDLL .. '.missing', true), Lua_RegSvr32(KERNEL32, true),\n"
                                 "  Lua_RegSvr32(NOTADLL, true), Lua_RegSvr32()"),
              "false, false, false, false");
    EXPECT_EQ(debug.Count(L"vq Fun:Lua_RegSvr32, Description:" + dll_ + L".missing it's not exists!\r\n"), 1);
    EXPECT_EQ(debug.Count(L"vq Fun:Lua_RegSvr32, Description: LoadLibrary " + text + L" Failed!\r\n"), 1);
}

TEST_F(ComRegistration, RegistDllRunsTheSystemTool) {
    testutil::DebugLines debug;
    EXPECT_EQ(testutil::Describe("return Lua_RegistDll(COMDLL, '/i /s', false)"), "true");
    // The call does not wait for regsvr32.
    std::wstring installData;
    EXPECT_TRUE(testutil::WaitUntil([&] { return Marker(L"DllInstall", &installData); }, 120000))
        << "regsvr32 /i /s did not run DllInstall";
    EXPECT_TRUE(testutil::WaitUntil([&] { return Marker(L"DllRegisterServer"); }, 30000));
    EXPECT_EQ(installData, L"");

    EXPECT_EQ(testutil::Describe("return Lua_RegistDll(COMDLL, '/u /s', false)"), "true");
    EXPECT_TRUE(testutil::WaitUntil([&] { return Marker(L"DllUnregisterServer"); }, 120000))
        << "regsvr32 /u /s did not run DllUnregisterServer";

    EXPECT_EQ(testutil::Describe("return Lua_RegistDll(COMDLL .. '.missing', '/s'), Lua_RegistDll()"), "false, false");
    EXPECT_EQ(debug.Count(L"vq Fun:Lua_RegistDll, Description:" + dll_ + L".missing it's not exists!\r\n"), 1);
}

}  // namespace
