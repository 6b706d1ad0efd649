// Value types shared with scripts: the text buffers AString and WString, the
// byte block RawBuffer, DllManager with its call stubs, and the DLL cache
// GLibTab.
//
// Every object is a full userdata whose block is the payload itself, so a DLL
// export called through a stub receives the block's address. Types are
// recognised by their named metatables, never by guessing at the block.
//
// Bounds: every position and offset a script gives is checked against the
// block (lua_rawlen). A read outside gives nil, a write outside changes
// nothing, and a text that a DLL left without its terminator is cut at the end
// of the block.
//
// The interpreter is compiled as C, so a script error unwinds with longjmp.
// Only DllCallStub raises one ("unknow argument type"), before it owns anything.
// Blocks whose size a script chooses are allocated under a protected call, so
// an impossible size gives nil instead of a memory error.
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "../../nqpublic/nqbase/log/nqbaselog.h"
#include "qvrdllcall.h"
#include "qvrscriptapi.h"
#include "qvrscriptargs.h"

namespace {

const char kAStringMeta[] = "AStringMetaTable";
const char kWStringMeta[] = "WStringMetaTable";
const char kRawBufferMeta[] = "RawBufferMetaTable";
const char kDllManagerMeta[] = "DllManagerMetaTable";
const char kGLibTabMeta[] = "GlobalLibTableMetaTable";
// Registry entry: the user value given to a DllManager whose module was freed.
const char kDllUnloadedMark[] = "QvrDllManagerUnloaded";

// ---------------------------------------------------------------------------
// Conversions

// The language's integer conversion: a number or numeric string rounded to the
// nearest integer (ties to even) and wrapped to 32 bits; anything else 0.
uint32_t ToWord(lua_State* L, int idx) {
    if (idx < 1) return 0;
    const int t = lua_type(L, idx);
    if (t != LUA_TNUMBER && t != LUA_TSTRING) return 0;
    int isnum = 0;
    const lua_Number n = lua_tonumberx(L, idx, &isnum);
    if (!isnum || !std::isfinite(n)) return 0;
    double m = std::fmod(std::nearbyint(n), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return static_cast<uint32_t>(m);
}
int32_t ToInt(lua_State* L, int idx) { return static_cast<int32_t>(ToWord(L, idx)); }

// The object's block when the value at `idx` is a userdata of that type.
void* ToObject(lua_State* L, int idx, const char* meta) {
    if (idx < 1 || lua_type(L, idx) != LUA_TUSERDATA) return nullptr;
    return luaL_testudata(L, idx, meta);
}

// Contents of a text object: units before the first zero, never past the block.
std::string AnsiContents(lua_State* L, int idx) {
    const char* p = static_cast<const char*>(lua_touserdata(L, idx));
    const size_t cap = lua_rawlen(L, idx);
    return std::string(p, strnlen(p, cap));
}
std::wstring WideContents(lua_State* L, int idx) {
    const wchar_t* p = static_cast<const wchar_t*>(lua_touserdata(L, idx));
    const size_t cap = lua_rawlen(L, idx) / sizeof(wchar_t);
    return std::wstring(p, wcsnlen(p, cap));
}

// Script values as ANSI (thread code page) and UTF-16 text.
std::string ValueToAnsi(lua_State* L, int idx) {
    if (idx < 1) return {};
    switch (lua_type(L, idx)) {
        case LUA_TNUMBER:
        case LUA_TSTRING:
            return WideToAnsi(qvrargs::Text(L, idx));
        case LUA_TUSERDATA:
            if (ToObject(L, idx, kAStringMeta)) return AnsiContents(L, idx);
            if (ToObject(L, idx, kWStringMeta)) return WideToAnsi(WideContents(L, idx));
            return {};
        default:
            return {};
    }
}
std::wstring ValueToWide(lua_State* L, int idx) {
    if (idx < 1) return {};
    switch (lua_type(L, idx)) {
        case LUA_TNUMBER:
        case LUA_TSTRING:
            return qvrargs::Text(L, idx);
        case LUA_TUSERDATA:
            if (ToObject(L, idx, kAStringMeta)) {
                const std::string a = AnsiContents(L, idx);
                return AnsiToWide(a.data(), a.size());
            }
            if (ToObject(L, idx, kWStringMeta)) return WideContents(L, idx);
            return {};
        default:
            return {};
    }
}

void PushAnsiAsScript(lua_State* L, const char* text, size_t len) {
    qvrargs::PushText(L, AnsiToWide(text, len));
}

// ---------------------------------------------------------------------------
// Blocks

int NewBlockUnprotected(lua_State* L) {
    const size_t size = reinterpret_cast<size_t>(lua_touserdata(L, 1));
    void* block = lua_newuserdata(L, size);
    std::memset(block, 0, size);
    return 1;
}

// A new zero-filled userdata of `size` bytes on the stack top, or null with
// nothing pushed when the interpreter cannot allocate it.
void* NewBlock(lua_State* L, size_t size) {
    lua_pushcfunction(L, &NewBlockUnprotected);
    lua_pushlightuserdata(L, reinterpret_cast<void*>(size));
    if (lua_pcall(L, 1, 1, 0) != LUA_OK) {
        lua_pop(L, 1);
        return nullptr;
    }
    return lua_touserdata(L, -1);
}

// ---------------------------------------------------------------------------
// AString and WString

// New(capacity [, value]) for both text types. `unit` is the size of one
// character; `text`/`n` the converted value.
int NewText(lua_State* L, const char* meta, size_t unit) {
    const int argc = lua_gettop(L);
    const int32_t capacity = ToInt(L, 1);
    std::string ansi;
    std::wstring wide;
    if (argc < 2) {
        if (capacity < 1) {
            lua_pushnil(L);
            return 1;
        }
    } else if (unit == 1) {
        ansi = ValueToAnsi(L, 2);
    } else {
        wide = ValueToWide(L, 2);
    }
    const size_t n = unit == 1 ? ansi.size() : wide.size();
    const size_t units = capacity > 0 && static_cast<size_t>(capacity) > n ? static_cast<size_t>(capacity) : n + 1;
    if (units > (SIZE_MAX / 2) / unit) {
        lua_pushnil(L);
        return 1;
    }
    void* block = NewBlock(L, units * unit);
    if (!block) {
        lua_pushnil(L);
        return 1;
    }
    if (unit == 1)
        std::memcpy(block, ansi.data(), n);
    else
        std::memcpy(block, wide.data(), n * sizeof(wchar_t));
    luaL_setmetatable(L, meta);
    return 1;
}

int AStringNew(lua_State* L) { return NewText(L, kAStringMeta, 1); }
int WStringNew(lua_State* L) { return NewText(L, kWStringMeta, sizeof(wchar_t)); }

int AStringLen(lua_State* L) {
    if (!ToObject(L, 1, kAStringMeta)) return 0;
    lua_pushnumber(L, static_cast<lua_Number>(AnsiContents(L, 1).size()));
    return 1;
}
int WStringLen(lua_State* L) {
    if (!ToObject(L, 1, kWStringMeta)) return 0;
    lua_pushnumber(L, static_cast<lua_Number>(WideContents(L, 1).size()));
    return 1;
}

int AStringToString(lua_State* L) {
    if (!ToObject(L, 1, kAStringMeta)) return 0;
    const std::string a = AnsiContents(L, 1);
    PushAnsiAsScript(L, a.data(), a.size());
    return 1;
}
int WStringToString(lua_State* L) {
    if (!ToObject(L, 1, kWStringMeta)) return 0;
    qvrargs::PushText(L, WideContents(L, 1));
    return 1;
}

// o[i]: the character at the 0-based position as a one-character string; the
// zero terminator (or any zero) gives ""; negative positions and positions
// past the block give nil.
int AStringIndex(lua_State* L) {
    const char* p = static_cast<const char*>(ToObject(L, 1, kAStringMeta));
    const int32_t i = ToInt(L, 2);
    if (!p || i < 0 || static_cast<size_t>(i) >= lua_rawlen(L, 1)) {
        lua_pushnil(L);
        return 1;
    }
    const char c = p[i];
    if (c == 0) {
        lua_pushliteral(L, "");
    } else if (static_cast<unsigned char>(c) < 0x80) {
        lua_pushlstring(L, &c, 1);
    } else {
        // A byte of the upper half: its character when the code page has one
        // for it alone, else the byte itself (a lead byte of a pair).
        const std::wstring w = AnsiToWide(&c, 1);
        if (w.empty())
            lua_pushlstring(L, &c, 1);
        else
            qvrargs::PushText(L, w);
    }
    return 1;
}
int WStringIndex(lua_State* L) {
    const wchar_t* p = static_cast<const wchar_t*>(ToObject(L, 1, kWStringMeta));
    const int32_t i = ToInt(L, 2);
    if (!p || i < 0 || static_cast<size_t>(i) >= lua_rawlen(L, 1) / sizeof(wchar_t)) {
        lua_pushnil(L);
        return 1;
    }
    qvrargs::PushText(L, std::wstring(p[i] ? 1 : 0, p[i]));
    return 1;
}

// o[i] = v: replaces one character inside the current text (1 <= i < length)
// with the first character of v; the first character and the terminator
// cannot be written, the text cannot grow.
int AStringNewIndex(lua_State* L) {
    char* p = static_cast<char*>(ToObject(L, 1, kAStringMeta));
    if (!p) return 0;
    const int32_t i = ToInt(L, 2);
    const std::string v = ValueToAnsi(L, 3);
    const size_t len = strnlen(p, lua_rawlen(L, 1));
    if (i >= 1 && static_cast<size_t>(i) < len && !v.empty()) p[i] = v[0];
    return 0;
}
int WStringNewIndex(lua_State* L) {
    wchar_t* p = static_cast<wchar_t*>(ToObject(L, 1, kWStringMeta));
    if (!p) return 0;
    const int32_t i = ToInt(L, 2);
    const std::wstring v = ValueToWide(L, 3);
    const size_t len = wcsnlen(p, lua_rawlen(L, 1) / sizeof(wchar_t));
    if (i >= 1 && static_cast<size_t>(i) < len && !v.empty()) p[i] = v[0];
    return 0;
}

// a .. b: both operands as text of this type, joined into a new object of
// exactly the joined length plus the terminator.
int AStringConcat(lua_State* L) {
    const std::string joined = ValueToAnsi(L, 1) + ValueToAnsi(L, 2);
    void* block = NewBlock(L, joined.size() + 1);
    if (!block) {
        lua_pushnil(L);
        return 1;
    }
    std::memcpy(block, joined.data(), joined.size());
    luaL_setmetatable(L, kAStringMeta);
    return 1;
}
int WStringConcat(lua_State* L) {
    const std::wstring joined = ValueToWide(L, 1) + ValueToWide(L, 2);
    void* block = NewBlock(L, (joined.size() + 1) * sizeof(wchar_t));
    if (!block) {
        lua_pushnil(L);
        return 1;
    }
    std::memcpy(block, joined.data(), joined.size() * sizeof(wchar_t));
    luaL_setmetatable(L, kWStringMeta);
    return 1;
}

int AStringEq(lua_State* L) {
    const std::string a = ValueToAnsi(L, 1), b = ValueToAnsi(L, 2);
    lua_pushboolean(L, ::lstrcmpA(a.c_str(), b.c_str()) == 0);
    return 1;
}
int WStringEq(lua_State* L) {
    const std::wstring a = ValueToWide(L, 1), b = ValueToWide(L, 2);
    lua_pushboolean(L, ::lstrcmpW(a.c_str(), b.c_str()) == 0);
    return 1;
}

// ---------------------------------------------------------------------------
// RawBuffer

int RawBufferNew(lua_State* L) {
    const uint32_t size = ToWord(L, 1);
    if (size == 0 || !NewBlock(L, size)) {
        lua_pushnil(L);
        return 1;
    }
    luaL_setmetatable(L, kRawBufferMeta);
    return 1;
}

// The bytes [offset, offset + width) of the buffer at `objIdx`, or null when
// the value is no RawBuffer or the range leaves the block.
unsigned char* Locate(lua_State* L, int objIdx, int offIdx, size_t width, size_t* avail = nullptr) {
    auto* p = static_cast<unsigned char*>(ToObject(L, objIdx, kRawBufferMeta));
    if (!p) return nullptr;
    const size_t size = lua_rawlen(L, objIdx);
    const int32_t off = ToInt(L, offIdx);
    if (off < 0 || static_cast<size_t>(off) > size || width > size - static_cast<size_t>(off)) return nullptr;
    if (avail) *avail = size - static_cast<size_t>(off);
    return p + off;
}

// Getters: the object is the value below the last argument, the offset the
// last. A call with the object alone (b:OffsetGetAsInt32()) reads offset 0.
template <typename T>
unsigned char* GetterBytes(lua_State* L, size_t* avail = nullptr) {
    const int top = lua_gettop(L);
    if (top == 1) return Locate(L, 1, 0, sizeof(T), avail);
    return Locate(L, top - 1, top, sizeof(T), avail);
}
template <typename T>
int GetNumber(lua_State* L) {
    const unsigned char* at = GetterBytes<T>(L);
    if (!at) {
        lua_pushnil(L);
        return 1;
    }
    T v;
    std::memcpy(&v, at, sizeof v);
    lua_pushnumber(L, static_cast<lua_Number>(v));
    return 1;
}

int GetBoolean(lua_State* L) {
    const unsigned char* at = GetterBytes<uint32_t>(L);
    if (!at) {
        lua_pushnil(L);
        return 1;
    }
    uint32_t v;
    std::memcpy(&v, at, sizeof v);
    lua_pushboolean(L, v != 0);
    return 1;
}

// The address of the byte at the offset (not a pointer read from it).
int GetPointer(lua_State* L) {
    unsigned char* at = GetterBytes<unsigned char>(L);
    if (at)
        lua_pushlightuserdata(L, at);
    else
        lua_pushnil(L);
    return 1;
}

int GetWString(lua_State* L) {
    size_t avail = 0;
    const unsigned char* at = GetterBytes<wchar_t>(L, &avail);
    if (!at) {
        lua_pushnil(L);
        return 1;
    }
    std::wstring text;
    for (size_t i = 0; i + sizeof(wchar_t) <= avail; i += sizeof(wchar_t)) {
        wchar_t u;
        std::memcpy(&u, at + i, sizeof u);
        if (!u) break;
        text.push_back(u);
    }
    qvrargs::PushText(L, text);
    return 1;
}

int GetAString(lua_State* L) {
    size_t avail = 0;
    const unsigned char* at = GetterBytes<char>(L, &avail);
    if (!at) {
        lua_pushnil(L);
        return 1;
    }
    const char* text = reinterpret_cast<const char*>(at);
    PushAnsiAsScript(L, text, strnlen(text, avail));
    return 1;
}

// Setters: object, offset and value are the last three values.
template <typename T>
int SetWord(lua_State* L) {
    const int top = lua_gettop(L);
    unsigned char* at = Locate(L, top - 2, top - 1, sizeof(T));
    if (!at) return 0;
    const T v = static_cast<T>(ToWord(L, top));  // low bits of the 32-bit value
    std::memcpy(at, &v, sizeof v);
    return 0;
}

int SetBoolean(lua_State* L) {
    const int top = lua_gettop(L);
    unsigned char* at = Locate(L, top - 2, top - 1, sizeof(uint32_t));
    if (!at) return 0;
    const uint32_t v = lua_toboolean(L, top) ? 1u : 0u;
    std::memcpy(at, &v, sizeof v);
    return 0;
}

int SetPointer(lua_State* L) {
    const int top = lua_gettop(L);
    unsigned char* at = Locate(L, top - 2, top - 1, sizeof(uint32_t));
    if (!at) return 0;
    uint32_t v = 0;
    const int t = lua_type(L, top);
    if (t == LUA_TLIGHTUSERDATA || t == LUA_TUSERDATA) v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(lua_touserdata(L, top)));
    std::memcpy(at, &v, sizeof v);
    return 0;
}

// OffsetSetAsWString and OffsetSetAsAString: the value's whole block, byte for
// byte, when it fits behind the offset. Values without a block change nothing.
int SetBlock(lua_State* L) {
    const int top = lua_gettop(L);
    if (top < 3 || lua_type(L, top) != LUA_TUSERDATA) return 0;
    const size_t len = lua_rawlen(L, top);
    unsigned char* at = Locate(L, top - 2, top - 1, len);
    if (!at || len == 0) return 0;
    std::memmove(at, lua_touserdata(L, top), len);
    return 0;
}

// ---------------------------------------------------------------------------
// DllManager

HMODULE ModuleOf(lua_State* L, int idx) {
    const auto* block = static_cast<const HMODULE*>(ToObject(L, idx, kDllManagerMeta));
    return block ? *block : nullptr;
}

bool IsUnloaded(lua_State* L, int idx) {
    lua_getuservalue(L, idx);
    luaL_getmetatable(L, kDllUnloadedMark);
    const bool unloaded = lua_rawequal(L, -1, -2) != 0;
    lua_pop(L, 2);
    return unloaded;
}

void PushDllManager(lua_State* L, HMODULE module) {
    auto* block = static_cast<HMODULE*>(lua_newuserdata(L, sizeof(HMODULE)));
    *block = module;
    luaL_setmetatable(L, kDllManagerMeta);
}

// DllManager.Load(path): the path is the last argument.
int DllManagerLoad(lua_State* L) {
    const int top = lua_gettop(L);
    HMODULE module = nullptr;
    {
        const std::wstring path = top >= 1 ? qvrargs::Text(L, top) : std::wstring();
        module = ::LoadLibraryW(path.c_str());
    }
    if (!module) {
        const DWORD err = ::GetLastError();
        lua_pushnil(L);
        qvrargs::PushUInt(L, err);
        return 2;
    }
    PushDllManager(L, module);
    return 1;
}

// d:UnLoad(): frees the module once per object. The handle stays in the block;
// a second UnLoad does nothing (freeing again would drop a reference that
// belongs to another holder of the same module).
int DllManagerUnLoad(lua_State* L) {
    const int top = lua_gettop(L);
    if (HMODULE module = top >= 1 ? ModuleOf(L, top) : nullptr) {
        if (!IsUnloaded(L, top)) {
            ::FreeLibrary(module);
            luaL_getmetatable(L, kDllUnloadedMark);
            lua_setuservalue(L, top);
        }
    }
    lua_pushnil(L);
    return 1;
}

int DllCallStub(lua_State* L);

// d:Get(name [, resultKind [, callerPops]]) -> stub, 0 | nil, error
int DllManagerGet(lua_State* L) {
    const int argc = lua_gettop(L);
    HMODULE module = ModuleOf(L, 1);
    if (!module || IsUnloaded(L, 1)) {
        DebugTrace(L"if (nullptr == phMod)");
        lua_pushnil(L);
        lua_pushliteral(L, "hModule is nil");
        return 2;
    }
    FARPROC fn = nullptr;
    {
        const std::string name = qvrargs::Utf8(L, 2);
        fn = ::GetProcAddress(module, name.c_str());
    }
    if (!fn) {
        const DWORD err = ::GetLastError();
        ::OutputDebugStringW(L"if (nullptr == pfn)");
        lua_pushnil(L);
        qvrargs::PushUInt(L, err);
        return 2;
    }
    if (argc >= 3)
        lua_pushvalue(L, 3);
    else
        lua_pushnil(L);
    if (argc >= 4)
        lua_pushvalue(L, 4);
    else
        lua_pushnil(L);
    lua_pushlightuserdata(L, reinterpret_cast<void*>(fn));
    lua_pushcclosure(L, &DllCallStub, 3);
    lua_pushnumber(L, 0);
    return 2;
}

// The 32-bit word an argument of a stub call passes; false for types that
// cannot be passed.
bool ArgumentWord(lua_State* L, int idx, uint32_t& word) {
    switch (lua_type(L, idx)) {
        case LUA_TNIL:
            word = 0;
            return true;
        case LUA_TBOOLEAN:
            word = lua_toboolean(L, idx) ? 1u : 0u;
            return true;
        case LUA_TNUMBER:
            word = ToWord(L, idx);
            return true;
        case LUA_TSTRING:
            word = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(lua_tostring(L, idx)));
            return true;
        case LUA_TLIGHTUSERDATA:
        case LUA_TUSERDATA:
            word = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(lua_touserdata(L, idx)));
            return true;
        default:
            return false;
    }
}

