// File access for the packager: whole-file reads, folder listings in a fixed
// order, and the output file that only appears once it is complete.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "nqpublic/nqbase/nqhandle.h"

namespace qvrpack {

using Bytes = std::vector<uint8_t>;

std::wstring Utf8ToWide(const std::string& s);
std::string WideToUtf8(const std::wstring& s);

// Reads a whole file; throws PackError(kExitInput) naming `what` on failure.
Bytes ReadWholeFile(const std::wstring& path, const char* what);
bool IsDirectory(const std::wstring& path);
bool PathExists(const std::wstring& path);
std::wstring FullPath(const std::wstring& path);
// Same file on disk (volume and file index), also through other names.
bool SameFile(const std::wstring& a, const std::wstring& b);

struct FolderEntry {
    std::wstring relative;  // with '/' between the parts
    std::wstring full;
    bool directory = false;
    uint64_t size = 0;
    uint64_t lastWrite = 0;  // FILETIME
    uint32_t attributes = 0;
};
// Every file and folder below `root`, parents before children, names compared
// ordinally part by part (the same order on every machine).
std::vector<FolderEntry> ListFolder(const std::wstring& root);

// The installer being written: a temporary file beside the target that becomes
// the target only in Commit(); destroyed without Commit(), it is deleted.
class PendingFile {
public:
    explicit PendingFile(const std::wstring& target);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::wstring& path() const { return temp_; }
    void Write(const Bytes& data);
    void Commit();

private:
    std::wstring target_;
    std::wstring temp_;
    bool committed_ = false;
};

}  // namespace qvrpack
