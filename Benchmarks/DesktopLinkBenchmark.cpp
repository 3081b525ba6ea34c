// A desktop link's cost: `xdg-open URL` through Corvane (the helper as the desktop's default browser, which
// routes the link to the browser its rules pick) against `xdg-open` straight to the same browser, in one
// interleaved run on a private display. Each figure is from the opener's start to the browser's start (the
// stand-in browser notes the time it was started); the direct road uses a link scheme that the same browser
// is the default for, so both roads cost xdg-open the same. Target: median ratio at most 1.10.
// Run by hand: build/Benchmarks/DesktopLinkBenchmark [rounds]
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Figures.h"
#include "Rig.h"
#include "Samples.h"
#include "Support/Files.h"
#include "Support/TemporaryHome.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

const QString buildDir = QStringLiteral(CORVANE_BUILD_DIR);
const QString toolsDir = QStringLiteral(CORVANE_HOST_TOOLS_DIR);
const QString browserEntry = QStringLiteral("benchbrowser.desktop");
const QString directScheme = QStringLiteral("benchdirect");

// One road's row: the median and p90 of its times, kept in seconds.
void printTimes(const char* road, const std::vector<double>& seconds) {
    std::printf("  %-16s median %.1f ms, p90 %.1f ms\n", road, bench::median(seconds) * 1000,
                bench::percentile(seconds, 0.9) * 1000);
}

double wallSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

class Bench {
public:
    explicit Bench(const QString& display)
        : display_(display) {}

    // Installs the helper as the default browser and a stand-in browser that notes when it starts.
    bool setUp() {
        if (run(toolsDir + QStringLiteral("/corvane-dev-install"),
                {buildDir + QStringLiteral("/Corvane.app")}) != 0)
            return false;
        const QString browser = home_.file(QStringLiteral("bin/benchbrowser"));
        QDir().mkpath(QFileInfo(browser).path());
        test::writeFile(
            browser,
            QStringLiteral("#!/bin/bash\necho \"$EPOCHREALTIME $1\" >> '%1'\n").arg(record()).toUtf8(),
            QDateTime::currentDateTime());
        QFile::setPermissions(browser, QFile::permissions(browser) | QFileDevice::ExeOwner);
        const QString entries = home_.file(QStringLiteral(".local/share/applications"));
        QDir().mkpath(entries);
        test::writeFile(entries + QLatin1Char('/') + browserEntry,
                        QStringLiteral("[Desktop Entry]\nType=Application\nName=Bench Browser\nExec=%1 %u\n"
                                       "MimeType=x-scheme-handler/http;x-scheme-handler/https;"
                                       "x-scheme-handler/%2;\n")
                            .arg(browser, directScheme)
                            .toUtf8(),
                        QDateTime::currentDateTime());
        if (run(QStringLiteral("xdg-mime"), {QStringLiteral("default"), browserEntry,
                                             QStringLiteral("x-scheme-handler/") + directScheme}) != 0)
            return false;
        RuleSet rules;
        rules.fallback = RouteTarget::browser(QStringLiteral("desktop.benchbrowser"));
        RuleStore().save(rules);
        // The first link starts the resident helper; the figures are of the helper as it runs.
        return open(QStringLiteral("https://warm.example/")).has_value();
    }

    // Ends the resident helper of this home, by its process identifier.
    void tearDown() {
        for (const auto& running : host::workspace().runningApplications(Corvane::helperBundleID))
            if (running.bundlePath.startsWith(home_.path()))
                ::kill(running.processIdentifier, SIGTERM);
    }

    // Seconds from xdg-open's start to the browser's start for `link`; none when it never arrived.
    std::optional<double> open(const QString& link) {
        const qsizetype before = test::linesOf(record()).size();
        const double started = wallSeconds();
        QProcess opener;
        opener.setProcessEnvironment(environment());
        opener.setStandardOutputFile(QProcess::nullDevice());
        opener.setStandardErrorFile(QProcess::nullDevice());
        opener.start(QStringLiteral("xdg-open"), {link});
        opener.waitForFinished(20000);
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 20000) {
            const QStringList lines = test::linesOf(record());
            for (qsizetype i = before; i < lines.size(); ++i)
                if (lines[i].section(QLatin1Char(' '), 1) == link)
                    return lines[i].section(QLatin1Char(' '), 0, 0).toDouble() - started;
            QThread::msleep(1);
        }
        return std::nullopt;
    }

private:
    QString record() const { return home_.file(QStringLiteral("arrivals.txt")); }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display_);
        for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                                 "GNOME_DESKTOP_SESSION_ID", "WAYLAND_DISPLAY", "BROWSER"})
            environment.remove(QString::fromLatin1(name));
        return environment;
    }

    int run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(program, arguments);
        if (!process.waitForFinished(30000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    test::TemporaryHome home_;
    QString display_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    bench::PrivateDisplay display;
    if (!display.start())
        return 1;
    Bench links(display.name());
    if (!links.setUp()) {
        std::fprintf(stderr, "the helper did not take the first link: build the Corvane, CorvaneHelper and "
                             "host tool targets first\n");
        links.tearDown();
        return 1;
    }
    std::vector<double> throughCorvane;
    std::vector<double> direct;
    for (int round = 0; round < rounds; ++round) {
        const QString path = QStringLiteral("example.com/page%1").arg(round);
        const auto corvane = links.open(QStringLiteral("https://") + path);
        const auto straight = links.open(directScheme + QStringLiteral("://") + path);
        if (!corvane || !straight) {
            std::fprintf(stderr, "round %d: a link never reached the browser\n", round);
            links.tearDown();
            return 1;
        }
        throughCorvane.push_back(*corvane);
        direct.push_back(*straight);
    }
    links.tearDown();
    const double ratio = bench::median(throughCorvane) / bench::median(direct);
    std::printf("desktop link, %d rounds interleaved\n", rounds);
    printTimes("through Corvane:", throughCorvane);
    printTimes("direct:", direct);
    bench::printFigure("throughCorvane/direct", ratio, "ratio", "<=", 1.10);
    return 0;
}