// The returned word as the first result, by the stub's result kind.
void PushResult(lua_State* L, uint32_t word) {
    const int kindIdx = lua_upvalueindex(1);
    const char* kind = lua_type(L, kindIdx) == LUA_TSTRING ? lua_tostring(L, kindIdx) : "";
    if (std::strcmp(kind, "int") == 0) {
        lua_pushnumber(L, static_cast<lua_Number>(static_cast<int32_t>(word)));
    } else if (std::strcmp(kind, "uint") == 0) {
        qvrargs::PushUInt(L, word);
    } else if (std::strcmp(kind, "bool") == 0) {
        lua_pushboolean(L, word != 0);
    } else if (std::strcmp(kind, "astr") == 0) {
        const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(word));
        PushAnsiAsScript(L, text, text ? std::strlen(text) : 0);
    } else if (std::strcmp(kind, "wstr") == 0) {
        const wchar_t* text = reinterpret_cast<const wchar_t*>(static_cast<uintptr_t>(word));
        qvrargs::PushText(L, text ? text : L"");
    } else if (std::strcmp(kind, "ptr") == 0) {
        lua_pushlightuserdata(L, reinterpret_cast<void*>(static_cast<uintptr_t>(word)));
    } else {
        lua_pushnil(L);
    }
}

// The closure Get returns. Upvalues: 1 result kind, 2 callerPops, 3 export.
// No C++ object is alive in this frame: luaL_error longjmps out of it.
int DllCallStub(lua_State* L) {
    const void* fn = lua_touserdata(L, lua_upvalueindex(3));
    if (!fn) {
        lua_pushnumber(L, 0);
        return 1;
    }
    // Whether the callee (stdcall) or the caller (cdecl, upvalue 2 true)
    // removes the arguments makes no difference here: QvrCallWords restores
    // the stack pointer from its own frame either way.
    const int n = lua_gettop(L);
    uint32_t small[16];
    uint32_t* words = small;
    if (n > 16) words = static_cast<uint32_t*>(lua_newuserdata(L, static_cast<size_t>(n) * sizeof(uint32_t)));
    for (int i = 1; i <= n; ++i) {
        if (!ArgumentWord(L, i, words[i - 1])) return luaL_error(L, "unknow argument type");
    }
    const uint32_t result = QvrCallWords(fn, words, static_cast<uint32_t>(n));
    const DWORD err = ::GetLastError();
    PushResult(L, result);
    qvrargs::PushUInt(L, err);
    return 2;
}

