// ContosoUninst.exe: the uninstaller of Contoso 翻译.
//
// It runs the uninstall procedure that the installer left in the install
// folder: "Uninst.dar0" (the product's settings) and then "Uninst.dar1" (the
// procedure), in one interpreter with the installer's script API, and calls
// the procedure's events: QVRSE_BeforeInit, QVRSE_OnUninstall,
// QVRSE_FeedBack (only when feedback was given) and QVRSE_AfterUnintall.
//
// Command line:
//   /s                  silent: no question, no message at the end
//   /reason:<ids>       uninstall reasons chosen by the user, e.g. 2,5
//   /contact:<text>     the user's contact, sent with the feedback
//   /suggest:<text>     the user's suggestion, sent with the feedback
//   /clear              also remove the user's data (%LOCALAPPDATA%\<product>)
//
// The program cannot remove the folder it runs from, so the copy started from
// the install folder copies itself to a new folder under %TEMP%, starts that
// copy with "/from:<install folder> /parent:<pid>" added, and ends. The copy
// waits for it, does the work, and leaves its own folder to be deleted at the
// next restart. Its log is %TEMP%\Uninstall_<date>.log.
//
// It never works on a protected folder (a drive root, the Windows folder,
// Program Files, a user's profile or known folders...): an installation there
// cannot be told from the user's own files, so neither the first stage nor
// the copy goes on when the install folder is one of them.
//
// Exit codes: 0 done, 1 the user declined, 2 no uninstall information or no
// install folder, 3 the copy could not be started, 4 no script engine,
// 5 the install folder is a protected folder.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "nqpublic/nqbase/nqhandle.h"
#include "sample/common/contoso.h"
#include "utility/base/qvrprotectedfolders.h"
#include "utility/qvrscriptengine/qvrscriptargs.h"
#include "utility/qvrscriptengine/qvrscriptengine.h"
#include "utility/qvrscriptengine/qvrscriptglobals.h"

namespace {

using scriptglobals::GetBool;
using scriptglobals::GetText;
using scriptglobals::SetText;

constexpr wchar_t kCaption[] = L"Contoso 翻译 标准版 卸载";
constexpr int kExitProtectedFolder = 5;

struct Options {
    bool silent = false;
    bool clearUserData = false;
    bool haveReason = false, haveContact = false, haveSuggest = false;
    std::wstring reason, contact, suggest;
    std::wstring from;  // set in the copy that does the work
    DWORD parent = 0;
};

bool StartsWith(const std::wstring& s, const wchar_t* prefix, std::wstring* rest) {
    const size_t n = wcslen(prefix);
    if (_wcsnicmp(s.c_str(), prefix, n) != 0) return false;
    if (rest) *rest = s.substr(n);
    return true;
}

Options ParseOptions() {
    Options o;
    int argc = 0;
    nq::unique_hlocal mem(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(::GetCommandLineW(), &argc)));
    auto** argv = static_cast<wchar_t**>(mem.get());
    for (int i = 1; argv && i < argc; ++i) {
        const std::wstring a = argv[i];
        std::wstring v;
        if (_wcsicmp(a.c_str(), L"/s") == 0 || _wcsicmp(a.c_str(), L"-s") == 0)
            o.silent = true;
        else if (_wcsicmp(a.c_str(), L"/clear") == 0)
            o.clearUserData = true;
        else if (StartsWith(a, L"/reason:", &v))
            o.reason = v, o.haveReason = true;
        else if (StartsWith(a, L"/contact:", &v))
            o.contact = v, o.haveContact = true;
        else if (StartsWith(a, L"/suggest:", &v))
            o.suggest = v, o.haveSuggest = true;
        else if (StartsWith(a, L"/from:", &v))
            o.from = v;
        else if (StartsWith(a, L"/parent:", &v))
            o.parent = static_cast<DWORD>(wcstoul(v.c_str(), nullptr, 10));
    }
    while (o.from.size() > 3 && (o.from.back() == L'\\' || o.from.back() == L'/')) o.from.pop_back();
    return o;
}

