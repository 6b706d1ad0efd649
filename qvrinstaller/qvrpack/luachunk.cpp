#include "luachunk.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <lua.hpp>

#include "packerror.h"

namespace qvrpack {

namespace {

struct StateCloser {
    void operator()(lua_State* L) const { lua_close(L); }
};

int AppendChunk(lua_State*, const void* p, size_t size, void* ud) {
    auto* out = static_cast<Bytes*>(ud);
    const auto* b = static_cast<const uint8_t*>(p);
    out->insert(out->end(), b, b + size);
    return 0;
}

// Compiles; on a syntax error returns false with Lua's message in `error`.
bool Compile(const char* data, size_t size, const std::string& chunkName, Bytes& out, std::string& error) {
    std::unique_ptr<lua_State, StateCloser> L(luaL_newstate());
    if (!L) {
        error = "out of memory";
        return false;
    }
    if (luaL_loadbufferx(L.get(), data, size, chunkName.c_str(), "t") != LUA_OK) {
        const char* msg = lua_tostring(L.get(), -1);
        error = msg ? msg : "unknown error";
        return false;
    }
    if (lua_dump(L.get(), &AppendChunk, &out) != 0) {
        error = "cannot write the bytecode";
        return false;
    }
    return true;
}

std::string AnsiName(const std::wstring& name) {
    const int n = ::WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1u, '\0');
    ::WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

}  // namespace

Bytes CompileLuaFile(const std::wstring& path, const char* what) {
    const Bytes source = ReadWholeFile(path, what);
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    // The chunk name is the file name in the system code page, as luac gives it
    // and as the installer's script error box shows it.
    const std::string ansi = AnsiName(name);
    Bytes out;
    std::string error;
    if (!Compile(reinterpret_cast<const char*>(source.data()), source.size(), "@" + ansi, out, error)) {
        // Lua starts the message with the chunk name; the user wants the path they gave.
        if (error.compare(0, ansi.size() + 1, ansi + ":") == 0) error = error.substr(ansi.size());
        else error = ": " + error;
        throw PackError(kExitScript, WideToUtf8(path) + error);
    }
    return out;
}

Bytes CompileLuaText(const std::string& source, const std::string& chunkName) {
    Bytes out;
    std::string error;
    if (!Compile(source.data(), source.size(), "=" + chunkName, out, error))
        throw PackError(kExitScript, chunkName + ": " + error);
    return out;
}

bool ChunkMentions(const Bytes& bytecode, const std::string& text) {
    auto eq = [](uint8_t a, char b) {
        return std::toupper(a) == std::toupper(static_cast<unsigned char>(b));
    };
    return std::search(bytecode.begin(), bytecode.end(), text.begin(), text.end(), eq) != bytecode.end();
}

}  // namespace qvrpack