// ---------------------------------------------------------------------------
// GLibTab

// GLibTab[key]: loads the DLL named by the key on first read and caches the
// DllManager object in the table under that key.
int GLibTabIndex(lua_State* L) {
    const int t = lua_type(L, 2);
    if (t != LUA_TSTRING && t != LUA_TNUMBER) {
        lua_pushnil(L);
        return 1;
    }
    HMODULE module = nullptr;
    {
        const std::wstring name = qvrargs::Text(L, 2);
        module = ::LoadLibraryW(name.c_str());
    }
    if (!module) {
        lua_pushnil(L);
        return 1;
    }
    PushDllManager(L, module);
    lua_pushvalue(L, 2);
    lua_pushvalue(L, -2);
    lua_rawset(L, 1);
    return 1;
}

// ---------------------------------------------------------------------------
// Module tables and metatables

const luaL_Reg kAStringModule[] = {{"New", AStringNew}, {nullptr, nullptr}};
const luaL_Reg kAStringMethods[] = {
    {"__index", AStringIndex},   {"__newindex", AStringNewIndex}, {"__len", AStringLen},
    {"__tostring", AStringToString}, {"__concat", AStringConcat},   {"__eq", AStringEq},
    {nullptr, nullptr},
};
const luaL_Reg kWStringModule[] = {{"New", WStringNew}, {nullptr, nullptr}};
const luaL_Reg kWStringMethods[] = {
    {"__index", WStringIndex},   {"__newindex", WStringNewIndex}, {"__len", WStringLen},
    {"__tostring", WStringToString}, {"__concat", WStringConcat},   {"__eq", WStringEq},
    {nullptr, nullptr},
};
const luaL_Reg kRawBufferModule[] = {{"New", RawBufferNew}, {nullptr, nullptr}};
const luaL_Reg kRawBufferMethods[] = {
    {"OffsetGetAsInt32", GetNumber<int32_t>},
    {"OffsetGetAsUInt32", GetNumber<uint32_t>},
    {"OffsetGetAsInt16", GetNumber<int16_t>},
    {"OffsetGetAsUInt16", GetNumber<uint16_t>},
    {"OffsetGetAsInt8", GetNumber<int8_t>},
    {"OffsetGetAsUInt8", GetNumber<uint8_t>},
    {"OffsetGetAsWString", GetWString},
    {"OffsetGetAsAString", GetAString},
    {"OffsetGetAsBoolean", GetBoolean},
    {"OffsetGetAsPointer", GetPointer},
    {"OffsetSetAsInt32", SetWord<uint32_t>},
    {"OffsetSetAsUInt32", SetWord<uint32_t>},
    {"OffsetSetAsInt16", SetWord<uint16_t>},
    {"OffsetSetAsUInt16", SetWord<uint16_t>},
    {"OffsetSetAsInt8", SetWord<uint8_t>},
    {"OffsetSetAsUInt8", SetWord<uint8_t>},
    {"OffsetSetAsWString", SetBlock},
    {"OffsetSetAsAString", SetBlock},
    {"OffsetSetAsBoolean", SetBoolean},
    {"OffsetSetAsPointer", SetPointer},
    {nullptr, nullptr},
};
const luaL_Reg kDllManagerModule[] = {{"Load", DllManagerLoad}, {nullptr, nullptr}};
const luaL_Reg kDllManagerMethods[] = {{"UnLoad", DllManagerUnLoad}, {"Get", DllManagerGet}, {nullptr, nullptr}};
const luaL_Reg kGLibTabMethods[] = {{"__index", GLibTabIndex}, {nullptr, nullptr}};

