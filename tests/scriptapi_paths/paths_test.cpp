// Script functions for paths, resources, the 7z payload and the log, called
// from scripts run by the engine in this process.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "utility/qvrscriptengine/qvrscriptglobals.h"
#include "tests/common/testutil.h"
#include "tests/common/treeutil.h"
#include "utility/qvrscriptengine/qvrmodulefile.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"

namespace {

using testutil::Utf8ToWide;
using testutil::WideToUtf8;

std::vector<std::wstring> g_lines;
void Capture(const wchar_t* line) { g_lines.push_back(line); }

// Lua string literal of a UTF-16 text.
std::string Lit(const std::wstring& text) {
    std::string out = "'";
    for (char c : WideToUtf8(text)) {
        if (c == '\\' || c == '\'') out += '\\';
        out += c;
    }
    return out + "'";
}

std::wstring Folder(int csidl) {
    wchar_t buf[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, buf, csidl, FALSE);
    return buf;
}

bool HasLine(const std::wstring& line) {
    for (const auto& l : g_lines)
        if (l == line) return true;
    return false;
}

class Paths : public testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        old_ = nqlog::SetDebugSink(&Capture);
        L = QVRScriptEngine::Instance().GetState();
        top_ = lua_gettop(L);
        dir_ = testutil::MakeTempDir(L"paths");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        EXPECT_EQ(lua_gettop(L), top_);
        nqlog::SetDebugSink(old_);
        testutil::RemoveTree(dir_);
    }
    void Run(const std::string& code) {
        ASSERT_TRUE(QVRScriptEngine::Instance().DoBuffer(code.data(), code.size(), "paths")) << code;
    }
    std::wstring Text(const char* global) { return scriptglobals::GetText(L, global); }
    int Type(const char* global) {
        lua_getglobal(L, global);
        const int t = lua_type(L, -1);
        lua_pop(L, 1);
        return t;
    }
    bool Bool(const char* global) { return scriptglobals::GetBool(L, global); }
    std::wstring ArchivePath() const { return testutil::CurrentDir() + L"\\archives\\payload.7z"; }

    lua_State* L = nullptr;
    int top_ = 0;
    nqlog::DebugSink old_ = nullptr;
    std::wstring dir_;
};

// The files of payload.7z.
const std::vector<std::wstring> kPayloadTree = {L"app.exe", L"数据\\", L"数据\\config.txt", L"数据\\sub\\",
                                                L"数据\\sub\\deep.txt"};

