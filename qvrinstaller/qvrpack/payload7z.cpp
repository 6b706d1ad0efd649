#include "payload7z.h"

#include <7zCrc.h>
#include <Alloc.h>
#include <Bra.h>
#include <Lzma2Enc.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <mutex>
#include <thread>

#include "packerror.h"
#include "payloadlimits.h"

namespace qvrpack {

namespace {

// Property ids of the 7z header.
enum : uint8_t {
    kEnd = 0x00, kHeader = 0x01, kMainStreamsInfo = 0x04, kFilesInfo = 0x05, kPackInfo = 0x06,
    kUnpackInfo = 0x07, kSubStreamsInfo = 0x08, kSize = 0x09, kCRC = 0x0A, kFolder = 0x0B,
    kCodersUnpackSize = 0x0C, kNumUnpackStream = 0x0D, kEmptyStream = 0x0E, kEmptyFile = 0x0F,
    kName = 0x11, kMTime = 0x14, kAttributes = 0x15,
};

class HeaderWriter {
public:
    void Byte(uint8_t b) { out.push_back(b); }
    void Number(uint64_t value) {
        uint8_t first = 0, mask = 0x80;
        int i = 0;
        for (; i < 8; i++) {
            if (value < (uint64_t{1} << (7 * (i + 1)))) {
                first |= static_cast<uint8_t>(value >> (8 * i));
                break;
            }
            first |= mask;
            mask >>= 1;
        }
        Byte(first);
        for (; i > 0; i--) {
            Byte(static_cast<uint8_t>(value));
            value >>= 8;
        }
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; i++) Byte(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; i++) Byte(static_cast<uint8_t>(v >> (8 * i)));
    }
    void Bits(const std::vector<bool>& bits) {
        uint8_t b = 0;
        for (size_t i = 0; i < bits.size(); i++) {
            if (bits[i]) b |= static_cast<uint8_t>(0x80 >> (i % 8));
            if (i % 8 == 7) {
                Byte(b);
                b = 0;
            }
        }
        if (bits.size() % 8) Byte(b);
    }
    Bytes out;
};

struct Stream {  // one non-empty file, in block order
    const FolderEntry* entry;
    uint32_t crc = 0;
};

struct Block {
    std::vector<Stream> streams;
    uint64_t size = 0;
    bool x86 = false;
    Bytes packed;
    uint8_t lzma2Prop = 0;
};

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

std::wstring Extension(const std::wstring& name) {
    const size_t slash = name.find_last_of(L'/');
    const size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return {};
    return Lower(name.substr(dot + 1));
}

struct SeqOut {
    ISeqOutStream vt;
    Bytes* out;
};

size_t SeqOutWrite(ISeqOutStreamPtr p, const void* buf, size_t size) {
    auto* self = reinterpret_cast<SeqOut*>(const_cast<ISeqOutStream*>(p));
    const auto* b = static_cast<const uint8_t*>(buf);
    self->out->insert(self->out->end(), b, b + size);
    return size;
}

// Reads the block's files, checks them against the listing, converts and compresses.
void EncodeBlock(Block& block, const PayloadOptions& options) {
    Bytes data;
    data.reserve(static_cast<size_t>(block.size));
    for (Stream& s : block.streams) {
        Bytes file = ReadWholeFile(s.entry->full, "payload file");
        if (file.size() != s.entry->size)
            throw PackError(kExitInput, "payload file " + WideToUtf8(s.entry->full) + " changed while it was packed");
        s.crc = CrcCalc(file.data(), file.size());
        data.insert(data.end(), file.begin(), file.end());
    }
    if (block.x86) {
        UInt32 state = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
        z7_BranchConvSt_X86_Enc(data.data(), data.size(), 0, &state);
    }
    CLzma2EncHandle enc = Lzma2Enc_Create(&g_Alloc, &g_BigAlloc);
    if (!enc) throw PackError(kExitPayload, "out of memory while compressing the payload");
    CLzma2EncProps props;
    Lzma2EncProps_Init(&props);
    props.lzmaProps.level = options.level;
    props.lzmaProps.dictSize = options.dictionaryBytes;  // reduceSize brings it down to the block
    props.lzmaProps.reduceSize = data.size();
    props.lzmaProps.numThreads = 1;
    props.blockSize = LZMA2_ENC_PROPS_BLOCK_SIZE_SOLID;
    props.numBlockThreads_Max = 1;
    props.numTotalThreads = 1;
    SRes res = Lzma2Enc_SetProps(enc, &props);
    if (res == SZ_OK) {
        block.lzma2Prop = Lzma2Enc_WriteProperties(enc);
        SeqOut out{{&SeqOutWrite}, &block.packed};
        res = Lzma2Enc_Encode2(enc, &out.vt, nullptr, nullptr, nullptr, data.data(), data.size(), nullptr);
    }
    Lzma2Enc_Destroy(enc);
    if (res != SZ_OK)
        throw PackError(kExitPayload, "the payload cannot be compressed (LZMA2 error " + std::to_string(res) + ")");
}

}  // namespace

