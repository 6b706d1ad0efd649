#include "tests/sample_e2e/contoso_testutil.h"

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <cwchar>
#include <sstream>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/testutil.h"

namespace contoso_test {

const wchar_t kProductName[] = L"Contoso 翻译 标准版";
const wchar_t kProductKey[] = L"SOFTWARE\\ContosoTranslator";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ContosoTranslator";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kServiceName[] = L"ContosoSearchService";
const wchar_t kShellClsid[] = L"{6B1F3C52-8D4A-4E7B-9C21-3A5D7E9F0B14}";
const wchar_t kInstallerTitle[] = L"Contoso 翻译 标准版 - 安装";

std::wstring Env(const wchar_t* name) {
    wchar_t buf[4096] = {};
    const DWORD n = ::GetEnvironmentVariableW(name, buf, 4096);
    return n && n < 4096 ? buf : L"";
}

std::wstring Today(const wchar_t* format) {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    wchar_t buf[32];
    swprintf(buf, 32, format, t.wYear, t.wMonth, t.wDay);
    return buf;
}

std::wstring DefaultInstallDir() {
    std::wstring base = Env(L"ProgramFiles(x86)");
    if (base.empty()) base = Env(L"ProgramFiles");
    return base + L"\\ContosoTranslator";
}

std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return L"";
    return path;
}

std::wstring RegValue::Text() const {
    if (data.size() < sizeof(wchar_t)) return L"";
    std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!s.empty() && s.back() == L'\0') s.pop_back();
    return s;
}

DWORD RegValue::Dword() const {
    DWORD v = 0;
    if (data.size() >= sizeof v) memcpy(&v, data.data(), sizeof v);
    return v;
}

RegValue ReadValue(HKEY root, REGSAM view, const std::wstring& key, const std::wstring& name) {
    RegValue out;
    nq::unique_hkey k;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, k.put()) != ERROR_SUCCESS) return out;
    DWORD size = 0, type = 0;
    if (::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return out;
    out.data.resize(size);
    if (::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, out.data.data(), &size) != ERROR_SUCCESS) return out;
    out.data.resize(size);
    out.type = type;
    out.found = true;
    return out;
}

bool KeyExists(HKEY root, REGSAM view, const std::wstring& key) {
    nq::unique_hkey k;
    return ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, k.put()) == ERROR_SUCCESS;
}

void DeleteKeyTree(HKEY root, REGSAM view, const std::wstring& key) {
    // Children first, then the key itself, in the requested view.
    nq::unique_hkey k;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, k.put()) != ERROR_SUCCESS) return;
    for (;;) {
        wchar_t name[256];
        DWORD n = 256;
        if (::RegEnumKeyExW(k.get(), 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteKeyTree(root, view, key + L"\\" + name);
        // A child that cannot be removed would loop forever.
        wchar_t again[256];
        DWORD m = 256;
        if (::RegEnumKeyExW(k.get(), 0, again, &m, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            wcscmp(again, name) == 0)
            break;
    }
    k.reset();
    ::RegDeleteKeyExW(root, key.c_str(), view, 0);
}

void DeleteValue(HKEY root, REGSAM view, const std::wstring& key, const std::wstring& name) {
    nq::unique_hkey k;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE | view, k.put()) == ERROR_SUCCESS)
        ::RegDeleteValueW(k.get(), name.c_str());
}

std::vector<std::wstring> PendingDeletes() {
    std::vector<std::wstring> out;
    RegValue v = ReadValue(HKEY_LOCAL_MACHINE, 0, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                           L"PendingFileRenameOperations");
    if (!v.found) return out;
    const wchar_t* p = reinterpret_cast<const wchar_t*>(v.data.data());
    const wchar_t* end = p + v.data.size() / sizeof(wchar_t);
    // Pairs of (source, target); an empty target means "delete".
    std::vector<std::wstring> strings;
    while (p < end) {
        std::wstring s(p, wcsnlen(p, end - p));
        p += s.size() + 1;
        strings.push_back(s);
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        std::wstring src = strings[i];
        if (src.rfind(L"\\??\\", 0) == 0) src = src.substr(4);
        if (!src.empty() && strings[i + 1].empty()) out.push_back(src);
    }
    return out;
}

