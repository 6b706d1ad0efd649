// The shell extension of Contoso 翻译 ("翻译选中的文字" in the context menu),
// built as ContosoShellExt.dll (32-bit Windows), ContosoShellExt64.dll
// (64-bit Windows) and shell\ContosoShell.dll (32-bit programs on 64-bit
// Windows).
//
// Registration through regsvr32:
//   regsvr32 /i /s <dll>   DllRegisterServer: the class key
//                          HKLM\Software\Classes\CLSID\{clsid} with its
//                          InprocServer32 path; DllInstall(TRUE): the entry
//                          under Shell Extensions\Approved
//   regsvr32 /u /s <dll>   DllUnregisterServer: both removed
// Each bitness registers in its own registry view.
//
// The menu handler itself ships with the product's next release: until then
// the class object is not offered and no file type points at the class, so
// the shell never loads the DLL.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "nqpublic/nqbase/nqhandle.h"

namespace {

constexpr wchar_t kClsid[] = L"{6B1F3C52-8D4A-4E7B-9C21-3A5D7E9F0B14}";
constexpr wchar_t kName[] = L"Contoso 翻译 右键菜单扩展";
constexpr wchar_t kApprovedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

HMODULE g_module = nullptr;

std::wstring ClassKey() { return std::wstring(L"Software\\Classes\\CLSID\\") + kClsid; }

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT WriteClassKey() {
    wchar_t path[MAX_PATH] = {};
    if (!::GetModuleFileNameW(g_module, path, MAX_PATH)) return SELFREG_E_CLASS;
    nq::unique_hkey cls;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, ClassKey().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, cls.put(),
                          nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    if (SetString(cls.get(), nullptr, kName) != ERROR_SUCCESS) return SELFREG_E_CLASS;
    nq::unique_hkey server;
    if (::RegCreateKeyExW(cls.get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, server.put(), nullptr) !=
        ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    if (SetString(server.get(), nullptr, path) != ERROR_SUCCESS ||
        SetString(server.get(), L"ThreadingModel", L"Apartment") != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    return S_OK;
}

HRESULT WriteApproved() {
    nq::unique_hkey approved;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, approved.put(),
                          nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    return SetString(approved.get(), kClsid, kName) == ERROR_SUCCESS ? S_OK : E_FAIL;
}

HRESULT RemoveAll() {
    const LONG a = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ClassKey().c_str());
    nq::unique_hkey approved;
    LONG b = ERROR_SUCCESS;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_SET_VALUE, approved.put()) == ERROR_SUCCESS)
        b = ::RegDeleteValueW(approved.get(), kClsid);
    const bool ok = (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) && (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND);
    return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() { return WriteClassKey(); }

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() { return RemoveAll(); }

extern "C" __declspec(dllexport) HRESULT __stdcall DllInstall(BOOL install, LPCWSTR) {
    return install ? WriteApproved() : RemoveAll();
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID, REFIID, void** out) {
    if (out) *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow() { return S_OK; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
