#include "CorvaneCore/Messaging/SocketClient.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "CorvaneCore/Messaging/SocketServer.h"
#include "Support/LogCapture.h"
#include "Support/SocketPeer.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using State = HelperLink::State;
using Connection = std::shared_ptr<ClientConnection>;

struct LinkFixture : testing::Test {
    test::VirtualTimeScope time;
    test::LogCapture log;
    QString path;
    std::shared_ptr<HelperLink> link = std::make_shared<HelperLink>();
    std::vector<State> states;
    std::vector<Event> events;
    int installs = 0;
    int opens = 0;
    std::optional<host::OpenConfiguration> openedWith;

    // The helper side, when a test starts one.
    std::shared_ptr<SocketServer> server;
    std::vector<std::pair<Connection, Request>> received;

    void SetUp() override {
        Corvane::ensureSupportDirectory();
        path = Corvane::socketPath();
        link->onStateChange = [this](State state) { states.push_back(state); };
        link->onEvent = [this](const Event& event) { events.push_back(event); };
        link->installHelper = [this](bool force) {
            EXPECT_FALSE(force);
            ++installs;
            return false;
        };
        link->openHelper = [this](const QString& appPath, const host::OpenConfiguration& configuration,
                                  host::OpenCompletion completion) {
            EXPECT_EQ(appPath, Corvane::installedHelperURL());
            ++opens;
            openedWith = configuration;
            completion(std::nullopt, std::nullopt);
        };
    }
    void TearDown() override {
        link.reset();
        if (server)
            server->stop(path);
    }

    void startServer() {
        server = std::make_shared<SocketServer>();
        server->onRequest = [this](const Connection& connection, const Request& request) {
            received.emplace_back(connection, request);
        };
        server->start(path);
    }
    Request hello() {
        Request request(0, Request::Op::hello);
        request.profileDirectory = "Profile 1";
        request.pid = 4242;
        return request;
    }
    bool runUntil(const std::function<bool()>& done) { return time->runUntil(done); }
    Connection helloConnection() {
        EXPECT_TRUE(runUntil([&] { return !received.empty(); }));
        return received.empty() ? nullptr : received.front().first;
    }
};

Response failureOf(qint64 id, const QString& text) {
    Response response(id, false);
    response.error = text;
    return response;
}

TEST_F(LinkFixture, WithoutAHelperItStartsTheHelperOnceAndBacksOffUpToTenSeconds) {
    link->connect(hello());
    EXPECT_EQ(states, (std::vector<State>{State::connecting, State::disconnected}));
    EXPECT_EQ(installs, 1);
    EXPECT_EQ(opens, 1);
    ASSERT_TRUE(openedWith);
    EXPECT_FALSE(openedWith->activates);
    EXPECT_FALSE(openedWith->addsToRecentItems);
    EXPECT_FALSE(openedWith->createsNewApplicationInstance);

    const std::vector<double> bases{0.25, 0.5, 1, 2, 4, 8, 10, 10, 10};
    for (size_t i = 0; i < bases.size(); ++i) {
        EXPECT_EQ(time->pendingCount(), 1u);
        const double due = time->nextDueIn();
        EXPECT_GE(due, bases[i] - 0.001) << "attempt " << i;
        EXPECT_LE(due, bases[i] * 1.25 + 0.001) << "attempt " << i;
        time->advance(due);
        EXPECT_EQ(states.size(), 2 * (i + 2));
    }
    EXPECT_EQ(installs, 1);
    EXPECT_EQ(link->state(), State::disconnected);
}

