#pragma once

// What a benchmark program sets up around its runs, so that each program tells only what it measures:
//   - HomeRig: a temporary home folder and the program's Qt application;
//   - DesktopRig: a private desktop session (Xvfb, window manager, buses, Chromium; with a
//     ChromiumHelperSession the built helper too), run as the desktop's test user;
//   - PrivateDisplay: a bare X server for programs watched from outside;
// and what the desktop benchmarks ask of such a session.
#include "CorvaneHelper/WindowTracking/AXProfileSource.h"
#include "Support/ChromiumSession.h"
#include "Support/DesktopSession.h"
#include "Support/HelperSession.h"
#include "Support/TemporaryHome.h"

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <type_traits>
#include <vector>

namespace bench {

namespace detail {

// Widgets draw offscreen unless QT_QPA_PLATFORM names a platform; set before the application is made.
struct PlatformChoice {
    explicit PlatformChoice(bool drawsWidgets);
};

// As root, runs the whole program again as the desktop's test user (and never returns); at the end removes
// the fresh home folder that made.
struct TestUserRun {
    TestUserRun(int argc, char** argv);
    ~TestUserRun();
    TestUserRun(const TestUserRun&) = delete;
    TestUserRun& operator=(const TestUserRun&) = delete;
};

// Whether `started`; if not, says why on stderr.
bool saysWhyNot(bool started, const QString& reason);

} // namespace detail

// Lays out a copy of the built helper bundle `helper` at `destination`, under the bundle identifier
// `identifier`, so that it runs beside any helper of this account. Whether it could.
bool copyHelperAs(const QString& helper, const QString& destination, const QString& identifier);

// Lays out a stand-in Google Chrome for web links in the home's "Applications" folder that runs `script`.
// Whether it could.
bool writeStandInChrome(const test::TemporaryHome& home, const QString& script);

// The program in a temporary home folder with its application: QCoreApplication, or QApplication for
// benchmarks that draw widgets.
template <typename Application = QCoreApplication> class HomeRig {
public:
    HomeRig(int& argc, char** argv)
        : app_(argc, argv) {}

private:
    test::TemporaryHome home_;
    detail::PlatformChoice platform_{!std::is_same_v<Application, QCoreApplication>};
    Application app_;
};

// The program on a private desktop session of its own (test::DesktopSession or test::ChromiumHelperSession),
// in a temporary home folder, the session known to the benchmarks as `session`; everything the session
// started ends with the rig.
template <typename Session> class DesktopRig {
public:
    DesktopRig(int& argc, char** argv, Session*& session)
        : user_(argc, argv)
        , app_(argc, argv) {
        session = &session_;
    }

    // Whether the session started; if not, says why on stderr.
    bool start() { return detail::saysWhyNot(session_.start(), session_.failure()); }

private:
    detail::TestUserRun user_;
    test::TemporaryHome home_;
    QCoreApplication app_;
    Session session_;
};

// Xvfb on a display number of its own choosing, without a window manager, its empty screen black; ended by
// its pid when this goes.
class PrivateDisplay {
public:
    PrivateDisplay() = default;
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    // Whether the server runs; if not, says why on stderr.
    bool start();
    QString name() const { return name_; }

private:
    QProcess server_;
    QString name_;
};

// Opens a window of Work in `session`'s Chromium; the milliseconds from the X server reporting it mapped to
// `client` hearing `expected` windows, or none when either did not happen within 20 s.
std::optional<double> openWindowShownToHeardMs(test::ChromiumHelperSession& session,
                                               test::HelperClient& client, qint64 expected);

// A window tracker in this process, trusted for accessibility as the helper is, started and watching
// `profile`; told Chrome's profiles when `profiles` names them.
std::shared_ptr<AXProfileSource> startTracker(const QString& profile,
                                              const std::vector<ChromeProfile>& profiles = {});

} // namespace bench
