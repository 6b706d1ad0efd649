#include "qvrrunresult.h"

#include <windows.h>

#include <atomic>

#include "../../nqpublic/nqbase/log/nqbaselog.h"

namespace qvrrun {
namespace {

constexpr int kKinds = static_cast<int>(Failure::kEndedEarly) + 1;
std::atomic<int> g_codes[kKinds] = {};
std::atomic<int> g_recorded{static_cast<int>(Failure::kNone)};
std::atomic<bool> g_inProgress{false};

const char* Name(Failure failure) {
    switch (failure) {
        case Failure::kNone: return "none";
        case Failure::kScriptError: return "script error";
        case Failure::kPayload: return "payload failed";
        case Failure::kWrite: return "write failed";
        case Failure::kAborted: return "aborted";
        case Failure::kEndedEarly: return "ended by the script";
    }
    return "?";
}

}  // namespace

void SetExitCode(Failure failure, int code) {
    if (failure != Failure::kNone) g_codes[static_cast<int>(failure)] = code;
}

int ExitCode(Failure failure) { return failure == Failure::kNone ? 0 : g_codes[static_cast<int>(failure)].load(); }

void Record(Failure failure) {
    if (failure == Failure::kNone) return;
    int none = static_cast<int>(Failure::kNone);
    if (g_recorded.compare_exchange_strong(none, static_cast<int>(failure)))
        LOG_INFO("run failure recorded: {} (exit code {})", Name(failure), ExitCode(failure));
}

Failure Recorded() { return static_cast<Failure>(g_recorded.load()); }
void Reset() { g_recorded = static_cast<int>(Failure::kNone); }

void SetInProgress(bool inProgress) { g_inProgress = inProgress; }
bool InProgress() { return g_inProgress; }

int ScriptExitCode(int requested) {
    if (requested != 0) return requested;
    if (Recorded() != Failure::kNone) return ExitCode(Recorded());
    if (InProgress()) return ExitCode(Failure::kEndedEarly);
    return 0;
}

int FinalExitCode() { return ExitCode(Recorded()); }

void Exit(Failure failure) {
    Record(failure);
    const int code = ExitCode(Recorded());
    LOG_INFO("run ends: {} (exit code {})", Name(Recorded()), code);
    ::ExitProcess(static_cast<UINT>(code));
}

}  // namespace qvrrun
