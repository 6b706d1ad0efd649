// ZIP skin-package reader: central-directory walk, lookup, stored and deflated
// entries (zlib raw inflate), traditional ZIP decryption.
#include "archive/qvrzip.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "nqpublic/nqbase/nqhandle.h"

namespace {

constexpr DWORD kSigEndOfDirectory = 0x06054b50;
constexpr DWORD kSigDirectoryEntry = 0x02014b50;
constexpr DWORD kSigLocalHeader = 0x04034b50;
constexpr DWORD kEndRecordSize = 22;
constexpr DWORD kDirEntrySize = 46;
constexpr DWORD kLocalHeaderSize = 30;
constexpr DWORD kMaxBack = 0xffff;      // end record search: last 65535 bytes at most
constexpr DWORD kSearchStep = 0x400;    // windows of step + 4 bytes
constexpr DWORD kInputBufferSize = 16 * 1024;
constexpr DWORD kMaxStoredName = 255;   // longest stored name a lookup compares

inline uint16_t Get16(const BYTE* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const BYTE* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Where the archive bytes come from: a memory block or a file, read by absolute
// position. Positions past the end fail.
class Source {
public:
    virtual ~Source() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly n bytes at pos; false when they are not all there.
    virtual bool ReadAt(uint64_t pos, void* out, DWORD n) = 0;
};

class MemorySource : public Source {
public:
    MemorySource(const BYTE* data, DWORD length) : data_(data), length_(length) {}
    uint64_t Size() const override { return length_; }
    bool ReadAt(uint64_t pos, void* out, DWORD n) override {
        if (pos > length_ || n > length_ - pos) return false;
        if (n) std::memcpy(out, data_ + pos, n);
        return true;
    }

private:
    const BYTE* data_;
    DWORD length_;
};

class FileSource : public Source {
public:
    FileSource(nq::unique_hfile file, uint64_t size) : file_(std::move(file)), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t pos, void* out, DWORD n) override {
        if (pos > size_ || n > size_ - pos) return false;
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(pos);
        if (!::SetFilePointerEx(file_.get(), li, nullptr, FILE_BEGIN)) return false;
        BYTE* p = static_cast<BYTE*>(out);
        while (n) {
            DWORD got = 0;
            if (!::ReadFile(file_.get(), p, n, &got, nullptr) || got == 0) return false;
            p += got;
            n -= got;
        }
        return true;
    }

private:
    nq::unique_hfile file_;
    uint64_t size_;
};

// Traditional PKWARE encryption keys.
class CryptKeys {
public:
    void Init(const char* password) {
        k0_ = 0x12345678;
        k1_ = 0x23456789;
        k2_ = 0x34567890;
        if (password)
            for (const char* p = password; *p; ++p) Update(static_cast<BYTE>(*p));
    }
    BYTE Decrypt(BYTE c) {
        const uint16_t t = static_cast<uint16_t>((k2_ & 0xffff) | 2);
        const BYTE plain = static_cast<BYTE>(c ^ static_cast<BYTE>((t * (t ^ 1)) >> 8));
        Update(plain);
        return plain;
    }

private:
    static uint32_t Crc(uint32_t crc, BYTE b) {
        static const z_crc_t* table = get_crc_table();
        return table[(crc ^ b) & 0xff] ^ (crc >> 8);
    }
    void Update(BYTE c) {
        k0_ = Crc(k0_, c);
        k1_ = (k1_ + (k0_ & 0xff)) * 134775813u + 1;
        k2_ = Crc(k2_, static_cast<BYTE>(k1_ >> 24));
    }
    uint32_t k0_ = 0, k1_ = 0, k2_ = 0;
};

// One central-directory record, as stored.
struct DirEntry {
    uint16_t versionMadeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint32_t compSize = 0;
    uint32_t uncSize = 0;
    uint16_t nameLen = 0;
    uint16_t extraLen = 0;
    uint16_t commentLen = 0;
    uint32_t externalAttr = 0;
    uint32_t localOffset = 0;
    uint64_t recordPos = 0;  // absolute position of the record
};

void ClearEntry(ZipEntryInfo* e) {
    if (!e) return;
    *e = ZipEntryInfo{};
    e->index = -1;
}

// Drops drive prefixes, a leading separator and everything up to a "/../"
// (any mix of separators), repeatedly, as the reported names promise.
void SanitiseName(wchar_t* name) {
    static const wchar_t* const kUp[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    wchar_t* s = name;
    for (;;) {
        if (s[0] != 0 && s[1] == L':') {
            s += 2;
            continue;
        }
        if (s[0] == L'\\' || s[0] == L'/') {
            s += 1;
            continue;
        }
        wchar_t* cut = nullptr;
        for (const wchar_t* pattern : kUp) {
            cut = std::wcsstr(s, pattern);
            if (cut) break;
        }
        if (cut) {
            s = cut + 4;
            continue;
        }
        break;
    }
    if (s != name) std::memmove(name, s, (std::wcslen(s) + 1) * sizeof(wchar_t));
}

FILETIME UnixToFileTime(int32_t t) {
    const int64_t ft = (static_cast<int64_t>(t) + 11644473600LL) * 10000000LL;
    FILETIME out;
    out.dwLowDateTime = static_cast<DWORD>(ft);
    out.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ft) >> 32);
    return out;
}

