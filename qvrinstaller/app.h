// The installer's start-up and its two run modes.
#pragma once

#include <windows.h>

#include <string>

class CCommandLine;

namespace qvrapp {

// Message sent to the listening window when the installation is complete.
constexpr UINT kInstallCompleteMsg = 3014;

// "<temp>\Install.log": the base of the dated log file names.
std::wstring LogBasePath();

// Process-wide values owned by the entry point.
const CCommandLine* CommandLine();
HWND ListenerWindow();
const std::wstring& LogBase();

// The whole run: start-up, the chosen mode, shutdown. Returns the exit code
// (exitcodes.h).
int Run();

// The switch InstallSlience with exactly "true".
bool SilentBySwitch(const CCommandLine& cmd);
// The silent decision: the switch InstallSlience with exactly "true", or the
// script's request when the configuration enables it.
bool ChooseSilent(const CCommandLine& cmd, bool enableScriptSilent, bool scriptSilent);

}  // namespace qvrapp

// The interactive run: skin, window, message loop and its shutdown.
void RunInteractive(HANDLE instance, int appId);