TEST_F(Paths, ExpandEnvTakesTheLastArgument) {
    ::SetEnvironmentVariableW(L"QVR_PATHS_VAR", L"C:\\目录");
    struct Case {
        const char* args;
        std::wstring result;
    };
    const Case cases[] = {
        {"'%QVR_PATHS_VAR%\\\\x.txt'", L"C:\\目录\\x.txt"},
        {"'no variables here'", L"no variables here"},
        {"'%QVR_NOT_DEFINED_AT_ALL%\\\\y'", L"%QVR_NOT_DEFINED_AT_ALL%\\y"},
        {"'ignored', '%QVR_PATHS_VAR%'", L"C:\\目录"},
        {"12", L"12"},
        {"", L""},
        {"nil", L""},
        {"{}", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        Run(std::string("qvr_r = Lua_ExpandEnv(") + c.args + ")");
        EXPECT_EQ(Type("qvr_r"), LUA_TSTRING);
        EXPECT_EQ(Text("qvr_r"), c.result);
    }
}

TEST_F(Paths, RegVarByCsidlPublishesShellFolders) {
    struct Case {
        const char* name;
        int csidl;
    };
    const Case cases[] = {{"QVR_DESKTOP", 16}, {"QVR_APPDATA_USER", 26}, {"QVR_APPDATA_ALLUSER", 35},
                          {"QVR_COMMPROGRAMS", 23}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Run(std::string("qvr_ok = Lua_RegVarByCSIDL('") + c.name + "', " + std::to_string(c.csidl) + ")\n" +
            "qvr_path = Lua_ExpandEnv('%" + c.name + "%\\\\a.lnk')");
        EXPECT_TRUE(Bool("qvr_ok"));
        wchar_t value[MAX_PATH] = {};
        ::GetEnvironmentVariableW(Utf8ToWide(c.name).c_str(), value, MAX_PATH);
        EXPECT_EQ(value, Folder(c.csidl));
        EXPECT_EQ(Text("qvr_path"), Folder(c.csidl) + L"\\a.lnk");
    }

    g_lines.clear();
    Run("qvr_ok = Lua_RegVarByCSIDL('QVR_NOWHERE', 9999)");
    EXPECT_FALSE(Bool("qvr_ok"));
    ASSERT_EQ(g_lines.size(), 4u);
    EXPECT_EQ(g_lines[0], L"vq SHGetSpecialFolderPathW csidl=9999 failed!\r\n");
    EXPECT_EQ(g_lines[1].rfind(L"vq vq file:", 0), 0u);
    EXPECT_EQ(g_lines[3].rfind(L"vq vq err:", 0), 0u);
    EXPECT_EQ(::GetEnvironmentVariableW(L"QVR_NOWHERE", nullptr, 0), 0u);

    g_lines.clear();
    Run("qvr_ok = Lua_RegVarByCSIDL('', 16)");  // no variable name: the system refuses
    EXPECT_FALSE(Bool("qvr_ok"));
    ASSERT_EQ(g_lines.size(), 3u);
    EXPECT_EQ(g_lines[0].rfind(L"vq SetEnvironmentVariableW failed!vq file:", 0), 0u);
}

TEST_F(Paths, GetTempFileNameLeavesAnEmptyFile) {
    ::SetEnvironmentVariableW(L"QVR_PATHS_TMP", dir_.c_str());
    Run("qvr_a = Lua_GetTempFileName('%QVR_PATHS_TMP%', 'qvrtemp')\n"
        "qvr_b = Lua_GetTempFileName('%QVR_PATHS_TMP%', 'qvrtemp')\n"
        "qvr_c = Lua_GetTempFileName('%QVR_PATHS_TMP%\\\\missing', 'x')");
    const std::wstring a = Text("qvr_a"), b = Text("qvr_b");
    EXPECT_NE(a, b);
    for (const std::wstring& p : {a, b}) {
        SCOPED_TRACE(WideToUtf8(p));
        EXPECT_EQ(p.rfind(dir_ + L"\\qvr", 0), 0u) << "the first three characters of the prefix";
        EXPECT_EQ(p.substr(p.size() - 4), L".tmp");
        std::string bytes = "x";
        EXPECT_TRUE(testutil::ReadFileBytes(p, bytes));
        EXPECT_TRUE(bytes.empty());
    }
    EXPECT_EQ(Type("qvr_c"), LUA_TNIL);
}

TEST_F(Paths, GetTempPathAnswersTheLocalAppDataFolder) {
    Run("qvr_t = Lua_GetTempPath()");
    const std::wstring t = Text("qvr_t");
    EXPECT_EQ(t, Folder(CSIDL_LOCAL_APPDATA));
    ASSERT_FALSE(t.empty());
    EXPECT_NE(t.back(), L'\\');
}

TEST_F(Paths, ExtractResourceWritesTheBytes) {
    std::string archive;
    ASSERT_TRUE(testutil::ReadFileBytes(ArchivePath(), archive));
    ::SetEnvironmentVariableW(L"QVR_PATHS_OUT", dir_.c_str());

    Run("qvr_a = Lua_ExtractResource('LUA', 'PLAIN.BIN', '%QVR_PATHS_OUT%\\\\plain.out')\n"
        "qvr_b = Lua_ExtractResource('LUA', 302, '%QVR_PATHS_OUT%\\\\byid.out')\n"
        "qvr_c = Lua_ExtractResource('_7Z', 'EXTRACT.7Z', '%QVR_PATHS_OUT%\\\\App.7z')");
    EXPECT_TRUE(Bool("qvr_a"));
    EXPECT_TRUE(Bool("qvr_b"));
    EXPECT_TRUE(Bool("qvr_c"));
    const std::string a = testutil::ReadFileOr(dir_ + L"\\plain.out", "<none>");
    EXPECT_EQ(a, std::string("plain resource bytes\r\n\x00\x01\x02\xff end\n", 31));
    EXPECT_EQ(testutil::ReadFileOr(dir_ + L"\\byid.out", "<none>"), a);
    EXPECT_EQ(testutil::ReadFileOr(dir_ + L"\\App.7z", "<none>"), archive) << "the two bytes are exchanged back";

    struct Failure {
        std::string call;
        std::wstring line;
    };
    const Failure failures[] = {
        {"Lua_ExtractResource('LUA', 'NO.SUCH', '%QVR_PATHS_OUT%\\\\x')", L"vq Fun:Lua_ExtractResource ,LoadResource failed!\r\n"},
        {"Lua_ExtractResource('NOTYPE', 'PLAIN.BIN', '%QVR_PATHS_OUT%\\\\x')",
         L"vq Fun:Lua_ExtractResource ,LoadResource failed!\r\n"},
        {"Lua_ExtractResource('LUA', 'PLAIN.BIN', '%QVR_PATHS_OUT%\\\\missing\\\\x')",
         L"vq Fun:Lua_ExtractResource ,CreateFileW " + dir_ + L"\\missing\\x failed!\r\n"},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.call);
        g_lines.clear();
        Run("qvr_r = " + f.call);
        EXPECT_EQ(Type("qvr_r"), LUA_TBOOLEAN);
        EXPECT_FALSE(Bool("qvr_r"));
        EXPECT_EQ(g_lines, std::vector<std::wstring>{f.line});
    }
    EXPECT_FALSE(testutil::FileExists(dir_ + L"\\x"));
}