FILETIME DosToFileTime(uint16_t date, uint16_t time) {
    FILETIME local = {}, utc = {};
    if (!::DosDateTimeToFileTime(date, time, &local)) return utc;
    if (!::LocalFileTimeToFileTime(&local, &utc)) return local;
    return utc;
}

}  // namespace

class CZipReader {
public:
    CZipReader(std::unique_ptr<Source> source, const char* password)
        : source_(std::move(source)), password_(password ? password : "") {}
    ~CZipReader() { CloseEntry(); }

    ZRESULT Open();
    ZRESULT Find(const wchar_t* name, bool ignoreCase, int* index, ZipEntryInfo* entry);
    ZRESULT Get(int index, ZipEntryInfo* entry);
    ZRESULT Unzip(int index, void* buffer, DWORD length);
    DWORD lastCount() const { return lastCount_; }

private:
    // Directory walk.
    ZRESULT GoToFirst();
    ZRESULT GoToNext();
    ZRESULT GoTo(int index);
    ZRESULT ReadCurrent(DirEntry& e);
    bool ReadCurrentName(const DirEntry& e, std::string& name, DWORD maxLen);

    // Decoding of the open entry.
    ZRESULT OpenEntry(int index);
    void CloseEntry();

    std::unique_ptr<Source> source_;
    std::string password_;

    // Global information.
    uint32_t entryCount_ = 0;
    uint64_t dirStart_ = 0;      // absolute position of the first directory record
    uint64_t bytesBefore_ = 0;   // bytes in front of the archive

    // Walk position: index and absolute position of the current record.
    uint32_t curIndex_ = 0;
    uint64_t curPos_ = 0;
    bool curValid_ = false;

    // One-entry cache of the last record built by Get.
    int cacheIndex_ = -1;
    ZipEntryInfo cache_;

    // The entry open for decoding (-1: none). Cached decode state:
    //  input_/inputLen_/inputPos_ hold compressed bytes already read (and decrypted);
    //  compLeft_ counts compressed bytes not yet read from the source, uncLeft_
    //  the bytes still to deliver; dataPos_ is the next source position to read.
    int openIndex_ = -1;
    bool deflated_ = false;
    bool encrypted_ = false;
    bool zInit_ = false;
    z_stream zs_ = {};
    std::unique_ptr<BYTE[]> input_;
    DWORD inputLen_ = 0;
    DWORD inputPos_ = 0;
    uint64_t dataPos_ = 0;
    uint32_t compLeft_ = 0;
    uint32_t uncLeft_ = 0;
    uint32_t crc_ = 0;
    CryptKeys keys_;
    DWORD lastCount_ = 0;
};

