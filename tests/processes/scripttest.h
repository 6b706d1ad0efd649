// Fixture for tests that run script functions in the engine of the test
// program: captures the debug lines and reads script globals.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "utility/qvrscriptengine/qvrscriptargs.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace scripttest {

inline std::vector<std::wstring>& CapturedLines() {
    static std::vector<std::wstring> lines;
    return lines;
}
inline void Capture(const wchar_t* line) { CapturedLines().push_back(line); }

// Lua string literal of a UTF-16 text (a long bracket cannot hold every text,
// so the bytes are escaped).
inline std::string Lit(const std::wstring& text) {
    const std::string utf8 = WideToScript(text);
    std::string out = "\"";
    for (unsigned char c : utf8) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\%03u", c);
        out += buf;
    }
    return out + "\"";
}

class ScriptTest : public testing::Test {
protected:
    void SetUp() override {
        CapturedLines().clear();
        old_ = nqlog::SetDebugSink(&Capture);
        L = QVRScriptEngine::Instance().GetState();
        ASSERT_NE(L, nullptr);
        top_ = lua_gettop(L);
    }
    void TearDown() override {
        EXPECT_EQ(lua_gettop(L), top_) << "the stack is left as it was found";
        nqlog::SetDebugSink(old_);
    }

    bool Run(const std::string& code) { return QVRScriptEngine::Instance().DoBuffer(code.data(), code.size(), "test"); }

    std::wstring Text(const char* name) {
        lua_getglobal(L, name);
        std::wstring out = lua_type(L, -1) == LUA_TSTRING ? ScriptToWide(lua_tostring(L, -1)) : L"<not a string>";
        lua_pop(L, 1);
        return out;
    }
    double Number(const char* name) {
        lua_getglobal(L, name);
        const double out = lua_type(L, -1) == LUA_TNUMBER ? lua_tonumber(L, -1) : -12345.0;
        lua_pop(L, 1);
        return out;
    }
    // "true", "false", "nil" or the type name.
    std::string Kind(const char* name) {
        lua_getglobal(L, name);
        std::string out = lua_type(L, -1) == LUA_TBOOLEAN ? (lua_toboolean(L, -1) ? "true" : "false")
                                                            : lua_typename(L, lua_type(L, -1));
        lua_pop(L, 1);
        return out;
    }
    // The debug lines written since the test began.
    static const std::vector<std::wstring>& Lines() { return CapturedLines(); }
    bool HasLine(const std::wstring& line) const {
        for (const auto& l : Lines())
            if (l == line) return true;
        return false;
    }
    // The three lines TRACE_FAILURE writes behind `context` follow `line`.
    bool HasTraceAfter(const std::wstring& context) const {
        const auto& lines = Lines();
        for (size_t i = 0; i + 2 < lines.size(); ++i)
            if (lines[i].rfind(L"vq " + context + L"vq file:", 0) == 0 &&
                lines[i + 1].rfind(L"vq " + context + L"vq line:", 0) == 0 &&
                lines[i + 2].rfind(L"vq " + context + L"vq err:", 0) == 0)
                return true;
        return false;
    }
    std::wstring AllLines() const {
        std::wstring all;
        for (const auto& l : Lines()) all += l;
        return all;
    }

    lua_State* L = nullptr;
    int top_ = 0;
    nqlog::DebugSink old_ = nullptr;
};

inline constexpr wchar_t kHelper[] = L"qvrtest_prochelper.exe";

// A folder of the test's own with copies of the helper program
// (qvrtest_prochelper), and the helper processes the test started (ended when
// the test ends).
class HelperTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        dir_ = testutil::MakeTempDir(L"proc");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        for (auto& c : children_) c.Kill();
        children_.clear();
        testutil::RemoveTree(dir_);
        ScriptTest::TearDown();
    }
    // A copy of the helper named `name` (unique to this process).
    std::wstring Helper(const std::wstring& name) {
        std::wstring path = dir_ + L"\\" + name;
        if (!testutil::FileExists(path)) path = testutil::CopyProgram(kHelper, dir_, name);
        return path;
    }
    std::wstring Unique(const std::wstring& stem) const {
        return stem + L"_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    }
    // Starts `program` with `args`.
    testutil::Child& Start(const std::wstring& program, const std::wstring& args) {
        children_.emplace_back();
        EXPECT_TRUE(children_.back().Start(testutil::Quote(program) + L" " + args)) << testutil::WideToUtf8(program);
        return children_.back();
    }
    // Starts a helper with a window of class `cls` and waits until it exists.
    testutil::Child& StartWindow(const std::wstring& program, const wchar_t* mode, const std::wstring& cls) {
        const std::wstring ready = dir_ + L"\\" + cls + L".ready";
        testutil::Child& c = Start(program, std::wstring(mode) + L" " + cls + L" " + testutil::Quote(ready));
        EXPECT_TRUE(testutil::WaitForFile(ready, 20000)) << "the helper's window never appeared";
        return c;
    }

    std::wstring dir_;
    std::deque<testutil::Child> children_;  // references stay valid
};

}  // namespace scripttest
