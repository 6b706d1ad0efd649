// The payload as a 7z archive the installer's reader takes: LZMA2 in bounded
// solid blocks, executables through the x86 branch converter first.
#pragma once

#include <cstdint>
#include <string>

#include "fileio.h"

namespace qvrpack {

// The payload's default LZMA2 dictionary: 4 MiB packs the benchmark payload
// within 1 % of 16 MiB and keeps the installer's decoding memory low.
constexpr uint32_t kDefaultDictionaryBytes = 4u << 20;

struct PayloadOptions {
    uint32_t solidBlockBytes = 16u << 20;  // unpacked bytes per solid block at most
    // LZMA2 dictionary (no larger than the block it packs): the installer holds
    // one per solid block it decodes, so it bounds the installer's memory.
    uint32_t dictionaryBytes = kDefaultDictionaryBytes;
    int level = 7;                         // LZMA level, 0..9
    uint64_t latestTime = 0;               // FILETIME; later file times are clamped to it (0: none)
};

struct PayloadStats {
    size_t files = 0;
    size_t folders = 0;
    size_t blocks = 0;
    uint64_t unpacked = 0;
};

// Packs every file and folder below `root`. Throws PackError.
Bytes PackFolder(const std::wstring& root, const PayloadOptions& options, PayloadStats* stats = nullptr);

// True for names the x86 branch converter helps: Windows programs and libraries.
bool IsX86Executable(const std::wstring& name);

}  // namespace qvrpack
