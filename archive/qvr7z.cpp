#include "qvr7z.h"

#include <7z.h>
#include <7zCrc.h>
#include <7zFile.h>
#include <Bra.h>
#include <Lzma2Dec.h>
#include <LzmaDec.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cwchar>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

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
// CFileRangeInStream

namespace {

SRes FileRangeInStream_Read(ISeekInStreamPtr pp, void* buf, size_t* size) {
    CFileRangeInStream* p = reinterpret_cast<CFileRangeInStream*>(const_cast<ISeekInStream*>(pp));
    const size_t wanted = *size;
    *size = 0;
    if (p->position >= p->size || wanted == 0) return SZ_OK;
    const uint64_t left = p->size - p->position;
    // One ReadFile at most 1 MiB: the reader asks for what its buffer holds.
    DWORD n = static_cast<DWORD>(std::min<uint64_t>({wanted, left, 1u << 20}));
    // The file pointer is placed first and the read made without an
    // OVERLAPPED: a read that names its offset is also posted as a completion
    // packet, which under Wine is a round trip to the server per read (half
    // the time of extracting stored data). Placing the pointer every time
    // keeps views that share the handle apart.
    LARGE_INTEGER filePos;
    filePos.QuadPart = static_cast<LONGLONG>(p->offset + p->position);
    if (!::SetFilePointerEx(p->file, filePos, nullptr, FILE_BEGIN)) return SZ_ERROR_READ;
    DWORD got = 0;
    if (!::ReadFile(p->file, buf, n, &got, nullptr)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_HANDLE_EOF) return SZ_ERROR_READ;
        got = 0;
    }
    if (p->replaceFirstTwo) {
        Byte* out = static_cast<Byte*>(buf);
        for (uint64_t k = 0; k < 2; ++k)
            if (k >= p->position && k < p->position + got) out[k - p->position] = p->firstTwo[k];
    }
    p->position += got;
    *size = got;
    return SZ_OK;
}

SRes FileRangeInStream_Seek(ISeekInStreamPtr pp, Int64* pos, ESzSeek origin) {
    CFileRangeInStream* p = reinterpret_cast<CFileRangeInStream*>(const_cast<ISeekInStream*>(pp));
    int64_t base = 0;
    switch (origin) {
        case SZ_SEEK_SET:
            break;
        case SZ_SEEK_CUR:
            base = static_cast<int64_t>(p->position);
            break;
        case SZ_SEEK_END:
            base = static_cast<int64_t>(p->size);
            break;
        default:
            return ERROR_INVALID_PARAMETER;
    }
    const int64_t target = base + *pos;
    if (target < 0) return ERROR_INVALID_PARAMETER;
    p->position = static_cast<uint64_t>(target);
    *pos = target;
    return SZ_OK;
}

}  // namespace

CFileRangeInStream::CFileRangeInStream(HANDLE handle, uint64_t start, uint64_t length, const Byte* head)
    : file(handle), offset(start), size(length), position(0), replaceFirstTwo(head != nullptr), firstTwo{0, 0} {
    vt.Read = &FileRangeInStream_Read;
    vt.Seek = &FileRangeInStream_Seek;
    if (head) {
        firstTwo[0] = head[0];
        firstTwo[1] = head[1];
    }
}

static_assert(offsetof(CFileRangeInStream, vt) == 0, "the interface must come first");

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
    class BlockSource* source;  // the entry's bytes, null for an empty file
    const UInt32* crc;          // the checksum to check as the bytes pass, or null
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
                                const OnCreateFileFailed& onCreateFileFailed);

// The bytes of the file entries with data, asked for in archive order by the
// thread that writes them.
class BlockSource {
public:
    virtual ~BlockSource() = default;
    // Makes entry i the one Piece reads, or gives the reader's code when its
    // block cannot be decoded or (`checked`) its checksum does not match.
    // `checked` tells whether its checksum is known to match already.
    virtual SRes Begin(UInt32 i, bool* checked) = 0;
    // The next bytes of the entry begun, valid until the next call;
    // `*length` 0 at its end.
    virtual SRes Piece(const Byte** data, size_t* length) = 0;
};

