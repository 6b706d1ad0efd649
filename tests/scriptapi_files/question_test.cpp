// Lua_DeleteFile's question about a file another program holds open: the
// script runs in a child process (qvrscripthost) and the test answers the box
// the way a user would.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/common/testutil.h"

namespace {

const wchar_t kCaption[] = L"提示";

class DeleteQuestion : public testing::Test {
protected:
    void SetUp() override {
        dir_ = testutil::MakeTempDir(L"question");
        ASSERT_FALSE(dir_.empty());
        target_ = dir_ + L"\\in use.dat";
        script_ = dir_ + L"\\script.lua";
        lines_ = dir_ + L"\\lines.txt";
        ASSERT_TRUE(testutil::WriteFileBytes(target_, "data"));
        // The script runs Lua_DeleteFile on the target; the path comes through
        // the environment (expanded by the function itself).
        ASSERT_TRUE(testutil::WriteFileBytes(script_, "result = Lua_DeleteFile('%QVR_QUESTION_TARGET%')\n"));
    }
    void TearDown() override {
        Unlock();
        if (child_.Running()) child_.Kill();
        testutil::RemoveTree(dir_);
    }

    void Lock() {
        lock_ = ::CreateFileW(target_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(lock_, INVALID_HANDLE_VALUE);
    }
    void Unlock() {
        if (lock_ != INVALID_HANDLE_VALUE) ::CloseHandle(lock_);
        lock_ = INVALID_HANDLE_VALUE;
    }
    void Start() {
        const std::wstring cmd = L"\"" + testutil::ExeDir() + L"\\qvrscripthost.exe\" \"" + script_ + L"\" \"" +
                                 lines_ + L"\"";
        ASSERT_TRUE(child_.Start(cmd, {{L"QVR_QUESTION_TARGET", target_}}));
    }
    // Waits for the next question box (a window other than `previous`).
    HWND NextBox(HWND previous) {
        if (previous) testutil::WaitUntil([&] { return !::IsWindow(previous); }, 10000);
        return testutil::WaitForTopWindow(kCaption, child_.Pid(), 30000);
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        std::istringstream in(testutil::ReadFileOr(lines_));
        for (std::string line; std::getline(in, line);) {
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            out.push_back(line);
        }
        return out;
    }
    int Count(const std::string& line) const {
        int n = 0;
        for (const std::string& l : Lines()) n += l == line;
        return n;
    }
    std::string FailureLine() const { return "vq Delete " + testutil::WideToUtf8(target_) + " failed!"; }
    std::string ResultLine(const char* value) const { return std::string("result=") + value; }

    std::wstring dir_, target_, script_, lines_;
    HANDLE lock_ = INVALID_HANDLE_VALUE;
    testutil::Child child_;
};

TEST_F(DeleteQuestion, RetryTwiceThenIgnore) {
    Lock();
    Start();
    HWND box = NextBox(nullptr);
    ASSERT_NE(box, nullptr) << "no question box";
    EXPECT_EQ(testutil::DialogText(box),
              L"无法删除\"" + target_ + L"\"，可能是被占用，请关闭占用程序后点击重试或者点击忽略在卸载完成之后手动删除！");
    ASSERT_TRUE(testutil::PressDialogButton(box, IDRETRY));
    box = NextBox(box);
    ASSERT_NE(box, nullptr) << "no second question after Retry";
    ASSERT_TRUE(testutil::PressDialogButton(box, IDRETRY));
    box = NextBox(box);
    ASSERT_NE(box, nullptr) << "no third question after Retry";
    ASSERT_TRUE(testutil::PressDialogButton(box, IDIGNORE));
    ASSERT_TRUE(child_.Wait(30000));
    EXPECT_EQ(child_.ExitCode(), 7u);
    EXPECT_EQ(Count(ResultLine("true")), 1);
    // The two failure lines, once, after the last answer.
    EXPECT_EQ(Count(FailureLine()), 1);
    int codes = 0;
    for (const std::string& l : Lines()) codes += l.rfind("vq SHFileOperation error code : 0x", 0) == 0;
    EXPECT_EQ(codes, 1);
    EXPECT_TRUE(testutil::FileExists(target_));
}

TEST_F(DeleteQuestion, RetryAfterTheFileIsFreed) {
    Lock();
    Start();
    HWND box = NextBox(nullptr);
    ASSERT_NE(box, nullptr) << "no question box";
    Unlock();
    ASSERT_TRUE(testutil::PressDialogButton(box, IDRETRY));
    ASSERT_TRUE(child_.Wait(30000));
    EXPECT_EQ(child_.ExitCode(), 7u);
    EXPECT_EQ(Count(ResultLine("true")), 1);
    EXPECT_EQ(Count(FailureLine()), 0);
    EXPECT_FALSE(testutil::FileExists(target_));
}

TEST_F(DeleteQuestion, AbortEndsTheProcessWithCodeZero) {
    Lock();
    Start();
    HWND box = NextBox(nullptr);
    ASSERT_NE(box, nullptr) << "no question box";
    ASSERT_TRUE(testutil::PressDialogButton(box, IDABORT));
    ASSERT_TRUE(child_.Wait(30000));
    EXPECT_EQ(child_.ExitCode(), 0u);
    for (const std::string& l : Lines()) EXPECT_EQ(l.rfind("result=", 0), std::string::npos) << "the script went on";
    EXPECT_TRUE(testutil::FileExists(target_));
}

}  // namespace