// Creates the named metatable: __index first set to the metatable itself, then
// the entries (which may replace __index). Leaves nothing on the stack.
void NewMetatable(lua_State* L, const char* name, const luaL_Reg* entries) {
    luaL_newmetatable(L, name);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    luaL_setfuncs(L, entries, 0);
    lua_pop(L, 1);
}

int OpenModule(lua_State* L, const luaL_Reg* module, const char* meta, const luaL_Reg* entries) {
    lua_newtable(L);
    luaL_setfuncs(L, module, 0);
    NewMetatable(L, meta, entries);
    return 1;
}

}  // namespace

int luaopen_AString(lua_State* L) { return OpenModule(L, kAStringModule, kAStringMeta, kAStringMethods); }
int luaopen_WString(lua_State* L) { return OpenModule(L, kWStringModule, kWStringMeta, kWStringMethods); }
int luaopen_RawBuffer(lua_State* L) { return OpenModule(L, kRawBufferModule, kRawBufferMeta, kRawBufferMethods); }
int luaopen_DllManager(lua_State* L) {
    // The shared user value of freed DllManager objects.
    luaL_newmetatable(L, kDllUnloadedMark);
    lua_pop(L, 1);
    return OpenModule(L, kDllManagerModule, kDllManagerMeta, kDllManagerMethods);
}

void CreateGLibTab(lua_State* L) {
    NewMetatable(L, kGLibTabMeta, kGLibTabMethods);
    lua_newtable(L);
    luaL_setmetatable(L, kGLibTabMeta);
    lua_setglobal(L, "GLibTab");
}
