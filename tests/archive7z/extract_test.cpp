// Extraction of 7z archives made by the host's 7zz at build time (see
// make_archives.py), run under Wine.
#include "archive/qvr7z.h"

#include <gtest/gtest.h>

#include <7zCrc.h>
#include <7zFile.h>

#include <string>
#include <vector>

#include "tests/common/testutil.h"
#include "tests/common/treeutil.h"

namespace {

using testutil::ListTree;
using Tree = std::vector<std::wstring>;

// Last-write times stored by make_archives.py (seconds since 1970, UTC).
constexpr int64_t kTimeReadOnly = 981173106;   // 2001-02-03 04:05:06
constexpr int64_t kTimeWritable = 1275898150;  // 2010-06-07 08:09:10
constexpr int64_t kTimeZero = 1104537600;      // 2005-01-01 00:00:00
constexpr int64_t kTimeNested = 1577934245;    // 2020-01-02 03:04:05

constexpr int kNoArchive = 17;
constexpr int kUnsupported = 4;
constexpr int kArchiveError = 16;

std::string Archive(const std::wstring& name) {
    std::string bytes;
    EXPECT_TRUE(testutil::ReadFileBytes(testutil::CurrentDir() + L"\\archives\\" + name, bytes))
        << testutil::WideToUtf8(name);
    return bytes;
}

std::string ReadOr(const std::wstring& path) { return testutil::ReadFileOr(path, "<missing>"); }

// A sandbox folder with the target folder "out" inside it, so that the tests
// can see that nothing is written next to the target.
class Extract : public testing::Test {
protected:
    void SetUp() override {
        sandbox_ = testutil::MakeTempDir(L"7z");
        ASSERT_FALSE(sandbox_.empty());
        out_ = sandbox_ + L"\\out";
        ASSERT_TRUE(::CreateDirectoryW(out_.c_str(), nullptr));
    }
    void TearDown() override { testutil::RemoveTree(sandbox_); }

    int Run(const std::string& bytes, const OnFileExtracted& done = {}, const OnCreateFileFailed& failed = {}) {
        CMemInStream in(bytes.data(), static_cast<uint32_t>(bytes.size()));
        return Extract7zToDirectory(&in.vt, out_.c_str(), done, failed);
    }
    std::wstring Out(const std::wstring& rel) const { return out_ + L"\\" + rel; }
    // Everything in the sandbox lies under "out".
    void ExpectNothingOutside() const {
        EXPECT_EQ(ListTree(sandbox_).front(), L"out\\");
        for (const std::wstring& e : ListTree(sandbox_)) EXPECT_EQ(e.rfind(L"out\\", 0), 0u) << testutil::WideToUtf8(e);
    }

