#include "signing.h"

#include <windows.h>

#include <cstdlib>

#include "fileio.h"
#include "nqpublic/nqbase/nqhandle.h"
#include "packerror.h"

namespace qvrpack {

namespace {

std::wstring Quoted(const std::wstring& s) {
    std::wstring out = L"\"";
    for (wchar_t c : s) {
        if (c == L'"') out += L'\\';
        out += c;
    }
    return out + L"\"";
}

bool EndsWithNoCase(const std::wstring& s, const wchar_t* tail) {
    const size_t n = wcslen(tail);
    return s.size() >= n && ::lstrcmpiW(s.c_str() + s.size() - n, tail) == 0;
}

DWORD RunAndWait(const std::wstring& application, std::wstring commandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr, nullptr,
                          TRUE, 0, nullptr, nullptr, &si, &pi))
        throw PackError(kExitSign, "cannot start " + WideToUtf8(commandLine.substr(0, commandLine.find(L' '))) +
                                       " (error " + std::to_string(::GetLastError()) + ")");
    nq::unique_handle process(pi.hProcess), thread(pi.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

// Under Wine the Linux signing tool is at hand; Windows paths become Unix ones.
using UnixNameFn = char*(CDECL*)(const WCHAR*);
UnixNameFn WineUnixName() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (!ntdll || !::GetProcAddress(ntdll, "wine_get_version")) return nullptr;
    return reinterpret_cast<UnixNameFn>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
}

std::wstring UnixPath(UnixNameFn fn, const std::wstring& path) {
    char* name = fn(FullPath(path).c_str());
    if (!name) throw PackError(kExitSign, "cannot map " + WideToUtf8(path) + " to a Linux path");
    std::wstring out = Utf8ToWide(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return out;
}

// Under Wine a Linux program is started without a process handle to wait on,
// so the shell that runs osslsigncode leaves its exit code in a file, which
// this side waits for.
std::wstring ShellQuoted(const std::wstring& s) {
    std::wstring out = L"'";
    for (wchar_t c : s) {
        if (c == L'"') throw PackError(kExitSign, "a signing argument holds a double quote: " + WideToUtf8(s));
        if (c == L'\'') out += L"'\\''";
        else out += c;
    }
    return out + L"'";
}

DWORD RunUnderWineShell(UnixNameFn unix, const std::wstring& command, const std::wstring& workFile) {
    const std::wstring status = workFile + L".status", log = workFile + L".log";
    ::DeleteFileW(status.c_str());
    const std::wstring statusUnix = UnixPath(unix, status), logUnix = UnixPath(unix, log);
    const std::wstring script = L"exec >" + ShellQuoted(logUnix) + L" 2>&1; " + command + L"; echo $? >" +
                                ShellQuoted(statusUnix + L".tmp") + L" && mv " + ShellQuoted(statusUnix + L".tmp") +
                                L" " + ShellQuoted(statusUnix);
    std::wstring cmd = L"/bin/sh -c \"" + script + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(L"Z:\\bin\\sh", cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        throw PackError(kExitSign, "cannot start osslsigncode through /bin/sh (error " + std::to_string(::GetLastError()) + ")");
    nq::unique_handle process(pi.hProcess), thread(pi.hThread);
    DWORD code = ~0u;
    for (int waited = 0; waited < 3000; waited++) {  // 5 minutes
        if (PathExists(status)) {
            std::string text;
            for (uint8_t b : ReadWholeFile(status, "signing status")) text += static_cast<char>(b);
            code = static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
            break;
        }
        ::Sleep(100);
    }
    if (code != 0 && PathExists(log)) {
        const Bytes text = ReadWholeFile(log, "signing log");
        std::string s(text.begin(), text.end());
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
    }
    ::DeleteFileW(status.c_str());
    ::DeleteFileW(log.c_str());
    if (code == ~0u) throw PackError(kExitSign, "osslsigncode did not finish within 5 minutes");
    return code;
}

}  // namespace

void SignFile(const std::wstring& in, const std::wstring& out, const SignOptions& o) {
    if (!PathExists(o.certificate))
        throw PackError(kExitSign, "certificate " + WideToUtf8(o.certificate) + " does not exist");
    if (!o.key.empty() && !PathExists(o.key))
        throw PackError(kExitSign, "key " + WideToUtf8(o.key) + " does not exist");
    const bool pkcs12 = EndsWithNoCase(o.certificate, L".pfx") || EndsWithNoCase(o.certificate, L".p12");
    DWORD code = 0;
    std::wstring tool;
    if (UnixNameFn unix = WineUnixName()) {
        tool = L"osslsigncode";
        std::wstring cmd = L"osslsigncode sign -h sha256";
        if (pkcs12) {
            cmd += L" -pkcs12 " + ShellQuoted(UnixPath(unix, o.certificate));
        } else {
            cmd += L" -certs " + ShellQuoted(UnixPath(unix, o.certificate));
            cmd += L" -key " + ShellQuoted(UnixPath(unix, o.key.empty() ? o.certificate : o.key));
        }
        if (!o.password.empty()) cmd += L" -pass " + ShellQuoted(o.password);
        if (o.signingTime >= 0) cmd += L" -time " + std::to_wstring(o.signingTime);
        cmd += L" -in " + ShellQuoted(UnixPath(unix, in)) + L" -out " + ShellQuoted(UnixPath(unix, out));
        code = RunUnderWineShell(unix, cmd, out);
    } else {
        // signtool signs in place: a copy is signed.
        tool = L"signtool";
        if (!pkcs12) throw PackError(kExitSign, "signtool signs with a .pfx certificate file");
        if (!::CopyFileW(in.c_str(), out.c_str(), FALSE))
            throw PackError(kExitSign, "cannot copy the installer for signing");
        std::wstring cmd = L"signtool.exe sign /fd SHA256 /f " + Quoted(o.certificate);
        if (!o.password.empty()) cmd += L" /p " + Quoted(o.password);
        cmd += L" " + Quoted(out);
        code = RunAndWait(L"", cmd);
    }
    if (code != 0) {
        ::DeleteFileW(out.c_str());
        throw PackError(kExitSign, WideToUtf8(tool) + " could not sign the installer (exit code " + std::to_string(code) + ")");
    }
}

}  // namespace qvrpack