ZRESULT CZipReader::Open() {
    // 1. The end-of-central-directory record: searched backwards over at most the
    //    last 65535 bytes, in windows of 1028 bytes stepping back 1024 at a time;
    //    within a window the highest match wins.
    const uint64_t size = source_->Size();
    if (size < 4) return ZR_NOFILE;
    const uint64_t maxBack = size < kMaxBack ? size : kMaxBack;
    BYTE window[kSearchStep + 4];
    uint64_t found = UINT64_MAX;
    uint64_t back = 4;
    while (back < maxBack && found == UINT64_MAX) {
        back = (back + kSearchStep > maxBack) ? maxBack : back + kSearchStep;
        const uint64_t readPos = size - back;
        const DWORD readSize = static_cast<DWORD>((kSearchStep + 4 < size - readPos) ? kSearchStep + 4 : size - readPos);
        if (!source_->ReadAt(readPos, window, readSize)) return ZR_NOFILE;
        for (DWORD i = readSize - 3; i-- > 0;) {
            if (Get32(window + i) == kSigEndOfDirectory) {
                found = readPos + i;
                break;
            }
        }
    }
    if (found == UINT64_MAX) return ZR_NOFILE;

    // 2. The record's fields; single-volume archives only.
    BYTE rec[kEndRecordSize];
    if (!source_->ReadAt(found, rec, kEndRecordSize)) return ZR_NOFILE;
    const uint16_t disk = Get16(rec + 4);
    const uint16_t dirDisk = Get16(rec + 6);
    const uint16_t entriesHere = Get16(rec + 8);
    const uint16_t entriesTotal = Get16(rec + 10);
    const uint32_t dirSize = Get32(rec + 12);
    const uint32_t dirOffset = Get32(rec + 16);
    if (entriesHere != entriesTotal || disk != 0 || dirDisk != 0) return ZR_NOFILE;
    const uint64_t dirEnd = static_cast<uint64_t>(dirOffset) + dirSize;
    if (found < dirEnd) return ZR_NOFILE;

    // 3. Data in front of the archive shifts every stored offset.
    bytesBefore_ = found - dirEnd;
    entryCount_ = entriesTotal;
    dirStart_ = bytesBefore_ + dirOffset;
    input_.reset(new (std::nothrow) BYTE[kInputBufferSize]);
    if (!input_) return ZR_NOFILE;

    // 4. On the first directory record.
    GoToFirst();
    return ZR_OK;
}

ZRESULT CZipReader::GoToFirst() {
    curIndex_ = 0;
    curPos_ = dirStart_;
    curValid_ = entryCount_ > 0;
    return curValid_ ? ZR_OK : ZR_NOTFOUND;
}

ZRESULT CZipReader::ReadCurrent(DirEntry& e) {
    if (!curValid_) return ZR_CORRUPT;
    BYTE h[kDirEntrySize];
    if (!source_->ReadAt(curPos_, h, kDirEntrySize)) return ZR_CORRUPT;
    if (Get32(h) != kSigDirectoryEntry) return ZR_CORRUPT;
    e.versionMadeBy = Get16(h + 4);
    e.flags = Get16(h + 8);
    e.method = Get16(h + 10);
    e.dosTime = Get16(h + 12);
    e.dosDate = Get16(h + 14);
    e.crc = Get32(h + 16);
    e.compSize = Get32(h + 20);
    e.uncSize = Get32(h + 24);
    e.nameLen = Get16(h + 28);
    e.extraLen = Get16(h + 30);
    e.commentLen = Get16(h + 32);
    e.externalAttr = Get32(h + 38);
    e.localOffset = Get32(h + 42);
    e.recordPos = curPos_;
    return ZR_OK;
}

bool CZipReader::ReadCurrentName(const DirEntry& e, std::string& name, DWORD maxLen) {
    const DWORD n = e.nameLen < maxLen ? e.nameLen : maxLen;
    name.resize(n);
    return source_->ReadAt(e.recordPos + kDirEntrySize, name.data(), n);
}