WriteOutcome WriteExtractedFile(const wchar_t* path, const EntryFile& entry,
                                const OnCreateFileFailed& onCreateFileFailed) {
    const DWORD existing = ::GetFileAttributesW(path);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(path, existing & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));

    // A file that is not there yet is created as new rather than overwritten:
    // overwriting truncates, and a file system that guards a file rewritten
    // after a truncation (ext4 under Wine, for one) pushes it all to the disk
    // when it is closed, holding the writer up for the time the disk takes.
    // A file that turns up in between is overwritten as before.
    auto create = [&](DWORD attributes) {
        HANDLE h = INVALID_HANDLE_VALUE;
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            h = ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return nq::unique_hfile(h);
        }
        return nq::unique_hfile(
            ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    nq::unique_hfile file = create(existing);
    if (!file) {
        const int error = static_cast<int>(::GetLastError());
        const int answer = onCreateFileFailed ? onCreateFileFailed(path, static_cast<DWORD>(error)) : 2;
        if (answer == 1) return {WriteOutcome::kSkipped, error};  // the result stays the error code
        if (answer != 0) return {WriteOutcome::kStop, kExtractFileError};
        file = create(::GetFileAttributesW(path));
        if (!file) return {WriteOutcome::kStop, kExtractFileError};
    }

    // From here on the file exists under its name: any failure removes it.
    auto removeAndStop = [&](int code) {
        const DWORD error = ::GetLastError();
        file.reset();
        ::DeleteFileW(path);
        ::SetLastError(error);
        return WriteOutcome{WriteOutcome::kStop, code};
    };
    CSzFile out;
    out.handle = file.get();
    UInt32 crc = 0xFFFFFFFFu;
    while (entry.source) {
        const Byte* data = nullptr;
        size_t length = 0;
        const SRes res = entry.source->Piece(&data, &length);
        if (res != SZ_OK) return removeAndStop(res);
        if (length == 0) break;
        if (entry.crc) crc = CrcUpdate(crc, data, length);
        size_t written = length;
        const WRes wres = File_Write(&out, data, &written);
        if (wres != 0 || written != length) return removeAndStop(kExtractFileError);
    }
    // A file whose bytes do not match their checksum is not left behind.
    if (entry.crc && (crc ^ 0xFFFFFFFFu) != *entry.crc) return removeAndStop(SZ_ERROR_CRC);

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


// ---------------------------------------------------------------------------
// Folders decoded as a stream

constexpr UInt32 kMethodLzma2 = 0x21;
constexpr UInt32 kMethodLzma = 0x30101;
constexpr UInt32 kMethodX86 = 0x3030103;
// Decoded bytes handed on at a time: small enough that the pieces a block
// holds besides its dictionary stay small, large enough that the turns
// between the decoding and the writing thread (each a wait under Wine) and
// the writes stay few.
constexpr size_t kChunkSize = 1 << 18;

// The common coder chain, decoded piece by piece: one LZMA or LZMA2 coder,
// alone or feeding the x86 branch filter. Memory is the dictionary (no larger
// than the folder) and what the caller reads into.
class FolderStream {
public:
    FolderStream() {
        LzmaDec_CONSTRUCT(&lzma_);
        Lzma2Dec_CONSTRUCT(&lzma2_);
    }
    ~FolderStream() {
        LzmaDec_FreeProbs(&lzma_, &alloc_);
        Lzma2Dec_FreeProbs(&lzma2_, &alloc_);
        HeapFreeFn(nullptr, dic_);
    }
    FolderStream(const FolderStream&) = delete;
    FolderStream& operator=(const FolderStream&) = delete;

    // The folder's coder chain is one this class decodes; `memory` is then
    // what decoding it takes besides the pieces read.
    static bool Handles(const CSzArEx& db, UInt32 folder, UInt64* memory) {
        CSzFolder f;
        if (!Describe(db, folder, f)) return false;
        const CSzCoderInfo& coder = f.Coders[0];
        const Byte* props = db.db.CodersData + db.db.FoCodersOffsets[folder] + coder.PropsOffset;
        UInt64 dictionary = 0;
        if (coder.MethodID == kMethodLzma2) {
            if (coder.PropsSize != 1 || props[0] > 40) return false;
            dictionary = props[0] == 40 ? 0xFFFFFFFFu : (UInt64(2) | (props[0] & 1)) << (props[0] / 2 + 11);
        } else {
            if (coder.PropsSize < 5) return false;
            dictionary = props[1] | (UInt32(props[2]) << 8) | (UInt32(props[3]) << 16) | (UInt32(props[4]) << 24);
        }
        *memory = std::min(dictionary, SzAr_GetFolderUnpackSize(&db.db, folder)) + sizeof(FolderStream);
        return true;
    }

    // Starts decoding `folder`, reading its packed stream from `in`.
    SRes Open(const CSzArEx& db, UInt32 folder, ILookInStreamPtr in) {
        CSzFolder f;
        if (!Describe(db, folder, f)) return SZ_ERROR_UNSUPPORTED;
        in_ = in;
        x86_ = f.NumCoders == 2;
        const CSzCoderInfo& coder = f.Coders[0];
        const Byte* props = db.db.CodersData + db.db.FoCodersOffsets[folder] + coder.PropsOffset;
        outLeft_ = SzAr_GetFolderUnpackSize(&db.db, folder);
        const UInt32 pack = db.db.FoStartPackStreamIndex[folder];
        inLeft_ = db.db.PackPositions[pack + 1] - db.db.PackPositions[pack];
        UInt64 dictionary = 0;
        lzma2Coder_ = coder.MethodID == kMethodLzma2;
        if (lzma2Coder_) {
            if (coder.PropsSize != 1 || props[0] > 40) return SZ_ERROR_UNSUPPORTED;
            dictionary = props[0] == 40 ? 0xFFFFFFFFu : (UInt64(2) | (props[0] & 1)) << (props[0] / 2 + 11);
            RINOK(Lzma2Dec_AllocateProbs(&lzma2_, props[0], &alloc_));
        } else {
            if (coder.PropsSize < 5) return SZ_ERROR_UNSUPPORTED;
            dictionary = props[1] | (UInt32(props[2]) << 8) | (UInt32(props[3]) << 16) | (UInt32(props[4]) << 24);
            RINOK(LzmaDec_AllocateProbs(&lzma_, props, coder.PropsSize, &alloc_));
        }
        // Matches never reach before the folder's first byte.
        const size_t dicSize = static_cast<size_t>(std::max<UInt64>(1, std::min(dictionary, outLeft_)));
        if (dicSize != std::min(dictionary, outLeft_) && outLeft_ != 0) return SZ_ERROR_MEM;
        dic_ = static_cast<Byte*>(HeapAllocFn(nullptr, dicSize));
        if (!dic_) return SZ_ERROR_MEM;
        if (lzma2Coder_) {
            lzma2_.decoder.dic = dic_;
            lzma2_.decoder.dicBufSize = dicSize;
            Lzma2Dec_Init(&lzma2_);
        } else {
            lzma_.dic = dic_;
            lzma_.dicBufSize = dicSize;
            LzmaDec_Init(&lzma_);
        }
        // The writer checks every entry that has a checksum as it takes its
        // bytes; the folder's own checksum (a folder of one file has both)
        // would only go over the same bytes again.
        hasCrc_ = SzBitWithVals_Check(&db.db.FolderCRCs, folder) && !EveryEntryHasCrc(db, folder);
        if (hasCrc_) expectedCrc_ = db.db.FolderCRCs.Vals[folder];
        return LookInStream_SeekTo(in_, db.dataPos + db.db.PackPositions[pack]);
    }

    // Up to `size` next bytes of the folder into `out` (fewer only at its end
    // or before an error). When decoding fails, the bytes decoded before the
    // fault still come out, whatever the sizes asked for; the code comes
    // with the read that reaches the fault, and with every read after it.
    SRes Read(Byte* out, size_t size, size_t* got) {
        *got = 0;
        while (*got < size) {
            if (held_ > 0) {
                // Bytes already through the filter, or its last few at the end.
                const size_t n = std::min(held_, size - *got);
                std::memcpy(out + *got, hold_ + heldAt_, n);
                heldAt_ += n;
                held_ -= n;
                *got += n;
                continue;
            }
            if (error_ != SZ_OK) return error_;
            if (!x86_) {
                size_t n = 0;
                error_ = Decode(out + *got, size - *got, &n);
                *got += n;
                if (error_ != SZ_OK) return error_;
                if (n == 0) break;
                continue;
            }
            // The filter converts whole instructions only: the last few bytes
            // of a piece wait for the next one.
            if (filterEnd_) break;
            std::memmove(filterBuf_, filterBuf_ + filterDone_, filterFill_ - filterDone_);
            filterFill_ -= filterDone_;
            filterDone_ = 0;
            size_t n = 0;
            error_ = Decode(filterBuf_ + filterFill_, sizeof(filterBuf_) - filterFill_, &n);
            filterFill_ += n;
            size_t converted = 0;
            if (n == 0 && error_ == SZ_OK) {
                converted = filterFill_;  // the end: what is left stays as it is
                filterEnd_ = true;
            } else {
                const Byte* end = z7_BranchConvSt_X86_Dec(filterBuf_, filterFill_, pc_, &x86State_);
                converted = static_cast<size_t>(end - filterBuf_);
                pc_ += static_cast<UInt32>(converted);
            }
            std::memcpy(hold_, filterBuf_, converted);
            heldAt_ = 0;
            held_ = converted;
            filterDone_ = converted;
        }
        return SZ_OK;
    }

private:
    static bool EveryEntryHasCrc(const CSzArEx& db, UInt32 folder) {
        for (UInt32 i = db.FolderToFile[folder]; i < db.NumFiles; ++i) {
            if (db.FileToFolder[i] == folder) {
                if (!SzBitWithVals_Check(&db.CRCs, i)) return false;
            } else if (db.FileToFolder[i] != 0xFFFFFFFF) {
                break;
            }
        }
        return true;
    }

    static bool Describe(const CSzArEx& db, UInt32 folder, CSzFolder& f) {
        CSzData sd;
        sd.Data = db.db.CodersData + db.db.FoCodersOffsets[folder];
        sd.Size = db.db.FoCodersOffsets[folder + 1] - db.db.FoCodersOffsets[folder];
        if (SzGetNextFolderItem(&f, &sd) != SZ_OK) return false;
        const CSzCoderInfo& c = f.Coders[0];
        if (c.NumStreams != 1 || (c.MethodID != kMethodLzma && c.MethodID != kMethodLzma2)) return false;
        if (f.NumPackStreams != 1 || f.PackStreams[0] != 0) return false;
        if (f.NumCoders == 1) return f.NumBonds == 0;
        return f.NumCoders == 2 && f.Coders[1].NumStreams == 1 && f.Coders[1].MethodID == kMethodX86 &&
               f.Coders[1].PropsSize == 0 && f.NumBonds == 1 && f.Bonds[0].InIndex == 1 && f.Bonds[0].OutIndex == 0;
    }

    // Up to `size` next bytes out of the coder; 0 at the folder's end.
    SRes Decode(Byte* out, size_t size, size_t* got) {
        *got = 0;
        while (*got < size && outLeft_ > 0) {
            const void* inBuf = nullptr;
            size_t look = static_cast<size_t>(std::min<UInt64>(inLeft_, 1 << 18));
            RINOK(ILookInStream_Look(in_, &inBuf, &look));
            SizeT inProcessed = look;
            SizeT outProcessed = static_cast<SizeT>(std::min<UInt64>(size - *got, outLeft_));
            const bool last = outProcessed == outLeft_;
            ELzmaStatus status;
            const ELzmaFinishMode mode = last ? LZMA_FINISH_END : LZMA_FINISH_ANY;
            const SRes res = lzma2Coder_ ? Lzma2Dec_DecodeToBuf(&lzma2_, out + *got, &outProcessed,
                                                                static_cast<const Byte*>(inBuf), &inProcessed, mode,
                                                                &status)
                                         : LzmaDec_DecodeToBuf(&lzma_, out + *got, &outProcessed,
                                                               static_cast<const Byte*>(inBuf), &inProcessed, mode,
                                                               &status);
            inLeft_ -= inProcessed;
            outLeft_ -= outProcessed;
            if (hasCrc_) crc_ = CrcUpdate(crc_, out + *got, outProcessed);
            *got += outProcessed;
            if (res != SZ_OK) return res;
            if (hasCrc_ && outLeft_ == 0 && (crc_ ^ 0xFFFFFFFFu) != expectedCrc_) return SZ_ERROR_CRC;
            RINOK(ILookInStream_Skip(in_, inProcessed));
            if (status == LZMA_STATUS_FINISHED_WITH_MARK && outLeft_ != 0) return SZ_ERROR_DATA;
            if (inProcessed == 0 && outProcessed == 0) return look == 0 ? SZ_ERROR_INPUT_EOF : SZ_ERROR_DATA;
        }
        return SZ_OK;
    }

    ISzAlloc alloc_ = {&HeapAllocFn, &HeapFreeFn};
    CLzmaDec lzma_;
    CLzma2Dec lzma2_;
    bool lzma2Coder_ = false;
    Byte* dic_ = nullptr;
    ILookInStreamPtr in_ = nullptr;
    UInt64 inLeft_ = 0;
    UInt64 outLeft_ = 0;
    SRes error_ = SZ_OK;  // the fault decoding stopped at
    bool hasCrc_ = false;
    UInt32 expectedCrc_ = 0;
    UInt32 crc_ = 0xFFFFFFFFu;
    bool x86_ = false;
    UInt32 x86State_ = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
    UInt32 pc_ = 0;
    bool filterEnd_ = false;
    Byte filterBuf_[1 << 16];
    size_t filterFill_ = 0, filterDone_ = 0;
    Byte hold_[1 << 16];
    size_t held_ = 0, heldAt_ = 0;
};

// ---------------------------------------------------------------------------
// Where the writer gets the bytes of each file entry

constexpr size_t kStreamLookAheadSize = 1 << 16;  // 64 KiB of packed bytes read at a time

// Decodes on the calling thread: a folder of the common chain as a stream,
// piece by piece, any other whole when its first entry is asked for.
class SequentialBlocks final : public BlockSource {
public:
    explicit SequentialBlocks(OpenedArchive& archive) : archive_(archive), db_(archive.db) {}
    ~SequentialBlocks() override {
        HeapFreeFn(nullptr, outBuffer_);
        HeapFreeFn(nullptr, chunk_);
    }
    SequentialBlocks(const SequentialBlocks&) = delete;
    SequentialBlocks& operator=(const SequentialBlocks&) = delete;

    SRes Begin(UInt32 i, bool* checked) override {
        const UInt32 folder = db_.FileToFolder[i];
        const UInt64 start = db_.UnpackPositions[i] - db_.UnpackPositions[db_.FolderToFile[folder]];
        left_ = db_.UnpackPositions[i + 1] - db_.UnpackPositions[i];
        UInt64 memory = 0;
        streamed_ = FolderStream::Handles(db_, folder, &memory);
        *checked = !streamed_;
        if (!streamed_) {
            size_t offset = 0, length = 0;
            const SRes res = SzArEx_Extract(&db_, &archive_.look.vt, i, &blockIndex_, &outBuffer_, &outBufferSize_,
                                            &offset, &length, &archive_.allocMain, &archive_.allocTemp);
            whole_ = outBuffer_ ? outBuffer_ + offset : nullptr;
            left_ = res == SZ_OK ? length : 0;
            return res;
        }
        if (!chunk_) chunk_ = static_cast<Byte*>(HeapAllocFn(nullptr, kChunkSize));
        if (!streamLookBuf_.p) {
            // Its own look-ahead, larger than the headers' one: fewer reads.
            streamLookBuf_.p = HeapAllocFn(nullptr, kStreamLookAheadSize);
            LookToRead2_CreateVTable(&streamLook_, True);
            streamLook_.realStream = archive_.look.realStream;
            streamLook_.buf = static_cast<Byte*>(streamLookBuf_.p);
            streamLook_.bufSize = kStreamLookAheadSize;
        }
        if (!chunk_ || !streamLookBuf_.p) return SZ_ERROR_MEM;
        if (!stream_ || streamFolder_ != folder || streamPosition_ > start) {
            streamFolder_ = 0xFFFFFFFF;
            stream_.reset(new (std::nothrow) FolderStream);
            if (!stream_) return SZ_ERROR_MEM;
            LookToRead2_INIT(&streamLook_);
            RINOK(stream_->Open(db_, folder, &streamLook_.vt));
            streamFolder_ = folder;
            streamPosition_ = 0;
        }
        // Entries not written (skipped ones) are read past.
        while (streamPosition_ < start) {
            const size_t n = static_cast<size_t>(std::min<UInt64>(kChunkSize, start - streamPosition_));
            RINOK(ReadStream(n));
        }
        return SZ_OK;
    }

    SRes Piece(const Byte** data, size_t* length) override {
        *data = nullptr;
        *length = 0;
        if (left_ == 0) return SZ_OK;
        if (!streamed_) {
            *data = whole_;
            *length = static_cast<size_t>(left_);
            left_ = 0;
            return SZ_OK;
        }
        const size_t n = static_cast<size_t>(std::min<UInt64>(kChunkSize, left_));
        RINOK(ReadStream(n));
        left_ -= n;
        *data = chunk_;
        *length = n;
        return SZ_OK;
    }

private:
    SRes ReadStream(size_t n) {
        size_t got = 0;
        const SRes res = stream_->Read(chunk_, n, &got);
        if (got != n) {
            streamFolder_ = 0xFFFFFFFF;
            return res != SZ_OK ? res : SZ_ERROR_DATA;
        }
        streamPosition_ += n;
        return SZ_OK;
    }

    OpenedArchive& archive_;
    const CSzArEx& db_;
    // Folder cache of SzArEx_Extract: the last decoded folder (solid block)
    // stays in outBuffer_ while consecutive entries come from it, so a solid
    // archive is decoded once. Released with the object.
    UInt32 blockIndex_ = 0xFFFFFFFF;
    Byte* outBuffer_ = nullptr;
    size_t outBufferSize_ = 0;
    // The folder being decoded as a stream, and how far.
    std::unique_ptr<FolderStream> stream_;
    UInt32 streamFolder_ = 0xFFFFFFFF;
    UInt64 streamPosition_ = 0;
    Byte* chunk_ = nullptr;
    HeapBlock streamLookBuf_;
    CLookToRead2 streamLook_;
    // The entry begun.
    bool streamed_ = false;
    const Byte* whole_ = nullptr;
    UInt64 left_ = 0;
};

constexpr size_t kPiecesAhead = 3;  // decoded pieces a streamed block may hold ahead of the writer

// One solid block (folder) that has file entries, in archive order.
struct Block {
    UInt32 folder;
    UInt32 firstFile;  // first and last entry whose bytes lie in the folder
    UInt32 lastFile;
    uint64_t unpackSize;
    uint64_t packSize = 0;
    bool streamed = false;  // decoded as a stream and handed on in pieces
    uint64_t cost = 0;      // the memory it holds while in flight: its unpacked
                            // size, or (streamed) its dictionary and pieces
    // Filled by the worker that decoded the block, read by the writer once
    // `ready` is set (both under the pipeline's lock).
    bool taken = false;
    bool ready = false;
    SRes res = SZ_OK;
    UInt32 failedFile = 0;  // with res != SZ_OK: the entry that fails
    Byte* buffer = nullptr;
    size_t bufferSize = 0;
    // A streamed block's decoded pieces not yet written, in order; the
    // writer's place in the first and in the block.
    std::deque<std::pair<Byte*, size_t>> pieces;
    size_t pieceAt = 0;
    uint64_t consumed = 0;
};

// The blocks with file entries, in the order the writer needs them.
std::vector<Block> BlocksOf(const CSzArEx& db) {
    std::vector<Block> blocks;
    for (UInt32 i = 0; i < db.NumFiles; ++i) {
        const UInt32 folder = db.FileToFolder[i];
        if (folder == 0xFFFFFFFF) continue;
        if (blocks.empty() || blocks.back().folder != folder)
            blocks.push_back(Block{folder, i, i, SzAr_GetFolderUnpackSize(&db.db, folder)});
        blocks.back().lastFile = i;
    }
    for (Block& b : blocks) {
        const UInt32* pack = db.db.FoStartPackStreamIndex + b.folder;
        b.packSize = db.db.PackPositions[pack[1]] - db.db.PackPositions[pack[0]];
        UInt64 memory = 0;
        b.streamed = FolderStream::Handles(db, b.folder, &memory);
        b.cost = b.streamed ? memory + (kPiecesAhead + 1) * kChunkSize : b.unpackSize;
    }
    return blocks;
}

constexpr size_t kWorkerLookAheadSize = kStreamLookAheadSize;  // also fewer turns at the shared stream
constexpr uint64_t kDefaultMemoryBudget = 192ull << 20;
constexpr unsigned kMaxWorkers = 16;

// Decodes blocks on worker threads ahead of the writer. A worker takes the
// next block while fewer than (workers + 1) blocks are decoded, waiting or
// being written and their costs fit the budget (one block always fits),
// decodes it whole and checks every entry's checksum, then hands it to the
// writer, which frees it when it moves on to the next block. A streamed block
// is decoded piece by piece, never more than kPiecesAhead pieces ahead of the
// writer, so a second one in flight would only hold its dictionary and a few
// pieces waiting: one streamed block is in flight at a time, and its worker
// decodes while the writer writes. Workers read
// the archive through views of the one stream, each with its own position,
// taking turns under a lock. A block that fails ends the decoding of every
// later block; the destructor ends all of it and waits for the workers.
class ParallelBlocks final : public BlockSource {
public:
    ParallelBlocks(const CSzArEx& db, ISeekInStreamPtr stream, std::vector<Block> blocks, unsigned workers,
                   uint64_t budget)
        : db_(db), stream_(stream), blocks_(std::move(blocks)), limit_(workers + 1), budget_(budget),
          end_(blocks_.size()) {}

    ~ParallelBlocks() override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            end_ = 0;  // nothing more is taken; decodes under way end at their next read
        }
        workReady_.notify_all();
        for (std::thread& t : threads_) t.join();
        for (Block& b : blocks_) {
            HeapFreeFn(nullptr, b.buffer);
            for (auto& piece : b.pieces) HeapFreeFn(nullptr, piece.first);
        }
    }
    ParallelBlocks(const ParallelBlocks&) = delete;
    ParallelBlocks& operator=(const ParallelBlocks&) = delete;

    // Starts up to `workers` threads; false when not one could be started.
    bool Start(unsigned workers) {
        for (unsigned k = 0; k < workers; ++k) {
            try {
                threads_.emplace_back([this] { Work(); });
            } catch (...) {
                break;  // no more threads: go on with those there are
            }
        }
        return !threads_.empty();
    }

    SRes Begin(UInt32 i, bool* checked) override {
        *checked = true;
        whole_ = nullptr;
        left_ = 0;
        const UInt32 folder = db_.FileToFolder[i];
        std::unique_lock<std::mutex> guard(lock_);
        // The writer has moved on: the blocks before this entry's are done with.
        while (current_ < blocks_.size() && blocks_[current_].folder != folder) Release(guard, current_++);
        if (current_ == blocks_.size()) return SZ_ERROR_FAIL;
        Block& b = blocks_[current_];
        const UInt64 blockStart = db_.UnpackPositions[db_.FolderToFile[folder]];
        const UInt64 start = db_.UnpackPositions[i] - blockStart;
        const UInt64 length = db_.UnpackPositions[i + 1] - db_.UnpackPositions[i];
        if (b.streamed) {
            *checked = false;
            // Entries not written (skipped ones) are read past.
            while (b.consumed < start) {
                const Byte* data = nullptr;
                size_t n = 0;
                RINOK(NextPiece(guard, b, start - b.consumed, &data, &n));
            }
            left_ = length;
            return SZ_OK;
        }
        blockReady_.wait(guard, [&] { return b.ready; });
        if (b.res != SZ_OK && i >= b.failedFile) return b.res;
        // Checked by the worker through SzArEx_Extract: the entry lies inside the buffer.
        whole_ = b.buffer ? b.buffer + static_cast<size_t>(start) : nullptr;
        left_ = length;
        return SZ_OK;
    }

    SRes Piece(const Byte** data, size_t* length) override {
        *data = nullptr;
        *length = 0;
        std::unique_lock<std::mutex> guard(lock_);
        Block& b = blocks_[current_];
        if (!b.streamed) {
            *data = whole_;
            *length = static_cast<size_t>(left_);
            left_ = 0;
            return SZ_OK;
        }
        if (left_ == 0) {
            DropUsedPiece(b);
            // The block's last bytes count once the worker has checked all of it.
            if (b.consumed == b.unpackSize) {
                blockReady_.wait(guard, [&] { return b.ready; });
                return b.res;
            }
            return SZ_OK;
        }
        RINOK(NextPiece(guard, b, left_, data, length));
        left_ -= *length;
        return SZ_OK;
    }

