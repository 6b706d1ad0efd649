// Script functions for files and directories, and the engine's recursive
// delete behind Lua_DelFileRecursive and Lua_DelFileRecursiveEx.
//
// Paths are expanded (ExpandPath) unless stated otherwise. Copy, move and the
// two plain deletes go through SHFileOperationW with fixed flag words; none
// sets FOF_ALLOWUNDO, so deletions are permanent.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "../../nqpublic/nqbase/com/nqcomdemand.h"
#include "../../nqpublic/nqbase/log/nqbaselog.h"
#include "../../nqpublic/nqbase/nqhandle.h"
#include "../base/qvrprotectedfolders.h"
#include "qvrmsgbox.h"
#include "qvrrunresult.h"
#include "qvrscriptapi.h"
#include "qvrscriptargs.h"
#include "qvrscriptengine.h"

namespace {

const wchar_t kNotExists[] = L"Fun:%s, Description:%s it's not exists!\r\n";
const wchar_t kShellOpError[] = L"SHFileOperation error code : %#x\r\n";
// The question of Lua_DeleteFile, around the path.
const wchar_t kDeleteQuestionHead[] = L"无法删除\"";
const wchar_t kDeleteQuestionTail[] = L"\"，可能是被占用，请关闭占用程序后点击重试或者点击忽略在卸载完成之后手动删除！";
const wchar_t kDeleteCaption[] = L"提示";

// SHFileOperationW flag words.
constexpr FILEOP_FLAGS kCopyFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;                      // 0x214
constexpr FILEOP_FLAGS kMoveFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;      // 0x614
constexpr FILEOP_FLAGS kDeleteFlags = FOF_SILENT | FOF_NOCONFIRMATION;                                         // 0x14
constexpr FILEOP_FLAGS kQuietDeleteFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;  // 0x614
static_assert(kCopyFlags == 0x214 && kMoveFlags == 0x614 && kDeleteFlags == 0x14 && kQuietDeleteFlags == 0x614,
              "flag words");

bool Exists(const std::wstring& path) { return ::PathFileExistsW(path.c_str()) != FALSE; }

// One shell file operation on single names. The names are copied with a
// second terminating zero (the operation takes lists ended by an empty name).
// In an unattended run the shell's own error dialogs are off as well.
int ShellFileOperation(UINT func, const std::wstring& from, const std::wstring* to, FILEOP_FLAGS flags) {
    nq::need_com();
    if (qvrbox::Suppressed()) flags |= FOF_NOERRORUI;
    const std::wstring fromList = from + L'\0';
    const std::wstring toList = to ? *to + L'\0' : std::wstring();
    SHFILEOPSTRUCTW op = {};
    op.hwnd = nullptr;
    op.wFunc = func;
    op.pFrom = fromList.c_str();
    op.pTo = to ? toList.c_str() : nullptr;
    op.fFlags = flags;
    op.fAnyOperationsAborted = FALSE;
    op.hNameMappings = nullptr;
    op.lpszProgressTitle = nullptr;
    return ::SHFileOperationW(&op);
}

// The source check shared by copy, move and rename.
bool SourceExists(const wchar_t* function, const std::wstring& source) {
    if (Exists(source)) return true;
    DebugTrace(kNotExists, function, source.c_str());
    return false;
}

// The destination check shared by copy, move and rename: an empty destination
// (none given, or an expansion that did not fit) names no place. The shell
// operation would take it for the current directory.
bool DestinationGiven(const wchar_t* function, const std::wstring& destination) {
    if (!destination.empty()) return true;
    DebugTrace(kNotExists, function, destination.c_str());
    return false;
}

// Copy and move: source check, then the shell operation and its two outcomes.
int CopyOrMove(lua_State* L, const wchar_t* function, UINT func, FILEOP_FLAGS flags, const wchar_t* doneFormat,
               const wchar_t* failedFormat) {
    bool ok = false;
    {
        const std::wstring source = qvrargs::Path(L, 1);
        const std::wstring destination = qvrargs::Path(L, 2);
        if (SourceExists(function, source) && DestinationGiven(function, destination)) {
            const int result = ShellFileOperation(func, source, &destination, flags);
            ok = result == 0;
            if (ok) {
                DebugTrace(doneFormat, source.c_str(), destination.c_str());
            } else {
                DebugTrace(failedFormat, source.c_str(), destination.c_str());
                DebugTrace(kShellOpError, result);
            }
        }
    }
    lua_pushboolean(L, ok);
    return 1;
}

// Full path name of `path` (GetFullPathNameW), or the path itself when that
// fails or does not fit.
std::wstring FullPath(const wchar_t* path) {
    wchar_t full[MAX_PATH] = {};
    const DWORD n = ::GetFullPathNameW(path, MAX_PATH, full, nullptr);
    return n == 0 || n >= MAX_PATH ? std::wstring(path) : std::wstring(full);
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/') && path[path.size() - 2] != L':')
        path.pop_back();
    return path;
}

// A directory that is the process's current directory cannot be removed: move
// the current directory to the parent first. `path` is a full path name.
void LeaveDirectory(const std::wstring& path) {
    wchar_t current[MAX_PATH] = {};
    const DWORD n = ::GetCurrentDirectoryW(MAX_PATH, current);
    if (n == 0 || n >= MAX_PATH) return;
    const std::wstring a = WithoutTrailingSeparators(current);
    const std::wstring b = WithoutTrailingSeparators(path);
    if (::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) != CSTR_EQUAL) return;
    wchar_t parent[MAX_PATH] = {};
    if (b.size() >= MAX_PATH) return;
    b.copy(parent, b.size());
    if (::PathRemoveFileSpecW(parent)) ::SetCurrentDirectoryW(parent);
}

