// Authenticode signing of the finished installer with the tools the system
// offers: signtool on Windows, osslsigncode on Linux (also when the packager
// runs under Wine there).
#pragma once

#include <string>

namespace qvrpack {

struct SignOptions {
    std::wstring certificate;  // .pfx/.p12, or PEM holding the certificate (and key)
    std::wstring key;          // PEM private key when not in the certificate file
    std::wstring password;
    long long signingTime = -1;  // seconds since 1970 for the signature, -1: now
};

// Signs `in` into `out` (a new file). Throws PackError(kExitSign).
void SignFile(const std::wstring& in, const std::wstring& out, const SignOptions& options);

}  // namespace qvrpack
