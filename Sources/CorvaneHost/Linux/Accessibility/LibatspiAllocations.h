#pragma once

// libatspi keeps blocks of its own that it never frees when a synchronous call of ours meets an event or runs
// out of time: the strings it copies for an event that arrives meanwhile, the pending call and its time-out.
// They are made within that call, on the calling thread, so every call into libatspi is made through
// `insideLibatspi`, which leaves what this thread allocates meanwhile out of the leak check. Our event
// handler, which libatspi may run inside such a call, is checked again while it runs (`OwnAllocations`).

#include "CorvaneHost/LeakCheck.h"

#include <utility>

namespace host {

template <typename Call> decltype(auto) insideLibatspi(Call&& call) {
    [[maybe_unused]] const LibraryAllocations scope;
    return std::forward<Call>(call)();
}

} // namespace host
