// Resources put into a ready executable: a new resource section appended to
// the engine, with the headers (section table, image size, resource
// directory, time stamp, checksum) fixed up to match.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fileio.h"

namespace qvrpack {

// A resource type or name: a number, or a string (stored upper-case, as
// resource compilers do; the loader looks names up ignoring case).
struct ResId {
    uint16_t id = 0;
    std::wstring name;
    static ResId Number(uint16_t n) { return ResId{n, {}}; }
    static ResId Text(const std::wstring& s);
};

struct Resource {
    ResId type;
    ResId name;
    uint16_t language = 0;
    Bytes data;
};

// The resource section's bytes for a section at `sectionRva`.
Bytes BuildResourceSection(const std::vector<Resource>& resources, uint32_t sectionRva);

// The engine `stub` with the resources added. The stub must be a 32-bit
// executable without resources, certificate, symbols or trailing data (the
// string table a stripped program keeps is moved behind the new section). `timeStamp`
// replaces the header's link time when not 0. Throws PackError(kExitInput).
Bytes AttachResources(const Bytes& stub, const std::vector<Resource>& resources, uint32_t timeStamp);

}  // namespace qvrpack