ZRESULT CZipReader::GoToNext() {
    if (!curValid_) return ZR_NOTFOUND;
    if (curIndex_ + 1 >= entryCount_) {
        curValid_ = false;
        return ZR_NOTFOUND;
    }
    DirEntry e;
    if (ZRESULT r = ReadCurrent(e)) {
        curValid_ = false;
        return r;
    }
    curPos_ += kDirEntrySize + static_cast<uint64_t>(e.nameLen) + e.extraLen + e.commentLen;
    ++curIndex_;
    return ZR_OK;
}

ZRESULT CZipReader::GoTo(int index) {
    if (index < 0 || static_cast<uint32_t>(index) >= entryCount_) return ZR_ARGS;
    if (!curValid_ || static_cast<uint32_t>(index) < curIndex_) GoToFirst();
    while (curIndex_ < static_cast<uint32_t>(index))
        if (ZRESULT r = GoToNext()) return r == ZR_NOTFOUND ? ZR_CORRUPT : r;
    return ZR_OK;
}

ZRESULT CZipReader::Find(const wchar_t* name, bool ignoreCase, int* index, ZipEntryInfo* entry) {
    auto miss = [&]() {
        if (index) *index = -1;
        ClearEntry(entry);
        return ZR_NOTFOUND;
    };
    // 1. The key in UTF-8; 256 bytes or more can never match.
    char key[kMaxStoredName + 1];
    const int keyLen = ::WideCharToMultiByte(CP_UTF8, 0, name, -1, key, sizeof key, nullptr, nullptr);
    if (keyLen <= 0 || keyLen - 1 >= static_cast<int>(kMaxStoredName + 1) || entryCount_ == 0) return miss();
    const DWORD len = static_cast<DWORD>(keyLen - 1);

    // 2. Walk from the first entry; the first match wins.
    const uint32_t savedIndex = curIndex_;
    const uint64_t savedPos = curPos_;
    const bool savedValid = curValid_;
    std::string stored;
    bool hit = false;
    for (ZRESULT r = GoToFirst(); r == ZR_OK; r = GoToNext()) {
        DirEntry e;
        if (ReadCurrent(e) != ZR_OK) break;
        if (e.nameLen != len) continue;
        if (!ReadCurrentName(e, stored, len)) break;
        bool same = true;
        for (DWORD i = 0; i < len && same; ++i) {
            BYTE a = static_cast<BYTE>(stored[i]), b = static_cast<BYTE>(key[i]);
            if (ignoreCase) {
                if (a >= 'a' && a <= 'z') a = static_cast<BYTE>(a - 'a' + 'A');
                if (b >= 'a' && b <= 'z') b = static_cast<BYTE>(b - 'a' + 'A');
            }
            same = a == b;
        }
        if (same) {
            hit = true;
            break;
        }
    }
    if (!hit) {
        // 3. A miss leaves the walk where it was.
        curIndex_ = savedIndex;
        curPos_ = savedPos;
        curValid_ = savedValid;
        return miss();
    }
    CloseEntry();
    const int found = static_cast<int>(curIndex_);
    if (index) *index = found;
    if (entry) {
        if (ZRESULT r = Get(found, entry)) return r;
    }
    return ZR_OK;
}

