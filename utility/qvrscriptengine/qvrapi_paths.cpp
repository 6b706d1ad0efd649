// Script functions for folder paths and temporary names, program resources,
// the 7z payload, JSON posts and the install log.
#include <windows.h>
#include <shlobj.h>

#include <7zFile.h>

#include <cstring>
#include <optional>
#include <string>

#include "../../archive/qvr7z.h"
#include "../../nqpublic/nqbase/http/chttpclient.h"
#include "../../nqpublic/nqbase/log/nqbaselog.h"
#include "../../nqpublic/nqbase/nqhandle.h"
#include "qvrmodulefile.h"
#include "qvrrunresult.h"
#include "qvrscriptapi.h"
#include "qvrscriptargs.h"

namespace {

// A resource of the program's own module, found by type and by name or id.
struct ProgramResource {
    HRSRC info = nullptr;
    HGLOBAL data = nullptr;
    DWORD size = 0;
    bool Load(const wchar_t* type, const wchar_t* name) {
        HMODULE self = ::GetModuleHandleW(nullptr);
        info = ::FindResourceW(self, name, type);
        if (!info) return false;
        data = ::LoadResource(self, info);
        if (!data) return false;
        size = ::SizeofResource(self, info);
        return true;
    }
};

// Argument `idx` as a resource name: a number is an integer id, anything else
// its text. `text` keeps the storage of a text name alive.
const wchar_t* ResourceName(lua_State* L, int idx, std::wstring& text) {
    text = qvrargs::Text(L, idx);
    if (lua_type(L, idx) == LUA_TNUMBER) return MAKEINTRESOURCEW(static_cast<WORD>(qvrargs::UInt(L, idx)));
    return text.c_str();
}

// Writes one byte of a loaded image that may be mapped read-only.
void PokeByte(BYTE* where, BYTE value) {
    DWORD old = 0;
    if (::VirtualProtect(where, 1, PAGE_READWRITE, &old)) {
        *where = value;
        ::VirtualProtect(where, 1, old, &old);
    } else {
        TRACE_FAILURE("VirtualProtect failed!");
    }
}

// "_7Z" resources are stored with their first two bytes exchanged. The
// exchange is made in the loaded image and stays there for the life of the
// process, so a second use of the same resource sees it exchanged again.
void ExchangeFirstTwoBytes(void* block, DWORD size) {
    if (!block || size < 2) return;
    BYTE* bytes = static_cast<BYTE*>(block);
    const BYTE first = bytes[0];
    PokeByte(bytes, bytes[1]);
    PokeByte(bytes + 1, first);
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

// Lua_ExpandEnv(text): the last argument with environment variables expanded.
int Lua_ExpandEnv(lua_State* L) {
    const int last = lua_gettop(L);
    const std::wstring expanded = last > 0 ? qvrargs::Path(L, last) : std::wstring();
    qvrargs::PushText(L, expanded);
    return 1;
}

// Lua_RegVarByCSIDL(name, csidl): sets the process environment variable
// `name` to the shell folder `csidl`, so later paths can use %name%.
int Lua_RegVarByCSIDL(lua_State* L) {
    const std::wstring name = qvrargs::Text(L, 1);
    const int csidl = qvrargs::Int(L, 2);
    wchar_t folder[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE)) {
        DebugTrace(L"SHGetSpecialFolderPathW csidl=%d failed!\r\n", csidl);
        TRACE_FAILURE("");
        lua_pushboolean(L, 0);
        return 1;
    }
    const BOOL ok = ::SetEnvironmentVariableW(name.c_str(), folder);
    if (!ok) TRACE_FAILURE("SetEnvironmentVariableW failed!");
    lua_pushboolean(L, ok ? 1 : 0);
    return 1;
}

// Lua_GetTempFileName(directory, prefix): creates an empty file with a unique
// name in the directory and returns its path, or nil.
int Lua_GetTempFileName(lua_State* L) {
    const std::wstring dir = qvrargs::Path(L, 1);
    const std::wstring prefix = qvrargs::Text(L, 2);
    wchar_t name[MAX_PATH] = {};
    if (::GetTempFileNameW(dir.c_str(), prefix.c_str(), 0, name) == 0) {
        lua_pushnil(L);
        return 1;
    }
    qvrargs::PushText(L, name);
    return 1;
}

// Lua_GetTempPath(): the user's local application-data folder (without a
// trailing backslash), provided the system has a temporary folder.
int Lua_GetTempPath(lua_State* L) {
    wchar_t buf[MAX_PATH] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH, buf);
    if (n == 0 || n > MAX_PATH) {
        DebugTrace(L"GetTempPath Failed!");
        qvrargs::PushText(L, L"");
        return 1;
    }
    if (!::SHGetSpecialFolderPathW(nullptr, buf, CSIDL_LOCAL_APPDATA, FALSE)) DebugTrace(L"Get Local AppData Failed!");
    buf[MAX_PATH - 1] = L'\0';
    qvrargs::PushText(L, buf);
    return 1;
}

