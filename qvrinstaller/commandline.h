// The installer's command line as a table of "/key value" tokens.
#pragma once

#include <map>
#include <string>

// Tokens are the runs between '/' characters; a token's key is its text up to
// the first space, its value the rest, trimmed, without the double quotes
// around it. An argument quoted as a whole by its launcher ("/key value")
// counts as if it were not quoted.
class CCommandLine {
public:
    explicit CCommandLine(const std::wstring& commandLine);

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