TEST_F(LinkFixture, HelperThatCannotBeInstalledIsReportedAndNotOpened) {
    QDir(Corvane::installedHelperURL()).removeRecursively();
    link->installHelper = [this](bool) -> bool {
        ++installs;
        throw std::runtime_error("could not find a helper to install");
    };
    link->connect(hello());
    EXPECT_EQ(installs, 1);
    EXPECT_EQ(opens, 0);
    EXPECT_EQ(log.count("helper not installed and no creator bundle to copy it from"), 1);

    // With an installed copy present, the failed install does not stop the launch; a failed open is logged.
    QDir().mkpath(Corvane::installedHelperURL());
    link->openHelper = [this](const QString&, const host::OpenConfiguration&,
                              host::OpenCompletion completion) {
        ++opens;
        completion(std::nullopt, host::SystemError("Workspace", 2, "no such application"));
    };
    link->shutdown();
    link->connect(hello()); // same run of failures: no second launch
    EXPECT_EQ(installs, 1);
    startServer();
    time->advance(time->nextDueIn());
    ASSERT_EQ(link->state(), State::connected);
    server->stop(path);
    ASSERT_TRUE(runUntil([&] { return link->state() == State::disconnected; }));
    time->advance(time->nextDueIn());
    EXPECT_EQ(installs, 2);
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(log.contains("ipc", host::LogLevel::Error, "helper launch failed: no such application"));
    QDir(Corvane::installedHelperURL()).removeRecursively();
}

TEST_F(LinkFixture, HelloComesFirstWithTheProtocolVersionAndStateFollows) {
    startServer();
    std::vector<size_t> receivedWhenConnected;
    link->onStateChange = [&](State state) {
        states.push_back(state);
        if (state == State::connected)
            link->post(Request::Op::noteLaunch, [](Request& r) { r.profileDirectory = "Profile 1"; });
    };
    Request request = hello();
    request.protocolVersion = 7; // whatever the caller set
    link->connect(request);
    EXPECT_EQ(states, (std::vector<State>{State::connecting, State::connected}));
    EXPECT_TRUE(log.contains("ipc", host::LogLevel::Default, "stub connected to helper"));
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[0].second.op, Request::Op::hello);
    EXPECT_EQ(received[0].second.protocolVersion, 2);
    EXPECT_EQ(received[0].second.pid, 4242);
    EXPECT_EQ(received[1].second.op, Request::Op::noteLaunch);
    EXPECT_EQ(received[1].second.id, 1);
    EXPECT_EQ(installs, 0);
}

TEST_F(LinkFixture, RequestsAreAnsweredExactlyOnceInEveryWay) {
    // Disconnected: "not connected" before request returns; ids still advance, posts vanish silently.
    std::vector<Response> answers;
    auto record = [&](const Response& response) { answers.push_back(response); };
    link->post(Request::Op::noteLaunch);
    link->request(Request::Op::activate, 2.0, {}, record);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], failureOf(2, "not connected"));

    startServer();
    link->connect(hello());
    auto connection = helloConnection();
    ASSERT_TRUE(connection);

    // Answered by the helper.
    link->request(Request::Op::status, 2.0, {}, record);
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[1].second.id, 3);
    Response answer(3, true);
    answer.windowCount = 1;
    connection->send(answer);
    ASSERT_TRUE(runUntil([&] { return answers.size() == 2; }));
    EXPECT_EQ(answers[1], answer);

    // Too slow: "timed out", and the late answer is dropped.
    link->request(Request::Op::activate, 2.0, {}, record);
    ASSERT_TRUE(runUntil([&] { return received.size() == 3; }));
    time->advance(2.0);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[2], failureOf(4, "timed out"));
    connection->send(Response(4, true));
    connection->send(Event(Event::Kind::routingHistoryChanged));
    ASSERT_TRUE(runUntil([&] { return events.size() == 1; }));
    EXPECT_EQ(answers.size(), 3u);

    // The helper quits with two requests pending: both fail once the state is disconnected; a retry follows.
    std::vector<State> stateAtAnswer;
    auto recordState = [&](const Response& response) {
        answers.push_back(response);
        stateAtAnswer.push_back(link->state());
    };
    link->request(Request::Op::activate, 30.0, {}, recordState);
    link->request(Request::Op::closeWindows, 30.0, {}, recordState);
    ASSERT_TRUE(runUntil([&] { return received.size() == 5; }));
    server->stop(path);
    ASSERT_TRUE(runUntil([&] { return answers.size() == 5; }));
    EXPECT_EQ(answers[3], failureOf(5, "helper disconnected"));
    EXPECT_EQ(answers[4], failureOf(6, "helper disconnected"));
    EXPECT_EQ(stateAtAnswer, (std::vector<State>{State::disconnected, State::disconnected}));
    EXPECT_TRUE(log.contains("ipc", host::LogLevel::Info, "helper connection dropped"));
    // The retry is at 0.25 s again; its failed attempt starts the helper (a new run of failures).
    const double due = time->nextDueIn();
    EXPECT_GE(due, 0.249);
    EXPECT_LE(due, 0.3126);
    time->advance(due);
    EXPECT_EQ(installs, 1);
    // Their time-outs find nothing left to answer.
    time->advance(60);
    EXPECT_EQ(answers.size(), 5u);
}

