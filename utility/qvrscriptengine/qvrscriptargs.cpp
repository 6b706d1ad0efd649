#include "qvrscriptargs.h"

#include <cmath>
#include <cstring>

#include "../../nqpublic/nqbase/log/nqbaselog.h"
#include "qvrscriptengine.h"

namespace {
std::wstring ToWide(UINT cp, const char* text, size_t len) {
    if (!text || len == 0) return {};
    const int n = ::MultiByteToWideChar(cp, 0, text, static_cast<int>(len), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(cp, 0, text, static_cast<int>(len), &out[0], n);
    return out;
}
std::string FromWide(UINT cp, const wchar_t* text) {
    if (!text || !*text) return {};
    const int n = ::WideCharToMultiByte(cp, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(cp, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}
}  // namespace

std::wstring ScriptToWide(const char* text) { return text ? ToWide(CP_UTF8, text, std::strlen(text)) : L""; }
std::wstring ScriptToWide(const char* text, size_t len) { return ToWide(CP_UTF8, text, len); }
std::string WideToScript(const wchar_t* text) { return FromWide(CP_UTF8, text); }
std::wstring AnsiToWide(const char* text) { return text ? ToWide(CP_THREAD_ACP, text, std::strlen(text)) : L""; }
std::wstring AnsiToWide(const char* text, size_t len) { return ToWide(CP_THREAD_ACP, text, len); }
std::string WideToAnsi(const wchar_t* text) { return FromWide(CP_THREAD_ACP, text); }

std::wstring ExpandPath(const std::wstring& path) {
    wchar_t buf[MAX_PATH] = {};
    const DWORD n = ::ExpandEnvironmentStringsW(path.c_str(), buf, MAX_PATH);
    if (n == 0 || n > MAX_PATH) {
        // Failed, or the expansion does not fit: the empty path, which every
        // function treats as "does not exist". Going on with a cut or an
        // unexpanded text could name another, existing file.
        return L"";
    }
    return buf;
}

namespace qvrargs {

std::string Utf8(lua_State* L, int idx) {
    const int t = lua_type(L, idx);
    if (t != LUA_TSTRING && t != LUA_TNUMBER) return {};
    size_t len = 0;
    // lua_tolstring converts a number in place; work on a copy so that the
    // caller's argument (and a running lua_next) is left alone.
    lua_pushvalue(L, idx);
    const char* s = lua_tolstring(L, -1, &len);
    std::string out(s ? s : "", s ? len : 0);
    lua_pop(L, 1);
    return out;
}

std::wstring Text(lua_State* L, int idx) {
    const std::string s = Utf8(L, idx);
    return ScriptToWide(s.data(), s.size());
}

namespace {
bool Number(lua_State* L, int idx, lua_Number& out) {
    const int t = lua_type(L, idx);
    if (t != LUA_TNUMBER && t != LUA_TSTRING) return false;
    int isnum = 0;
    out = lua_tonumberx(L, idx, &isnum);
    return isnum != 0;
}
}  // namespace

int32_t Int(lua_State* L, int idx) { return static_cast<int32_t>(UInt(L, idx)); }

uint32_t UInt(lua_State* L, int idx) {
    lua_Number n = 0;
    if (!Number(L, idx, n) || !std::isfinite(n)) return 0;
    // Same wrap-around as the library's own unsigned conversion.
    const double m = std::fmod(std::floor(n), 4294967296.0);
    return static_cast<uint32_t>(m < 0 ? m + 4294967296.0 : m);
}

bool Bool(lua_State* L, int idx) { return lua_toboolean(L, idx) != 0; }

std::wstring Path(lua_State* L, int idx) { return ExpandPath(Text(L, idx)); }

void PushText(lua_State* L, const std::wstring& text) {
    const std::string s = WideToScript(text);
    lua_pushlstring(L, s.data(), s.size());
}

}  // namespace qvrargs

ScriptCallback::ScriptCallback(lua_State* L, int idx) {
    if (lua_type(L, idx) != LUA_TFUNCTION) return;
    lua_pushvalue(L, idx);
    ref_ = luaL_ref(L, LUA_REGISTRYINDEX);
    L_ = L;
}

ScriptCallback::~ScriptCallback() {
    if (L_ && ref_ != LUA_NOREF && ref_ != LUA_REFNIL) luaL_unref(L_, LUA_REGISTRYINDEX, ref_);
}

int ScriptCallback::Call(std::initializer_list<CallbackArg> args) {
    if (!*this) return 2;
    lua_State* L = L_;
    const int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref_);
    for (const CallbackArg& a : args) {
        if (a.isPath) {
            if (a.path)
                qvrargs::PushText(L, a.path);
            else
                lua_pushnil(L);
        } else {
            qvrargs::PushUInt(L, a.number);
        }
    }
    int answer = 0;
    if (QVRScriptEngine::CallProtected(L, static_cast<int>(args.size()), 1) != LUA_OK) {
        const std::wstring message = ScriptToWide(lua_tostring(L, -1));
        DebugTrace(L"%s\r\n", message.c_str());
        answer = 2;
    } else {
        answer = static_cast<int>(qvrargs::Int(L, -1));
    }
    lua_settop(L, top);
    return answer;
}
