// Extraction of the 7z payload into a directory, over the 7-Zip C reader.
//
// One blocking call, Extract7zToDirectory, reads the archive from any seekable
// input stream (CMemInStream over a memory block, or the reader's own
// CFileInStream over a file handle), recreates the directory tree under the
// output directory, writes every file, and applies the stored last-write time
// and attribute word. The result is 0 or a code of the reader's set (7zTypes.h:
// SZ_ERROR_*), or 11 when an output file cannot be created, written or closed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include <7zTypes.h>

// Non-owning, seekable view over a caller-owned block, laid out as an
// ISeekInStream (the interface first, then the view). The block must stay
// alive and unchanged while the stream is in use.
// With `firstTwoExchanged` the stream reads the block as if its first two
// bytes were exchanged (the payload resource's stored form), leaving the
// block itself untouched.
struct CMemInStream {
    CMemInStream(const void* data, uint32_t size, bool firstTwoExchanged = false);

    ISeekInStream vt;  // Read, Seek
    const Byte* data;
    uint32_t size;
    uint32_t position;
    bool firstTwoExchanged;
};

// Called with the full path after each file entry has been written, closed and
// given its attributes.
using OnFileExtracted = std::function<void(const wchar_t* path)>;
// Called with the full path and the system error code when an output file
// cannot be created. Answer 0: try once more; 1: skip this entry; anything
// else: stop the extraction (result 11).
using OnCreateFileFailed = std::function<int(const wchar_t* path, DWORD error)>;

// Result codes besides those of the reader.
constexpr int kExtractFileError = 11;  // SZ_ERROR_FAIL: an output file failed

// Extracts every entry of the archive read from `stream` (positioned at its
// first byte) into `outDir`, which must exist (no trailing separator). Entries
// whose names would leave the output directory (a drive, a leading separator,
// a ".." component) or name a DOS device ("NUL", "con.txt"), and entries
// stored without any name, make the whole call fail with SZ_ERROR_ARCHIVE (16)
// before anything is written.
int Extract7zToDirectory(ISeekInStreamPtr stream, const wchar_t* outDir, const OnFileExtracted& onFileExtracted,
                         const OnCreateFileFailed& onCreateFileFailed);

// Calls `onEntry` with every stored entry name (UTF-16, not terminated at
// `length`, '/' or '\' separated) and whether the entry is a directory,
// reading only the archive's headers: nothing is decoded or written. The
// result is 0 or a code of the reader's set.
using OnArchiveEntry = std::function<void(const wchar_t* name, size_t length, bool isDirectory)>;
int List7zEntries(ISeekInStreamPtr stream, const OnArchiveEntry& onEntry);

// True when a stored entry name (UTF-16, '/' or '\' separated) names a file
// inside the directory it is extracted to.
bool Is7zEntryNameSafe(const wchar_t* name, size_t length);
