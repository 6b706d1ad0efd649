// Fixture for tests that start copies of the helper program
// (qvrtest_prochelper) and run script functions against them.
#pragma once

#include <deque>
#include <string>

#include "tests/common/procutil.h"
#include "tests/common/scripttest.h"
#include "tests/common/testutil.h"

namespace testutil {

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

}  // namespace testutil