// The recursive delete shared by DeleteDirectories and DeleteDirectoriesEx.
// `path` is a full path name: a directory, a file, or a pattern with wildcards
// in its last part.
void DeleteTree(const wchar_t* name, const std::wstring& path, ScriptCallback* onFailure) {
    DebugTrace(L"%s %s", name, path.c_str());
    const bool isDirectory = ::PathIsDirectoryW(path.c_str()) != FALSE;
    wchar_t pattern[MAX_PATH] = {};
    if (isDirectory) {
        if (!::PathCombineW(pattern, path.c_str(), L"*.*")) pattern[0] = L'\0';
    } else if (path.size() < MAX_PATH) {
        path.copy(pattern, path.size());
    }

    if (pattern[0]) {
        // Entries are named by the directory part of the pattern's full path.
        wchar_t full[MAX_PATH] = {};
        wchar_t* namePart = nullptr;
        const DWORD n = ::GetFullPathNameW(pattern, MAX_PATH, full, &namePart);
        std::wstring directory;
        if (n > 0 && n < MAX_PATH) directory.assign(full, namePart ? namePart : full + n);
        if (!directory.empty() && directory.back() != L'\\' && directory.back() != L'/') directory += L'\\';

        WIN32_FIND_DATAW fd;
        nq::unique_hfind find(::FindFirstFileW(pattern, &fd));
        if (find && !directory.empty()) {
            do {
                const std::wstring entryName = fd.cFileName;
                const std::wstring entry = directory + entryName;
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    if (entryName == L"." || entryName == L"..") continue;
                    if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                        // A junction or directory link: remove the link, never
                        // what it points to (that may lie outside the tree).
                        ::RemoveDirectoryW(entry.c_str());
                        continue;
                    }
                    DeleteTree(name, entry, onFailure);
                } else {
                    if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                        ::SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
                    if (!::DeleteFileW(entry.c_str()) && onFailure && *onFailure) {
                        const DWORD err = ::GetLastError();
                        onFailure->Call({CallbackArg::Path(entry.c_str()), CallbackArg::Number(err)});
                    }
                }
            } while (::FindNextFileW(find.get(), &fd));
        }
    }

    if (isDirectory) {
        LeaveDirectory(path);
        ::RemoveDirectoryW(path.c_str());  // fails when something inside stayed
    }
}

