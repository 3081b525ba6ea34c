// The helper while a proxy app it hands a link to does not answer: the proxy app's launcher is stopped
// (SIGSTOP) as a launcher stopped in a debugger, swapping or hung is. Each round hands a link to it through
// the built helper bundle's hand-off program, as the desktop does; 0.5 s later asks the helper for its
// status on its socket as a new client and, at the same time, hands it a link for a plain browser. The same
// rounds with the launcher running are interleaved with them, in the same run. Figures: the hand-off of the
// proxy app's link, the status request's round trip and the plain browser's link from its hand-off to the
// browser's start, each the median over the rounds, stopped against running. Targets: with the launcher
// stopped, the status is answered within 100 ms and the plain browser's link arrives within 500 ms.
// Everything runs in a temporary home under an identifier of its own, on this machine's unix sockets only,
// and ends by itself. Run by hand: build/Benchmarks/StoppedProxyAppBenchmark [rounds [helper bundle of
// another build]]
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "CorvaneCore/Routing/RuleStore.h"
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
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const QString builtHelper =
    QStringLiteral(CORVANE_BUILD_DIR) + QStringLiteral("/Corvane.app/Contents/Library/CorvaneHelper.app");
// Installers of other checkouts end every helper under the usual identifier; this copy is left alone.
const QString probeID = QStringLiteral("app.corvane.stopped-app-probe");
const QString workID = QStringLiteral("com.example.stopped-app-probe.work");
const char* const receiveSwitch = "--receive";
constexpr int kStatusAfterMs = 500;
constexpr int kPatienceMs = 30000;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double wallSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The stand-in launcher: takes the links handed to the proxy app on its event socket, answers once it noted
// them, one a line.
int receive(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QFile record(QString::fromLocal8Bit(argv[3]));
    if (!record.open(QIODevice::WriteOnly | QIODevice::Append))
        return 1;
    host::EventListener listener([&](const host::AppleEvent& event) {
        record.write(event.directObject.value_or(QString()).toUtf8() + '\n');
        record.flush();
    });
    if (listener.start(QString::fromLocal8Bit(argv[2])) != host::EventListener::StartResult::listening)
        return 1;
    return app.exec();
}

