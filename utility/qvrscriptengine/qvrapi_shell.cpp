// Script functions for shortcuts, starting programs and message boxes.
#include <windows.h>
#include <objbase.h>
// intshcut.h needs the COM declarations of objbase.h first.
#include <intshcut.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "nqpublic/nqbase/com/nqcomdemand.h"
#include "nqpublic/nqbase/log/nqbaselog.h"
#include "nqpublic/nqbase/nqhandle.h"
#include "qvrmsgbox.h"
#include "qvrscriptapi.h"
#include "qvrscriptargs.h"
#include "utility/base/qvrprocesstoolhelp.h"

namespace {

// Class context of every object created here: in-process server and handler,
// local and remote server.
constexpr DWORD kClassContext = 0x17;

const CLSID kClsidShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidShellLinkW = {0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID kClsidInternetShortcut = {0xFBF23B40, 0xE3F0, 0x101B, {0x84, 0x88, 0x00, 0xAA, 0x00, 0x3E, 0x56, 0xF8}};
const IID kIidUniformResourceLocatorW = {0xCABB0DA0, 0xDA57, 0x11CF, {0x99, 0x74, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x62}};
const IID kIidPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The directory part of a path (PathRemoveFileSpecW).
std::wstring DirectoryOf(const std::wstring& path) {
    std::wstring dir = path;
    dir.push_back(L'\0');
    ::PathRemoveFileSpecW(&dir[0]);
    dir.resize(wcslen(dir.c_str()));
    return dir;
}

bool IsPinVerb(const std::wstring& verb, bool unpinOnly) {
    static const wchar_t* const kVerbs[] = {L"Startunpin", L"Taskbarunpin", L"Startpin", L"Taskbarpin"};
    const size_t count = unpinOnly ? 2 : 4;
    for (size_t i = 0; i < count; ++i)
        if (::lstrcmpiW(verb.c_str(), kVerbs[i]) == 0) return true;
    return false;
}

// True when the shell's context menu of `file` offers `verb`. The pin verbs
// come from context-menu handlers on the systems that have them; asking
// ShellExecute for a verb nobody offers may instead run the file's default
// action on some shells.
bool ShellOffersVerb(const std::wstring& file, const std::wstring& verb) {
    nq::need_com();
    nq::scoped_coinit com;
    PIDLIST_ABSOLUTE pidl = nullptr;
    if (FAILED(::SHParseDisplayName(file.c_str(), nullptr, &pidl, 0, nullptr))) return false;
    nq::unique_cotaskmem pidlGuard(pidl);
    nq::com_ptr<IShellFolder> parent;
    PCUITEMID_CHILD child = nullptr;
    if (FAILED(::SHBindToParent(pidl, IID_IShellFolder, parent.put_void(), &child))) return false;
    nq::com_ptr<IContextMenu> menu;
    if (FAILED(parent->GetUIObjectOf(nullptr, 1, &child, IID_IContextMenu, nullptr, menu.put_void()))) return false;
    nq::unique_hmenu popup(::CreatePopupMenu());
    constexpr UINT kFirst = 1, kLast = 0x7FFF;
    if (!popup || FAILED(menu->QueryContextMenu(popup.get(), 0, kFirst, kLast, CMF_NORMAL))) return false;
    for (int i = 0, n = ::GetMenuItemCount(popup.get()); i < n; ++i) {
        const UINT id = ::GetMenuItemID(popup.get(), i);
        if (id == static_cast<UINT>(-1) || id < kFirst || id > kLast) continue;
        wchar_t name[128] = {};
        if (SUCCEEDED(menu->GetCommandString(id - kFirst, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(name), 128)) &&
            ::lstrcmpiW(name, verb.c_str()) == 0)
            return true;
    }
    return false;
}

struct ShortcutRequest {
    std::wstring target;    // as given (an Internet shortcut keeps it unexpanded)
    std::wstring linkPath;  // expanded
    bool setArguments = false;
    std::wstring arguments;
    bool setDescription = false;
    std::wstring description;
};

// The object that will be saved: an Internet shortcut for a URL target, a
// shell link otherwise. Returns its persist interface, or empty on failure.
nq::com_ptr<IPersistFile> MakeInternetShortcut(const ShortcutRequest& r) {
    nq::com_ptr<IUniformResourceLocatorW> url;
    nq::com_ptr<IPersistFile> file;
    if (FAILED(::CoCreateInstance(kClsidInternetShortcut, nullptr, kClassContext, kIidUniformResourceLocatorW,
                                  url.put_void()))) {
        TRACE_FAILURE("CoCreateInstance(CLSID_InternetShortcut) failed!");
        return file;
    }
    if (FAILED(url->SetURL(r.target.c_str(), 0))) {
        DebugTrace(L"SetURL %s failed!\r\n", r.target.c_str());
        TRACE_FAILURE("");
        return file;
    }
    if (FAILED(url->QueryInterface(kIidPersistFile, file.put_void()))) TRACE_FAILURE("QueryInterface IID_IPersistFile failed!");
    return file;
}

nq::com_ptr<IPersistFile> MakeShellLink(const ShortcutRequest& r) {
    nq::com_ptr<IShellLinkW> link;
    nq::com_ptr<IPersistFile> file;
    const std::wstring target = ExpandPath(r.target);
    if (FAILED(::CoCreateInstance(kClsidShellLink, nullptr, kClassContext, kIidShellLinkW, link.put_void()))) {
        TRACE_FAILURE("CoCreateInstance(CLSID_ShellLink) failed!");
        return file;
    }
    if (r.setArguments && FAILED(link->SetArguments(r.arguments.c_str()))) {
        DebugTrace(L"SetArguments %s failed!\r\n", r.arguments.c_str());
        TRACE_FAILURE("");
        return file;
    }
    if (r.setDescription && FAILED(link->SetDescription(r.description.c_str()))) {
        DebugTrace(L"SetDescription %s failed!\r\n", r.description.c_str());
        TRACE_FAILURE("");
        return file;
    }
    if (FAILED(link->SetPath(target.c_str()))) {
        DebugTrace(L"SetPath %s failed!\r\n", target.c_str());
        TRACE_FAILURE("");
        return file;
    }
    const std::wstring directory = DirectoryOf(target);
    if (FAILED(link->SetWorkingDirectory(directory.c_str()))) {
        DebugTrace(L"SetWorkingDirectory %s failed!\r\n", directory.c_str());
        TRACE_FAILURE("");
        return file;
    }
    if (FAILED(link->QueryInterface(kIidPersistFile, file.put_void())))
        TRACE_FAILURE("QueryInterface IID_IPersistFile failed!");
    return file;
}

bool CreateShortcut(const ShortcutRequest& r) {
    nq::need_com();
    nq::scoped_coinit com;

    const std::wstring folder = DirectoryOf(r.linkPath);
    if (!folder.empty() && !::PathFileExistsW(folder.c_str())) CProcessToolHelp::EnsureDirectory(folder.c_str());

    // The link or URL object is released inside the maker; only the persist
    // interface lives on to save the file.
    nq::com_ptr<IPersistFile> file = ::PathIsURLW(r.target.c_str()) ? MakeInternetShortcut(r) : MakeShellLink(r);
    if (!file) return false;
    if (FAILED(file->Save(r.linkPath.c_str(), TRUE))) {
        DebugTrace(L"Save %s failed!\r\n", r.linkPath.c_str());
        TRACE_FAILURE("");
        return false;
    }
    DebugTrace(L"Save Shortcut %s \r\n", r.linkPath.c_str());
    return true;
}

struct ExecRequest {
    std::wstring file;
    std::wstring verb;
    std::wstring parameters;
    bool wait = false;
    bool throughShell = false;
};

// ShellExecuteExW; in an unattended run without the shell's own error box
// (SEE_MASK_FLAG_NO_UI), the failure written to the log instead.
bool ShellExecuteLogged(SHELLEXECUTEINFOW& sei) {
    nq::need_com();
    if (!qvrbox::Suppressed()) return ::ShellExecuteExW(&sei) != FALSE;
    sei.fMask |= SEE_MASK_FLAG_NO_UI;
    if (::ShellExecuteExW(&sei)) return true;
    const DWORD error = ::GetLastError();
    LOG_INFO("shell could not start {} (error {}), no box shown", WideToAnsi(sei.lpFile ? sei.lpFile : L""), error);
    return false;
}

// ShellExecuteW's result (a value above 32 is success). In an unattended run
// it goes through ShellExecuteExW, which can be asked to show no box.
INT_PTR ShellExecuteOpen(const wchar_t* verb, const std::wstring& file, const wchar_t* params, const wchar_t* dir) {
    nq::need_com();
    if (!qvrbox::Suppressed())
        return reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, verb, file.c_str(), params, dir, SW_SHOWNORMAL));
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof sei;
    sei.lpVerb = verb;
    sei.lpFile = file.c_str();
    sei.lpParameters = params;
    sei.lpDirectory = dir;
    sei.nShow = SW_SHOWNORMAL;
    ShellExecuteLogged(sei);
    return reinterpret_cast<INT_PTR>(sei.hInstApp);
}