TEST_F(Paths, UnCompressFromAResourceWithBothCallbacks) {
    Run("qvr_done = {} qvr_failed = 0\n"
        "qvr_ok = Lua_UnCompress7z('PAYLOAD.7Z', " + Lit(dir_) + ", false,\n"
        "  function(path) qvr_done[#qvr_done + 1] = path end,\n"
        "  function(path, code) qvr_failed = qvr_failed + 1 return 2 end)\n"
        "qvr_list = table.concat(qvr_done, '|')");
    EXPECT_TRUE(Bool("qvr_ok"));
    EXPECT_EQ(testutil::ListTree(dir_), kPayloadTree);
    EXPECT_EQ(Text("qvr_list"),
              dir_ + L"\\app.exe|" + dir_ + L"\\数据\\config.txt|" + dir_ + L"\\数据\\sub\\deep.txt");
    EXPECT_EQ(scriptglobals::GetInt(L, "qvr_failed"), 0);
    EXPECT_EQ(testutil::ReadFileOr(dir_ + L"\\数据\\config.txt"), "\xE9\x85\x8D\xE7\xBD\xAE=1\r\n");
    EXPECT_TRUE(HasLine(L"vq UnCompress PAYLOAD.7Z to " + dir_ + L" .\r\n"));
    EXPECT_EQ(g_lines.back(), L"vq UnCompress successful.\r\n");

    // By resource id.
    testutil::RemoveTree(dir_);
    ASSERT_TRUE(::CreateDirectoryW(dir_.c_str(), nullptr));
    Run("qvr_ok = Lua_UnCompress7z(301, " + Lit(dir_) + ")");
    EXPECT_TRUE(Bool("qvr_ok"));
    EXPECT_EQ(testutil::ListTree(dir_), kPayloadTree);
}

