#include "ui/core/uiskinfile.h"

#include <new>

#include "nqpublic/nqbase/nqhandle.h"

namespace SkinUI {
namespace {

using unique_zip = nq::unique_any<ZipHandle, &ZipClose>;

struct PackageState {
    std::wstring resourcePath;
    std::wstring zipName;   // "" none, "membuffer" memory, else a file name
    bool cached = false;
    std::wstring password;  // kept as given
    unique_zip handle;
};

PackageState& State() {
    static PackageState state;
    return state;
}

void ClosePackage(PackageState& s) { s.handle.reset(); }

std::wstring PackageKey(const std::wstring& name) {
    std::wstring key = name;
    for (wchar_t& c : key)
        if (c == L'\\') c = L'/';
    return key;
}

// The package handle for one lookup: the cached one, or one opened now (owned
// by the caller through `opened`).
ZipHandle AcquireHandle(PackageState& s, unique_zip& opened) {
    opened.reset();
    if (s.cached) return s.handle.get();
    const std::wstring path = s.resourcePath + s.zipName;
    opened.reset(ZipOpenFile(path.c_str(), WideToAnsiText(s.password).c_str()));
    return opened.get();
}

}  // namespace

std::string WideToAnsiText(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void CSkinPackage::SetResourcePath(const std::wstring& path) {
    std::wstring p = path;
    if (!p.empty() && p.back() != L'\\' && p.back() != L'/') p += L'\\';
    State().resourcePath = p;
}

const std::wstring& CSkinPackage::GetResourcePath() { return State().resourcePath; }

void CSkinPackage::SetResourceZip(const std::wstring& name, bool cached, const std::wstring& password) {
    PackageState& s = State();
    ClosePackage(s);
    s.zipName = name;
    s.password = password;
    s.cached = cached && !name.empty();
    if (s.cached) {
        const std::wstring path = s.resourcePath + name;
        s.handle.reset(ZipOpenFile(path.c_str(), WideToAnsiText(password).c_str()));
    }
}

void CSkinPackage::SetResourceZipMemory(const void* data, DWORD size, const wchar_t* password, size_t passwordLength) {
    PackageState& s = State();
    // 1. A second memory package is ignored.
    if (s.zipName == kMemoryPackageName) return;
    // 2. A cached package handle is closed first.
    ClosePackage(s);
    // 3. Open the block in place. A failure leaves no handle: later lookups fail.
    s.zipName = kMemoryPackageName;
    s.cached = true;
    s.password.assign(password ? password : L"", password ? passwordLength : 0);
    s.handle.reset(ZipOpenMemory(data, size, WideToAnsiText(s.password).c_str()));
}

const std::wstring& CSkinPackage::GetResourceZip() { return State().zipName; }
bool CSkinPackage::IsCachedResourceZip() { return State().cached; }
ZipHandle CSkinPackage::GetResourceZipHandle() { return State().cached ? State().handle.get() : nullptr; }
void CSkinPackage::CloseResourceZip() { ClosePackage(State()); }

void CSkinPackage::Reset() {
    State() = PackageState{};  // closes the cached handle
}

bool CSkinPackage::SkinFileExists(const std::wstring& name) {
    PackageState& s = State();
    if (s.zipName.empty()) {
        const std::wstring path = s.resourcePath + name;
        return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    unique_zip opened;
    const ZipHandle h = AcquireHandle(s, opened);
    if (!h) return false;
    int index = -1;
    return ZipFindItem(h, PackageKey(name).c_str(), true, &index, nullptr) == ZR_OK;
}

bool ReadDiskFile(const std::wstring& path, size_t maxSize, SkinFileBytes& bytes, std::wstring* error) {
    bytes.reset();
    auto fail = [&](const wchar_t* message) {
        bytes.reset();
        if (error) *error = message;
        return false;
    };
    nq::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return fail(L"Error opening file");
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size)) return fail(L"Could not read file");
    if (size.QuadPart == 0) return fail(L"File is empty");
    if (size.QuadPart > 0x7fffffff || (maxSize && static_cast<uint64_t>(size.QuadPart) > maxSize))
        return fail(L"File too large");
    const DWORD n = static_cast<DWORD>(size.QuadPart);
    bytes.data.reset(new (std::nothrow) BYTE[n]);
    if (!bytes.data) return fail(L"Could not read file");
    DWORD total = 0;
    while (total < n) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), bytes.data.get() + total, n - total, &got, nullptr) || got == 0) break;
        total += got;
    }
    if (total != n) return fail(L"Could not read file");
    bytes.size = n;
    return true;
}

bool CSkinPackage::ReadSkinFile(const std::wstring& name, SkinFileUse use, SkinFileBytes& bytes,
                                std::wstring* error) {
    bytes.reset();
    PackageState& s = State();
    const bool markup = use == SkinFileUse::Markup;
    const size_t limit = markup ? kMaxMarkupFileSize : 0;
    auto fail = [&](const wchar_t* message) {
        bytes.reset();
        if (error) *error = message;
        return false;
    };

    bool ok = false;
    if (s.zipName.empty()) {
        // 1. No package: resource path + name on disk.
        ok = ReadDiskFile(s.resourcePath + name, limit, bytes, error);
    } else {
        // 2. The package: the cached handle or one opened for this lookup.
        unique_zip opened;
        const ZipHandle h = AcquireHandle(s, opened);
        if (!h) {
            fail(L"Error opening zip file");
        } else {
            // 3-4. Backslashes become slashes; nothing else about the key changes.
            int index = -1;
            ZipEntryInfo entry;
            if (ZipFindItem(h, PackageKey(name).c_str(), true, &index, &entry) != ZR_OK) {
                fail(L"Could not find ziped file");
            } else if (entry.unc_size == 0) {
                fail(L"File is empty");  // 5. an empty entry counts as missing
            } else if (limit && entry.unc_size > limit) {
                fail(L"File too large");
            } else {
                // 6. One call for the whole entry.
                bytes.data.reset(new (std::nothrow) BYTE[entry.unc_size]);
                const ZRESULT r =
                    bytes.data ? ZipUnzipItem(h, index, bytes.data.get(), entry.unc_size) : ZR_FLATE;
                if (r == ZR_OK || r == ZR_MORE) {
                    bytes.size = entry.unc_size;
                    ok = true;
                } else {
                    fail(L"Could not unzip file");
                }
            }
        }
        // 7. A handle opened for this lookup is closed by the guard.
    }
    if (ok || markup) return ok;

    // Images and fonts: the name itself on disk (absolute or relative to the
    // current directory).
    return ReadDiskFile(name, 0, bytes, error);
}

}  // namespace SkinUI
