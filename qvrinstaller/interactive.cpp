// The interactive run: the skin package from the resources, DPI awareness,
// libcurl and the statistics module, the installer window and its message
// loop, then the shutdown in a fixed order. COM is released by the caller
// (Run), once for the whole process.
#include <curl/curl.h>

#include <memory>

#include "../nqpublic/nqbase/log/nqbaselog.h"
#include "../nqpublic/nqbase/nqhandle.h"
#include "../nqpublic/nqbase/stat/nqstatmodule.h"
#include "app.h"
#include "dlginstall.h"
#include "interactive.h"
#include "ui/manager/uimanager.h"

namespace qvrapp {

const wchar_t kUnionIdKey[] = L"SOFTWARE\\ContosoTranslator";
const wchar_t kStatDispatchHost[] = L"127.0.0.1";

DWORD ReadUnionId(HKEY root, const wchar_t* subKey) {
    nq::unique_hkey key;
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    if (::RegOpenKeyExW(root, subKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExW(key.get(), L"UnionId", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value) || value < 100)
        return kDefaultUnionId;
    return value;
}

namespace {

// Registers the "ZIP" 249 resource as the skin package. False, with the
// reason on the debugger output and in the log, when there is none to use.
bool RegisterSkinPackage(HINSTANCE instance) {
    HRSRC res = ::FindResourceW(instance, MAKEINTRESOURCEW(249), L"ZIP");
    HGLOBAL loaded = res ? ::LoadResource(instance, res) : nullptr;
    if (!loaded) {
        TRACE_FAILURE("");
        LOG_INFO("no window: the skin package (resource ZIP 249) is missing from the installer");
        return false;
    }
    const void* data = ::LockResource(loaded);
    if (!data) {
        TRACE_FAILURE("LockResource failed.");
        LOG_INFO("no window: the skin package (resource ZIP 249) cannot be read");
        return false;
    }
    const DWORD size = ::SizeofResource(instance, res);
    if (size == 0) {
        DebugTrace(L"ResSize == 0\r\n");
        LOG_INFO("no window: the skin package (resource ZIP 249) is empty");
        return false;
    }
    SkinUI::CPaintManagerUI::SetResourceZipMemory(data, size, L"");
    // Resource memory of a loaded module stays valid for the life of the process.
    return true;
}

void MakeDpiAware() {
    using SetAwareness = HRESULT(WINAPI*)(int);
    const nq::unique_hmodule shcore(::LoadLibraryW(L"Shcore.dll"));
    if (!shcore) return;
    if (auto set = reinterpret_cast<SetAwareness>(::GetProcAddress(shcore.get(), "SetProcessDpiAwareness")))
        set(2);  // per monitor
}

}  // namespace
}  // namespace qvrapp

void RunInteractive(HANDLE, int appId) {
    using namespace qvrapp;
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    SkinUI::CPaintManagerUI::SetResourceInstance(instance);
    if (!RegisterSkinPackage(instance)) return;
    MakeDpiAware();
    ::curl_global_init(CURL_GLOBAL_ALL);

    const DWORD unionId = ReadUnionId(HKEY_CURRENT_USER, kUnionIdKey);
    LOG_INFO("interactive run: app id {}, union id {}", appId, unionId);
    auto stat = NQStatModule::Instance();
    stat->InitStat(appId, unionId, kStatDispatchHost, L"");

    auto window = std::make_unique<CDlgInstall>();
    if (window->Create(nullptr, L"", 0x96C80000, 0x100)) {
        SkinUI::CPaintManagerUI::MessageLoop();
    } else {
        TRACE_FAILURE("installer window not created.");
        LOG_INFO("the installer window could not be created");
    }

    SkinUI::CPaintManagerUI::ReleaseSharedResources();
    stat->Shutdown();
    ::curl_global_cleanup();
    ::MoveFileExW(LogBase().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    window.reset();
}
