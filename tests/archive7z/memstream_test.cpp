// The memory input stream: reads never leave the block, every seek origin.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/qvr7z.h"

namespace {

TEST(MemInStream, ReadsAndSeeksAsOneTable) {
    const char block[] = "0123456789";  // 10 bytes used
    CMemInStream s(block, 10);
    EXPECT_EQ(s.position, 0u);
    EXPECT_EQ(static_cast<const void*>(&s), static_cast<const void*>(&s.vt)) << "usable as an ISeekInStream";

    enum Op { kRead, kSeek };
    struct Step {
        Op op;
        int64_t arg;        // read: count asked; seek: offset
        int origin;         // seek only
        SRes result;
        int64_t out;        // read: count delivered; seek: position written back
        const char* bytes;  // read: the bytes delivered
        uint32_t position;  // position afterwards
    };
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

}  // namespace
