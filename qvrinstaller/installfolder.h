// The check of an install folder, made before an installation changes
// anything (no program ended, no service touched, nothing written). The silent
// road calls it on the folder it hands to the script; the installer window
// calls it on the folder typed or picked by the user.
//
// A folder is refused when it is
// - empty, relative, a drive root, the Windows folder or below it, Program
//   Files, ProgramData, Users, a user profile or one of a user's known folders
//   (qvrfolders::Protected);
// - an existing folder that already holds something and is not an earlier
//   installation of this product: the product's uninstaller removes its folder
//   as a whole, so it must never be installed among other files;
// - too long for what the installation writes below it: every folder must
//   stay below 248 and every file below 260 UTF-16 units, the limits of
//   Windows file functions without the long-path setting (most programs,
//   the shell among them, cannot open longer paths).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../utility/qvrscriptengine/qvrlua.h"

namespace qvrapp {

// Longest full path of a folder (CreateDirectoryW leaves room for an 8.3 name)
// and of a file, in UTF-16 units without the terminating zero.
constexpr size_t kMaxFolderPath = 247;
constexpr size_t kMaxFilePath = 259;

// What the check knows about the product besides the folder.
struct InstallFolderFacts {
    // File name of the product's main program: a folder that holds it is an
    // earlier installation of the product. Empty when the configuration names
    // none; the product then cannot be recognised and a folder that holds
    // files is not refused for that reason.
    std::wstring mainProgram;
    // Folders the registry names for this product (earlier installations).
    std::vector<std::wstring> registeredFolders;
    // Longest relative names (UTF-16 units) of a file and of a folder that
    // the installation writes below the install folder.
    size_t longestFile = 0;
    size_t longestFolder = 0;

    // Takes one relative name ('/' or '\' separated) into the longest names;
    // its parent folders count as folders.
    void AddEntry(const wchar_t* name, size_t length, bool isFolder);
};

// The longest install folder (UTF-16 units) that leaves room for every folder
// and file of the installation.
size_t LongestFolderFor(const InstallFolderFacts& facts);

enum class FolderProblem {
    kNone = 0,
    kProtected,        // see qvrfolders::Refusal
    kNotAFolder,       // a file of that name exists
    kHoldsOtherFiles,  // not empty and not an earlier installation of the product
    kTooLong,          // a folder or a file of the installation would be too long
};

// Checks `path` as the install folder. On refusal returns the problem and,
// when `reason` is given, an English explanation that names the folder (for
// the log); kNone when the folder may be used.
FolderProblem CheckInstallFolder(const std::wstring& path, const InstallFolderFacts& facts, std::wstring* reason);

// Adds the entries of a 7z archive held in memory (optionally in the stored
// form, its first two bytes exchanged). False when the archive's headers
// cannot be read.
bool AddArchiveEntries(const void* data, uint32_t size, bool firstTwoExchanged, InstallFolderFacts* facts);

// The facts of this installer: the configuration's main program and registry
// keys (global_main_app_name, global_uninst_sub_key, global_reg_sub_key), the
// folders the registry names, the payload resource ("_7Z" / "APP.7Z") and the
// files the install script writes itself ("Uninst.dar0", "Uninst.dar1", the
// "log" folder). Reads script globals: call it under the install manager's lock.
InstallFolderFacts ReadInstallFolderFacts(lua_State* L);

// The silent road's check of InstallPath: on refusal writes the log line and
// the diagnostic, and returns false. Call it under the install manager's lock.
bool AcceptSilentInstallFolder(lua_State* L);

}  // namespace qvrapp
