#include "nqpublic/nqbase/com/nqcomdemand.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>
#include <thread>

#include "tests/common/testutil.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace {

// The calling thread's apartment, found without changing it: asking for the
// multithreaded one is refused by a single-threaded apartment, joins an
// existing multithreaded one (S_FALSE) or makes a new one (S_OK).
std::string Apartment() {
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (hr == RPC_E_CHANGED_MODE) return "single";
    if (FAILED(hr)) return "error";
    ::CoUninitialize();
    return hr == S_FALSE ? "multi" : "none";
}

// Runs f on a thread of its own, so that every case starts without COM.
template <class F>
void OnFreshThread(F f) {
    std::thread t(f);
    t.join();
}

TEST(ComOnDemand, StartsOnTheHoldersThreadAtTheFirstNeedAndEndsWithTheHolder) {
    OnFreshThread([] {
        EXPECT_EQ(Apartment(), "none");
        {
            const nq::com_on_demand holder;
            EXPECT_EQ(Apartment(), "none") << "holding alone starts nothing";
            EXPECT_FALSE(nq::com_on_demand::started());
            nq::need_com();
            EXPECT_TRUE(nq::com_on_demand::started());
            EXPECT_EQ(Apartment(), "single");
            nq::need_com();  // once only: the holder balances one start
        }
        EXPECT_EQ(Apartment(), "none");
        nq::need_com();  // no holder any more: nothing happens
        EXPECT_EQ(Apartment(), "none");
    });
}

TEST(ComOnDemand, OtherThreadsAreLeftAsTheyAre) {
    OnFreshThread([] {
        const nq::com_on_demand holder;
        OnFreshThread([] {
            nq::need_com();
            EXPECT_EQ(Apartment(), "none");
        });
        EXPECT_FALSE(nq::com_on_demand::started());
    });
    // A holder's thread that already runs a multithreaded apartment keeps it,
    // and it is not ended under its owner.
    OnFreshThread([] {
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            const nq::com_on_demand holder;
            nq::need_com();
            EXPECT_EQ(Apartment(), "multi");
        }
        EXPECT_EQ(Apartment(), "multi");
        ::CoUninitialize();
    });
}

// The script functions that go through the shell ask for COM; those that do
// not leave it unstarted.
TEST(ComOnDemand, ShellFunctionsOfTheScriptAskForIt) {
    const std::wstring dir = testutil::MakeTempDir(L"comdemand");
    ASSERT_FALSE(dir.empty());
    const std::string folder = testutil::WideToUtf8(dir);
    struct Case {
        const char* what;
        std::string code;
        bool needsCom;
    };
    const Case cases[] = {
        {"a folder made", "Lua_CreateDirectory([[" + folder + "\\made]])", false},
        {"a file tested", "Lua_PathFileExists([[" + folder + "\\made]])", false},
        {"a folder deleted by the shell", "Lua_DeleteFile([[" + folder + "\\made]])", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OnFreshThread([&] {
            const nq::com_on_demand holder;
            ASSERT_TRUE(QVRScriptEngine::Instance().DoBuffer(c.code.c_str(), c.code.size(), "com"));
            EXPECT_EQ(nq::com_on_demand::started(), c.needsCom);
        });
    }
    EXPECT_EQ(::GetFileAttributesW((dir + L"\\made").c_str()), INVALID_FILE_ATTRIBUTES) << "the shell deleted it";
    testutil::RemoveTree(dir);
}

}  // namespace
