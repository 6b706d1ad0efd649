// Helpers for tests that start, find and end programs built by the project.
#pragma once

#include <windows.h>

#include <string>

namespace testutil {

// Copies the built program `fileName` (from the test's own folder) to
// `dir`\`newName` and returns the new path, or "" on failure. A copy under a
// name of its own lets a test find exactly its processes by executable name
// while other tests run at the same time.
std::wstring CopyProgram(const std::wstring& fileName, const std::wstring& dir, const std::wstring& newName);
// The text in double quotes.
std::wstring Quote(const std::wstring& text);
// Waits (pumping messages) until the file exists.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);
// The full long form of a path, for comparing paths the system reports.
std::wstring LongPath(const std::wstring& path);
// True while a process with this id is running.
bool ProcessRunning(DWORD pid);

}  // namespace testutil
