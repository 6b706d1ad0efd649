// Placeholder body for a script function whose group is not built yet: writes
// one debug line and answers false, like any failing native function.
#pragma once

#include "../../nqpublic/nqbase/log/nqbaselog.h"
#include "qvrlua.h"

#define QVR_PENDING_FUNCTION(name)                                   \
    int name(lua_State* L) {                                         \
        DebugTrace(L"%s is not available in this build\r\n", L## #name); \
        lua_pushboolean(L, 0);                                       \
        return 1;                                                    \
    }
