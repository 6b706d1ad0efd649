// A tour of the sample product's installation, for the project's main job:
// runs ContosoTranslatorSetup.exe silently, prints what it installed (files,
// registry values, shortcuts, service, shell extension, statistics journal,
// log), then runs the product's uninstaller with feedback and prints what is
// left. The reports the statistics gateway received are printed by the
// gateway's driver (sample/tools/run_with_server.py) when this program ends.
//
// Exit code: 0 when the installation and the uninstallation did their work.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "tests/sample_e2e/contoso_testutil.h"

using namespace contoso_test;

namespace {

void Out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}
void Line(const std::wstring& text) { Out(testutil::WideToUtf8(text) + "\n"); }
using testutil::Quote;

std::wstring AnsiToWide(const std::string& s) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) ::MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &out[0], n);
    return out;
}

std::wstring FileTimeText(uint64_t ft) {
    FILETIME f = {static_cast<DWORD>(ft), static_cast<DWORD>(ft >> 32)};
    SYSTEMTIME t;
    if (!::FileTimeToSystemTime(&f, &t)) return L"?";
    wchar_t buf[64];
    swprintf(buf, 64, L"%04d-%02d-%02d %02d:%02d:%02d UTC", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return buf;
}

void ListFiles(const std::wstring& root, const std::wstring& rel) {
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((root + rel + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = rel.empty() ? name : rel.substr(1) + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ListFiles(root, rel + L"\\" + name);
            continue;
        }
        const uint64_t size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        const uint64_t ft = (static_cast<uint64_t>(fd.ftLastWriteTime.dwHighDateTime) << 32) |
                            fd.ftLastWriteTime.dwLowDateTime;
        wchar_t buf[512];
        swprintf(buf, 512, L"  %-36ls %9llu  %ls", path.c_str(), static_cast<unsigned long long>(size),
                 FileTimeText(ft).c_str());
        Line(buf);
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
}

void ListValues(HKEY root, REGSAM view, const std::wstring& key, const wchar_t* label) {
    HKEY k;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) {
        Line(std::wstring(L"  ") + label + L"\\" + key + L": (none)");
        return;
    }
    Line(std::wstring(L"  ") + label + L"\\" + key);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256, type = 0, size = 0;
        BYTE data[2048];
        size = sizeof data;
        if (::RegEnumValueW(k, i, name, &nameLen, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        std::wstring text;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            text = std::wstring(L"REG_SZ     ") + reinterpret_cast<wchar_t*>(data);
        } else if (type == REG_DWORD) {
            text = L"REG_DWORD  " + std::to_wstring(*reinterpret_cast<DWORD*>(data));
        } else if (type == REG_BINARY) {
            text = L"REG_BINARY";
            for (DWORD b = 0; b < size; ++b) {
                wchar_t hex[4];
                swprintf(hex, 4, L" %02X", data[b]);
                text += hex;
            }
        } else {
            text = L"type " + std::to_wstring(type);
        }
        Line(std::wstring(L"    ") + (nameLen ? name : L"(default)") + L" = " + text);
    }
    ::RegCloseKey(k);
}

void ShowShortcut(const std::wstring& lnk) {
    const Shortcut s = ReadShortcut(lnk);
    if (!s.loaded) {
        Line(L"  " + lnk + L": (none)");
        return;
    }
    Line(L"  " + lnk);
    Line(L"    -> " + s.target + (s.arguments.empty() ? L"" : L" " + s.arguments));
}

const wchar_t* StateName(DWORD state) {
    switch (state) {
    case SERVICE_RUNNING: return L"running";
    case SERVICE_STOPPED: return L"stopped";
    case SERVICE_START_PENDING: return L"starting";
    case SERVICE_STOP_PENDING: return L"stopping";
    default: return L"other";
    }
}

}  // namespace