std::wstring SelfPath() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

void Say(const Options& o, const std::wstring& text, UINT icon) {
    if (!o.silent) ::MessageBoxW(nullptr, text.c_str(), kCaption, MB_OK | icon);
}

// True (after the message and the log line) when `folder` is a protected
// folder that the uninstaller must not work on.
bool RefuseProtected(const Options& o, const std::wstring& folder) {
    const qvrfolders::Refusal refusal = qvrfolders::Protected().Classify(folder);
    if (refusal == qvrfolders::Refusal::kNone) return false;
    LOG_INFO("protected folder, nothing removed: {} ({})", contoso::ToUtf8(folder),
             contoso::ToUtf8(qvrfolders::Describe(refusal)));
    Say(o, L"Contoso 翻译 标准版 位于系统或用户文件夹“" + folder + L"”中，为保护其中的文件，卸载未能进行。",
        MB_ICONERROR);
    return true;
}

// Loads one of the chunks the installer left in the install folder and runs it.
bool RunChunk(const std::wstring& folder, const wchar_t* name) {
    std::string bytes;
    if (!contoso::ReadSmallFile(folder + L"\\" + name, 16 << 20, bytes)) {
        LOG_INFO("cannot read {}", contoso::ToUtf8(name));
        return false;
    }
    return QVRScriptEngine::Instance().DoBuffer(bytes.data(), bytes.size(), contoso::ToUtf8(name).c_str());
}

// First stage, started from the install folder: copy to %TEMP% and hand over.
int HandOver(const Options& o) {
    const std::wstring self = SelfPath();
    const std::wstring folder = FolderOf(self);
    if (RefuseProtected(o, folder)) return kExitProtectedFolder;
    if (!::PathFileExistsW((folder + L"\\Uninst.dar0").c_str()) ||
        !::PathFileExistsW((folder + L"\\Uninst.dar1").c_str())) {
        Say(o, L"找不到卸载信息，无法卸载 Contoso 翻译 标准版。", MB_ICONERROR);
        return 2;
    }
    if (!o.silent) {
        // The product's settings decide whether the user is asked first.
        QVRScriptEngine& engine = QVRScriptEngine::Instance();
        if (!RunChunk(folder, L"Uninst.dar0")) {
            Say(o, L"卸载信息已损坏，无法卸载 Contoso 翻译 标准版。", MB_ICONERROR);
            return 2;
        }
        lua_State* L = engine.GetState();
        if (!GetBool(L, "global_uninstall_no_start_prompt")) {
            const std::wstring question = L"确定要完全移除 " + GetText(L, "global_product_name") + L" 及其所有组件吗？";
            if (::MessageBoxW(nullptr, question.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES) return 1;
        }
    }

    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring work;
    for (unsigned n = 0; n < 100 && work.empty(); ++n) {
        const std::wstring candidate = std::wstring(temp) + L"ContosoUninst_" + std::to_wstring(::GetCurrentProcessId()) +
                                       L"_" + std::to_wstring(n);
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) work = candidate;
    }
    if (work.empty()) {
        Say(o, L"无法创建临时文件夹，卸载未能进行。", MB_ICONERROR);
        return 3;
    }
    const std::wstring copy = work + L"\\ContosoUninst.exe";
    if (!::CopyFileW(self.c_str(), copy.c_str(), FALSE)) {
        ::RemoveDirectoryW(work.c_str());
        Say(o, L"无法复制卸载程序，卸载未能进行。", MB_ICONERROR);
        return 3;
    }
    std::wstring commandLine = L"\"" + copy + L"\" " + ::PathGetArgsW(::GetCommandLineW()) + L" \"/from:" + folder +
                               L"\" /parent:" + std::to_wstring(::GetCurrentProcessId());
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(copy.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, work.c_str(), &si,
                          &pi)) {
        ::DeleteFileW(copy.c_str());
        ::RemoveDirectoryW(work.c_str());
        Say(o, L"无法启动卸载程序，卸载未能进行。", MB_ICONERROR);
        return 3;
    }
    nq::unique_handle process(pi.hProcess), thread(pi.hThread);
    return 0;
}

