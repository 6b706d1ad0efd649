// Helpers for the tests of the sample product Contoso 翻译: what the product's
// installation left on the machine (files, registry in either view,
// shortcuts, services, processes, pending renames), the requests the test
// server received, and a reset of the machine to "not installed".
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace contoso_test {

// Names of the product.
extern const wchar_t kProductName[];   // "Contoso 翻译 标准版"
extern const wchar_t kProductKey[];    // SOFTWARE\ContosoTranslator
extern const wchar_t kUninstallKey[];  // SOFTWARE\...\Uninstall\ContosoTranslator
extern const wchar_t kRunKey[];        // Software\Microsoft\Windows\CurrentVersion\Run
extern const wchar_t kServiceName[];   // ContosoSearchService
extern const wchar_t kShellClsid[];    // the shell extension's class id
extern const wchar_t kInstallerTitle[];  // caption of the installer's message boxes

// "C:\Program Files (x86)\ContosoTranslator" (the default install folder).
std::wstring DefaultInstallDir();
std::wstring SpecialFolder(int csidl);
std::wstring Env(const wchar_t* name);
// Today's local date put into `format` (year, month, day), e.g. L"Install_%d-%02d-%02d.log".
std::wstring Today(const wchar_t* format);

// ---- Registry. `view` is KEY_WOW64_32KEY, KEY_WOW64_64KEY or 0.
struct RegValue {
    bool found = false;
    DWORD type = 0;
    std::vector<BYTE> data;
    std::wstring Text() const;  // REG_SZ / REG_EXPAND_SZ without the terminator
    DWORD Dword() const;
};
RegValue ReadValue(HKEY root, REGSAM view, const std::wstring& key, const std::wstring& name);
bool KeyExists(HKEY root, REGSAM view, const std::wstring& key);
void DeleteKeyTree(HKEY root, REGSAM view, const std::wstring& key);
void DeleteValue(HKEY root, REGSAM view, const std::wstring& key, const std::wstring& name);
// Sources of HKLM\...\Session Manager\PendingFileRenameOperations (without "\??\").
std::vector<std::wstring> PendingDeletes();
bool PendingDeleteOf(const std::wstring& path);

// ---- Files.
struct ManifestEntry {
    std::wstring path;  // relative, with backslashes
    uint64_t size = 0;
    uint64_t filetime = 0;
    uint32_t crc = 0;
};
std::vector<ManifestEntry> ReadManifest(const std::wstring& file);
bool FileCrc32(const std::wstring& path, uint32_t& crc, uint64_t& size);
uint64_t LastWriteTime(const std::wstring& path);
std::vector<std::string> ReadLines(const std::wstring& path);
bool Contains(const std::vector<std::string>& lines, const std::string& needle);
std::vector<std::wstring> FilesMatching(const std::wstring& pattern);  // full paths

// ---- Shortcuts.
struct Shortcut {
    bool loaded = false;
    std::wstring target, arguments, workingDir;
};
Shortcut ReadShortcut(const std::wstring& lnk);

// ---- Services and processes.
struct ServiceInfo {
    bool exists = false;
    DWORD state = 0;
    DWORD pid = 0;
    std::wstring binaryPath;
};
ServiceInfo QueryService(const std::wstring& name);
void StopAndDeleteService(const std::wstring& name);
std::vector<DWORD> ProcessesNamed(const std::wstring& exeName);
void KillProcessesNamed(const std::wstring& exeName);
bool WaitNoProcess(const std::wstring& exeName, DWORD timeoutMs);
bool WaitForTopWindowOfClass(const std::wstring& cls, DWORD pid, DWORD timeoutMs, HWND* found);

// ---- Requests received by the test server.
struct Request {
    std::string path;
    bool validJson = false;
    std::string body;
};
std::vector<Request> Requests();
std::vector<Request> RequestsTo(const std::string& path);

// ---- The product's launch records (%LOCALAPPDATA%\ContosoTranslator\launches.log).
std::wstring LaunchLogPath();
std::vector<std::string> LaunchRecords(const std::string& program);

// Puts the machine back to "product not installed": ends the product's
// programs, removes its service, registry keys, shell-extension keys,
// shortcuts and the given install folders, and empties the launch log.
void ResetProduct(const std::vector<std::wstring>& installDirs);

// Copies `from` to `to` (overwriting).
bool CopyTo(const std::wstring& from, const std::wstring& to);

}  // namespace contoso_test
