// Little-endian numbers in byte buffers: the PE, ZIP and version-resource
// writers all read and write them.
#pragma once

#include <cstdint>

#include "fileio.h"

namespace qvrpack::le {

inline uint32_t Get16(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8); }
inline uint32_t Get32(const Bytes& b, size_t at) { return Get16(b, at) | (Get16(b, at + 2) << 16); }
inline void Set16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Set32(Bytes& b, size_t at, uint32_t v) {
    Set16(b, at, v & 0xFFFF);
    Set16(b, at + 2, v >> 16);
}
inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

}  // namespace qvrpack::le
