#include "ui/core/uivalue.h"

#include <cwchar>
#include <map>
#include <string>

namespace SkinUI {

int ParseInt(const wchar_t* text) {
    if (!text) return 0;
    bool negative = false;
    if (*text == L'-') {
        negative = true;
        ++text;
    }
    unsigned value = 0;  // wraps like the 32-bit arithmetic it stands for
    for (; *text >= L'0' && *text <= L'9'; ++text) value = value * 10u + static_cast<unsigned>(*text - L'0');
    return static_cast<int>(negative ? 0u - value : value);
}

void ParseIntList(const wchar_t* text, int* values, int count) {
    for (int i = 0; i < count; ++i) values[i] = 0;
    if (!text) return;
    int filled = 0;
    unsigned current = 0;
    bool negative = false;
    bool started = false;  // a number is being read (digits or '-')
    for (const wchar_t* p = text; filled < count; ++p) {
        const wchar_t c = *p;
        if (c >= L'0' && c <= L'9') {
            current = current * 10u + static_cast<unsigned>(c - L'0');
            started = true;
        } else if (c == L'-') {
            negative = true;
            started = true;
        } else {
            if (c == 0 && !started) break;  // nothing pending at the end
            values[filled++] = static_cast<int>(negative ? 0u - current : current);
            current = 0;
            negative = false;
            started = false;
            if (c == 0) break;
        }
    }
}

RECT ParseRect(const wchar_t* text) {
    int v[4];
    ParseIntList(text, v, 4);
    return RECT{v[0], v[1], v[2], v[3]};
}

SIZE ParseSize(const wchar_t* text) {
    int v[2];
    ParseIntList(text, v, 2);
    return SIZE{v[0], v[1]};
}

POINT ParsePoint(const wchar_t* text) {
    int v[2];
    ParseIntList(text, v, 2);
    return POINT{v[0], v[1]};
}

DWORD ParseColor(const wchar_t* text) {
    if (!text) return 0;
    if (*text == L'#') ++text;
    DWORD value = 0;
    for (;; ++text) {
        const wchar_t c = *text;
        DWORD digit;
        if (c >= L'0' && c <= L'9')
            digit = c - L'0';
        else if (c >= L'a' && c <= L'z')
            digit = c - L'a' + 10;
        else if (c >= L'A' && c <= L'Z')
            digit = c - L'A' + 10;
        else
            break;
        value = value * 16u + digit;
    }
    return value;
}

bool ParseBoolWord(const wchar_t* text) {
    if (!text || !*text) return false;
    // One table for the process, built on first use.
    static const std::map<std::wstring, bool> words = {
        {L"true", true},   {L"on", true},   {L"yes", true}, {L"ok", true},         {L"1", true},
        {L"false", false}, {L"off", false}, {L"no", false}, {L"cancel", false}, {L"0", false},
    };
    const auto it = words.find(text);
    return it == words.end() ? true : it->second;
}

}  // namespace SkinUI
