// Reads of Chrome's accessibility tree against a real Chromium on a private desktop session, both ways in one
// run: read ahead (each level of a search asked for at once) and one by one (every attribute and child list
// its own round trip, as before):
//   - classifying one browser window (title, toolbar, avatar button, tab strip; searches within depth 10):
//     target median under 3 ms;
//   - the tracker's refresh with 20 open windows: target under 17.1 ms (what it took one by one, measured
//     on a quiet machine);
//   - classifying a window the moment it appears (no target of its own: it is most of the time from a window
//     shown to the helper's `windows` event, see HelperWindowDiscoveryBenchmark);
//   - the accessibility bus's cache interface: Chromium's answer and how many elements it names.
// Each figure is printed with its ratio to the one-by-one way of the same run, which holds on a loaded
// machine where the times do not. Run by hand: build/Benchmarks/AccessibilityReadsBenchmark (as root it
// re-runs itself as the test user).
#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "CorvaneHelper/WindowTracking/AX.h"
#include "CorvaneHelper/WindowTracking/AXProfileSource.h"
#include "CorvaneHelper/WindowTracking/ProfileClassifier.h"
#include "CorvaneHost/Accessibility.h"
#include "CorvaneHost/Linux/Accessibility/AtspiAccessibility.h"
#include "CorvaneHost/Services.h"
#include "Figures.h"
#include "Rig.h"
#include "Samples.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <map>
#include <string>

