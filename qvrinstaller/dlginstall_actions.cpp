// The installer window's actions: the install button (folder check, the
// user's choices into script globals, the first install event), the folder
// picker, the licence box and link, and starting the product from the
// completion page.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <cwchar>

#include "../nqpublic/nqbase/log/nqbaselog.h"
#include "../nqpublic/nqbase/nqhandle.h"
#include "../nqpublic/nqbase/stat/nqstatmodule.h"
#include "../utility/base/qvrprocesstoolhelp.h"
#include "../utility/qvrscriptengine/qvrscriptargs.h"
#include "../utility/qvrscriptengine/qvrscriptglobals.h"
#include "dlginstall.h"
#include "installfolder.h"
#include "installmgr.h"
#include "ui/control/uilayout.h"
#include "ui/controls/uibutton.h"
#include "ui/controls/uioption.h"
#include "ui/controls/uirichedit.h"

using namespace SkinUI;

namespace {

// The shell's file dialog object.
const CLSID kFileOpenDialog = {0xDC1C5A9C, 0xE88A, 0x4DDE, {0xA5, 0xA1, 0x60, 0xF8, 0x2A, 0x20, 0xAE, 0xF7}};

std::wstring ExpandEnv(const std::wstring& text) {
    wchar_t out[MAX_PATH] = {};
    const DWORD n = ::ExpandEnvironmentStringsW(text.c_str(), out, MAX_PATH);
    return (n == 0 || n > MAX_PATH) ? text : std::wstring(out);
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder the picker opens in: the typed folder, else its parent, else
// Program Files.
std::wstring StartFolder(const std::wstring& typed) {
    std::wstring folder = typed;
    if (FolderExists(folder)) return folder;
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash != std::wstring::npos) folder.erase(slash);
    if (FolderExists(folder)) return folder;
    wchar_t programFiles[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles);
    return programFiles;
}

// The folder dialog, opened in `start`; empty when cancelled or unreadable.
std::wstring PickFolder(HWND owner, const std::wstring& start) {
    nq::com_ptr<IFileDialog> dialog;
    if (FAILED(::CoCreateInstance(kFileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IFileDialog),
                                  dialog.put_void())))
        return {};
    {
        PIDLIST_ABSOLUTE raw = nullptr;
        if (SUCCEEDED(::SHParseDisplayName(start.c_str(), nullptr, &raw, 0, nullptr)) && raw) {
            nq::unique_cotaskmem pidl(raw);
            nq::com_ptr<IShellItem> item;
            if (SUCCEEDED(::SHCreateItemFromIDList(static_cast<PCIDLIST_ABSOLUTE>(pidl.get()), __uuidof(IShellItem),
                                                   item.put_void()))) {
                dialog->SetDefaultFolder(item.get());
                dialog->SetFolder(item.get());
            }
        }
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS);
    if (FAILED(dialog->Show(owner))) return {};
    nq::com_ptr<IShellItem> result;
    if (FAILED(dialog->GetResult(result.put()))) return {};
    PWSTR raw = nullptr;
    if (FAILED(result->GetDisplayName(SIGDN_FILESYSPATH, &raw)) || !raw) return {};
    const nq::unique_cotaskmem name(raw);
    return std::wstring(raw);
}

void WarnBox(HWND owner, const wchar_t* text) { ::MessageBoxW(owner, text, L"错误", MB_ICONWARNING); }

}  // namespace

std::wstring CDlgInstall::PickedFolderText(const std::wstring& picked, const std::wstring& base) {
    DebugTrace(L"CheckDir %s, %s", picked.c_str(), base.c_str());
    const size_t slash = picked.find_last_of(L"\\/");
    const std::wstring last = slash == std::wstring::npos ? picked : picked.substr(slash + 1);
    if (last == base) return picked;
    std::wstring text = picked;
    if (text.empty() || (text.back() != L'\\' && text.back() != L'/')) text += L'\\';
    return text + base;
}

