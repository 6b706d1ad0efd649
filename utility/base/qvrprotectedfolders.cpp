#include "qvrprotectedfolders.h"

#include <knownfolders.h>
#include <shlobj.h>
#include <userenv.h>

#include <memory>

#include "nqpublic/nqbase/nqhandle.h"

namespace qvrfolders {
namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "X:\..." (a drive) or "\\server\share..." (a share); '/' already turned into '\'.
bool IsFullPathForm(const std::wstring& p) {
    if (p.size() >= 3 && IsDriveLetter(p[0]) && p[1] == L':' && p[2] == L'\\') return true;
    if (p.size() >= 5 && p[0] == L'\\' && p[1] == L'\\' && p[2] != L'\\' && p[2] != L'?' && p[2] != L'.') {
        const size_t server = p.find(L'\\', 2);
        return server != std::wstring::npos && server > 2 && server + 1 < p.size() && p[server + 1] != L'\\';
    }
    return false;
}

// Length of the root part: 3 for "C:\", the length of "\\server\share" for a share.
size_t RootLength(const std::wstring& p) {
    if (p.size() >= 3 && p[1] == L':') return 3;
    const size_t server = p.find(L'\\', 2);
    if (server == std::wstring::npos) return p.size();
    const size_t share = p.find(L'\\', server + 1);
    return share == std::wstring::npos ? p.size() : share;
}

bool IsRoot(const std::wstring& full) { return !full.empty() && RootLength(full) >= full.size(); }

// The form Windows file functions take for a path of any length.
std::wstring ApiPath(const std::wstring& full) {
    if (full.size() < MAX_PATH - 12) return full;
    if (full.size() >= 2 && full[0] == L'\\' && full[1] == L'\\') return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Removes "\\?\" and "\\?\UNC\" (and the "\\.\" device forms of the same).
std::wstring WithoutLongPrefix(std::wstring p) {
    if (p.size() >= 4 && p[0] == L'\\' && p[1] == L'\\' && (p[2] == L'?' || p[2] == L'.') && p[3] == L'\\') {
        if (p.size() >= 8 && ::CompareStringOrdinal(p.c_str() + 4, 4, L"UNC\\", 4, TRUE) == CSTR_EQUAL)
            return L"\\\\" + p.substr(8);
        return p.substr(4);
    }
    return p;
}

}  // namespace

std::wstring ExpandEnvironment(const std::wstring& path) {
    std::wstring out(path.size() + 64, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD n = ::ExpandEnvironmentStringsW(path.c_str(), &out[0], static_cast<DWORD>(out.size()));
        if (n == 0) return path;
        if (n <= out.size()) {
            out.resize(n - 1);
            return out;
        }
        out.assign(n, L'\0');
    }
    return path;
}

namespace {

std::wstring FullPathName(const std::wstring& p) {
    std::wstring out(p.size() + 16, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD n = ::GetFullPathNameW(p.c_str(), static_cast<DWORD>(out.size()), &out[0], nullptr);
        if (n == 0) return L"";
        if (n < out.size()) {
            out.resize(n);
            return out;
        }
        out.assign(n + 1, L'\0');
    }
    return L"";
}

std::wstring DropTrailingSeparators(std::wstring p) {
    const size_t root = RootLength(p);
    while (p.size() > root && p.back() == L'\\') p.pop_back();
    return p;
}

// The parent of a canonical path; empty for a root.
std::wstring Parent(const std::wstring& full) {
    if (IsRoot(full)) return L"";
    const size_t root = RootLength(full);
    const size_t slash = full.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash < root) return full.substr(0, root);
    if (slash < 3 && full[1] == L':') return full.substr(0, 3);
    return full.substr(0, slash);
}

bool Exists(const std::wstring& full) { return ::GetFileAttributesW(ApiPath(full).c_str()) != INVALID_FILE_ATTRIBUTES; }

// Splits a canonical path into its longest existing part and the rest
// (relative, without a leading separator; empty when all of it exists).
void SplitExisting(const std::wstring& full, std::wstring* existing, std::wstring* rest) {
    std::wstring head = full;
    while (!head.empty() && !Exists(head)) head = Parent(head);
    *existing = head;
    *rest = full.substr(head.size());
    while (!rest->empty() && rest->front() == L'\\') rest->erase(0, 1);
}

std::wstring Join(const std::wstring& folder, const std::wstring& rest) {
    if (rest.empty()) return folder;
    return folder.back() == L'\\' ? folder + rest : folder + L"\\" + rest;
}

std::wstring LongNames(const std::wstring& full) {
    std::wstring existing, rest;
    SplitExisting(full, &existing, &rest);
    if (existing.empty()) return full;
    const std::wstring api = ApiPath(existing);
    std::wstring out(api.size() + 64, L'\0');
    DWORD n = ::GetLongPathNameW(api.c_str(), &out[0], static_cast<DWORD>(out.size()));
    if (n >= out.size()) {
        out.assign(n + 1, L'\0');
        n = ::GetLongPathNameW(api.c_str(), &out[0], static_cast<DWORD>(out.size()));
    }
    if (n == 0 || n >= out.size()) return full;
    out.resize(n);
    return Join(DropTrailingSeparators(WithoutLongPrefix(out)), rest);
}

bool ContainsWildcard(const std::wstring& p) { return p.find_first_of(L"*?") != std::wstring::npos; }

// Names of a profile's known folders, relative to the profile.
const wchar_t* const kProfileFolderNames[] = {
    L"Desktop", L"Documents", L"Downloads", L"Pictures", L"Music", L"Videos",
    L"AppData", L"AppData\\Local", L"AppData\\LocalLow", L"AppData\\Roaming",
    L"My Documents", L"Start Menu", L"Application Data", L"Local Settings",
};

}  // namespace