TEST_F(Paths, UnCompressFromAFile) {
    std::string archive;
    ASSERT_TRUE(testutil::ReadFileBytes(ArchivePath(), archive));
    Run("qvr_n = 0\n"
        "qvr_ok = Lua_UnCompress7z(" + Lit(ArchivePath()) + ", " + Lit(dir_) +
        ", true, function(p) qvr_n = qvr_n + 1 end)");
    EXPECT_TRUE(Bool("qvr_ok"));
    EXPECT_EQ(scriptglobals::GetInt(L, "qvr_n"), 3);
    EXPECT_EQ(testutil::ListTree(dir_), kPayloadTree);
    EXPECT_EQ(testutil::ReadFileOr(ArchivePath()), archive) << "the file is only read";
    EXPECT_TRUE(HasLine(L"vq UnCompress " + ArchivePath() + L" to " + dir_ + L" .\r\n"));

    // A missing archive file: false with the not-exists line.
    g_lines.clear();
    Run("qvr_ok = Lua_UnCompress7z(" + Lit(dir_ + L"\\none.7z") + ", " + Lit(dir_) + ", true)");
    EXPECT_FALSE(Bool("qvr_ok"));
    EXPECT_EQ(g_lines, std::vector<std::wstring>{L"vq Fun:Lua_UnCompress7z, Description:" + dir_ +
                                                 L"\\none.7z it's not exists!\r\n"});
    // A file that is no archive.
    g_lines.clear();
    ASSERT_TRUE(testutil::WriteFileBytes(dir_ + L"\\text.7z", "not an archive"));
    Run("qvr_ok = Lua_UnCompress7z(" + Lit(dir_ + L"\\text.7z") + ", " + Lit(dir_) + ", true)");
    EXPECT_FALSE(Bool("qvr_ok"));
    EXPECT_EQ(g_lines.back(), L"vq Fun:Lua_UnCompress7z, Description: UnCompress failed.!\r\n");
}

TEST_F(Paths, UnCompressArgumentRules) {
    // Which callbacks are taken, by argument count and types (file source).
    struct Case {
        const char* tail;  // arguments after archive, destination
        int extracted;     // calls of qvr_e
        bool result;
    };
    const Case cases[] = {
        {", true", 0, true},
        {", true, qvr_e", 3, true},
        {", true, qvr_e, qvr_f", 3, true},
        {", true, qvr_e, nil", 0, true},   // argument 5 no function: argument 4 is not looked at
        {", true, qvr_e, 7", 0, true},
        {", true, nil, qvr_f", 0, true},
        {", true, 'x', qvr_f", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tail);
        testutil::RemoveTree(dir_);
        ASSERT_TRUE(::CreateDirectoryW(dir_.c_str(), nullptr));
        Run("qvr_en = 0 qvr_fn = 0\n"
            "qvr_e = function(p) qvr_en = qvr_en + 1 end\n"
            "qvr_f = function(p, c) qvr_fn = qvr_fn + 1 return 2 end\n"
            "qvr_ok = Lua_UnCompress7z(" + Lit(ArchivePath()) + ", " + Lit(dir_) + c.tail + ")");
        EXPECT_EQ(Bool("qvr_ok"), c.result);
        EXPECT_EQ(scriptglobals::GetInt(L, "qvr_en"), c.extracted);
        EXPECT_EQ(scriptglobals::GetInt(L, "qvr_fn"), 0);
        EXPECT_EQ(testutil::ListTree(dir_), kPayloadTree);
    }

    // Too few or too many arguments: nothing happens and the answer is true.
    const std::string noArgs[] = {"Lua_UnCompress7z()", "Lua_UnCompress7z('PAYLOAD.7Z')",
                                  "Lua_UnCompress7z('a', " + Lit(dir_ + L"\\none") + ", true, nil, nil, 6)"};
    for (const std::string& call : noArgs) {
        SCOPED_TRACE(call);
        g_lines.clear();
        Run("qvr_ok = " + call);
        EXPECT_TRUE(Bool("qvr_ok"));
        EXPECT_EQ(g_lines, std::vector<std::wstring>{L"vq UnCompress successful.\r\n"});
    }

    // "from file" only for the boolean true: the text "true" means a resource.
    g_lines.clear();
    Run("qvr_ok = Lua_UnCompress7z(" + Lit(ArchivePath()) + ", " + Lit(dir_) + ", 'true')");
    EXPECT_FALSE(Bool("qvr_ok"));
    EXPECT_EQ(g_lines, std::vector<std::wstring>{L"vq Fun:Lua_UnCompress7z ,LoadResource failed!\r\n"});
}