// The deletes that remove or empty a whole folder refuse the protected
// folders (the Windows folder and everything below it, Program Files, the
// user's profile and known folders...; see qvrfolders): a script whose
// install folder was set to one of them must not empty it. `path` is a
// folder, a file or a pattern with wildcards in its last part (which would
// empty the pattern's folder). True, with a debug line, when refused.
bool RefuseProtected(const wchar_t* function, const std::wstring& path) {
    std::wstring folder;
    if (::PathIsDirectoryW(path.c_str())) {
        folder = path;
    } else if (std::wstring(::PathFindFileNameW(path.c_str())).find_first_of(L"*?") != std::wstring::npos) {
        folder = path.substr(0, ::PathFindFileNameW(path.c_str()) - path.c_str());
    } else {
        return false;  // a single file
    }
    const qvrfolders::Refusal refusal = qvrfolders::Protected().Classify(folder);
    if (refusal == qvrfolders::Refusal::kNone || refusal == qvrfolders::Refusal::kEmpty ||
        refusal == qvrfolders::Refusal::kRelative)
        return false;
    DebugTrace(L"%s refuses to delete the protected folder %s (%s)\r\n", function, path.c_str(),
               qvrfolders::Describe(refusal));
    return true;
}

// Both recursive deletes refuse a drive or share root (a script whose install
// folder was set to "D:\" must not empty the drive) and the other protected
// folders.
void DeleteDirectoriesImpl(const wchar_t* name, const wchar_t* path, ScriptCallback* onFailure) {
    const std::wstring full = FullPath(path);
    if (::PathIsRootW(full.c_str())) {
        DebugTrace(L"%s refuses to delete the root %s\r\n", name, full.c_str());
        return;
    }
    if (RefuseProtected(name, full)) return;
    DeleteTree(name, full, onFailure);
}

}  // namespace

void QVRScriptEngine::DeleteDirectories(const wchar_t* path) {
    DeleteDirectoriesImpl(L"QVRScriptEngine::DeleteDirectories", path, nullptr);
}

void QVRScriptEngine::DeleteDirectoriesEx(const wchar_t* path, ScriptCallback* onFailure) {
    DeleteDirectoriesImpl(L"QVRScriptEngine::DeleteDirectoriesEx", path, onFailure);
}

int Lua_CreateDirectory(lua_State* L) {
    bool ok = true;
    {
        const std::wstring path = qvrargs::Path(L, 1);
        if (!Exists(path)) {
            ::SHCreateDirectory(nullptr, path.c_str());
            ok = Exists(path);
            if (ok)
                DebugTrace(L"Create Directory %s!\r\n", path.c_str());
            else
                DebugTrace(kNotExists, L"Lua_CreateDirectory", path.c_str());
        }
    }
    lua_pushboolean(L, ok);
    return 1;
}

int Lua_CopyFile(lua_State* L) {
    return CopyOrMove(L, L"Lua_CopyFile", FO_COPY, kCopyFlags, L"Copy %s to %s !", L"Copy %s to %s failed!");
}

int Lua_MoveFile(lua_State* L) {
    return CopyOrMove(L, L"Lua_MoveFile", FO_MOVE, kMoveFlags, L"Move %s to %s !", L"Move %s to %s failed!");
}

