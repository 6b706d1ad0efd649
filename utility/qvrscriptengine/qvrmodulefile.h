// Where bytes of a loaded program's image (a locked resource) lie in the
// program's own file, so that a large resource can be read from the file
// piece by piece instead of through the mapped image.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "nqpublic/nqbase/nqhandle.h"

struct ModuleFileRange {
    nq::unique_hfile file;  // the module's file, open for reading
    uint64_t offset = 0;    // file offset of the first byte
};

// Finds the `size` bytes at `bytes`, which lie in the loaded image of
// `module`, in the module's file: their RVA is turned into a file offset
// through the image's section table, the file named by GetModuleFileNameW is
// opened for reading, and the bytes there are compared with the image's (a
// sample at both ends, bytes 0 and 1 left out: a payload's are exchanged in
// the image). False, with `out` unchanged, when the bytes are not file data
// of one section, the file cannot be opened or read, or it holds other bytes
// (replaced since the program started).
bool LocateInModuleFile(HMODULE module, const void* bytes, size_t size, ModuleFileRange* out);
