#include "tests/scriptapi_files/filehelpers.h"

#include <windows.h>

#include <string>
#include <vector>

#include "tests/common/testutil.h"

namespace filetest {

namespace {

std::vector<HANDLE> g_locks;

std::wstring Arg(lua_State* L, int idx) {
    size_t len = 0;
    const char* s = lua_tolstring(L, idx, &len);
    return s ? testutil::Utf8ToWide(std::string(s, len)) : std::wstring();
}

void PushWide(lua_State* L, const std::wstring& w) {
    const std::string s = testutil::WideToUtf8(w);
    lua_pushlstring(L, s.data(), s.size());
}

int Write(lua_State* L) {
    size_t len = 0;
    const char* text = lua_tolstring(L, 2, &len);
    lua_pushboolean(L, testutil::WriteFileBytes(Arg(L, 1), std::string(text ? text : "", text ? len : 0)));
    return 1;
}

int Read(lua_State* L) {
    std::string bytes;
    if (testutil::ReadFileBytes(Arg(L, 1), bytes))
        lua_pushlstring(L, bytes.data(), bytes.size());
    else
        lua_pushnil(L);
    return 1;
}

int Exists(lua_State* L) {
    lua_pushboolean(L, testutil::FileExists(Arg(L, 1)));
    return 1;
}

int IsDir(lua_State* L) {
    const DWORD a = ::GetFileAttributesW(Arg(L, 1).c_str());
    lua_pushboolean(L, a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY));
    return 1;
}

int MkDir(lua_State* L) {
    lua_pushboolean(L, ::CreateDirectoryW(Arg(L, 1).c_str(), nullptr));
    return 1;
}

int ReadOnly(lua_State* L) {
    const std::wstring path = Arg(L, 1);
    const DWORD a = ::GetFileAttributesW(path.c_str());
    ::SetFileAttributesW(path.c_str(), a | FILE_ATTRIBUTE_READONLY);
    lua_pushboolean(L, (::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0);
    return 1;
}

int Lock(lua_State* L) {
    HANDLE h = ::CreateFileW(Arg(L, 1).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) g_locks.push_back(h);
    lua_pushboolean(L, h != INVALID_HANDLE_VALUE);
    return 1;
}

int Unlock(lua_State*) {
    UnlockAll();
    return 0;
}

int ChDir(lua_State* L) {
    lua_pushboolean(L, ::SetCurrentDirectoryW(Arg(L, 1).c_str()));
    return 1;
}

int Cwd(lua_State* L) {
    wchar_t cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, cwd);
    PushWide(L, cwd);
    return 1;
}

}  // namespace

void RegisterHelpers(lua_State* L) {
    const luaL_Reg helpers[] = {
        {"t_write", Write}, {"t_read", Read},   {"t_exists", Exists}, {"t_isdir", IsDir},
        {"t_mkdir", MkDir}, {"t_readonly", ReadOnly}, {"t_lock", Lock}, {"t_unlock", Unlock},
        {"t_chdir", ChDir}, {"t_cwd", Cwd},     {nullptr, nullptr},
    };
    for (const luaL_Reg* h = helpers; h->name; ++h) lua_register(L, h->name, h->func);
}

void UnlockAll() {
    for (HANDLE h : g_locks) ::CloseHandle(h);
    g_locks.clear();
}

}  // namespace filetest
