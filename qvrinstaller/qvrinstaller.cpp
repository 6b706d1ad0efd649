#include <windows.h>

#include <cstdlib>
#include <exception>

#include "app.h"

// The runtime's default reaction to an exception that nobody catches prints
// the exception's demangled type to the standard error, which an installer
// does not have, and pulls the demangler (about 45 KB) into every installer.
// This replaces it: a line on the debugger output, then abort as before.
void __gnu_cxx::__verbose_terminate_handler() {
    ::OutputDebugStringW(L"vq the installer ends: an exception was not caught\r\n");
    std::abort();
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return qvrapp::Run(); }
