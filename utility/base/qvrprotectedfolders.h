// Folders that an installation must never be made in and that no script may
// delete as a whole: drive roots, the Windows folder and everything below it,
// Program Files, ProgramData, the Users folder, user profiles and the known
// folders of a user (Desktop, Documents, Downloads, Pictures, Music, Videos,
// AppData and its Local, LocalLow and Roaming roots, the Start menu, the
// temporary folder).
//
// Paths are compared in a canonical form: environment variables expanded,
// forward slashes turned into backslashes, "." and ".." resolved, trailing
// separators dropped, short (8.3) names replaced by long ones, letter case
// ignored. A path is also compared after its links (junctions, symbolic
// links, drive mappings) are resolved as far as the folder exists, so a link
// to a protected folder is protected too. 32-bit file-system redirection
// (System32 / SysWOW64 / Sysnative) stays inside the Windows folder, which is
// protected as a whole.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qvrfolders {

// Why a folder is refused; kNone for an ordinary folder.
enum class Refusal {
    kNone = 0,
    kEmpty,       // no path at all
    kRelative,    // not a full path with a drive letter or a share
    kDriveRoot,   // the root of a drive or of a share
    kWindows,     // the Windows folder or a folder inside it
    kSystem,      // Program Files, Program Files (x86), ProgramData or Users itself
    kProfile,     // a user profile
    kUserFolder,  // a known folder of a user
};

// A short English explanation for logs and diagnostics.
const wchar_t* Describe(Refusal refusal);

// How a listed folder protects paths.
enum class Match {
    kExact,    // the folder itself
    kSubtree,  // the folder and everything below it
};

struct ProtectedFolder {
    std::wstring path;  // canonical (see CanonicalPath)
    Refusal kind;
    Match match;
};

class ProtectedFolders {
public:
    // `profilesRoot` is the folder that holds the user profiles ("C:\Users"):
    // every folder directly in it is a profile, and the known folders of any
    // profile (Desktop, Documents, AppData...) are protected by name as well.
    ProtectedFolders(std::vector<ProtectedFolder> folders, std::wstring profilesRoot);

    // This machine's folders, for the current user.
    static ProtectedFolders ReadFromSystem();

    // The protection of a path as a script or a user gives it. `canonical`,
    // when given, receives the canonical form (empty for kEmpty/kRelative).
    Refusal Classify(const std::wstring& path, std::wstring* canonical = nullptr) const;

    const std::vector<ProtectedFolder>& folders() const { return folders_; }
    const std::wstring& profilesRoot() const { return profilesRoot_; }

private:
    Refusal ClassifyCanonical(const std::wstring& full) const;

    std::vector<ProtectedFolder> folders_;
    std::wstring profilesRoot_;
};

// The folders the installer and the script engine consult: this machine's,
// read on first use, unless a test replaced them.
const ProtectedFolders& Protected();
// Replaces the process-wide set (test programs only; not thread-safe).
void ReplaceProtectedForTesting(const ProtectedFolders& folders);

// The canonical full path of `path` (see above, without link resolution);
// false for an empty path (kEmpty) or one that is not a full path
// (kRelative). Works for paths of any length.
bool CanonicalPath(const std::wstring& path, std::wstring* full, Refusal* why = nullptr);
// `full` (canonical) with the links of its existing part resolved; `full`
// itself when nothing can be resolved.
std::wstring ResolveLinks(const std::wstring& full);

// Environment variables of `path` expanded (any length); `path` itself when
// the expansion fails.
std::wstring ExpandEnvironment(const std::wstring& path);

// True when `path` is `folder` or lies below it (both canonical; letter case
// ignored).
bool IsSameOrBelow(const std::wstring& path, const std::wstring& folder);
bool SamePath(const std::wstring& a, const std::wstring& b);

}  // namespace qvrfolders
