#include "CorvaneHost/Linux/X11/X11Activation.h"

namespace host {

std::optional<X11ClientWindow> activeClientWindow() {
    const auto display = X11Display::shared();
    if (!display)
        return std::nullopt;
    const quint32 active = display->activeWindow();
    if (active == 0)
        return std::nullopt;
    for (const X11ClientWindow& window : display->clientWindows())
        if (window.id == active)
            return window;
    return std::nullopt;
}

bool activateTopWindowOf(qint32 processIdentifier) {
    if (processIdentifier <= 0)
        return false;
    const auto display = X11Display::shared();
    if (!display)
        return false;
    // Front to back: the first of the process's own windows is its top one.
    for (const X11ClientWindow& window : display->clientWindows())
        if (window.pid == processIdentifier && !window.desktop && !window.dock) {
            display->activate(window.id);
            return true;
        }
    return false;
}

} // namespace host
