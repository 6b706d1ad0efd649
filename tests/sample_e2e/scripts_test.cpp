// The shipped chunks of the sample installer, run in this program's own
// interpreter: the configuration's values in their order, and the pure parts
// of the install and uninstall procedures (the feedback record and its JSON
// escaping, path and name helpers).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace {

// A chunk of the shipped installer's resources.
std::string ShippedChunk(const wchar_t* name) {
    const std::wstring exe = testutil::ExeDir() + L"\\ContosoTranslatorSetup.exe";
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return "";
    std::string bytes;
    if (HRSRC res = ::FindResourceW(module, name, L"LUA")) {
        const char* data = static_cast<const char*>(::LockResource(::LoadResource(module, res)));
        if (data) bytes.assign(data, ::SizeofResource(module, res));
    }
    ::FreeLibrary(module);
    return bytes;
}

lua_State* L() { return QVRScriptEngine::Instance().GetState(); }

bool RunLua(const std::string& code) { return QVRScriptEngine::Instance().DoBuffer(code.data(), code.size(), "test"); }

std::string GlobalText(const char* name) {
    lua_getglobal(L(), name);
    std::string out = lua_type(L(), -1) == LUA_TSTRING ? lua_tostring(L(), -1) : "<" + std::string(luaL_typename(L(), -1)) + ">";
    lua_pop(L(), 1);
    return out;
}

// Evaluates a Lua expression to a string (tostring of the value).
std::string Eval(const std::string& expression) {
    if (!RunLua("__result = tostring(" + expression + ")")) return "<error>";
    return GlobalText("__result");
}

class ShippedScripts : public testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const wchar_t* name : {L"GLOBAL_VAR.LUAC", L"INSTSCRIPT.LUAC", L"UNINSTSCRIPT.LUAC"}) {
            const std::string chunk = ShippedChunk(name);
            ASSERT_FALSE(chunk.empty()) << testutil::WideToUtf8(name);
            ASSERT_EQ(chunk.compare(0, 4, "\x1bLua"), 0) << "compiled, not source";
            ASSERT_TRUE(QVRScriptEngine::Instance().DoBuffer(chunk.data(), chunk.size(),
                                                              testutil::WideToUtf8(name).c_str()));
        }
    }
};

