#include "qvrinstaller/installmgr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "utility/qvrscriptengine/qvrscriptglobals.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace {

HANDLE g_entered = nullptr;
HANDLE g_release = nullptr;

// Script-callable: tells the test the event is running, then waits for it.
int BlockInEvent(lua_State*) {
    ::SetEvent(g_entered);
    ::WaitForSingleObject(g_release, 30000);
    return 0;
}

bool RunLua(const char* code) { return QVRScriptEngine::Instance().DoBuffer(code, strlen(code), "mgr"); }

TEST(InstallMgr, ScriptAccessFromAnotherThreadWaitsForTheRunningEvent) {
    lua_State* L = QVRScriptEngine::Instance().GetState();
    g_entered = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    lua_register(L, "qvr_block", &BlockInEvent);
    ASSERT_TRUE(RunLua("qvr_order = '' function QVRSE_OnInstall() qvr_order = qvr_order .. 'event<' qvr_block() "
                    "qvr_order = qvr_order .. '>' end"));

    std::thread worker([] { CInstallMgr::Instance().OnInstall(); });
    ASSERT_EQ(::WaitForSingleObject(g_entered, 30000), WAIT_OBJECT_0);

    std::atomic<bool> done{false};
    std::thread ui([&] {
        CInstallMgr::Instance().WithScript([](lua_State* S) {
            lua_getglobal(S, "qvr_order");
            lua_pushstring(S, "ui;");
            lua_concat(S, 2);
            lua_setglobal(S, "qvr_order");
            return 0;
        });
        done = true;
    });
    ::Sleep(300);
    EXPECT_FALSE(done) << "the global was touched while the event ran";
    ::SetEvent(g_release);
    worker.join();
    ui.join();
    EXPECT_EQ(scriptglobals::GetText(L, "qvr_order"), L"event<>ui;");
    ::CloseHandle(g_entered);
    ::CloseHandle(g_release);
}

TEST(InstallMgr, AnEventMayEnterAnotherOnTheSameThread) {
    ASSERT_TRUE(RunLua("qvr_nested = 0 function QVRSE_AfterComplete() qvr_nested = qvr_nested + 1 end"));
    lua_State* L = QVRScriptEngine::Instance().GetState();
    // A native function that runs another event from inside one: the lock is recursive.
    lua_register(L, "qvr_run_after_complete", [](lua_State*) -> int {
        CInstallMgr::Instance().AfterComplete();
        return 0;
    });
    ASSERT_TRUE(RunLua("function QVRSE_BeforeComplete() qvr_run_after_complete() end"));
    CInstallMgr::Instance().BeforeComplete();
    EXPECT_EQ(scriptglobals::GetInt(L, "qvr_nested"), 1);
}

TEST(InstallMgr, OnInstallEndsToolsEvenWhenTheEventIsNotAFunction) {
    lua_State* L = QVRScriptEngine::Instance().GetState();
    ASSERT_TRUE(RunLua("QVRSE_OnInstall = 'not a function' global_install_path = 'C:\\\\qvr-no-such-folder'"));
    const int top = lua_gettop(L);
    CInstallMgr::Instance().OnInstall();  // logs the Tools path, finds nothing, skips the event
    EXPECT_EQ(lua_gettop(L), top);
}

}  // namespace
