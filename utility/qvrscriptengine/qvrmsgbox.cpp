#include "qvrmsgbox.h"

#include <atomic>

#include "../../nqpublic/nqbase/log/nqbaselog.h"
#include "qvrscriptargs.h"

namespace qvrbox {
namespace {

std::atomic<bool> g_suppressed{false};

// The buttons of each MB_TYPEMASK value, in the order the box shows them.
struct ButtonSet {
    int count;
    int ids[3];
};
constexpr ButtonSet kButtonSets[] = {
    {1, {IDOK}},                              // MB_OK
    {2, {IDOK, IDCANCEL}},                    // MB_OKCANCEL
    {3, {IDABORT, IDRETRY, IDIGNORE}},        // MB_ABORTRETRYIGNORE
    {3, {IDYES, IDNO, IDCANCEL}},             // MB_YESNOCANCEL
    {2, {IDYES, IDNO}},                       // MB_YESNO
    {2, {IDRETRY, IDCANCEL}},                 // MB_RETRYCANCEL
    {3, {IDCANCEL, IDTRYAGAIN, IDCONTINUE}},  // MB_CANCELTRYCONTINUE
};

// Log lines are one line each: line ends inside the text are written as "\n".
std::wstring OneLine(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
        if (text[i] == L'\r' || text[i] == L'\n')
            out += L"\\n";
        else
            out += text[i];
    }
    return out;
}

}  // namespace

void SetSuppressed(bool suppressed) { g_suppressed = suppressed; }
bool Suppressed() { return g_suppressed; }

int DefaultAnswer(UINT style) {
    const UINT type = style & MB_TYPEMASK;
    const ButtonSet& set = type < sizeof kButtonSets / sizeof kButtonSets[0] ? kButtonSets[type] : kButtonSets[0];
    const int index = static_cast<int>((style & MB_DEFMASK) >> 8);
    return set.ids[index < set.count ? index : 0];
}

std::string SuppressedLine(const std::wstring& text, const std::wstring& caption, int answer) {
    // Box texts are mostly the scripts' own: written in the ANSI code page,
    // as the scripts' log lines are.
    return "msgbox suppressed, answered " + std::to_string(answer) + ": [" + WideToAnsi(OneLine(caption)) + "] " +
           WideToAnsi(OneLine(text));
}

int Show(const std::wstring& text, const std::wstring& caption, UINT style) {
    if (!Suppressed()) return ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
    const int answer = DefaultAnswer(style);
    LOG_INFO("{}", SuppressedLine(text, caption, answer));
    DebugTrace(L"msgbox suppressed, answered %d: %s\r\n", answer, caption.c_str());
    return answer;
}

}  // namespace qvrbox
