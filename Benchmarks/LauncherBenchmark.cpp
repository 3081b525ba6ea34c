// The launcher's start until its hello is acknowledged by a listening helper (target: under 50 ms), and the
// resident memory of an idle launcher (target: under 25 MB). The helper's side is the helper's own socket
// server in this process, answering as the helper does (hello acknowledged, the activation raised).
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/SocketServer.h"
#include "Figures.h"
#include "ResidentMemory.h"
#include "Support/TemporaryHome.h"
#include "Support/VirtualTime.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>

namespace {

using Clock = std::chrono::steady_clock;

const QString launcherExecutable = QStringLiteral(
    CORVANE_BUILD_DIR "/Corvane.app/Contents/Library/StubTemplate.app/Contents/MacOS/CorvaneStub");

// The helper's server on this home's socket: notes when the hello came and answers it.
struct ListeningHelper {
    test::VirtualTimeScope time; // the server's callbacks run when this process drives the main queue
    std::shared_ptr<SocketServer> server = std::make_shared<SocketServer>();
    Clock::time_point acknowledgedAt{};
    bool acknowledged = false;

    ListeningHelper() {
        Corvane::ensureSupportDirectory();
        server->onRequest = [this](const std::shared_ptr<ClientConnection>& connection,
                                   const Request& request) {
            Response response(request.id, true);
            response.action = request.op == Request::Op::activate ? Response::Action::raised
                                                                  : Response::Action::acknowledged;
            connection->send(response);
            if (request.op == Request::Op::hello) {
                acknowledgedAt = Clock::now();
                acknowledged = true;
            }
        };
        server->start(Corvane::socketPath());
    }
    ~ListeningHelper() { server->stop(Corvane::socketPath()); }
    bool waitForHello() {
        return time->runUntil([&] { return acknowledged; }, 10000);
    }
};

void startLauncher(QProcess& process) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(launcherExecutable, {});
}

void stopLauncher(QProcess& process) {
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    process.waitForFinished(5000);
}

void BM_LauncherStartToHelloAcknowledged(benchmark::State& state) {
    for (auto _ : state) {
        test::TemporaryHome home;
        ListeningHelper helper;
        QProcess process;
        const auto started = Clock::now();
        startLauncher(process);
        if (!helper.waitForHello()) {
            state.SkipWithError("the launcher did not say hello");
            stopLauncher(process);
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(helper.acknowledgedAt - started).count());
        stopLauncher(process);
    }
}
BENCHMARK(BM_LauncherStartToHelloAcknowledged)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

void BM_LauncherIdleResidentMemory(benchmark::State& state) {
    for (auto _ : state) {
        test::TemporaryHome home;
        ListeningHelper helper;
        QProcess process;
        startLauncher(process);
        if (!helper.waitForHello()) {
            state.SkipWithError("the launcher did not say hello");
            stopLauncher(process);
            break;
        }
        helper.time->runUntil([] { return false; }, 1000); // answers its activation, then idles
        if (const auto megabytes = residentMegabytes(process.processId()))
            state.counters["idle_RSS_MB"] = *megabytes;
        stopLauncher(process);
    }
}
BENCHMARK(BM_LauncherIdleResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return bench::main(argc, argv,
                       {
                           {"BM_LauncherStartToHelloAcknowledged", "time", "<", 50, "ms"},
                           {"BM_LauncherIdleResidentMemory", "idle_RSS_MB", "<", 25, "MB"},
                       });
}
