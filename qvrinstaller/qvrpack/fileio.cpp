#include "fileio.h"

#include <algorithm>

#include "packerror.h"

namespace qvrpack {

std::wstring Utf8ToWide(const std::string& s) {
    if (s.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string WideToUtf8(const std::wstring& s) {
    if (s.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

Bytes ReadWholeFile(const std::wstring& path, const char* what) {
    nq::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD err = ::GetLastError();
        const bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
        throw PackError(kExitInput, std::string(what) + " " + WideToUtf8(path) +
                                        (missing ? " does not exist" : " cannot be opened (error " + std::to_string(err) + ")"));
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFF0000LL)
        throw PackError(kExitInput, std::string(what) + " " + WideToUtf8(path) + " is too large to read");
    Bytes data(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < data.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 24));
        if (!::ReadFile(file.get(), data.data() + done, want, &got, nullptr) || got == 0)
            throw PackError(kExitInput, std::string(what) + " " + WideToUtf8(path) + " cannot be read");
        done += got;
    }
    return data;
}

bool IsDirectory(const std::wstring& path) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring FullPath(const std::wstring& path) {
    const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring out(n, L'\0');
    const DWORD got = ::GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
    out.resize(got);
    return out;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    auto open = [](const std::wstring& p) {
        return nq::unique_hfile(::CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    };
    nq::unique_hfile fa = open(a), fb = open(b);
    if (!fa || !fb) return ::lstrcmpiW(FullPath(a).c_str(), FullPath(b).c_str()) == 0;
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!::GetFileInformationByHandle(fa.get(), &ia) || !::GetFileInformationByHandle(fb.get(), &ib))
        return ::lstrcmpiW(FullPath(a).c_str(), FullPath(b).c_str()) == 0;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

namespace {

uint64_t ToU64(FILETIME t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

void ListInto(const std::wstring& dir, const std::wstring& prefix, std::vector<FolderEntry>& out, int depth) {
    if (depth > 64) throw PackError(kExitInput, "folder " + WideToUtf8(dir) + " is nested too deeply");
    WIN32_FIND_DATAW fd{};
    nq::unique_hfind find(::FindFirstFileW((dir + L"\\*").c_str(), &fd));
    if (!find) throw PackError(kExitInput, "folder " + WideToUtf8(dir) + " cannot be listed");
    std::vector<FolderEntry> here;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        FolderEntry e;
        e.relative = prefix.empty() ? name : prefix + L"/" + name;
        e.full = dir + L"\\" + name;
        e.directory = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.size = e.directory ? 0 : (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        e.lastWrite = ToU64(fd.ftLastWriteTime);
        e.attributes = fd.dwFileAttributes;
        here.push_back(std::move(e));
    } while (::FindNextFileW(find.get(), &fd));
    std::sort(here.begin(), here.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.relative < b.relative; });
    for (FolderEntry& e : here) {
        const bool directory = e.directory;
        const std::wstring full = e.full, relative = e.relative;
        out.push_back(std::move(e));
        if (directory) ListInto(full, relative, out, depth + 1);
    }
}

}  // namespace

std::vector<FolderEntry> ListFolder(const std::wstring& root) {
    std::vector<FolderEntry> out;
    std::wstring dir = root;
    while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
    ListInto(dir, L"", out, 0);
    return out;
}

PendingFile::PendingFile(const std::wstring& target) : target_(target) {
    temp_ = target + L".qvrpack-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
}

PendingFile::~PendingFile() {
    if (!committed_) ::DeleteFileW(temp_.c_str());
}

void PendingFile::Write(const Bytes& data) {
    nq::unique_hfile file(::CreateFileW(temp_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    if (!file)
        throw PackError(kExitOutput, "cannot create " + WideToUtf8(temp_) + " (error " +
                                         std::to_string(::GetLastError()) + ")");
    size_t done = 0;
    while (done < data.size()) {
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 24));
        if (!::WriteFile(file.get(), data.data() + done, want, &put, nullptr) || put == 0)
            throw PackError(kExitOutput, "cannot write " + WideToUtf8(temp_) + " (error " +
                                             std::to_string(::GetLastError()) + ")");
        done += put;
    }
    if (!::FlushFileBuffers(file.get()))
        throw PackError(kExitOutput, "cannot write " + WideToUtf8(temp_));
}

void PendingFile::Commit() {
    if (!::MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw PackError(kExitOutput, "cannot replace " + WideToUtf8(target_) + " (error " +
                                         std::to_string(::GetLastError()) + ")");
    committed_ = true;
}

}  // namespace qvrpack
