#include "qvr7z.h"

#include <7z.h>
#include <7zCrc.h>
#include <7zFile.h>

#include <cstring>
#include <cwchar>

#include "nqpublic/nqbase/nqhandle.h"

// ---------------------------------------------------------------------------
// CMemInStream

namespace {

SRes MemInStream_Read(ISeekInStreamPtr pp, void* buf, size_t* size) {
    CMemInStream* p = reinterpret_cast<CMemInStream*>(const_cast<ISeekInStream*>(pp));
    size_t n = 0;
    if (p->position < p->size) {
        n = p->size - p->position;
        if (*size < n) n = *size;
        if (n != 0) std::memcpy(buf, p->data + p->position, n);
        if (p->firstTwoExchanged && p->size >= 2) {
            // Bytes 0 and 1 are read from each other's place.
            Byte* out = static_cast<Byte*>(buf);
            for (uint32_t k = 0; k < 2; ++k)
                if (k >= p->position && k < p->position + n) out[k - p->position] = p->data[1 - k];
        }
        p->position += static_cast<uint32_t>(n);
    }
    *size = n;
    return SZ_OK;
}

SRes MemInStream_Seek(ISeekInStreamPtr pp, Int64* pos, ESzSeek origin) {
    CMemInStream* p = reinterpret_cast<CMemInStream*>(const_cast<ISeekInStream*>(pp));
    int64_t target = 0;
    switch (origin) {
        case SZ_SEEK_SET:
            target = static_cast<uint32_t>(*pos);
            break;
        case SZ_SEEK_CUR:
            target = static_cast<int64_t>(p->position) + *pos;
            break;
        case SZ_SEEK_END:
            target = static_cast<int64_t>(p->size) + *pos;
            break;
        default:
            return ERROR_INVALID_PARAMETER;
    }
    // A position before the block or beyond what 32 bits hold is refused
    // like a bad origin; a position past the end is fine (reads give 0 bytes).
    if (target < 0 || target > 0xFFFFFFFFll) return ERROR_INVALID_PARAMETER;
    p->position = static_cast<uint32_t>(target);
    *pos = p->position;
    return SZ_OK;
}

}  // namespace

CMemInStream::CMemInStream(const void* block, uint32_t blockSize, bool exchanged)
    : data(static_cast<const Byte*>(block)), size(blockSize), position(0), firstTwoExchanged(exchanged) {
    vt.Read = &MemInStream_Read;
    vt.Seek = &MemInStream_Seek;
}

static_assert(offsetof(CMemInStream, vt) == 0, "the interface must come first");

// ---------------------------------------------------------------------------
// Entry names

namespace {
bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// A component made only of dots and spaces with two dots or more: Windows
// trims trailing dots and spaces, so "..", ".. " and "..." all name the parent
// or nothing.
bool IsParentLike(const wchar_t* s, size_t n) {
    size_t dots = 0;
    for (size_t i = 0; i < n; ++i) {
        if (s[i] == L'.') ++dots;
        else if (s[i] != L' ') return false;
    }
    return dots >= 2;
}

wchar_t Upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// A component that names a DOS device in every folder ("NUL", "con.txt",
// "COM1 .log"): writing it would go to the device, not to a file.
bool IsDeviceName(const wchar_t* s, size_t n) {
    size_t base = 0;
    while (base < n && s[base] != L'.') ++base;
    while (base > 0 && s[base - 1] == L' ') --base;
    auto is = [&](const wchar_t* dev) {
        size_t i = 0;
        for (; dev[i]; ++i)
            if (i >= base || Upper(s[i]) != dev[i]) return false;
        return i == base;
    };
    if (is(L"CON") || is(L"PRN") || is(L"AUX") || is(L"NUL") || is(L"CONIN$") || is(L"CONOUT$")) return true;
    if (base == 4) {
        const wchar_t a = Upper(s[0]), b = Upper(s[1]), c = Upper(s[2]), d = s[3];
        if (((a == L'C' && b == L'O' && c == L'M') || (a == L'L' && b == L'P' && c == L'T')) && d >= L'0' && d <= L'9')
            return true;
    }
    return false;
}
}  // namespace

