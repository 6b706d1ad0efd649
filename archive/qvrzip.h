// Reader for the ZIP skin package.
//
// The package is read in place (from a memory block or a file): the central
// directory is walked in stored order, entries are found by name and decoded
// (stored or deflated, optionally with traditional ZIP encryption) into a
// caller's buffer, in one call or in several when the buffer is smaller than
// the entry. Only single-volume archives without ZIP64 records are read.
//
// Every operation returns one of the ZR_ codes. A handle keeps one entry open
// for decoding and caches the last entry record, so one handle must not be used
// from two threads at once.
//
// Entry names are reported after a light clean-up (drive prefix, leading
// separator and anything up to a "/../" are dropped) meant for display and
// lookup. A name may still start with "../": code that writes entries to disk
// must check names itself.
#pragma once

#include <windows.h>

#include <cstdint>

using ZRESULT = DWORD;

constexpr ZRESULT ZR_OK = 0x00000000;
constexpr ZRESULT ZR_NOFILE = 0x00000200;    // no readable ZIP directory
constexpr ZRESULT ZR_NOTFOUND = 0x00000500;  // no entry of that name
constexpr ZRESULT ZR_MORE = 0x00000600;      // buffer full, the entry has more data
constexpr ZRESULT ZR_CORRUPT = 0x00000700;   // inconsistent directory record or local header
constexpr ZRESULT ZR_READ = 0x00000800;      // the entry's extra data could not be read
constexpr ZRESULT ZR_PASSWORD = 0x00001000;  // wrong password for an encrypted entry
constexpr ZRESULT ZR_ARGS = 0x00010000;      // missing handle, index out of range
constexpr ZRESULT ZR_ZMODE = 0x00080000;     // the handle is not a reader handle
constexpr ZRESULT ZR_FLATE = 0x05000000;     // the entry cannot be decoded

// Windows attribute bits reported in ZipEntryInfo::attr.
struct ZipEntryInfo {
    int index = -1;           // position in the central directory; -1 = none
    wchar_t name[260] = {};   // UTF-16, cleaned up as described above
    DWORD attr = 0;           // FILE_ATTRIBUTE_READONLY/HIDDEN/SYSTEM/DIRECTORY/ARCHIVE
    FILETIME atime = {};      // UTC
    FILETIME ctime = {};
    FILETIME mtime = {};
    DWORD comp_size = 0;      // from the central directory
    DWORD unc_size = 0;
};

class CZipReader;

// Kind tag of a handle made by this reader.
constexpr DWORD ZIP_HANDLE_READER = 1;

struct ZipHandleData {
    DWORD kind = ZIP_HANDLE_READER;
    CZipReader* reader = nullptr;
};
using ZipHandle = ZipHandleData*;

// Opens a package held in memory. The block is not copied and must outlive the
// handle. `password` (8-bit, may be null or empty) is used for encrypted entries.
// Returns null when the block holds no readable ZIP directory; `result`, when
// given, receives the code.
ZipHandle ZipOpenMemory(const void* data, DWORD length, const char* password, ZRESULT* result = nullptr);
// Opens a package file (read access, shared for reading).
ZipHandle ZipOpenFile(const wchar_t* path, const char* password, ZRESULT* result = nullptr);

// Finds the first entry whose stored name equals `name` (converted to UTF-8;
// with ignoreCase only ASCII letters fold). Fills `index` and, when given, `entry`.
// On a miss: ZR_NOTFOUND, index -1 and the entry cleared (index -1).
ZRESULT ZipFindItem(ZipHandle h, const wchar_t* name, bool ignoreCase, int* index, ZipEntryInfo* entry);
// Entry record of `index`; index -1 gives the entry count in entry->index and an empty name.
ZRESULT ZipGetItem(ZipHandle h, int index, ZipEntryInfo* entry);
// Decodes entry `index` into `buffer`. ZR_OK: the entry's end was delivered.
// ZR_MORE: the buffer was filled first; call again with the same index to continue.
ZRESULT ZipUnzipItem(ZipHandle h, int index, void* buffer, DWORD length);
// Closes the reader and frees the handle.
ZRESULT ZipClose(ZipHandle h);

// Bytes delivered by the last ZipUnzipItem call on this handle (0 when it failed).
DWORD ZipLastUnzipCount(ZipHandle h);