TEST_F(Paths, MissingDestinationLeavesTheResourceAlone) {
    g_lines.clear();
    Run("qvr_ok = Lua_UnCompress7z('NODEST.7Z', " + Lit(dir_ + L"\\missing") + ", false)");
    EXPECT_FALSE(Bool("qvr_ok"));
    EXPECT_EQ(g_lines, std::vector<std::wstring>{L"vq Fun:Lua_UnCompress7z, Description:" + dir_ +
                                                 L"\\missing it's not exists!\r\n"});
    // The resource was not touched: its bytes are still exchanged once only.
    Run("qvr_ok = Lua_UnCompress7z('NODEST.7Z', " + Lit(dir_) + ", false)");
    EXPECT_TRUE(Bool("qvr_ok"));
    EXPECT_EQ(testutil::ListTree(dir_), kPayloadTree);
}

// Bytes, times and attributes of every file under `dir`, one line each.
std::vector<std::string> FilesUnder(const std::wstring& dir) {
    std::vector<std::string> lines;
    for (const std::wstring& rel : testutil::ListTree(dir)) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        ::GetFileAttributesExW((dir + L"\\" + rel).c_str(), GetFileExInfoStandard, &data);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            lines.push_back(WideToUtf8(rel));
            continue;
        }
        lines.push_back(WideToUtf8(rel) + " " + std::to_string(data.ftLastWriteTime.dwHighDateTime) + ":" +
                        std::to_string(data.ftLastWriteTime.dwLowDateTime) + " " +
                        std::to_string(data.dwFileAttributes) + " " + testutil::ReadFileOr(dir + L"\\" + rel));
    }
    return lines;
}

// The many-block payload extracted from a resource of the test program.
class PayloadBlocks : public Paths {
protected:
    // The tree under dir_ is the one the same archive gives when extracted
    // from its file (into dir_\\from-file).
    void ExpectSameAsFromArchiveFile() {
        const std::wstring fromFile = dir_ + L"\\from-file";
        ASSERT_TRUE(::CreateDirectoryW(fromFile.c_str(), nullptr));
        const std::wstring archive = testutil::CurrentDir() + L"\\archives\\payload_blocks.7z";
        Run("qvr_ok = Lua_UnCompress7z(" + Lit(archive) + ", " + Lit(fromFile) + ", true)");
        ASSERT_TRUE(Bool("qvr_ok"));
        std::vector<std::string> fromResource = FilesUnder(dir_);
        fromResource.erase(std::remove_if(fromResource.begin(), fromResource.end(),
                                          [](const std::string& l) { return l.rfind("from-file", 0) == 0; }),
                           fromResource.end());
        EXPECT_EQ(fromResource, FilesUnder(fromFile));
        EXPECT_EQ(fromResource.size(), 6u + 36u + 1u);  // folders d0..d5 and d0\\empty, 36 files
    }
};

