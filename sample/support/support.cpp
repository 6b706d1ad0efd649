// ContosoSupport.dll: system work the installer of Contoso 翻译 hands to the
// product (stdcall exports):
//   BOOL IsOSWin7()                          Windows 7 (6.1) exactly
//   BOOL ImportCertificate(path)             adds the product's publisher
//                                            certificate (DER or PEM file) to
//                                            the machine's Trusted Publishers
//   BOOL AllowAccountPrivilege(folder)       lets every user of the machine
//                                            modify the folder (inherited)
//   void CreateDesktopShortcut(target, window class, display name)
//                                            <desktop>\<display name>.lnk to target
#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wincrypt.h>

#include <string>

#include "nqpublic/nqbase/nqhandle.h"
#include "sample/common/contoso.h"

#define SUPPORT_API extern "C" __declspec(dllexport)

namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

// The system's own version (GetVersionEx answers what the manifest allows).
bool RealVersion(OSVERSIONINFOW& info) {
    info = {};
    info.dwOSVersionInfoSize = sizeof info;
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    auto fn = ntdll ? reinterpret_cast<RtlGetVersionFn>(::GetProcAddress(ntdll, "RtlGetVersion")) : nullptr;
    return fn && fn(&info) == 0;
}

struct CertContext {
    PCCERT_CONTEXT p = nullptr;
    ~CertContext() {
        if (p) ::CertFreeCertificateContext(p);
    }
};
struct CertStore {
    HCERTSTORE h = nullptr;
    ~CertStore() {
        if (h) ::CertCloseStore(h, 0);
    }
};

}  // namespace

SUPPORT_API BOOL __stdcall IsOSWin7() {
    OSVERSIONINFOW info;
    return RealVersion(info) && info.dwMajorVersion == 6 && info.dwMinorVersion == 1;
}

SUPPORT_API BOOL __stdcall ImportCertificate(const wchar_t* path) {
    if (!path || !*path) return FALSE;
    std::string bytes;
    if (!contoso::ReadSmallFile(path, 1 << 20, bytes)) return FALSE;
    // PEM files are turned into DER first.
    std::string der = bytes;
    if (bytes.find("-----BEGIN") != std::string::npos) {
        DWORD size = 0;
        if (!::CryptStringToBinaryA(bytes.c_str(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER,
                                    nullptr, &size, nullptr, nullptr))
            return FALSE;
        der.assign(size, '\0');
        if (!::CryptStringToBinaryA(bytes.c_str(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER,
                                    reinterpret_cast<BYTE*>(&der[0]), &size, nullptr, nullptr))
            return FALSE;
        der.resize(size);
    }
    CertContext cert;
    cert.p = ::CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                            reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    if (!cert.p) return FALSE;
    CertStore store;
    store.h = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE,
                              L"TrustedPublisher");
    if (!store.h) return FALSE;
    return ::CertAddCertificateContextToStore(store.h, cert.p, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
}

SUPPORT_API BOOL __stdcall AllowAccountPrivilege(const wchar_t* folder) {
    if (!folder || !*folder) return FALSE;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID usersRaw = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0,
                                    &usersRaw))
        return FALSE;
    struct SidGuard {
        PSID p;
        ~SidGuard() { ::FreeSid(p); }
    } users{usersRaw};

    PACL oldDacl = nullptr;
    PSECURITY_DESCRIPTOR sdRaw = nullptr;
    if (::GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
                                nullptr, &sdRaw) != ERROR_SUCCESS)
        return FALSE;
    nq::unique_hlocal sd(sdRaw);

    EXPLICIT_ACCESSW access = {};
    access.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(users.p);
    PACL newDaclRaw = nullptr;
    if (::SetEntriesInAclW(1, &access, oldDacl, &newDaclRaw) != ERROR_SUCCESS) return FALSE;
    nq::unique_hlocal newDacl(newDaclRaw);
    return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(folder), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                   nullptr, newDaclRaw, nullptr) == ERROR_SUCCESS;
}

SUPPORT_API void __stdcall CreateDesktopShortcut(const wchar_t* target, const wchar_t* windowClass,
                                                 const wchar_t* name) {
    if (!target || !*target || !name || !*name) return;
    wchar_t desktop[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                  desktop)))
        return;
    const std::wstring link = std::wstring(desktop) + L"\\" + name + L".lnk";
    std::wstring folder = target;
    const size_t slash = folder.find_last_of(L'\\');
    folder = slash == std::wstring::npos ? L"" : folder.substr(0, slash);

    nq::scoped_coinit com;
    nq::com_ptr<IShellLinkW> shellLink;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  shellLink.put_void())))
        return;
    shellLink->SetPath(target);
    shellLink->SetWorkingDirectory(folder.c_str());
    shellLink->SetIconLocation(target, 0);
    shellLink->SetDescription(name);
    nq::com_ptr<IPersistFile> file;
    if (FAILED(shellLink.query(file)) || FAILED(file->Save(link.c_str(), TRUE))) return;
    ::SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, link.c_str(), nullptr);

    // A running product learns that its desktop shortcut is back.
    if (windowClass && *windowClass) {
        if (HWND running = ::FindWindowW(windowClass, nullptr))
            ::PostMessageW(running, ::RegisterWindowMessageW(L"ContosoTranslator.DesktopShortcut"), 0, 0);
    }
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
