#include "commandline.h"

#include <cwchar>

namespace {
// Trimming removes the space and the control units 0..29; 30 and 31 stay.
bool IsTrimmed(wchar_t c) { return c == L' ' || c <= 29; }
}  // namespace

CCommandLine::CCommandLine(const std::wstring& text) : text_(text) {
    size_t pos = 0;
    while (pos < text.size()) {
        // A token is a maximal run of characters other than '/'.
        size_t end = text.find(L'/', pos);
        if (end == std::wstring::npos) end = text.size();
        if (end > pos) {
            const std::wstring token = text.substr(pos, end - pos);
            const size_t space = token.find(L' ');
            std::wstring key = token.substr(0, space);
            std::wstring value;
            if (space != std::wstring::npos) {
                value = token.substr(space);
                size_t b = 0, e = value.size();
                while (b < e && IsTrimmed(value[b])) ++b;
                while (e > b && IsTrimmed(value[e - 1])) --e;
                value = value.substr(b, e - b);
                if (value.size() > 1 && value.front() == L'"' && value.back() == L'"')
                    value = value.substr(1, value.size() - 2);
            }
            values_[key] = value;
        }
        pos = end + 1;
    }
}

bool CCommandLine::GetValue(const std::wstring& key, std::wstring& value) const {
    value.clear();
    auto it = values_.find(key);
    if (it == values_.end()) return false;
    value = it->second;
    return true;
}

unsigned long ParseListenerHandle(const std::wstring& text) {
    return std::wcstoul(text.c_str(), nullptr, 10);
}
