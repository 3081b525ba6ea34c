#pragma once

#include "CorvaneHost/Linux/X11/X11Display.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <sys/types.h>
#include <vector>

namespace test {

// A private desktop for end-to-end tests against a real browser:
//   - Xvfb on a free display number, with openbox as its window manager;
//   - a private D-Bus session bus with the desktop's accessibility bus (at-spi-bus-launcher), its switch
//     (org.a11y.Status.IsEnabled) set as asked;
//   - Chromium (/usr/bin/chromium) with a temporary user-data folder whose "Local State" names the profiles
//     asked for, one window per openWindow() call.
// The session puts DISPLAY and DBUS_SESSION_BUS_ADDRESS into this process's environment, so the host's
// services (accessibility, window list, keys) talk to it; start it before the first use of those services.
// It ends every process it started, by pid, when it goes away (and they end with this process if it dies).
//
// Chromium refuses to run as root without giving up its sandbox, so a test program that uses the session
// calls runAsUnprivilegedUser() first thing in main(): as root it re-runs the whole program as the user
// "corvane-test" (or CORVANE_DESKTOP_TEST_USER; created when missing) with a fresh home folder, so the tests,
// the buses and Chromium share one user. Typical use, one session per test program:
//
//   static test::DesktopSession* session = ...;       // in SetUpTestSuite
//   session->start();
//   ASSERT_TRUE(session->failure().isEmpty()) << ...;  // in SetUp: a desktop that did not start fails the
//   test session->openWindow("Work"); test::DesktopSession::waitUntil([&] { return ...; }, 10);
class DesktopSession {
public:
    struct Options {
        // Profile directories; each profile's display name is its directory's name.
        QStringList profiles{QStringLiteral("Work"), QStringLiteral("Home")};
        bool accessibilitySwitch = true;
        // Chromium runs on when its last window closes (as with background apps), instead of ending.
        bool chromiumOutlivesItsWindows = false;
    };

    // As root: re-executes this program as the unprivileged test user and never returns; otherwise nothing.
    static void runAsUnprivilegedUser(int argc, char** argv);
    // Removes the fresh home folder that runAsUnprivilegedUser() made for this run, if any.
    static void removeFreshHome();

    // Runs the main thread's events until `condition` holds or `seconds` have passed; whether it held.
    static bool waitUntil(const std::function<bool()>& condition, double seconds);

    DesktopSession();
    explicit DesktopSession(Options options);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // Starts the display, the window manager and the buses. False, with failure(), when a program they need
    // is not installed (the bootstrap installs every one) or one of them does not come up in time. The
    // display server is Xvfb, or the program CORVANE_DESKTOP_XVFB names (a check that a display that does not
    // come up fails the tests).
    bool start();
    // Why the session did not start ("Xvfb is not installed: ...", "Xvfb did not start"), or empty.
    const QString& failure() const { return failure_; }

    // Ends what a test opened in the session, each by its pid: Chromium (also one that a program under test
    // started) and the programs that run from the home folder (the installed creator app, helpers, proxy
    // apps). Then waits until no window is left on the screen; whether none is (windowsOnScreen() says which
    // are left).
    bool clearDesktop();
    // The managed windows on the screen (mapped, not minimised, not the desktop's background or a panel),
    // front to back.
    static std::vector<host::X11ClientWindow> windowsOnScreen();

    QString display() const { return display_; }
    // The environment of the programs the session starts (its display and buses, the system's desktop
    // entries); for programs a test starts in the session itself.
    QProcessEnvironment programEnvironment() const { return sessionEnvironment_; }
    // Chromium's user-data folder, holding "Local State".
    QString userDataDirectory() const;

    // Opens a window of the profile: starts Chromium with it (the first time, or after stopChromium()), else
    // asks the running Chromium for one. `environment` adds variables to Chromium's when it is started.
    // False when Chromium could not be started.
    bool openWindow(const QString& profileDirectory, const QString& url = QStringLiteral("about:blank"),
                    const QProcessEnvironment& environment = {});
    // Opens an incognito window of the profile, as openWindow() does.
    bool openIncognitoWindow(const QString& profileDirectory);
    // The running Chromium's main process, or 0.
    pid_t chromiumPid() const { return chromium_; }
    // The window manager's process, or 0 (to hold it, as a busy window manager is late).
    pid_t windowManagerPid() const { return windowManager_; }
    void stopChromium();

    // The desktop's accessibility switch.
    bool setAccessibilitySwitch(bool on);

private:
    pid_t spawn(const QStringList& arguments, const QProcessEnvironment& environment, int passFd = -1,
                const QString& logName = {});
    void writeLocalState() const;
    void endSessionProcesses();
    QStringList chromiumArguments(const QString& profileDirectory, const QString& url) const;
    bool startOrAsk(const QStringList& arguments, const QProcessEnvironment& environment);

    Options options_;
    QTemporaryDir folder_;
    QString failure_;
    QString display_;
    QString busAddress_;
    QProcessEnvironment sessionEnvironment_; // of every program the session starts
    std::vector<pid_t> started_;             // in start order
    pid_t chromium_ = 0;
    pid_t windowManager_ = 0;
    bool running_ = false;
};

} // namespace test
