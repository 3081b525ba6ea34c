#pragma once

// libatspi keeps blocks of its own that it never frees when a synchronous call of ours meets an event or runs
// out of time: the strings it copies for an event that arrives meanwhile, the pending call and its time-out.
// They are made within that call, on the calling thread, so every call into libatspi is made through
// `insideLibatspi`, which leaves what this thread allocates meanwhile out of the leak check. Our event
// handler, which libatspi may run inside such a call, is checked again while it runs (`OwnAllocations`), so
// no code of ours is ever left out. Without the leak checker both are nothing.

#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define CORVANE_LEAK_CHECKED 1
#endif
#endif

#ifdef CORVANE_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

#include <utility>

namespace host {

#ifdef CORVANE_LEAK_CHECKED
namespace detail {
inline thread_local int libatspiDepth = 0;
}

// What this thread allocates while one lives is libatspi's.
class LibatspiAllocations {
public:
    LibatspiAllocations() {
        if (detail::libatspiDepth++ == 0)
            __lsan_disable();
    }
    ~LibatspiAllocations() {
        if (--detail::libatspiDepth == 0)
            __lsan_enable();
    }
    LibatspiAllocations(const LibatspiAllocations&) = delete;
    LibatspiAllocations& operator=(const LibatspiAllocations&) = delete;
};

// What this thread allocates while one lives is ours again, also inside a call into libatspi.
class OwnAllocations {
public:
    OwnAllocations()
        : outerDepth_(std::exchange(detail::libatspiDepth, 0)) {
        if (outerDepth_ > 0)
            __lsan_enable();
    }
    ~OwnAllocations() {
        if (outerDepth_ > 0)
            __lsan_disable();
        detail::libatspiDepth = outerDepth_;
    }
    OwnAllocations(const OwnAllocations&) = delete;
    OwnAllocations& operator=(const OwnAllocations&) = delete;

private:
    int outerDepth_;
};
#else
class LibatspiAllocations {};
class OwnAllocations {};
#endif

template <typename Call> decltype(auto) insideLibatspi(Call&& call) {
    [[maybe_unused]] const LibatspiAllocations scope;
    return std::forward<Call>(call)();
}

} // namespace host
