// Single-instance guard and bringing the installer window to the front.
#pragma once

#include <windows.h>

// Default base name of the single-instance mutex.
extern const wchar_t kDefaultInstanceMutex[];

// Creates (or opens) the named mutex "<baseName><appId>" ("<baseName>" for
// appId 0). Returns null for the first installer (its mutex stays open for the
// life of the process); when another installer already holds the name, brings
// its window forward and returns the handle, which the caller closes.
HANDLE CreateAppInstance(const wchar_t* baseName, int appId);

void BringWindowToFront(HWND hwnd);
