// Lua_HttpPost from a script, against the servers of http_fixture.py.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace {

std::vector<std::wstring> g_lines;
void Capture(const wchar_t* line) { g_lines.push_back(line); }

class HttpPost : public testing::Test {
protected:
    void SetUp() override {
        const char* port = std::getenv("QVR_HTTP_PORT");
        if (!port) GTEST_SKIP() << "run through http_fixture.py";
        port_ = port;
        closed_ = std::getenv("QVR_CLOSED_PORT");
        g_lines.clear();
        old_ = nqlog::SetDebugSink(&Capture);
        L = QVRScriptEngine::Instance().GetState();
    }
    void TearDown() override {
        if (old_) nqlog::SetDebugSink(old_);
    }
    bool Run(const std::string& code) {
        return QVRScriptEngine::Instance().DoBuffer(code.data(), code.size(), "http_post");
    }
    std::string port_, closed_;
    lua_State* L = nullptr;
    nqlog::DebugSink old_ = nullptr;
};

TEST_F(HttpPost, ResultFollowsTheTransferNotTheStatus) {
    struct Case {
        std::string call;
        bool result;
        const wchar_t* line;  // the debug line, or null for none
    };
    const std::string base = "http://127.0.0.1:" + port_;
    const Case cases[] = {
        {"Lua_HttpPost('" + base + "/echo', '{\"k\":\"中文\"}')", true, L"vq Post Url code: 0"},
        {"Lua_HttpPost('" + base + "/status/404', '{}')", true, L"vq Post Url code: 0"},
        {"Lua_HttpPost('" + base + "/status/500')", true, L"vq Post Url code: 0"},
        {"Lua_HttpPost('http://127.0.0.1:" + closed_ + "/echo', '{}')", false, L"vq Post Url code: 7"},
        {"Lua_HttpPost('', '{}')", false, nullptr},
        {"Lua_HttpPost()", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        g_lines.clear();
        ASSERT_TRUE(Run("qvr_post = " + c.call));
        lua_getglobal(L, "qvr_post");
        EXPECT_EQ(lua_type(L, -1), LUA_TBOOLEAN);
        EXPECT_EQ(lua_toboolean(L, -1) != 0, c.result);
        lua_pop(L, 1);
        bool found = false;
        for (const auto& l : g_lines) found = found || l.rfind(L"vq Post Url code:", 0) == 0;
        if (c.line) {
            ASSERT_FALSE(g_lines.empty());
            EXPECT_EQ(g_lines.back(), c.line);
        } else {
            EXPECT_FALSE(found) << "nothing is sent for an empty URL";
        }
    }
}

}  // namespace
