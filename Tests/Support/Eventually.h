#pragma once

#include <functional>

namespace test {

// Waits for something other processes do: asks `done` every 20 ms until it holds. False when `timeoutMs`
// passed first.
bool eventually(const std::function<bool()>& done, int timeoutMs = 10000);

// Waits for something this program's main thread does: runs its event loop until `done` holds. False when
// `timeoutMs` passed first.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);

} // namespace test
