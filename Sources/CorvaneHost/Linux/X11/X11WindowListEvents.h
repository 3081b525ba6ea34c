#pragma once

#include <functional>
#include <memory>

namespace host {

// The X server's announcements that its list of windows changed: the window manager rewrites
// _NET_CLIENT_LIST on the root window, and top-level windows are mapped, unmapped and destroyed. They are
// read on a connection of their own from the main thread's event loop, so that whoever waits for windows to
// come and go hears of it at once instead of asking again and again.
class X11WindowListEvents {
public:
    class Subscription;
    using Handler = std::function<void()>;

    // Calls `handler` on the main thread after each batch of changes, for as long as the subscription lives;
    // none where no X display answers or no event loop runs.
    static std::shared_ptr<Subscription> subscribe(Handler handler);
};

} // namespace host
