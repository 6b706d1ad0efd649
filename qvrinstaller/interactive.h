// Pieces of the interactive run that tests reach.
#pragma once

#include <windows.h>

namespace qvrapp {

// The product's key under HKEY_CURRENT_USER that holds its "UnionId".
extern const wchar_t kUnionIdKey[];
// The union id when the registry has none (or one below 100).
constexpr DWORD kDefaultUnionId = 31000;

// The "UnionId" DWORD of root\subKey; kDefaultUnionId when the key or value
// is missing, of another type or size, or below 100.
DWORD ReadUnionId(HKEY root, const wchar_t* subKey);

}  // namespace qvrapp