TEST_F(LinkFixture, AnEventAndAResponseInOneReadArriveInTheirOrder) {
    startServer();
    link->connect(hello());
    auto connection = helloConnection();
    std::vector<QString> order;
    link->onEvent = [&](const Event&) { order.push_back("event"); };
    link->request(Request::Op::status, 5.0, {},
                  [&](const Response& r) { order.push_back(r.ok ? "ok" : "fail"); });
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }));
    connection->sendFrame(*Event(Event::Kind::axPermission).encode() + "\n" + *Response(1, true).encode());
    ASSERT_TRUE(runUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<QString>{"event", "ok"}));
    connection->sendFrame("garbage");
    ASSERT_TRUE(runUntil([&] { return log.contains("undecodable frame from helper"); }));
}

TEST_F(LinkFixture, ShutdownSaysByeAndStaysDown) {
    startServer();
    link->connect(hello());
    auto connection = helloConnection();
    ASSERT_TRUE(runUntil([&] { return server->clientCount() == 1; }));
    link->shutdown();
    EXPECT_EQ(link->state(), State::disconnected);
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[1].second.op, Request::Op::bye);
    EXPECT_EQ(received[1].second.id, 0);
    EXPECT_EQ(received[1].second.protocolVersion, 2);
    ASSERT_TRUE(runUntil([&] { return server->clientCount() == 0; }));
    time->advance(60);
    EXPECT_EQ(link->state(), State::disconnected);
    EXPECT_EQ(received.size(), 2u);
}

TEST_F(LinkFixture, ConnectWhileConnectedKeepsTheNewHelloForTheNextConnection) {
    startServer();
    link->connect(hello());
    auto first = helloConnection();
    Request changed = hello();
    changed.profileDirectory = "Profile 2";
    link->connect(changed);
    server->drop(first); // the helper ends this connection
    ASSERT_TRUE(runUntil([&] { return link->state() == State::disconnected; }));
    time->advance(time->nextDueIn());
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[1].second.profileDirectory, "Profile 2");
    EXPECT_EQ(received[1].second.op, Request::Op::hello);
}

TEST_F(LinkFixture, LeftoverBytesOfADroppedConnectionDoNotSpoilTheNextOne) {
    startServer();
    link->connect(hello());
    auto first = helloConnection();
    // Half a line, then the connection ends.
    ASSERT_EQ(::write(first->fd, "{\"event\":\"win", 13), 13);
    server->drop(first);
    ASSERT_TRUE(runUntil([&] { return link->state() == State::disconnected; }));
    time->advance(time->nextDueIn());
    ASSERT_EQ(link->state(), State::connected);
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }));
    received[1].first->send(Event(Event::Kind::axPermission));
    ASSERT_TRUE(runUntil([&] { return events.size() == 1; }));
    EXPECT_EQ(events[0].event, Event::Kind::axPermission);
    EXPECT_FALSE(log.contains("undecodable frame from helper"));
}

TEST_F(LinkFixture, AReconnectFromTheStateChangeIsNotFollowedByASecondConnection) {
    startServer();
    // An owner that reconnects at once when the connection drops.
    link->onStateChange = [this](State state) {
        states.push_back(state);
        if (state == State::disconnected && states.size() < 6)
            link->connect(hello());
    };
    link->connect(hello());
    auto first = helloConnection();
    server->drop(first);
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }));
    ASSERT_EQ(link->state(), State::connected);
    EXPECT_EQ(time->pendingCount(), 0u); // no retry of the link's own waits
    time->advance(60);
    EXPECT_TRUE(runUntil([&] { return server->clientCount() == 1; }));
    EXPECT_EQ(received.size(), 2u);
    EXPECT_EQ(link->state(), State::connected);
}

