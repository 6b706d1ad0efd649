#include "../nqpublic/nqbase/log/nqbaselog.h"
#include "app.h"

// The skinned installer window is not part of this build yet: the interactive
// run says so and ends without installing.
void RunInteractive(HANDLE, int) {
    LOG_INFO("interactive installer window is not available in this build; nothing installed");
    DebugTrace(L"interactive installer window is not available in this build\r\n");
}
