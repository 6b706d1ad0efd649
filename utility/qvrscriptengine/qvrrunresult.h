// How a run of the scripts ends when something fails, as the program's exit
// code tells it to the caller.
//
// Native functions record the failures that leave an installation incomplete
// (a payload that cannot be extracted, a file that cannot be written whole);
// the script error handler and the file-deletion question end the process
// themselves. The program that hosts the engine decides which exit code each
// kind of failure gives: until it does, every kind gives 0, the code the
// engine has always ended with.
#pragma once

namespace qvrrun {

enum class Failure {
    kNone,
    kScriptError,  // a run-time script error ended the run
    kPayload,      // the payload is corrupt or unsafe
    kWrite,        // a file could not be written whole (disk full, access denied, locked)
    kAborted,      // the user ended the installation before it completed
    kEndedEarly,   // the script ended the run (os.exit) before it completed, no failure recorded
};

void SetExitCode(Failure failure, int code);
int ExitCode(Failure failure);

// Records a failure of the run. The first one recorded stays: it is the cause
// the caller is told.
void Record(Failure failure);
Failure Recorded();
// Forgets the recorded failure (a host that runs several installations).
void Reset();

// Marks the span in which the installation runs: a script that ends the
// process inside it with a success code (os.exit(), os.exit(0), os.exit(true))
// has not completed the installation.
void SetInProgress(bool inProgress);
bool InProgress();

// The exit code of the script's os.exit(requested): a failure code the script
// chose stays; a success code becomes the code of the recorded failure, or,
// inside the installation, the code of kEndedEarly.
int ScriptExitCode(int requested);

// The exit code the run ends with when it reaches its end: 0, or the code of
// the recorded failure.
int FinalExitCode();

// Records `failure` and ends the process at once with its exit code.
[[noreturn]] void Exit(Failure failure);

}  // namespace qvrrun
