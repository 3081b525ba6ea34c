#pragma once

#include "CorvaneHost/Accessibility.h"
#include "Support/DesktopSession.h"
#include "Support/HelperSession.h"

#include <QList>
#include <QString>
#include <memory>
#include <optional>

namespace test {

// Chromium's windows as the host's accessibility service shows them. Chromium names a browser window
// "<page> - Chromium - <profile>", an incognito one "<page> - Chromium (Incognito)" when only one profile is
// open and with the profile otherwise; a profile's windows are matched by its name at the end, incognito
// ones by their marker.
QList<host::AXElement> chromiumWindows(const host::AXElement& chromium, const QString& profile,
                                       bool incognito = false);
QString titleOf(const host::AXElement& element);
// Presses the window's close button, as a user does.
void pressCloseButton(const host::AXElement& window);
std::optional<host::AXElement> focusedWindow(const host::AXElement& chromium);

// A private desktop (DesktopSession) with Chromium showing one window of "Home", which keeps Chromium
// running while other profiles' windows come and go, and the built helper running in it, trusted for
// accessibility as a user trusts it. One per test program or benchmark; the accessibility service of this
// process talks to the session from start() on.
class ChromiumHelperSession {
public:
    explicit ChromiumHelperSession(DesktopSession::Options options = {});
    ~ChromiumHelperSession();
    ChromiumHelperSession(const ChromiumHelperSession&) = delete;
    ChromiumHelperSession& operator=(const ChromiumHelperSession&) = delete;

    // False, with failure(), when the desktop, Chromium's window of Home or the helper does not start.
    bool start();
    const QString& failure() const { return failure_; }

    DesktopSession& desktop() { return desktop_; }
    HelperProcess& helper() { return helper_; }
    // Chromium's application element.
    const host::AXElement& chromium() const { return chromium_; }

    QList<host::AXElement> windows(const QString& profile, bool incognito = false) const {
        return chromiumWindows(chromium_, profile, incognito);
    }
    // Opens a window of the profile and waits until Chromium shows it; whether it did.
    bool openWindow(const QString& profile, bool incognito = false);
    // Closes the profile's windows by their close buttons and waits until they are gone; whether they are.
    bool closeWindows(const QString& profile, bool incognito = false);

    // A generous wait for what the browser and the helper do in their own time.
    static constexpr double generous = 15;

private:
    QString failure_;
    DesktopSession desktop_;
    HelperProcess helper_;
    host::AXElement chromium_;
};

} // namespace test
