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
// The current directory of the process (the test's binary folder under CTest).
std::wstring CurrentDir();

}  // namespace testutil
