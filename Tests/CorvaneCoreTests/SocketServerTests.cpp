#include "CorvaneCore/Messaging/SocketServer.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "Support/LogCapture.h"
#include "Support/SocketPeer.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace {

using Connection = std::shared_ptr<ClientConnection>;

// A started server at the product's socket path, recording what reaches the main queue.
struct ServerFixture : testing::Test {
    test::VirtualTimeScope time;
    QString path;
    std::shared_ptr<SocketServer> server = std::make_shared<SocketServer>();
    std::vector<std::pair<Connection, Request>> requests;
    std::vector<int> counts;

    void SetUp() override {
        Corvane::ensureSupportDirectory();
        path = Corvane::socketPath();
        server->onRequest = [this](const Connection& connection, const Request& request) {
            requests.emplace_back(connection, request);
        };
        server->onClientCountChanged = [this](int count) { counts.push_back(count); };
        server->start(path);
    }
    void TearDown() override { server->stop(path); }

    std::unique_ptr<test::SocketPeer> connectClient() {
        return std::make_unique<test::SocketPeer>(UnixSocket::connect(path));
    }
    bool runUntil(const std::function<bool()>& done) { return time->runUntil(done); }
    bool settleAt(int clients) {
        return runUntil(
            [&] { return !counts.empty() && counts.back() == clients && server->clientCount() == clients; });
    }
};

QByteArray statusLine(qint64 id) {
    return *Request(id, Request::Op::status).encode();
}

TEST_F(ServerFixture, ASilentClientCountsAtOnceAndLeavingDropsItOnce) {
    auto client = connectClient();
    ASSERT_TRUE(settleAt(1));
    EXPECT_EQ(counts, (std::vector<int>{1}));
    // A bye (the delegate drops) followed by the close: one drop only.
    client->write(*Request(0, Request::Op::bye).encode() + "\n");
    ASSERT_TRUE(runUntil([&] { return requests.size() == 1; }));
    server->drop(requests[0].first);
    server->drop(requests[0].first);
    client->close();
    ASSERT_TRUE(settleAt(0));
    time->runUntilIdle();
    EXPECT_EQ(counts, (std::vector<int>{1, 0}));
    EXPECT_FALSE(requests[0].first->isOpen());
}

TEST_F(ServerFixture, RequestsArriveInOrderWholeAndAfterUndecodableLines) {
    test::LogCapture log;
    auto client = connectClient();
    // Two lines in one write, one line split across writes, then garbage followed by a valid request.
    client->write(statusLine(1) + "\n" + statusLine(2) + "\n");
    const QByteArray third = statusLine(3);
    client->write(third.left(5));
    ASSERT_TRUE(runUntil([&] { return requests.size() == 2; }));
    client->write(third.mid(5) + "\n");
    client->write("{not json\n" + QByteArray(R"({"id":9,"op":"dance"})") + "\n" + statusLine(4) + "\n");
    ASSERT_TRUE(runUntil([&] { return requests.size() == 4; }));
    std::vector<qint64> ids;
    for (auto& [connection, request] : requests)
        ids.push_back(request.id);
    EXPECT_EQ(ids, (std::vector<qint64>{1, 2, 3, 4}));
    EXPECT_EQ(log.count("undecodable request frame"), 2);
    EXPECT_TRUE(log.contains("ipc", host::LogLevel::Error, "undecodable request frame"));
    EXPECT_EQ(server->clientCount(), 1);
}

