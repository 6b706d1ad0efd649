// A COM server stand-in for the registration tests: its registration entry
// points only leave a marker, a value named after the entry point in
// HKCU\Software\QvrTest\<QVR_COM_MARKER>. With QVR_COM_FAIL set, the entry
// points report failure (after leaving the marker).
#include <windows.h>

#include <string>

namespace {

HRESULT Mark(const wchar_t* entry, const wchar_t* data) {
    wchar_t marker[128] = L"ComMarker";
    ::GetEnvironmentVariableW(L"QVR_COM_MARKER", marker, 128);
    const std::wstring subkey = std::wstring(L"Software\\QvrTest\\") + marker;
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        const std::wstring text = data ? data : L"";
        ::RegSetValueExW(key, entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
    return ::GetEnvironmentVariableW(L"QVR_COM_FAIL", nullptr, 0) ? E_FAIL : S_OK;
}

}  // namespace

extern "C" {
__declspec(dllexport) HRESULT __stdcall DllRegisterServer() { return Mark(L"DllRegisterServer", nullptr); }
__declspec(dllexport) HRESULT __stdcall DllUnregisterServer() { return Mark(L"DllUnregisterServer", nullptr); }
__declspec(dllexport) HRESULT __stdcall DllInstall(BOOL install, const wchar_t* commandLine) {
    return Mark(install ? L"DllInstall" : L"DllUninstall", commandLine);
}
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
