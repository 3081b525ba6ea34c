// The creator app as a program (build/Corvane.app), started in a prepared temporary home (50 registered proxy
// apps, 200 rules, 500 recent links, its helper installed at the bundle's version so nothing is reinstalled)
// on a private Xvfb display without a window manager:
//   - windowOnScreen: from the process start until its window is mapped and its content drawn (the pixels in
//     the middle of the window are no longer the black of the empty screen); counter: until mapped;
//   - its resident memory once idle: 3 s after the window is drawn, and again after the first 5-second poll.
// The program is watched from outside only, through the X server. Run from the build folder:
// Benchmarks/CreatorProcessBenchmark.
#include "CreatorFixtures.h"
#include "Figures.h"
#include "ResidentMemory.h"
#include "Rig.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {

const QString program = QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app/Contents/MacOS/Corvane");

// The top-level windows of one process on the display, seen through the X server.
class ScreenWatch {
public:
    explicit ScreenWatch(const QString& display) {
        connection_ = xcb_connect(display.toLatin1().constData(), nullptr);
        if (xcb_connection_has_error(connection_))
            return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const char name[] = "_NET_WM_PID";
        auto* reply = xcb_intern_atom_reply(connection_,
                                            xcb_intern_atom(connection_, 0, sizeof name - 1, name), nullptr);
        if (reply) {
            pidAtom_ = reply->atom;
            std::free(reply);
        }
    }
    ~ScreenWatch() { xcb_disconnect(connection_); }
    bool isOpen() const { return !xcb_connection_has_error(connection_) && pidAtom_ != XCB_NONE; }

    // The process's mapped window of at least the window's minimum width, or none.
    xcb_window_t mappedWindow(qint64 pid) {
        xcb_window_t found = XCB_NONE;
        auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
        if (!tree)
            return found;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && found == XCB_NONE; ++i)
            if (belongsTo(children[i], pid) && isWideAndViewable(children[i]))
                found = children[i];
        std::free(tree);
        return found;
    }

    // Something other than the black of the empty screen is drawn in the middle of the window.
    bool isDrawn(xcb_window_t window) {
        auto* geometry = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        if (!geometry)
            return false;
        const int x = geometry->width / 2 - 8;
        const int y = geometry->height / 2 - 8;
        std::free(geometry);
        auto* image = xcb_get_image_reply(
            connection_, xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, x, y, 16, 16, ~0u),
            nullptr);
        if (!image)
            return false;
        const uint8_t* data = xcb_get_image_data(image);
        bool drawn = false;
        for (int i = 0; i < xcb_get_image_data_length(image) && !drawn; ++i)
            drawn = data[i] != 0;
        std::free(image);
        return drawn;
    }

private:
    bool belongsTo(xcb_window_t window, qint64 pid) {
        auto* property = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1),
            nullptr);
        if (!property)
            return false;
        const bool ours = xcb_get_property_value_length(property) == 4 &&
                          *static_cast<const uint32_t*>(xcb_get_property_value(property)) == pid;
        std::free(property);
        return ours;
    }
    bool isWideAndViewable(xcb_window_t window) {
        auto* attributes = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, window), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (!viewable)
            return false;
        auto* geometry = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        const bool wide = geometry && geometry->width >= 900;
        std::free(geometry);
        return wide;
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    xcb_atom_t pidAtom_ = XCB_NONE;
};

// The helper at the version the program carries, so its start finds it current and reinstalls nothing
// (a reinstall would end the helpers of this user that run elsewhere).
bool installBundledHelperVersion() {
    const QString source = QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app/") + Corvane::helperInBundle;
    const QString destination = Corvane::installedHelperURL() + QStringLiteral("/Contents");
    QDir().mkpath(destination);
    return QFile::copy(source + QStringLiteral("/Contents/Info.plist"),
                       destination + QStringLiteral("/Info.plist"));
}

void waitFor(int milliseconds) {
    QThread::msleep(milliseconds);
}

void windowOnScreen(benchmark::State& state, const QString& display) {
    ScreenWatch screen(display);
    if (!screen.isOpen()) {
        state.SkipWithError("cannot talk to the private display");
        return;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    double mappedSeconds = 0;
    double idleMegabytes = 0;
    double afterPollMegabytes = 0;
    for (auto _ : state) {
        bench::touchStores();
        QProcess creator;
        creator.setProcessEnvironment(environment);
        creator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        creator.start(program, {});
        if (!creator.waitForStarted(5000)) {
            state.SkipWithError("the program did not start");
            break;
        }
        xcb_window_t window = XCB_NONE;
        double mapped = 0;
        double drawn = 0;
        while (clock.elapsed() < 15000 && creator.state() == QProcess::Running) {
            if (window == XCB_NONE) {
                window = screen.mappedWindow(creator.processId());
                if (window != XCB_NONE)
                    mapped = clock.nsecsElapsed() / 1e9;
            }
            if (window != XCB_NONE && screen.isDrawn(window)) {
                drawn = clock.nsecsElapsed() / 1e9;
                break;
            }
            waitFor(1);
        }
        if (drawn == 0) {
            state.SkipWithError("the window never reached the screen");
            break;
        }
        state.SetIterationTime(drawn);
        mappedSeconds += mapped;
        waitFor(3000);
        const std::optional<double> idle = residentMegabytes(creator.processId());
        waitFor(5500);
        const std::optional<double> afterPoll = residentMegabytes(creator.processId());
        creator.terminate();
        if (!creator.waitForFinished(5000)) {
            creator.kill();
            creator.waitForFinished(2000);
        }
        if (!idle || !afterPoll) {
            state.SkipWithError("the creator app's resident memory could not be read");
            break;
        }
        idleMegabytes += *idle;
        afterPollMegabytes += *afterPoll;
    }
    state.counters["mapped_ms"] =
        benchmark::Counter(mappedSeconds * 1000, benchmark::Counter::kAvgIterations);
    state.counters["idleRSS_MB"] = benchmark::Counter(idleMegabytes, benchmark::Counter::kAvgIterations);
    state.counters["afterPollRSS_MB"] =
        benchmark::Counter(afterPollMegabytes, benchmark::Counter::kAvgIterations);
}

} // namespace

int main(int argc, char** argv) {
    bench::HomeRig<> rig(argc, argv);
    bench::PrivateDisplay display;
    if (!display.start())
        return 1;
    bench::writeFixtures();
    if (!installBundledHelperVersion()) {
        std::fprintf(stderr, "the bundle's helper is missing: build the Corvane target first\n");
        return 1;
    }
    benchmark::RegisterBenchmark("windowOnScreen", windowOnScreen, display.name())
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(5);
    return bench::main(argc, argv,
                       {
                           {"windowOnScreen", "time", "<", 400, "ms"},
                           {"windowOnScreen", "idleRSS_MB", "<", 60, "MB"},
                           {"windowOnScreen", "afterPollRSS_MB", "<", 60, "MB"},
                       });
}