TEST_F(ServerFixture, BroadcastReachesTheChosenClientsAndSendsEncodedFrames) {
    auto first = connectClient();
    auto second = connectClient();
    ASSERT_TRUE(settleAt(2));
    first->write(statusLine(1) + "\n");
    ASSERT_TRUE(runUntil([&] { return requests.size() == 1; }));
    requests[0].first->profileDirectory = "Profile 1";
    EXPECT_TRUE(::fcntl(requests[0].first->fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(::fcntl(requests[0].first->fd, F_GETFL) & O_NONBLOCK);

    server->broadcast(Event(Event::Kind::routingHistoryChanged),
                      [](const ClientConnection&) { return false; });
    Event windows(Event::Kind::windows);
    windows.profileDirectory = "Profile 1";
    windows.count = 2;
    server->broadcast(windows, [](const ClientConnection& c) { return c.profileDirectory == "Profile 1"; });
    server->broadcast(Event(Event::Kind::shuttingDown), [](const ClientConnection&) { return true; });

    auto line = first->readLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(Event::decode(*line), windows);
    EXPECT_EQ(first->readLine(), *Event(Event::Kind::shuttingDown).encode());
    // The second client got nothing before the event for everybody.
    EXPECT_EQ(second->readLine(), *Event(Event::Kind::shuttingDown).encode());

    Response answer(1, true);
    answer.action = Response::Action::acknowledged;
    EXPECT_TRUE(requests[0].first->send(answer));
    EXPECT_EQ(first->readLine(), *answer.encode());
}

TEST_F(ServerFixture, StopEndsEveryClientAndRemovesItsSocketFile) {
    auto first = connectClient();
    auto second = connectClient();
    ASSERT_TRUE(settleAt(2));
    const auto before = counts.size();
    server->stop(path);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(first->seesEndOfFile());
    EXPECT_TRUE(second->seesEndOfFile());
    EXPECT_EQ(server->clientCount(), 0);
    time->runUntilIdle();
    EXPECT_EQ(counts.size(), before); // stop reports no count
    EXPECT_THROW(UnixSocket::connect(path), SocketError);
}

TEST_F(ServerFixture, AnAcceptNotYetReportedWhenTheServerStopsIsNeverReported) {
    auto client = connectClient();
    // Accepted on the server's queue, its count waiting on the main queue, which has not run since.
    ASSERT_TRUE(test::waitFor([&] { return server->clientCount() == 1 && time->pendingCount() == 1; }));
    server->stop(path);
    time->runUntilIdle();
    EXPECT_TRUE(counts.empty());
}

TEST_F(ServerFixture, OnlyTheServerThatListensRemovesTheSocketFile) {
    // A second helper that never got the lock, so never listened, stops on its way out.
    auto bystander = std::make_shared<SocketServer>();
    bystander->stop(path);
    EXPECT_TRUE(QFile::exists(path));
    auto client = connectClient();
    ASSERT_TRUE(settleAt(1));

    // A newer helper has replaced the socket file: the old one's stop leaves the newer file alone.
    QTemporaryDir dir;
    const QString other = dir.filePath("h.sock");
    auto older = std::make_shared<SocketServer>();
    older->start(other);
    auto newer = std::make_shared<SocketServer>();
    newer->start(other);
    older->stop(other);
    EXPECT_TRUE(QFile::exists(other));
    test::SocketPeer stillThere(UnixSocket::connect(other));
    newer->stop(other);
    EXPECT_FALSE(QFile::exists(other));
}

TEST_F(ServerFixture, SocketAndItsFolderAreOwnerOnly) {
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u);
}

TEST_F(ServerFixture, AnAnswerForADroppedClientNeverReachesTheClientThatGetsItsDescriptor) {
    auto first = connectClient();
    first->write(statusLine(1) + "\n");
    ASSERT_TRUE(runUntil([&] { return requests.size() == 1; }));
    const Connection dropped = requests[0].first;
    const int oldFD = dropped->fd;
    first->close();
    ASSERT_TRUE(settleAt(0));
    // Wait until the dropped connection's descriptor is really closed, so the next accept may reuse it.
    ASSERT_TRUE(test::waitFor([&] { return ::fcntl(oldFD, F_GETFD) == -1; }));

    auto second = connectClient();
    second->write(statusLine(2) + "\n");
    ASSERT_TRUE(runUntil([&] { return requests.size() == 2; }));
    const Connection current = requests[1].first;
    EXPECT_EQ(current->fd, oldFD) << "the descriptor number was not reused; the case is not exercised";

    // The answer to the first client completes late.
    EXPECT_FALSE(dropped->send(Response(1, true)));
    EXPECT_FALSE(dropped->sendFrame("{\"id\":1,\"ok\":true}"));
    ASSERT_TRUE(current->send(Response(2, true)));
    EXPECT_EQ(second->readLine(), *Response(2, true).encode());
}

TEST_F(ServerFixture, RequestsOfADroppedClientAreNotDelivered) {
    // The delegate drops the client on its first request (a bye) while its later lines are already read.
    server->onRequest = [this](const Connection& connection, const Request& request) {
        requests.emplace_back(connection, request);
        server->drop(connection);
    };
    auto client = connectClient();
    client->write(statusLine(1) + "\n" + statusLine(2) + "\n" + statusLine(3) + "\n");
    ASSERT_TRUE(runUntil([&] { return requests.size() == 1; }));
    time->runUntilIdle();
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_TRUE(client->seesEndOfFile());
}

TEST_F(ServerFixture, AClientThatStopsReadingIsDroppedAfterOneStall) {
    auto client = connectClient();
    const int small = 4096;
    ::setsockopt(client->fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    client->write(statusLine(1) + "\n");
    ASSERT_TRUE(runUntil([&] { return requests.size() == 1; }));
    const Connection connection = requests[0].first;
    ::setsockopt(connection->fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    Event big(Event::Kind::stubOutdated);
    big.improvements = QStringList{QString(64 * 1024, QLatin1Char('x'))};
    int sent = 0;
    while (connection->send(big))
        ASSERT_LT(++sent, 1000) << "the socket never filled up";
    // One stall, then the connection is closed for writing and is dropped: nothing is written to it again,
    // even once the client has made room by reading.
    EXPECT_FALSE(connection->isOpen());
    qsizetype newlines = 0;
    const auto drain = [&](int quietMs) {
        char chunk[65536];
        for (;;) {
            pollfd p{client->fd(), POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0)
                return;
            const ssize_t n = ::read(client->fd(), chunk, sizeof chunk);
            if (n <= 0)
                return;
            newlines += std::count(chunk, chunk + n, '\n');
        }
    };
    drain(200);
    EXPECT_FALSE(connection->send(big));
    server->broadcast(big, [](const ClientConnection&) { return true; });
    ASSERT_TRUE(settleAt(0));
    drain(2000);
    EXPECT_EQ(newlines, sent) << "a message was written after the stall";
}

TEST_F(ServerFixture, ClientTableFollowsConnectAndDisconnectChurn) {
    QRandomGenerator random(42);
    std::vector<std::unique_ptr<test::SocketPeer>> clients;
    for (int round = 0; round < 200; ++round) {
        if (clients.empty() || random.bounded(3) != 0) {
            clients.push_back(connectClient());
        } else {
            const auto victim = random.bounded(int(clients.size()));
            clients.erase(clients.begin() + victim);
        }
        if (round % 25 == 0) {
            ASSERT_TRUE(settleAt(int(clients.size()))) << "round " << round;
        }
    }
    ASSERT_TRUE(settleAt(int(clients.size())));
    // Every live client is in the table once, and each answers on its own connection.
    for (size_t i = 0; i < clients.size(); ++i)
        clients[i]->write(statusLine(qint64(i)) + "\n");
    ASSERT_TRUE(runUntil([&] { return requests.size() == clients.size(); }));
    std::set<const ClientConnection*> seen;
    for (auto& [connection, request] : requests) {
        seen.insert(connection.get());
        connection->send(Response(request.id, true));
    }
    EXPECT_EQ(seen.size(), clients.size());
    EXPECT_TRUE(runUntil([&] { return server->connections().size() == clients.size(); }));
    for (size_t i = 0; i < clients.size(); ++i)
        EXPECT_EQ(clients[i]->readLine(), *Response(qint64(i), true).encode());
}

TEST(SocketServer, FiveHundredClientsLeaveNoDescriptorBehind) {
    test::VirtualTimeScope time;
    Corvane::ensureSupportDirectory();
    const QString path = Corvane::socketPath();
    const int before = test::openDescriptorCount();
    {
        auto server = std::make_shared<SocketServer>();
        server->start(path);
        for (int batch = 0; batch < 5; ++batch) {
            std::vector<std::unique_ptr<test::SocketPeer>> clients;
            for (int i = 0; i < 100; ++i) {
                clients.push_back(std::make_unique<test::SocketPeer>(UnixSocket::connect(path)));
                if (i % 2 == 0)
                    clients.back()->write(statusLine(i) + "\n");
            }
            ASSERT_TRUE(time->runUntil([&] { return server->clientCount() == 100; }));
            clients.clear();
            ASSERT_TRUE(time->runUntil([&] { return server->clientCount() == 0; }));
        }
        server->stop(path);
    }
    EXPECT_TRUE(test::waitFor([&] { return test::openDescriptorCount() == before; }))
        << test::openDescriptorCount() << " open, " << before << " before";
}

TEST(SocketServer, ServerDestroyedWithoutStopClosesItsClients) {
    test::VirtualTimeScope time;
    QTemporaryDir dir;
    const QString path = dir.filePath("h.sock");
    const int before = test::openDescriptorCount();
    auto server = std::make_shared<SocketServer>();
    server->start(path);
    test::SocketPeer client(UnixSocket::connect(path));
    ASSERT_TRUE(time->runUntil([&] { return server->clientCount() == 1; }));
    server.reset();
    EXPECT_TRUE(client.seesEndOfFile());
    client.close();
    EXPECT_TRUE(test::waitFor([&] { return test::openDescriptorCount() == before; }));
}

// Whether a thread of this process has begun to exit. A joined thread may still be listed in /proc for a
// moment after the join returned (the kernel wakes the joiner before it removes the thread), but by then it
// carries the kernel's "exiting" flag (PF_EXITING, in the ninth field of its stat line).
bool isExiting(const QString& task) {
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    constexpr unsigned long exitingFlag = 0x4;
    return fields.size() > 6 && (fields[6].toULong() & exitingFlag) != 0;
}

// The threads of this process named as the server's I/O queue that have not begun to exit.
int serverThreadCount() {
    int count = 0;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (name.open(QIODevice::ReadOnly) && name.readAll().trimmed() == "app.corvane.ipc" &&
            !isExiting(task))
            ++count;
    }
    return count;
}

TEST(SocketServer, TheLastReferenceGoingWhileAClientWritesEndsTheServersThreadFirst) {
    QTemporaryDir dir;
    const QString path = dir.filePath("h.sock");
    for (int round = 0; round < 30; ++round) {
        test::VirtualTimeScope time;
        auto server = std::make_shared<SocketServer>();
        server->start(path);
        test::SocketPeer client(UnixSocket::connect(path));
        ASSERT_TRUE(time->runUntil([&] { return server->clientCount() == 1; }));
        // The server's thread is busy reading when the last reference goes.
        std::atomic<bool> writing{true};
        std::thread writer([&] {
            const QByteArray lines = (statusLine(1) + "\n").repeated(64);
            while (writing && client.write(lines)) {
            }
        });
        QThread::usleep(2000);
        server.reset();
        EXPECT_EQ(serverThreadCount(), 0) << "round " << round;
        // The server's end is closed, so the writer's next write fails if it has not stopped already.
        writing = false;
        writer.join();
    }
}

TEST(SocketServer, ListenFailureLeavesTheServerUnstarted) {
    auto server = std::make_shared<SocketServer>();
    QTemporaryDir dir;
    EXPECT_THROW(server->start(dir.filePath("no/such/folder/h.sock")), SocketError);
    EXPECT_EQ(server->listenFD(), -1);
    EXPECT_EQ(server->clientCount(), 0);
}

TEST(SocketServer, AClientOfAnotherUserIsRejectedWithoutACount) {
    // Only root can take on another user's id, and the kernel gives the server the client's real one.
    ASSERT_EQ(::getuid(), 0u) << "connecting as another user needs root: run the tests as root, as CI does";
    test::VirtualTimeScope time;
    test::LogCapture log;
    // A folder and socket that another user may reach, so the server's own check is what refuses it.
    const QByteArray folder = "/tmp/corvane-peer-test-" + QByteArray::number(::getpid());
    ::mkdir(folder.constData(), 0755);
    const QString path = QString::fromUtf8(folder) + "/h.sock";
    auto server = std::make_shared<SocketServer>();
    std::vector<int> counts;
    server->onClientCountChanged = [&](int count) { counts.push_back(count); };
    server->start(path);
    ::chmod(QFile::encodeName(path).constData(), 0666);
    const sockaddr_un address = UnixSocket::makeAddress(path);

    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            _exit(2);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            _exit(3);
        char byte;
        _exit(::read(fd, &byte, 1) == 0 ? 0 : 4); // the server closes without a word
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(log.contains("ipc", host::LogLevel::Error, "rejected connection from another uid"));
    time->runUntilIdle();
    EXPECT_TRUE(counts.empty());
    EXPECT_EQ(server->clientCount(), 0);
    server->stop(path);
    ::rmdir(folder.constData());
}

} // namespace
