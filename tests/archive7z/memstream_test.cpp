// The memory and file-range input streams: reads never leave the block or
// range, every seek origin.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/qvr7z.h"
#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/testutil.h"

namespace {

// One read or seek on a stream and what it must give.
enum Op { kRead, kSeek };
struct Step {
    Op op;
    int64_t arg;        // read: count asked; seek: offset
    int origin;         // seek only
    SRes result;
    int64_t out;        // read: count delivered; seek: position written back
    const char* bytes;  // read: the bytes delivered
    uint64_t position;  // position afterwards
};

// Runs the steps in order on `s` (a stream with `vt` and `position`).
template <typename Stream, size_t N>
void RunSteps(Stream& s, const Step (&steps)[N]) {
    int i = 0;
    for (const Step& st : steps) {
        SCOPED_TRACE("step " + std::to_string(i++));
        if (st.op == kRead) {
            char buf[32];
            std::memset(buf, '#', sizeof buf);
            size_t n = static_cast<size_t>(st.arg);
            EXPECT_EQ(s.vt.Read(&s.vt, buf, &n), st.result);
            EXPECT_EQ(static_cast<int64_t>(n), st.out);
            EXPECT_EQ(std::string(buf, n), st.bytes);
            EXPECT_EQ(buf[n], '#') << "nothing written past the count";
        } else {
            Int64 pos = st.arg;
            EXPECT_EQ(s.vt.Seek(&s.vt, &pos, static_cast<ESzSeek>(st.origin)), st.result);
            EXPECT_EQ(pos, st.out);
        }
        EXPECT_EQ(s.position, st.position);
    }
}

TEST(MemInStream, ReadsAndSeeksAsOneTable) {
    const char block[] = "0123456789";  // 10 bytes used
    CMemInStream s(block, 10);
    EXPECT_EQ(s.position, 0u);
    EXPECT_EQ(static_cast<const void*>(&s), static_cast<const void*>(&s.vt)) << "usable as an ISeekInStream";

    const Step steps[] = {
        {kRead, 4, 0, SZ_OK, 4, "0123", 4},
        {kRead, 0, 0, SZ_OK, 0, "", 4},                    // nothing asked, nothing copied
        {kSeek, 0, SZ_SEEK_CUR, SZ_OK, 4, nullptr, 4},     // how the reader learns where it is
        {kSeek, 3, SZ_SEEK_CUR, SZ_OK, 7, nullptr, 7},
        {kRead, 10, 0, SZ_OK, 3, "789", 10},               // past the end: only what is there
        {kRead, 5, 0, SZ_OK, 0, "", 10},                   // at the end: 0 bytes, no error
        {kSeek, 2, SZ_SEEK_SET, SZ_OK, 2, nullptr, 2},
        {kRead, 3, 0, SZ_OK, 3, "234", 5},
        {kSeek, 0, SZ_SEEK_END, SZ_OK, 10, nullptr, 10},   // from the end: the size
        {kSeek, -4, SZ_SEEK_END, SZ_OK, 6, nullptr, 6},
        {kRead, 2, 0, SZ_OK, 2, "67", 8},
        {kSeek, -2, SZ_SEEK_CUR, SZ_OK, 6, nullptr, 6},
        {kSeek, 25, SZ_SEEK_SET, SZ_OK, 25, nullptr, 25},  // beyond the end is allowed...
        {kRead, 4, 0, SZ_OK, 0, "", 25},                   // ...and reads nothing
        {kSeek, 0x100000003ll, SZ_SEEK_SET, SZ_OK, 3, nullptr, 3},  // low 32 bits of the offset
        {kSeek, 1, 3, 87, 1, nullptr, 3},                  // unknown origin: invalid parameter, unchanged
        {kSeek, -4, SZ_SEEK_CUR, 87, -4, nullptr, 3},      // before the block: refused, unchanged
        {kSeek, -11, SZ_SEEK_END, 87, -11, nullptr, 3},
        {kRead, 1, 0, SZ_OK, 1, "3", 4},
    };
    RunSteps(s, steps);
}

TEST(MemInStream, EmptyBlock) {
    CMemInStream s(nullptr, 0);
    char buf[4];
    size_t n = sizeof buf;
    EXPECT_EQ(s.vt.Read(&s.vt, buf, &n), SZ_OK);
    EXPECT_EQ(n, 0u);
    Int64 pos = 0;
    EXPECT_EQ(s.vt.Seek(&s.vt, &pos, SZ_SEEK_END), SZ_OK);
    EXPECT_EQ(pos, 0);
}

// A range in the middle of a file, its first two bytes read as given: what
// the installer does with its payload resource inside its own file.
TEST(FileRangeInStream, ReadsOnlyItsRangeWithTheFirstTwoBytesReplaced) {
    const std::wstring dir = testutil::MakeTempDir(L"range");
    ASSERT_FALSE(dir.empty());
    const std::wstring path = dir + L"\\file.bin";
    ASSERT_TRUE(testutil::WriteFileBytes(path, "xxx10234567890yyy"));  // the range: "1023456789"
    nq::unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    const HANDLE h = file.get();
    const Byte firstTwo[2] = {'0', '1'};
    CFileRangeInStream s(h, 3, 10, firstTwo);
    EXPECT_EQ(static_cast<const void*>(&s), static_cast<const void*>(&s.vt)) << "usable as an ISeekInStream";

    const Step steps[] = {
        {kRead, 1, 0, SZ_OK, 1, "0", 1},                   // byte 0 as given
        {kRead, 3, 0, SZ_OK, 3, "123", 4},                 // byte 1 as given, then the file's
        {kSeek, 0, SZ_SEEK_CUR, SZ_OK, 4, nullptr, 4},
        {kRead, 20, 0, SZ_OK, 6, "456789", 10},            // never past the range
        {kRead, 5, 0, SZ_OK, 0, "", 10},
        {kSeek, 0, SZ_SEEK_SET, SZ_OK, 0, nullptr, 0},
        {kRead, 5, 0, SZ_OK, 5, "01234", 5},
        {kSeek, 0, SZ_SEEK_END, SZ_OK, 10, nullptr, 10},
        {kSeek, -9, SZ_SEEK_END, SZ_OK, 1, nullptr, 1},
        {kRead, 2, 0, SZ_OK, 2, "12", 3},
        {kSeek, 40, SZ_SEEK_SET, SZ_OK, 40, nullptr, 40},  // beyond the end reads nothing
        {kRead, 4, 0, SZ_OK, 0, "", 40},
        {kSeek, 1, 3, 87, 1, nullptr, 40},                 // unknown origin
        {kSeek, -41, SZ_SEEK_CUR, 87, -41, nullptr, 40},   // before the range
        {kSeek, 9, SZ_SEEK_SET, SZ_OK, 9, nullptr, 9},
        {kRead, 0, 0, SZ_OK, 0, "", 9},
        {kRead, 4, 0, SZ_OK, 1, "9", 10},
    };
    RunSteps(s, steps);

    // Reads are positioned: where the handle's file pointer stands does not matter.
    LARGE_INTEGER zero = {};
    ASSERT_TRUE(::SetFilePointerEx(h, zero, nullptr, FILE_BEGIN));
    {
        Int64 pos = 5;
        ASSERT_EQ(s.vt.Seek(&s.vt, &pos, SZ_SEEK_SET), SZ_OK);
        char buf[4] = {};
        size_t n = 2;
        EXPECT_EQ(s.vt.Read(&s.vt, buf, &n), SZ_OK);
        EXPECT_EQ(std::string(buf, n), "56");
    }
    // Without replacement the file's bytes come through; a failing handle is a read error.
    CFileRangeInStream plain(h, 3, 10);
    char buf[4] = {};
    size_t n = 2;
    EXPECT_EQ(plain.vt.Read(&plain.vt, buf, &n), SZ_OK);
    EXPECT_EQ(std::string(buf, n), "10");
    // Two views on one handle, read in turns: each goes on where it stopped.
    n = 2;
    EXPECT_EQ(s.vt.Read(&s.vt, buf, &n), SZ_OK);
    EXPECT_EQ(std::string(buf, n), "78");
    n = 2;
    EXPECT_EQ(plain.vt.Read(&plain.vt, buf, &n), SZ_OK);
    EXPECT_EQ(std::string(buf, n), "23");
    file.reset();
    CFileRangeInStream none(nullptr, 0, 10);
    n = 2;
    EXPECT_EQ(none.vt.Read(&none.vt, buf, &n), SZ_ERROR_READ);
    EXPECT_EQ(n, 0u);
    testutil::RemoveTree(dir);
}

}  // namespace
