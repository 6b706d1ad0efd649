// Numbers into text without the C99 wide printf of the MinGW runtime (about
// 12 KB of code in every installer): decimal integers by hand, the rest of the
// formatting through the system C library's own wide formatter.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cwchar>
#include <string>
#include <type_traits>

namespace SkinUI {

// Decimal text of an integer, as std::to_wstring writes it.
template <class T>
std::wstring DecimalText(T value) {
    static_assert(std::is_integral<T>::value, "integers only");
    using U = typename std::make_unsigned<T>::type;
    wchar_t digits[24];
    wchar_t* p = digits + 24;
    const bool negative = value < 0;
    U rest = negative ? static_cast<U>(0) - static_cast<U>(value) : static_cast<U>(value);
    do {
        *--p = static_cast<wchar_t>(L'0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (negative) *--p = L'-';
    return std::wstring(p, digits + 24);
}

// printf-style formatting into buf (units wide characters, at least 1) by the
// system library's rules: %d, %u and %ls as usual, %s is wide text too. The
// result is always terminated, cut at the buffer's end when too long; returns
// the characters written.
inline int FormatText(wchar_t* buf, size_t units, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buf, units - 1, format, args);
    va_end(args);
    buf[units - 1] = L'\0';
    if (n < 0) n = static_cast<int>(std::wcslen(buf));
    return n;
}

}  // namespace SkinUI