private:
    // A worker's view of the shared stream, laid out as an ISeekInStream.
    struct View {
        ISeekInStream vt;
        ParallelBlocks* owner;
        size_t block;   // the block being decoded: reads fail once it is no longer wanted
        uint64_t position;
    };

    static SRes ViewRead(ISeekInStreamPtr pp, void* buf, size_t* size) {
        View* v = reinterpret_cast<View*>(const_cast<ISeekInStream*>(pp));
        ParallelBlocks& o = *v->owner;
        if (v->block >= o.end_.load()) {
            *size = 0;
            return SZ_ERROR_READ;  // given up: the result is thrown away
        }
        std::lock_guard<std::mutex> guard(o.streamLock_);
        if (o.streamPosition_ != v->position) {
            Int64 pos = static_cast<Int64>(v->position);
            const SRes res = ISeekInStream_Seek(o.stream_, &pos, SZ_SEEK_SET);
            if (res != SZ_OK) {
                o.streamPosition_ = kUnknownPosition;
                *size = 0;
                return res;
            }
            o.streamPosition_ = v->position;
        }
        const SRes res = ISeekInStream_Read(o.stream_, buf, size);
        if (res != SZ_OK) {
            o.streamPosition_ = kUnknownPosition;
            return res;
        }
        v->position += *size;
        o.streamPosition_ = v->position;
        return SZ_OK;
    }

    static SRes ViewSeek(ISeekInStreamPtr pp, Int64* pos, ESzSeek origin) {
        View* v = reinterpret_cast<View*>(const_cast<ISeekInStream*>(pp));
        ParallelBlocks& o = *v->owner;
        int64_t base = 0;
        switch (origin) {
            case SZ_SEEK_SET:
                break;
            case SZ_SEEK_CUR:
                base = static_cast<int64_t>(v->position);
                break;
            case SZ_SEEK_END: {
                std::lock_guard<std::mutex> guard(o.streamLock_);
                Int64 end = 0;
                const SRes res = ISeekInStream_Seek(o.stream_, &end, SZ_SEEK_END);
                o.streamPosition_ = res == SZ_OK ? static_cast<uint64_t>(end) : kUnknownPosition;
                if (res != SZ_OK) return res;
                base = end;
                break;
            }
            default:
                return ERROR_INVALID_PARAMETER;
        }
        const int64_t target = base + *pos;
        if (target < 0) return ERROR_INVALID_PARAMETER;
        v->position = static_cast<uint64_t>(target);
        *pos = target;
        return SZ_OK;
    }

    // Under lock_: the next block may be handed out.
    bool CanTake() const {
        if (next_ >= end_.load() || inFlight_ >= limit_) return false;
        if (blocks_[next_].streamed && streamedInFlight_ > 0) return false;
        return inFlight_ == 0 || bytesInFlight_ + blocks_[next_].cost <= budget_;
    }

    // Under lock_: the writer is done with the first piece of streamed block `b`
    // if it has used all of it.
    void DropUsedPiece(Block& b) {
        if (b.pieces.empty() || b.pieceAt < b.pieces.front().second) return;
        HeapFreeFn(nullptr, b.pieces.front().first);
        b.pieces.pop_front();
        b.pieceAt = 0;
        workReady_.notify_all();
    }

    // Under lock_: up to `most` next bytes of streamed block `b`, waiting for
    // the worker; its code when it fails before them.
    SRes NextPiece(std::unique_lock<std::mutex>& guard, Block& b, UInt64 most, const Byte** data, size_t* n) {
        DropUsedPiece(b);
        blockReady_.wait(guard, [&] { return !b.pieces.empty() || b.ready; });
        if (b.pieces.empty()) return b.res != SZ_OK ? b.res : SZ_ERROR_DATA;
        const auto& piece = b.pieces.front();
        *n = static_cast<size_t>(std::min<UInt64>(most, piece.second - b.pieceAt));
        *data = piece.first + b.pieceAt;
        b.pieceAt += *n;
        b.consumed += *n;
        return SZ_OK;
    }

    // Under lock_: the writer is done with block `index`. A streamed block
    // the writer left before its end is decoded to its end and dropped.
    void Release(std::unique_lock<std::mutex>& guard, size_t index) {
        Block& b = blocks_[index];
        if (!b.taken) return;  // not reached: the writer waits for each block in turn
        for (;;) {
            for (auto& piece : b.pieces) HeapFreeFn(nullptr, piece.first);
            b.pieces.clear();
            b.pieceAt = 0;
            if (b.ready) break;
            workReady_.notify_all();
            blockReady_.wait(guard);
        }
        HeapFreeFn(nullptr, b.buffer);
        b.buffer = nullptr;
        b.taken = false;
        --inFlight_;
        if (b.streamed) --streamedInFlight_;
        bytesInFlight_ -= b.cost;
        workReady_.notify_all();
    }

    void Work() {
        ISzAlloc alloc = {&HeapAllocFn, &HeapFreeFn};
        HeapBlock lookBuf;
        lookBuf.p = HeapAllocFn(nullptr, kWorkerLookAheadSize);
        View view = {{&ViewRead, &ViewSeek}, this, 0, 0};
        CLookToRead2 look;
        LookToRead2_CreateVTable(&look, True);
        look.realStream = &view.vt;
        look.buf = static_cast<Byte*>(lookBuf.p);
        look.bufSize = kWorkerLookAheadSize;

        for (;;) {
            size_t index = 0;
            {
                std::unique_lock<std::mutex> guard(lock_);
                workReady_.wait(guard, [&] { return next_ >= end_.load() || CanTake(); });
                if (next_ >= end_.load()) return;
                index = next_++;
                blocks_[index].taken = true;
                ++inFlight_;
                if (blocks_[index].streamed) ++streamedInFlight_;
                bytesInFlight_ += blocks_[index].cost;
            }
            const Block& b = blocks_[index];  // folder and entries do not change
            UInt32 cached = 0xFFFFFFFF;
            Byte* buffer = nullptr;
            size_t bufferSize = 0;
            SRes res = lookBuf.p ? SZ_OK : SZ_ERROR_MEM;
            UInt32 failed = b.firstFile;
            view.block = index;
            LookToRead2_INIT(&look);
            if (b.streamed && res == SZ_OK) res = Stream(index, look.vt);
            // The first entry decodes the folder; every entry's checksum is checked.
            for (UInt32 i = b.firstFile; !b.streamed && res == SZ_OK && i <= b.lastFile; ++i) {
                if (db_.FileToFolder[i] != b.folder) continue;
                size_t offset = 0, length = 0;
                res = SzArEx_Extract(&db_, &look.vt, i, &cached, &buffer, &bufferSize, &offset, &length, &alloc,
                                     &alloc);
                if (res != SZ_OK) failed = i;
            }
            {
                std::lock_guard<std::mutex> guard(lock_);
                Block& done = blocks_[index];
                done.res = res;
                done.failedFile = failed;
                done.buffer = buffer;
                done.bufferSize = bufferSize;
                done.ready = true;
                if (res != SZ_OK && index + 1 < end_.load()) end_ = index + 1;  // later blocks are not needed
            }
            blockReady_.notify_all();
        }
    }

    // Decodes streamed block `index` piece by piece, handing each to the
    // writer, at most kPiecesAhead ahead of it.
    SRes Stream(size_t index, const ILookInStream& in) {
        const Block& b = blocks_[index];
        std::unique_ptr<FolderStream> stream(new (std::nothrow) FolderStream);
        if (!stream) return SZ_ERROR_MEM;
        RINOK(stream->Open(db_, b.folder, &in));
        UInt64 left = b.unpackSize;
        while (left > 0) {
            {
                std::unique_lock<std::mutex> guard(lock_);
                workReady_.wait(guard, [&] { return b.pieces.size() < kPiecesAhead || index >= end_.load(); });
                if (index >= end_.load()) return SZ_ERROR_READ;  // given up: the result is thrown away
            }
            const size_t n = static_cast<size_t>(std::min<UInt64>(kChunkSize, left));
            HeapBlock piece;
            piece.p = HeapAllocFn(nullptr, n);
            if (!piece.p) return SZ_ERROR_MEM;
            size_t got = 0;
            SRes res = stream->Read(static_cast<Byte*>(piece.p), n, &got);
            if (res == SZ_OK && got != n) res = SZ_ERROR_DATA;
            left -= got;
            // What was decoded before a fault still goes to the writer.
            if (got != 0) {
                std::lock_guard<std::mutex> guard(lock_);
                blocks_[index].pieces.emplace_back(static_cast<Byte*>(piece.p), got);
                piece.p = nullptr;
            }
            blockReady_.notify_all();
            if (res != SZ_OK) return res;
        }
        return SZ_OK;
    }

    static constexpr uint64_t kUnknownPosition = ~0ull;

    const CSzArEx& db_;
    ISeekInStreamPtr stream_;  // read and moved under streamLock_ only
    std::mutex streamLock_;
    uint64_t streamPosition_ = kUnknownPosition;

    std::vector<Block> blocks_;
    std::mutex lock_;
    std::condition_variable workReady_;   // a block may be taken, or the work ends
    std::condition_variable blockReady_;  // a block has been decoded
    size_t next_ = 0;                     // the next block to hand to a worker
    size_t current_ = 0;                  // the block the writer is on
    size_t inFlight_ = 0;                 // blocks handed out and not yet released
    size_t streamedInFlight_ = 0;         // of them streamed blocks
    uint64_t bytesInFlight_ = 0;
    const size_t limit_;
    const uint64_t budget_;
    std::atomic<size_t> end_;  // blocks from this index on are not decoded
    std::vector<std::thread> threads_;
    // The writer's entry: its bytes in a whole block, and how many are left.
    const Byte* whole_ = nullptr;
    UInt64 left_ = 0;
};
}  // namespace

