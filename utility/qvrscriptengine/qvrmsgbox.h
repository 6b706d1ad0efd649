// The one way the engine and the scripts show a message box.
//
// An unattended run (a silent install with /SuppressMsgBoxes) has nobody at
// the screen: every box then answers its default button at once and writes
// its caption, text and answer to the log instead of waiting.
#pragma once

#include <windows.h>

#include <string>

namespace qvrbox {

// Whether boxes are answered without being shown. Off until the program
// turns it on.
void SetSuppressed(bool suppressed);
bool Suppressed();

// The button a box of this style answers when Enter is pressed: button n of
// its set for MB_DEFBUTTONn, the first button when the set has no button n.
int DefaultAnswer(UINT style);

// MessageBoxW with no owner window and its answer (0 when no box could be
// shown); when suppressed, the default answer and one log line.
int Show(const std::wstring& text, const std::wstring& caption, UINT style);

// The log line of a suppressed box: caption, text (line ends written as
// "\n") and the answer given.
std::string SuppressedLine(const std::wstring& text, const std::wstring& caption, int answer);

}  // namespace qvrbox
