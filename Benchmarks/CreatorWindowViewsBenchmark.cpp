// The creator app's window on its real models and the real main queue, built as the program's entry point
// builds it, with 50 registered proxy apps, 200 rules and 500 recent links on disk:
//   - firstPaint: from the models' creation to the first paint of the window's content; counters say how
//     long until the lists were loaded and whether they were loaded before that paint (they must not be);
//   - poll/<page>: the 5-second poll when nothing changed (what the routing model's timer runs, and the
//     helper-status refresh the app model runs), with the redraws it causes, one page of the window shown;
//     the counter says how many widgets were painted again; pagesOnly is the pages' share alone;
//   - saveNewApp: "Save As…" of a new proxy app until its row in the sidebar is there and painted, the real
//     build included.
// Run from the build folder: Benchmarks/CreatorWindowViewsBenchmark (the build needs build/Corvane.app and
// the build's host tools).
#include "Corvane/Models/CreatorApp.h"
#include "Corvane/Views/Window/CreatorWindow.h"
#include "Corvane/Views/Window/RootView.h"
#include "Corvane/Views/Window/SidebarView.h"
#include "CorvaneHost/Workspace.h"
#include "CreatorFixtures.h"
#include "Figures.h"
#include "Rig.h"
#include "Support/FakeDesktop.h"
#include "Support/FakeHelperConnection.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <atomic>
#include <benchmark/benchmark.h>

namespace {

using namespace bench;

// Records which widgets were painted since the last reset.
class PaintLog : public QObject {
public:
    PaintLog() { qApp->installEventFilter(this); }
    ~PaintLog() override { qApp->removeEventFilter(this); }

    QSet<QObject*> painted;
    int count = 0;
    std::function<void(QObject*)> onPaint;
    void reset() {
        painted.clear();
        count = 0;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted.insert(watched);
            ++count;
            if (onPaint)
                onPaint(watched);
        }
        return false;
    }
};

// The window as the entry point makes it, over a scripted helper (the real one is not ours to start).
struct Window {
    CreatorApp creator{std::make_shared<test::FakeHelperConnection>()};
    std::unique_ptr<CreatorWindow> window;

    Window() {
        creator.model().installHelper = [](bool) { return false; };
        // Loaded on a thread of its own; not part of what is measured here.
        creator.model().loadSymbolCatalog = {};
        window = std::make_unique<CreatorWindow>(creator);
    }
    AppModel& model() { return creator.model(); }
    RootView& root() { return *window->rootView(); }
};

template <typename Condition> bool runUntil(Condition condition, int milliseconds = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

bool startAndLoad(Window& window) {
    window.window->resize(CreatorWindow::minimumWidth, 800);
    window.window->show();
    return runUntil([&] { return window.model().apps().size() >= 50; });
}

void firstPaint(benchmark::State& state) {
    double loadedSeconds = 0;
    int loadedBeforePaint = 0;
    PaintLog paints;
    for (auto _ : state) {
        touchStores();
        paints.reset();
        QElapsedTimer clock;
        clock.start();
        Window window;
        // Taken when the first paint of the content happens, not when the event loop returns after it.
        std::optional<double> painted;
        QWidget* content = &window.root();
        paints.onPaint = [&](QObject* widget) {
            if (painted || widget != content)
                return;
            painted = clock.nsecsElapsed() / 1e9;
            if (!window.model().apps().empty())
                ++loadedBeforePaint;
        };
        window.window->show();
        if (!runUntil([&] { return painted.has_value(); })) {
            state.SkipWithError("the window was never painted");
            break;
        }
        if (!runUntil([&] { return window.model().apps().size() == 50; })) {
            state.SkipWithError("the lists did not load");
            break;
        }
        paints.onPaint = {};
        loadedSeconds += clock.nsecsElapsed() / 1e9;
        state.SetIterationTime(*painted);
    }
    state.counters["listsLoaded_ms"] =
        benchmark::Counter(loadedSeconds * 1000, benchmark::Counter::kAvgIterations);
    state.counters["loadedBeforePaint"] =
        benchmark::Counter(loadedBeforePaint, benchmark::Counter::kAvgIterations);
}
BENCHMARK(firstPaint)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10)->Repetitions(3);

std::optional<AppModel::Selection> pageSelection(int page) {
    switch (page) {
    case 0:
        return AppModel::Selection::saved(QStringLiteral("app.corvane.bench0"));
    case 1:
        return AppModel::Selection::rules();
    case 2:
        return AppModel::Selection::recentLinks();
    default:
        return AppModel::Selection::system();
    }
}

enum class PollPart { routing, routingAndHelperStatus, pagesOnly };

