#pragma once

#include "CorvaneHost/Accessibility.h"

#include <QList>
#include <functional>

// The result of closing a list of windows.
struct CloseOutcome {
    int closed = 0;    // gone: closed by the run, or already gone when their turn came
    int remaining = 0; // not tried when the run ended, plus the window whose close was blocked
    bool blocked = false;

    bool operator==(const CloseOutcome&) const = default;
};

// Bringing one Chrome window to the front, and closing windows one after another within a time budget.
namespace WindowActions {

constexpr double closePollInterval = 0.1;

using StillOpen = std::function<bool(const host::AXElement& window)>;
using CloseCompletion = std::function<void(CloseOutcome)>;

// Un-minimises, raises and focuses the window; every failure is ignored.
void raise(const host::AXElement& window);

// Presses each window's close button in turn and waits up to `perWindowTimeout` for `isStillOpen` to turn
// false, all within `budget` seconds (a negative budget counts as none). A window that a page dialog holds
// open ends the run as blocked. `completion` runs exactly once, on the main queue's thread.
void close(const QList<host::AXElement>& windows, double budget, double perWindowTimeout,
           StillOpen isStillOpen, CloseCompletion completion);

// The window shows a sheet or a dialog.
bool hasBlockingDialog(const host::AXElement& window);

} // namespace WindowActions
