#include "installmgr.h"

#include <windows.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <cwchar>

#include "../nqpublic/nqbase/log/nqbaselog.h"
#include "../nqpublic/nqbase/nqhandle.h"
#include "../utility/qvrscriptengine/qvrscriptargs.h"
#include "../utility/qvrscriptengine/qvrscriptengine.h"
#include "../utility/qvrscriptengine/qvrscriptglobals.h"

CInstallMgr& CInstallMgr::Instance() {
    static CInstallMgr mgr;
    return mgr;
}

lua_State* CInstallMgr::ScriptState() { return QVRScriptEngine::Instance().GetState(); }

void CInstallMgr::RunEvent(const char* name, bool killTools) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (killTools) KillAllToolProcess();
    if (lua_State* L = ScriptState()) QVRScriptEngine::CallEvent(L, name);
}

void CInstallMgr::BeforeInit() { RunEvent("QVRSE_BeforeInit", false); }
void CInstallMgr::BeforeInstall() { RunEvent("QVRSE_BeforeInstall", false); }
void CInstallMgr::OnInstall() { RunEvent("QVRSE_OnInstall", true); }
void CInstallMgr::BeforeComplete() { RunEvent("QVRSE_BeforeComplete", false); }
void CInstallMgr::AfterComplete() { RunEvent("QVRSE_AfterComplete", false); }

void CInstallMgr::KillAllToolProcess() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::wstring installPath;
    if (lua_State* L = ScriptState()) installPath = scriptglobals::GetText(L, "global_install_path");
    const std::wstring tools = installPath + L"\\" + L"Tools\\";
    LOG_INFO("strAppPath:{}", WideToScript(tools));

    WIN32_FIND_DATAW fd;
    nq::unique_hfind dirs(::FindFirstFileW((tools + L"\\*.*").c_str(), &fd));
    if (!dirs) return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (!std::wcscmp(fd.cFileName, L".") || !std::wcscmp(fd.cFileName, L"..")) continue;
        const std::wstring sub = tools + fd.cFileName;
        LOG_INFO("{}", WideToScript(sub));
        WIN32_FIND_DATAW ff;
        nq::unique_hfind files(::FindFirstFileW((sub + L"\\*.*").c_str(), &ff));
        if (!files) continue;
        do {
            if (ff.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            // Extension compared exactly, case included.
            if (std::wcscmp(::PathFindExtensionW(ff.cFileName), L".exe") != 0) continue;
            LOG_INFO("2:----{}", WideToScript(ff.cFileName));
            TerminateByName(ff.cFileName);
        } while (::FindNextFileW(files.get(), &ff));
    } while (::FindNextFileW(dirs.get(), &fd));
}

void CInstallMgr::TerminateByName(const std::wstring& exeName) {
    nq::unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W pe;
    pe.dwSize = sizeof pe;
    for (BOOL ok = ::Process32FirstW(snapshot.get(), &pe); ok; ok = ::Process32NextW(snapshot.get(), &pe)) {
        if (_wcsicmp(pe.szExeFile, exeName.c_str()) != 0) continue;
        nq::unique_handle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, pe.th32ProcessID));
        if (process) ::TerminateProcess(process.get(), 10000);
    }
}