// The poll when nothing changed: the routing model's refresh, with the app model's helper-status refresh
// too, or only what the pages do with the routing model's announcements of its unchanged system state.
void poll(benchmark::State& state, PollPart part) {
    touchStores();
    Window window;
    if (!startAndLoad(window)) {
        state.SkipWithError("the lists did not load");
        return;
    }
    window.model().setSelection(pageSelection(int(state.range(0))));
    // The page made, painted and settled.
    runUntil([] { return false; }, 300);
    PaintLog paints;
    RoutingModel& routing = window.creator.routing();
    // A poll that finds nothing new announces no new rules or links.
    int reloads = 0;
    for (auto signal : {&RoutingModel::ruleSetChanged, &RoutingModel::recentLinksChanged,
                        &RoutingModel::settingsChanged, &RoutingModel::browsersChanged})
        QObject::connect(&routing, signal, &routing, [&reloads] { ++reloads; });
    for (auto _ : state) {
        if (part == PollPart::pagesOnly) {
            emit routing.isDefaultBrowserChanged();
            emit routing.handledFileTypesChanged();
            emit routing.startsAtLoginChanged();
            emit routing.installedHelperVersionChanged();
            emit routing.helperIsStaleChanged();
        } else {
            routing.refreshFromDisk();
        }
        if (part == PollPart::routingAndHelperStatus)
            window.model().refreshHelperStatus();
        // What the refresh asked to be drawn again is drawn now.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    state.counters["reloads"] = benchmark::Counter(reloads, benchmark::Counter::kAvgIterations);
    state.counters["paints"] = benchmark::Counter(paints.count, benchmark::Counter::kAvgIterations);
    static const char* names[] = {"editor", "rules", "recentLinks", "system"};
    state.SetLabel(names[state.range(0)]);
}
BENCHMARK_CAPTURE(poll, routing, PollPart::routing)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3);
BENCHMARK_CAPTURE(poll, routingAndHelperStatus, PollPart::routingAndHelperStatus)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3);
BENCHMARK_CAPTURE(poll, pagesOnly, PollPart::pagesOnly)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3);

void saveNewApp(benchmark::State& state) {
    host::workspace().registerBundle(QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app"));
    test::DesktopScope desktop;
    touchStores();
    Window window;
    if (!startAndLoad(window)) {
        state.SkipWithError("the lists did not load");
        return;
    }
    // The build's own share, timed on its thread.
    auto buildNanoseconds = std::make_shared<std::atomic<qint64>>(0);
    window.model().buildApp = [build = window.model().buildApp, buildNanoseconds](const BuildRequest& request,
                                                                                  const QString& identity) {
        QElapsedTimer clock;
        clock.start();
        RegisteredApp built = build(request, identity);
        *buildNanoseconds += clock.nsecsElapsed();
        return built;
    };
    PaintLog paints;
    // Names stay new across repetitions: the folder keeps the apps made before.
    static int made = 0;
    int rowsPainted = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString name = QStringLiteral("Bench %1").arg(++made);
        window.root().newApp();
        QLineEdit* field = nullptr;
        runUntil([&] {
            field = window.root().findChild<QLineEdit*>(QStringLiteral("nameField"));
            return field && field->isVisible();
        });
        field->selectAll();
        QTest::keyClicks(field, name);
        auto* save = window.root().findChild<QPushButton*>(QStringLiteral("saveButton"));
        if (!save || !runUntil([&] { return save->isVisible() && save->isEnabled(); })) {
            state.SkipWithError("the new app cannot be saved");
            break;
        }
        desktop.panels().directoryAnswers.push_back(applicationsFolder());
        paints.reset();
        state.ResumeTiming();

        save->click();
        QWidget* row = nullptr;
        const bool shown = runUntil([&] {
            for (const RegisteredApp& app : window.model().apps())
                if (app.name == name)
                    row = window.root().sidebar()->rowWidget(AppModel::Selection::saved(app.bundleID));
            // A row scrolled out of sight is not painted: it counts as there.
            return row && (paints.painted.contains(row) || row->visibleRegion().isEmpty());
        });
        state.PauseTiming();
        if (!shown) {
            const std::string why =
                window.model().errorMessage().value_or(QStringLiteral("no row")).toStdString();
            state.SkipWithError(why.c_str());
            break;
        }
        if (paints.painted.contains(row))
            ++rowsPainted;
        runUntil([&] { return !window.model().isBusy(); });
        state.ResumeTiming();
    }
    state.counters["build_ms"] =
        benchmark::Counter(double(*buildNanoseconds) / 1e6, benchmark::Counter::kAvgIterations);
    state.counters["rowPainted"] = benchmark::Counter(rowsPainted, benchmark::Counter::kAvgIterations);
}
BENCHMARK(saveNewApp)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(2);

} // namespace

int main(int argc, char** argv) {
    qputenv("TZ", "America/Los_Angeles");
    bench::HomeRig<QApplication> rig(argc, argv);
    // Installed, so proxy apps can be made; the scripted helper stands in for it.
    test::writeProxyBundle(Corvane::installedHelperURL(), Corvane::helperBundleID,
                           StubConfig(QStringLiteral("-")));
    writeFixtures();
    return bench::main(argc, argv,
                       {
                           {"poll/routingAndHelperStatus", "time", "<", 1, "ms"},
                       });
}