bool Exec(ExecRequest r) {
    std::wstring directory;
    if (!::PathIsURLW(r.file.c_str())) {
        r.file = ExpandPath(r.file);
        if (!::PathFileExistsW(r.file.c_str())) {
            // Nothing to unpin is no failure.
            if (IsPinVerb(r.verb, true)) return true;
            DebugTrace(L"Fun:%s, Description:%s it's not exists!\r\n", L"Lua_Exec", r.file.c_str());
            return false;
        }
        directory = DirectoryOf(r.file);
    } else {
        r.parameters.clear();
    }

    // WinExec reports success with a value above 31; smaller values are errors.
    if (r.throughShell) return CProcessToolHelp::LaunchViaExplorer(r.file.c_str(), r.parameters.c_str()) > 31;

    const wchar_t* params = r.parameters.empty() ? nullptr : r.parameters.c_str();
    const wchar_t* dir = directory.empty() ? nullptr : directory.c_str();
    if (!r.wait) {
        // The pin verbs exist only on some systems: where the shell does not
        // offer them nothing is done, and asking is all the script can do.
        if (IsPinVerb(r.verb, false)) {
            if (ShellOffersVerb(r.file, r.verb)) ShellExecuteOpen(r.verb.c_str(), r.file, params, dir);
            return true;
        }
        return ShellExecuteOpen(r.verb.empty() ? nullptr : r.verb.c_str(), r.file, params, dir) > 32;
    }

    // Waiting: the default verb, hidden, until the program has ended.
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    sei.lpFile = r.file.c_str();
    sei.lpParameters = params;
    sei.lpDirectory = dir;
    sei.nShow = SW_HIDE;
    if (!ShellExecuteLogged(sei)) return false;
    nq::unique_handle process(sei.hProcess);
    if (process) ::WaitForSingleObject(process.get(), INFINITE);
    return true;
}

