// Fixture for tests that run script snippets in the engine of the test
// program: collects the debugger-output lines written during the test, reads
// script globals, and checks that every test leaves the Lua stack as it found
// it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/common/scriptcase.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace testutil {

class ScriptTest : public testing::Test {
protected:
    void SetUp() override {
        debug_.emplace();
        L = QVRScriptEngine::Instance().GetState();
        ASSERT_NE(L, nullptr);
        top_ = lua_gettop(L);
    }
    void TearDown() override {
        if (L) EXPECT_EQ(lua_gettop(L), top_) << "the stack is left as it was found";
        debug_.reset();
    }

    bool Run(const std::string& code) { return QVRScriptEngine::Instance().DoBuffer(code.data(), code.size(), "test"); }

    // A string global's text; "<not a string>" for anything else.
    std::wstring Text(const char* name);
    // A number global; -12345 for anything else.
    double Number(const char* name);
    // "true", "false", "nil" or the type name.
    std::string Kind(const char* name);

    // The debug lines written since the test began (or since ClearLines).
    const std::vector<std::wstring>& Lines() const { return debug_->lines(); }
    void ClearLines() { debug_->clear(); }
    bool HasLine(const std::wstring& line) const { return debug_->Count(line) > 0; }
    // The three lines TRACE_FAILURE writes behind `context`, one after another.
    bool HasTraceAfter(const std::wstring& context) const;
    std::wstring AllLines() const;

    lua_State* L = nullptr;
    int top_ = 0;

private:
    std::optional<DebugLines> debug_;
};

}  // namespace testutil