// Lua_ExtractResource(type, name, file): writes a resource of the program to
// a file; "_7Z" resources get their first two bytes exchanged back first.
int Lua_ExtractResource(lua_State* L) {
    const std::wstring path = qvrargs::Path(L, 3);
    const std::wstring type = qvrargs::Text(L, 1);
    std::wstring nameText;
    const wchar_t* name = ResourceName(L, 2, nameText);

    ProgramResource res;
    if (!res.Load(type.c_str(), name)) {
        DebugTrace(L"Fun:%s ,LoadResource failed!\r\n", L"Lua_ExtractResource");
        lua_pushboolean(L, 0);
        return 1;
    }
    nq::unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DebugTrace(L"Fun:%s ,CreateFileW %s failed!\r\n", L"Lua_ExtractResource", path.c_str());
        qvrrun::Record(qvrrun::Failure::kWrite);
        lua_pushboolean(L, 0);
        return 1;
    }
    void* bytes = ::LockResource(res.data);
    if (type == L"_7Z") ExchangeFirstTwoBytes(bytes, res.size);
    DWORD written = 0;
    bool ok = (bytes || res.size == 0) &&
              ::WriteFile(file.get(), bytes, res.size, &written, nullptr) && written == res.size;
    // Data the system held back may fail to reach the disk only at the close.
    if (!::CloseHandle(file.release())) ok = false;
    if (!ok) {
        DebugTrace(L"Fun:%s ,WriteFile %s failed!\r\n", L"Lua_ExtractResource", path.c_str());
        // Never left truncated under its name.
        ::DeleteFileW(path.c_str());
        LOG_INFO("{} could not be written whole and was removed", WideToAnsi(path));
        qvrrun::Record(qvrrun::Failure::kWrite);
    }
    lua_pushboolean(L, ok ? 1 : 0);
    return 1;
}