TEST_F(PayloadBlocks, UnCompressAResourceOfManyBlocksReadFromTheProgramFile) {
    // The resource as the program carries it, its first two bytes exchanged.
    HMODULE self = ::GetModuleHandleW(nullptr);
    HRSRC info = ::FindResourceW(self, L"BLOCKS.7Z", L"_7Z");
    ASSERT_NE(info, nullptr);
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(self, info)));
    const DWORD size = ::SizeofResource(self, info);
    std::string stored;
    ASSERT_TRUE(testutil::ReadFileBytes(testutil::CurrentDir() + L"\\archives\\payload_blocks.7z.swapped", stored));
    ASSERT_GT(stored.size(), 400000u);
    ASSERT_EQ(std::string(bytes, size), stored);

    // It is found in the program's file, where the payload is read from.
    ModuleFileRange range;
    ASSERT_TRUE(LocateInModuleFile(self, bytes, size, &range));
    std::string inFile(size, '\0');
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(range.offset);
    DWORD got = 0;
    ASSERT_TRUE(::ReadFile(range.file.get(), &inFile[0], size, &got, &at));
    ASSERT_EQ(got, size);
    EXPECT_EQ(inFile, stored);
    range.file.reset();

    Run("qvr_n = 0\n"
        "qvr_ok = Lua_UnCompress7z('BLOCKS.7Z', " + Lit(dir_) + ", false, function(p) qvr_n = qvr_n + 1 end)");
    EXPECT_TRUE(Bool("qvr_ok"));
    EXPECT_EQ(g_lines.back(), L"vq UnCompress successful.\r\n");
    EXPECT_EQ(scriptglobals::GetInt(L, "qvr_n"), 36);
    // The image holds the exchange for the rest of the process, as before.
    EXPECT_EQ(std::string(bytes, 2), "7z");

    // The same files as from the archive file itself.
    ExpectSameAsFromArchiveFile();
}

