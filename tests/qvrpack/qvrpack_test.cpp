// qvrpack under Wine: the installers it writes (resources, version, manifest,
// checksum), the payloads they extract, reproducible output, and bad input
// that fails with a message and an exit code and leaves the output alone.
#include <windows.h>
#include <imagehlp.h>

#include <gtest/gtest.h>

#include <7z.h>
#include <7zCrc.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "tests/common/treeutil.h"
#include "utility/qvrscriptengine/qvrmodulefile.h"

using namespace testutil;

namespace {

struct Result {
    DWORD code = ~0u;
    std::string output;  // stdout and stderr together
};

// Runs a command in `dir` with its output captured in a file.
Result RunCaptured(const std::wstring& commandLine, const std::wstring& dir) {
    const std::wstring log = dir + L"\\run-output.txt";
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    Result r;
    {
        nq::unique_hfile out(::CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return r;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out.get();
        si.hStdError = out.get();
        si.hStdInput = nullptr;
        PROCESS_INFORMATION pi{};
        std::wstring cmd = commandLine;
        if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(), &si, &pi)) return r;
        nq::unique_handle process(pi.hProcess), thread(pi.hThread);
        if (::WaitForSingleObject(process.get(), 300000) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.get(), 1);
            return r;
        }
        ::GetExitCodeProcess(process.get(), &r.code);
    }
    r.output = ReadFileOr(log);
    ::DeleteFileW(log.c_str());
    return r;
}

std::wstring Packer() { return Quote(ExeDir() + L"\\qvrpack.exe"); }

// The install script of the README's minimal product.
const char kInstallScript[] =
    "-- Contoso Notes: the payload goes to Program Files.\n"
    "function QVRSE_BeforeInit()\n"
    "  global_install_path = Lua_ExpandEnv(\"%ProgramFiles%\\\\Contoso Notes\")\n"
    "end\n"
    "\n"
    "function QVRSE_OnInstall()\n"
    "  Lua_CreateDirectory(global_install_path)\n"
    "  if not Lua_UnCompress7z(\"App.7z\", global_install_path, false) then\n"
    "    Lua_MsgBox(\"The files could not be installed.\", \"Contoso Notes\")\n"
    "    os.exit(1)\n"
    "  end\n"
    "end\n";

std::wstring ExpandEnv(const wchar_t* text) {
    wchar_t buf[MAX_PATH];
    ::ExpandEnvironmentStringsW(text, buf, MAX_PATH);
    return buf;
}

class QvrPack : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir(L"qvrpack");
        ::SetEnvironmentVariableW(L"SOURCE_DATE_EPOCH", nullptr);
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"SOURCE_DATE_EPOCH", nullptr);
        RemoveTree(dir_);
    }
    std::wstring Path(const std::wstring& rel) const { return dir_ + L"\\" + rel; }
    void Write(const std::wstring& rel, const std::string& bytes) {
        const std::wstring full = Path(rel);
        for (size_t at = full.find(L'\\', dir_.size() + 1); at != std::wstring::npos; at = full.find(L'\\', at + 1))
            ::CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(full, bytes)) << WideToUtf8(full);
    }
    Result Pack(const std::wstring& args) { return RunCaptured(Packer() + L" " + args, dir_); }

    std::wstring dir_;
};

// Resources of an installer, read the way the installer reads them.
std::string ResourceBytes(HMODULE module, const wchar_t* type, const wchar_t* name) {
    const HRSRC res = ::FindResourceW(module, name, type);
    if (!res) return {};
    const HGLOBAL mem = ::LoadResource(module, res);
    const char* data = mem ? static_cast<const char*>(::LockResource(mem)) : nullptr;
    return data ? std::string(data, ::SizeofResource(module, res)) : std::string();
}

std::wstring VersionString(const std::vector<char>& block, const wchar_t* key) {
    wchar_t* value = nullptr;
    UINT len = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\080404b0\\") + key;
    if (!::VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &len) || !value) return L"<none>";
    return value;
}