bool PendingDeleteOf(const std::wstring& path) {
    for (const auto& p : PendingDeletes())
        if (_wcsicmp(p.c_str(), path.c_str()) == 0) return true;
    return false;
}

std::vector<ManifestEntry> ReadManifest(const std::wstring& file) {
    std::vector<ManifestEntry> out;
    for (const std::string& line : ReadLines(file)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string part; std::getline(ss, part, '|');) f.push_back(part);
        if (f.size() != 4) continue;
        ManifestEntry e;
        e.path = testutil::Utf8ToWide(f[0]);
        e.size = std::stoull(f[1]);
        e.filetime = std::stoull(f[2]);
        e.crc = static_cast<uint32_t>(std::stoul(f[3], nullptr, 16));
        out.push_back(e);
    }
    return out;
}

bool FileCrc32(const std::wstring& path, uint32_t& crc, uint64_t& size) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    std::string bytes;
    if (!testutil::ReadFileBytes(path, bytes)) return false;
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    crc = c ^ 0xFFFFFFFFu;
    size = bytes.size();
    return true;
}

uint64_t LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> out;
    std::istringstream in(testutil::ReadFileOr(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

bool Contains(const std::vector<std::string>& lines, const std::string& needle) {
    for (const auto& l : lines)
        if (l.find(needle) != std::string::npos) return true;
    return false;
}

std::vector<std::wstring> FilesMatching(const std::wstring& pattern) {
    std::vector<std::wstring> out;
    std::wstring dir = pattern.substr(0, pattern.find_last_of(L'\\'));
    WIN32_FIND_DATAW fd;
    nq::unique_hfind find(::FindFirstFileW(pattern.c_str(), &fd));
    if (!find) return out;
    do {
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L"..")) out.push_back(dir + L"\\" + fd.cFileName);
    } while (::FindNextFileW(find.get(), &fd));
    return out;
}

Shortcut ReadShortcut(const std::wstring& lnk) {
    Shortcut out;
    nq::scoped_coinit com;
    nq::com_ptr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return out;
    nq::com_ptr<IPersistFile> file;
    if (FAILED(link.query(file)) || FAILED(file->Load(lnk.c_str(), STGM_READ))) return out;
    wchar_t buf[1024] = {};
    if (SUCCEEDED(link->GetPath(buf, 1024, nullptr, SLGP_RAWPATH))) out.target = buf;
    buf[0] = 0;
    if (SUCCEEDED(link->GetArguments(buf, 1024))) out.arguments = buf;
    buf[0] = 0;
    if (SUCCEEDED(link->GetWorkingDirectory(buf, 1024))) out.workingDir = buf;
    out.loaded = true;
    return out;
}

ServiceInfo QueryService(const std::wstring& name) {
    ServiceInfo out;
    nq::unique_schandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) return out;
    nq::unique_schandle svc(::OpenServiceW(scm.get(), name.c_str(), SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!svc) return out;
    out.exists = true;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (::QueryServiceStatusEx(svc.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                               &needed)) {
        out.state = status.dwCurrentState;
        out.pid = status.dwProcessId;
    }
    std::vector<BYTE> buf(8192);
    if (::QueryServiceConfigW(svc.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data()),
                              static_cast<DWORD>(buf.size()), &needed)) {
        const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
        if (config->lpBinaryPathName) out.binaryPath = config->lpBinaryPathName;
    }
    return out;
}

void StopAndDeleteService(const std::wstring& name) {
    nq::unique_schandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) return;
    nq::unique_schandle svc(::OpenServiceW(scm.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!svc) return;
    SERVICE_STATUS status = {};
    if (::QueryServiceStatus(svc.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
        ::ControlService(svc.get(), SERVICE_CONTROL_STOP, &status);
        for (int i = 0; i < 100 && ::QueryServiceStatus(svc.get(), &status) &&
                        status.dwCurrentState != SERVICE_STOPPED;
             ++i)
            ::Sleep(100);
    }
    ::DeleteService(svc.get());
}

std::vector<DWORD> ProcessesNamed(const std::wstring& exeName) {
    std::vector<DWORD> out;
    nq::unique_hfile snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap) return out;
    PROCESSENTRY32W pe = {sizeof pe};
    for (BOOL ok = ::Process32FirstW(snap.get(), &pe); ok; ok = ::Process32NextW(snap.get(), &pe))
        if (pe.th32ProcessID && _wcsicmp(pe.szExeFile, exeName.c_str()) == 0) out.push_back(pe.th32ProcessID);
    return out;
}

