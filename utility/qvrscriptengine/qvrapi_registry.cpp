// Script functions for the registry and for COM DLL registration.
//
// Keys are opened or created with the mask 0x2001F and no view flag: the
// installer is a 32-bit process, so on 64-bit Windows HKLM\Software and the
// other redirected keys are read and written in the 32-bit view.
#include <windows.h>
#include <ole2.h>
#include <shlwapi.h>

#include <cwctype>
#include <string>
#include <vector>

#include "../../nqpublic/nqbase/com/nqcomdemand.h"
#include "../../nqpublic/nqbase/log/nqbaselog.h"
#include "../../nqpublic/nqbase/nqhandle.h"
#include "qvrscriptapi.h"
#include "qvrscriptargs.h"

namespace {

constexpr REGSAM kKeyAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
static_assert(kKeyAccess == 0x2001F, "access mask");

// Root names, compared exactly; anything else is no key.
HKEY RootKey(const std::wstring& name) {
    if (name == L"HKCR") return HKEY_CLASSES_ROOT;
    if (name == L"HKCU") return HKEY_CURRENT_USER;
    if (name == L"HKLM") return HKEY_LOCAL_MACHINE;
    if (name == L"HKU") return HKEY_USERS;
    if (name == L"HKCC") return HKEY_CURRENT_CONFIG;
    return nullptr;
}

LSTATUS OpenKey(HKEY root, const std::wstring& subkey, nq::unique_hkey& key) {
    if (!root) return ERROR_INVALID_HANDLE;
    return ::RegOpenKeyExW(root, subkey.c_str(), 0, kKeyAccess, key.put());
}

// The value's bytes: a REG_SZ text with its terminator.
std::vector<BYTE> TextBytes(const std::wstring& text) {
    const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(wchar_t));
}

// REG_BINARY data from hexadecimal digit pairs: (n + 1) / 2 bytes; byte k is
// read at position 2k as at most two digits. A position that holds no digit
// repeats the previous byte (the first byte then is 0); an odd last digit is
// read alone.
std::vector<BYTE> HexBytes(const std::wstring& text) {
    auto digit = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9') return c - L'0';
        if (c >= L'a' && c <= L'f') return c - L'a' + 10;
        if (c >= L'A' && c <= L'F') return c - L'A' + 10;
        return -1;
    };
    std::vector<BYTE> bytes((text.size() + 1) / 2);
    unsigned value = 0;
    for (size_t k = 0; k < bytes.size(); ++k) {
        const size_t at = 2 * k;
        const int hi = digit(text[at]);
        if (hi >= 0) {
            const int lo = at + 1 < text.size() ? digit(text[at + 1]) : -1;
            value = lo >= 0 ? static_cast<unsigned>(hi * 16 + lo) : static_cast<unsigned>(hi);
        }
        bytes[k] = static_cast<BYTE>(value);
    }
    return bytes;
}

// Environment expansion of REG_SZ data; an empty expansion stores "".
std::wstring ExpandText(const std::wstring& text) {
    std::wstring out(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD n = ::ExpandEnvironmentStringsW(text.c_str(), &out[0], static_cast<DWORD>(out.size()));
        if (n == 0) return L"";
        if (n <= out.size()) {
            out.resize(n - 1);
            return out;
        }
        out.assign(n, L'\0');
    }
    return L"";
}

using RegDeleteKeyExWFn = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// RegDeleteKeyExW, looked up in Advapi32.dll on first use; null when the
// system has none.
RegDeleteKeyExWFn DeleteKeyExFunction() {
    static const RegDeleteKeyExWFn fn = [] {
        HMODULE advapi = ::GetModuleHandleW(L"Advapi32.dll");
        if (!advapi) advapi = ::LoadLibraryW(L"Advapi32.dll");
        return advapi ? reinterpret_cast<RegDeleteKeyExWFn>(::GetProcAddress(advapi, "RegDeleteKeyExW")) : nullptr;
    }();
    return fn;
}

