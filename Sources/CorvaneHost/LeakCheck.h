#pragma once

// Leaving a library's own blocks out of the leak check at the one place our code hands control to it, and
// nothing of ours. A library that keeps blocks it never frees (libatspi after a call that met an event, Qt's
// accessibility bridge with a key event it still holds) is called inside a `LibraryAllocations` scope: what
// this thread allocates meanwhile is the library's. Code of ours that the library calls back meanwhile runs
// inside an `OwnAllocations` scope, which checks it again. Without the leak checker both are nothing.

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
inline thread_local int libraryDepth = 0;
}

// What this thread allocates while one lives is a library's.
class LibraryAllocations {
public:
    LibraryAllocations() {
        if (detail::libraryDepth++ == 0)
            __lsan_disable();
    }
    ~LibraryAllocations() {
        if (--detail::libraryDepth == 0)
            __lsan_enable();
    }
    LibraryAllocations(const LibraryAllocations&) = delete;
    LibraryAllocations& operator=(const LibraryAllocations&) = delete;
};

// What this thread allocates while one lives is ours again, also inside a library's scope.
class OwnAllocations {
public:
    OwnAllocations()
        : outerDepth_(std::exchange(detail::libraryDepth, 0)) {
        if (outerDepth_ > 0)
            __lsan_enable();
    }
    ~OwnAllocations() {
        if (outerDepth_ > 0)
            __lsan_disable();
        detail::libraryDepth = outerDepth_;
    }
    OwnAllocations(const OwnAllocations&) = delete;
    OwnAllocations& operator=(const OwnAllocations&) = delete;

private:
    int outerDepth_;
};
#else
class LibraryAllocations {};
class OwnAllocations {};
#endif

} // namespace host
