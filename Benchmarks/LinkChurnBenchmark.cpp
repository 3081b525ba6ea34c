// Links handed to the helper while it is ended again and again: one link every 50 ms, as the desktop hands it
// on, while the running helper is ended every 0.3–0.7 s, first with SIGTERM, then with SIGKILL. Two roads of
// the desktop's: the built helper bundle's hand-off program, and the desktop start (the helper's own program
// started with the link, as a desktop entry that runs it does). A stand-in browser records every link the
// helper hands on; each link must arrive once. Figures: links lost (target 0) and links opened twice, per
// road and signal. Everything runs in a temporary home under an identifier of its own, on this machine's unix
// sockets only, and ends by itself.
// Run by hand: build/Benchmarks/LinkChurnBenchmark [links per signal [helper bundle of another build]]
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/PropertyList.h"
#include "Figures.h"
#include "Rig.h"
#include "Samples.h"
#include "Support/Files.h"
#include "Support/TemporaryHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

const QString builtHelper =
    QStringLiteral(CORVANE_BUILD_DIR) + QStringLiteral("/Corvane.app/Contents/Library/CorvaneHelper.app");
// Installers of other checkouts end every helper under the usual identifier; these copies are left alone.
const QString churnID = QStringLiteral("app.corvane.link-churn-probe");
constexpr int kLinkIntervalMs = 50;
constexpr int kFewestKillMs = 300;
constexpr int kMostKillMs = 700;
// How long the links still under way may take to arrive once the churn stops.
constexpr int kSettleMs = 30000;

enum class Road { handOff, desktopStart };

struct Tally {
    int lost = 0;
    int duplicated = 0;
    int failedHandOffs = 0;
    int ends = 0;
    std::vector<double> handOffSeconds;
};

class Churn {
public:
    bool setUp(const QString& helper) {
        if (!bench::copyHelperAs(helper, helperBundle(), churnID))
            return false;
        // The last-resort browser, which the helper hands every link to: records them, one a line.
        return bench::writeStandInChrome(
            home_, QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n")
                       .arg(record()));
    }

    Tally run(Road road, int signal, const QString& name, int links) {
        Tally tally;
        std::vector<std::unique_ptr<QProcess>> handOffs;
        QElapsedTimer clock;
        clock.start();
        qint64 nextKill = nextKillAfter(0);
        for (int sent = 0; sent < links;) {
            if (clock.elapsed() >= qint64(sent) * kLinkIntervalMs) {
                handOffs.push_back(startHandOff(road, linkFor(name, sent)));
                ++sent;
            }
            if (clock.elapsed() >= nextKill) {
                tally.ends += endHelper(signal) ? 1 : 0;
                nextKill = nextKillAfter(clock.elapsed());
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QThread::msleep(1);
        }
        for (const auto& handOff : handOffs) {
            if (!handOff->waitForFinished(60000))
                handOff->kill(); // by its own pid
            handOff->waitForFinished();
            if (handOff->exitStatus() != QProcess::NormalExit || handOff->exitCode() != 0)
                ++tally.failedHandOffs;
        }
        tally.handOffSeconds = handOffTimes_;
        handOffTimes_.clear();
        countArrivals(name, links, tally);
        tearDown();
        return tally;
    }

    // Ends the helper and waits for it to go, so that none still writes into the home as it is removed.
    void tearDown() {
        QElapsedTimer waited;
        waited.start();
        while (endHelper(SIGTERM) && waited.elapsed() < 10000)
            QThread::msleep(100);
    }

private:
    QString helperBundle() const { return home_.file(QStringLiteral("Applications/Churn Helper.app")); }
    QString handOffProgram() const {
        return helperBundle() + QStringLiteral("/Contents/MacOS/CorvaneHandOff");
    }
    QString record() const { return home_.file(QStringLiteral("arrivals.txt")); }
    static QString linkFor(const QString& name, int index) {
        return QStringLiteral("https://churn.example/%1/%2").arg(name).arg(index);
    }

    static qint64 nextKillAfter(qint64 now) {
        return now + QRandomGenerator::global()->bounded(kFewestKillMs, kMostKillMs + 1);
    }

    QString helperProgram() const {
        const auto info = host::readBundleInfo(helperBundle());
        return helperBundle() + QStringLiteral("/Contents/MacOS/") +
               (info ? info->value(QStringLiteral("CFBundleExecutable")).toString() : QString());
    }

    std::unique_ptr<QProcess> startHandOff(Road road, const QString& link) {
        auto process = std::make_unique<QProcess>();
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        QObject::connect(process.get(), &QProcess::finished, process.get(),
                         [this, clock] { handOffTimes_.push_back(double(clock.elapsed()) / 1000); });
        process->start(road == Road::handOff ? handOffProgram() : helperProgram(), {link});
        return process;
    }

    // Ends the running helper by its process identifier; whether one ran.
    static bool endHelper(int signal) {
        const pid_t helper = instanceLockHolder();
        return helper > 0 && ::kill(helper, signal) == 0;
    }

    // The running helper is the process that holds the instance lock. A listing of processes by their program
    // would also name the helper's children in the moment between their fork and their start as programs of
    // their own (a browser about to open a link), and ending those would lose links the helper handed on.
    static pid_t instanceLockHolder() {
        struct stat lock {};
        if (::stat(QFile::encodeName(host::instanceLockPath(churnID)).constData(), &lock) != 0)
            return 0;
        QFile locks(QStringLiteral("/proc/locks"));
        if (!locks.open(QIODevice::ReadOnly))
            return 0;
        // "1: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF"; waiters' lines start with "->".
        const QByteArray inode = ':' + QByteArray::number(quint64(lock.st_ino));
        for (const QByteArray& line : locks.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 6 && fields[1] == "FLOCK" && fields[5].endsWith(inode))
                return pid_t(fields[4].toInt());
        }
        return 0;
    }

