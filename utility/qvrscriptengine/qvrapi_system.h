// Settings of the process and service script functions (qvrapi_system.cpp).
#pragma once

#include <windows.h>

namespace qvrapi {

// Longest time Lua_SCM waits for a service to reach the state it asked for.
constexpr DWORD kDefaultServiceWaitLimitMs = 60000;

// Replaces the wait limit of Lua_SCM and returns the previous one (tests use
// a short limit).
DWORD SetServiceWaitLimit(DWORD ms);
DWORD ServiceWaitLimit();

}  // namespace qvrapi