const wchar_t* Describe(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone: return L"an ordinary folder";
        case Refusal::kEmpty: return L"no folder given";
        case Refusal::kRelative: return L"not a full path with a drive letter or a share";
        case Refusal::kDriveRoot: return L"the root of a drive";
        case Refusal::kWindows: return L"the Windows folder or a folder inside it";
        case Refusal::kSystem: return L"a system folder (Program Files, ProgramData or Users)";
        case Refusal::kProfile: return L"a user profile";
        case Refusal::kUserFolder: return L"a user's own folder (Desktop, Documents, AppData and the like)";
    }
    return L"";
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool IsSameOrBelow(const std::wstring& path, const std::wstring& folder) {
    if (folder.empty() || path.size() < folder.size()) return false;
    if (::CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                               static_cast<int>(folder.size()), TRUE) != CSTR_EQUAL)
        return false;
    return path.size() == folder.size() || folder.back() == L'\\' || path[folder.size()] == L'\\';
}

bool CanonicalPath(const std::wstring& path, std::wstring* full, Refusal* why) {
    full->clear();
    std::wstring p = ExpandEnvironment(path);
    for (wchar_t& c : p)
        if (c == L'/') c = L'\\';
    const size_t first = p.find_first_not_of(L" \t");
    if (first == std::wstring::npos) {
        if (why) *why = Refusal::kEmpty;
        return false;
    }
    p = WithoutLongPrefix(p);
    if (!IsFullPathForm(p) || ContainsWildcard(p)) {
        if (why) *why = Refusal::kRelative;
        return false;
    }
    std::wstring resolved = FullPathName(p);
    if (resolved.empty() || !IsFullPathForm(resolved + L"\\")) {
        if (why) *why = Refusal::kRelative;
        return false;
    }
    *full = LongNames(DropTrailingSeparators(WithoutLongPrefix(resolved)));
    if (why) *why = Refusal::kNone;
    return true;
}

