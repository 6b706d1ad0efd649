// Lazy binding of system DLLs the silent installation never calls.
//
// The HTTP client's libraries import the socket, certificate and random
// number DLLs. Bound at start-up, they are loaded into every run, and loading
// them pulls in the system's TLS libraries (some megabytes of resident memory)
// even when nothing goes over the network. Each function listed in
// imports.txt instead gets an import slot of its own (`__imp__Name@N`, the
// symbol the compiler calls through) that first points at a small stub: the
// first call loads the DLL from the system folder, looks the function up,
// stores its address in the slot and goes on into it with the caller's
// arguments untouched. Later calls go straight through the slot.
//
// A function missing from its DLL ends the call with the exception a
// delay-loaded import raises (the statically bound import would have stopped
// the process from starting at all).
#include <windows.h>

#include <cstring>

extern "C" {

// One lazy import, laid out by the generated stubs (lazyimport.cmake).
struct QvrLazyImport {
    const char* dll;
    const char* name;
    void** slot;
};

void* __cdecl QvrLazyResolve(QvrLazyImport* import) {
    HMODULE module = ::GetModuleHandleA(import->dll);
    if (!module) {
        // From the system folder only, never from the folder the installer was started in.
        char path[MAX_PATH + 32];
        const UINT n = ::GetSystemDirectoryA(path, MAX_PATH);
        const size_t length = std::strlen(import->dll);
        if (n != 0 && n < MAX_PATH && n + 1 + length < sizeof(path)) {
            path[n] = '\\';
            std::memcpy(path + n + 1, import->dll, length + 1);
            module = ::LoadLibraryA(path);
        }
    }
    void* address = module ? reinterpret_cast<void*>(::GetProcAddress(module, import->name)) : nullptr;
    if (!address) {
        const DWORD code = module ? 0xC06D007Fu : 0xC06D007Eu;  // procedure / module not found
        for (;;) ::RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    }
    // A plain aligned store: threads that race here store the same address.
    *reinterpret_cast<void* volatile*>(import->slot) = address;
    return address;
}

}  // extern "C"

// Entered from a stub with the import's record pushed above the caller's
// return address: keeps every register the call may carry, resolves, and
// returns into the function in place of the record, so the function sees
// the stack of the original call.
__asm__(
    ".text\n"
    ".globl ___qvr_lazy_enter\n"
    "___qvr_lazy_enter:\n"
    "    pushal\n"
    "    pushl 32(%esp)\n"
    "    call _QvrLazyResolve\n"
    "    addl $4, %esp\n"
    "    movl %eax, 32(%esp)\n"
    "    popal\n"
    "    ret\n");
