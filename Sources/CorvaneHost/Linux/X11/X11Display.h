#pragma once

#include <QRect>
#include <QString>
#include <memory>
#include <mutex>
#include <vector>

namespace host {

// One top-level window that the window manager manages, as X11 and its window-manager hints (EWMH) describe
// it.
struct X11ClientWindow {
    quint32 id = 0;
    qint32 pid = 0; // 0 when the window does not name its process
    QString title;
    QString wmInstance;    // WM_CLASS: the instance name ("xterm")
    QString wmClass;       // WM_CLASS: the class name ("XTerm")
    QRect bounds;          // in root coordinates
    bool viewable = false; // mapped, with every ancestor mapped
    bool hidden = false;   // minimised (or otherwise hidden by the window manager)
    bool desktop = false;  // the desktop's own background window
    bool dock = false;     // a panel or dock
    bool keepAbove = false;
};

// The connection to this session's X display, shared by the window list, the accessibility service (window
// state, raising, closing) and synthetic keys. Thread-safe: every call holds the connection's lock.
class X11Display {
public:
    // The display named by $DISPLAY, or none when no X display answers. Reconnects when $DISPLAY changes.
    static std::shared_ptr<X11Display> shared();

    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    // Whether a window manager that follows EWMH runs on the display.
    bool hasWindowManager();
    // The managed windows, front to back.
    std::vector<X11ClientWindow> clientWindows();
    // The window manager's active window, or 0.
    quint32 activeWindow();
    // Asks the window manager to activate (raise, focus and un-minimise) `window`. Returns once the X server
    // has the request (and every request made before it), so a program told of it afterwards finds it there.
    void activate(quint32 window);
    // The 32-bit numbers the root window holds under `property`, or none. What one program of the session
    // leaves there, every other one reads.
    std::vector<quint32> rootNumbers(const char* property);
    void setRootNumbers(const char* property, const std::vector<quint32>& numbers);
    // Asks the window manager to minimise `window`.
    void minimize(quint32 window);
    // Asks the window manager to close `window`, as its close button would.
    void close(quint32 window);
    // A synthetic key press or release of the key that types `keysym`; false when no key types it.
    bool sendKey(quint32 keysym, bool down);

private:
    struct Connection;
    explicit X11Display(std::unique_ptr<Connection> connection, QByteArray name);
    quint8 keycodeFor(quint32 keysym);
    quint32 atom(const char* name);
    void sendRootMessage(quint32 window, quint32 type, const quint32 (&data)[5]);

    std::mutex mutex_;
    std::unique_ptr<Connection> connection_;
    QByteArray name_;
};

} // namespace host