std::wstring ResolveLinks(const std::wstring& full) {
    std::wstring existing, rest;
    SplitExisting(full, &existing, &rest);
    if (existing.empty()) return full;
    nq::unique_hfile handle(::CreateFileW(ApiPath(existing).c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return full;
    std::wstring out(MAX_PATH, L'\0');
    DWORD n = ::GetFinalPathNameByHandleW(handle.get(), &out[0], static_cast<DWORD>(out.size()),
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n >= out.size()) {
        out.assign(n + 1, L'\0');
        n = ::GetFinalPathNameByHandleW(handle.get(), &out[0], static_cast<DWORD>(out.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (n == 0 || n >= out.size()) return full;
    out.resize(n);
    const std::wstring final = DropTrailingSeparators(WithoutLongPrefix(out));
    if (!IsFullPathForm(final + L"\\")) return full;
    return Join(final, rest);
}

ProtectedFolders::ProtectedFolders(std::vector<ProtectedFolder> folders, std::wstring profilesRoot)
    : folders_(std::move(folders)), profilesRoot_(std::move(profilesRoot)) {}

Refusal ProtectedFolders::ClassifyCanonical(const std::wstring& full) const {
    if (IsRoot(full)) return Refusal::kDriveRoot;
    for (const ProtectedFolder& f : folders_) {
        const bool hit = f.match == Match::kSubtree ? IsSameOrBelow(full, f.path) : SamePath(full, f.path);
        if (hit) return f.kind;
    }
    if (!profilesRoot_.empty() && IsSameOrBelow(full, profilesRoot_)) {
        if (SamePath(full, profilesRoot_)) return Refusal::kSystem;
        // <profiles>\<user>[\<known folder>]
        const std::wstring inside = full.substr(profilesRoot_.size() + (profilesRoot_.back() == L'\\' ? 0 : 1));
        const size_t slash = inside.find(L'\\');
        if (slash == std::wstring::npos) return Refusal::kProfile;
        const std::wstring known = inside.substr(slash + 1);
        for (const wchar_t* name : kProfileFolderNames)
            if (SamePath(known, name)) return Refusal::kUserFolder;
    }
    return Refusal::kNone;
}

Refusal ProtectedFolders::Classify(const std::wstring& path, std::wstring* canonical) const {
    std::wstring full;
    Refusal why = Refusal::kNone;
    if (canonical) canonical->clear();
    if (!CanonicalPath(path, &full, &why)) return why;
    if (canonical) *canonical = full;
    const Refusal direct = ClassifyCanonical(full);
    if (direct != Refusal::kNone) return direct;
    const std::wstring linked = ResolveLinks(full);
    return SamePath(linked, full) ? Refusal::kNone : ClassifyCanonical(linked);
}

ProtectedFolders ProtectedFolders::ReadFromSystem() {
    std::vector<ProtectedFolder> folders;
    auto push = [&](const std::wstring& full, Refusal kind, Match match) {
        if (IsRoot(full)) return;
        for (const ProtectedFolder& f : folders)
            if (f.kind == kind && f.match == match && SamePath(f.path, full)) return;
        folders.push_back({full, kind, match});
    };
    auto add = [&](const std::wstring& raw, Refusal kind, Match match) {
        std::wstring full;
        if (raw.empty() || !CanonicalPath(raw, &full)) return;
        push(full, kind, match);
        // The same folder under the name its links lead to.
        push(ResolveLinks(full), kind, match);
    };
    auto csidl = [](int id) {
        wchar_t path[MAX_PATH] = {};
        return SUCCEEDED(::SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path)) ? std::wstring(path)
                                                                                             : std::wstring();
    };
    auto known = [](REFKNOWNFOLDERID id) {
        PWSTR path = nullptr;
        const HRESULT hr = ::SHGetKnownFolderPath(id, 0, nullptr, &path);
        const nq::unique_cotaskmem owner(path);
        return SUCCEEDED(hr) && path ? std::wstring(path) : std::wstring();
    };
    auto env = [](const wchar_t* name) {
        wchar_t value[32768];
        const DWORD n = ::GetEnvironmentVariableW(name, value, 32768);
        return n > 0 && n < 32768 ? std::wstring(value, n) : std::wstring();
    };

    // The Windows folder, with everything below it.
    wchar_t windows[MAX_PATH] = {};
    if (::GetWindowsDirectoryW(windows, MAX_PATH)) add(windows, Refusal::kWindows, Match::kSubtree);
    if (::GetSystemWindowsDirectoryW(windows, MAX_PATH)) add(windows, Refusal::kWindows, Match::kSubtree);
    add(env(L"SystemRoot"), Refusal::kWindows, Match::kSubtree);

    // Program Files (both), ProgramData, Users.
    for (const std::wstring& p : {csidl(CSIDL_PROGRAM_FILES), csidl(CSIDL_PROGRAM_FILESX86), env(L"ProgramFiles"),
                                  env(L"ProgramFiles(x86)"), env(L"ProgramW6432"), csidl(CSIDL_COMMON_APPDATA),
                                  env(L"ProgramData"), env(L"ALLUSERSPROFILE")})
        add(p, Refusal::kSystem, Match::kExact);

    std::wstring profiles;
    DWORD size = 0;
    ::GetProfilesDirectoryW(nullptr, &size);
    if (size) {
        std::wstring buf(size, L'\0');
        if (::GetProfilesDirectoryW(&buf[0], &size)) {
            buf.resize(wcslen(buf.c_str()));
            CanonicalPath(buf, &profiles);
        }
    }
    add(profiles, Refusal::kSystem, Match::kExact);

    // Profiles: the current user's and the public one (also where they lie
    // outside the Users folder).
    for (const std::wstring& p : {csidl(CSIDL_PROFILE), env(L"USERPROFILE"), env(L"PUBLIC")})
        add(p, Refusal::kProfile, Match::kExact);

    // Known folders of the current user and the shared ones.
    const std::wstring roaming = csidl(CSIDL_APPDATA), local = csidl(CSIDL_LOCAL_APPDATA);
    std::wstring roamingFull, localFull;
    if (CanonicalPath(roaming, &roamingFull) && CanonicalPath(local, &localFull) &&
        SamePath(Parent(roamingFull), Parent(localFull)))
        add(Parent(roamingFull), Refusal::kUserFolder, Match::kExact);  // AppData
    for (int id : {CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_MYPICTURES, CSIDL_MYMUSIC, CSIDL_MYVIDEO,
                   CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_STARTMENU, CSIDL_PROGRAMS, CSIDL_STARTUP,
                   CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_PICTURES, CSIDL_COMMON_MUSIC,
                   CSIDL_COMMON_VIDEO, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTUP})
        add(csidl(id), Refusal::kUserFolder, Match::kExact);
    add(known(FOLDERID_Downloads), Refusal::kUserFolder, Match::kExact);
    add(known(FOLDERID_LocalAppDataLow), Refusal::kUserFolder, Match::kExact);
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n > 0 && n <= MAX_PATH) add(temp, Refusal::kUserFolder, Match::kExact);

    return ProtectedFolders(std::move(folders), profiles);
}

namespace {
std::unique_ptr<ProtectedFolders>& Replacement() {
    static std::unique_ptr<ProtectedFolders> replacement;
    return replacement;
}
}  // namespace

const ProtectedFolders& Protected() {
    if (const auto& replaced = Replacement()) return *replaced;
    static const ProtectedFolders system = ProtectedFolders::ReadFromSystem();
    return system;
}

void ReplaceProtectedForTesting(const ProtectedFolders& folders) {
    Replacement() = std::make_unique<ProtectedFolders>(folders);
}

}  // namespace qvrfolders