bool ShellExec(const std::wstring& file, const std::wstring& parameters) {
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    sei.lpVerb = L"open";
    sei.lpFile = file.c_str();
    sei.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    sei.nShow = SW_HIDE;
    const bool ok = ShellExecuteLogged(sei);
    // Not waited for; the handle is only closed.
    nq::unique_handle process(sei.hProcess);
    return ok;
}

}  // namespace

// Lua_CreateShortcut(target, shortcut file [, arguments, description]):
// arguments and description are looked at only when four arguments are given,
// each set when it is not nil.
int Lua_CreateShortcut(lua_State* L) {
    bool ok = false;
    {
        ShortcutRequest r;
        r.target = qvrargs::Text(L, 1);
        r.linkPath = qvrargs::Path(L, 2);
        if (lua_gettop(L) >= 4) {
            r.setArguments = !lua_isnil(L, 3);
            r.arguments = qvrargs::Text(L, 3);
            r.setDescription = !lua_isnil(L, 4);
            r.description = qvrargs::Text(L, 4);
        }
        ok = CreateShortcut(r);
    }
    lua_pushboolean(L, ok);
    return 1;
}

// Lua_Exec(file, verb, parameters, wait, through shell).
int Lua_Exec(lua_State* L) {
    bool ok = false;
    {
        ExecRequest r;
        r.file = qvrargs::Text(L, 1);
        r.verb = qvrargs::Text(L, 2);
        r.parameters = qvrargs::Text(L, 3);
        r.wait = qvrargs::Bool(L, 4);
        r.throughShell = qvrargs::Bool(L, 5);
        ok = Exec(std::move(r));
    }
    lua_pushboolean(L, ok);
    return 1;
}

// Lua_ExplorerExec(file, parameters): started by the shell process, as the
// logged-on user. True when the shell process was started.
int Lua_ExplorerExec(lua_State* L) {
    bool ok = false;
    {
        const std::wstring file = qvrargs::Text(L, 1);
        const std::wstring parameters = qvrargs::Text(L, 2);
        // WinExec reports success with a value above 31; smaller values are errors.
        ok = CProcessToolHelp::LaunchViaExplorer(file.c_str(), parameters.c_str()) > 31;
    }
    lua_pushboolean(L, ok);
    return 1;
}

// Lua_ShellExec(file, parameters): opened hidden, not waited for.
int Lua_ShellExec(lua_State* L) {
    bool ok = false;
    {
        const std::wstring file = qvrargs::Text(L, 1);
        const std::wstring parameters = qvrargs::Text(L, 2);
        ok = ShellExec(file, parameters);
    }
    lua_pushboolean(L, ok);
    return 1;
}

// Lua_MsgBox(text [, caption [, style]]): the identifier of the pressed
// button, 0 when no box could be shown; the default button at once when
// boxes are suppressed.
int Lua_MsgBox(lua_State* L) {
    int answer = 0;
    {
        const int argc = lua_gettop(L);
        std::wstring text, caption;
        UINT style = MB_OK;
        if (argc >= 1 && argc <= 3) {
            text = qvrargs::Text(L, 1);
            if (argc >= 2) caption = qvrargs::Text(L, 2);
            if (argc == 3) style = qvrargs::UInt(L, 3);
        }
        answer = qvrbox::Show(text, caption, style);
    }
    lua_pushinteger(L, answer);
    return 1;
}