// Second stage, running from the copy in %TEMP%.
int Uninstall(const Options& o) {
    if (o.parent) {
        nq::unique_handle parent(::OpenProcess(SYNCHRONIZE, FALSE, o.parent));
        if (parent) ::WaitForSingleObject(parent.get(), 30000);
    }
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring logBase = std::wstring(temp) + L"Uninstall.log";
    CNQBaseLog::Instance().InitLogger(WideToAnsi(logBase).c_str());
    LOG_INFO("uninstall from {}", contoso::ToUtf8(o.from));

    // Never work on a protected folder or on a folder without the uninstall chunks.
    if (!o.from.empty() && RefuseProtected(o, o.from)) return kExitProtectedFolder;
    if (o.from.empty() || !::PathFileExistsW((o.from + L"\\Uninst.dar1").c_str())) {
        LOG_INFO("no install folder to work on");
        Say(o, L"找不到 Contoso 翻译 标准版 的安装文件夹。", MB_ICONERROR);
        return 2;
    }
    QVRScriptEngine& engine = QVRScriptEngine::Instance();
    if (FAILED(engine.InitResult())) return 4;
    lua_State* L = engine.GetState();
    if (!RunChunk(o.from, L"Uninst.dar0")) {
        Say(o, L"卸载信息已损坏，无法卸载 Contoso 翻译 标准版。", MB_ICONERROR);
        return 2;
    }
    SetText(L, "global_install_path", o.from);
    if (!RunChunk(o.from, L"Uninst.dar1")) {
        Say(o, L"卸载信息已损坏，无法卸载 Contoso 翻译 标准版。", MB_ICONERROR);
        return 2;
    }
    SetText(L, "_Uninstall_Path", o.from + L"\\ContosoUninst.exe");
    lua_pushboolean(L, o.clearUserData);
    lua_setglobal(L, "ClearUserData");
    const bool feedback = o.haveReason || o.haveContact || o.haveSuggest;
    if (feedback) {
        SetText(L, "tbContact", o.contact);
        SetText(L, "tbSuggest", o.suggest);
        SetText(L, "ReasonID", o.reason);
    }

    QVRScriptEngine::CallEvent(L, "QVRSE_BeforeInit");
    const std::wstring installPath = GetText(L, "global_install_path");
    if (installPath.empty()) {
        LOG_INFO("the install folder is unknown; nothing removed");
        Say(o, L"找不到 Contoso 翻译 标准版 的安装文件夹。", MB_ICONERROR);
        return 2;
    }
    if (RefuseProtected(o, installPath)) return kExitProtectedFolder;
    QVRScriptEngine::CallEvent(L, "QVRSE_OnUninstall");
    if (feedback) QVRScriptEngine::CallEvent(L, "QVRSE_FeedBack");
    QVRScriptEngine::CallEvent(L, "QVRSE_AfterUnintall");
    LOG_INFO("uninstall finished");

    // The copies in the work folder go now or at the next restart; the
    // statistics journal stays until then for support.
    const std::wstring work = FolderOf(SelfPath());
    for (const wchar_t* name : {L"qmstat.dll", L"qmnet.dll"}) {
        const std::wstring path = work + L"\\" + name;
        if (::PathFileExistsW(path.c_str()) && !::DeleteFileW(path.c_str()))
            ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    const std::wstring journal = work + L"\\qmstat_journal.log";
    if (::PathFileExistsW(journal.c_str())) ::MoveFileExW(journal.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    ::MoveFileExW(SelfPath().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    ::MoveFileExW(work.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);

    if (GetBool(L, "global_uninstall_useui"))
        Say(o, GetText(L, "global_product_name") + L" 已从您的计算机中移除。", MB_ICONINFORMATION);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const Options o = ParseOptions();
    return o.from.empty() ? HandOver(o) : Uninstall(o);
}
