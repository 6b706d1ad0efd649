// The ZIP skin-package reader against packages made by the zip tool and
// packages written here with every edge the reader must handle.
#include "archive/qvrzip.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/common/testutil.h"
#include "tests/common/ziputil.h"

namespace {

using ziputil::BuildZip;
using ziputil::Entry;

struct Closer {
    void operator()(ZipHandleData* h) const {
        if (h) ZipClose(h);
    }
};
using Zip = std::unique_ptr<ZipHandleData, Closer>;

Zip Open(const std::string& bytes, const char* password = "", ZRESULT* result = nullptr) {
    return Zip(ZipOpenMemory(bytes.data(), static_cast<DWORD>(bytes.size()), password, result));
}

// The reader keeps pointing into the bytes: they live as long as the test program.
Zip OpenKept(std::string bytes, const char* password = "", ZRESULT* result = nullptr) {
    static std::vector<std::unique_ptr<std::string>> kept;
    kept.push_back(std::make_unique<std::string>(std::move(bytes)));
    return Open(*kept.back(), password, result);
}

std::string ReadFixture(const char* name) {
    std::string bytes;
    EXPECT_TRUE(testutil::ReadFileBytes(testutil::Utf8ToWide(name), bytes)) << name;
    return bytes;
}

// Whole entry through one call.
ZRESULT Unzip(ZipHandle h, int index, std::string& out) {
    ZipEntryInfo e;
    if (ZRESULT r = ZipGetItem(h, index, &e)) return r;
    out.assign(e.unc_size, '\0');
    return ZipUnzipItem(h, index, out.empty() ? nullptr : out.data(), e.unc_size);
}

std::string Patterned(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return s;
}

// ---------------------------------------------------------------------------
// Lookups in a package made by the zip tool.

TEST(ZipLookup, ToolPackageNamesAsStored) {
    const std::string bytes = ReadFixture("tool_skin.zip");
    Zip zip = Open(bytes);
    ASSERT_TRUE(zip);
    struct Case {
        const wchar_t* key;
        bool ignoreCase;
        bool found;
    } cases[] = {
        {L"Image/logo.png", false, true},
        {L"Image/logo.png", true, true},
        {L"image/LOGO.PNG", true, true},
        {L"image/LOGO.PNG", false, false},
        {L"Image\\logo.png", true, false},   // the reader does not turn separators
        {L"./Image/logo.png", true, false},  // no normalisation of the key
        {L"Image//logo.png", true, false},
        {L"Layout/Layout.xml", true, true},
        {L"Layout/", true, true},            // directory entries are entries too
        {L"Layout", true, false},
        {L"empty.txt", true, true},
        {L"missing.txt", true, false},
        {L"", true, false},
    };
    for (const Case& c : cases) {
        int index = 77;
        ZipEntryInfo e;
        const ZRESULT r = ZipFindItem(zip.get(), c.key, c.ignoreCase, &index, &e);
        SCOPED_TRACE(testutil::WideToUtf8(c.key));
        if (c.found) {
            EXPECT_EQ(r, ZR_OK);
            EXPECT_GE(index, 0);
            EXPECT_EQ(e.index, index);
        } else {
            EXPECT_EQ(r, ZR_NOTFOUND);
            EXPECT_EQ(index, -1);
            EXPECT_EQ(e.index, -1);
            EXPECT_EQ(e.name[0], 0);
        }
    }
}

TEST(ZipLookup, ToolPackageContentsAndEntryCount) {
    const std::string bytes = ReadFixture("tool_skin.zip");
    Zip zip = Open(bytes);
    ASSERT_TRUE(zip);
    ZipEntryInfo all;
    ASSERT_EQ(ZipGetItem(zip.get(), -1, &all), ZR_OK);
    EXPECT_EQ(all.index, 7);  // Layout/, Layout.xml, font.xml, Image/, two images, empty.txt
    EXPECT_EQ(all.name[0], 0);
    EXPECT_EQ(ZipGetItem(zip.get(), all.index, &all), ZR_ARGS);
    EXPECT_EQ(ZipGetItem(zip.get(), -2, &all), ZR_ARGS);

    int index = -1;
    ZipEntryInfo e;
    ASSERT_EQ(ZipFindItem(zip.get(), L"Layout/Layout.xml", true, &index, &e), ZR_OK);
    EXPECT_LT(e.comp_size, e.unc_size);  // deflated
    std::string layout;
    ASSERT_EQ(Unzip(zip.get(), index, layout), ZR_OK);
    EXPECT_EQ(layout.rfind("<Window size=\"600,460\">\n", 0), 0u);
    EXPECT_NE(layout.find("button 200"), std::string::npos);

    ASSERT_EQ(ZipFindItem(zip.get(), L"Image/logo.png", true, &index, &e), ZR_OK);
    EXPECT_EQ(e.comp_size, e.unc_size);  // stored
    std::string logo;
    ASSERT_EQ(Unzip(zip.get(), index, logo), ZR_OK);
    EXPECT_EQ(logo, "not really a png, stored as it is\n");

    ASSERT_EQ(ZipFindItem(zip.get(), L"empty.txt", true, &index, &e), ZR_OK);
    EXPECT_EQ(e.unc_size, 0u);
    char byte = 'x';
    EXPECT_EQ(ZipUnzipItem(zip.get(), index, &byte, 1), ZR_OK);
    EXPECT_EQ(ZipLastUnzipCount(zip.get()), 0u);
    EXPECT_EQ(byte, 'x');

    ASSERT_EQ(ZipFindItem(zip.get(), L"Image/", true, &index, &e), ZR_OK);
    EXPECT_TRUE(e.attr & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(ZipLookup, ToolPackageEncryptedWithRightAndWrongPassword) {
    const std::string bytes = ReadFixture("tool_secret.zip");
    struct Case {
        const char* password;
        ZRESULT expected;
    } cases[] = {{"secret", ZR_OK}, {"Secret", ZR_PASSWORD}, {"", ZR_PASSWORD}, {"secret2", ZR_PASSWORD}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        Zip zip = Open(bytes, c.password);
        ASSERT_TRUE(zip);
        int index = -1;
        ZipEntryInfo e;
        ASSERT_EQ(ZipFindItem(zip.get(), L"secret.txt", false, &index, &e), ZR_OK);
        std::string text;
        const ZRESULT r = Unzip(zip.get(), index, text);
        EXPECT_EQ(r, c.expected);
        if (r == ZR_OK) { EXPECT_EQ(text.rfind("the secret text", 0), 0u); }
    }
}

TEST(ZipLookup, OpenFileOnDisk) {
    const std::wstring dir = testutil::MakeTempDir(L"zipfile");
    const std::wstring path = dir + L"\\p.bin";
    const std::string bytes = BuildZip({{"a.txt", "alpha"}}, {std::string(5000, 'P'), "comment"});
    ASSERT_TRUE(testutil::WriteFileBytes(path, bytes));
    ZRESULT r = 1;
    Zip zip(ZipOpenFile(path.c_str(), "", &r));
    ASSERT_TRUE(zip);
    EXPECT_EQ(r, ZR_OK);
    int index = -1;
    ASSERT_EQ(ZipFindItem(zip.get(), L"a.txt", false, &index, nullptr), ZR_OK);
    std::string text;
    EXPECT_EQ(Unzip(zip.get(), index, text), ZR_OK);
    EXPECT_EQ(text, "alpha");
    zip.reset();
    EXPECT_EQ(ZipOpenFile((dir + L"\\missing.zip").c_str(), "", &r), nullptr);
    EXPECT_EQ(r, ZR_NOFILE);
    testutil::RemoveTree(dir);
}

// ---------------------------------------------------------------------------
// Opening: the end record search, prefixes, comments, refused directories.

TEST(ZipOpen, PrefixCommentAndDirectoryChecks) {
    const std::vector<Entry> entries = {{"x.txt", "xray"}, {"y.txt", "yankee", false}};
    struct Case {
        const char* what;
        ziputil::Options options;
        ZRESULT expected;
    } cases[] = {
        {"plain", {}, ZR_OK},
        {"prefix of 1 byte", {"P", ""}, ZR_OK},
        {"prefix of 200000 bytes", {std::string(200000, 'M'), ""}, ZR_OK},
        {"prefix holding a fake end record", {std::string("PK\x05\x06", 4) + std::string(100, '\0'), ""}, ZR_OK},
        {"comment of 1000 bytes", {"", std::string(1000, 'c')}, ZR_OK},
        {"comment of 65513 bytes", {"", std::string(65513, 'c')}, ZR_OK},
        {"comment of 65514 bytes", {"", std::string(65514, 'c')}, ZR_NOFILE},
        {"comment of 65535 bytes", {"", std::string(65535, 'c')}, ZR_NOFILE},
        {"prefix and comment", {std::string(3000, 'M'), std::string(4000, 'c')}, ZR_OK},
        {"entry counts differ", {"", "", 1}, ZR_NOFILE},
        {"second disk", {"", "", -1, 1}, ZR_NOFILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = BuildZip(entries, c.options);
        ZRESULT r = 12345;
        Zip zip = Open(bytes, "", &r);
        EXPECT_EQ(r, c.expected);
        EXPECT_EQ(zip != nullptr, c.expected == ZR_OK);
        if (!zip) continue;
        int index = -1;
        ASSERT_EQ(ZipFindItem(zip.get(), L"y.txt", false, &index, nullptr), ZR_OK);
        EXPECT_EQ(index, 1);
        std::string text;
        EXPECT_EQ(Unzip(zip.get(), index, text), ZR_OK);
        EXPECT_EQ(text, "yankee");
    }
}

TEST(ZipOpen, RefusesWhatIsNoArchive) {
    const std::string good = BuildZip({{"a", "b"}});
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"three bytes", "PK\x05"},
        {"no end record", std::string(5000, 'z')},
        {"end record cut short", good.substr(0, good.size() - 4)},
        {"end record before its directory", std::string("PK\x05\x06", 4) + std::string(8, '\0') +
                                                std::string("\x10\0\0\0\x10\0\0\0\0\0", 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ZRESULT r = 0;
        EXPECT_EQ(ZipOpenMemory(c.bytes.data(), static_cast<DWORD>(c.bytes.size()), "", &r), nullptr);
        EXPECT_EQ(r, ZR_NOFILE);
    }
    ZRESULT r = 0;
    Zip empty = OpenKept(BuildZip({}), "", &r);
    ASSERT_TRUE(empty);  // a valid archive without entries
    int index = 5;
    EXPECT_EQ(ZipFindItem(empty.get(), L"a", true, &index, nullptr), ZR_NOTFOUND);
    EXPECT_EQ(index, -1);
    ZipEntryInfo e;
    EXPECT_EQ(ZipGetItem(empty.get(), -1, &e), ZR_OK);
    EXPECT_EQ(e.index, 0);
    EXPECT_EQ(ZipGetItem(empty.get(), 0, &e), ZR_ARGS);
}

// ---------------------------------------------------------------------------
// Entry records: names, attributes, times.

TEST(ZipEntry, HostileNamesAreCleanedUp) {
    struct Case {
        const char* stored;
        const wchar_t* reported;
    } cases[] = {
        {"C:\\a\\b.txt", L"a\\b.txt"},
        {"a/b/../c", L"c"},
        {"../x", L"../x"},  // no separator before the dots: kept
        {"C:\\dir\\..\\x", L"x"},
        {"/abs/path.txt", L"abs/path.txt"},
        {"\\\\server\\share\\f", L"server\\share\\f"},
        {"D:/x/../../y", L"../y"},  // the drive and the first "/../" go; what is left has no separator before its dots
        {"a\\..\\b/../c", L"c"},  // one pattern per round until none is left
        {"dir/", L"dir/"},
        {"\xe5\x9b\xbe\xe7\x89\x87/\xc3\xa4.png", L"\u56fe\u7247/\u00e4.png"},
    };
    std::vector<Entry> entries;
    for (const Case& c : cases) entries.push_back({c.stored, "data", false});
    const std::string bytes = BuildZip(entries);
    Zip zip = Open(bytes);
    ASSERT_TRUE(zip);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].stored);
        ZipEntryInfo e;
        ASSERT_EQ(ZipGetItem(zip.get(), static_cast<int>(i), &e), ZR_OK);
        EXPECT_EQ(e.index, static_cast<int>(i));
        EXPECT_STREQ(e.name, cases[i].reported);
        // Lookups compare the stored names, not the reported ones.
        int index = -1;
        EXPECT_EQ(ZipFindItem(zip.get(), testutil::Utf8ToWide(cases[i].stored).c_str(), false, &index, nullptr),
                  ZR_OK);
        EXPECT_EQ(index, static_cast<int>(i));
    }
    // ASCII-only case folding: a non-ASCII letter's case still counts.
    int index = -1;
    EXPECT_EQ(ZipFindItem(zip.get(), L"\u56fe\u7247/\u00c4.PNG", true, &index, nullptr), ZR_NOTFOUND);
    EXPECT_EQ(ZipFindItem(zip.get(), L"\u56fe\u7247/\u00e4.PNG", true, &index, nullptr), ZR_OK);
}

TEST(ZipEntry, LongNamesAreCutAndNeverMatchLongKeys) {
    const std::string n255(255, 'n');
    const std::string n300(300, 'm');
    Zip zip = OpenKept(BuildZip({{n255, "a", false}, {n300, "b", false}}));
    ASSERT_TRUE(zip);
    int index = -1;
    EXPECT_EQ(ZipFindItem(zip.get(), testutil::Utf8ToWide(n255).c_str(), false, &index, nullptr), ZR_OK);
    EXPECT_EQ(ZipFindItem(zip.get(), testutil::Utf8ToWide(n300).c_str(), false, &index, nullptr), ZR_NOTFOUND);
    EXPECT_EQ(ZipFindItem(zip.get(), testutil::Utf8ToWide(std::string(256, 'n')).c_str(), false, &index, nullptr),
              ZR_NOTFOUND);
    ZipEntryInfo e;
    ASSERT_EQ(ZipGetItem(zip.get(), 1, &e), ZR_OK);
    EXPECT_EQ(std::wstring(e.name), std::wstring(259, L'm'));
}

TEST(ZipEntry, AttributesByHost) {
    struct Case {
        uint16_t madeBy;
        uint32_t external;
        DWORD attr;
    } cases[] = {
        {0x0014, 0x21, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
        {0x0014, 0x16, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY},
        {0x0B14, 0x20, FILE_ATTRIBUTE_ARCHIVE},                           // NTFS
        {0x0E14, 0x01, FILE_ATTRIBUTE_READONLY},                          // VFAT
        {0x0714, 0x02, FILE_ATTRIBUTE_HIDDEN},                            // host 7
        {0x031E, 0x81A40000, FILE_ATTRIBUTE_ARCHIVE},                     // Unix rw-r--r--
        {0x031E, 0x81240000, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},  // r--r--r--
        {0x031E, 0x41ED0010, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_DIRECTORY},  // drwxr-xr-x
        {0x0A14, 0x00000000, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},  // other host, no bits
    };
    std::vector<Entry> entries;
    for (const Case& c : cases) {
        Entry e{"f", "x", false};
        e.madeBy = c.madeBy;
        e.externalAttr = c.external;
        entries.push_back(e);
    }
    Zip zip = OpenKept(BuildZip(entries));
    ASSERT_TRUE(zip);
    for (size_t i = 0; i < std::size(cases); ++i) {
        ZipEntryInfo e;
        ASSERT_EQ(ZipGetItem(zip.get(), static_cast<int>(i), &e), ZR_OK);
        EXPECT_EQ(e.attr, cases[i].attr) << "case " << i;
    }
}

uint64_t Ticks(const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }
uint64_t UnixTicks(uint32_t t) { return (static_cast<uint64_t>(t) + 11644473600ULL) * 10000000ULL; }

TEST(ZipEntry, DosTimesAndExtendedTimeStamps) {
    // 2024-01-01 12:00:00 local time in the DOS stamp.
    FILETIME local, dosUtc;
    ASSERT_TRUE(::DosDateTimeToFileTime(0x5821, 0x6000, &local));
    ASSERT_TRUE(::LocalFileTimeToFileTime(&local, &dosUtc));
    const uint32_t w = 1700000000, a = 1700000100, c = 1700000200;
    Entry plain{"plain", "x", false};
    Entry writeOnly{"write", "x", false};
    writeOnly.centralExtra = ziputil::ExtendedTime(1, {w});
    Entry allThree{"all", "x", false};
    allThree.centralExtra = ziputil::ExtendedTime(7, {w, a, c});
    Entry flagsPromiseMore{"central", "x", false};  // the usual central copy: flags 3, one time
    flagsPromiseMore.centralExtra = ziputil::ExtendedTime(3, {w});
    Entry afterOther{"other", "x", false};
    afterOther.centralExtra = std::string("\x01\x00\x04\x00zzzz", 8) + ziputil::ExtendedTime(4, {c});
    Zip zip = OpenKept(BuildZip({plain, writeOnly, allThree, flagsPromiseMore, afterOther}));
    ASSERT_TRUE(zip);
    struct Expect {
        uint64_t mtime, atime, ctime;
    } expected[] = {
        {Ticks(dosUtc), Ticks(dosUtc), Ticks(dosUtc)},
        {UnixTicks(w), Ticks(dosUtc), Ticks(dosUtc)},
        {UnixTicks(w), UnixTicks(a), UnixTicks(c)},
        {UnixTicks(w), Ticks(dosUtc), Ticks(dosUtc)},
        {Ticks(dosUtc), Ticks(dosUtc), UnixTicks(c)},
    };
    for (int i = 0; i < 5; ++i) {
        ZipEntryInfo e;
        ASSERT_EQ(ZipGetItem(zip.get(), i, &e), ZR_OK);
        EXPECT_EQ(Ticks(e.mtime), expected[i].mtime) << i;
        EXPECT_EQ(Ticks(e.atime), expected[i].atime) << i;
        EXPECT_EQ(Ticks(e.ctime), expected[i].ctime) << i;
    }
}

// ---------------------------------------------------------------------------
// Decoding: resumable reads, encryption, broken entries.

TEST(ZipUnzip, SmallBufferContinuesWithTheSameIndex) {
    const std::string big = Patterned(100000);
    for (bool deflate : {true, false}) {
        SCOPED_TRACE(deflate ? "deflated" : "stored");
        Zip zip = OpenKept(BuildZip({{"other", "o"}, {"big", big, deflate}}));
        ASSERT_TRUE(zip);
        std::string got;
        char buf[7000];
        std::vector<ZRESULT> results;
        for (int call = 0; call < 100; ++call) {
            const ZRESULT r = ZipUnzipItem(zip.get(), 1, buf, sizeof buf);
            results.push_back(r);
            got.append(buf, ZipLastUnzipCount(zip.get()));
            if (r != ZR_MORE) break;
        }
        EXPECT_EQ(results.back(), ZR_OK);
        EXPECT_EQ(results.size(), 15u);  // 14 full buffers and a last piece of 2000 bytes
        EXPECT_EQ(got, big);
        // The entry was closed at its end: the same index starts again.
        EXPECT_EQ(ZipUnzipItem(zip.get(), 1, buf, 10), ZR_MORE);
        EXPECT_EQ(std::string(buf, 10), big.substr(0, 10));
        // A lookup closes the open entry as well.
        int index = -1;
        ASSERT_EQ(ZipFindItem(zip.get(), L"big", false, &index, nullptr), ZR_OK);
        EXPECT_EQ(ZipUnzipItem(zip.get(), 1, buf, 10), ZR_MORE);
        EXPECT_EQ(std::string(buf, 10), big.substr(0, 10));
        // Another index in between restarts too.
        std::string o;
        EXPECT_EQ(Unzip(zip.get(), 0, o), ZR_OK);
        EXPECT_EQ(ZipUnzipItem(zip.get(), 1, buf, 10), ZR_MORE);
        EXPECT_EQ(std::string(buf, 10), big.substr(0, 10));
        // An exact-size buffer ends in one call.
        std::string whole(big.size(), '\0');
        EXPECT_EQ(ZipUnzipItem(zip.get(), 0, whole.data(), 1), ZR_OK);
        EXPECT_EQ(ZipUnzipItem(zip.get(), 1, whole.data(), static_cast<DWORD>(whole.size())), ZR_OK);
        EXPECT_EQ(whole, big);
    }
}

TEST(ZipUnzip, TraditionalEncryption) {
    const std::string text = Patterned(40000);
    struct Case {
        const char* what;
        bool deflate;
        bool descriptor;
        const char* password;
        ZRESULT expected;
    } cases[] = {
        {"deflated, right password", true, false, "pw", ZR_OK},
        {"stored, right password", false, false, "pw", ZR_OK},
        {"data descriptor, time check", true, true, "pw", ZR_OK},
        {"wrong password", true, false, "PW", ZR_PASSWORD},
        {"wrong password, descriptor", false, true, "nope", ZR_PASSWORD},
        {"no password", true, false, "", ZR_PASSWORD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Entry e{"s", text, c.deflate, "pw", c.descriptor};
        e.dosTime = 0x7123;
        Zip zip = OpenKept(BuildZip({e, {"plain", "open text"}}), c.password);
        ASSERT_TRUE(zip);
        std::string got;
        EXPECT_EQ(Unzip(zip.get(), 0, got), c.expected);
        if (c.expected == ZR_OK) { EXPECT_EQ(got, text); }
        // The handle stays usable: unencrypted entries read with any password.
        std::string plain;
        EXPECT_EQ(Unzip(zip.get(), 1, plain), ZR_OK);
        EXPECT_EQ(plain, "open text");
    }
}

TEST(ZipUnzip, BrokenEntriesFailAndLeaveTheHandleUsable) {
    const std::string text = Patterned(20000);
    const std::string deflated = ziputil::RawDeflate(text);
    auto entry = [&](const char* name) { return Entry{name, text, true}; };
    std::vector<std::pair<const char*, Entry>> cases;
    {
        Entry e = entry("bzip2 method");
        e.methodOverride = 12;
        cases.push_back({"unsupported method", e});
    }
    {
        Entry e = entry("local method differs");
        e.localMethodOverride = 0;
        cases.push_back({"local header disagrees", e});
    }
    {
        Entry e = entry("claims more");
        e.uncSizeOverride = 30000;
        cases.push_back({"stream ends before the declared size", e});
    }
    {
        Entry e = entry("cut data");
        e.compSizeOverride = static_cast<int64_t>(deflated.size() / 2);
        cases.push_back({"compressed data cut short", e});
    }
    {
        Entry e{"stored claims more", text, false};
        e.uncSizeOverride = 5000000;
        e.compSizeOverride = 5000000;
        cases.push_back({"stored entry reads past the end of the package", e});
    }
    {
        Entry e{"garbage", "", false};
        e.data = std::string("\xff\xff\xff\xff\xff\xff", 6);
        e.methodOverride = 8;
        e.uncSizeOverride = 100;
        cases.push_back({"not a deflate stream", e});
    }
    for (auto& [what, e] : cases) {
        SCOPED_TRACE(what);
        Zip zip = OpenKept(BuildZip({e, {"good", "fine"}}));
        ASSERT_TRUE(zip);
        std::string got;
        EXPECT_EQ(Unzip(zip.get(), 0, got), ZR_FLATE);
        std::string good;
        EXPECT_EQ(Unzip(zip.get(), 1, good), ZR_OK);
        EXPECT_EQ(good, "fine");
    }
    // A stream longer than the declared size delivers the declared bytes only.
    Entry longer = entry("longer");
    longer.uncSizeOverride = 1000;
    Zip zip = OpenKept(BuildZip({longer}));
    std::string got;
    EXPECT_EQ(Unzip(zip.get(), 0, got), ZR_OK);
    EXPECT_EQ(got, text.substr(0, 1000));
}

TEST(ZipUnzip, DirectoryWalkThroughCorruptRecords) {
    std::string bytes = BuildZip({{"a", "1", false}, {"b", "2", false}, {"c", "3", false}});
    // Damage the signature of the second directory record.
    const size_t dir = bytes.find(std::string("PK\x01\x02", 4));
    const size_t second = bytes.find(std::string("PK\x01\x02", 4), dir + 4);
    ASSERT_NE(second, std::string::npos);
    bytes[second] = 'X';
    Zip zip = Open(bytes);
    ASSERT_TRUE(zip);
    ZipEntryInfo e;
    EXPECT_EQ(ZipGetItem(zip.get(), 0, &e), ZR_OK);
    EXPECT_EQ(ZipGetItem(zip.get(), 1, &e), ZR_CORRUPT);
    EXPECT_EQ(ZipGetItem(zip.get(), 2, &e), ZR_CORRUPT);
    int index = -1;
    EXPECT_EQ(ZipFindItem(zip.get(), L"c", false, &index, nullptr), ZR_NOTFOUND);
    EXPECT_EQ(ZipFindItem(zip.get(), L"a", false, &index, nullptr), ZR_OK);
    char buf[4];
    EXPECT_EQ(ZipUnzipItem(zip.get(), 2, buf, 4), ZR_FLATE);
    EXPECT_EQ(ZipUnzipItem(zip.get(), 0, buf, 4), ZR_OK);
    EXPECT_EQ(buf[0], '1');
}

// ---------------------------------------------------------------------------
// Handles and arguments.

TEST(ZipHandles, MissingAndForeignHandles) {
    ZipEntryInfo e;
    int index = 0;
    char buf[4];
    struct Case {
        const char* what;
        ZipHandle h;
        ZRESULT expected;
    };
    ZipHandleData foreign;
    foreign.kind = 2;
    const Case cases[] = {{"no handle", nullptr, ZR_ARGS}, {"foreign kind", &foreign, ZR_ZMODE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ZipFindItem(c.h, L"a", true, &index, &e), c.expected);
        EXPECT_EQ(ZipGetItem(c.h, 0, &e), c.expected);
        EXPECT_EQ(ZipUnzipItem(c.h, 0, buf, 4), c.expected);
        EXPECT_EQ(ZipClose(c.h), c.expected);
    }
    Zip zip = OpenKept(BuildZip({{"a", "b"}}));
    ASSERT_TRUE(zip);
    EXPECT_EQ(ZipUnzipItem(zip.get(), 1, buf, 4), ZR_ARGS);
    EXPECT_EQ(ZipUnzipItem(zip.get(), -1, buf, 4), ZR_ARGS);
    EXPECT_EQ(ZipUnzipItem(zip.get(), 0, nullptr, 4), ZR_ARGS);
    EXPECT_EQ(ZipUnzipItem(zip.get(), 0, buf, 0), ZR_MORE);  // nothing delivered: closed again
    EXPECT_EQ(ZipUnzipItem(zip.get(), 0, buf, 4), ZR_OK);
    EXPECT_EQ(buf[0], 'b');
    EXPECT_EQ(ZipFindItem(zip.get(), nullptr, true, &index, &e), ZR_ARGS);
    EXPECT_EQ(ZipOpenMemory(nullptr, 10, "", nullptr), nullptr);
}

TEST(ZipHandles, EntryCacheAndBackwardWalks) {
    std::vector<Entry> entries;
    for (int i = 0; i < 70; ++i) entries.push_back({"Image/f" + std::to_string(i) + ".png", Patterned(100 + i), i % 2 == 0});
    Zip zip = OpenKept(BuildZip(entries));
    ASSERT_TRUE(zip);
    for (int i : {69, 3, 3, 40, 0, 69, 68}) {
        ZipEntryInfo e;
        ASSERT_EQ(ZipGetItem(zip.get(), i, &e), ZR_OK);
        EXPECT_EQ(e.index, i);
        EXPECT_EQ(testutil::WideToUtf8(e.name), entries[i].name);
        EXPECT_EQ(e.unc_size, 100u + i);
        std::string got;
        EXPECT_EQ(Unzip(zip.get(), i, got), ZR_OK);
        EXPECT_EQ(got, entries[i].data);
    }
}

}  // namespace
