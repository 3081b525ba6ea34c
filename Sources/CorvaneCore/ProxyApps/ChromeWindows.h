#pragma once

#include "CorvaneHost/Workspace.h"

#include <optional>
#include <vector>

// What the window server's list says about Google Chrome's windows: it needs no Accessibility permission but
// can only count Chrome's ordinary on-screen windows, without telling profiles apart. Nothing is kept between
// calls; every answer is a fresh snapshot.
namespace ChromeWindows {

// The running application with Chrome's bundle identifier: the first in the order the system lists them, or
// where several run, the first whose windows the window server shows.
std::optional<host::RunningApplication> runningChrome();
bool isChromeRunning();

// The number of Chrome's ordinary windows on screen (taller than 100 points, on layer 0), or none when
// Chrome is not running or the window list cannot be had.
std::optional<int> onScreenCount();

// onScreenCount() greater than 0, whatever the screen-recording permission says.
bool hasVisibleWindows();

// Whether this process may see other applications' windows (the screen-recording preflight; never prompts).
bool canSeeOtherApplicationsWindows();

// Whether Chrome shows at least one window, or none when the count is unknown or, without the
// screen-recording permission, not to be trusted.
std::optional<bool> visibleWindows();

// How many of the windows `windowNumbers` the window server still has, on screen or minimised: it cannot tell
// Chrome's profiles apart, but it knows each window by its number. None when the list cannot be had or,
// without the screen-recording permission, not be trusted.
std::optional<int> listedCount(const std::vector<quint32>& windowNumbers);

} // namespace ChromeWindows