int main() {
    const std::wstring dir = DefaultInstallDir();
    const std::wstring setup = testutil::ExeDir() + L"\\ContosoTranslatorSetup.exe";
    const std::wstring tmp = testutil::MakeTempDir(L"tour");
    const std::map<std::wstring, std::wstring> env = {{L"TMP", tmp}, {L"TEMP", tmp}};
    ResetProduct({dir});
    bool ok = true;

    Line(L"== Silent installation: ContosoTranslatorSetup.exe /InstallSlience true /InstallListenWnd <window>");
    testutil::RecordingWindow listener;
    const DWORD t0 = ::GetTickCount();
    const DWORD code = testutil::Run(Quote(setup) + L" /InstallSlience true /InstallListenWnd " +
                                         std::to_wstring(reinterpret_cast<ULONG_PTR>(listener.hwnd())),
                                     env, 300000);
    wchar_t buf[256];
    swprintf(buf, 256, L"exit code %lu after %.1f s; the listener window received message 3014 %d time(s)", code,
             (::GetTickCount() - t0) / 1000.0, listener.Count(3014));
    Line(buf);
    ok = ok && code == 0 && listener.Count(3014) == 1;
    // regsvr32 registers the shell extensions on its own.
    const std::wstring server = std::wstring(L"Software\\Classes\\CLSID\\") + kShellClsid + L"\\InprocServer32";
    testutil::WaitUntil([&] { return ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, server, L"").found; }, 60000);

    Line(L"\n-- Files in " + dir);
    ListFiles(dir, L"");

    Line(L"\n-- Registry values (HKLM in the 32-bit view, where the 32-bit installer writes)");
    ListValues(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey, L"HKLM");
    ListValues(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kUninstallKey, L"HKLM");
    ListValues(HKEY_CURRENT_USER, 0, kProductKey, L"HKCU");
    const RegValue run = ReadValue(HKEY_CURRENT_USER, 0, kRunKey, L"ContosoTranslator");
    Line(std::wstring(L"  HKCU\\") + kRunKey + L"\n    ContosoTranslator = " + (run.found ? run.Text() : L"(none)"));

    Line(L"\n-- Shortcuts");
    const std::wstring menu = SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + kProductName + L"\\";
    ShowShortcut(menu + kProductName + L".lnk");
    ShowShortcut(menu + L"卸载" + kProductName + L".lnk");
    ShowShortcut(SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + kProductName + L".lnk");

    Line(L"\n-- Service");
    const ServiceInfo svc = QueryService(kServiceName);
    Line(std::wstring(L"  ") + kServiceName + L": " +
         (svc.exists ? std::wstring(StateName(svc.state)) + L", " + svc.binaryPath : L"(none)"));
    ok = ok && svc.exists && svc.state == SERVICE_RUNNING;

    Line(L"\n-- Shell extension (registered through regsvr32)");
    Line(L"  64-bit view: " + ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, server, L"").Text());
    Line(L"  32-bit view: " + ReadValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, server, L"").Text());

    Line(L"\n-- Calls of the statistics DLL (qmstat_journal.log)");
    for (const auto& l : ReadLines(dir + L"\\qmstat_journal.log")) Out("  " + l + "\n");

    Line(L"\n-- Script lines of the log " + tmp + L"\\" + Today(L"Install_%d-%02d-%02d.log"));
    for (const auto& l : ReadLines(tmp + L"\\" + Today(L"Install_%d-%02d-%02d.log"))) {
        const size_t at = l.find("log:");
        if (at != std::string::npos) Line(L"  " + AnsiToWide(l.substr(at + 4)));
    }

    Line(L"\n== Uninstallation: ContosoUninst.exe /s /reason:2,5 \"/contact:im 12345\" \"/suggest:请加上\\\"离线\\\"词典\"");
    const DWORD t1 = ::GetTickCount();
    const DWORD ucode = testutil::Run(
        Quote(dir + L"\\ContosoUninst.exe") + L" /s /reason:2,5 \"/contact:im 12345\" \"/suggest:请加上\\\"离线\\\"词典\"",
        env, 60000);
    const bool finished = WaitNoProcess(L"ContosoUninst.exe", 180000);
    swprintf(buf, 256, L"exit code %lu; the uninstaller's copy in %%TEMP%% finished after %.1f s", ucode,
             (::GetTickCount() - t1) / 1000.0);
    Line(buf);
    ok = ok && ucode == 0 && finished;

    Line(L"\n-- What is left");
    auto left = [](const std::wstring& what, bool present) { Line(L"  " + what + (present ? L": still there" : L": gone")); };
    left(dir, testutil::FileExists(dir));
    left(std::wstring(L"HKLM\\") + kProductKey, KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey));
    left(std::wstring(L"HKLM\\") + kUninstallKey, KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kUninstallKey));
    left(std::wstring(L"HKCU\\") + kProductKey, KeyExists(HKEY_CURRENT_USER, 0, kProductKey));
    left(L"Run value ContosoTranslator", ReadValue(HKEY_CURRENT_USER, 0, kRunKey, L"ContosoTranslator").found);
    left(L"start-menu folder", testutil::FileExists(menu));
    left(L"desktop shortcut",
         testutil::FileExists(SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + kProductName + L".lnk"));
    testutil::WaitUntil([] { return !QueryService(kServiceName).exists; }, 30000);
    left(std::wstring(L"service ") + kServiceName, QueryService(kServiceName).exists);
    left(L"shell extension keys", KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, server) ||
                                      KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, server));
    ok = ok && !testutil::FileExists(dir) && !KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kProductKey);

    ResetProduct({dir});
    testutil::RemoveTree(tmp);
    Line(ok ? L"\nresult: installed and uninstalled" : L"\nresult: FAILED (see above)");
    return ok ? 0 : 1;
}
