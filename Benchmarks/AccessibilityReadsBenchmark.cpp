// Reads of Chrome's accessibility tree against a real Chromium on a private desktop session, both ways in one
// run: read ahead (each level of a search asked for at once) and one by one (every attribute and child list
// its own round trip, as before):
//   - classifying one browser window (title, toolbar, avatar button, tab strip; searches within depth 10):
//     target median under 3 ms;
//   - the tracker's refresh with 20 open windows: target under 17.1 ms (what it took one by one, measured
//     on a quiet machine).
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
            benchmark::Shutdown();
        }
        if (tracker)
            tracker->stop();
        tracker.reset();
        application = {};
        host::services().accessibility.reset();
    }
    return result;
}
