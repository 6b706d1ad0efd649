#pragma once

// COM started on a thread only when something on it needs it.
//
// A single-threaded apartment makes a window for its messages, and the first
// window of a process under Wine starts the desktop's own process and waits
// for it: some 35 ms that a silent run which never touches COM would pay for
// nothing. The thread that runs the script holds a com_on_demand for as long
// as it runs; every function that uses COM (shell operations, shortcuts, DLL
// registration) calls need_com() first, which starts COM on that thread the
// first time, and the holder balances it when it ends. One holder at a time.

namespace nq {

class com_on_demand {
public:
    com_on_demand() noexcept;
    ~com_on_demand();
    com_on_demand(const com_on_demand&) = delete;
    com_on_demand& operator=(const com_on_demand&) = delete;

    // COM has been started on the holder's thread.
    static bool started() noexcept;
};

// On the thread of a com_on_demand: starts COM there (a single-threaded
// apartment, as CoInitialize makes), once. On any other thread it does
// nothing: that thread started COM itself or balances its own start.
void need_com() noexcept;

}  // namespace nq
