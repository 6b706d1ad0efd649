// The resources that describe the product's installer to Windows: its icon,
// the version information shown in the file's properties, and the
// application manifest with the execution level.
#pragma once

#include <string>
#include <vector>

#include "peresources.h"

namespace qvrpack {

struct VersionFields {
    std::wstring productName;
    std::wstring company;
    std::wstring version;  // up to four numbers: 1.2.3.4
    std::wstring description;
    std::wstring copyright;
    std::wstring originalFilename;
};

// RT_ICON images and the RT_GROUP_ICON 128 from the bytes of an .ico file.
// Throws PackError(kExitInput) when the file is not an icon.
std::vector<Resource> IconResources(const Bytes& ico, const std::string& what);
// VS_VERSIONINFO for the fields; throws PackError(kExitUsage) on a bad version.
Resource VersionResource(const VersionFields& fields);
// The manifest: requireAdministrator, or asInvoker when `asInvoker`. No
// operating-system compatibility entries, so the version the system reports
// to the scripts stays the one a program without them sees.
Resource ManifestResource(bool asInvoker);

}  // namespace qvrpack
