#include "qvrinstaller/installmgr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
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
    // A tool of the product runs from the install folder's Tools folder.
    const std::wstring install = testutil::MakeTempDir(L"mgrtools");
    ASSERT_FALSE(install.empty());
    ASSERT_TRUE(::CreateDirectoryW((install + L"\\Tools").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((install + L"\\Tools\\Updater").c_str(), nullptr));
    const std::wstring tool =
        testutil::CopyProgram(L"spine_sleeper.exe", install + L"\\Tools\\Updater", L"qvrunit_mgr_tool.exe");
    ASSERT_FALSE(tool.empty());
    testutil::Child running;
    ASSERT_TRUE(running.Start(testutil::Quote(tool)));
    testutil::PumpFor(500);
    ASSERT_TRUE(running.Running());

    lua_State* L = QVRScriptEngine::Instance().GetState();
    ASSERT_TRUE(RunLua("QVRSE_OnInstall = 'not a function'"));
    scriptglobals::SetText(L, "global_install_path", install);
    const int top = lua_gettop(L);
    CInstallMgr::Instance().OnInstall();
    EXPECT_EQ(lua_gettop(L), top) << "the event is skipped without a trace on the stack";
    EXPECT_TRUE(running.Wait(10000)) << "the tool still runs";
    EXPECT_EQ(running.ExitCode(), 10000u);
    running.Kill();
    testutil::RemoveTree(install);
}

}  // namespace