// Runs `program` with `argument` and waits for it; seconds until it ended, none when it failed.
std::optional<double> runTimed(const QString& program, const QString& argument) {
    const QByteArray path = QFile::encodeName(program);
    const QByteArray text = argument.toUtf8();
    char* arguments[] = {const_cast<char*>(path.constData()), const_cast<char*>(text.constData()), nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    if (::posix_spawn(&pid, path.constData(), nullptr, nullptr, arguments, environ) != 0)
        return std::nullopt;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return secondsSince(start);
}

struct Round {
    std::optional<double> proxyHandOff; // the hand-off of the proxy app's link returned
    std::optional<double> status;       // the status request's round trip
    std::optional<double> browserLink;  // the plain browser's link, from its hand-off to the browser's start
};

class Probe {
public:
    bool setUp(const QString& helper) {
        if (!bench::copyHelperAs(helper, helperBundle(), probeID))
            return false;
        // The plain browser, the rules' fallback: notes when it is started with which link.
        if (!bench::writeStandInChrome(
                home_,
                QStringLiteral("#!/bin/bash\necho \"$EPOCHREALTIME $1\" >> '%1'\n").arg(browserRecord())))
            return false;
        // The proxy app: its program stays, with the stand-in launcher as its child.
        const QVariantMap work{{QStringLiteral("CFBundleIdentifier"), workID},
                               {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")}};
        if (!test::writeScriptBundle(home_.file(QStringLiteral("Applications/Work.app")), work,
                                     QStringLiteral("#!/bin/sh\n'%1' %2 '%3' '%4'\nexit 0\n")
                                         .arg(QCoreApplication::applicationFilePath(),
                                              QString::fromLatin1(receiveSwitch), workID, workRecord())))
            return false;
        RuleSet rules;
        rules.rules.push_back(
            LinkRule{QUuid::createUuid(),
                     QStringLiteral("Work"),
                     RouteTarget::proxyApp(workID),
                     true,
                     MatchMode::any,
                     {Condition{Condition::Kind::addresses, {QStringLiteral("work.example")}}}});
        rules.fallback = RouteTarget::browser(Corvane::chromeBundleID);
        rules.recordsHistory = false;
        Corvane::ensureSupportDirectory();
        RuleStore().save(rules);
        if (!startWork())
            return false;
        // The first link starts the helper; the figures are of the helper as it runs.
        return linkArrives(QStringLiteral("https://warm.example/"), browserRecord()) &&
               linkArrives(QStringLiteral("https://work.example/warm"), workRecord());
    }

    Round run(bool stopped, int index) {
        Round round;
        if (stopped)
            ::kill(launcher_, SIGSTOP);
        const QString proxyLink = QStringLiteral("https://work.example/%1/%2").arg(stopped).arg(index);
        const auto start = Clock::now();
        std::thread proxy([&] { round.proxyHandOff = runTimed(handOffProgram(), proxyLink); });
        std::this_thread::sleep_until(start + std::chrono::milliseconds(kStatusAfterMs));
        // The status request and the browser's link go together, neither waiting for the other.
        std::thread status([&] { round.status = statusRoundTrip(); });
        const QString browserLink = QStringLiteral("https://plain.example/%1/%2").arg(stopped).arg(index);
        const double handedAt = wallSeconds();
        if (runTimed(handOffProgram(), browserLink))
            if (const auto arrived = arrival(browserLink))
                round.browserLink = *arrived - handedAt;
        status.join();
        if (stopped) {
            // Left stopped a moment longer than the others took, then let go: the link reaches it then.
            QThread::msleep(200);
            ::kill(launcher_, SIGCONT);
        }
        proxy.join();
        arrivesIn(proxyLink, workRecord());
        return round;
    }

    void tearDown() {
        ::kill(launcher_, SIGCONT);
        if (workProgram_ > 0)
            ::kill(workProgram_, SIGTERM);
        if (launcher_ > 0)
            ::kill(launcher_, SIGTERM);
        const pid_t helper = helperPid();
        if (helper > 0)
            ::kill(helper, SIGTERM);
        QThread::msleep(300);
    }

private:
    QString helperBundle() const { return home_.file(QStringLiteral("Applications/Probe Helper.app")); }
    QString handOffProgram() const {
        return helperBundle() + QStringLiteral("/Contents/MacOS/CorvaneHandOff");
    }
    QString browserRecord() const { return home_.file(QStringLiteral("browser.txt")); }
    QString workRecord() const { return home_.file(QStringLiteral("work.txt")); }

    // Starts the proxy app's program and finds its launcher, once it listens.
    bool startWork() {
        qint64 pid = 0;
        if (!QProcess::startDetached(home_.file(QStringLiteral("Applications/Work.app/Contents/MacOS/run")),
                                     {}, QString(), &pid))
            return false;
        workProgram_ = pid_t(pid);
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
            if (children.open(QIODevice::ReadOnly))
                launcher_ = pid_t(children.readAll().trimmed().split(' ').first().toInt());
            if (launcher_ > 0 && QFileInfo(host::eventSocketPath(workID)).exists())
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    bool linkArrives(const QString& link, const QString& record) {
        return runTimed(handOffProgram(), link) && arrivesIn(link, record);
    }

    static bool arrivesIn(const QString& link, const QString& record) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < kPatienceMs) {
            for (const QString& line : test::linesOf(record))
                if (line.endsWith(link))
                    return true;
            QThread::msleep(2);
        }
        return false;
    }

    // When the browser noted the link (wall-clock seconds).
    std::optional<double> arrival(const QString& link) const {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < kPatienceMs) {
            for (const QString& line : test::linesOf(browserRecord()))
                if (line.section(QLatin1Char(' '), 1) == link)
                    return line.section(QLatin1Char(' '), 0, 0).toDouble();
            QThread::msleep(1);
        }
        return std::nullopt;
    }

    // A new client's connect, its status request and the answer.
    static std::optional<double> statusRoundTrip() {
        const auto start = Clock::now();
        int fd = -1;
        try {
            fd = UnixSocket::connect(Corvane::socketPath());
        } catch (const std::exception&) {
            return std::nullopt;
        }
        const char request[] = "{\"id\":1,\"op\":\"status\"}\n";
        std::optional<double> seconds;
        if (::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) == ssize_t(sizeof request - 1)) {
            while (secondsSince(start) < kPatienceMs / 1000.0) {
                pollfd ready{fd, POLLIN, 0};
                if (::poll(&ready, 1, 100) <= 0)
                    continue;
                char byte = 0;
                if (::recv(fd, &byte, 1, 0) != 1)
                    break;
                if (byte == '\n') {
                    seconds = secondsSince(start);
                    break;
                }
            }
        }
        ::close(fd);
        return seconds;
    }

    // The running helper is the process that holds its instance lock.
    static pid_t helperPid() {
        struct stat lock {};
        if (::stat(QFile::encodeName(host::instanceLockPath(probeID)).constData(), &lock) != 0)
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

    test::TemporaryHome home_;
    pid_t workProgram_ = 0;
    pid_t launcher_ = 0;
};

void printRow(const char* what, const std::vector<double>& running, const std::vector<double>& stopped) {
    std::printf("  %-34s running: median %8.1f ms, slowest %8.1f ms | stopped: median %8.1f ms, slowest "
                "%8.1f ms\n",
                what, bench::median(running) * 1000, bench::slowest(running) * 1000,
                bench::median(stopped) * 1000, bench::slowest(stopped) * 1000);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], receiveSwitch) == 0)
        return receive(argc, argv);
    bench::HomeRig<> rig(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    Probe probe;
    if (!probe.setUp(argc > 2 ? QString::fromLocal8Bit(argv[2]) : builtHelper)) {
        std::fprintf(stderr,
                     "could not set the helper and the proxy app up: build the Corvane target first\n");
        probe.tearDown();
        return 1;
    }
    std::vector<double> handOff[2], status[2], browser[2];
    int failures = 0;
    for (int index = 0; index < rounds; ++index)
        for (const bool stopped : {false, true}) {
            const Round round = probe.run(stopped, index);
            if (!round.proxyHandOff || !round.status || !round.browserLink) {
                ++failures;
                continue;
            }
            handOff[stopped].push_back(*round.proxyHandOff);
            status[stopped].push_back(*round.status);
            browser[stopped].push_back(*round.browserLink);
        }
    probe.tearDown();
    std::printf("stopped proxy app, %d rounds each, interleaved; %d rounds failed\n", rounds, failures);
    printRow("link to the proxy app (hand-off):", handOff[0], handOff[1]);
    printRow("status request 0.5 s later:", status[0], status[1]);
    printRow("link to a plain browser next:", browser[0], browser[1]);
    bench::printFigure("stoppedProxyApp/status", bench::median(status[1]) * 1000, "ms", "<", 100);
    bench::printFigure("stoppedProxyApp/plain browser link", bench::median(browser[1]) * 1000, "ms", "<",
                       500);
    bench::printFigure("stoppedProxyApp/failed rounds", failures, "rounds", "<=", 0);
    return 0;
}
