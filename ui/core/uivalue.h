// The four readers of attribute values. They never fail: text they cannot read
// gives 0 or false.
#pragma once

#include <windows.h>

namespace SkinUI {

// Optional '-' and decimal digits; stops at the first other character.
int ParseInt(const wchar_t* text);
// `count` integers: digits accumulate, '-' makes the current number negative,
// any other character ends it (an ended number without digits is 0). Numbers
// past `count` are ignored; missing ones are 0.
void ParseIntList(const wchar_t* text, int* values, int count);
RECT ParseRect(const wchar_t* text);
SIZE ParseSize(const wchar_t* text);
POINT ParsePoint(const wchar_t* text);
// Optional '#', then digits and ASCII letters (A = 10 ... Z = 35) folded as
// value * 16 + digit with 32-bit wrap-around: "#AARRGGBB" and "0xAARRGGBB" give 0xAARRGGBB.
DWORD ParseColor(const wchar_t* text);
// "true", "on", "yes", "ok", "1" are true; "false", "off", "no", "cancel", "0"
// are false (exactly as written); other non-empty text is true, "" is false.
bool ParseBoolWord(const wchar_t* text);

}  // namespace SkinUI
