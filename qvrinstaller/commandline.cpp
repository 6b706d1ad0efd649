#include "commandline.h"

#include <cwchar>

namespace {
// Trimming removes the space and the control units 0..29; 30 and 31 stay.
bool IsTrimmed(wchar_t c) { return c == L' ' || c <= 29; }
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Launchers that build the command line from a list of arguments quote an
// argument with spaces as a whole: "/path:C:\Program Files\A B". Those
// quotes belong to the argument, not to a value: an argument that starts with
// '"' and '/' loses its opening quote and the closing one (the next '"' that
// ends an argument). Other quotes stay where they are.
std::wstring WithoutArgumentQuotes(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const bool opens = text[i] == L'"' && i + 1 < text.size() && text[i + 1] == L'/' && (i == 0 || IsBlank(text[i - 1]));
        if (!opens) {
            out += text[i];
            continue;
        }
        size_t close = i + 1;
        while (close < text.size() && !(text[close] == L'"' && (close + 1 == text.size() || IsBlank(text[close + 1]))))
            ++close;
        out.append(text, i + 1, close - (i + 1));  // an unclosed quote runs to the end
        i = close;
    }
    return out;
}
}  // namespace

CCommandLine::CCommandLine(const std::wstring& commandLine) : text_(commandLine) {
    const std::wstring text = WithoutArgumentQuotes(commandLine);
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