    // Waits until every link arrived (and a moment more, for a second arrival), or until the arrivals stop.
    void countArrivals(const QString& name, int links, Tally& tally) {
        QHash<QString, int> arrivals;
        const auto tallied = [&] {
            arrivals.clear();
            for (const QString& line : test::linesOf(record()))
                ++arrivals[line];
            int present = 0;
            for (int i = 0; i < links; ++i)
                present += arrivals.contains(linkFor(name, i)) ? 1 : 0;
            return present;
        };
        QElapsedTimer waited;
        waited.start();
        while (tallied() < links && waited.elapsed() < kSettleMs)
            QThread::msleep(100);
        QThread::msleep(1000);
        tallied();
        for (int i = 0; i < links; ++i) {
            const int count = arrivals.value(linkFor(name, i));
            tally.lost += count == 0 ? 1 : 0;
            tally.duplicated += count > 1 ? count - 1 : 0;
        }
    }

    test::TemporaryHome home_;
    std::vector<double> handOffTimes_;
};

} // namespace

int main(int argc, char** argv) {
    bench::HomeRig<> rig(argc, argv);
    const int links = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    Churn churn;
    if (!churn.setUp(argc > 2 ? QString::fromLocal8Bit(argv[2]) : builtHelper)) {
        std::fprintf(stderr, "could not set the helper up: build the Corvane target first\n");
        return 1;
    }
    const struct {
        Road road;
        int signal;
        const char* name;
    } rounds[] = {{Road::handOff, SIGTERM, "SIGTERM"},
                  {Road::handOff, SIGKILL, "SIGKILL"},
                  {Road::desktopStart, SIGTERM, "desktop start SIGTERM"},
                  {Road::desktopStart, SIGKILL, "desktop start SIGKILL"}};
    for (const auto& round : rounds) {
        const QString name = QString::fromLatin1(round.name).replace(QLatin1Char(' '), QLatin1Char('-'));
        const Tally tally = churn.run(round.road, round.signal, name, links);
        std::printf("%s: %d links at one per %d ms, helper ended %d times: %d lost, %d opened twice, "
                    "%d hand-offs failed; hand-off median %.1f ms, p90 %.1f ms, slowest %.1f ms\n",
                    round.name, links, kLinkIntervalMs, tally.ends, tally.lost, tally.duplicated,
                    tally.failedHandOffs, bench::median(tally.handOffSeconds) * 1000,
                    bench::percentile(tally.handOffSeconds, 0.9) * 1000,
                    bench::slowest(tally.handOffSeconds) * 1000);
        bench::printFigure(std::string("churn/") + round.name + " lost", tally.lost, "links", "<=", 0);
        bench::printFigure(std::string("churn/") + round.name + " duplicated", tally.duplicated, "links",
                           "<=", links / 20.0);
    }
    churn.tearDown();
    return 0;
}
