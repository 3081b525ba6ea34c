#pragma once

#include "CorvaneHost/Linux/X11/X11Display.h"

#include <optional>
#include <vector>

namespace host {

// Which window is in front and bringing windows and applications forward, through the window manager's hints
// (EWMH) on this session's X display. Without a display neither is known or possible.

// The window manager's active window (_NET_ACTIVE_WINDOW) with its process and class; none when no window is
// active or no display answers.
std::optional<X11ClientWindow> activeClientWindow();

// A request to the window manager to activate a window. The window manager carries it out a moment later,
// and another program (a proxy app's launcher bringing Chrome forward after the helper raised one of its
// windows) may look at the windows in between: the last request is kept on the display's root window, so
// every program of the session knows what is about to come to the front.
struct ActivationRequest {
    quint32 window = 0;
    quint32 activeBefore = 0; // the window that was active when it was made
    qint64 madeAtMs = 0;      // on the system's monotonic clock, the same in every process

    bool operator==(const ActivationRequest&) const = default;
};

// How long a request waits for the window manager before it counts as refused.
constexpr qint64 activationPatienceMs = 1000;

// Whether the window manager has yet to carry out `request`: the window that was active when it was made
// still is, and it was made within the patience.
bool isPending(const ActivationRequest& request, quint32 activeWindow, qint64 nowMs);

// What bringing a process's application forward asks of the window manager. As an application's activation
// does on every desktop, it brings the application forward without reordering its windows: a window of it
// that is pending activation, or is active while no other is pending, stays the one in front and none is
// asked for; otherwise its active window, else its frontmost one, is. `hasWindow` is false when the process
// has no window to bring forward.
struct ApplicationActivation {
    bool hasWindow = false;
    quint32 windowToActivate = 0;

    bool operator==(const ApplicationActivation&) const = default;
};
ApplicationActivation planApplicationActivation(qint32 processIdentifier,
                                                const std::vector<X11ClientWindow>& frontToBack,
                                                quint32 activeWindow,
                                                const std::optional<ActivationRequest>& lastRequest,
                                                qint64 nowMs);

// Asks the window manager to activate (raise, focus, un-minimise) `window`, as a pager would, unless it is
// the active window or a request for it is pending: the several ways of raising one window (raise, make main,
// focus) make one request. False when no display answers.
bool requestActivation(quint32 window);

// Brings the process's application forward, as planApplicationActivation() says. False when the process has
// no managed window or no display answers.
bool activateApplication(qint32 processIdentifier);

} // namespace host
