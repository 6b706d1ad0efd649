// The file name of a loaded module, whatever its length.
#pragma once

#include <windows.h>

#include <string>

namespace nq {

// Full path of `module` (nullptr: the running program); "" when it cannot be
// read. The buffer grows until the whole name fits (long-path names up to
// 32,767 units).
inline std::wstring ModuleFileName(HMODULE module = nullptr) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return L"";
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) return L"";
        path.resize(path.size() * 2);
    }
}

}  // namespace nq
