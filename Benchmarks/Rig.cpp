#include "Rig.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Linux/Accessibility/AtspiAccessibility.h"
#include "CorvaneHost/Linux/Files/PrivacyGrants.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "Support/Files.h"
#include "Support/OutsidePrograms.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <atomic>
#include <cstdio>
#include <poll.h>
#include <thread>
#include <xcb/xcb.h>

namespace bench {

namespace detail {

PlatformChoice::PlatformChoice(bool drawsWidgets) {
    if (drawsWidgets && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

TestUserRun::TestUserRun(int argc, char** argv) {
    test::DesktopSession::runAsUnprivilegedUser(argc, argv);
}

TestUserRun::~TestUserRun() {
    test::DesktopSession::removeFreshHome();
}

bool saysWhyNot(bool started, const QString& reason) {
    if (!started)
        std::fprintf(stderr, "no desktop session: %s\n", qPrintable(reason));
    return started;
}

} // namespace detail

PrivateDisplay::~PrivateDisplay() {
    if (server_.state() != QProcess::NotRunning) {
        server_.terminate(); // its own pid, as QProcess started it
        server_.waitForFinished(3000);
    }
}

bool PrivateDisplay::start() {
    if (const QString missing = test::missingProgram(QStringLiteral("Xvfb")); !missing.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(missing));
        return false;
    }
    // The server writes the display number it chose to its standard output. It does not reset when its
    // last client leaves, which would turn away the next one while it resets.
    server_.setProgram(QStringLiteral("Xvfb"));
    server_.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-br"),
                          QStringLiteral("-noreset"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                          QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x1024x24")});
    server_.setStandardErrorFile(QProcess::nullDevice());
    server_.start();
    QElapsedTimer clock;
    clock.start();
    if (server_.waitForStarted(5000))
        while (!server_.canReadLine() && clock.elapsed() < 10000 && server_.state() == QProcess::Running)
            server_.waitForReadyRead(100);
    const QByteArray number = server_.readLine().trimmed();
    if (number.isEmpty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return false;
    }
    name_ = QStringLiteral(":") + QString::fromLatin1(number);
    return true;
}

namespace {

// Tells when the X server reports a window mapped at the top of the screen's tree (a managed window's frame;
// menus and tooltips, which bypass the window manager, are left out). A MapNotify carries no time, so a
// thread waits on a connection of its own and stamps each one by `clock` as it arrives: the time is the
// server's report, not the next turn of a poll.
class TopLevelMaps {
public:
    TopLevelMaps(const QString& display, const QElapsedTimer& clock)
        : clock_(clock)
        , connection_(xcb_connect(display.toLatin1().constData(), nullptr)) {
        if (xcb_connection_has_error(connection_))
            return;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root, XCB_CW_EVENT_MASK, &mask);
        // A round trip: the selection holds before the caller goes on to open a window.
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        thread_ = std::thread([this] { watch(); });
    }
    ~TopLevelMaps() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        xcb_disconnect(connection_);
    }
    bool isOpen() const { return thread_.joinable() && !xcb_connection_has_error(connection_); }
    // When the first window was mapped since the watch began, by the clock; none yet.
    std::optional<qint64> firstMapped() const {
        const qint64 at = firstMapped_.load();
        return at < 0 ? std::nullopt : std::optional<qint64>(at);
    }

private:
    void watch() {
        pollfd connection{xcb_get_file_descriptor(connection_), POLLIN, 0};
        while (!stop_ && !xcb_connection_has_error(connection_)) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const qint64 now = clock_.nsecsElapsed();
                if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                    !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect) {
                    qint64 none = -1;
                    firstMapped_.compare_exchange_strong(none, now);
                }
                std::free(event);
            }
            ::poll(&connection, 1, 100); // wakes as the server writes; the time-out only checks for the end
        }
    }

    const QElapsedTimer& clock_;
    xcb_connection_t* connection_;
    std::atomic<bool> stop_{false};
    std::atomic<qint64> firstMapped_{-1};
    std::thread thread_;
};

} // namespace

std::optional<double> openWindowShownToHeardMs(test::ChromiumHelperSession& session,
                                               test::HelperClient& client, qint64 expected) {
    QElapsedTimer clock;
    clock.start();
    const TopLevelMaps maps(session.desktop().display(), clock);
    if (!maps.isOpen()) {
        std::fprintf(stderr, "cannot watch the display %s for windows\n",
                     qPrintable(session.desktop().display()));
        return std::nullopt;
    }
    std::atomic<qint64> heard{-1};
    std::thread reader([&] {
        if (client.hears(expected, 20))
            heard = clock.nsecsElapsed();
    });
    session.desktop().openWindow(QStringLiteral("Work"));
    reader.join();
    const std::optional<qint64> shown = maps.firstMapped();
    if (heard < 0 || !shown)
        return std::nullopt;
    // Not clamped: a client that heard of the window before the server reported it mapped shows as such.
    return double(heard - *shown) / 1e6;
}

std::shared_ptr<AXProfileSource> startTracker(const QString& profile,
                                              const std::vector<ChromeProfile>& profiles) {
    host::PrivacyGrants::grant(QStringLiteral("Accessibility"),
                               host::AtspiAccessibility::ownGrantIdentifier());
    auto tracker = std::make_shared<AXProfileSource>();
    tracker->start();
    if (!profiles.empty())
        tracker->updateProfiles(profiles);
    WatchScope scope;
    scope.profileDirectory = profile;
    tracker->updateWatched({scope});
    return tracker;
}

bool copyHelperAs(const QString& helper, const QString& destination, const QString& identifier) {
    QDir().mkpath(QFileInfo(destination).absolutePath());
    if (QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), helper, destination}) != 0)
        return false;
    auto info = host::readBundleInfo(destination);
    if (!info)
        return false;
    info->insert(QStringLiteral("CFBundleIdentifier"), identifier);
    return host::writePropertyListFile(destination + QStringLiteral("/Contents/Info.plist"), *info);
}

bool writeStandInChrome(const test::TemporaryHome& home, const QString& script) {
    const QVariantMap browser{
        {QStringLiteral("CFBundleIdentifier"), Corvane::chromeBundleID},
        {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")},
        {QStringLiteral("CFBundleURLTypes"),
         QVariantList{QVariantMap{{QStringLiteral("CFBundleURLSchemes"),
                                   QVariantList{QStringLiteral("http"), QStringLiteral("https")}}}}}};
    return test::writeScriptBundle(home.file(QStringLiteral("Applications/Google Chrome.app")), browser,
                                   script);
}

} // namespace bench
