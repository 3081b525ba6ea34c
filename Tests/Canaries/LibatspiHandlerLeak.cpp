// Loses a block that our own event handler allocates while libatspi runs it inside a call of ours: what the
// call allocates besides is libatspi's and left out of the leak check, what the handler allocates is ours and
// must be reported.
#include "CorvaneHost/Linux/Accessibility/LibatspiAllocations.h"

namespace {

int* volatile kept = nullptr;

[[gnu::noinline]] void leakInEventHandler() {
    [[maybe_unused]] const host::OwnAllocations ours; // as the accessibility service's handler does
    kept = new int[5];
    kept = nullptr;
}

// A block the library keeps of the call, lost as libatspi loses it.
[[gnu::noinline]] int keptByTheLibrary() {
    kept = new int[3];
    kept = nullptr;
    return 0;
}

} // namespace

int main() {
    return host::insideLibatspi([] {
        leakInEventHandler();
        return keptByTheLibrary();
    });
}
