// Lua 5.2 source compiled to the bytecode the installer loads: the packager
// is a 32-bit program with the engine's own Lua, so the chunk has the
// engine's layout (sizes of int, size_t, numbers).
#pragma once

#include <string>

#include "fileio.h"

namespace qvrpack {

// Compiles the script at `path`; the chunk is named after the file name alone.
// A syntax error throws PackError(kExitScript) with "<path>:<line>: <message>".
Bytes CompileLuaFile(const std::wstring& path, const char* what);
// Compiles source text given in memory (an empty configuration, for instance).
Bytes CompileLuaText(const std::string& source, const std::string& chunkName);
// True when the chunk carries `text` among its strings (ASCII case ignored).
bool ChunkMentions(const Bytes& bytecode, const std::string& text);

}  // namespace qvrpack
