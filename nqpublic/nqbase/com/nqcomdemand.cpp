#include "nqcomdemand.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>

namespace nq {
namespace {

// The holder's thread (0: none) and whether COM was started there. Written
// by that thread only; other threads read the owner to see it is not theirs.
std::atomic<DWORD> g_owner{0};
bool g_started = false;
bool g_balance = false;  // the start succeeded and is undone at the end

}  // namespace

com_on_demand::com_on_demand() noexcept {
    g_started = false;
    g_balance = false;
    g_owner.store(::GetCurrentThreadId());
}

com_on_demand::~com_on_demand() {
    if (g_owner.load() != ::GetCurrentThreadId()) return;
    g_owner.store(0);
    if (g_balance) ::CoUninitialize();
    g_started = false;
    g_balance = false;
}

bool com_on_demand::started() noexcept { return g_started; }

void need_com() noexcept {
    if (g_owner.load() != ::GetCurrentThreadId() || g_started) return;
    g_started = true;
    g_balance = SUCCEEDED(::CoInitialize(nullptr));
}

}  // namespace nq