ZRESULT CZipReader::Get(int index, ZipEntryInfo* entry) {
    if (!entry) return ZR_ARGS;
    if (index == -1) {
        ClearEntry(entry);
        entry->index = static_cast<int>(entryCount_);
        return ZR_OK;
    }
    if (index < -1 || static_cast<uint32_t>(index) >= entryCount_) return ZR_ARGS;
    CloseEntry();
    if (index == cacheIndex_) {
        *entry = cache_;
        return ZR_OK;
    }
    if (ZRESULT r = GoTo(index)) return r;
    DirEntry e;
    if (ZRESULT r = ReadCurrent(e)) return r;

    ZipEntryInfo info;
    info.index = index;

    // Name: UTF-8 to UTF-16, at most 259 units, then cleaned up.
    std::string stored;
    if (!ReadCurrentName(e, stored, e.nameLen)) return ZR_CORRUPT;
    if (!stored.empty()) {
        const int wlen = ::MultiByteToWideChar(CP_UTF8, 0, stored.data(), static_cast<int>(stored.size()), nullptr, 0);
        std::wstring wide(wlen > 0 ? wlen : 0, L'\0');
        if (wlen > 0)
            ::MultiByteToWideChar(CP_UTF8, 0, stored.data(), static_cast<int>(stored.size()), wide.data(), wlen);
        const size_t n = wide.size() < 259 ? wide.size() : 259;
        std::wmemcpy(info.name, wide.data(), n);
        info.name[n] = 0;
        // A stored NUL ends the name.
        SanitiseName(info.name);
    }

    // Attributes by the host that made the entry.
    const BYTE host = static_cast<BYTE>(e.versionMadeBy >> 8);
    if (host == 0 || host == 7 || host == 11 || host == 14) {
        const BYTE a = static_cast<BYTE>(e.externalAttr);
        if (a & 0x01) info.attr |= FILE_ATTRIBUTE_READONLY;
        if (a & 0x02) info.attr |= FILE_ATTRIBUTE_HIDDEN;
        if (a & 0x04) info.attr |= FILE_ATTRIBUTE_SYSTEM;
        if (a & 0x10) info.attr |= FILE_ATTRIBUTE_DIRECTORY;
        if (a & 0x20) info.attr |= FILE_ATTRIBUTE_ARCHIVE;
    } else {
        if (e.externalAttr & 0x40000000) info.attr |= FILE_ATTRIBUTE_DIRECTORY;
        if (!(e.externalAttr & 0x00800000)) info.attr |= FILE_ATTRIBUTE_READONLY;
        info.attr |= FILE_ATTRIBUTE_ARCHIVE;
    }

    // Times: the DOS stamp (local time) for all three, replaced by the extended
    // time-stamp block where it has them.
    info.mtime = info.atime = info.ctime = DosToFileTime(e.dosDate, e.dosTime);
    if (e.extraLen) {
        std::string extra(e.extraLen, '\0');
        if (!source_->ReadAt(e.recordPos + kDirEntrySize + e.nameLen, extra.data(), e.extraLen)) return ZR_READ;
        const BYTE* p = reinterpret_cast<const BYTE*>(extra.data());
        size_t left = extra.size();
        while (left >= 4) {
            const uint16_t tag = Get16(p);
            const uint16_t size = Get16(p + 2);
            p += 4;
            left -= 4;
            const size_t blockLen = size < left ? size : left;
            if (tag == 0x5455 && blockLen >= 1) {
                const BYTE flags = p[0];
                size_t off = 1;
                FILETIME* targets[3] = {&info.mtime, &info.atime, &info.ctime};
                for (int bit = 0; bit < 3; ++bit) {
                    if (!(flags & (1 << bit))) continue;
                    if (off + 4 > blockLen) break;  // the central copy usually holds only the write time
                    *targets[bit] = UnixToFileTime(static_cast<int32_t>(Get32(p + off)));
                    off += 4;
                }
            }
            p += blockLen;
            left -= blockLen;
        }
    }
    info.comp_size = e.compSize;
    info.unc_size = e.uncSize;

    cache_ = info;
    cacheIndex_ = index;
    *entry = info;
    return ZR_OK;
}

void CZipReader::CloseEntry() {
    if (zInit_) {
        inflateEnd(&zs_);
        zInit_ = false;
    }
    openIndex_ = -1;
    inputLen_ = inputPos_ = 0;
    compLeft_ = uncLeft_ = 0;
}

