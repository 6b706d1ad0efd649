// The skin package: a folder zipped the same way every time (sorted names,
// one fixed time, deflate), or a ready ZIP, checked for what the installer
// window reads from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fileio.h"

namespace qvrpack {

// Zips every file below `root`; `dosDateTime` is the MS-DOS date (high word)
// and time (low word) every entry carries.
Bytes ZipFolder(const std::wstring& root, uint32_t dosDateTime);

// Names stored in a ZIP's central directory; throws PackError(kExitInput) when
// the package is not one the installer can read (no directory, ZIP64, methods
// other than stored and deflated).
std::vector<std::string> ZipEntryNames(const Bytes& zip, const std::string& what);

// The window's layout the installer loads from the package.
constexpr const char* kSkinLayoutEntry = "Layout/Layout.xml";

}  // namespace qvrpack
