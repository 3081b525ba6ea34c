#pragma once

namespace test {

// Under AddressSanitizer freed blocks wait in its quarantine and every block has shadow memory, so a
// process's resident size says nothing about what the code keeps: bounds on it are checked only without it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool residentSizeFollowsTheHeap = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool residentSizeFollowsTheHeap = false;
#else
inline constexpr bool residentSizeFollowsTheHeap = true;
#endif
#else
inline constexpr bool residentSizeFollowsTheHeap = true;
#endif

} // namespace test