TEST_F(QvrPack, InstallerCarriesScriptsPayloadSkinVersionAndManifest) {
    Write(L"config.lua", "global_app_id = 7\n");
    Write(L"install.lua", kInstallScript);
    Write(L"uninstall.lua", "function Uninstall() end\n");
    Write(L"files\\notes.txt", "notes");
    Write(L"skin\\Layout\\Layout.xml", "<Window size=\"600,400\"/>");
    Write(L"skin\\Image\\logo.svg", "<svg/>");
    const Result r = Pack(L"--install install.lua --config config.lua --uninstall uninstall.lua --payload files "
                          L"--skin skin --product-name \"Contoso 便签\" --company \"Contoso Ltd.\" --version 2.5.0.17 "
                          L"--output Setup.exe");
    ASSERT_EQ(r.code, 0u) << r.output;

    // Every section's bytes start on a page of the file, so that a loader can
    // map them (the payload too) instead of reading them whole into memory.
    std::string image;
    ASSERT_TRUE(ReadFileBytes(Path(L"Setup.exe"), image));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        image.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data())->e_lfanew);
    const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    ASSERT_GT(nt->FileHeader.NumberOfSections, 3);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
        const char* raw = reinterpret_cast<const char*>(sections[i].Name);
        const std::string name(raw, strnlen(raw, 8));
        if (sections[i].SizeOfRawData) EXPECT_EQ(sections[i].PointerToRawData % 4096, 0u) << name;
    }

    nq::unique_hmodule module(::LoadLibraryExW(Path(L"Setup.exe").c_str(), nullptr,
                                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module);
    for (const wchar_t* chunk : {L"GLOBAL_VAR.LUAC", L"INSTSCRIPT.LUAC", L"UNINSTSCRIPT.LUAC"})
        EXPECT_EQ(ResourceBytes(module.get(), L"LUA", chunk).substr(0, 5), std::string("\x1bLua\x52"))
            << WideToUtf8(chunk);
    // Lua 5.2 header: int, size_t, instruction and number sizes of the 32-bit engine.
    EXPECT_EQ(ResourceBytes(module.get(), L"LUA", L"INSTSCRIPT.LUAC").substr(6, 6), std::string("\x01\x04\x04\x04\x08\x00", 6));
    const std::string payload = ResourceBytes(module.get(), L"_7Z", L"App.7z");
    EXPECT_EQ(payload.substr(0, 6), std::string("z7\xBC\xAF\x27\x1C"));  // first two bytes exchanged
    const std::string skin = ResourceBytes(module.get(), L"ZIP", MAKEINTRESOURCEW(249));
    EXPECT_EQ(skin.substr(0, 4), std::string("PK\x03\x04"));
    EXPECT_NE(skin.find("Layout/Layout.xml"), std::string::npos);
    EXPECT_NE(skin.find("Image/logo.svg"), std::string::npos);
    EXPECT_FALSE(ResourceBytes(module.get(), MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(128)).empty());  // icon group
    const std::string manifest = ResourceBytes(module.get(), MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("supportedOS"), std::string::npos) << manifest;
    module.reset();

    // Mapped as a program is, the payload is found in the installer's file,
    // where the installer reads it from piece by piece.
    module.reset(::LoadLibraryExW(Path(L"Setup.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
    ASSERT_TRUE(module);
    const HRSRC app = ::FindResourceW(module.get(), L"App.7z", L"_7Z");
    ASSERT_NE(app, nullptr);
    const void* appBytes = ::LockResource(::LoadResource(module.get(), app));
    ModuleFileRange range;
    ASSERT_TRUE(LocateInModuleFile(module.get(), appBytes, ::SizeofResource(module.get(), app), &range));
    std::string setup;
    ASSERT_TRUE(testutil::ReadFileBytes(Path(L"Setup.exe"), setup));
    EXPECT_EQ(setup.substr(static_cast<size_t>(range.offset), payload.size()), payload);
    range.file.reset();
    module.reset();

    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(Path(L"Setup.exe").c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(Path(L"Setup.exe").c_str(), 0, size, block.data()));
    EXPECT_EQ(VersionString(block, L"ProductName"), L"Contoso 便签");
    EXPECT_EQ(VersionString(block, L"CompanyName"), L"Contoso Ltd.");
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"2.5.0.17");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"Setup.exe");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020005u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000011u);

    // The header checksum is the one the system computes for the file.
    DWORD inHeader = 0, computed = 0;
    ASSERT_EQ(::MapFileAndCheckSumW(Path(L"Setup.exe").c_str(), &inHeader, &computed), 0u);
    EXPECT_EQ(inHeader, computed);

    // A per-user product asks for the invoker's level.
    ASSERT_EQ(Pack(L"--install install.lua --payload files --as-invoker --output User.exe").code, 0u);
    module.reset(::LoadLibraryExW(Path(L"User.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module);
    EXPECT_NE(ResourceBytes(module.get(), MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1)).find("level=\"asInvoker\""),
              std::string::npos);
    // No uninstall script and no skin given: neither resource is there.
    EXPECT_TRUE(ResourceBytes(module.get(), L"LUA", L"UNINSTSCRIPT.LUAC").empty());
    EXPECT_TRUE(ResourceBytes(module.get(), L"ZIP", MAKEINTRESOURCEW(249)).empty());
    EXPECT_FALSE(ResourceBytes(module.get(), L"LUA", L"GLOBAL_VAR.LUAC").empty());
}

// The README's product: one script, one file, packed and installed silently.
TEST_F(QvrPack, MinimalProductPacksAndInstalls) {
    const std::wstring target = ExpandEnv(L"%ProgramFiles%\\Contoso Notes");
    RemoveTree(target);
    Write(L"product\\install.lua", kInstallScript);
    Write(L"product\\files\\notes.txt", "Contoso 便签 1.0\r\n");
    const Result r = Pack(L"--install product\\install.lua --payload product\\files --product-name \"Contoso Notes\" "
                          L"--company \"Contoso Ltd.\" --version 1.0.0.0 --output ContosoNotesSetup.exe");
    ASSERT_EQ(r.code, 0u) << r.output;
    EXPECT_EQ(testutil::Run(Quote(Path(L"ContosoNotesSetup.exe")) + L" /InstallSlience true"), 0u);
    EXPECT_EQ(ReadFileOr(target + L"\\notes.txt", "<missing>"), "Contoso 便签 1.0\r\n");
    RemoveTree(target);
}

// Every kind of entry comes back as it was: nested folders, an empty file, an
// empty folder, programs through the branch converter, data over several
// solid blocks; contents, times and the read-only attribute.
TEST_F(QvrPack, PayloadFolderInstallsAsItWas) {
    const std::wstring target = ExpandEnv(L"%ProgramFiles%\\Contoso Notes");
    RemoveTree(target);
    Write(L"install.lua", kInstallScript);
    std::string big;
    for (int i = 0; big.size() < (3u << 20); i++) big += "line " + std::to_string(i * 7919 % 100003) + "\r\n";
    Write(L"files\\data\\big.txt", big);
    Write(L"files\\data\\dict\\zh-en.dict", "你好=hello\n");
    Write(L"files\\empty.txt", "");
    ASSERT_TRUE(::CreateDirectoryW(Path(L"files\\logs").c_str(), nullptr));
    std::string engine;
    ASSERT_TRUE(ReadFileBytes(ExeDir() + L"\\qvrengine.exe", engine));
    Write(L"files\\bin\\tool.exe", engine);
    Write(L"files\\bin\\tool.dll", engine.substr(0, engine.size() / 2));
    Write(L"files\\readonly.cfg", "fixed");
    ASSERT_TRUE(::SetFileAttributesW(Path(L"files\\readonly.cfg").c_str(), FILE_ATTRIBUTE_READONLY));
    const Result r = Pack(L"--install install.lua --payload files --solid-block-mib 1 --output Setup.exe");
    ASSERT_EQ(r.code, 0u) << r.output;
    EXPECT_NE(r.output.find("blocks"), std::string::npos) << r.output;
    ASSERT_EQ(testutil::Run(Quote(Path(L"Setup.exe")) + L" /InstallSlience true"), 0u);

    EXPECT_EQ(ListTree(target), ListTree(Path(L"files")));
    for (const wchar_t* rel : {L"data\\big.txt", L"data\\dict\\zh-en.dict", L"empty.txt", L"bin\\tool.exe",
                               L"bin\\tool.dll", L"readonly.cfg"}) {
        std::string want, got;
        ASSERT_TRUE(ReadFileBytes(Path(L"files\\") + rel, want));
        ASSERT_TRUE(ReadFileBytes(target + L"\\" + rel, got)) << WideToUtf8(rel);
        EXPECT_TRUE(want == got) << WideToUtf8(rel) << ": " << want.size() << " bytes packed, " << got.size() << " installed";
        EXPECT_EQ(LastWriteUnixTime(target + L"\\" + rel), LastWriteUnixTime(Path(L"files\\") + rel)) << WideToUtf8(rel);
    }
    EXPECT_TRUE(::GetFileAttributesW((target + L"\\readonly.cfg").c_str()) & FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW((target + L"\\readonly.cfg").c_str(), FILE_ATTRIBUTE_NORMAL);
    ::SetFileAttributesW(Path(L"files\\readonly.cfg").c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveTree(target);
}

// The LZMA2 dictionary of every solid block of an installer's payload.
std::vector<uint64_t> PayloadDictionaries(const std::wstring& installer) {
    nq::unique_hmodule module(
        ::LoadLibraryExW(installer.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    std::string payload = module ? ResourceBytes(module.get(), L"_7Z", L"App.7z") : std::string();
    if (payload.size() < 2) return {};
    std::swap(payload[0], payload[1]);
    static ISzAlloc alloc = {[](ISzAllocPtr, size_t n) { return n ? std::malloc(n) : nullptr; },
                             [](ISzAllocPtr, void* p) { std::free(p); }};
    CrcGenerateTable();
    struct Mem {
        ISeekInStream vt;
        const std::string* data;
        size_t at;
    } mem{{[](ISeekInStreamPtr pp, void* buf, size_t* size) -> SRes {
               auto* m = reinterpret_cast<Mem*>(const_cast<ISeekInStream*>(pp));
               *size = std::min(*size, m->data->size() - std::min(m->at, m->data->size()));
               std::memcpy(buf, m->data->data() + m->at, *size);
               m->at += *size;
               return SZ_OK;
           },
           [](ISeekInStreamPtr pp, Int64* pos, ESzSeek origin) -> SRes {
               auto* m = reinterpret_cast<Mem*>(const_cast<ISeekInStream*>(pp));
               const Int64 base = origin == SZ_SEEK_SET ? 0 : origin == SZ_SEEK_CUR ? m->at : m->data->size();
               m->at = static_cast<size_t>(*pos = base + *pos);
               return SZ_OK;
           }},
          &payload,
          0};
    std::vector<Byte> lookBuf(1 << 14);
    CLookToRead2 look;
    LookToRead2_CreateVTable(&look, False);
    look.realStream = &mem.vt;
    look.buf = lookBuf.data();
    look.bufSize = lookBuf.size();
    LookToRead2_INIT(&look);
    CSzArEx db;
    SzArEx_Init(&db);
    std::vector<uint64_t> out;
    if (SzArEx_Open(&db, &look.vt, &alloc, &alloc) == SZ_OK) {
        for (UInt32 f = 0; f < db.db.NumFolders; ++f) {
            CSzFolder folder;
            CSzData sd{db.db.CodersData + db.db.FoCodersOffsets[f], db.db.FoCodersOffsets[f + 1] - db.db.FoCodersOffsets[f]};
            if (SzGetNextFolderItem(&folder, &sd) != SZ_OK) break;
            const CSzCoderInfo& lzma2 = folder.Coders[0];
            const Byte prop = (db.db.CodersData + db.db.FoCodersOffsets[f])[lzma2.PropsOffset];
            out.push_back(lzma2.MethodID == 0x21 && lzma2.PropsSize == 1 && prop < 40
                              ? (uint64_t(2) | (prop & 1)) << (prop / 2 + 11)
                              : 0);
        }
    }
    SzArEx_Free(&db, &alloc);
    return out;
}

// The dictionary bounds the installer's memory: 4 MiB by default, what
// --dictionary-mib says, never more than the block it packs.
TEST_F(QvrPack, PayloadDictionaryDefaultsTo4MiBAndNeverExceedsTheBlock) {
    Write(L"install.lua", kInstallScript);
    std::string text;
    for (int i = 0; text.size() < (6u << 20); i++) text += "row " + std::to_string(i * 40503u % 1000003u) + "\r\n";
    Write(L"files\\big.txt", text.substr(0, 6u << 20));
    Write(L"files\\small.txt", text.substr(0, 100000));
    Write(L"little\\small.txt", text.substr(0, 100000));
    struct Case {
        const wchar_t* args;
        std::vector<uint64_t> dictionaries;  // per block
    };
    const Case cases[] = {
        {L"--payload files", {4u << 20}},                      // one block of 6.1 MiB
        {L"--payload files --dictionary-mib 16", {8u << 20}},  // the block's size, rounded up
        {L"--payload files --dictionary-mib 1", {1u << 20}},
        {L"--payload little", {128u << 10}},  // a block of 100000 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.args));
        const Result r = Pack(L"--install install.lua " + std::wstring(c.args) + L" --output Setup.exe");
        ASSERT_EQ(r.code, 0u) << r.output;
        EXPECT_EQ(PayloadDictionaries(Path(L"Setup.exe")), c.dictionaries);
    }
}

void SetWriteTime(const std::wstring& path, uint64_t unixTime) {
    nq::unique_hfile f(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(f);
    const uint64_t ft = (unixTime + 11644473600ull) * 10000000ull;
    FILETIME t{static_cast<DWORD>(ft), static_cast<DWORD>(ft >> 32)};
    ASSERT_TRUE(::SetFileTime(f.get(), nullptr, nullptr, &t));
}

// The same inputs give the same bytes, also when the files were copied again
// (newer times than SOURCE_DATE_EPOCH are clamped to it), and the link time
// in the header is SOURCE_DATE_EPOCH.
TEST_F(QvrPack, SameInputsGiveTheSameInstaller) {
    Write(L"install.lua", kInstallScript);
    Write(L"files\\notes.txt", "notes");
    Write(L"files\\bin\\a.dll", std::string(5000, 'x'));
    Write(L"skin\\Layout\\Layout.xml", "<Window/>");
    ::CreateDirectoryW(Path(L"one").c_str(), nullptr);
    ::CreateDirectoryW(Path(L"two").c_str(), nullptr);
    ::SetEnvironmentVariableW(L"SOURCE_DATE_EPOCH", L"1735689600");
    SetWriteTime(Path(L"files\\notes.txt"), 1735689600 + 3600);
    const std::wstring args = L"--install install.lua --payload files --skin skin --version 1.2 --output ";
    ASSERT_EQ(Pack(args + L"one\\Setup.exe").code, 0u);
    SetWriteTime(Path(L"files\\notes.txt"), 1735689600 + 7200);  // copied again later
    SetWriteTime(Path(L"skin\\Layout\\Layout.xml"), 1735689600 + 7200);
    ::Sleep(1100);
    const Result r = Pack(args + L"two\\Setup.exe");
    ASSERT_EQ(r.code, 0u) << r.output;
    std::string one, two;
    ASSERT_TRUE(ReadFileBytes(Path(L"one\\Setup.exe"), one));
    ASSERT_TRUE(ReadFileBytes(Path(L"two\\Setup.exe"), two));
    EXPECT_TRUE(one == two) << one.size() << " and " << two.size() << " bytes differ";
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(one.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(one.data() + dos->e_lfanew);
    EXPECT_EQ(nt->FileHeader.TimeDateStamp, 1735689600u);
    // A changed input does change the installer.
    Write(L"files\\notes.txt", "notes 2");
    ASSERT_EQ(Pack(args + L"two\\Setup.exe").code, 0u);
    ASSERT_TRUE(ReadFileBytes(Path(L"two\\Setup.exe"), two));
    EXPECT_FALSE(one == two);
}

// A 7z whose only entry is an empty file named `name`: the start header, then
// `gap` unused bytes (where packed streams would be; WriteArchiveWithGap writes them
// as a hole in the file), then the header.
std::string ArchiveWithEntry(const std::wstring& name, uint64_t gap = 0) {
    using Crc = DWORD(WINAPI*)(DWORD, const void*, DWORD);
    const auto crc = reinterpret_cast<Crc>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlComputeCrc32"));
    std::string header = "\x01\x05\x01";       // header, files info, one file
    header += std::string("\x0E\x01\x80", 3);  // empty stream
    header += std::string("\x0F\x01\x80", 3);  // empty file
    std::string names(1, '\0');
    for (wchar_t c : name + L'\0') names += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    header += "\x11" + std::string(1, static_cast<char>(names.size())) + names;
    header += std::string("\0\0", 2);
    std::string start(20, '\0');
    for (int i = 0; i < 8; i++) start[i] = static_cast<char>(gap >> (8 * i));
    start[8] = static_cast<char>(header.size());
    const DWORD hc = crc(0, header.data(), static_cast<DWORD>(header.size()));
    for (int i = 0; i < 4; i++) start[16 + i] = static_cast<char>(hc >> (8 * i));
    const DWORD sc = crc(0, start.data(), 20);
    std::string out("7z\xBC\xAF\x27\x1C\x00\x04", 8);
    for (int i = 0; i < 4; i++) out += static_cast<char>(sc >> (8 * i));
    return out + start + header;
}

// Writes ArchiveWithEntry(name, gap) to path, the gap as a hole.
bool WriteArchiveWithGap(const std::wstring& path, const std::wstring& name, uint64_t gap) {
    const std::string archive = ArchiveWithEntry(name, gap);
    nq::unique_hfile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
    DWORD done = 0;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(32 + gap);
    return f && ::WriteFile(f.get(), archive.data(), 32, &done, nullptr) && done == 32 &&
           ::SetFilePointerEx(f.get(), at, nullptr, FILE_BEGIN) &&
           ::WriteFile(f.get(), archive.data() + 32, static_cast<DWORD>(archive.size() - 32), &done, nullptr) &&
           done == archive.size() - 32;
}

// A payload near the installer's 512 MiB limit: the packer holds it several
// times over (archive, resource section, installer), more than the 2 GiB of a
// 32-bit process that is not large-address aware.
TEST_F(QvrPack, PayloadNearTheLimitPacks) {
    Write(L"install.lua", kInstallScript);
    const uint64_t gap = 480ull << 20;
    ASSERT_TRUE(WriteArchiveWithGap(Path(L"big.7z"), L"notes.txt", gap));
    const Result r = Pack(L"--install install.lua --payload big.7z --output Setup.exe");
    ASSERT_EQ(r.code, 0u) << r.output;
    WIN32_FILE_ATTRIBUTE_DATA attrs{};
    ASSERT_TRUE(::GetFileAttributesExW(Path(L"Setup.exe").c_str(), GetFileExInfoStandard, &attrs));
    EXPECT_GT((static_cast<uint64_t>(attrs.nFileSizeHigh) << 32) | attrs.nFileSizeLow, gap);
    ::DeleteFileW(Path(L"Setup.exe").c_str());
    ::DeleteFileW(Path(L"big.7z").c_str());
}

// Bad input: a clear message, its exit code, and the previous output intact
// with no temporary file left beside it.
TEST_F(QvrPack, BadInputFailsAndLeavesTheOutputAlone) {
    Write(L"install.lua", kInstallScript);
    Write(L"plain.lua", "function QVRSE_OnInstall() Lua_Logout(\"hello\") end\n");
    Write(L"broken.lua", "function QVRSE_OnInstall()\n  local x = = 1\nend\n");
    Write(L"needs_uninstall.lua", "function QVRSE_OnInstall()\n  Lua_ExtractResource(\"LUA\", \"UNINSTSCRIPT.LUAC\", \"x\")\nend\n");
    Write(L"files\\notes.txt", "notes");
    Write(L"skin_nolayout\\font.xml", "<Fonts/>");
    Write(L"notzip.zip", "this is not a package");
    Write(L"not7z.7z", "this is not an archive");
    Write(L"escape.7z", ArchiveWithEntry(L"../evil.txt"));
    Write(L"absolute.7z", ArchiveWithEntry(L"C:/Windows/evil.txt"));
    Write(L"bad.ico", "not an icon");
    {
        // Sparse: the packer must refuse it from its size, before reading.
        ::CreateDirectoryW(Path(L"huge").c_str(), nullptr);
        nq::unique_hfile f(::CreateFileW(Path(L"huge\\disk.img").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(f);
        LARGE_INTEGER at{};
        at.QuadPart = 300ll << 20;
        ASSERT_TRUE(::SetFilePointerEx(f.get(), at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(f.get()));
    }
    {
        // An engine whose first section's file offset and size wrap past 4 GiB.
        std::string engine;
        ASSERT_TRUE(ReadFileBytes(ExeDir() + L"\\qvrengine.exe", engine));
        ASSERT_GT(engine.size(), 0x400u);
        uint32_t pe = 0;
        std::memcpy(&pe, engine.data() + 0x3C, 4);
        uint16_t optSize = 0;
        std::memcpy(&optSize, engine.data() + pe + 20, 2);
        const size_t firstSection = pe + 24 + optSize;
        const uint32_t wrapping = 0xFFFFF000u;
        std::memcpy(&engine[firstSection + 20], &wrapping, 4);
        Write(L"wrapping_engine.exe", engine);
    }
    struct Case {
        const char* what;
        std::wstring args;
        DWORD code;
        const char* message;
    };
    const std::wstring payload = L" --payload files";
    const std::vector<Case> cases = {
        {"missing install script", L"--install nothere.lua" + payload, 3, "install script"},
        {"missing install script names the file", L"--install nothere.lua" + payload, 3, "nothere.lua does not exist"},
        {"Lua syntax error with file and line", L"--install broken.lua" + payload, 4, "broken.lua:2:"},
        {"uninstall script the install script extracts", L"--install needs_uninstall.lua", 3, "no --uninstall"},
        {"payload the install script extracts", L"--install install.lua", 3, "no --payload"},
        {"skin without the window layout", L"--install plain.lua --skin skin_nolayout", 3, "Layout/Layout.xml"},
        {"skin that is not a ZIP", L"--install plain.lua --skin notzip.zip", 3, "is not a ZIP package"},
        {"payload file over the block limit", L"--install install.lua --payload huge", 5, "at most 256 MiB"},
        {"payload archive that is not 7z", L"--install install.lua --payload not7z.7z", 5, "not a 7z archive"},
        {"payload entry outside the install folder", L"--install install.lua --payload escape.7z", 5,
         "outside the install folder"},
        {"payload entry with a drive", L"--install install.lua --payload absolute.7z", 5, "outside the install folder"},
        {"icon that is not an icon", L"--install install.lua --icon bad.ico" + payload, 3, "not an icon file"},
        {"version that is not numbers", L"--install install.lua --version 1.x" + payload, 2, "1.x"},
        {"unknown argument", L"--install install.lua --frobnicate" + payload, 2, "unknown argument --frobnicate"},
        {"solid block over the limit", L"--install install.lua --solid-block-mib 4096" + payload, 2, "--solid-block-mib"},
        {"dictionary over the limit", L"--install install.lua --dictionary-mib 512" + payload, 2, "--dictionary-mib"},
        {"dictionary of nothing", L"--install install.lua --dictionary-mib 0" + payload, 2, "--dictionary-mib"},
        {"engine with a section outside its file", L"--install plain.lua --engine wrapping_engine.exe", 3,
         "is cut short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Write(L"out\\Setup.exe", "previous installer");
        const Result r = Pack(c.args + L" --output out\\Setup.exe");
        EXPECT_EQ(r.code, c.code) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("qvrpack: "), 0u) << r.output;
        EXPECT_EQ(ReadFileOr(Path(L"out\\Setup.exe")), "previous installer");
        EXPECT_EQ(ListTree(Path(L"out")), std::vector<std::wstring>{L"Setup.exe"});
    }

    // The output path is the engine itself (also through another spelling of it).
    std::string engineBefore, engineAfter;
    ASSERT_TRUE(ReadFileBytes(ExeDir() + L"\\qvrengine.exe", engineBefore));
    for (const std::wstring& engine : {ExeDir() + L"\\qvrengine.exe", ExeDir() + L"\\.\\QVRENGINE.EXE"}) {
        const Result r = Pack(L"--install install.lua" + payload + L" --output " + Quote(engine));
        EXPECT_EQ(r.code, 6u) << r.output;
        EXPECT_NE(r.output.find("is the engine itself"), std::string::npos) << r.output;
    }
    ASSERT_TRUE(ReadFileBytes(ExeDir() + L"\\qvrengine.exe", engineAfter));
    EXPECT_TRUE(engineBefore == engineAfter);

    const Result noFolder = Pack(L"--install install.lua" + payload + L" --output nowhere\\Setup.exe");
    EXPECT_EQ(noFolder.code, 6u) << noFolder.output;
    EXPECT_NE(noFolder.output.find("does not exist"), std::string::npos) << noFolder.output;
}

}  // namespace
