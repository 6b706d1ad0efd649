// What the installer can extract: the reader's methods, the memory one solid
// block takes (the whole block is decoded at once into memory in a 32-bit
// process that also holds the payload twice: mapped and copied), and names
// that stay inside the install folder.
#pragma once

#include <cstdint>

#include "fileio.h"

namespace qvrpack {

constexpr uint64_t kMaxBlockUnpacked = 256ull << 20;
constexpr uint64_t kMaxArchiveBytes = 512ull << 20;
constexpr size_t kMaxEntryName = 200;  // UTF-16 units; the install folder comes in front

struct ArchiveSummary {
    uint32_t entries = 0;
    uint32_t blocks = 0;
    uint64_t largestBlock = 0;
};

// Checks a 7z archive (a ready one, or one the packager made) against what the
// installer can extract. Throws PackError(kExitPayload) with the reason.
ArchiveSummary CheckArchive(const Bytes& archive, const std::string& what);

}  // namespace qvrpack
