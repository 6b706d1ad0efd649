// The installer's command line as a table of "/key value" tokens.
#pragma once

#include <map>
#include <string>

class CCommandLine {
public:
    explicit CCommandLine(const std::wstring& text);

    // Clears `value`; false when the key is absent, else copies its value
    // (possibly "") and returns true. Keys compare case-sensitively.
    bool GetValue(const std::wstring& key, std::wstring& value) const;
    bool HasKey(const std::wstring& key) const { return values_.count(key) != 0; }

    const std::wstring& Text() const { return text_; }
    const std::map<std::wstring, std::wstring>& Values() const { return values_; }

private:
    std::wstring text_;
    std::map<std::wstring, std::wstring> values_;
};

// Decimal number with leading blanks and an optional sign; parsing stops at
// the first non-digit; no digits gives 0. Used for "InstallListenWnd".
unsigned long ParseListenerHandle(const std::wstring& text);