ZRESULT CZipReader::OpenEntry(int index) {
    if (ZRESULT r = GoTo(index)) return r == ZR_ARGS ? ZR_ARGS : ZR_FLATE;
    DirEntry e;
    if (ReadCurrent(e) != ZR_OK) return ZR_FLATE;

    // The local header must agree with the directory record.
    BYTE h[kLocalHeaderSize];
    const uint64_t localPos = bytesBefore_ + e.localOffset;
    if (!source_->ReadAt(localPos, h, kLocalHeaderSize)) return ZR_FLATE;
    if (Get32(h) != kSigLocalHeader) return ZR_FLATE;
    if (Get16(h + 8) != e.method) return ZR_FLATE;
    if (Get16(h + 26) != e.nameLen) return ZR_FLATE;
    if (!(e.flags & 0x08)) {
        // Without a data descriptor the local sizes are the real ones too.
        if (Get32(h + 14) != e.crc || Get32(h + 18) != e.compSize || Get32(h + 22) != e.uncSize) return ZR_FLATE;
    }
    if (e.method != 0 && e.method != 8) return ZR_FLATE;
    const uint16_t localExtra = Get16(h + 28);
    dataPos_ = localPos + kLocalHeaderSize + e.nameLen + localExtra;
    compLeft_ = e.compSize;
    uncLeft_ = e.uncSize;
    inputLen_ = inputPos_ = 0;
    crc_ = 0;
    deflated_ = e.method == 8;
    encrypted_ = (e.flags & 0x01) != 0;

    if (encrypted_) {
        // 12-byte encryption header; its last byte checks the password.
        if (compLeft_ < 12) return ZR_FLATE;
        BYTE header[12];
        if (!source_->ReadAt(dataPos_, header, 12)) return ZR_FLATE;
        keys_.Init(password_.c_str());
        BYTE last = 0;
        for (BYTE b : header) last = keys_.Decrypt(b);
        const BYTE check = (e.flags & 0x08) ? static_cast<BYTE>(e.dosTime >> 8) : static_cast<BYTE>(e.crc >> 24);
        if (last != check) return ZR_PASSWORD;
        dataPos_ += 12;
        compLeft_ -= 12;
    }
    if (deflated_) {
        zs_ = z_stream{};
        if (inflateInit2(&zs_, -MAX_WBITS) != Z_OK) return ZR_FLATE;
        zInit_ = true;
    }
    openIndex_ = index;
    return ZR_OK;
}

ZRESULT CZipReader::Unzip(int index, void* buffer, DWORD length) {
    lastCount_ = 0;
    if (index < 0 || static_cast<uint32_t>(index) >= entryCount_ || (!buffer && length)) {
        if (index != openIndex_) CloseEntry();
        return ZR_ARGS;
    }
    if (index != openIndex_) {
        CloseEntry();
        ZRESULT r = OpenEntry(index);
        if (r != ZR_OK) {
            CloseEntry();
            return r;
        }
    }

    BYTE* out = static_cast<BYTE*>(buffer);
    DWORD produced = 0;
    ZRESULT result = ZR_OK;
    while (uncLeft_ > 0 && produced < length) {
        // Refill the input with the next piece of compressed data.
        if (inputPos_ == inputLen_ && compLeft_ > 0) {
            const DWORD n = compLeft_ < kInputBufferSize ? compLeft_ : kInputBufferSize;
            if (!source_->ReadAt(dataPos_, input_.get(), n)) {
                result = ZR_FLATE;
                break;
            }
            if (encrypted_)
                for (DWORD i = 0; i < n; ++i) input_[i] = keys_.Decrypt(input_[i]);
            dataPos_ += n;
            compLeft_ -= n;
            inputPos_ = 0;
            inputLen_ = n;
        }
        const DWORD want = (length - produced) < uncLeft_ ? (length - produced) : uncLeft_;
        DWORD got = 0;
        if (!deflated_) {
            const DWORD avail = inputLen_ - inputPos_;
            if (avail == 0) {  // the entry claims more than its data holds
                result = ZR_FLATE;
                break;
            }
            got = avail < want ? avail : want;
            std::memcpy(out + produced, input_.get() + inputPos_, got);
            inputPos_ += got;
        } else {
            zs_.next_in = input_.get() + inputPos_;
            zs_.avail_in = inputLen_ - inputPos_;
            zs_.next_out = out + produced;
            zs_.avail_out = want;
            const int z = inflate(&zs_, Z_SYNC_FLUSH);
            got = want - zs_.avail_out;
            inputPos_ = inputLen_ - zs_.avail_in;
            bool failed;
            if (z == Z_STREAM_END)
                failed = got < want;  // the stream ended before the declared size
            else if (z == Z_OK || z == Z_BUF_ERROR)
                failed = got == 0 && inputPos_ == inputLen_ && compLeft_ == 0;  // out of input
            else
                failed = true;
            if (failed) {
                result = ZR_FLATE;
                break;
            }
        }
        crc_ = crc32(crc_, out + produced, got);
        produced += got;
        uncLeft_ -= got;
    }

    lastCount_ = result == ZR_OK ? produced : 0;
    if (result != ZR_OK) {
        CloseEntry();
        return result;
    }
    if (uncLeft_ == 0) {
        // The end was delivered; the next call with this index starts again.
        CloseEntry();
        return ZR_OK;
    }
    if (produced == 0) {
        CloseEntry();
        return ZR_MORE;
    }
    return ZR_MORE;
}