// Deletes parent\name with everything below it; returns the first error.
LSTATUS DeleteKeyTree(HKEY parent, const wchar_t* name, REGSAM view) {
    {
        nq::unique_hkey key;
        LSTATUS status = ::RegOpenKeyExW(parent, name, 0, kKeyAccess | view, key.put());
        if (status != ERROR_SUCCESS) return status;
        for (;;) {
            wchar_t child[256] = {};
            DWORD childLen = 256;
            if (::RegEnumKeyExW(key.get(), 0, child, &childLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            status = DeleteKeyTree(key.get(), child, view);
            if (status != ERROR_SUCCESS) return status;
        }
    }
    if (RegDeleteKeyExWFn deleteKeyEx = DeleteKeyExFunction()) return deleteKeyEx(parent, name, view, 0);
    return ::RegDeleteKeyW(parent, name);
}

// True when the subkey names nothing below the root (empty, or separators and
// blanks only): deleting it recursively would empty the root key.
bool NamesTheRoot(const std::wstring& subkey) {
    for (wchar_t c : subkey)
        if (c != L'\\' && c != L'/' && !std::iswspace(c)) return false;
    return true;
}

}  // namespace

int Lua_RegQuery(lua_State* L) {
    enum { kNone, kText, kNumber } kind = kNone;
    std::wstring text;
    DWORD number = 0;
    {
        const std::wstring root = qvrargs::Text(L, 1);
        const std::wstring subkey = qvrargs::Text(L, 2);
        const std::wstring name = qvrargs::Text(L, 3);
        nq::unique_hkey key;
        if (OpenKey(RootKey(root), subkey, key) == ERROR_SUCCESS) {
            DWORD type = 0, size = 0;
            if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
                if (type == REG_SZ || type == REG_EXPAND_SZ) {
                    // size / 2 units, plus one so that a value stored without
                    // its terminator still ends inside the buffer.
                    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
                    DWORD got = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
                    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                                           reinterpret_cast<BYTE*>(buffer.data()), &got) == ERROR_SUCCESS &&
                        (type == REG_SZ || type == REG_EXPAND_SZ)) {
                        text.assign(buffer.data(), wcsnlen(buffer.data(), got / sizeof(wchar_t)));
                        kind = kText;
                    }
                } else if (type == REG_DWORD) {
                    DWORD got = sizeof number;
                    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&number),
                                           &got) == ERROR_SUCCESS &&
                        type == REG_DWORD)
                        kind = kNumber;
                }
            }
        }
    }
    if (kind == kText)
        qvrargs::PushText(L, text);
    else if (kind == kNumber)
        qvrargs::PushUInt(L, number);
    else
        lua_pushnil(L);
    return 1;
}

int Lua_RegAdd(lua_State* L) {
    {
        const std::wstring root = qvrargs::Text(L, 1);
        const std::wstring subkey = qvrargs::Text(L, 2);
        const std::wstring name = qvrargs::Text(L, 3);
        const std::wstring type = qvrargs::Text(L, 4);
        const bool overwrite = qvrargs::Bool(L, 6);

        nq::unique_hkey key;
        const HKEY rootKey = RootKey(root);
        if (rootKey && ::RegCreateKeyExW(rootKey, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kKeyAccess,
                                         nullptr, key.put(), nullptr) == ERROR_SUCCESS) {
            // Anything but "not found" counts as an existing value.
            const bool exists =
                ::RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND;
            if (overwrite || !exists) {
                DWORD regType = REG_NONE;
                std::vector<BYTE> data;
                if (type == L"REG_SZ") {
                    regType = REG_SZ;
                    data = TextBytes(ExpandText(qvrargs::Text(L, 5)));
                } else if (type == L"REG_EXPAND_SZ") {
                    regType = REG_SZ;  // stored unexpanded, as a plain string
                    data = TextBytes(qvrargs::Text(L, 5));
                } else if (type == L"REG_DWORD") {
                    regType = REG_DWORD;
                    const DWORD v = qvrargs::UInt(L, 5);
                    data.assign(reinterpret_cast<const BYTE*>(&v), reinterpret_cast<const BYTE*>(&v) + sizeof v);
                } else if (type == L"REG_BINARY") {
                    regType = REG_BINARY;
                    data = HexBytes(qvrargs::Text(L, 5));
                }
                if (regType != REG_NONE)
                    ::RegSetValueExW(key.get(), name.c_str(), 0, regType, data.empty() ? nullptr : data.data(),
                                     static_cast<DWORD>(data.size()));
            }
        }
    }
    lua_pushboolean(L, 1);
    return 1;
}