bool Is7zEntryNameSafe(const wchar_t* name, size_t length) {
    if (length == 0) return true;
    if (IsSeparator(name[0])) return false;  // rooted: "/x", "\\server\share"
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && name[i] == L':') return false;  // "C:x", "C:\x", "file:stream"
        if (i == length || IsSeparator(name[i])) {
            if (IsParentLike(name + start, i - start) || IsDeviceName(name + start, i - start)) return false;
            start = i + 1;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Extraction

namespace {

constexpr size_t kLookAheadSize = 1 << 14;  // 16 KiB between the stream and the reader

void* HeapAllocFn(ISzAllocPtr, size_t size) { return size == 0 ? nullptr : ::HeapAlloc(::GetProcessHeap(), 0, size); }
void HeapFreeFn(ISzAllocPtr, void* address) {
    if (address) ::HeapFree(::GetProcessHeap(), 0, address);
}

// A heap block released at the end of the scope.
struct HeapBlock {
    void* p = nullptr;
    ~HeapBlock() { HeapFreeFn(nullptr, p); }
};

// The reader's database opened over a stream through a look-ahead buffer,
// with the allocators it was opened with; all of it is released with the
// object. It stays where it was made (the reader keeps pointers into it).
struct OpenedArchive {
    ISzAlloc allocMain = {&HeapAllocFn, &HeapFreeFn};
    ISzAlloc allocTemp = {&HeapAllocFn, &HeapFreeFn};
    HeapBlock lookBuf;
    CLookToRead2 look;
    CSzArEx db;

    OpenedArchive() { SzArEx_Init(&db); }
    ~OpenedArchive() { SzArEx_Free(&db, &allocMain); }
    OpenedArchive(const OpenedArchive&) = delete;
    OpenedArchive& operator=(const OpenedArchive&) = delete;

    SRes Open(ISeekInStreamPtr stream) {
        CrcGenerateTable();
        lookBuf.p = HeapAllocFn(nullptr, kLookAheadSize);
        if (!lookBuf.p) return SZ_ERROR_MEM;
        LookToRead2_CreateVTable(&look, True);  // look-ahead variant: fills the whole buffer
        look.realStream = stream;
        look.buf = static_cast<Byte*>(lookBuf.p);
        look.bufSize = kLookAheadSize;
        LookToRead2_INIT(&look);
        return SzArEx_Open(&db, &look.vt, &allocMain, &allocTemp);
    }
};

// Entry name i of the database: pointer into the name buffer and its length
// in UTF-16 units including the terminating zero.
const UInt16* EntryName(const CSzArEx& db, UInt32 i, size_t& units) {
    units = db.FileNameOffsets[i + 1] - db.FileNameOffsets[i];
    return reinterpret_cast<const UInt16*>(db.FileNames) + db.FileNameOffsets[i];
}

bool AllEntryNamesSafe(const CSzArEx& db) {
    // The name property is optional in the format; without it there is no
    // name table at all and nothing to write the entries under.
    if (db.NumFiles != 0 && !db.FileNameOffsets) return false;
    for (UInt32 i = 0; i < db.NumFiles; ++i) {
        size_t units = 0;
        const UInt16* name = EntryName(db, i, units);
        const size_t length = units ? units - 1 : 0;
        if (!Is7zEntryNameSafe(reinterpret_cast<const wchar_t*>(name), length)) return false;
    }
    return true;
}

// The stored attribute word as Windows accepts it. Archives made on Unix-like
// systems carry the POSIX mode in the high 16 bits (flag 0x8000); Windows
// refuses such a word, so only the Windows part is applied then.
DWORD WindowsAttributes(UInt32 stored) {
    if ((stored & 0xF0000000u) != 0) return stored & 0x3FFFu;
    return stored;
}

// The bytes and stored properties of one file entry.
struct EntryFile {
    const Byte* data;  // null for an empty file
    size_t length;
    const CNtfsFileTime* mtime;  // null when the archive stores none
    bool hasAttributes;
    UInt32 attributes;
};

struct WriteOutcome {
    enum Step { kWritten, kSkipped, kStop } step;
    int result;  // the call's result as stored after this entry
};

// Writes one file entry at `path`, whole or not at all: creates the file
// (asking `onCreateFileFailed` when it cannot), writes its bytes, sets its
// last-write time, closes it and applies its attribute word. A file that
// cannot be written whole (a full disk, a failing device) is removed again: no
// truncated file is left under its real name. Works on its own arguments only,
// so entries may be written from any thread.
WriteOutcome WriteExtractedFile(const wchar_t* path, const EntryFile& entry,
                                const OnCreateFileFailed& onCreateFileFailed) {
    const DWORD existing = ::GetFileAttributesW(path);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(path, existing & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));

    auto create = [&] {
        return nq::unique_hfile(
            ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    nq::unique_hfile file = create();
    if (!file) {
        const int error = static_cast<int>(::GetLastError());
        const int answer = onCreateFileFailed ? onCreateFileFailed(path, static_cast<DWORD>(error)) : 2;
        if (answer == 1) return {WriteOutcome::kSkipped, error};  // the result stays the error code
        if (answer != 0) return {WriteOutcome::kStop, kExtractFileError};
        file = create();
        if (!file) return {WriteOutcome::kStop, kExtractFileError};
    }

    // From here on the file exists under its name: any failure removes it.
    auto removeAndStop = [&] {
        const DWORD error = ::GetLastError();
        file.reset();
        ::DeleteFileW(path);
        ::SetLastError(error);
        return WriteOutcome{WriteOutcome::kStop, kExtractFileError};
    };
    CSzFile out;
    out.handle = file.get();
    size_t written = entry.length;
    const WRes wres = File_Write(&out, entry.data, &written);
    if (wres != 0 || written != entry.length) return removeAndStop();

    if (entry.mtime) {
        FILETIME mtime;
        mtime.dwLowDateTime = entry.mtime->Low;
        mtime.dwHighDateTime = entry.mtime->High;
        ::SetFileTime(file.get(), nullptr, nullptr, &mtime);
    }

    // Data the system held back may fail to reach the disk only now.
    if (!::CloseHandle(file.release()) && ::GetLastError() != 0) {
        ::DeleteFileW(path);
        return {WriteOutcome::kStop, kExtractFileError};
    }

    if (entry.hasAttributes) ::SetFileAttributesW(path, WindowsAttributes(entry.attributes));
    return {WriteOutcome::kWritten, SZ_OK};
}

}  // namespace

int Extract7zToDirectory(ISeekInStreamPtr stream, const wchar_t* outDir, const OnFileExtracted& onFileExtracted,
                         const OnCreateFileFailed& onCreateFileFailed) {
    OpenedArchive archive;
    SRes res = archive.Open(stream);
    if (res != SZ_OK) return res;
    const CSzArEx& db = archive.db;

    // Folder cache of SzArEx_Extract: the last decoded folder (solid block)
    // stays in outBuffer while consecutive entries come from it, so a solid
    // archive is decoded once. Released once, after the loop.
    UInt32 blockIndex = 0xFFFFFFFF;
    Byte* outBuffer = nullptr;
    size_t outBufferSize = 0;

    // Output directory + '\' + entry name; grown only for a longer name.
    const size_t dirLen = std::wcslen(outDir);
    wchar_t* path = nullptr;
    size_t longestName = 0;

    // Names that would leave the output directory refuse the whole archive
    // before anything is written.
    const bool namesSafe = AllEntryNamesSafe(db);
    int result = namesSafe ? SZ_OK : SZ_ERROR_ARCHIVE;

    for (UInt32 i = 0; namesSafe && i < db.NumFiles; ++i) {
        size_t units = 0;
        const UInt16* name = EntryName(db, i, units);
        if (units > longestName) {
            HeapFreeFn(nullptr, path);
            path = static_cast<wchar_t*>(HeapAllocFn(nullptr, (dirLen + units + 1) * sizeof(wchar_t)));
            if (!path) {
                result = SZ_ERROR_MEM;
                break;
            }
            longestName = units;
        }
        std::memcpy(path, outDir, dirLen * sizeof(wchar_t));
        path[dirLen] = L'\\';
        wchar_t* entry = path + dirLen + 1;
        for (size_t k = 0; k < units; ++k) entry[k] = static_cast<wchar_t>(name[k]);
        if (units == 0) entry[0] = L'\0';

        const bool isDir = SzArEx_IsDir(&db, i);
        size_t offset = 0;
        size_t length = 0;
        // Entries without data (directories, empty files) have no folder and
        // are not passed to the decoder, which would drop its cached folder.
        if (!isDir && db.FileToFolder[i] != 0xFFFFFFFF) {
            res = SzArEx_Extract(&db, &archive.look.vt, i, &blockIndex, &outBuffer, &outBufferSize, &offset, &length,
                                 &archive.allocMain, &archive.allocTemp);
            if (res != SZ_OK) {
                result = res;
                break;
            }
        }

        // Parent directories from the entry's own path ('/' separates; the
        // path ends up with backslashes throughout). Errors (it exists) are ignored.
        for (wchar_t* c = entry; *c; ++c) {
            if (*c == L'/') {
                *c = L'\0';
                ::CreateDirectoryW(path, nullptr);
                *c = L'\\';
            }
        }
        if (isDir) {
            ::CreateDirectoryW(path, nullptr);
            continue;
        }

        const EntryFile entryFile{outBuffer ? outBuffer + offset : nullptr, length,
                                  SzBitWithVals_Check(&db.MTime, i) ? &db.MTime.Vals[i] : nullptr,
                                  SzBitWithVals_Check(&db.Attribs, i), db.Attribs.Vals ? db.Attribs.Vals[i] : 0};
        const WriteOutcome outcome = WriteExtractedFile(path, entryFile, onCreateFileFailed);
        result = outcome.result;
        if (outcome.step == WriteOutcome::kSkipped) continue;
        if (outcome.step == WriteOutcome::kStop) break;

        if (onFileExtracted) onFileExtracted(path);
    }

    HeapFreeFn(nullptr, outBuffer);
    HeapFreeFn(nullptr, path);
    return result;
}

int List7zEntries(ISeekInStreamPtr stream, const OnArchiveEntry& onEntry) {
    OpenedArchive archive;
    const SRes res = archive.Open(stream);
    if (res != SZ_OK) return res;
    const CSzArEx& db = archive.db;
    if (db.NumFiles != 0 && !db.FileNameOffsets) return SZ_ERROR_ARCHIVE;
    for (UInt32 i = 0; onEntry && i < db.NumFiles; ++i) {
        size_t units = 0;
        const UInt16* name = EntryName(db, i, units);
        onEntry(reinterpret_cast<const wchar_t*>(name), units ? units - 1 : 0, SzArEx_IsDir(&db, i) != 0);
    }
    return SZ_OK;
}