TEST_F(ShippedScripts, ConfigurationNamesTheProduct) {
    struct Case {
        const char* global;
        const char* value;
    };
    const Case cases[] = {
        {"global_install_basepath", "ContosoTranslator"},
        {"global_union_id", "31007"},
        {"global_app_id", "123"},
        {"global_version", "1.0.3.0"},
        {"global_product_name", u8"Contoso 翻译 标准版"},
        {"global_product_name_inner", "ContosoTranslator"},
        {"global_company_name", "Contoso Ltd"},
        {"global_main_app_name", "ContosoTranslator.exe"},
        {"global_need_disk_space", "246528511"},
        {"global_uninst_sub_key", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ContosoTranslator"},
        {"global_reg_sub_key", "SOFTWARE\\ContosoTranslator"},
        {"global_udp_un_install_port", "8100"},
        {"global_enable_ss_install", "true"},
        {"global_disable_analyze_params_from_file_name", "true"},
        {"global_cover_unionId", "false"},
        {"global_merchant_id_overwrite", "false"},
    };
    for (const Case& c : cases) EXPECT_EQ(Eval(c.global), c.value) << c.global;
    // Every address points at the local statistics gateway.
    for (const char* url : {"global_install_PostURL", "global_Uninstall_PostURL", "global_Uninstall_ReasonURL",
                            "global_licence_url"})
        EXPECT_EQ(Eval(url).rfind("http://127.0.0.1:8100/", 0), 0u) << url;
}

TEST_F(ShippedScripts, FeedbackRecordIsSqueezedAndValidJson) {
    struct Case {
        const char* setup;
        const char* record;  // null: nothing is built
    };
    const Case cases[] = {
        // Whitespace and the literal "/r/n" go; quote and backslash are escaped.
        {u8"ReasonID = '2,5'; tbContact = 'im 12345/r/n'; tbSuggest = '请 加上 \"离线\" 词典\\\\ 谢谢'",
         u8"{\"come_from\":32772, \"content_ids\":\"2,5\", \"uninstsuggest\":\"请加上\\\"离线\\\"词典\\\\谢谢\","
         u8"\"contact\":\"im12345\"}"},
        {"ReasonID = '1'; tbContact = 'a\\tb\\r\\nc'; tbSuggest = ''",
         "{\"come_from\":32772, \"content_ids\":\"1\", \"uninstsuggest\":\"\",\"contact\":\"abc\"}"},
        // Other control characters and a quote in the reasons.
        {"ReasonID = '3\"4'; tbContact = 'x\\1y'; tbSuggest = 'back\\\\slash\\\\'",
         "{\"come_from\":32772, \"content_ids\":\"3\\\"4\", \"uninstsuggest\":\"back\\\\slash\\\\\","
         "\"contact\":\"x\\u0001y\"}"},
        // Nothing to send without contact and reasons.
        {"ReasonID = nil; tbContact = nil; tbSuggest = 'ignored'", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setup);
        ASSERT_TRUE(RunLua(std::string("uninstreason = nil; ") + c.setup + "; FeedBack()"));
        EXPECT_EQ(GlobalText("uninstreason"), c.record ? c.record : "<nil>");
    }
}

TEST_F(ShippedScripts, JsonEscapeFollowsTheStringRules) {
    struct Case {
        const char* input;  // a Lua string literal
        const char* escaped;
    };
    const Case cases[] = {
        {"'plain 文字'", u8"plain 文字"},
        {"'\"'", "\\\""},
        {"'\\\\'", "\\\\"},
        {"'\\n\\r\\t'", "\\n\\r\\t"},
        {"'\\0\\31'", "\\u0000\\u001f"},
        {"'/'", "/"},
    };
    for (const Case& c : cases) EXPECT_EQ(Eval(std::string("JsonEscape(") + c.input + ")"), c.escaped) << c.input;
}

TEST_F(ShippedScripts, ParentFolderAndSplitHelpers) {
    struct Case {
        const char* expression;
        const char* value;
    };
    const Case cases[] = {
        {"paht_remove_filename('C:\\\\Program Files (x86)\\\\ContosoTranslator')", "C:\\Program Files (x86)"},
        {"paht_remove_filename('D:\\\\Tools\\\\App')", "D:\\Tools"},
        {"paht_remove_filename('C:\\\\Product')", "C:\\"},
        {"#Split('ContosoTranslator_31055_abc', '_')", "3"},
        {"Split('a__b', '_')[2]", ""},
        {"#Split('', '_')", "1"},
    };
    for (const Case& c : cases) EXPECT_EQ(Eval(c.expression), c.value) << c.expression;
}

// Wine's netsh is a stub that keeps nothing of what it was asked: a stand-in
// program under a %windir% of the test's own receives the commands, and the
// test reads the command lines it was started with.
TEST_F(ShippedScripts, FirewallRulesReachNetshAsTheseCommandLines) {
    const std::wstring dir = testutil::MakeTempDir(L"firewall");
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(::CreateDirectoryW((dir + L"\\system32").c_str(), nullptr));
    const std::wstring netsh = dir + L"\\system32\\netsh.exe";
    ASSERT_TRUE(::CopyFileW((testutil::ExeDir() + L"\\qvrtest_prochelper.exe").c_str(), netsh.c_str(), FALSE));
    const std::wstring record = dir + L"\\netsh.txt";

    wchar_t windir[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"windir", windir, MAX_PATH);
    ::SetEnvironmentVariableW(L"windir", dir.c_str());
    ::SetEnvironmentVariableW(L"QVR_TEST_RECORD_COMMAND_LINE", record.c_str());
    const bool ran = RunLua(u8"global_install_path = [[C:\\Program Files\\Contoso 翻译]] add_firewall_rule()");
    ::SetEnvironmentVariableW(L"QVR_TEST_RECORD_COMMAND_LINE", nullptr);
    ::SetEnvironmentVariableW(L"windir", windir);
    ASSERT_TRUE(ran);

    // Each call waited for netsh: all three are there, in order.
    std::vector<std::wstring> lines;
    std::wstring text = testutil::Utf8ToWide(testutil::ReadFileOr(record));
    for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    const std::wstring program = LR"(C:\Program Files\Contoso 翻译\ContosoTranslator.exe)";
    const std::vector<std::wstring> commands = {
        LR"(advfirewall firewall delete rule name="ContosoTranslator")",
        LR"(advfirewall firewall add rule name="ContosoTranslator" dir=in program=")" + program + LR"(" action=allow)",
        LR"(advfirewall firewall add rule name="ContosoTranslator" dir=out program=")" + program + LR"(" action=allow)",
    };
    ASSERT_EQ(lines.size(), commands.size()) << testutil::WideToUtf8(text);
    for (size_t i = 0; i < commands.size(); ++i) {
        // The program as the shell names it, then the command unchanged.
        const std::wstring& line = lines[i];
        const size_t args = line.find(L"netsh.exe");
        ASSERT_NE(args, std::wstring::npos) << testutil::WideToUtf8(line);
        std::wstring rest = line.substr(args + 9);
        if (!rest.empty() && rest[0] == L'"') rest.erase(0, 1);
        EXPECT_EQ(rest, L" " + commands[i]) << testutil::WideToUtf8(line);
        EXPECT_EQ(testutil::LongPath(line.substr(line[0] == L'"' ? 1 : 0, args + 9 - (line[0] == L'"' ? 1 : 0))),
                  testutil::LongPath(netsh));
    }
    testutil::RemoveTree(dir);
}

}  // namespace
