// A click on a running proxy app (the reopen event delivered to its running launcher) until Chromium's window
// of the app's profile is the window manager's active window: target under 300 ms. Before each click a window
// of another profile is made the active one. A round counts only when the profile's window is still the
// active one once the window manager has settled; the share of rounds that end with another window in front
// is a figure of its own (target none). Real Chromium, the real helper and the real launcher on a private
// desktop session.
#include "CorvaneHost/AppleEvent.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/Linux/X11/X11Display.h"
#include "Figures.h"
#include "Rig.h"
#include "Samples.h"
#include "Support/ChromiumSession.h"
#include "Support/ProxyAppProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <set>
#include <thread>
#include <unistd.h>

namespace {

const QString proxyAppID = QStringLiteral("app.corvane.bench0reopen01");

test::ChromiumHelperSession* session = nullptr;
quint32 homeWindow = 0;
quint32 workWindow = 0;
// How long the window manager takes to carry out what it was asked, with room to spare.
constexpr double settleSeconds = 0.3;

std::set<quint32> chromiumClientWindows() {
    std::set<quint32> ids;
    for (const host::X11ClientWindow& window : host::X11Display::shared()->clientWindows())
        if (window.pid == session->desktop().chromiumPid() && window.viewable)
            ids.insert(window.id);
    return ids;
}

bool waitForActive(quint32 window, double seconds) {
    QElapsedTimer clock;
    clock.start();
    const auto x11 = host::X11Display::shared();
    while (x11->activeWindow() != window) {
        if (clock.elapsed() > seconds * 1000)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}

// Whether `window` stays the active one for `seconds`, looked at as often as the server answers.
bool staysActive(quint32 window, double seconds) {
    QElapsedTimer clock;
    clock.start();
    const auto x11 = host::X11Display::shared();
    while (clock.elapsed() < seconds * 1000) {
        if (x11->activeWindow() != window)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}

void describeWindows() {
    const auto x11 = host::X11Display::shared();
    std::fprintf(stderr, "active %u, Home's %u, Work's %u\n", x11->activeWindow(), homeWindow, workWindow);
    for (const host::X11ClientWindow& window : x11->clientWindows())
        std::fprintf(stderr, "  %u pid %d viewable %d hidden %d: %s\n", window.id, window.pid,
                     window.viewable, window.hidden, qPrintable(window.title));
}

void reopenToActiveWindow(benchmark::State& state) {
    // Home's window is brought to the front through the helper, as Home's own proxy app would.
    auto home = test::HelperClient::connect(QStringLiteral("Home"), false);
    if (!home) {
        state.SkipWithError("no helper");
        return;
    }
    std::vector<double> figures;
    int rounds = 0;
    int wrongWindows = 0;
    for (auto _ : state) {
        home->send(Request(0, Request::Op::activate));
        if (!waitForActive(homeWindow, 10) || !staysActive(homeWindow, settleSeconds)) {
            describeWindows();
            state.SkipWithError("Home's window did not become active");
            return;
        }
        QElapsedTimer clock;
        clock.start();
        if (!host::deliverToRunningApplication(proxyAppID, {host::AppleEvent::reopen(qint32(::getpid()))})) {
            state.SkipWithError("the launcher took no reopen event");
            return;
        }
        ++rounds;
        const bool shown = waitForActive(workWindow, 10);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
        // Work's window seen in front once is not enough: another request may still take the front back.
        if (!shown || !staysActive(workWindow, settleSeconds)) {
            ++wrongWindows;
            describeWindows();
            continue;
        }
        figures.push_back(seconds * 1000);
    }
    bench::countTimes(state, "", figures);
    state.counters["wrong_window_rate"] = rounds ? double(wrongWindows) / rounds : 0;
    std::fprintf(stderr, "%d of %d reopens left another window in front\n", wrongWindows, rounds);
}
BENCHMARK(reopenToActiveWindow)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);

// Starts the proxy app for Work and notes which of Chromium's windows are Home's and Work's.
bool prepare(test::LauncherProcess& launcher) {
    const std::set<quint32> before = chromiumClientWindows();
    if (before.size() != 1)
        return false;
    homeWindow = *before.begin();
    QProcessEnvironment environment = session->desktop().programEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!launcher.start(environment))
        return false;
    if (!test::DesktopSession::waitUntil([] { return chromiumClientWindows().size() == 2; }, 30))
        return false;
    for (quint32 id : chromiumClientWindows())
        if (id != homeWindow)
            workWindow = id;
    // The helper counts Work's window, so a reopen is answered by raising it.
    auto watcher = test::HelperClient::connect(QStringLiteral("Work"), false);
    return watcher && watcher->hears(1, 30) && !session->windows(QStringLiteral("Work")).isEmpty();
}

} // namespace

int main(int argc, char** argv) {
    bench::DesktopRig rig(argc, argv, session);
    if (!rig.start())
        return 1;
    const QString appPath =
        test::buildProxyApp(QDir::homePath() + QStringLiteral("/Applications"), QStringLiteral("Work"),
                            proxyAppID, QStringLiteral("Work"), true);
    test::LauncherProcess launcher(appPath, QDir::homePath() + QStringLiteral("/launcher.log"));
    if (!prepare(launcher)) {
        std::fprintf(stderr, "the proxy app did not open Work's window\n%s\n%s\n", qPrintable(launcher.log()),
                     qPrintable(session->helper().log()));
        return 1;
    }
    return bench::main(argc, argv,
                       {
                           {"reopenToActiveWindow", "median_ms", "<", 300, "ms"},
                           {"reopenToActiveWindow", "wrong_window_rate", "<=", 0, "share"},
                       });
}