// Lua_UnCompress7z(archive, destination, fromFile, onFileExtracted, onCreateFailed):
// extracts a 7z archive from a file or from a "_7Z" resource of the program
// into an existing directory.
int Lua_UnCompress7z(lua_State* L) {
    const int argc = lua_gettop(L);
    if (argc < 2 || argc > 5) {
        DebugTrace(L"UnCompress successful.\r\n");
        lua_pushboolean(L, 1);
        return 1;
    }
    // With five arguments the last one, when a function, is the create-failure
    // callback and leaves the stack; then the value on top (argument 4, or an
    // argument 5 that was no function) is the file-extracted callback when it
    // is a function. Both references are released on every path.
    std::optional<ScriptCallback> createFailedRef;
    std::optional<ScriptCallback> extractedRef;
    if (argc == 5 && lua_type(L, 5) == LUA_TFUNCTION) {
        createFailedRef.emplace(L, 5);
        lua_pop(L, 1);
    }
    if ((argc == 4 || argc == 5) && lua_type(L, -1) == LUA_TFUNCTION) extractedRef.emplace(L, -1);

    const bool fromFile = lua_type(L, 3) == LUA_TBOOLEAN && lua_toboolean(L, 3);
    const std::wstring destination = qvrargs::Path(L, 2);
    if (!PathExists(destination)) {
        DebugTrace(L"Fun:%s, Description:%s it's not exists!\r\n", L"Lua_UnCompress7z", destination.c_str());
        qvrrun::Record(qvrrun::Failure::kWrite);  // the folder could not be made
        lua_pushboolean(L, 0);
        return 1;
    }

    OnFileExtracted onExtracted;
    if (extractedRef) onExtracted = [&](const wchar_t* path) { extractedRef->Call({CallbackArg::Path(path)}); };
    OnCreateFileFailed onFailed;
    if (createFailedRef)
        onFailed = [&](const wchar_t* path, DWORD error) {
            return createFailedRef->Call({CallbackArg::Path(path), CallbackArg::Number(error)});
        };

    int code = kExtractFileError;
    if (fromFile) {
        const std::wstring archive = qvrargs::Path(L, 1);
        if (!PathExists(archive)) {
            DebugTrace(L"Fun:%s, Description:%s it's not exists!\r\n", L"Lua_UnCompress7z", archive.c_str());
            lua_pushboolean(L, 0);
            return 1;
        }
        DebugTrace(L"UnCompress %s to %s .\r\n", archive.c_str(), destination.c_str());
        nq::unique_hfile file(::CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            CFileInStream in;
            FileInStream_CreateVTable(&in);
            in.file.handle = file.get();
            in.wres = 0;
            code = Extract7zToDirectory(&in.vt, destination.c_str(), onExtracted, onFailed);
        } else {
            TRACE_FAILURE("CreateFileW failed!");
            code = SZ_ERROR_READ;
        }
    } else {
        std::wstring nameText;
        const wchar_t* name = ResourceName(L, 1, nameText);
        ProgramResource res;
        if (!res.Load(L"_7Z", name)) {
            DebugTrace(L"Fun:%s ,LoadResource failed!\r\n", L"Lua_UnCompress7z");
            qvrrun::Record(qvrrun::Failure::kPayload);
            lua_pushboolean(L, 0);
            return 1;
        }
        DebugTrace(L"UnCompress %s to %s .\r\n", nameText.c_str(), destination.c_str());
        void* bytes = ::LockResource(res.data);
        const DWORD size = bytes ? res.size : 0;
        ExchangeFirstTwoBytes(bytes, size);
        // The archive is read from the program's file at the resource's place,
        // a piece at a time, with the first two bytes as the image now holds
        // them: memory stays the same whatever the payload's size. When the
        // file cannot be used, the mapped resource is read in place.
        ModuleFileRange range;
        if (size >= 2 && LocateInModuleFile(::GetModuleHandleW(nullptr), bytes, size, &range)) {
            CFileRangeInStream in(range.file.get(), range.offset, size, static_cast<const Byte*>(bytes));
            code = Extract7zToDirectory(&in.vt, destination.c_str(), onExtracted, onFailed);
        } else {
            CMemInStream in(bytes, size);
            code = Extract7zToDirectory(&in.vt, destination.c_str(), onExtracted, onFailed);
        }
    }

    if (code == 0) {
        DebugTrace(L"UnCompress successful.\r\n");
    } else {
        DebugTrace(L"Fun:%s, Description: UnCompress failed.!\r\n", L"Lua_UnCompress7z");
        // A file that could not be written (the disk, the rights) or an
        // archive that could not be read: the installation is incomplete.
        LOG_INFO("extraction to {} failed with code {}", WideToAnsi(destination), code);
        qvrrun::Record(code == kExtractFileError ? qvrrun::Failure::kWrite : qvrrun::Failure::kPayload);
    }
    lua_pushboolean(L, code == 0 ? 1 : 0);
    return 1;
}

// Lua_HttpPost(url, body): POSTs the body as JSON; true when the exchange
// completed. An empty URL sends nothing and answers false.
int Lua_HttpPost(lua_State* L) {
    const std::string url = qvrargs::Utf8(L, 1);
    const std::string body = qvrargs::Utf8(L, 2);
    if (url.empty()) {
        DebugTrace(L"Post Url: empty url, nothing sent\r\n");
        lua_pushboolean(L, 0);
        return 1;
    }
    CHttpClient client(false, false, 13, 15);
    std::string response;
    const int code = client.PostJson(url.c_str(), body.c_str(), &response);
    DebugTrace(L"Post Url code: %d", code);
    lua_pushboolean(L, code == 0 ? 1 : 0);
    return 1;
}

// Lua_Logout(text): writes the text to the debugger output and, as ANSI text,
// to the log file.
int Lua_Logout(lua_State* L) {
    const std::wstring text = qvrargs::Text(L, 1);
    DebugTrace(L"%s", text.c_str());
    LOG_INFO("log:{}", WideToAnsi(text));
    return 0;
}