bool CDlgInstall::CheckAndCreateFolder(const std::wstring& path) {
    if (::PathGetDriveNumberW(path.c_str()) == -1) return false;
    const int error = ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    return error == ERROR_SUCCESS || error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// ---------------------------------------------------------------------------
// First page

void CDlgInstall::OnLicenceChanged(NotifyMessage&) {
    if (checkLicence_ && btnInstall_) btnInstall_->SetEnabled(checkLicence_->IsSelected());
}

void CDlgInstall::OnLicenceLink(NotifyMessage&) {
    std::wstring url;
    CInstallMgr::Instance().WithScript([&](lua_State* L) { url = scriptglobals::GetText(L, "global_licence_url"); });
    ::ShellExecuteW(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CDlgInstall::OnSelectPath(NotifyMessage&) {
    if (!editInstallPath_) return;
    std::wstring typed = editInstallPath_->GetText();
    if (typed.empty()) typed = L"$global_install_path$";
    const std::wstring start = StartFolder(typed);
    DebugTrace(L"%s", start.c_str());
    const std::wstring picked = PickFolder(GetHWND(), start);
    if (picked.empty()) return;
    std::wstring base;
    CInstallMgr::Instance().WithScript([&](lua_State* L) { base = scriptglobals::GetText(L, "global_install_basepath"); });
    const std::wstring text = PickedFolderText(picked, base);
    LOG_INFO("folder picked: {}, install folder: {}", WideToScript(picked), WideToScript(text));
    editInstallPath_->SetText(text);
}

void CDlgInstall::WriteChoices(const std::wstring& folder) {
    CInstallMgr::Instance().WithScript([&](lua_State* L) {
        scriptglobals::SetText(L, WideToScript(editInstallPath_->GetUserData()).c_str(), folder);
        if (!initView_) return;
        // The manager's result list is reused by the next search: copy it.
        const std::vector<CControlUI*> options = paintManager_.FindSubControlsByClass(initView_, L"OptionUI");
        for (CControlUI* control : options) {
            auto* option = static_cast<COptionUI*>(control->GetInterface(L"Option"));
            if (option) scriptglobals::SetBool(L, WideToScript(option->GetUserData()).c_str(), option->IsSelected());
        }
    });
}

void CDlgInstall::OnInstallClick(NotifyMessage&) {
    if (!editInstallPath_ || installing_) return;
    std::wstring path = editInstallPath_->GetText();

    // The install folder check (protected folders, folders holding other
    // files, folders too long for the payload) comes before the folder is
    // created: a refused folder is left exactly as it was.
    bool refused = false;
    CInstallMgr::Instance().WithScript([&](lua_State* L) {
        std::wstring reason;
        refused = qvrapp::CheckInstallFolder(path, qvrapp::ReadInstallFolderFacts(L), &reason) !=
                  qvrapp::FolderProblem::kNone;
        if (refused) {
            LOG_INFO("{}", WideToScript(reason));
            DebugTrace(L"%s\r\n", reason.c_str());
        }
    });
    if (refused || !CheckAndCreateFolder(path)) {
        WarnBox(GetHWND(), L"安装路径非法，请重新修改！");
        return;
    }
    wchar_t buffer[MAX_PATH] = {};
    lstrcpynW(buffer, path.c_str(), MAX_PATH);
    ::PathRemoveBackslashW(buffer);
    path = buffer;
    LOG_INFO("install folder chosen in the window: {}", WideToScript(path));

    WriteChoices(path);

    std::wstring backup;
    std::wstring needText;
    CInstallMgr::Instance().WithScript([&](lua_State* L) {
        backup = scriptglobals::GetText(L, "BackUpPath");
        needText = scriptglobals::GetText(L, "global_need_disk_space");
    });
    if (!backup.empty()) {
        DebugTrace(L"backpath = %s", backup.c_str());
        if (!CheckAndCreateFolder(backup)) {
            WarnBox(GetHWND(), L"备份路径非法，请重新修改！");
            return;
        }
    }

    // Free space against the configuration's need: the installation goes on
    // either way (the need is an estimate); the log says when it may not fit.
    ULARGE_INTEGER freeBytes = {};
    const std::wstring drive = path.substr(0, 2) + L"\\";
    const unsigned long long need = std::wcstoull(needText.c_str(), nullptr, 10);
    if (::GetDiskFreeSpaceExW(drive.c_str(), &freeBytes, nullptr, nullptr) && freeBytes.QuadPart < need)
        LOG_INFO("free space on {} is {} bytes, the product needs about {}", WideToScript(drive),
                 freeBytes.QuadPart, need);

    CInstallMgr::Instance().BeforeInstall();
    StartInstall();

    auto stat = NQStatModule::Instance();
    stat->PostAction(checkDesktopLaunch_ && checkDesktopLaunch_->IsSelected() ? NQStatModule::kActionDesktopLaunchOn
                                                                              : NQStatModule::kActionDesktopLaunchOff);
    stat->PostAction(checkAutoStartup_ && checkAutoStartup_->IsSelected() ? NQStatModule::kActionAutoStartOn
                                                                          : NQStatModule::kActionAutoStartOff);
}

// ---------------------------------------------------------------------------
// Completion page

void CDlgInstall::OnStartClick(NotifyMessage&) { StartMainApp(); }
void CDlgInstall::OnPicClick(NotifyMessage&) { LaunchWithTab(L"#/translate?tab=image"); }
void CDlgInstall::OnTxtClick(NotifyMessage&) { LaunchWithTab(L"#/translate?tab=online"); }
void CDlgInstall::OnDocClick(NotifyMessage&) { LaunchWithTab(L"#/translate?tab=doc"); }

void CDlgInstall::StartMainApp() {
    std::wstring folder, program, parameters;
    bool explorerLevel = false;
    CInstallMgr::Instance().WithScript([&](lua_State* L) {
        folder = scriptglobals::GetText(L, "global_install_path");
        program = scriptglobals::GetText(L, "global_main_app_name");
        parameters = scriptglobals::GetText(L, "global_start_parameter");
        explorerLevel = scriptglobals::GetBool(L, "global_startuseexplorer_level");
    });
    const std::wstring path = ExpandEnv(folder) + L"\\" + program;
    if (explorerLevel) {
        DebugTrace(L"ProcessLauncherExplorerLevel~!\r\n");
        CProcessToolHelp::LaunchViaExplorer(path.c_str(), parameters.c_str());
    } else {
        ::ShellExecuteW(nullptr, nullptr, path.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
    }
    CInstallMgr::Instance().AfterComplete();
    Post(WM_CLOSE, 1);
}

void CDlgInstall::LaunchWithTab(const wchar_t* argument) {
    std::wstring folder, program;
    CInstallMgr::Instance().WithScript([&](lua_State* L) {
        folder = scriptglobals::GetText(L, "global_install_path");
        program = scriptglobals::GetText(L, "global_main_app_name");
    });
    folder = ExpandEnv(folder);
    const std::wstring path = folder + L"\\" + program;
    const std::wstring commandLine = L"\"" + path + L"\" " + argument;
    const int result = CProcessToolHelp::LaunchWithShellToken(path.c_str(), commandLine.c_str(), folder.c_str());
    if (result != CProcessToolHelp::kLaunchOk) {
        // No shell to borrow the user's token from (no shell window, the
        // shell not running, a system without the token launch): the card
        // still starts the product, with the installer's own rights.
        LOG_INFO("starting {} with the shell's token failed ({}); starting it directly", WideToScript(path), result);
        std::wstring line = commandLine;  // CreateProcessW may write into it
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (::CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
            const nq::unique_handle thread(pi.hThread);
            const nq::unique_handle process(pi.hProcess);
        } else {
            TRACE_FAILURE("CreateProcessW failed.");
        }
    }
    Post(WM_CLOSE, 0);
}
