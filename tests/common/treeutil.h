// Helpers for tests that look at folder trees written by the code under test.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

// Every entry under `dir`, relative to it, sorted; folders end with '\'.
std::vector<std::wstring> ListTree(const std::wstring& dir);
// Last-write time of a file or folder as seconds since 1970 (UTC); -1 when
// the path cannot be read.
int64_t LastWriteUnixTime(const std::wstring& path);
// A path of exactly `length` UTF-16 units: `base`, a backslash, then `unit`
// repeated, in folders of at most 50 units (no separator at the end).
std::wstring PathOfLength(const std::wstring& base, size_t length, const std::wstring& unit);
// The current directory of the process (the test's binary folder under CTest).
std::wstring CurrentDir();

}  // namespace testutil
