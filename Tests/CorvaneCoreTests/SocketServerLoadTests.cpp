#include "CorvaneCore/Messaging/SocketServer.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "Support/LogCapture.h"
#include "Support/Sanitizers.h"
#include "Support/SocketPeer.h"
#include "Support/VirtualTime.h"

#include <QFile>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using Connection = std::shared_ptr<ClientConnection>;

// This process's resident memory in megabytes.
double residentMegabytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

bool isReadable(int descriptor) {
    pollfd ready{descriptor, POLLIN, 0};
    return ::poll(&ready, 1, 0) == 1;
}

QByteArray statusLine(qint64 id) {
    return *Request(id, Request::Op::status).encode() + "\n";
}

// A started server that answers every request at once, as the helper does.
struct AnsweringServer {
    test::VirtualTimeScope time;
    QString path;
    std::shared_ptr<SocketServer> server = std::make_shared<SocketServer>();

    AnsweringServer() {
        Corvane::ensureSupportDirectory();
        path = Corvane::socketPath();
        server->onRequest = [](const Connection& connection, const Request& request) {
            Response answer(request.id, true);
            answer.windowCount = 0;
            connection->send(answer);
        };
        server->start(path);
    }
    ~AnsweringServer() { server->stop(path); }
};

// A client that writes requests as fast as it can and never reads an answer. Returns how many it got out
// before the helper dropped it.
int flood(int descriptor, int requests) {
    const int flags = ::fcntl(descriptor, F_GETFL);
    ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
    QByteArray batch;
    constexpr int perBatch = 500;
    for (int i = 0; i < perBatch; ++i)
        batch += statusLine(i);
    int sent = 0;
    while (sent < requests) {
        qsizetype done = 0;
        while (done < batch.size()) {
            const ssize_t n =
                ::send(descriptor, batch.constData() + done, size_t(batch.size() - done), MSG_NOSIGNAL);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                return sent;
            }
            done += n;
        }
        sent += perBatch;
    }
    return sent;
}

// A client that floods requests without reading its answers holds the helper to a bounded queue: resident
// memory stays low during and after the flood, the flooding client is dropped, and another client is
// answered meanwhile and afterwards.
TEST(SocketServerLoad, AClientThatNeverReadsItsAnswersCannotGrowTheHelpersMemory) {
    AnsweringServer helper;
    auto& time = helper.time;
    test::SocketPeer polite(UnixSocket::connect(helper.path));
    auto flooder = std::make_unique<test::SocketPeer>(UnixSocket::connect(helper.path));
    ASSERT_TRUE(time->runUntil([&] { return helper.server->clientCount() == 2; }));
    const double before = residentMegabytes();

    constexpr int requests = 200000;
    std::atomic<int> sent{-1};
    std::thread floodThread([&, descriptor = flooder->fd()] { sent = flood(descriptor, requests); });

    double peak = before;
    int politeAnswers = 0;
    for (qint64 id = 1; sent.load() < 0; ++id) {
        // The other client keeps asking, and is answered while the flood goes on.
        ASSERT_TRUE(polite.write(statusLine(id)));
        ASSERT_TRUE(time->runUntil([&] { return isReadable(polite.fd()); }, 10000));
        const auto line = polite.readLine();
        const auto answer = line ? Response::decode(*line) : std::nullopt;
        politeAnswers += answer && answer->id == id ? 1 : 0;
        peak = std::max(peak, residentMegabytes());
    }
    floodThread.join();
    ASSERT_TRUE(time->runUntil([&] { return helper.server->clientCount() == 1; }, 10000));
    time->runUntil([] { return false; }, 200);
    const double after = residentMegabytes();
    std::printf("resident memory: %.1f MB before, %.1f MB at the peak, %.1f MB after a flood of %d requests "
                "(the flooding client was dropped after %d)\n",
                before, peak, after, requests, sent.load());
    EXPECT_GT(politeAnswers, 0);
    if (test::residentSizeFollowsTheHeap) {
        EXPECT_LT(peak - before, 20.0);
        EXPECT_LT(after - before, 10.0);
    }

    // Still answered once the flood is over.
    ASSERT_TRUE(polite.write(statusLine(-1)));
    ASSERT_TRUE(time->runUntil([&] { return isReadable(polite.fd()); }));
    EXPECT_TRUE(polite.readLine().has_value());
}

// Out of descriptors, the waiting connection keeps the listener readable: accepting rests for a moment
// (reported once) rather than failing again and again, and takes the client once descriptors are back.
TEST(SocketServerLoad, WithoutDescriptorsAcceptingRestsInsteadOfSpinning) {
    AnsweringServer helper;
    auto& time = helper.time;
    test::LogCapture log;
    const QString message = QStringLiteral("could not accept a connection: %1; accepting again in 0.1 s")
                                .arg(QString::fromLocal8Bit(std::strerror(EMFILE)));

    const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::fcntl(client, F_DUPFD_CLOEXEC, 0);
    ::close(lowestFree);
    rlimit exhausted = saved;
    exhausted.rlim_cur = rlim_t(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &exhausted), 0);
    const sockaddr_un address = UnixSocket::makeAddress(helper.path);
    const int connected = ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);

    const bool reported = time->runUntil([&] { return log.count(message) > 0; });
    time->runUntil([] { return false; }, 300); // real time in which a spinning listener would fail again
    const int reports = log.count(message);
    const int clientsMeanwhile = helper.server->clientCount();
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(connected, 0);
    EXPECT_TRUE(reported);
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(clientsMeanwhile, 0);

    time->advance(SocketServer::acceptPauseSeconds);
    EXPECT_TRUE(time->runUntil([&] { return helper.server->clientCount() == 1; }));
    ::close(client);
}

} // namespace