TEST_F(LinkFixture, AHelperWhoseListenQueueIsFullFailsTheAttemptInsteadOfHoldingTheCaller) {
    // A listener that never accepts, with its queue filled by other clients.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = UnixSocket::makeAddress(path);
    ::unlink(QFile::encodeName(path).constData());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 64; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        fillers.push_back(fd);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            break;
    }
    link->connect(hello()); // would block for good with a waiting connect
    EXPECT_EQ(states, (std::vector<State>{State::connecting, State::disconnected}));
    EXPECT_EQ(installs, 1);
    EXPECT_EQ(time->pendingCount(), 1u); // the usual retry
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
    ::unlink(QFile::encodeName(path).constData());
}

TEST_F(LinkFixture, AWriteThatFailsPartWayEndsTheConnectionSoNothingIsGluedToTheRest) {
    // A helper that accepts and then stops reading.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = UnixSocket::makeAddress(path);
    ::unlink(QFile::encodeName(path).constData());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    link->connect(hello());
    ASSERT_EQ(link->state(), State::connected);
    test::SocketPeer helper(::accept(listener, nullptr, nullptr));

    std::vector<Response> answers;
    link->request(
        Request::Op::listTabGroups, 5,
        [](Request& request) { request.profileDirectory = QString(8 * 1024 * 1024, QLatin1Char('x')); },
        [&](const Response& response) { answers.push_back(response); });
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].error, QStringLiteral("not connected"));
    // The link hangs up: the helper reads the hello and part of a line, then the end of the stream.
    EXPECT_TRUE(helper.seesEndOfFile(10000));
    EXPECT_TRUE(runUntil([&] { return link->state() == State::disconnected; }));
    ::close(listener);
    ::unlink(QFile::encodeName(path).constData());
}

TEST_F(LinkFixture, ShutdownThenConnectWhileARetryWaitsKeepsOneChainOfRetries) {
    link->connect(hello());
    ASSERT_EQ(time->pendingCount(), 1u);
    link->shutdown();
    link->connect(hello());
    EXPECT_EQ(time->pendingCount(), 1u);
    // Every timer that fires makes exactly one attempt (a connecting/disconnected pair).
    for (int i = 0; i < 6; ++i) {
        const size_t before = states.size();
        time->advance(time->nextDueIn());
        EXPECT_EQ(states.size(), before + 2);
        EXPECT_EQ(time->pendingCount(), 1u);
    }
}

TEST_F(LinkFixture, ALateDisconnectNoticeDoesNotEndTheNextConnection) {
    startServer();
    link->connect(hello());
    auto first = helloConnection();
    server->drop(first);
    // The end-of-file notice is queued for the main queue but not run yet.
    ASSERT_TRUE(test::waitFor([&] { return time->pendingCount() > 0; }));
    link->shutdown();
    link->connect(hello());
    ASSERT_EQ(link->state(), State::connected);
    time->runUntilIdle();
    EXPECT_EQ(link->state(), State::connected);
    // The bye went to the connection the helper had already closed; the new one said hello.
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[1].second.op, Request::Op::hello);
    EXPECT_EQ(server->clientCount(), 1);
}

TEST_F(LinkFixture, LinksComeAndGoWithoutLeavingDescriptors) {
    startServer();
    const int before = test::openDescriptorCount();
    for (int i = 0; i < 50; ++i) {
        auto other = std::make_shared<HelperLink>();
        other->installHelper = [](bool) { return false; };
        other->openHelper = [](const QString&, const host::OpenConfiguration&, host::OpenCompletion) {};
        other->connect(hello());
        // A busy server's full queue fails an attempt at once; the link's retry gets in once it has accepted.
        for (int tries = 0; tries < 100 && other->state() != State::connected; ++tries) {
            time->runUntil([] { return false; }, 10);
            time->advance(std::max(0.0, time->nextDueIn()));
        }
        ASSERT_EQ(other->state(), State::connected);
        if (i % 2)
            other->shutdown();
    }
    // Every link has been accepted (its hello arrived) and has gone again.
    auto hellos = [&] {
        return std::count_if(received.begin(), received.end(),
                             [](const auto& entry) { return entry.second.op == Request::Op::hello; });
    };
    ASSERT_TRUE(runUntil([&] { return hellos() == 50 && server->clientCount() == 0; }));
    EXPECT_TRUE(runUntil([&] { return test::openDescriptorCount() == before; }))
        << test::openDescriptorCount() << " open, " << before << " before";
}

} // namespace
