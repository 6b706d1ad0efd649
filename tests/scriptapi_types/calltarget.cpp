// A DLL whose exports the DllManager tests call from scripts: stdcall and
// cdecl functions of 0 to 8 arguments, text and pointer results, out-parameters
// and a SetLastError path. Linked with --kill-at: exports carry plain names.
#include <windows.h>

#include <cstdint>
#include <initializer_list>

#define EXPORT extern "C" __declspec(dllexport)

namespace {
// The arguments as decimal digits, first argument first: Std3(1, 2, 3) = 123.
int32_t Digits(std::initializer_list<int32_t> args) {
    int32_t v = 0;
    for (int32_t a : args) v = v * 10 + a;
    return v;
}
}  // namespace

// Each sets the last error to 1000 + count (stdcall) or 2000 + count (cdecl).
#define DIGITS(conv, base, name, n, params, ...)     \
    EXPORT int32_t conv name params {                \
        ::SetLastError(base + n);                    \
        return Digits({__VA_ARGS__});                \
    }

DIGITS(__stdcall, 1000, Std0, 0, ())
DIGITS(__stdcall, 1000, Std1, 1, (int32_t a), a)
DIGITS(__stdcall, 1000, Std2, 2, (int32_t a, int32_t b), a, b)
DIGITS(__stdcall, 1000, Std3, 3, (int32_t a, int32_t b, int32_t c), a, b, c)
DIGITS(__stdcall, 1000, Std4, 4, (int32_t a, int32_t b, int32_t c, int32_t d), a, b, c, d)
DIGITS(__stdcall, 1000, Std5, 5, (int32_t a, int32_t b, int32_t c, int32_t d, int32_t e), a, b, c, d, e)
DIGITS(__stdcall, 1000, Std6, 6, (int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f), a, b, c, d, e, f)
DIGITS(__stdcall, 1000, Std7, 7, (int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g), a, b, c, d, e, f, g)
DIGITS(__stdcall, 1000, Std8, 8, (int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g, int32_t h), a, b, c, d, e, f, g, h)
DIGITS(__cdecl, 2000, Cdecl0, 0, ())
DIGITS(__cdecl, 2000, Cdecl1, 1, (int32_t a), a)
DIGITS(__cdecl, 2000, Cdecl2, 2, (int32_t a, int32_t b), a, b)
DIGITS(__cdecl, 2000, Cdecl3, 3, (int32_t a, int32_t b, int32_t c), a, b, c)
DIGITS(__cdecl, 2000, Cdecl4, 4, (int32_t a, int32_t b, int32_t c, int32_t d), a, b, c, d)
DIGITS(__cdecl, 2000, Cdecl5, 5, (int32_t a, int32_t b, int32_t c, int32_t d, int32_t e), a, b, c, d, e)
DIGITS(__cdecl, 2000, Cdecl6, 6, (int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f), a, b, c, d, e, f)
DIGITS(__cdecl, 2000, Cdecl7, 7, (int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g), a, b, c, d, e, f, g)
DIGITS(__cdecl, 2000, Cdecl8, 8, (int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g, int32_t h), a, b, c, d, e, f, g, h)

// The raw 32-bit word received, for checking how each argument type is passed.
EXPORT uint32_t __stdcall Word(uint32_t w) { return w; }
EXPORT uint32_t __stdcall Word2(uint32_t, uint32_t w) { return w; }
// Text through pointers.
EXPORT int32_t __stdcall StrLenA(const char* s) { return s ? lstrlenA(s) : -1; }
EXPORT uint32_t __stdcall ReadU32(const uint32_t* p) { return p ? *p : 0; }

// Results of every kind.
EXPORT int32_t __stdcall MinusOne() { return -1; }
EXPORT int32_t __stdcall Zero() { return 0; }
EXPORT const char* __stdcall AnsiText() { return "abc\xd6\xd0\xce\xc4"; }  // abc中文 in code page 936
EXPORT const char* __stdcall NullText() { return nullptr; }
EXPORT const wchar_t* __stdcall WideText() { return L"宽字符"; }
EXPORT const void* __stdcall EchoPtr(const void* p) { return p; }
EXPORT double __stdcall ReturnsDouble() { return 2.5; }

// SetLastError path: result 0 and the code.
EXPORT BOOL __stdcall FailWith(DWORD code) {
    ::SetLastError(code);
    return FALSE;
}

// Out-parameters.
EXPORT BOOL __stdcall FillOut(uint32_t* out, uint32_t value) {
    if (!out) return FALSE;
    *out = value;
    ::SetLastError(0);
    return TRUE;
}
EXPORT int32_t __stdcall WriteAnsi(char* buf, int32_t cap) { return lstrcpynA(buf, "xyz", cap) ? 3 : 0; }
EXPORT int32_t __stdcall WriteWide(wchar_t* buf, int32_t cap) { return lstrcpynW(buf, L"宽xyz", cap) ? 4 : 0; }
// Fills `units` characters without a terminator.
EXPORT void __stdcall FillWide(wchar_t* buf, int32_t units) {
    for (int32_t i = 0; i < units; ++i) buf[i] = L'w';
}
EXPORT void __cdecl FillAnsi(char* buf, int32_t bytes) {
    for (int32_t i = 0; i < bytes; ++i) buf[i] = 'a';
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
