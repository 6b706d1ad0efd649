// qvrpack: turns a product's scripts, skin and files into its installer.
//
//   qvrpack --install install.lua [--config config.lua] [--uninstall uninstall.lua]
//           [--payload <folder>|<archive.7z>] [--skin <folder>|<package.zip>] [--icon app.ico]
//           [--product-name N] [--company C] [--version 1.2.3.4] [--description D] [--copyright C]
//           [--as-invoker] [--solid-block-mib N] [--dictionary-mib N] [--engine qvrengine.exe]
//           [--sign cert.pfx|cert.pem [--sign-key key.pem] [--sign-password P]]
//           --output Setup.exe
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <utility>

#include "fileio.h"
#include "luachunk.h"
#include "packerror.h"
#include "payload7z.h"
#include "payloadlimits.h"
#include "peresources.h"
#include "productres.h"
#include "signing.h"
#include "skinzip.h"

#include "nqpublic/nqbase/nqmodule.h"

namespace qvrpack {

namespace {

constexpr const wchar_t* kUsage =
    L"usage: qvrpack --install <install.lua> --output <Setup.exe>\n"
    L"               [--config <config.lua>] [--uninstall <uninstall.lua>]\n"
    L"               [--payload <folder>|<archive.7z>] [--skin <folder>|<package.zip>] [--icon <file.ico>]\n"
    L"               [--product-name <text>] [--company <text>] [--version <1.2.3.4>]\n"
    L"               [--description <text>] [--copyright <text>]\n"
    L"               [--as-invoker] [--solid-block-mib <1..256>] [--dictionary-mib <1..256>]\n"
    L"               [--engine <qvrengine.exe>]\n"
    L"               [--sign <cert.pfx>|<cert.pem> [--sign-key <key.pem>] [--sign-password <text>]]\n";

void Print(FILE* stream, const std::wstring& text) {
    const HANDLE h = ::GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    if (h && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode)) {
        ::WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string utf8 = WideToUtf8(text);
    if (h && h != INVALID_HANDLE_VALUE) ::WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

struct Options {
    std::map<std::wstring, std::wstring> values;
    bool asInvoker = false;
    std::wstring Get(const wchar_t* key) const {
        auto it = values.find(key);
        return it == values.end() ? std::wstring() : it->second;
    }
    bool Has(const wchar_t* key) const { return values.count(key) != 0; }
};

Options ParseArguments(int argc, wchar_t** argv) {
    static const wchar_t* const kValued[] = {L"--install", L"--config", L"--uninstall", L"--payload", L"--skin",
                                             L"--icon", L"--product-name", L"--company", L"--version",
                                             L"--description", L"--copyright", L"--solid-block-mib",
                                             L"--dictionary-mib", L"--engine", L"--sign", L"--sign-key",
                                             L"--sign-password", L"--output"};
    Options o;
    for (int i = 1; i < argc; i++) {
        std::wstring arg = argv[i];
        if (arg == L"-o") arg = L"--output";
        if (arg == L"--as-invoker") {
            o.asInvoker = true;
            continue;
        }
        bool known = false;
        for (const wchar_t* k : kValued) known = known || arg == k;
        if (!known) throw PackError(kExitUsage, "unknown argument " + WideToUtf8(arg));
        if (i + 1 >= argc) throw PackError(kExitUsage, WideToUtf8(arg) + " needs a value");
        if (o.Has(arg.c_str())) throw PackError(kExitUsage, WideToUtf8(arg) + " is given twice");
        o.values[arg] = argv[++i];
    }
    if (!o.Has(L"--install")) throw PackError(kExitUsage, "--install <install.lua> is required");
    if (!o.Has(L"--output")) throw PackError(kExitUsage, "--output <Setup.exe> is required");
    if ((o.Has(L"--sign-key") || o.Has(L"--sign-password")) && !o.Has(L"--sign"))
        throw PackError(kExitUsage, "--sign-key and --sign-password go with --sign");
    return o;
}

std::wstring ProgramDir() {
    const std::wstring path = nq::ModuleFileName();
    return path.substr(0, path.find_last_of(L"\\/"));
}

// SOURCE_DATE_EPOCH, when set: the installer's link time and the latest file time.
long long SourceDateEpoch() {
    wchar_t buf[32];
    const DWORD n = ::GetEnvironmentVariableW(L"SOURCE_DATE_EPOCH", buf, 32);
    if (n == 0 || n >= 32) return -1;
    wchar_t* end = nullptr;
    const long long v = std::wcstoll(buf, &end, 10);
    if (*end || v < 315532800 || v > 0xFFFFFFFFLL)  // 1980 .. 2106
        throw PackError(kExitUsage, "SOURCE_DATE_EPOCH must be seconds since 1970 between 1980 and 2106");
    return v;
}

uint32_t DosTime(long long unixTime) {
    if (unixTime < 0) return 0x00210000;  // 1980-01-01 00:00
    const time_t t = static_cast<time_t>(unixTime);
    tm u{};
    gmtime_s(&u, &t);
    return (static_cast<uint32_t>(u.tm_year - 80) << 25) | (static_cast<uint32_t>(u.tm_mon + 1) << 21) |
           (static_cast<uint32_t>(u.tm_mday) << 16) | (static_cast<uint32_t>(u.tm_hour) << 11) |
           (static_cast<uint32_t>(u.tm_min) << 5) | static_cast<uint32_t>(u.tm_sec / 2);
}

Bytes DefaultIcon() {
    const HRSRC res = ::FindResourceW(nullptr, L"DEFAULTICON", MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    const HGLOBAL mem = res ? ::LoadResource(nullptr, res) : nullptr;
    const auto* data = mem ? static_cast<const uint8_t*>(::LockResource(mem)) : nullptr;
    if (!data) throw PackError(kExitInput, "the packager's own default icon is missing; give --icon");
    return Bytes(data, data + ::SizeofResource(nullptr, res));
}

int Pack(const Options& o) {
    const long long epoch = SourceDateEpoch();
    const std::wstring output = FullPath(o.Get(L"--output"));
    const std::wstring engine = o.Has(L"--engine") ? FullPath(o.Get(L"--engine")) : ProgramDir() + L"\\qvrengine.exe";
    if (SameFile(output, engine))
        throw PackError(kExitOutput, "the output " + WideToUtf8(output) + " is the engine itself; choose another file");
    if (IsDirectory(output)) throw PackError(kExitOutput, "the output " + WideToUtf8(output) + " is a folder");
    const std::wstring outDir = output.substr(0, output.find_last_of(L'\\'));
    if (!IsDirectory(outDir))
        throw PackError(kExitOutput, "the output folder " + WideToUtf8(outDir) + " does not exist");

    // Scripts: compiled first, they are the quickest to get wrong.
    const Bytes install = CompileLuaFile(o.Get(L"--install"), "install script");
    const Bytes config = o.Has(L"--config") ? CompileLuaFile(o.Get(L"--config"), "configuration script")
                                            : CompileLuaText("", "global_var");
    Bytes uninstall;
    if (o.Has(L"--uninstall")) uninstall = CompileLuaFile(o.Get(L"--uninstall"), "uninstall script");
    if (!o.Has(L"--uninstall") && ChunkMentions(install, "UNINSTSCRIPT.LUAC"))
        throw PackError(kExitInput, "the install script extracts UNINSTSCRIPT.LUAC, but no --uninstall script was given");
    if (!o.Has(L"--payload") && ChunkMentions(install, "APP.7Z"))
        throw PackError(kExitInput, "the install script extracts App.7z, but no --payload was given");

    // What describes the installer to Windows: quick to check, so checked before the payload.
    const Bytes icon = o.Has(L"--icon") ? ReadWholeFile(o.Get(L"--icon"), "icon") : DefaultIcon();
    std::vector<Resource> describing = IconResources(icon, "icon " + WideToUtf8(o.Get(L"--icon")));
    VersionFields fields;
    fields.productName = o.Get(L"--product-name");
    fields.company = o.Get(L"--company");
    fields.version = o.Has(L"--version") ? o.Get(L"--version") : L"1.0.0.0";
    fields.description = o.Get(L"--description");
    fields.copyright = o.Get(L"--copyright");
    fields.originalFilename = output.substr(output.find_last_of(L'\\') + 1);
    describing.push_back(VersionResource(fields));
    describing.push_back(ManifestResource(o.asInvoker));
    const Bytes stub = ReadWholeFile(engine, "engine");

    Bytes skin;
    if (o.Has(L"--skin")) {
        const std::wstring path = o.Get(L"--skin");
        const std::string what = "skin " + WideToUtf8(path);
        if (IsDirectory(path)) skin = ZipFolder(path, DosTime(epoch));
        else skin = ReadWholeFile(path, "skin package");
        bool hasLayout = false;
        for (const std::string& name : ZipEntryNames(skin, what))
            hasLayout = hasLayout || ::lstrcmpiA(name.c_str(), kSkinLayoutEntry) == 0;
        if (!hasLayout)
            throw PackError(kExitInput, what + " has no " + kSkinLayoutEntry + ", the layout of the installer window");
    }

    Bytes payload;
    if (o.Has(L"--payload")) {
        const std::wstring path = o.Get(L"--payload");
        const std::string what = "payload " + WideToUtf8(path);
        if (IsDirectory(path)) {
            PayloadOptions po;
            if (o.Has(L"--solid-block-mib")) {
                const long mib = std::wcstol(o.Get(L"--solid-block-mib").c_str(), nullptr, 10);
                if (mib < 1 || static_cast<uint64_t>(mib) << 20 > kMaxBlockUnpacked)
                    throw PackError(kExitUsage, "--solid-block-mib must be between 1 and " +
                                                    std::to_string(kMaxBlockUnpacked >> 20));
                po.solidBlockBytes = static_cast<uint32_t>(mib) << 20;
            }
            if (o.Has(L"--dictionary-mib")) {
                const long mib = std::wcstol(o.Get(L"--dictionary-mib").c_str(), nullptr, 10);
                if (mib < 1 || static_cast<uint64_t>(mib) << 20 > kMaxBlockUnpacked)
                    throw PackError(kExitUsage, "--dictionary-mib must be between 1 and " +
                                                    std::to_string(kMaxBlockUnpacked >> 20));
                po.dictionaryBytes = static_cast<uint32_t>(mib) << 20;
            }
            if (epoch >= 0) po.latestTime = (static_cast<uint64_t>(epoch) + 11644473600ull) * 10000000ull;
            payload = PackFolder(path, po);
        } else {
            payload = ReadWholeFile(path, "payload archive");
        }
        const ArchiveSummary summary = CheckArchive(payload, what);
        Print(stdout, L"payload: " + std::to_wstring(summary.entries) + L" entries in " +
                          std::to_wstring(summary.blocks) + L" blocks (largest " +
                          std::to_wstring((summary.largestBlock + 1023) / 1024) + L" KiB), " +
                          std::to_wstring(payload.size()) + L" bytes packed\n");
        // Stored with its first two bytes exchanged; the installer exchanges them back.
        if (payload.size() >= 2) std::swap(payload[0], payload[1]);
    }

    std::vector<Resource> resources;
    const ResId lua = ResId::Text(L"LUA");
    resources.push_back(Resource{lua, ResId::Text(L"GLOBAL_VAR.LUAC"), 0, config});
    resources.push_back(Resource{lua, ResId::Text(L"INSTSCRIPT.LUAC"), 0, install});
    if (!uninstall.empty()) resources.push_back(Resource{lua, ResId::Text(L"UNINSTSCRIPT.LUAC"), 0, uninstall});
    // Moved, not copied: a payload near its limit is held only by the resource
    // list, the resource section and the installer.
    if (!payload.empty())
        resources.push_back(Resource{ResId::Text(L"_7Z"), ResId::Text(L"APP.7Z"), 0, std::move(payload)});
    if (!skin.empty()) resources.push_back(Resource{ResId::Text(L"ZIP"), ResId::Number(249), 0, skin});
    for (Resource& r : describing) resources.push_back(std::move(r));

    const Bytes installer = AttachResources(stub, resources, epoch >= 0 ? static_cast<uint32_t>(epoch) : 0);
    std::vector<Resource>().swap(resources);

    PendingFile pending(output);
    pending.Write(installer);
    if (o.Has(L"--sign")) {
        SignOptions so;
        so.certificate = o.Get(L"--sign");
        so.key = o.Get(L"--sign-key");
        so.password = o.Get(L"--sign-password");
        so.signingTime = epoch;
        // Signed into a second temporary file beside the first one.
        const std::wstring signedPath = pending.path() + L".signed";
        SignFile(pending.path(), signedPath, so);
        if (!::MoveFileExW(signedPath.c_str(), pending.path().c_str(), MOVEFILE_REPLACE_EXISTING)) {
            ::DeleteFileW(signedPath.c_str());
            throw PackError(kExitSign, "cannot replace the unsigned installer with the signed one");
        }
    }
    uint64_t written = installer.size();
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (::GetFileAttributesExW(pending.path().c_str(), GetFileExInfoStandard, &info))
        written = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    pending.Commit();
    Print(stdout, L"wrote " + output + L" (" + std::to_wstring(written) + L" bytes" +
                      (o.Has(L"--sign") ? L", signed" : L"") + L")\n");
    return kExitOk;
}

}  // namespace

}  // namespace qvrpack

int wmain(int argc, wchar_t** argv) {
    using namespace qvrpack;
    if (argc == 2 && (std::wstring(argv[1]) == L"--help" || std::wstring(argv[1]) == L"-h")) {
        Print(stdout, kUsage);
        return kExitOk;
    }
    try {
        return Pack(ParseArguments(argc, argv));
    } catch (const PackError& e) {
        Print(stderr, L"qvrpack: " + Utf8ToWide(e.what()) + L"\n");
        if (e.code() == kExitUsage) Print(stderr, kUsage);
        return e.code();
    } catch (const std::bad_alloc&) {
        Print(stderr, L"qvrpack: out of memory\n");
        return kExitPayload;
    }
}
