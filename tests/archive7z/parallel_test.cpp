// Solid blocks decoded on worker threads: the files, times, attributes,
// callbacks and result codes are those of the extraction on one thread, for
// archives of many blocks (made by make_archives.py), a locked target file, a
// corrupt block and a machine held to one processor.
#include "archive/qvr7z.h"

#include <gtest/gtest.h>

#include <7zFile.h>

#include <algorithm>
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

// An input stream over a memory block that notes which threads read it.
struct ThreadNotingStream {
    ISeekInStream vt;
    CMemInStream* inner;
    std::mutex lock;
    std::set<DWORD> readers;
};
SRes NotingRead(ISeekInStreamPtr pp, void* buf, size_t* size) {
    auto* p = reinterpret_cast<ThreadNotingStream*>(const_cast<ISeekInStream*>(pp));
    {
        std::lock_guard<std::mutex> guard(p->lock);
        p->readers.insert(::GetCurrentThreadId());
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
        ThreadNotingStream noting;
        noting.vt = {&NotingRead, &NotingSeek};
        noting.inner = &mem;
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
            },
            failed, options);
        o.readerThreads = noting.readers;
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
        const std::wstring refOut = NewOut();
        ::CreateDirectoryW((refOut + L"\\d4").c_str(), nullptr);
        nq::unique_hfile refLock = LockFile(refOut + L"\\" + locked);
        const Outcome ref = Run(bytes, refOut, kOneThread, c.answer, moveAway);
        refLock.reset();
        EXPECT_EQ(ref.code, c.code);
        ASSERT_EQ(Relative(ref.asked, refOut), std::vector<std::wstring>{locked});

        for (const ExtractOptions& options : kParallelOptions) {
            SCOPED_TRACE("workers " + std::to_string(options.workers));
            const std::wstring out = NewOut();
            ::CreateDirectoryW((out + L"\\d4").c_str(), nullptr);
            nq::unique_hfile lock = LockFile(out + L"\\" + locked);
            const Outcome got = Run(bytes, out, options, c.answer, moveAway);
            lock.reset();
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
