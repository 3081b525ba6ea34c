// The tracker's own cost on a fake Chrome: a reconciliation pass over 20 windows (the tracker's share of the
// target of under 50 ms for a pass over 20 real windows; the accessibility calls to a real Chrome come on
// top) and a report for one scope.
#include "CorvaneHelper/WindowTracking/AXProfileSource.h"
#include "Figures.h"
#include "Support/FakeChromeWorld.h"
#include "Support/LogCapture.h"
#include "Support/TemporaryHome.h"

#include <benchmark/benchmark.h>

namespace {

ChromeProfile profile(const QString& directory, const QString& name) {
    ChromeProfile made;
    made.directory = directory;
    made.name = name;
    return made;
}

struct TwentyWindows {
    TwentyWindows() {
        host.world().launchChrome();
        for (int index = 0; index < 20; ++index) {
            const bool work = index % 2 == 0;
            const auto window = host.world().openWindow(
                QStringLiteral("Page %1 - Chromium - %2").arg(index).arg(work ? "Work" : "Home"),
                work ? QStringLiteral("Work") : QStringLiteral("Home"));
            for (int tab = 0; tab < 8; ++tab)
                host.world().addTab(window, QStringLiteral("Tab %1").arg(tab));
            host.world().addGroup(window, QStringLiteral("Research"), 3);
        }
        source->start();
        source->updateProfiles({profile("Default", "Work"), profile("Profile 1", "Home")});
        source->updateWatched({WatchScope{"Default", QStringLiteral("Research"), false, false, false}});
        source->refresh(QStringLiteral("attach"));
    }
    ~TwentyWindows() { source->stop(); }

    test::LogCapture quiet;
    test::ChromeWorldScope host;
    std::shared_ptr<AXProfileSource> source = std::make_shared<AXProfileSource>();
};

void BM_RefreshWithTwentyWindows(benchmark::State& state) {
    test::TemporaryHome home;
    TwentyWindows chrome;
    for (auto _ : state)
        chrome.source->refresh(QStringLiteral("periodic"));
    state.counters["windows"] = double(chrome.source->trackedWindowCount());
}
BENCHMARK(BM_RefreshWithTwentyWindows)->Unit(benchmark::kMicrosecond);

void BM_ReportForAGroupScope(benchmark::State& state) {
    test::TemporaryHome home;
    TwentyWindows chrome;
    const WatchScope scope{"Default", QStringLiteral("Research"), false, false, false};
    for (auto _ : state)
        benchmark::DoNotOptimize(chrome.source->report(scope));
}
BENCHMARK(BM_ReportForAGroupScope)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return bench::main(argc, argv,
                       {
                           {"BM_RefreshWithTwentyWindows", "time", "<", 50, "ms"},
                       });
}
