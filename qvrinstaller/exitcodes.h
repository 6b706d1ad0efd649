// Exit codes of the installer process, as callers (deployment tools, updaters,
// parent installers) read them. 0 means the installation completed; every
// other code names why it did not. The README's table lists the same values.
#pragma once

namespace qvrapp {

enum ExitCode : int {
    kExitOk = 0,               // the installation completed (or, by hand, the user closed the window)
    kExitWindowFailed = 1,     // the installer window could not be created
    kExitStartupFailed = 2,    // the installer's own scripts could not be loaded or run at start-up
    kExitScriptError = 3,      // a script error ended the run
    kExitPayloadFailed = 4,    // the payload is corrupt or unsafe, or could not be extracted
    kExitFolderRefused = 5,    // the install folder was refused (protected, invalid or too long)
    kExitWriteFailed = 6,      // a file could not be written whole (disk full, access denied)
    kExitCancelled = 7,        // the user ended the installation before it completed
    kExitScriptEnded = 8,      // the install script ended the run before it completed (os.exit), no failure seen
};

}  // namespace qvrapp
