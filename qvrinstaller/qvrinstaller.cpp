#include <windows.h>

#include "app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return qvrapp::Run(); }
