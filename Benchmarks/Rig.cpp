#include "Rig.h"

#include "CorvaneHost/Linux/Accessibility/AtspiAccessibility.h"
#include "CorvaneHost/Linux/Files/PrivacyGrants.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/WindowList.h"
#include "Support/OutsidePrograms.h"

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

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

int chromiumWindowsOnScreen(pid_t chromium) {
    const auto list = host::windowList().windowList(host::WindowList::optionOnScreenOnly |
                                                        host::WindowList::optionExcludeDesktopElements,
                                                    host::WindowList::nullWindowID);
    int count = 0;
    for (const QVariant& entry : list.value_or(QVariantList()))
        if (entry.toMap().value(host::WindowList::ownerPIDKey).toInt() == chromium &&
            entry.toMap().value(host::WindowList::layerKey).toInt() == 0)
            ++count;
    return count;
}

std::optional<double> openWindowShownToHeardMs(test::ChromiumHelperSession& session,
                                               test::HelperClient& client, qint64 expected) {
    QElapsedTimer clock;
    std::atomic<qint64> heard{-1};
    const pid_t chromium = session.desktop().chromiumPid();
    const int before = chromiumWindowsOnScreen(chromium);
    clock.start();
    std::thread reader([&] {
        if (client.hears(expected, 20))
            heard = clock.nsecsElapsed();
    });
    session.desktop().openWindow(QStringLiteral("Work"));
    qint64 shown = -1;
    while (clock.elapsed() < 20000 && heard < 0) {
        if (shown < 0 && chromiumWindowsOnScreen(chromium) > before)
            shown = clock.nsecsElapsed();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    reader.join();
    if (heard < 0 || shown < 0)
        return std::nullopt;
    return double(std::max<qint64>(0, heard - shown)) / 1e6;
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

} // namespace bench
