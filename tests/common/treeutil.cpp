#include "tests/common/treeutil.h"

#include <algorithm>

namespace testutil {

namespace {
void Walk(const std::wstring& root, const std::wstring& rel, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW fd;
    const std::wstring pattern = root + (rel.empty() ? L"" : L"\\" + rel) + L"\\*";
    HANDLE h = ::FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring sub = rel.empty() ? name : rel + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(sub + L"\\");
            Walk(root, sub, out);
        } else {
            out.push_back(sub);
        }
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
}
}  // namespace

std::vector<std::wstring> ListTree(const std::wstring& dir) {
    std::vector<std::wstring> out;
    Walk(dir, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

int64_t LastWriteUnixTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    ULARGE_INTEGER t;
    t.LowPart = data.ftLastWriteTime.dwLowDateTime;
    t.HighPart = data.ftLastWriteTime.dwHighDateTime;
    return static_cast<int64_t>(t.QuadPart / 10000000ull) - 11644473600ll;
}

std::wstring CurrentDir() {
    wchar_t buf[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, buf);
    return buf;
}

std::wstring PathOfLength(const std::wstring& base, size_t length, const std::wstring& unit) {
    std::wstring path = base + L"\\";
    size_t folder = 0;
    while (path.size() < length) {
        if (folder == 50) {
            path += L"\\";
            folder = 0;
            continue;
        }
        path += unit;
        folder += unit.size();
    }
    path.resize(length);
    if (path.back() == L'\\') path.back() = unit[0];
    return path;
}

}  // namespace testutil