int Lua_RenameFile(lua_State* L) {
    bool ok = false;
    {
        const std::wstring source = qvrargs::Path(L, 1);
        const std::wstring destination = qvrargs::Path(L, 2);
        if (SourceExists(L"Lua_RenameFile", source) && DestinationGiven(L"Lua_RenameFile", destination)) {
            ok = ::MoveFileExW(source.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
            DebugTrace(ok ? L"MoveFile %s to %s !" : L"MoveFile %s to %s failed!", source.c_str(),
                       destination.c_str());
        }
    }
    lua_pushboolean(L, ok);
    return 1;
}

// Deletes the path; when that fails, asks the user to close the program that
// holds it: Abort ends the process, Retry tries again, Ignore gives true. With
// boxes suppressed the question answers its default, Abort.
int Lua_DeleteFile(lua_State* L) {
    bool ok = true;
    {
        const std::wstring path = qvrargs::Path(L, 1);
        for (;;) {
            if (!Exists(path)) break;
            // The shell deletes a folder with everything in it.
            if (RefuseProtected(L"Lua_DeleteFile", FullPath(path.c_str()))) {
                ok = false;
                break;
            }
            const int code = ShellFileOperation(FO_DELETE, path, nullptr, kDeleteFlags);
            if (code == 0) break;

            const std::wstring text = kDeleteQuestionHead + path + kDeleteQuestionTail;
            const int answer = qvrbox::Show(text, kDeleteCaption, MB_ICONQUESTION | MB_ABORTRETRYIGNORE);
            if (answer == IDABORT) {
                // Answered by the user, the installation was cancelled; as the
                // default of an unattended run, the file could not be removed.
                qvrrun::Exit(qvrbox::Suppressed() ? qvrrun::Failure::kWrite : qvrrun::Failure::kAborted);
            }
            if (answer == IDRETRY) continue;
            ok = answer == IDIGNORE;
            DebugTrace(L"Delete %s failed!\r\n", path.c_str());
            DebugTrace(kShellOpError, code);
            break;
        }
    }
    lua_pushboolean(L, ok);
    return 1;
}

int Lua_DeleteFileEx(lua_State* L) {
    bool ok = true;
    {
        const std::wstring path = qvrargs::Path(L, 1);
        if (Exists(path))
            ok = !RefuseProtected(L"Lua_DeleteFileEx", FullPath(path.c_str())) &&
                 ShellFileOperation(FO_DELETE, path, nullptr, kQuietDeleteFlags) == 0;
    }
    lua_pushboolean(L, ok);
    return 1;
}

int Lua_DelFileRecursive(lua_State* L) {
    DebugTrace(L"Lua_DelFileRecursive");
    {
        const std::wstring path = qvrargs::Path(L, 1);
        if (!Exists(path)) {
            lua_pushboolean(L, 1);
            return 1;
        }
        if (::PathIsDirectoryW(path.c_str())) {
            DebugTrace(L"PathIsDirectoryW");
            QVRScriptEngine::DeleteDirectories(path.c_str());
        } else {
            DebugTrace(L"Path is file!");
            ::DeleteFileW(path.c_str());
        }
    }
    return 0;
}

int Lua_DelFileRecursiveEx(lua_State* L) {
    DebugTrace(L"Lua_DelFileRecursiveEx");
    const int top = lua_gettop(L);
    bool missing = false;
    {
        // The failure callback is the last argument when it is a function; the
        // reference is released when this block ends, on every path.
        ScriptCallback onFailure(L, top >= 1 ? top : 1);
        const std::wstring path = qvrargs::Path(L, 1);
        if (!Exists(path)) {
            missing = true;
        } else if (::PathIsDirectoryW(path.c_str())) {
            DebugTrace(L"PathIsDirectoryW");
            QVRScriptEngine::DeleteDirectoriesEx(path.c_str(), &onFailure);
        } else {
            DebugTrace(L"Path is file!");
            if (!::DeleteFileW(path.c_str()) && onFailure) {
                const DWORD err = ::GetLastError();
                onFailure.Call({CallbackArg::Path(path.c_str()), CallbackArg::Number(err)});
            }
        }
    }
    if (missing) {
        lua_pushboolean(L, 1);
        return 1;
    }
    return 0;
}

int Lua_DeleteFileAfterReboot(lua_State* L) {
    DebugTrace(L"Lua_DeleteFileAfterReboot");
    bool ok = true;
    {
        const std::wstring path = qvrargs::Path(L, 1);
        if (Exists(path)) ok = ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    }
    lua_pushboolean(L, ok);
    return 1;
}

int Lua_PathFileExists(lua_State* L) {
    bool exists = false;
    {
        const std::wstring path = qvrargs::Text(L, 1);  // not expanded
        exists = Exists(path);
    }
    lua_pushboolean(L, exists);
    return 1;
}

// A name that does not exist yet, made from the argument by the shell's
// numbering, "name (n).ext". The shell is handed the folder and the file name
// as its template, the form every shell implementation understands (without a
// template some take the folder for the file and lose the extension).
int Lua_PathYetAnotherMakeUniqueName(lua_State* L) {
    wchar_t unique[MAX_PATH + 1] = {};
    {
        const std::wstring path = qvrargs::Text(L, 1);  // not expanded
        if (!path.empty() && path.size() < MAX_PATH) {
            wchar_t folder[MAX_PATH] = {};
            path.copy(folder, path.size());
            const std::wstring name = ::PathFindFileNameW(path.c_str());
            ::PathRemoveFileSpecW(folder);
            if (!::PathYetAnotherMakeUniqueName(unique, folder, nullptr, name.c_str())) unique[0] = L'\0';
        }
    }
    qvrargs::PushText(L, unique);
    return 1;
}