void KillProcessesNamed(const std::wstring& exeName) {
    for (DWORD pid : ProcessesNamed(exeName)) {
        nq::unique_handle p(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (!p) continue;
        ::TerminateProcess(p.get(), 1);
        ::WaitForSingleObject(p.get(), 5000);
    }
}

bool WaitNoProcess(const std::wstring& exeName, DWORD timeoutMs) {
    return testutil::WaitUntil([&] { return ProcessesNamed(exeName).empty(); }, timeoutMs);
}

bool WaitForTopWindowOfClass(const std::wstring& cls, DWORD pid, DWORD timeoutMs, HWND* found) {
    return testutil::WaitUntil(
        [&] {
            for (HWND w = ::FindWindowW(cls.c_str(), nullptr); w; w = ::FindWindowExW(nullptr, w, cls.c_str(), nullptr)) {
                DWORD owner = 0;
                ::GetWindowThreadProcessId(w, &owner);
                if (pid == 0 || owner == pid) {
                    if (found) *found = w;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

namespace {
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}
}  // namespace

std::vector<Request> Requests() {
    std::vector<Request> out;
    const std::wstring file = Env(L"QVR_SAMPLE_REQUESTS");
    if (file.empty()) return out;
    for (const std::string& line : ReadLines(file)) {
        const size_t a = line.find('\t');
        const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
        if (b == std::string::npos) continue;
        Request r;
        r.path = line.substr(0, a);
        r.validJson = line.substr(a + 1, b - a - 1) == "valid";
        r.body = Unescape(line.substr(b + 1));
        out.push_back(r);
    }
    return out;
}

std::vector<Request> RequestsTo(const std::string& path) {
    std::vector<Request> out;
    for (const auto& r : Requests())
        if (r.path == path) out.push_back(r);
    return out;
}

std::wstring LaunchLogPath() { return SpecialFolder(CSIDL_LOCAL_APPDATA) + L"\\ContosoTranslator\\launches.log"; }

std::vector<std::string> LaunchRecords(const std::string& program) {
    std::vector<std::string> out;
    for (const auto& line : ReadLines(LaunchLogPath()))
        if (line.rfind(program + "\t", 0) == 0) out.push_back(line);
    return out;
}

bool CopyTo(const std::wstring& from, const std::wstring& to) { return ::CopyFileW(from.c_str(), to.c_str(), FALSE); }

void ResetProduct(const std::vector<std::wstring>& installDirs) {
    for (const wchar_t* exe : {L"ContosoUninst.exe", L"ContosoTranslator.exe", L"ContosoHelper.exe",
                               L"ContosoHelper64.exe", L"ContosoUpdater.exe"})
        KillProcessesNamed(exe);
    StopAndDeleteService(kServiceName);
    KillProcessesNamed(L"ContosoSearchSvc.exe");
    // A registration the installer started may still run; let it finish
    // (other programs' regsvr32 are not ours to end).
    WaitNoProcess(L"regsvr32.exe", 20000);
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, view, kProductKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, view, kUninstallKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, view, std::wstring(L"Software\\Classes\\CLSID\\") + kShellClsid);
        DeleteValue(HKEY_LOCAL_MACHINE, view,
                    L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved", kShellClsid);
    }
    DeleteKeyTree(HKEY_CURRENT_USER, 0, kProductKey);
    DeleteValue(HKEY_CURRENT_USER, 0, kRunKey, L"ContosoTranslator");
    testutil::RemoveTree(SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + kProductName);
    ::DeleteFileW((SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + kProductName + L".lnk").c_str());
    for (const auto& dir : installDirs) testutil::RemoveTree(dir);
    ::DeleteFileW(LaunchLogPath().c_str());
}

}  // namespace contoso_test
