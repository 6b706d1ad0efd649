// Errors of the packager: a message for the user and the exit code that goes
// with it. Every failure on the way to an installer is one of these; main()
// prints the message and exits with the code, leaving no output behind.
#pragma once

#include <stdexcept>
#include <string>

namespace qvrpack {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,      // the command line is wrong
    kExitInput = 3,      // an input is missing, unreadable or not usable
    kExitScript = 4,     // a Lua script does not compile
    kExitPayload = 5,    // the payload is beyond what the installer can extract
    kExitOutput = 6,     // the installer cannot be written where asked
    kExitSign = 7,       // signing failed
};

class PackError : public std::runtime_error {
public:
    PackError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
    ExitCode code() const noexcept { return code_; }

private:
    ExitCode code_;
};

}  // namespace qvrpack
