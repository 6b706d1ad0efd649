// Stays alive until it is ended from outside (or after ten minutes).
#include <windows.h>

int main() {
    ::Sleep(600000);
    return 0;
}