    std::wstring sandbox_;
    std::wstring out_;
};

TEST_F(Extract, EveryCoderAndFilterGivesTheSameFiles) {
    ASSERT_EQ(Run(Archive(L"copy.7z")), 0);
    const Tree expectedTree = {L"prog.exe", L"readme.txt", L"sub\\", L"sub\\lib.dll"};
    ASSERT_EQ(ListTree(out_), expectedTree);
    const std::string prog = ReadOr(Out(L"prog.exe")), readme = ReadOr(Out(L"readme.txt")),
                      lib = ReadOr(Out(L"sub\\lib.dll"));
    EXPECT_EQ(prog.size(), 96u * 1024);
    EXPECT_EQ(readme.size(), 20000u);
    EXPECT_EQ(lib.size(), 40u * 1024);

    for (const wchar_t* name : {L"lzma.7z", L"lzma2.7z", L"bcj.7z", L"bcj2.7z", L"arm.7z"}) {
        SCOPED_TRACE(testutil::WideToUtf8(name));
        testutil::RemoveTree(out_);
        ASSERT_TRUE(::CreateDirectoryW(out_.c_str(), nullptr));
        std::vector<std::wstring> seen;
        EXPECT_EQ(Run(Archive(name), [&](const wchar_t* p) { seen.push_back(p); }), 0);
        EXPECT_EQ(ListTree(out_), expectedTree);
        EXPECT_EQ(ReadOr(Out(L"prog.exe")), prog);
        EXPECT_EQ(ReadOr(Out(L"readme.txt")), readme);
        EXPECT_EQ(ReadOr(Out(L"sub\\lib.dll")), lib);
        EXPECT_EQ(seen.size(), 3u);
    }
}

TEST_F(Extract, ReadsThroughTheFileStream) {
    const std::wstring path = testutil::CurrentDir() + L"\\archives\\bcj2.7z";
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CFileInStream in;
    FileInStream_CreateVTable(&in);
    in.file.handle = h;
    in.wres = 0;
    EXPECT_EQ(Extract7zToDirectory(&in.vt, out_.c_str(), {}, {}), 0);
    ::CloseHandle(h);
    EXPECT_EQ(ListTree(out_).size(), 4u);
    EXPECT_EQ(ReadOr(Out(L"readme.txt")).size(), 20000u);
}

TEST_F(Extract, UnsupportedMethodsAndEncryptionWriteNothing) {
    for (const wchar_t* name : {L"ppmd.7z", L"encrypted.7z", L"encrypted_names.7z"}) {
        SCOPED_TRACE(testutil::WideToUtf8(name));
        EXPECT_EQ(Run(Archive(name)), kUnsupported);
        EXPECT_TRUE(ListTree(out_).empty());
    }
}

// An input stream that counts the bytes the reader takes from it.
struct CountingStream {
    ISeekInStream vt;
    CMemInStream* inner;
    uint64_t bytesRead;
};
SRes CountingRead(ISeekInStreamPtr pp, void* buf, size_t* size) {
    auto* p = reinterpret_cast<CountingStream*>(const_cast<ISeekInStream*>(pp));
    const SRes r = p->inner->vt.Read(&p->inner->vt, buf, size);
    p->bytesRead += *size;
    return r;
}
SRes CountingSeek(ISeekInStreamPtr pp, Int64* pos, ESzSeek origin) {
    auto* p = reinterpret_cast<CountingStream*>(const_cast<ISeekInStream*>(pp));
    return p->inner->vt.Seek(&p->inner->vt, pos, origin);
}

TEST_F(Extract, SolidFolderIsDecodedOnceForAllItsFiles) {
    // 72 files of incompressible data in six folders, one solid block of
    // about 250 KB: decoding it a second time would read it a second time.
    const std::string bytes = Archive(L"solid.7z");
    CMemInStream mem(bytes.data(), static_cast<uint32_t>(bytes.size()));
    CountingStream counting = {{&CountingRead, &CountingSeek}, &mem, 0};
    std::vector<std::wstring> seen;
    ASSERT_EQ(Extract7zToDirectory(&counting.vt, out_.c_str(), [&](const wchar_t* p) { seen.push_back(p); }, {}), 0);
    ASSERT_EQ(seen.size(), 72u);
    EXPECT_LE(counting.bytesRead, bytes.size() + 2 * 16384) << "the solid block was read more than once";
    EXPECT_EQ(ListTree(out_).size(), 72u + 6u);
    for (int d = 0; d < 6; ++d) {
        for (int f = 0; f < 12; ++f) {
            wchar_t rel[64];
            swprintf(rel, 64, L"dir%d\\file%02d.bin", d, f);
            EXPECT_EQ(ReadOr(Out(rel)).size(), 3000u + 97u * f) << testutil::WideToUtf8(rel);
            EXPECT_EQ(testutil::LastWriteUnixTime(Out(rel)), kTimeWritable + d * 60 + f);
        }
    }
    // Every reported path is a full path under the target, with backslashes.
    for (const std::wstring& p : seen) {
        EXPECT_EQ(p.rfind(out_ + L"\\dir", 0), 0u);
        EXPECT_EQ(p.find(L'/'), std::wstring::npos);
    }
}

TEST_F(Extract, EmptyArchiveCreatesNothing) {
    const std::string bytes = Archive(L"empty.7z");
    ASSERT_EQ(bytes.size(), 32u);
    int calls = 0;
    EXPECT_EQ(Run(bytes, [&](const wchar_t*) { ++calls; }), 0);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(ListTree(out_).empty());
}

TEST_F(Extract, TimesAttributesEmptyFilesAndNestedNames) {
    std::vector<std::wstring> seen;
    ASSERT_EQ(Run(Archive(L"tree.7z"), [&](const wchar_t* p) { seen.push_back(p); }), 0);
    const Tree expected = {L"a\\", L"a\\b\\", L"a\\b\\c.txt", L"ro.txt", L"rw.txt", L"zero.bin"};
    EXPECT_EQ(ListTree(out_), expected);
    EXPECT_EQ(seen, (std::vector<std::wstring>{Out(L"zero.bin"), Out(L"a\\b\\c.txt"), Out(L"ro.txt"), Out(L"rw.txt")}));

    struct Case {
        const wchar_t* rel;
        std::string content;
        int64_t time;
        bool readOnly;
    };
    const Case cases[] = {
        {L"zero.bin", "", kTimeZero, false},
        {L"a\\b\\c.txt", "\xE5\xB5\x8C\xE5\xA5\x97\xE7\x9A\x84\xE6\x96\x87\xE4\xBB\xB6\r\n", kTimeNested, false},
        {L"ro.txt", "read-only entry\r\n", kTimeReadOnly, true},
        {L"rw.txt", "writable entry\r\n", kTimeWritable, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(c.rel));
        EXPECT_EQ(ReadOr(Out(c.rel)), c.content);
        EXPECT_EQ(testutil::LastWriteUnixTime(Out(c.rel)), c.time);
        const DWORD attrs = ::GetFileAttributesW(Out(c.rel).c_str());
        EXPECT_EQ((attrs & FILE_ATTRIBUTE_READONLY) != 0, c.readOnly);
        EXPECT_NE(attrs & FILE_ATTRIBUTE_ARCHIVE, 0u) << "the stored archive bit is applied";
    }

    // A second extraction over the existing files, one of them read-only and
    // changed meanwhile: it is overwritten and read-only again afterwards.
    ASSERT_TRUE(::SetFileAttributesW(Out(L"ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(testutil::WriteFileBytes(Out(L"ro.txt"), "changed"));
    ASSERT_TRUE(::SetFileAttributesW(Out(L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    // And one grown longer than its entry: nothing of the old tail is left.
    ASSERT_TRUE(testutil::WriteFileBytes(Out(L"rw.txt"), std::string(4096, 'x')));
    ASSERT_EQ(Run(Archive(L"tree.7z")), 0);
    EXPECT_EQ(ReadOr(Out(L"rw.txt")), "writable entry\r\n");
    EXPECT_EQ(ReadOr(Out(L"ro.txt")), "read-only entry\r\n");
    EXPECT_NE(::GetFileAttributesW(Out(L"ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(testutil::LastWriteUnixTime(Out(L"ro.txt")), kTimeReadOnly);
}

TEST_F(Extract, DirectoryEntriesAreCreatedWithoutCallbacks) {
    std::vector<std::wstring> seen;
    ASSERT_EQ(Run(Archive(L"dirs.7z"), [&](const wchar_t* p) { seen.push_back(p); }), 0);
    const Tree expected = {L"top\\", L"top\\emptydir\\", L"top\\inner\\", L"top\\inner\\x.txt"};
    EXPECT_EQ(ListTree(out_), expected);
    EXPECT_EQ(seen, std::vector<std::wstring>{Out(L"top\\inner\\x.txt")});
}

TEST_F(Extract, CorruptInputFailsAndNeverWritesOutside) {
    const std::string good = Archive(L"lzma2.7z");
    std::string swapped = good;
    std::swap(swapped[0], swapped[1]);
    const auto flip = [&](size_t at, int bit) {
        std::string b = good;
        b[at] = static_cast<char>(b[at] ^ (1 << bit));
        return b;
    };
    struct Case {
        const char* what;
        std::string bytes;
        int expected;  // -1: any non-zero code
    };
    const Case cases[] = {
        {"empty stream", std::string(), kNoArchive},
        {"text file", "this is not an archive at all, just some text\r\n", kNoArchive},
        {"signature only", good.substr(0, 6), kNoArchive},
        {"first two bytes exchanged", swapped, kNoArchive},
        {"start header cut", good.substr(0, 20), -1},
        {"no header", good.substr(0, 32), -1},
        {"cut in the packed data", good.substr(0, good.size() / 2), -1},
        {"last byte missing", good.substr(0, good.size() - 1), -1},
        {"flip in the signature", flip(3, 0), kNoArchive},
        {"flip in the start header", flip(14, 2), -1},
        {"flip early in the packed data", flip(40, 5), -1},
        {"flip in the middle of the packed data", flip(good.size() / 2, 7), -1},
        {"flip late in the packed data", flip(good.size() - 300, 1), -1},
        {"flip in the header", flip(good.size() - 20, 3), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testutil::RemoveTree(out_);
        ASSERT_TRUE(::CreateDirectoryW(out_.c_str(), nullptr));
        std::vector<std::wstring> seen;
        const int code = Run(c.bytes, [&](const wchar_t* p) { seen.push_back(p); });
        if (c.expected >= 0)
            EXPECT_EQ(code, c.expected);
        else
            EXPECT_NE(code, 0);
        ExpectNothingOutside();
        for (const std::wstring& p : seen) EXPECT_EQ(p.rfind(out_ + L"\\", 0), 0u);
    }
}

TEST_F(Extract, NamesLeavingTheTargetRefuseTheWholeArchive) {
    // Each archive holds "good.txt" and then one entry whose name was patched
    // after 7zz wrote it.
    for (const wchar_t* name : {L"unsafe_dotdot.7z", L"unsafe_dotdot_bs.7z", L"unsafe_middle.7z", L"unsafe_rooted.7z",
                                L"unsafe_rooted_bs.7z", L"unsafe_drive.7z", L"unsafe_drive_rel.7z",
                                L"unsafe_dots.7z", L"unsafe_device.7z"}) {
        SCOPED_TRACE(testutil::WideToUtf8(name));
        int calls = 0;
        EXPECT_EQ(Run(Archive(name), [&](const wchar_t*) { ++calls; }), kArchiveError);
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(ListTree(out_).empty()) << "nothing is written, not even the harmless entry";
        ExpectNothingOutside();
    }
    // Dots inside a name are fine: "a/..evil.txt" stays in the target.
    ASSERT_EQ(Run(Archive(L"safe_dots_in_name.7z")), 0);
    EXPECT_EQ(ListTree(out_), (Tree{L"a\\", L"a\\..evil.txt", L"good.txt"}));
}

// A 7z archive with no packed streams whose uncompressed header is `header`.
std::string ArchiveWithHeader(const std::string& header) {
    CrcGenerateTable();
    auto le = [](std::string& out, uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    std::string start;  // next header offset, size, CRC
    le(start, 0, 8);
    le(start, header.size(), 8);
    le(start, CrcCalc(header.data(), header.size()), 4);
    std::string out("7z\xBC\xAF\x27\x1C\x00\x04", 8);
    le(out, CrcCalc(start.data(), start.size()), 4);
    return out + start + header;
}

TEST_F(Extract, EntriesWithoutNamesRefuseTheWholeArchive) {
    // The name property is optional in the format: such entries have no name
    // to write them under.
    struct Case {
        const char* what;
        std::string header;
    };
    // kHeader, kFilesInfo, one file, kEmptyStream {1}, [kEmptyFile {1}], kEnd, kEnd.
    const Case cases[] = {
        {"a directory", std::string("\x01\x05\x01\x0E\x01\x80\x00\x00", 8)},
        {"an empty file", std::string("\x01\x05\x01\x0E\x01\x80\x0F\x01\x80\x00\x00", 11)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int calls = 0;
        EXPECT_EQ(Run(ArchiveWithHeader(c.header), [&](const wchar_t*) { ++calls; }), kArchiveError);
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(ListTree(out_).empty());
        ExpectNothingOutside();
    }
}

TEST(EntryNames, SafetyTable) {
    struct Case {
        const wchar_t* name;
        bool safe;
    };
    const Case cases[] = {
        {L"a.txt", true},         {L"a/b/c.txt", true},       {L"a\\b.txt", true},    {L".hidden", true},
        {L"a/./b", true},         {L"..a", true},             {L"a..", true},         {L"a/..b/c", true},
        {L"", true},              {L"中文/文件.txt", true},   {L"..", false},         {L"../x", false},
        {L"a/../../x", false},    {L"a/..", false},           {L"..\\x", false},      {L"a\\..\\x", false},
        {L"/x", false},           {L"\\x", false},            {L"\\\\srv\\s\\x", false}, {L"C:x", false},
        {L"C:/x", false},         {L"c:\\x", false},          {L"a/b:c", false},      {L"... /x", false},
        {L".. /x", false},        {L"a/. ./x", false},        {L"./../x", false},
        // DOS devices in every folder, with any extension.
        {L"NUL", false},          {L"nul.txt", false},        {L"a/CON", false},      {L"Com1.log", false},
        {L"LPT9", false},         {L"aux .x", false},         {L"CONOUT$", false},    {L"prn/x.txt", false},
        {L"CONSOLE.txt", true},   {L"null", true},            {L"COM10", true},       {L"xNUL", true},
        {L"COM", true},           {L"a.NUL", true},           {L"LPTX", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Is7zEntryNameSafe(c.name, wcslen(c.name)), c.safe) << testutil::WideToUtf8(c.name);
}

// A file of the target held open by someone else: "rw.txt" is the last entry
// of tree.7z and "ro.txt" the one before it.
class LockedTarget : public Extract {
protected:
    void SetUp() override {
        Extract::SetUp();
        ASSERT_EQ(Run(Archive(L"tree.7z")), 0);
        ASSERT_TRUE(testutil::WriteFileBytes(Out(L"rw.txt"), "old"));
    }
    void Lock(const std::wstring& rel, DWORD share) {
        lock_ = ::CreateFileW(Out(rel).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(lock_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (lock_ != INVALID_HANDLE_VALUE) ::CloseHandle(lock_);
        Extract::TearDown();
    }
    HANDLE lock_ = INVALID_HANDLE_VALUE;
};

TEST_F(LockedTarget, WithoutCallbackStopsWith11AtThatEntry) {
    Lock(L"rw.txt", 0);
    std::vector<std::wstring> seen;
    EXPECT_EQ(Run(Archive(L"tree.7z"), [&](const wchar_t* p) { seen.push_back(p); }), 11);
    EXPECT_EQ(seen, (std::vector<std::wstring>{Out(L"zero.bin"), Out(L"a\\b\\c.txt"), Out(L"ro.txt")}));
    ::CloseHandle(lock_);
    lock_ = INVALID_HANDLE_VALUE;
    EXPECT_EQ(ReadOr(Out(L"rw.txt")), "old");
}

TEST_F(LockedTarget, CallbackAnswering2Stops) {
    Lock(L"rw.txt", 0);
    std::vector<std::pair<std::wstring, DWORD>> asked;
    const int code = Run(Archive(L"tree.7z"), {}, [&](const wchar_t* p, DWORD e) {
        asked.emplace_back(p, e);
        return 2;
    });
    EXPECT_EQ(code, 11);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, Out(L"rw.txt"));
    EXPECT_EQ(asked[0].second, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(LockedTarget, CallbackMovesTheFileAwayAndAnswers0) {
    // Like a running program: it may be renamed but not written.
    Lock(L"rw.txt", FILE_SHARE_DELETE);
    int asked = 0;
    std::vector<std::wstring> seen;
    const int code = Run(
        Archive(L"tree.7z"), [&](const wchar_t* p) { seen.push_back(p); },
        [&](const wchar_t* p, DWORD) {
            ++asked;
            return ::MoveFileExW(p, Out(L"moved.old").c_str(), 0) ? 0 : 2;
        });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(ReadOr(Out(L"rw.txt")), "writable entry\r\n");
    ::CloseHandle(lock_);
    lock_ = INVALID_HANDLE_VALUE;
    EXPECT_EQ(ReadOr(Out(L"moved.old")), "old");
}

TEST_F(LockedTarget, CallbackAnswering0WithoutMovingFailsOnTheSecondTry) {
    Lock(L"rw.txt", 0);
    int asked = 0;
    EXPECT_EQ(Run(Archive(L"tree.7z"), {}, [&](const wchar_t*, DWORD) { return ++asked, 0; }), 11);
    EXPECT_EQ(asked, 1) << "one more try only";
}

TEST_F(LockedTarget, CallbackAnswering1SkipsTheEntryAndGoesOn) {
    ASSERT_TRUE(::SetFileAttributesW(Out(L"ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(testutil::WriteFileBytes(Out(L"ro.txt"), "kept"));
    Lock(L"ro.txt", 0);
    std::vector<std::wstring> seen;
    const int code = Run(
        Archive(L"tree.7z"), [&](const wchar_t* p) { seen.push_back(p); }, [&](const wchar_t*, DWORD) { return 1; });
    EXPECT_EQ(code, 0) << "a later file resets the result";
    EXPECT_EQ(seen, (std::vector<std::wstring>{Out(L"zero.bin"), Out(L"a\\b\\c.txt"), Out(L"rw.txt")}));
    EXPECT_EQ(ReadOr(Out(L"rw.txt")), "writable entry\r\n");
    ::CloseHandle(lock_);
    lock_ = INVALID_HANDLE_VALUE;
    EXPECT_EQ(ReadOr(Out(L"ro.txt")), "kept");
}

}  // namespace