bool IsX86Executable(const std::wstring& name) {
    static const wchar_t* const kExts[] = {L"exe", L"dll", L"sys", L"ocx", L"cpl", L"scr", L"drv", L"efi", L"ax"};
    const std::wstring ext = Extension(name);
    return std::any_of(std::begin(kExts), std::end(kExts), [&](const wchar_t* e) { return ext == e; });
}

Bytes PackFolder(const std::wstring& root, const PayloadOptions& options, PayloadStats* stats) {
    CrcGenerateTable();
    const std::vector<FolderEntry> entries = ListFolder(root);

    // Entries the archive lists: files with data first (in block order), then
    // empty files and folders. Time and attributes go with every entry.
    std::vector<const FolderEntry*> withData, withoutData;
    for (const FolderEntry& e : entries) {
        (e.directory || e.size == 0 ? withoutData : withData).push_back(&e);
        if (!e.directory && e.size > kMaxBlockUnpacked)
            throw PackError(kExitPayload, "payload file " + WideToUtf8(e.relative) + " holds " +
                                              std::to_string(e.size >> 20) + " MiB; the installer extracts files of at most " +
                                              std::to_string(kMaxBlockUnpacked >> 20) + " MiB");
        if (e.relative.size() > kMaxEntryName)
            throw PackError(kExitPayload, "payload name " + WideToUtf8(e.relative) + " is longer than " +
                                              std::to_string(kMaxEntryName) + " characters");
    }
    // Executables together (they share the branch converter), then by extension:
    // like files next to each other compress better.
    std::stable_sort(withData.begin(), withData.end(), [](const FolderEntry* a, const FolderEntry* b) {
        const bool xa = IsX86Executable(a->relative), xb = IsX86Executable(b->relative);
        if (xa != xb) return xa;
        const std::wstring ea = Extension(a->relative), eb = Extension(b->relative);
        if (ea != eb) return ea < eb;
        return a->relative < b->relative;
    });

    std::vector<Block> blocks;
    for (const FolderEntry* e : withData) {
        const bool x86 = IsX86Executable(e->relative);
        if (blocks.empty() || blocks.back().x86 != x86 ||
            (blocks.back().size + e->size > options.solidBlockBytes && !blocks.back().streams.empty()))
            blocks.push_back(Block{{}, 0, x86, {}, 0});
        blocks.back().streams.push_back(Stream{e, 0});
        blocks.back().size += e->size;
    }
    uint64_t total = 0;
    for (const Block& b : blocks) total += b.size;

    // Blocks are independent: two workers compress them, the archive keeps their order.
    std::atomic<size_t> next{0};
    std::mutex failMutex;
    std::exception_ptr failure;
    auto worker = [&] {
        for (size_t i = next++; i < blocks.size(); i = next++) {
            try {
                EncodeBlock(blocks[i], options);
            } catch (...) {
                std::lock_guard<std::mutex> lock(failMutex);
                if (!failure) failure = std::current_exception();
                next = blocks.size();
            }
        }
    };
    std::thread second(worker);
    worker();
    second.join();
    if (failure) std::rethrow_exception(failure);

    // Packed streams follow the 32-byte start header; the header comes last.
    Bytes archive(32, 0);
    for (const Block& b : blocks) archive.insert(archive.end(), b.packed.begin(), b.packed.end());
    const uint64_t packedEnd = archive.size() - 32;

    std::vector<const FolderEntry*> files = withData;
    files.insert(files.end(), withoutData.begin(), withoutData.end());
    HeaderWriter h;
    if (!files.empty()) {
        h.Byte(kHeader);
        if (!blocks.empty()) {
            h.Byte(kMainStreamsInfo);
            h.Byte(kPackInfo);
            h.Number(0);
            h.Number(blocks.size());
            h.Byte(kSize);
            for (const Block& b : blocks) h.Number(b.packed.size());
            h.Byte(kEnd);

            h.Byte(kUnpackInfo);
            h.Byte(kFolder);
            h.Number(blocks.size());
            h.Byte(0);  // not external
            for (const Block& b : blocks) {
                // Coder 0 decodes the packed stream; coder 1 (the converter) takes its output.
                h.Number(b.x86 ? 2 : 1);
                h.Byte(0x20 | 1);  // one-byte id, with properties
                h.Byte(0x21);      // LZMA2
                h.Number(1);
                h.Byte(b.lzma2Prop);
                if (b.x86) {
                    h.Byte(4);  // four-byte id, no properties
                    for (uint8_t c : {0x03, 0x03, 0x01, 0x03}) h.Byte(c);  // x86 BCJ
                    h.Number(1);  // bond: the converter's input stream ...
                    h.Number(0);  // ... is coder 0's output
                }
            }
            h.Byte(kCodersUnpackSize);
            for (const Block& b : blocks) {
                h.Number(b.size);
                if (b.x86) h.Number(b.size);
            }
            h.Byte(kEnd);

            h.Byte(kSubStreamsInfo);
            h.Byte(kNumUnpackStream);
            for (const Block& b : blocks) h.Number(b.streams.size());
            h.Byte(kSize);
            for (const Block& b : blocks)
                for (size_t i = 0; i + 1 < b.streams.size(); i++) h.Number(b.streams[i].entry->size);
            h.Byte(kCRC);
            h.Byte(1);  // all defined
            for (const Block& b : blocks)
                for (const Stream& s : b.streams) h.U32(s.crc);
            h.Byte(kEnd);
            h.Byte(kEnd);
        }

        h.Byte(kFilesInfo);
        h.Number(files.size());
        if (!withoutData.empty()) {
            std::vector<bool> emptyStream(files.size(), false), emptyFile;
            for (size_t i = withData.size(); i < files.size(); i++) {
                emptyStream[i] = true;
                emptyFile.push_back(!files[i]->directory);
            }
            h.Byte(kEmptyStream);
            h.Number((emptyStream.size() + 7) / 8);
            h.Bits(emptyStream);
            if (std::find(emptyFile.begin(), emptyFile.end(), true) != emptyFile.end()) {
                h.Byte(kEmptyFile);
                h.Number((emptyFile.size() + 7) / 8);
                h.Bits(emptyFile);
            }
        }
        uint64_t nameBytes = 1;
        for (const FolderEntry* f : files) nameBytes += (f->relative.size() + 1) * 2;
        h.Byte(kName);
        h.Number(nameBytes);
        h.Byte(0);
        for (const FolderEntry* f : files) {
            for (wchar_t c : f->relative) {
                h.Byte(static_cast<uint8_t>(c));
                h.Byte(static_cast<uint8_t>(c >> 8));
            }
            h.Byte(0);
            h.Byte(0);
        }
        h.Byte(kMTime);
        h.Number(2 + 8 * files.size());
        h.Byte(1);  // all defined
        h.Byte(0);  // not external
        for (const FolderEntry* f : files)
            h.U64(options.latestTime && f->lastWrite > options.latestTime ? options.latestTime : f->lastWrite);
        h.Byte(kAttributes);
        h.Number(2 + 4 * files.size());
        h.Byte(1);
        h.Byte(0);
        for (const FolderEntry* f : files) {
            const uint32_t keep = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_DIRECTORY;
            h.U32(f->attributes & keep);
        }
        h.Byte(kEnd);
        h.Byte(kEnd);
    }

    archive.insert(archive.end(), h.out.begin(), h.out.end());
    static const uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
    std::copy(std::begin(kSignature), std::end(kSignature), archive.begin());
    archive[6] = 0;
    archive[7] = 4;
    HeaderWriter start;
    start.U64(packedEnd);
    start.U64(h.out.size());
    start.U32(h.out.empty() ? 0 : CrcCalc(h.out.data(), h.out.size()));
    const uint32_t startCrc = CrcCalc(start.out.data(), start.out.size());
    for (int i = 0; i < 4; i++) archive[8 + i] = static_cast<uint8_t>(startCrc >> (8 * i));
    std::copy(start.out.begin(), start.out.end(), archive.begin() + 12);

    if (stats) {
        stats->files = withData.size();
        for (const FolderEntry* f : withoutData) (f->directory ? stats->folders : stats->files)++;
        stats->blocks = blocks.size();
        stats->unpacked = total;
    }
    return archive;
}

}  // namespace qvrpack
