// Where skin files come from: the resource path on disk, or a ZIP package (in
// memory or on disk, relative to the resource path). Process-wide state, used
// from the UI thread only; the paint manager keeps it for the whole framework.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

#include "archive/qvrzip.h"

namespace SkinUI {

// Bytes of one skin file.
struct SkinFileBytes {
    std::unique_ptr<BYTE[]> data;
    size_t size = 0;
    void reset() {
        data.reset();
        size = 0;
    }
};

// Who reads: each caller has its own rules on top of the common lookup.
enum class SkinFileUse {
    Markup,  // refuses files over 4 MiB, no fallback, records an error message
    Image,   // falls back to the name itself on disk
    Font,    // the same fallback
};

// Largest layout file the markup loader accepts.
constexpr size_t kMaxMarkupFileSize = 4u * 1024u * 1024u;

class CSkinPackage {
public:
    // Name meaning "the package is the memory block given to SetResourceZipMemory".
    static constexpr const wchar_t* kMemoryPackageName = L"membuffer";

    // Folder that relative skin names are resolved against (a trailing
    // separator is added when missing). Empty: the current directory.
    static void SetResourcePath(const std::wstring& path);
    static const std::wstring& GetResourcePath();

    // A package file on disk, relative to the resource path. With `cached` the
    // file is opened once here and stays open; otherwise every lookup opens it.
    // An empty name returns to plain files under the resource path.
    static void SetResourceZip(const std::wstring& name, bool cached = false, const std::wstring& password = L"");

    // The package is a memory block that stays valid for the life of the
    // process (not copied, never freed here). A second memory package is ignored.
    static void SetResourceZipMemory(const void* data, DWORD size, const wchar_t* password, size_t passwordLength);

    static const std::wstring& GetResourceZip();  // "" / "membuffer" / file name
    static bool IsCachedResourceZip();
    // The open package handle when cached (null when none or opening failed).
    static ZipHandle GetResourceZipHandle();
    // Closes the cached handle (shutdown). The package name stays set.
    static void CloseResourceZip();
    // Forgets everything (back to no package, empty resource path). For tests and shutdown.
    static void Reset();

    // True when the package (cached or opened for the call) has an entry of this
    // relative name (backslashes turned into slashes, case ignored); without a
    // package, when resource path + name exists on disk.
    static bool SkinFileExists(const std::wstring& name);

    // Reads a skin file by relative name with the rules of `use`. On failure the
    // bytes are empty and, for the markup loader, `error` receives the message.
    static bool ReadSkinFile(const std::wstring& name, SkinFileUse use, SkinFileBytes& bytes,
                             std::wstring* error = nullptr);
};

// Reads a whole file from disk (read access, shared for reading, existing only).
// A missing file, an empty file, a short read or one larger than `maxSize`
// (0: no limit) fails; `error` receives the markup loader's message.
bool ReadDiskFile(const std::wstring& path, size_t maxSize, SkinFileBytes& bytes, std::wstring* error = nullptr);

// Text in the ANSI code page (for package passwords).
std::string WideToAnsiText(const std::wstring& text);

}  // namespace SkinUI
