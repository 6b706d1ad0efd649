// Helpers for tests that drive real Windows programs under Wine.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testutil {

// Folder of the running test executable (all built programs live there).
std::wstring ExeDir();
// A fresh, empty folder under the temporary folder; removed by the caller's
// RemoveTree when wanted.
std::wstring MakeTempDir(const std::wstring& tag);
void RemoveTree(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool ReadFileBytes(const std::wstring& path, std::string& bytes);
std::string ReadFileOr(const std::wstring& path, const std::string& fallback = "");
bool FileExists(const std::wstring& path);
std::wstring Utf8ToWide(const std::string& s);
std::string WideToUtf8(const std::wstring& s);

// Process started with extra environment variables (added to this process's
// environment). The handles are owned by the object.
class Child {
public:
    Child() = default;
    ~Child();
    Child(Child&& o) noexcept;
    Child& operator=(Child&& o) noexcept;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts `commandLine`; false when CreateProcess fails.
    bool Start(const std::wstring& commandLine, const std::map<std::wstring, std::wstring>& env = {},
               const std::wstring& cwd = L"");
    // Waits for the end while pumping this thread's messages. False on time-out.
    bool Wait(DWORD timeoutMs);
    DWORD ExitCode() const;
    DWORD Pid() const { return pi_.dwProcessId; }
    HANDLE Process() const { return pi_.hProcess; }
    bool Running() const;
    void Kill(UINT code = 1);

private:
    PROCESS_INFORMATION pi_ = {};
};

// Runs to the end (pumping messages); returns the exit code or ~0u on failure
// or time-out (the child is then killed).
DWORD Run(const std::wstring& commandLine, const std::map<std::wstring, std::wstring>& env = {},
          DWORD timeoutMs = 60000);

// Pumps this thread's messages for `ms` milliseconds.
void PumpFor(DWORD ms);
// Calls `cond` every 50 ms while pumping messages, until it is true or the time is up.
bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs);

// A top-level window owned by the test that records the messages it receives.
class RecordingWindow {
public:
    RecordingWindow();
    ~RecordingWindow();
    HWND hwnd() const { return hwnd_; }
    // Count of messages `msg` received (with their wParam/lParam).
    int Count(UINT msg) const;
    std::vector<std::pair<WPARAM, LPARAM>> Params(UINT msg) const;

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND hwnd_ = nullptr;
    std::map<UINT, std::vector<std::pair<WPARAM, LPARAM>>> seen_;
};

// Message boxes and dialogs of other processes.
// Finds a visible top-level window whose title equals `title` (any class) and,
// when pid is not 0, that belongs to that process.
HWND FindTopWindow(const std::wstring& title, DWORD pid = 0);
HWND WaitForTopWindow(const std::wstring& title, DWORD pid, DWORD timeoutMs);
// A visible message box or dialog (class "#32770") of that process, whatever its title.
HWND WaitForDialog(DWORD pid, DWORD timeoutMs);
// The concatenated texts of the static controls of a dialog.
std::wstring DialogText(HWND dialog);
// Presses the button with this id (IDOK, IDRETRY...) of a dialog.
bool PressDialogButton(HWND dialog, int id);

}  // namespace testutil
