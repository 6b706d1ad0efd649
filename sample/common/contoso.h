// Small pieces shared by the programs of Contoso 翻译: the product's names,
// UTF-8 conversion and the launch record that every program of the product
// appends to when it starts.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "nqpublic/nqbase/nqhandle.h"

namespace contoso {

constexpr wchar_t kProductName[] = L"Contoso 翻译 标准版";
constexpr wchar_t kInnerName[] = L"ContosoTranslator";
constexpr wchar_t kMainWindowClass[] = L"ContosoTranslatorMainWnd";
constexpr wchar_t kProductKey[] = L"SOFTWARE\\ContosoTranslator";

inline std::string ToUtf8(const std::wstring& s) {
    if (s.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

inline std::wstring FromUtf8(const std::string& s) {
    if (s.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

// Reads a whole file of 1 to `maxBytes` bytes; false when it is missing, empty,
// larger or cannot be read in full.
inline bool ReadSmallFile(const std::wstring& path, size_t maxBytes, std::string& bytes) {
    bytes.clear();
    nq::unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return ::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) && got == bytes.size();
}

// %LOCALAPPDATA%\ContosoTranslator, created when missing ("" on failure).
inline std::wstring UserDataDir() {
    wchar_t base[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, base)))
        return L"";
    std::wstring dir = std::wstring(base) + L"\\" + kInnerName;
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// Appends "<program>\tpid=<pid>\t<extra>\tcmd=<command line>" to the user's
// launches.log, so that support (and the product's tests) can see how each
// program of the product was started. Several processes may append at once:
// each line is one write to a file opened for appending.
inline void RecordLaunch(const wchar_t* program, const std::wstring& extra = L"") {
    const std::wstring dir = UserDataDir();
    if (dir.empty()) return;
    std::wstring line = std::wstring(program) + L"\tpid=" + std::to_wstring(::GetCurrentProcessId()) + L"\t" + extra +
                        L"\tcmd=" + ::GetCommandLineW() + L"\r\n";
    const std::string bytes = ToUtf8(line);
    for (int attempt = 0; attempt < 50; ++attempt) {
        nq::unique_hfile file(::CreateFileW((dir + L"\\launches.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            return;
        }
        if (::GetLastError() != ERROR_SHARING_VIOLATION) return;
        ::Sleep(20);
    }
}

}  // namespace contoso
