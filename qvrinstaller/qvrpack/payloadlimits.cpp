#include "payloadlimits.h"

#include <7z.h>
#include <7zAlloc.h>
#include <7zCrc.h>

#include <cstring>

#include "packerror.h"

namespace qvrpack {

namespace {

struct MemStream {
    ISeekInStream vt;
    const Bytes* data;
    size_t pos;
};

SRes MemRead(ISeekInStreamPtr pp, void* buf, size_t* size) {
    auto* p = reinterpret_cast<MemStream*>(const_cast<ISeekInStream*>(pp));
    const size_t left = p->pos < p->data->size() ? p->data->size() - p->pos : 0;
    const size_t n = *size < left ? *size : left;
    if (n) std::memcpy(buf, p->data->data() + p->pos, n);
    p->pos += n;
    *size = n;
    return SZ_OK;
}

SRes MemSeek(ISeekInStreamPtr pp, Int64* pos, ESzSeek origin) {
    auto* p = reinterpret_cast<MemStream*>(const_cast<ISeekInStream*>(pp));
    Int64 base = origin == SZ_SEEK_SET ? 0 : origin == SZ_SEEK_CUR ? static_cast<Int64>(p->pos)
                                                                   : static_cast<Int64>(p->data->size());
    const Int64 target = base + *pos;
    if (target < 0) return SZ_ERROR_PARAM;
    p->pos = static_cast<size_t>(target);
    *pos = target;
    return SZ_OK;
}

const char* MethodProblem(UInt32 id) {
    switch (id) {
        case 0x00:        // Copy
        case 0x21:        // LZMA2
        case 0x030101:    // LZMA
        case 0x03030103:  // x86 BCJ
        case 0x03030501:  // ARM
        case 0x0303011B:  // BCJ2
            return nullptr;
        case 0x06F10701: return "is encrypted";
        case 0x030401: return "uses PPMd";
        case 0x040108: return "uses Deflate";
        case 0x040202: return "uses BZip2";
        default: return "uses a method the installer does not decode";
    }
}

bool NameLeavesFolder(const std::wstring& name) {
    if (name.empty() || name[0] == L'/' || name[0] == L'\\' || name.find(L':') != std::wstring::npos) return true;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(L"/\\", start);
        if (end == std::wstring::npos) end = name.size();
        if (name.compare(start, end - start, L"..") == 0) return true;
        start = end + 1;
    }
    return false;
}

struct Database {
    CSzArEx db;
    ISzAlloc alloc{SzAlloc, SzFree};
    Database() { SzArEx_Init(&db); }
    ~Database() { SzArEx_Free(&db, &alloc); }
};

}  // namespace

ArchiveSummary CheckArchive(const Bytes& archive, const std::string& what) {
    if (archive.size() > kMaxArchiveBytes)
        throw PackError(kExitPayload, what + " is " + std::to_string(archive.size() >> 20) +
                                          " MiB; the installer carries at most " + std::to_string(kMaxArchiveBytes >> 20) +
                                          " MiB of payload");
    CrcGenerateTable();
    MemStream mem{{&MemRead, &MemSeek}, &archive, 0};
    CLookToRead2 look;
    LookToRead2_CreateVTable(&look, False);
    Byte buffer[1 << 14];
    look.buf = buffer;
    look.bufSize = sizeof buffer;
    look.realStream = &mem.vt;
    LookToRead2_INIT(&look);
    Database d;
    const SRes res = SzArEx_Open(&d.db, &look.vt, &d.alloc, &d.alloc);
    if (res != SZ_OK)
        throw PackError(kExitPayload, what + " is not a 7z archive the installer can read (reader error " +
                                          std::to_string(res) + ")");
    ArchiveSummary summary;
    summary.entries = d.db.NumFiles;
    summary.blocks = d.db.db.NumFolders;
    for (UInt32 f = 0; f < d.db.db.NumFolders; f++) {
        // The coder table of a block, as the reader sees it.
        CSzFolder folder;
        CSzData sd;
        sd.Data = d.db.db.CodersData + d.db.db.FoCodersOffsets[f];
        sd.Size = d.db.db.FoCodersOffsets[f + 1] - d.db.db.FoCodersOffsets[f];
        if (SzGetNextFolderItem(&folder, &sd) != SZ_OK)
            throw PackError(kExitPayload, what + " has a block the installer cannot read");
        for (UInt32 c = 0; c < folder.NumCoders; c++)
            if (const char* problem = MethodProblem(static_cast<UInt32>(folder.Coders[c].MethodID)))
                throw PackError(kExitPayload, what + " " + problem + " (the installer reads Copy, LZMA and LZMA2 with the x86, ARM and BCJ2 filters)");
        const UInt64 unpacked = SzAr_GetFolderUnpackSize(&d.db.db, f);
        if (unpacked > summary.largestBlock) summary.largestBlock = unpacked;
        if (unpacked > kMaxBlockUnpacked)
            throw PackError(kExitPayload, what + " has a solid block of " + std::to_string(unpacked >> 20) +
                                              " MiB; the installer decodes blocks of at most " +
                                              std::to_string(kMaxBlockUnpacked >> 20) + " MiB");
    }
    std::vector<UInt16> name;
    for (UInt32 i = 0; i < d.db.NumFiles; i++) {
        const size_t len = SzArEx_GetFileNameUtf16(&d.db, i, nullptr);
        name.resize(len + 1);
        SzArEx_GetFileNameUtf16(&d.db, i, name.data());
        std::wstring w(name.begin(), name.begin() + (len ? len - 1 : 0));
        if (NameLeavesFolder(w))
            throw PackError(kExitPayload, what + " holds the entry \"" + WideToUtf8(w) +
                                              "\", which would land outside the install folder");
        if (w.size() > kMaxEntryName)
            throw PackError(kExitPayload, what + " holds the entry " + WideToUtf8(w) + ", longer than " +
                                              std::to_string(kMaxEntryName) + " characters");
    }
    return summary;
}

}  // namespace qvrpack
