// Extraction of the 7z payload into a directory, over the 7-Zip C reader.
//
// One blocking call, Extract7zToDirectory, reads the archive from any seekable
// input stream (CMemInStream over a memory block, CFileRangeInStream over a
// part of a file, or the reader's own CFileInStream over a file handle),
// recreates the directory tree under the output directory, writes every file,
// and applies the stored last-write time and attribute word. The result is 0
// or a code of the reader's set (7zTypes.h: SZ_ERROR_*), or 11 when an output
// file cannot be created, written or closed.
//
// Solid blocks (the reader's folders) are independent of each other: with more
// than one processor they are decoded on worker threads, a few ahead of the
// one being written, while the calling thread writes the files in archive
// order and makes every callback. What the caller sees (files, times,
// attributes, callbacks and their order, result codes) is the same as with one
// thread; memory is bounded by the blocks in flight (at most the workers plus
// the block being written). Blocks of the common coder chains (LZMA or LZMA2,
// alone or with the x86 filter) are decoded as a stream in small pieces, one
// such block at a time, on a worker while the calling thread writes: what
// they hold is their dictionary and a few pieces. An archive whose blocks are
// all stored rather than compressed (packed to within 1/16 of their size) is
// extracted on the calling thread alone.
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

// Non-owning, seekable view over `size` bytes of a file from `offset` on (a
// resource inside a program file, say), laid out as an ISeekInStream. Every
// read places the handle's file pointer at its own offset first (where another
// view left it is not relied on), so several views may share one handle, one
// thread at a time. The handle must be synchronous and stay open while the
// stream is in use. With `firstTwo` the first two bytes of the range read as
// firstTwo[0] and firstTwo[1] instead of what the file holds there.
struct CFileRangeInStream {
    CFileRangeInStream(HANDLE file, uint64_t offset, uint64_t size, const Byte* firstTwo = nullptr);

    ISeekInStream vt;  // Read, Seek
    HANDLE file;
    uint64_t offset;
    uint64_t size;
    uint64_t position;
    bool replaceFirstTwo;
    Byte firstTwo[2];
};

// Called with the full path after each file entry has been written, closed and
// given its attributes.
using OnFileExtracted = std::function<void(const wchar_t* path)>;
// Called with the full path and the system error code when an output file
// cannot be created. Both callbacks run on the thread that called
// Extract7zToDirectory. Answer 0: try once more; 1: skip this entry; anything
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
//
// When a block cannot be decoded, the files before it are written and
// reported, the call ends with the reader's code at the first entry of that
// block, and no file of it or of a later block is written or reported. A file
// that cannot be written whole is removed again and not reported. The stream
// is read by one thread at a time (workers take turns); it must not be used
// by anyone else during the call.
int Extract7zToDirectory(ISeekInStreamPtr stream, const wchar_t* outDir, const OnFileExtracted& onFileExtracted,
                         const OnCreateFileFailed& onCreateFileFailed);

// How the blocks are decoded.
struct ExtractOptions {
    // Worker threads that decode blocks; 0: one per processor the process may
    // run on. With 1 (or an archive of one block) everything runs on the
    // calling thread.
    unsigned workers = 0;
    // Memory of the blocks decoded or waiting to be written at one time: a
    // block decoded whole its unpacked size, a streamed block its dictionary
    // and pieces. One block is always allowed, however large. 0: the
    // default, 192 MiB.
    uint64_t memoryBudget = 0;
};
int Extract7zToDirectory(ISeekInStreamPtr stream, const wchar_t* outDir, const OnFileExtracted& onFileExtracted,
                         const OnCreateFileFailed& onCreateFileFailed, const ExtractOptions& options);

// The processors the process may run on (at least 1): the default worker count.
unsigned ExtractionProcessorCount();

// Calls `onEntry` with every stored entry name (UTF-16, not terminated at
// `length`, '/' or '\' separated) and whether the entry is a directory,
// reading only the archive's headers: nothing is decoded or written. The
// result is 0 or a code of the reader's set.
using OnArchiveEntry = std::function<void(const wchar_t* name, size_t length, bool isDirectory)>;
int List7zEntries(ISeekInStreamPtr stream, const OnArchiveEntry& onEntry);

// True when a stored entry name (UTF-16, '/' or '\' separated) names a file
// inside the directory it is extracted to.
bool Is7zEntryNameSafe(const wchar_t* name, size_t length);
