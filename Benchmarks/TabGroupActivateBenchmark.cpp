// `activate` for a tab-group proxy app against a real tab group of a real Chromium on a private desktop, the
// group made by the test's extension (Support/TabGroupSession.h):
//   - activateToGroupInFront: the group open in a window behind another one, until the window manager's
//   active
//     window is the group's (target under 500 ms);
//   - activateToGroupReopened: the group closed (by the helper's closeWindows for it, so kept saved), until
//     Chromium reports it open again (target under 3 s, for the reopening drives Chromium's menus).
// Each runs 10 rounds; the figure is their median.
// Run by hand: build/Benchmarks/TabGroupActivateBenchmark (as root it re-runs itself as the test user).
#include "CorvaneHost/Linux/X11/X11Display.h"
#include "Figures.h"
#include "Rig.h"
#include "Samples.h"
#include "Support/TabGroupSession.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <set>
#include <thread>

namespace {

const QString work = QStringLiteral("Work");
const QString inFront = QStringLiteral("Bench front");
const QString reopened = QStringLiteral("Bench reopen");

test::TabGroupSession* session = nullptr;

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

// A new window with the group `title` and the X window that shows it (the one it added).
std::optional<std::pair<test::TabGroupSession::Group, quint32>> groupWindow(const QString& title) {
    const std::set<quint32> before = chromiumClientWindows();
    const test::TabGroupSession::Group group = session->makeGroupInNewWindow(title);
    if (!group.groupId)
        return std::nullopt;
    std::optional<quint32> shown;
    test::DesktopSession::waitUntil(
        [&] {
            for (quint32 id : chromiumClientWindows())
                if (!before.count(id))
                    shown = id;
            return shown.has_value();
        },
        20);
    if (!shown)
        return std::nullopt;
    return std::make_pair(group, *shown);
}

void activateToGroupInFront(benchmark::State& state) {
    const auto group = groupWindow(inFront);
    const qint64 other = session->openWindow(QStringLiteral("other"));
    auto client = test::HelperClient::connect(work, false, inFront, false);
    if (!group || !other || !client || !client->hears(1, 30)) {
        state.SkipWithError("no group of Chromium's to raise");
        return;
    }
    std::vector<double> figures;
    for (auto _ : state) {
        if (!session->run({{QStringLiteral("op"), QStringLiteral("focusWindow")},
                           {QStringLiteral("windowId"), other}}) ||
            !test::DesktopSession::waitUntil(
                [&] { return host::X11Display::shared()->activeWindow() != group->second; }, 10)) {
            state.SkipWithError("the other window did not come to the front");
            return;
        }
        QElapsedTimer clock;
        clock.start();
        const std::optional<Response> answer = client->send(Request(0, Request::Op::activate), 30);
        if (!answer || answer->action != Response::Action::raised || !waitForActive(group->second, 10)) {
            state.SkipWithError("activate did not bring the group's window to the front");
            return;
        }
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        figures.push_back(seconds * 1000);
        state.SetIterationTime(seconds);
    }
    bench::countTimes(state, "", figures);
}
BENCHMARK(activateToGroupInFront)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

void activateToGroupReopened(benchmark::State& state) {
    const auto group = groupWindow(reopened);
    auto client = test::HelperClient::connect(work, false, reopened, false);
    if (!group || !client || !client->hears(1, 30)) {
        state.SkipWithError("no group of Chromium's to reopen");
        return;
    }
    std::vector<double> figures;
    for (auto _ : state) {
        const std::optional<Response> closed = client->send(Request(0, Request::Op::closeWindows), 30);
        if (!closed || closed->closed != 1 || !client->hears(0, 30) ||
            !test::DesktopSession::waitUntil([] { return session->report().groupsTitled(reopened).empty(); },
                                             10)) {
            state.SkipWithError("the helper did not close the group");
            return;
        }
        // The worker answers once Chromium has the group open again, with the time it saw it so.
        const qint64 waiting = session->extension().post(
            session->workWorker(),
            {{QStringLiteral("op"), QStringLiteral("waitForGroup")}, {QStringLiteral("title"), reopened}});
        if (!session->extension().handedOut(waiting, 10)) {
            state.SkipWithError("the extension's worker did not take the command");
            return;
        }
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        const std::optional<Response> answer = client->send(Request(0, Request::Op::activate), 30);
        const auto seen = session->extension().awaitAnswer(waiting, 20);
        if (!answer || answer->action != Response::Action::openedGroup || !seen) {
            state.SkipWithError("activate did not reopen the group");
            return;
        }
        const double ms = double(seen->value(QStringLiteral("at")).toInteger() - start);
        figures.push_back(ms);
        state.SetIterationTime(ms / 1000);
        client->hears(1, 30);
    }
    bench::countTimes(state, "", figures);
}
BENCHMARK(activateToGroupReopened)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    bench::DesktopRig rig(argc, argv, session);
    if (!rig.start())
        return 1;
    return bench::main(argc, argv,
                       {
                           {"activateToGroupInFront", "median_ms", "<", 500, "ms"},
                           {"activateToGroupReopened", "median_ms", "<", 3000, "ms"},
                       });
}
