// Solid blocks decoded on worker threads: the files, times, attributes,
// callbacks and result codes are those of the extraction on one thread, for
// archives of many blocks (made by make_archives.py), a locked target file, a
// corrupt block and a machine held to one processor.
#include "archive/qvr7z.h"

#include <gtest/gtest.h>

#include <7z.h>
#include <7zCrc.h>
#include <7zFile.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/testutil.h"
#include "tests/common/treeutil.h"

namespace {

std::string Archive(const std::wstring& name) {
    std::string bytes;
    EXPECT_TRUE(testutil::ReadFileBytes(testutil::CurrentDir() + L"\\archives\\" + name, bytes))
        << testutil::WideToUtf8(name);
    return bytes;
}

// Everything a tree of extracted files shows: names, bytes, last-write times
// and attribute words.
struct TreeEntry {
    std::wstring rel;
    std::string bytes;
    uint64_t writeTime;
    DWORD attributes;
    bool operator==(const TreeEntry& o) const {
        return rel == o.rel && bytes == o.bytes && writeTime == o.writeTime && attributes == o.attributes;
    }
};
std::vector<TreeEntry> Snapshot(const std::wstring& dir) {
    std::vector<TreeEntry> out;
    for (const std::wstring& rel : testutil::ListTree(dir)) {
        const std::wstring path = dir + L"\\" + rel;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
        const bool isDir = !rel.empty() && rel.back() == L'\\';
        // Folders get the time of their last change, not a stored one.
        const uint64_t time = isDir ? 0
                                    : (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                          data.ftLastWriteTime.dwLowDateTime;
        out.push_back(
            {rel, isDir ? std::string() : testutil::ReadFileOr(path, "<unreadable>"), time, data.dwFileAttributes});
    }
    return out;
}
std::string Describe(const std::vector<TreeEntry>& tree) {
    std::string s;
    for (const TreeEntry& e : tree)
        s += testutil::WideToUtf8(e.rel) + " " + std::to_string(e.bytes.size()) + " bytes, time " +
             std::to_string(e.writeTime) + ", attributes " + std::to_string(e.attributes) + "\n";
    return s;
}

// An input stream over a memory block that notes which threads read it, and
// where each read starts with the number of files reported by then.
struct ThreadNotingStream {
    ISeekInStream vt;
    CMemInStream* inner;
    const std::atomic<size_t>* reported;
    std::mutex lock;
    std::set<DWORD> readers;
    std::vector<std::pair<uint32_t, size_t>> reads;
};
SRes NotingRead(ISeekInStreamPtr pp, void* buf, size_t* size) {
    auto* p = reinterpret_cast<ThreadNotingStream*>(const_cast<ISeekInStream*>(pp));
    {
        std::lock_guard<std::mutex> guard(p->lock);
        p->readers.insert(::GetCurrentThreadId());
        p->reads.emplace_back(p->inner->position, p->reported->load());
    }
    return p->inner->vt.Read(&p->inner->vt, buf, size);
}
SRes NotingSeek(ISeekInStreamPtr pp, Int64* pos, ESzSeek origin) {
    auto* p = reinterpret_cast<ThreadNotingStream*>(const_cast<ISeekInStream*>(pp));
    return p->inner->vt.Seek(&p->inner->vt, pos, origin);
}

// What one extraction did, as the caller sees it.
struct Outcome {
    int code = -1;
    std::vector<std::wstring> reported;                 // OnFileExtracted, in order
    std::vector<std::pair<std::wstring, DWORD>> asked;  // OnCreateFileFailed, in order
    std::set<DWORD> callbackThreads;                    // threads the callbacks ran on
    std::set<DWORD> readerThreads;                      // threads that read the stream
    std::vector<std::pair<uint32_t, size_t>> reads;     // start, files reported by then
    std::vector<TreeEntry> tree;
};

class Parallel : public testing::Test {
protected:
    void SetUp() override {
        sandbox_ = testutil::MakeTempDir(L"7zmt");
        ASSERT_FALSE(sandbox_.empty());
    }
    void TearDown() override { testutil::RemoveTree(sandbox_); }

    // A fresh output folder for each run.
    std::wstring NewOut() {
        const std::wstring out = sandbox_ + L"\\out" + std::to_wstring(++runs_);
        EXPECT_TRUE(::CreateDirectoryW(out.c_str(), nullptr));
        return out;
    }

    // Extracts `bytes` into `out` with `options`; `answer` (when given) is the
    // create-failure callback's answer, after `beforeAnswer` has run.
    Outcome Run(const std::string& bytes, const std::wstring& out, const ExtractOptions& options, int answer = -1,
                const std::function<void(const wchar_t*)>& beforeAnswer = {}) {
        Outcome o;
        CMemInStream mem(bytes.data(), static_cast<uint32_t>(bytes.size()));
        std::atomic<size_t> reportedCount{0};
        ThreadNotingStream noting;
        noting.vt = {&NotingRead, &NotingSeek};
        noting.inner = &mem;
        noting.reported = &reportedCount;
        OnCreateFileFailed failed;
        if (answer >= 0)
            failed = [&](const wchar_t* path, DWORD error) {
                o.callbackThreads.insert(::GetCurrentThreadId());
                o.asked.emplace_back(path, error);
                if (beforeAnswer) beforeAnswer(path);
                return answer;
            };
        o.code = Extract7zToDirectory(
            &noting.vt, out.c_str(),
            [&](const wchar_t* path) {
                o.callbackThreads.insert(::GetCurrentThreadId());
                o.reported.push_back(std::wstring(path).substr(out.size() + 1));
                ++reportedCount;
            },
            failed, options);
        o.readerThreads = noting.readers;
        o.reads = noting.reads;
        o.tree = Snapshot(out);
        return o;
    }

    // Paths reported relative to the output folder, so that runs into
    // different folders compare.
    static std::vector<std::wstring> Relative(const std::vector<std::pair<std::wstring, DWORD>>& asked,
                                              const std::wstring& out) {
        std::vector<std::wstring> rel;
        for (const auto& a : asked) rel.push_back(a.first.substr(out.size() + 1));
        return rel;
    }

    std::wstring sandbox_;
    int runs_ = 0;
};

// The options a run on several threads may take: workers, and a budget so
// small that one block at a time is decoded ahead of the writer.
const ExtractOptions kParallelOptions[] = {{2, 0}, {4, 0}, {16, 0}, {3, 1}};
const ExtractOptions kOneThread = {1, 0};

TEST_F(Parallel, ManyBlocksGiveTheFilesCallbacksAndCodesOfOneThread) {
    const DWORD self = ::GetCurrentThreadId();
    struct Case {
        const wchar_t* archive;
        size_t files;  // file entries reported
        bool manyBlocks;
    };
    const Case cases[] = {
        {L"blocks.7z", 72, true},       // LZMA2, 14 blocks, empty files and a folder between them
        {L"blocks_bcj2.7z", 12, true},  // BCJ2: four packed streams per block
        {L"solid.7z", 72, false},       // one block
        {L"tree.7z", 4, false},         // times, attributes, an empty file
        {L"dirs.7z", 1, false},        {L"empty.7z", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(c.archive));
        const std::string bytes = Archive(c.archive);
        const std::wstring refOut = NewOut();
        const Outcome ref = Run(bytes, refOut, kOneThread);
        ASSERT_EQ(ref.code, 0);
        ASSERT_EQ(ref.reported.size(), c.files);
        EXPECT_EQ(ref.readerThreads, (std::set<DWORD>{self})) << "one worker: all on the calling thread";
        for (const ExtractOptions& options : kParallelOptions) {
            SCOPED_TRACE("workers " + std::to_string(options.workers) + ", budget " +
                         std::to_string(options.memoryBudget));
            const Outcome got = Run(bytes, NewOut(), options);
            EXPECT_EQ(got.code, ref.code);
            EXPECT_EQ(got.reported, ref.reported) << "the same files reported, in archive order";
            EXPECT_TRUE(got.tree == ref.tree) << "got:\n"
                                              << Describe(got.tree) << "one thread:\n"
                                              << Describe(ref.tree);
            EXPECT_TRUE(got.callbackThreads.empty() || got.callbackThreads == std::set<DWORD>{self});
            // The calling thread reads the headers, the workers the blocks.
            if (c.manyBlocks) {
                EXPECT_GE(got.readerThreads.size(), 2u) << "blocks were read by workers";
            }
        }
    }

    // The blocks archive keeps what matters: read-only files, times, empty files.
    const std::vector<TreeEntry> tree = Snapshot(sandbox_ + L"\\out1");
    size_t readOnly = 0, empty = 0;
    for (const TreeEntry& e : tree) {
        if (e.attributes & FILE_ATTRIBUTE_READONLY) ++readOnly;
        if (e.rel.back() != L'\\' && e.bytes.empty()) ++empty;
    }
    EXPECT_EQ(readOnly, 18u);
    EXPECT_EQ(empty, 6u);
    EXPECT_EQ(testutil::LastWriteUnixTime(sandbox_ + L"\\out1\\d7\\f08.txt"), 1275898150 + 7 * 3600 + 8 * 7);
}

// A holder of a file that lets it be renamed but not written, like a running
// program holds its own file.
nq::unique_hfile LockFile(const std::wstring& path) {
    EXPECT_TRUE(testutil::WriteFileBytes(path, "old"));
    {
        // A fixed time, so that trees of different runs compare.
        nq::unique_hfile w(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        const FILETIME t = {0x12345678, 0x01D00000};
        EXPECT_TRUE(w && ::SetFileTime(w.get(), nullptr, nullptr, &t));
    }
    nq::unique_hfile h(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(h);
    return h;
}

TEST_F(Parallel, LockedFileInOneBlockAsksOnceOnTheCallingThread) {
    const std::string bytes = Archive(L"blocks.7z");
    const DWORD self = ::GetCurrentThreadId();
    const std::wstring locked = L"d4\\f05.bin";  // in a block in the middle
    struct Case {
        int answer;
        bool moveAway;
        int code;
    };
    const Case cases[] = {
        {2, false, 11},  // stop
        {1, false, 0},   // skip it, go on (a later file resets the result)
        {0, true, 0},    // moved out of the way, created on the second try
        {0, false, 11},  // still locked on the second try
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("answer " + std::to_string(c.answer) + (c.moveAway ? ", moved" : ""));
        auto moveAway = [&](const wchar_t* path) {
            if (c.moveAway) ::MoveFileExW(path, (std::wstring(path) + L".old").c_str(), 0);
        };
        // Extracts into `out` while the file is held open there.
        auto runLocked = [&](const std::wstring& out, const ExtractOptions& options) {
            ::CreateDirectoryW((out + L"\\d4").c_str(), nullptr);
            nq::unique_hfile lock = LockFile(out + L"\\" + locked);
            return Run(bytes, out, options, c.answer, moveAway);
        };
        const std::wstring refOut = NewOut();
        const Outcome ref = runLocked(refOut, kOneThread);
        EXPECT_EQ(ref.code, c.code);
        ASSERT_EQ(Relative(ref.asked, refOut), std::vector<std::wstring>{locked});

        for (const ExtractOptions& options : kParallelOptions) {
            SCOPED_TRACE("workers " + std::to_string(options.workers));
            const std::wstring out = NewOut();
            const Outcome got = runLocked(out, options);
            EXPECT_EQ(got.code, ref.code);
            EXPECT_EQ(Relative(got.asked, out), std::vector<std::wstring>{locked}) << "asked once";
            EXPECT_EQ(got.asked[0].second, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
            EXPECT_EQ(got.callbackThreads, std::set<DWORD>{self});
            EXPECT_EQ(got.reported, ref.reported);
            EXPECT_TRUE(got.tree == ref.tree) << "got:\n"
                                              << Describe(got.tree) << "one thread:\n"
                                              << Describe(ref.tree);
            if (c.code == 11) {
                // On disk: the files reported before it, and the locked one as it was.
                EXPECT_EQ(testutil::ReadFileOr(out + L"\\" + locked), "old");
                size_t files = 0;
                for (const TreeEntry& e : got.tree) files += e.rel.back() != L'\\';
                EXPECT_EQ(files, got.reported.size() + 1) << "nothing after the locked file is written";
            }
        }
    }
}

TEST_F(Parallel, CorruptBlockStopsWithTheCodeOfOneThreadAndReportsNothingOfIt) {
    const std::string good = Archive(L"blocks.7z");
    const std::string corrupt = Archive(L"blocks_corrupt.7z");
    const Outcome whole = Run(good, NewOut(), kOneThread);
    ASSERT_EQ(whole.code, 0);
    const Outcome ref = Run(corrupt, NewOut(), kOneThread);
    ASSERT_NE(ref.code, 0);
    ASSERT_NE(ref.code, 11);
    ASSERT_GT(ref.reported.size(), 0u);
    ASSERT_LT(ref.reported.size(), whole.reported.size());

    for (const ExtractOptions& options : kParallelOptions) {
        SCOPED_TRACE("workers " + std::to_string(options.workers));
        const Outcome got = Run(corrupt, NewOut(), options);
        EXPECT_EQ(got.code, ref.code);
        EXPECT_EQ(got.reported, ref.reported);
        EXPECT_TRUE(got.tree == ref.tree) << "got:\n" << Describe(got.tree) << "one thread:\n" << Describe(ref.tree);
        // Every file on disk was reported and is whole; the reports are the
        // first ones of the intact archive.
        const std::set<std::wstring> reported(got.reported.begin(), got.reported.end());
        for (const TreeEntry& e : got.tree) {
            if (e.rel.back() == L'\\') continue;
            EXPECT_EQ(reported.count(e.rel), 1u) << testutil::WideToUtf8(e.rel) << " is on disk, not reported";
            for (const TreeEntry& w : whole.tree) {
                if (w.rel != e.rel) continue;
                EXPECT_TRUE(w == e) << testutil::WideToUtf8(e.rel);
            }
        }
        EXPECT_TRUE(std::equal(got.reported.begin(), got.reported.end(), whole.reported.begin()));
    }
}

// A process held to one processor takes the one-thread road by default.
TEST_F(Parallel, OneProcessorExtractsOnTheCallingThread) {
    EXPECT_GE(ExtractionProcessorCount(), 1u);
    DWORD_PTR processMask = 0, systemMask = 0;
    ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask));
    const DWORD_PTR one = processMask & (~processMask + 1);  // its lowest processor
    ASSERT_TRUE(::SetProcessAffinityMask(::GetCurrentProcess(), one));
    const unsigned count = ExtractionProcessorCount();
    const std::string bytes = Archive(L"blocks.7z");
    const Outcome got = Run(bytes, NewOut(), ExtractOptions{});
    ::SetProcessAffinityMask(::GetCurrentProcess(), processMask);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(got.readerThreads, std::set<DWORD>{::GetCurrentThreadId()});

    const Outcome ref = Run(bytes, NewOut(), kOneThread);
    EXPECT_EQ(got.code, 0);
    EXPECT_EQ(got.reported, ref.reported);
    EXPECT_TRUE(got.tree == ref.tree);
}

// The stream over a part of a file, as the installer reads its payload from
// its own file: the archive in the middle of other bytes, its first two bytes
// stored exchanged and given back by the stream, read by the workers.
TEST_F(Parallel, ArchiveInsideAFileReadThroughARange) {
    const std::string bytes = Archive(L"blocks_bcj2.7z");
    std::string stored = bytes;
    std::swap(stored[0], stored[1]);
    const std::wstring path = sandbox_ + L"\\carrier.bin";
    ASSERT_TRUE(testutil::WriteFileBytes(path, std::string(1000, 'x') + stored + std::string(777, 'y')));
    nq::unique_hfile h(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(h);

    const Outcome ref = Run(bytes, NewOut(), kOneThread);
    ASSERT_EQ(ref.code, 0);
    for (const ExtractOptions& options : {kOneThread, ExtractOptions{4, 0}}) {
        const Byte firstTwo[2] = {static_cast<Byte>(bytes[0]), static_cast<Byte>(bytes[1])};
        CFileRangeInStream in(h.get(), 1000, stored.size(), firstTwo);
        const std::wstring out = NewOut();
        std::vector<std::wstring> reported;
        EXPECT_EQ(
            Extract7zToDirectory(
                &in.vt, out.c_str(),
                [&](const wchar_t* p) { reported.push_back(std::wstring(p).substr(out.size() + 1)); }, {}, options),
            0);
        EXPECT_EQ(reported, ref.reported);
        EXPECT_TRUE(Snapshot(out) == ref.tree);
    }
    // Without the exchange given back it is no archive.
    CFileRangeInStream raw(h.get(), 1000, stored.size());
    EXPECT_EQ(Extract7zToDirectory(&raw.vt, NewOut().c_str(), {}, {}, ExtractOptions{4, 0}), 17);
}

}  // namespace

// Solid blocks several decoded pieces long behind the x86 filter: the files
// come out as they were packed, whatever the threads; a fault in the middle
// of the big file stops there, leaves nothing of it and reports only the
// files before it.
TEST_F(Parallel, LargeFilteredBlocksComeOutAsPackedAndStopInsideAFault) {
    const std::wstring src = testutil::CurrentDir() + L"\\archives\\stream_src\\";
    const std::wstring names[] = {L"bin\\a.exe", L"bin\\big.dll", L"bin\\c.exe", L"bin\\d.sys"};
    std::vector<ExtractOptions> all(std::begin(kParallelOptions), std::end(kParallelOptions));
    all.push_back(kOneThread);
    for (const wchar_t* archive : {L"stream_lzma2_x86.7z", L"stream_lzma_x86.7z"}) {
        SCOPED_TRACE(testutil::WideToUtf8(archive));
        const std::string bytes = Archive(archive);
        for (const ExtractOptions& options : all) {
            SCOPED_TRACE("workers " + std::to_string(options.workers));
            const std::wstring out = NewOut();
            const Outcome got = Run(bytes, out, options);
            ASSERT_EQ(got.code, 0);
            EXPECT_EQ(got.reported, std::vector<std::wstring>(std::begin(names), std::end(names)));
            for (const std::wstring& n : names) {
                const std::string want = testutil::ReadFileOr(src + n, "<missing source>");
                ASSERT_GT(want.size(), 100000u);
                EXPECT_TRUE(testutil::ReadFileOr(out + L"\\" + n, "<missing>") == want) << testutil::WideToUtf8(n);
            }
        }
    }

    const std::string corrupt = Archive(L"stream_corrupt.7z");
    const Outcome ref = Run(corrupt, NewOut(), kOneThread);
    ASSERT_NE(ref.code, 0);
    for (const ExtractOptions& options : all) {
        SCOPED_TRACE("workers " + std::to_string(options.workers));
        const std::wstring out = NewOut();
        const Outcome got = Run(corrupt, out, options);
        EXPECT_EQ(got.code, ref.code);
        EXPECT_EQ(got.reported, std::vector<std::wstring>{names[0]});
        EXPECT_TRUE(testutil::ReadFileOr(out + L"\\" + names[0], "<missing>") ==
                    testutil::ReadFileOr(src + names[0], "<missing source>"));
        for (size_t k = 1; k < 4; ++k)
            EXPECT_EQ(::GetFileAttributesW((out + L"\\" + names[k]).c_str()), INVALID_FILE_ATTRIBUTES)
                << testutil::WideToUtf8(names[k]) << " is on disk";
    }
}

namespace {

// Where each solid block with file entries lies in the archive (its packed
// streams), and the last of its entries, in archive order; read with the
// 7-Zip reader itself.
struct BlockLayout {
    uint64_t packStart, packEnd;
    std::wstring lastFile;  // as reported: relative, '\' separated
};
std::vector<BlockLayout> LayoutOf(const std::string& bytes) {
    static ISzAlloc alloc = {[](ISzAllocPtr, size_t n) { return n ? std::malloc(n) : nullptr; },
                             [](ISzAllocPtr, void* p) { std::free(p); }};
    CrcGenerateTable();
    CMemInStream mem(bytes.data(), static_cast<uint32_t>(bytes.size()));
    std::vector<Byte> lookBuf(1 << 14);
    CLookToRead2 look;
    LookToRead2_CreateVTable(&look, False);
    look.realStream = &mem.vt;
    look.buf = lookBuf.data();
    look.bufSize = lookBuf.size();
    LookToRead2_INIT(&look);
    CSzArEx db;
    SzArEx_Init(&db);
    std::vector<BlockLayout> blocks;
    EXPECT_EQ(SzArEx_Open(&db, &look.vt, &alloc, &alloc), SZ_OK);
    UInt32 last = 0xFFFFFFFF;
    for (UInt32 i = 0; i < db.NumFiles; ++i) {
        const UInt32 folder = db.FileToFolder[i];
        if (folder == 0xFFFFFFFF) continue;
        if (folder != last) {
            const UInt32 first = db.db.FoStartPackStreamIndex[folder], end = db.db.FoStartPackStreamIndex[folder + 1];
            blocks.push_back({db.dataPos + db.db.PackPositions[first], db.dataPos + db.db.PackPositions[end], L""});
            last = folder;
        }
        std::wstring name(SzArEx_GetFileNameUtf16(&db, i, nullptr) - 1, L'\0');
        SzArEx_GetFileNameUtf16(&db, i, reinterpret_cast<UInt16*>(&name[0]));
        std::replace(name.begin(), name.end(), L'/', L'\\');
        blocks.back().lastFile = name;
    }
    SzArEx_Free(&db, &alloc);
    return blocks;
}

// Not a byte of a block is read before every file of the block before it has
// been reported: one block in flight at a time, the writer's.
void ExpectOneBlockInFlight(const Outcome& o, const std::vector<BlockLayout>& blocks) {
    ASSERT_GE(blocks.size(), 2u);
    for (size_t k = 1; k < blocks.size(); ++k) {
        const auto at = std::find(o.reported.begin(), o.reported.end(), blocks[k - 1].lastFile);
        ASSERT_NE(at, o.reported.end()) << testutil::WideToUtf8(blocks[k - 1].lastFile);
        const size_t before = static_cast<size_t>(at - o.reported.begin()) + 1;
        size_t reads = 0;
        for (const auto& r : o.reads) {
            if (r.first < blocks[k].packStart || r.first >= blocks[k].packEnd) continue;
            ++reads;
            EXPECT_GE(r.second, before) << "block " << k << " read at " << r.first << " while block " << k - 1
                                        << " was written";
        }
        EXPECT_GT(reads, 0u) << "block " << k;
    }
}

}  // namespace

// Files on either side of the decoder's 256 KiB pieces, in streamed blocks
// whose dictionary wraps, with and without the x86 filter: every byte comes
// out as packed, whatever the threads, also after an entry read past (a
// locked file skipped), and one streamed block is decoded at a time.
TEST_F(Parallel, StreamedPiecesAcrossFilesAndOneStreamedBlockInFlight) {
    const std::wstring src = testutil::CurrentDir() + L"\\archives\\pieces_src\\";
    std::vector<ExtractOptions> all(std::begin(kParallelOptions), std::end(kParallelOptions));
    all.push_back(kOneThread);
    struct Case {
        const wchar_t* archive;
        const wchar_t* folder;
    };
    for (const Case& c : {Case{L"pieces_lzma2.7z", L"data"}, Case{L"pieces_lzma_x86.7z", L"bin"}}) {
        SCOPED_TRACE(testutil::WideToUtf8(c.archive));
        const std::string bytes = Archive(c.archive);
        const std::vector<BlockLayout> layout = LayoutOf(bytes);
        ASSERT_EQ(layout.size(), 3u);
        const std::vector<std::wstring> names = testutil::ListTree(src + c.folder);
        ASSERT_EQ(names.size(), 7u);
        for (const ExtractOptions& options : all) {
            SCOPED_TRACE("workers " + std::to_string(options.workers));
            for (const bool skipOne : {false, true}) {
                SCOPED_TRACE(skipOne ? "the fifth file locked and skipped" : "all written");
                const std::wstring out = NewOut();
                const std::wstring locked = std::wstring(c.folder) + (c.folder[0] == L'b' ? L"\\x4.dll" : L"\\p4.bin");
                nq::unique_hfile lock;
                if (skipOne) {
                    ::CreateDirectoryW((out + L"\\" + c.folder).c_str(), nullptr);
                    lock = LockFile(out + L"\\" + locked);
                }
                const Outcome got = Run(bytes, out, options, skipOne ? 1 : -1);
                lock.reset();
                EXPECT_EQ(got.code, 0);
                EXPECT_EQ(got.reported.size(), skipOne ? 6u : 7u);
                for (const std::wstring& n : names) {
                    const std::wstring rel = std::wstring(c.folder) + L"\\" + n;
                    const std::string want = skipOne && rel == locked ? "old" : testutil::ReadFileOr(src + rel, "?");
                    EXPECT_TRUE(testutil::ReadFileOr(out + L"\\" + rel, "<missing>") == want) << testutil::WideToUtf8(rel);
                }
                if (options.workers > 1 && !skipOne) ExpectOneBlockInFlight(got, layout);
            }
        }
    }
}

// A block of one file stored as it is, with a byte of it changed: only the
// file's checksum tells, and the file is not left behind, whatever the threads.
TEST_F(Parallel, ChangedByteInAStoredBlockFailsTheChecksum) {
    const std::string good = Archive(L"one_stored.7z");
    const std::string changed = Archive(L"one_stored_flip.7z");
    ASSERT_EQ(good.size(), changed.size());
    std::vector<ExtractOptions> all(std::begin(kParallelOptions), std::end(kParallelOptions));
    all.push_back(kOneThread);
    for (const ExtractOptions& options : all) {
        SCOPED_TRACE("workers " + std::to_string(options.workers));
        EXPECT_EQ(Run(good, NewOut(), options).code, 0);
        const std::wstring out = NewOut();
        const Outcome got = Run(changed, out, options);
        EXPECT_EQ(got.code, SZ_ERROR_CRC);
        EXPECT_TRUE(got.reported.empty());
        EXPECT_EQ(::GetFileAttributesW((out + L"\\one.bin").c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

// Blocks stored as they are (nothing to decode but copying) are not worth a
// thread: the calling thread reads and writes them, whatever the workers.
TEST_F(Parallel, StoredBlocksAreCopiedOnTheCallingThread) {
    const std::string bytes = Archive(L"stored_blocks.7z");
    ASSERT_EQ(LayoutOf(bytes).size(), 2u);
    const Outcome ref = Run(bytes, NewOut(), kOneThread);
    ASSERT_EQ(ref.code, 0);
    ASSERT_EQ(ref.reported, (std::vector<std::wstring>{L"one.bin", L"two.bin"}));
    for (const ExtractOptions& options : kParallelOptions) {
        SCOPED_TRACE("workers " + std::to_string(options.workers));
        const Outcome got = Run(bytes, NewOut(), options);
        EXPECT_EQ(got.code, 0);
        EXPECT_EQ(got.reported, ref.reported);
        EXPECT_TRUE(got.tree == ref.tree);
        EXPECT_EQ(got.readerThreads, std::set<DWORD>{::GetCurrentThreadId()});
    }
}

// The bound of blocks in flight: streamed blocks (LZMA2) one at a time
// whatever the budget; blocks decoded whole (BCJ2) one at a time when the
// budget holds only one.
TEST_F(Parallel, BlocksInFlightKeepToTheBound) {
    struct Case {
        const wchar_t* archive;
        ExtractOptions options;
    };
    const Case cases[] = {
        {L"blocks.7z", {2, 0}},
        {L"blocks.7z", {16, 0}},
        {L"blocks_bcj2.7z", {2, 1}},
        {L"blocks_bcj2.7z", {4, 30000}},  // less than any two blocks
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(c.archive) + ", workers " + std::to_string(c.options.workers) +
                     ", budget " + std::to_string(c.options.memoryBudget));
        const std::string bytes = Archive(c.archive);
        const Outcome ref = Run(bytes, NewOut(), kOneThread);
        const Outcome got = Run(bytes, NewOut(), c.options);
        ASSERT_EQ(got.code, 0);
        EXPECT_EQ(got.reported, ref.reported);
        EXPECT_TRUE(got.tree == ref.tree);
        ExpectOneBlockInFlight(got, LayoutOf(bytes));
    }
}