// When the program's file cannot be opened (here: renamed while it runs), the
// payload is read from the mapped resource in place, with the same result.
TEST_F(PayloadBlocks, UnCompressReadsTheMappedResourceWhenTheProgramFileIsGone) {
    wchar_t exe[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    const std::wstring moved = std::wstring(exe) + L".moved";
    ASSERT_TRUE(::MoveFileExW(exe, moved.c_str(), 0));
    struct PutBack {
        const wchar_t* exe;
        const std::wstring& moved;
        ~PutBack() { ::MoveFileExW(moved.c_str(), exe, 0); }
    } putBack{exe, moved};

    HMODULE self = ::GetModuleHandleW(nullptr);
    HRSRC info = ::FindResourceW(self, L"FALLBACK.7Z", L"_7Z");
    ASSERT_NE(info, nullptr);
    const void* bytes = ::LockResource(::LoadResource(self, info));
    ModuleFileRange range;
    ASSERT_FALSE(LocateInModuleFile(self, bytes, ::SizeofResource(self, info), &range)) << "the file is gone";

    Run("qvr_ok = Lua_UnCompress7z('FALLBACK.7Z', " + Lit(dir_) + ", false)");
    EXPECT_TRUE(Bool("qvr_ok"));
    ExpectSameAsFromArchiveFile();
}

// Blocks that are not file data of the program's image are not looked for
// in its file.
TEST(ModuleFile, OnlyFileDataOfTheImageIsFound) {
    HMODULE self = ::GetModuleHandleW(nullptr);
    const auto* base = reinterpret_cast<const BYTE*>(self);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const DWORD imageSize = nt->OptionalHeader.SizeOfImage;
    std::string heap(64, 'h');
    struct Case {
        const char* what;
        const void* bytes;
        size_t size;
    };
    const Case cases[] = {
        {"a heap block", heap.data(), heap.size()},
        {"the image's headers", base, 64},
        {"past the image", base + imageSize, 16},
        {"a null pointer", nullptr, 16},
    };
    for (const Case& c : cases) {
        ModuleFileRange range;
        range.offset = 77;
        EXPECT_FALSE(LocateInModuleFile(self, c.bytes, c.size, &range)) << c.what;
        EXPECT_FALSE(range.file) << c.what;
        EXPECT_EQ(range.offset, 77u) << c.what;
    }
    // A resource runs to the end of its section's file data at most.
    HRSRC info = ::FindResourceW(self, L"PLAIN.BIN", L"LUA");
    ASSERT_NE(info, nullptr);
    const void* plain = ::LockResource(::LoadResource(self, info));
    ModuleFileRange range;
    EXPECT_TRUE(LocateInModuleFile(self, plain, ::SizeofResource(self, info), &range));
    EXPECT_FALSE(LocateInModuleFile(self, plain, 64u << 20, &range)) << "beyond its section";
}

TEST_F(Paths, SecondUseOfAResourceFails) {
    Run("qvr_first = Lua_UnCompress7z('TWICE.7Z', " + Lit(dir_) + ", false)");
    EXPECT_TRUE(Bool("qvr_first"));
    testutil::RemoveTree(dir_);
    ASSERT_TRUE(::CreateDirectoryW(dir_.c_str(), nullptr));
    g_lines.clear();
    Run("qvr_second = Lua_UnCompress7z('TWICE.7Z', " + Lit(dir_) + ", false)");
    EXPECT_FALSE(Bool("qvr_second")) << "the bytes are exchanged once more: no archive";
    EXPECT_EQ(g_lines.back(), L"vq Fun:Lua_UnCompress7z, Description: UnCompress failed.!\r\n");
    EXPECT_TRUE(testutil::ListTree(dir_).empty());

    // A resource stored without the exchange fails the same way; so does a
    // resource that does not exist.
    Run("qvr_plain = Lua_UnCompress7z('PLAINARCH.7Z', " + Lit(dir_) + ", false)");
    EXPECT_FALSE(Bool("qvr_plain"));
    g_lines.clear();
    Run("qvr_none = Lua_UnCompress7z('NO.SUCH', " + Lit(dir_) + ", false)");
    EXPECT_FALSE(Bool("qvr_none"));
    EXPECT_EQ(g_lines, std::vector<std::wstring>{L"vq Fun:Lua_UnCompress7z ,LoadResource failed!\r\n"});
}

TEST_F(Paths, CreateFailureCallbackDecides) {
    // app.exe of the destination is held like a running program: it can be
    // renamed but not written. The callback answers as the install script
    // does: 0 after moving it away, 2 when that failed.
    ASSERT_TRUE(testutil::WriteFileBytes(dir_ + L"\\app.exe", "running"));
    HANDLE running = ::CreateFileW((dir_ + L"\\app.exe").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(running, INVALID_HANDLE_VALUE);
    Run("qvr_calls = {}\n"
        "qvr_ok = Lua_UnCompress7z('LOCKED.7Z', " + Lit(dir_) + ", false, nil, function(path, code)\n"
        "  qvr_calls[#qvr_calls + 1] = path .. '=' .. tostring(code)\n"
        "  return os.rename(path, path .. '.old') and 0 or 2\n"
        "end)\n"
        "qvr_list = table.concat(qvr_calls, '|')");
    EXPECT_TRUE(Bool("qvr_ok"));
    EXPECT_EQ(Text("qvr_list"), dir_ + L"\\app.exe=32");
    EXPECT_EQ(testutil::ReadFileOr(dir_ + L"\\app.exe.old"), "running");
    EXPECT_EQ(testutil::ReadFileOr(dir_ + L"\\app.exe").size(), 30000u);
    ::CloseHandle(running);

    // Held without any sharing: the move fails, the callback answers 2.
    running = ::CreateFileW((dir_ + L"\\app.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(running, INVALID_HANDLE_VALUE);
    Run("qvr_calls = {}\n"
        "qvr_ok = Lua_UnCompress7z('LOCKED2.7Z', " + Lit(dir_) + ", false, nil, function(path, code)\n"
        "  qvr_calls[#qvr_calls + 1] = code\n"
        "  return os.rename(path, path .. '.old2') and 0 or 2\n"
        "end)\n"
        "qvr_list = table.concat(qvr_calls, '|')");
    EXPECT_FALSE(Bool("qvr_ok"));
    EXPECT_EQ(Text("qvr_list"), L"32");
    ::CloseHandle(running);
}

TEST_F(Paths, LogoutWritesTheDebugLine) {
    Run("Lua_Logout('安装进度 50%') qvr_n = select('#', Lua_Logout('x'))");
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0], L"vq 安装进度 50%");
    EXPECT_EQ(scriptglobals::GetInt(L, "qvr_n"), 0);
}

}  // namespace
