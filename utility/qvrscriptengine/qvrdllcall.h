// Calling an arbitrary DLL export with a list of 32-bit words.
#pragma once

#include <cstdint>

extern "C" {
// Pushes words[count-1] ... words[0] (so words[0] lies next to the return
// address) and calls `fn`. Works for stdcall and cdecl callees alike, whatever
// argument count they really take: the stack pointer is restored from this
// routine's own frame after the call. A callee that leaves a value on the x87
// register stack (a float result) has it popped. Returns the callee's EAX.
uint32_t QvrCallWords(const void* fn, const uint32_t* words, uint32_t count);
}