namespace {

// Writes every entry of the opened archive under `outDir`, in archive order,
// taking the bytes of file entries from `blocks`.
int WriteEntries(const CSzArEx& db, BlockSource& blocks, const wchar_t* outDir,
                 const OnFileExtracted& onFileExtracted, const OnCreateFileFailed& onCreateFileFailed) {
    // Output directory + '\' + entry name; grown only for a longer name.
    const size_t dirLen = std::wcslen(outDir);
    HeapBlock pathBlock;
    wchar_t* path = nullptr;
    size_t longestName = 0;

    int result = SZ_OK;
    for (UInt32 i = 0; i < db.NumFiles; ++i) {
        size_t units = 0;
        const UInt16* name = EntryName(db, i, units);
        if (units > longestName) {
            HeapFreeFn(nullptr, pathBlock.p);
            pathBlock.p = HeapAllocFn(nullptr, (dirLen + units + 1) * sizeof(wchar_t));
            path = static_cast<wchar_t*>(pathBlock.p);
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
        BlockSource* source = nullptr;
        bool checked = true;
        // Entries without data (directories, empty files) have no folder and
        // are not passed to the decoder, which would drop its cached folder.
        if (!isDir && db.FileToFolder[i] != 0xFFFFFFFF) {
            const SRes res = blocks.Begin(i, &checked);
            if (res != SZ_OK) {
                result = res;
                break;
            }
            source = &blocks;
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

        const UInt32* crc = !checked && SzBitWithVals_Check(&db.CRCs, i) ? &db.CRCs.Vals[i] : nullptr;
        const EntryFile entryFile{source, crc, SzBitWithVals_Check(&db.MTime, i) ? &db.MTime.Vals[i] : nullptr,
                                  SzBitWithVals_Check(&db.Attribs, i), db.Attribs.Vals ? db.Attribs.Vals[i] : 0};
        const WriteOutcome outcome = WriteExtractedFile(path, entryFile, onCreateFileFailed);
        result = outcome.result;
        if (outcome.step == WriteOutcome::kSkipped) continue;
        if (outcome.step == WriteOutcome::kStop) break;

        if (onFileExtracted) onFileExtracted(path);
    }
    return result;
}

}  // namespace

unsigned ExtractionProcessorCount() {
    DWORD count = 0;
    using ActiveProcessorCount = DWORD(WINAPI*)(WORD);
    if (auto fn = reinterpret_cast<ActiveProcessorCount>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetActiveProcessorCount"))))
        count = fn(0xFFFF);  // ALL_PROCESSOR_GROUPS
    if (count == 0) {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    // A process held to fewer processors runs its threads on those only.
    DWORD_PTR processMask = 0, systemMask = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask) && processMask != 0) {
        DWORD allowed = 0;
        for (; processMask; processMask &= processMask - 1) ++allowed;
        count = std::min(count, allowed);
    }
    return count ? count : 1;
}

int Extract7zToDirectory(ISeekInStreamPtr stream, const wchar_t* outDir, const OnFileExtracted& onFileExtracted,
                         const OnCreateFileFailed& onCreateFileFailed) {
    return Extract7zToDirectory(stream, outDir, onFileExtracted, onCreateFileFailed, ExtractOptions{});
}

int Extract7zToDirectory(ISeekInStreamPtr stream, const wchar_t* outDir, const OnFileExtracted& onFileExtracted,
                         const OnCreateFileFailed& onCreateFileFailed, const ExtractOptions& options) {
    OpenedArchive archive;
    const SRes res = archive.Open(stream);
    if (res != SZ_OK) return res;
    const CSzArEx& db = archive.db;

    // Names that would leave the output directory refuse the whole archive
    // before anything is written.
    if (!AllEntryNamesSafe(db)) return SZ_ERROR_ARCHIVE;

    std::vector<Block> blocks = BlocksOf(db);
    unsigned workers = options.workers ? options.workers : ExtractionProcessorCount();
    workers = static_cast<unsigned>(std::min<size_t>({workers, kMaxWorkers, blocks.size()}));
    // A streamed block packed to almost its own size is stored, not
    // compressed: decoding it is copying, and a thread to do that beside the
    // writing would cost more memory (under Wine about 1 MiB per thread) than
    // it saves time. Such archives are decoded on the calling thread.
    const bool decodingWork = std::any_of(blocks.begin(), blocks.end(), [](const Block& b) {
        return !b.streamed || b.packSize < b.unpackSize - b.unpackSize / 16;
    });
    if (!decodingWork) workers = 1;
    if (workers > 1) {
        // Streamed blocks are decoded one at a time: threads beyond one per
        // block decoded whole and one for them would only wait (and each
        // costs its stack).
        const size_t whole = static_cast<size_t>(
            std::count_if(blocks.begin(), blocks.end(), [](const Block& b) { return !b.streamed; }));
        const unsigned threads = static_cast<unsigned>(std::min<size_t>(workers, whole + 1));
        ParallelBlocks parallel(db, stream, std::move(blocks), workers,
                                options.memoryBudget ? options.memoryBudget : kDefaultMemoryBudget);
        if (parallel.Start(threads)) return WriteEntries(db, parallel, outDir, onFileExtracted, onCreateFileFailed);
    }
    SequentialBlocks sequential(archive);
    return WriteEntries(db, sequential, outDir, onFileExtracted, onCreateFileFailed);
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
