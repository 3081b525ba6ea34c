// The helper's socket under load: a request/response round trip between a helper link and the server over the
// real socket (target: median under 100 µs), and one event broadcast to 100 connected links until every one
// has it on its main queue (target: under 5 ms).
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "CorvaneCore/Messaging/SocketClient.h"
#include "CorvaneCore/Messaging/SocketServer.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"
#include "Figures.h"
#include "Support/LogCapture.h"
#include "Support/TemporaryHome.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A main queue that the benchmark thread drains, sleeping until work arrives (no polling delay).
class DrainedMainQueue final : public host::MainQueue {
public:
    using Clock = std::chrono::steady_clock;

    void async(std::function<void()> work) override {
        {
            std::lock_guard lock(mutex_);
            work_.push_back(std::move(work));
        }
        ready_.notify_one();
    }
    std::shared_ptr<host::Timer> schedule(double seconds, std::function<void()> work, bool) override {
        auto timer = std::make_shared<Entry>();
        timer->work = std::move(work);
        std::lock_guard lock(mutex_);
        timers_.emplace(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(seconds)),
                        timer);
        return timer;
    }
    bool isCurrent() const override { return true; }

    // Runs work as it arrives until `done` holds.
    void runUntil(const std::function<bool()>& done) {
        while (!done()) {
            std::function<void()> work;
            {
                std::unique_lock lock(mutex_);
                ready_.wait_for(lock, std::chrono::milliseconds(50),
                                [&] { return !work_.empty() || dueTimer(); });
                if (!work_.empty()) {
                    work = std::move(work_.front());
                    work_.pop_front();
                } else if (dueTimer()) {
                    auto entry = timers_.begin()->second;
                    timers_.erase(timers_.begin());
                    if (!entry->cancelled)
                        work = entry->work;
                }
            }
            if (work)
                work();
        }
    }

private:
    struct Entry : host::Timer {
        std::function<void()> work;
        std::atomic<bool> cancelled{false};
        void cancel() override { cancelled = true; }
        bool isActive() const override { return !cancelled; }
    };
    bool dueTimer() const { return !timers_.empty() && timers_.begin()->first <= Clock::now(); }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> work_;
    std::multimap<Clock::time_point, std::shared_ptr<Entry>> timers_;
};

std::shared_ptr<DrainedMainQueue> mainQueue;

std::shared_ptr<SocketServer> startServer() {
    Corvane::ensureSupportDirectory();
    auto server = std::make_shared<SocketServer>();
    server->onRequest = [](const std::shared_ptr<ClientConnection>& connection, const Request& request) {
        if (request.op == Request::Op::hello || request.op == Request::Op::bye)
            return;
        Response response(request.id, true);
        response.windowCount = 1;
        response.confidence = CountConfidence::certain;
        connection->send(response);
    };
    server->start(Corvane::socketPath());
    return server;
}

void BM_RequestRoundTrip(benchmark::State& state) {
    auto server = startServer();
    auto link = std::make_shared<HelperLink>();
    Request hello(0, Request::Op::hello);
    hello.profileDirectory = "Profile 1";
    link->connect(hello);
    for (auto _ : state) {
        bool answered = false;
        link->request(Request::Op::status, 30.0, {}, [&](const Response& response) {
            answered = response.ok;
            benchmark::DoNotOptimize(response);
        });
        mainQueue->runUntil([&] { return answered; });
    }
    link->shutdown();
    server->stop(Corvane::socketPath());
}
BENCHMARK(BM_RequestRoundTrip)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_BroadcastToHundredClients(benchmark::State& state) {
    auto server = startServer();
    constexpr int clients = 100;
    std::vector<std::shared_ptr<HelperLink>> links;
    int received = 0;
    for (int i = 0; i < clients; ++i) {
        auto link = std::make_shared<HelperLink>();
        link->onEvent = [&](const Event&) { ++received; };
        Request hello(0, Request::Op::hello);
        hello.pid = i;
        link->connect(hello);
        links.push_back(link);
    }
    mainQueue->runUntil([&] { return server->clientCount() == clients; });
    Event event(Event::Kind::windows);
    event.profileDirectory = "Profile 1";
    event.count = 3;
    event.chromeRunning = true;
    event.confidence = CountConfidence::certain;
    for (auto _ : state) {
        received = 0;
        server->broadcast(event, [](const ClientConnection&) { return true; });
        mainQueue->runUntil([&] { return received == clients; });
    }
    for (auto& link : links)
        link->shutdown();
    mainQueue->runUntil([&] { return server->clientCount() == 0; });
    server->stop(Corvane::socketPath());
}
BENCHMARK(BM_BroadcastToHundredClients)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// A client that stopped reading stalls the helper once; every later message to it (one send, one broadcast)
// costs only its encoding, never a second stall (target: well under 100 ms).
void BM_SendAfterAStall(benchmark::State& state) {
    auto server = startServer();
    std::shared_ptr<ClientConnection> connection;
    server->onRequest = [&](const std::shared_ptr<ClientConnection>& from, const Request&) {
        connection = from;
    };
    const int client = UnixSocket::connect(Corvane::socketPath());
    const int small = 4096;
    ::setsockopt(client, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const QByteArray status = *Request(1, Request::Op::status).encode() + "\n";
    [[maybe_unused]] auto written = ::write(client, status.constData(), size_t(status.size()));
    mainQueue->runUntil([&] { return connection != nullptr; });
    ::setsockopt(connection->fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    Event big(Event::Kind::stubOutdated);
    big.improvements = QStringList{QString(64 * 1024, QLatin1Char('x'))};
    while (connection->send(big)) {
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(connection->send(big));
        server->broadcast(big, [](const ClientConnection&) { return true; });
    }
    ::close(client);
    server->stop(Corvane::socketPath());
}
BENCHMARK(BM_SendAfterAStall)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    test::TemporaryHome home;
    mainQueue = std::make_shared<DrainedMainQueue>();
    host::replaceService(host::services().mainQueue, mainQueue);
    test::LogCapture quiet;
    benchmark::Initialize(&argc, argv);
    bench::runBenchmarks({
        {"BM_RequestRoundTrip", "time", "<", 100, "us"},
        {"BM_BroadcastToHundredClients", "time", "<", 5, "ms"},
    });
    benchmark::Shutdown();
    host::replaceService(host::services().mainQueue, {});
    return 0;
}
