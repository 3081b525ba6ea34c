#pragma once

#include "CorvaneHost/Linux/X11/X11Display.h"

#include <optional>

namespace host {

// Which window is in front and bringing a program's windows forward, through the window manager's hints
// (EWMH) on this session's X display. Without a display neither is known or possible.

// The window manager's active window (_NET_ACTIVE_WINDOW) with its process and class; none when no window is
// active or no display answers.
std::optional<X11ClientWindow> activeClientWindow();

// Asks the window manager to activate the frontmost window of the process (by _NET_WM_PID), as a pager
// would (source indication 2), minimised or not. False when the process has no managed window or no display
// answers.
bool activateTopWindowOf(qint32 processIdentifier);

} // namespace host