namespace {

using bench::median;
using host::AXElement;

test::DesktopSession* session = nullptr;
AXElement application;
// Each benchmark's iteration times in ms, by its name.
std::map<std::string, std::vector<double>> timesByName;

ChromeProfile profileNamed(const QString& name) {
    ChromeProfile profile;
    profile.directory = name;
    profile.name = name;
    return profile;
}

const std::vector<ChromeProfile>& profiles() {
    static const std::vector<ChromeProfile> list{profileNamed(QStringLiteral("Work")),
                                                 profileNamed(QStringLiteral("Home"))};
    return list;
}

QList<AXElement> workWindows() {
    QList<AXElement> found;
    for (const AXElement& window : AX::windows(application))
        if (AX::string(window, QStringLiteral("AXTitle"))
                .value_or(QString())
                .endsWith(QStringLiteral(" - Chromium - Work")))
            found.append(window);
    return found;
}

// Runs what the event loop has (so that nothing read in one iteration answers in the next, as between two
// passes of the helper), then times `work` alone.
template <typename Work>
void timeIterations(benchmark::State& state, const std::string& name, bool readAhead, Work work) {
    host::AtspiAccessibility::setReadsAhead(readAhead);
    std::vector<double>& times = timesByName[name + (readAhead ? "/readAhead" : "/oneByOne")];
    for (auto _ : state) {
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        work();
        const qint64 elapsed = clock.nsecsElapsed();
        times.push_back(double(elapsed) / 1e6);
        state.SetIterationTime(double(elapsed) / 1e9);
    }
    host::AtspiAccessibility::setReadsAhead(true);
}

void classifyWindow(benchmark::State& state, bool readAhead) {
    const QList<AXElement> windows = workWindows();
    if (windows.isEmpty()) {
        state.SkipWithError("no window of Work");
        return;
    }
    const AXElement window = windows.first();
    ProfileClassifier classifier{profiles()};
    Classification result;
    timeIterations(state, "classifyWindow", readAhead,
                   [&] { result = classifier.classify(window, std::nullopt, std::nullopt); });
    if (result.profileDirectory != QStringLiteral("Work") || result.kind != WindowKind::browser)
        state.SkipWithError("the window was not classified as Work's browser window");
}
BENCHMARK_CAPTURE(classifyWindow, oneByOne, false)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(60);
BENCHMARK_CAPTURE(classifyWindow, readAhead, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(60);

std::shared_ptr<AXProfileSource> tracker;
bool trackingFailed = false;

bool trackTwentyWindows() {
    while (workWindows().size() < 20) {
        const qsizetype before = workWindows().size();
        session->openWindow(QStringLiteral("Work"));
        if (!test::DesktopSession::waitUntil([&] { return workWindows().size() > before; }, 10))
            return false;
    }
    tracker = bench::startTracker(QStringLiteral("Work"), profiles());
    WatchScope scope;
    scope.profileDirectory = QStringLiteral("Work");
    const bool tracked = test::DesktopSession::waitUntil(
        [&] {
            tracker->refresh(QStringLiteral("benchmark"));
            return tracker->report(scope).count == 20;
        },
        30);
    if (!tracked)
        std::fprintf(stderr, "tracked %lld windows, %lld of them Work's\n", tracker->trackedWindowCount(),
                     tracker->report(scope).count);
    return tracked;
}

void refreshTwenty(benchmark::State& state, bool readAhead) {
    if (!tracker && !trackingFailed)
        trackingFailed = !trackTwentyWindows();
    if (trackingFailed) {
        state.SkipWithError("20 windows of Work were not tracked");
        return;
    }
    timeIterations(state, "refreshTwenty", readAhead, [] { tracker->refresh(QStringLiteral("benchmark")); });
}
BENCHMARK_CAPTURE(refreshTwenty, oneByOne, false)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(30);
BENCHMARK_CAPTURE(refreshTwenty, readAhead, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(30);

// Chromium's answer to the accessibility bus's cache interface (the elements it keeps there, each with role,
// name, description, states and parent, in one message): how long one answer takes and how many elements it
// names (run after the refresh, with its 20 windows open). Measured with Chromium 156, it names the
// application and its top-level frames only, nothing inside a window, so it cannot answer what classifying a
// window reads.
QString chromiumBusName(QDBusConnection& bus) {
    const QDBusReply<QStringList> names = bus.interface()->registeredServiceNames();
    for (const QString& name : names.value())
        if (name.startsWith(QLatin1Char(':')) &&
            bus.interface()->servicePid(name).value() == uint(session->chromiumPid()))
            return name;
    return {};
}

void cacheItems(benchmark::State& state) {
    const QDBusMessage address = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
    QDBusConnection bus = QDBusConnection::connectToBus(address.arguments().value(0).toString(),
                                                        QStringLiteral("benchmark-a11y"));
    const QString chromium = chromiumBusName(bus);
    if (chromium.isEmpty()) {
        state.SkipWithError("Chromium is not on the accessibility bus");
        return;
    }
    qint64 items = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        const QDBusMessage reply =
            bus.call(QDBusMessage::createMethodCall(chromium, QStringLiteral("/org/a11y/atspi/cache"),
                                                    QStringLiteral("org.a11y.atspi.Cache"),
                                                    QStringLiteral("GetItems")),
                     QDBus::Block, 5000);
        const qint64 elapsed = clock.nsecsElapsed();
        state.SetIterationTime(double(elapsed) / 1e9);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            state.SkipWithError(qPrintable(reply.errorMessage()));
            return;
        }
        const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
        items = 0;
        list.beginArray();
        while (!list.atEnd()) {
            QVariant item;
            list >> item;
            ++items;
        }
        list.endArray();
    }
    state.counters["elements"] = double(items);
}
BENCHMARK(cacheItems)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

// Classifying a window the moment it appears, while Chromium is still building it (what the helper does
// when a window opens): the two ways alternate, one window each, so both meet the same busy browser.
void classifyShownWindow(benchmark::State& state) {
    ProfileClassifier classifier{profiles()};
    bool readAhead = false;
    for (auto _ : state) {
        readAhead = !readAhead;
        host::AtspiAccessibility::setReadsAhead(readAhead);
        const QList<AXElement> before = workWindows();
        session->openWindow(QStringLiteral("Work"));
        QList<AXElement> now;
        test::DesktopSession::waitUntil([&] { return (now = workWindows()).size() > before.size(); }, 10);
        const auto shown = std::find_if(now.begin(), now.end(),
                                        [&](const AXElement& window) { return !before.contains(window); });
        if (shown == now.end()) {
            state.SkipWithError("no new window of Work");
            break;
        }
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        const Classification result = classifier.classify(*shown, std::nullopt, std::nullopt);
        const qint64 elapsed = clock.nsecsElapsed();
        timesByName[std::string("classifyShownWindow") + (readAhead ? "/readAhead" : "/oneByOne")].push_back(
            double(elapsed) / 1e6);
        state.SetIterationTime(double(elapsed) / 1e9);
        if (result.profileDirectory != QStringLiteral("Work"))
            state.SkipWithError("a window just shown was not classified as Work's");
    }
    host::AtspiAccessibility::setReadsAhead(true);
}
BENCHMARK(classifyShownWindow)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(30);

// The median of the read-ahead way against the one-by-one way's, both from this run.
void printRatio(const std::string& benchmark) {
    const std::vector<double>& before = timesByName[benchmark + "/oneByOne"];
    const std::vector<double>& after = timesByName[benchmark + "/readAhead"];
    if (before.empty() || after.empty())
        return;
    std::printf("%s: one by one %.2f ms, read ahead %.2f ms (medians)\n", benchmark.c_str(), median(before),
                median(after));
    bench::printFigure(benchmark + " readAhead/oneByOne", median(after) / median(before), "ratio", "<", 1);
}

} // namespace

int main(int argc, char** argv) {
    int result = 0;
    // The tracker and the accessibility service end before the session does.
    {
        bench::DesktopRig rig(argc, argv, session);
        if (!rig.start()) {
            result = 1;
        } else {
            // The host's workspace finds Chromium, as this machine's Chrome, by the session's desktop
            // entries.
            qputenv("XDG_DATA_DIRS",
                    session->programEnvironment().value(QStringLiteral("XDG_DATA_DIRS")).toLocal8Bit());
            session->openWindow(QStringLiteral("Work"));
            application = host::accessibility().createApplication(session->chromiumPid());
            host::accessibility().setMessagingTimeout(application, 0.5);
            test::DesktopSession::waitUntil([] { return !workWindows().isEmpty(); }, 30);
            benchmark::Initialize(&argc, argv);
            bench::runBenchmarks({
                {"classifyWindow/readAhead", "time", "<", 3, "ms"},
                {"refreshTwenty/readAhead", "time", "<", 17.1, "ms"},
            });
            printRatio("classifyWindow");
            printRatio("refreshTwenty");
            printRatio("classifyShownWindow");
            benchmark::Shutdown();
        }
        if (tracker)
            tracker->stop();
        tracker.reset();
        application = {};
        host::replaceService(host::services().accessibility, {});
    }
    return result;
}