namespace {

ZRESULT CheckHandle(ZipHandle h) {
    if (!h) return ZR_ARGS;
    if (h->kind != ZIP_HANDLE_READER || !h->reader) return ZR_ZMODE;
    return ZR_OK;
}

ZipHandle MakeHandle(std::unique_ptr<Source> source, const char* password, ZRESULT* result) {
    ZRESULT r = ZR_NOFILE;
    ZipHandle handle = nullptr;
    std::unique_ptr<CZipReader> reader(new (std::nothrow) CZipReader(std::move(source), password));
    if (reader) {
        r = reader->Open();
        if (r == ZR_OK) {
            handle = new (std::nothrow) ZipHandleData;
            if (handle)
                handle->reader = reader.release();
            else
                r = ZR_NOFILE;
        }
    }
    if (result) *result = r;
    return handle;
}

}  // namespace

ZipHandle ZipOpenMemory(const void* data, DWORD length, const char* password, ZRESULT* result) {
    if (!data && length) {
        if (result) *result = ZR_ARGS;
        return nullptr;
    }
    std::unique_ptr<Source> source(new (std::nothrow) MemorySource(static_cast<const BYTE*>(data), length));
    if (!source) {
        if (result) *result = ZR_NOFILE;
        return nullptr;
    }
    return MakeHandle(std::move(source), password, result);
}

ZipHandle ZipOpenFile(const wchar_t* path, const char* password, ZRESULT* result) {
    if (result) *result = ZR_NOFILE;
    if (!path) return nullptr;
    nq::unique_hfile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return nullptr;
    std::unique_ptr<Source> source(new (std::nothrow) FileSource(std::move(file), static_cast<uint64_t>(size.QuadPart)));
    if (!source) return nullptr;
    return MakeHandle(std::move(source), password, result);
}

ZRESULT ZipFindItem(ZipHandle h, const wchar_t* name, bool ignoreCase, int* index, ZipEntryInfo* entry) {
    if (ZRESULT r = CheckHandle(h)) return r;
    if (!name) {
        if (index) *index = -1;
        ClearEntry(entry);
        return ZR_ARGS;
    }
    return h->reader->Find(name, ignoreCase, index, entry);
}

ZRESULT ZipGetItem(ZipHandle h, int index, ZipEntryInfo* entry) {
    if (ZRESULT r = CheckHandle(h)) return r;
    return h->reader->Get(index, entry);
}

ZRESULT ZipUnzipItem(ZipHandle h, int index, void* buffer, DWORD length) {
    if (ZRESULT r = CheckHandle(h)) return r;
    return h->reader->Unzip(index, buffer, length);
}

ZRESULT ZipClose(ZipHandle h) {
    if (ZRESULT r = CheckHandle(h)) return r;
    delete h->reader;
    delete h;
    return ZR_OK;
}

DWORD ZipLastUnzipCount(ZipHandle h) {
    if (CheckHandle(h) != ZR_OK) return 0;
    return h->reader->lastCount();
}