int Lua_RegDel(lua_State* L) {
    {
        const int argc = lua_gettop(L);
        const std::wstring root = qvrargs::Text(L, 1);
        const std::wstring subkey = qvrargs::Text(L, 2);
        const HKEY rootKey = RootKey(root);
        if (argc >= 3) {
            const std::wstring name = qvrargs::Text(L, 3);
            nq::unique_hkey key;
            if (OpenKey(rootKey, subkey, key) == ERROR_SUCCESS) {
                ::RegDeleteValueW(key.get(), name.c_str());
                DebugTrace(L"Delete Value %s, %s, %s", root.c_str(), subkey.c_str(), name.c_str());
            }
        } else if (NamesTheRoot(subkey)) {
            DebugTrace(L"Lua_RegDel refuses to delete the subkeys of the root %s\r\n", root.c_str());
        } else {
            nq::unique_hkey rootHandle;
            const LSTATUS opened =
                rootKey ? ::RegOpenKeyExW(rootKey, nullptr, 0, kKeyAccess, rootHandle.put()) : ERROR_INVALID_HANDLE;
            if (opened != ERROR_SUCCESS) {
                DebugTrace(L"OpenKey %s failed, errcode: %ld\r\n", root.c_str(), static_cast<long>(opened));
            } else {
                const LSTATUS deleted = DeleteKeyTree(rootHandle.get(), subkey.c_str(), 0);
                if (deleted != ERROR_SUCCESS)
                    DebugTrace(L"DeleteSubKey %s failed, errcode: %ld", subkey.c_str(), static_cast<long>(deleted));
            }
        }
    }
    lua_pushboolean(L, 1);
    return 1;
}

// In-process registration: DllRegisterServer or DllUnregisterServer.
int Lua_RegSvr32(lua_State* L) {
    bool ok = false;
    {
        // Declared first, so that the DLL is freed after OLE is uninitialised.
        nq::unique_hmodule module;
        nq::need_com();
        nq::scoped_oleinit ole;
        const std::wstring path = qvrargs::Path(L, 1);
        const bool doRegister = qvrargs::Bool(L, 2);
        if (::PathFileExistsW(path.c_str()) == FALSE) {
            DebugTrace(L"Fun:%s, Description:%s it's not exists!\r\n", L"Lua_RegSvr32", path.c_str());
        } else {
            module.reset(::LoadLibraryW(path.c_str()));
            if (!module) {
                DebugTrace(L"Fun:%s, Description: LoadLibrary %s Failed!\r\n", L"Lua_RegSvr32", path.c_str());
                TRACE_FAILURE("");
            } else {
                using EntryFn = HRESULT(STDAPICALLTYPE*)();
                const auto entry = reinterpret_cast<EntryFn>(
                    ::GetProcAddress(module.get(), doRegister ? "DllRegisterServer" : "DllUnregisterServer"));
                ok = entry && SUCCEEDED(entry());
            }
        }
    }
    lua_pushboolean(L, ok);
    return 1;
}

// Registration through the system tool: regsvr32 <switches> "<path>", hidden,
// not waited for.
int Lua_RegistDll(lua_State* L) {
    bool ok = false;
    {
        nq::need_com();
        nq::scoped_oleinit ole;
        const std::wstring path = qvrargs::Path(L, 1);
        const std::wstring switches = qvrargs::Text(L, 2);
        if (::PathFileExistsW(path.c_str()) == FALSE) {
            DebugTrace(L"Fun:%s, Description:%s it's not exists!\r\n", L"Lua_RegistDll", path.c_str());
        } else {
            const std::wstring command = L"regsvr32 " + switches + L" \"" + path + L"\"";
            std::string ansi;
            const int n = ::WideCharToMultiByte(CP_ACP, 0, command.c_str(), -1, nullptr, 0, nullptr, nullptr);
            if (n > 0) {
                ansi.assign(static_cast<size_t>(n), '\0');
                ::WideCharToMultiByte(CP_ACP, 0, command.c_str(), -1, &ansi[0], n, nullptr, nullptr);
            }
            ok = ::WinExec(ansi.c_str(), SW_HIDE) > 31;
            if (!ok) DebugTrace(L"reg failed!!! %d", static_cast<int>(::GetLastError()));
        }
    }
    lua_pushboolean(L, ok);
    return 1;
}
