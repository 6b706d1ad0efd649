// Main function of test programs that run scripts in the engine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/common/testutil.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace {
void FailRun(const std::wstring& text) {
    std::fprintf(stderr, "\nscript error (the test program ends with exit code 99):\n%s\n",
                 testutil::WideToUtf8(text).c_str());
    std::fflush(stderr);
    ::ExitProcess(99);
}
}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QVRScriptEngine::SetErrorPresenter(&FailRun);
    return RUN_ALL_TESTS();
}
