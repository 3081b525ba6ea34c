#include "Corvane/Models/HelperProbe.h"
#include "Support/FakeHelperConnection.h"
#include "Support/LogCapture.h"
#include "Support/ModelEnvironment.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

using State = HelperConnection::State;

class HelperProbeTest : public testing::Test {
protected:
    test::ModelEnvironment environment;
    std::shared_ptr<test::FakeHelperConnection> link = std::make_shared<test::FakeHelperConnection>();
    std::shared_ptr<HelperProbe> probe = std::make_shared<HelperProbe>(link);
    int changes = 0;
    int histories = 0;

    void SetUp() override {
        probe->onChange = [this] { ++changes; };
        probe->onHistoryChanged = [this] { ++histories; };
    }
};

TEST_F(HelperProbeTest, StartIntroducesTheCreatorApp) {
    probe->start();
    ASSERT_EQ(link->hellos.size(), 1u);
    const Request& hello = link->hellos[0];
    EXPECT_EQ(hello.id, 0);
    EXPECT_EQ(hello.op, Request::Op::hello);
    EXPECT_EQ(hello.bundleID, Corvane::creatorBundleID);
    EXPECT_EQ(hello.pid, static_cast<qint32>(QCoreApplication::applicationPid()));
    EXPECT_FALSE(hello.profileDirectory.has_value());
}

TEST_F(HelperProbeTest, HelperUseOffTouchesNothing) {
    environment.setDisablesHelper(true);
    test::LogCapture log;
    probe->start();
    EXPECT_EQ(link->connects, 0);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(probe->connected);
    EXPECT_TRUE(log.contains(QStringLiteral("helper use is switched off; not connecting")));

    probe->requestGrant();
    const HelperProbe::GrantRepair repair = probe->repairGrant();
    EXPECT_FALSE(repair.ran);
    EXPECT_EQ(repair.failure, std::nullopt);
    EXPECT_TRUE(log.contains(QStringLiteral("helper use is switched off; not repairing the grant")));
    EXPECT_TRUE(environment.workspace().opens.empty());
    EXPECT_TRUE(environment.runner().runs().empty());
    EXPECT_EQ(link->shutdowns, 0);
    EXPECT_FALSE(HelperProbe::isAvailable());
}

TEST_F(HelperProbeTest, FollowsConnectionAndTrust) {
    probe->start();
    link->setState(State::connecting);
    link->setState(State::connected);
    EXPECT_TRUE(probe->connected);
    EXPECT_FALSE(probe->trusted);
    link->pushTrust(true);
    EXPECT_TRUE(probe->trusted);
    const int before = changes;

    for (Event::Kind kind :
         {Event::Kind::windows, Event::Kind::shuttingDown, Event::Kind::stubOutdated, Event::Kind::unknown})
        link->push(Event(kind));
    EXPECT_EQ(changes, before);
    EXPECT_EQ(histories, 0);
    link->push(Event(Event::Kind::routingHistoryChanged));
    EXPECT_EQ(histories, 1);

    // A dropped connection being retried loses both facts.
    link->setState(State::connecting);
    EXPECT_FALSE(probe->connected);
    EXPECT_FALSE(probe->trusted);

    link->setState(State::connected);
    link->push(Event(Event::Kind::axPermission));
    EXPECT_FALSE(probe->trusted);
}

TEST_F(HelperProbeTest, AvailableOnlyWithTheInstalledHelper) {
    EXPECT_FALSE(HelperProbe::isAvailable());
    environment.installHelperCopy();
    EXPECT_TRUE(HelperProbe::isAvailable());
}

TEST_F(HelperProbeTest, RepairResetsTheGrantAndStartsAgainLater) {
    environment.runner().exitWith(QStringLiteral("/usr/bin/tccutil"), 1, QStringLiteral("denied"));
    probe->start();
    link->setState(State::connected);
    // The reset's failure is reported, and the rest of the repair runs all the same.
    EXPECT_EQ(probe->repairGrant().failure, QStringLiteral("/usr/bin/tccutil failed (1): denied"));
    EXPECT_EQ(link->shutdowns, 1);
    EXPECT_FALSE(probe->connected);
    EXPECT_EQ(environment.runner().argumentsOf(QStringLiteral("/usr/bin/tccutil")),
              (std::vector<QStringList>{
                  {QStringLiteral("reset"), QStringLiteral("Accessibility"), Corvane::helperBundleID}}));
    ASSERT_EQ(environment.workspace().opens.size(), 1u);
    EXPECT_EQ(environment.workspace().opens[0].appPath, Corvane::installedHelperURL());
    EXPECT_FALSE(environment.workspace().opens[0].configuration.activates);

    environment.time().advance(1.4);
    EXPECT_EQ(link->connects, 1);
    environment.time().advance(0.2);
    EXPECT_EQ(link->connects, 2);
}

TEST_F(HelperProbeTest, RepairThatClearsTheEntryReportsNoFailure) {
    probe->start();
    const HelperProbe::GrantRepair repair = probe->repairGrant();
    EXPECT_TRUE(repair.ran);
    EXPECT_EQ(repair.failure, std::nullopt);
    EXPECT_EQ(environment.runner().argumentsOf(QStringLiteral("/usr/bin/tccutil")).size(), 1u);
}

TEST_F(HelperProbeTest, TabGroupsNeedAConnectedTrustedHelper) {
    probe->start();
    link->setState(State::connected);
    std::optional<std::vector<TabGroupInfo>> received;
    probe->tabGroups(
        QStringLiteral("Default"), false,
        [&](const std::vector<TabGroupInfo>& groups, const std::optional<QString>&) { received = groups; });
    EXPECT_TRUE(link->requests.empty());
    EXPECT_FALSE(received.has_value()); // later, not inside the call
    environment.time().runUntilIdle();
    ASSERT_TRUE(received.has_value());
    EXPECT_TRUE(received->empty());

    link->pushTrust(true);
    std::optional<QString> failure;
    probe->tabGroups(QStringLiteral("Default"), true,
                     [&](const std::vector<TabGroupInfo>& groups, const std::optional<QString>& error) {
                         received = groups;
                         failure = error;
                     });
    ASSERT_EQ(link->requests.size(), 1u);
    EXPECT_EQ(link->requests[0].timeout, 12.0);
    EXPECT_EQ(link->requests[0].request.op, Request::Op::listTabGroups);
    EXPECT_EQ(link->requests[0].request.profileDirectory, QStringLiteral("Default"));
    EXPECT_EQ(link->requests[0].request.deep, true);
    link->fail(QStringLiteral("timed out"));
    EXPECT_TRUE(received->empty());
    EXPECT_EQ(failure, QStringLiteral("timed out"));

    probe->tabGroups(QStringLiteral("Default"), false,
                     [&](const std::vector<TabGroupInfo>& groups, const std::optional<QString>& error) {
                         received = groups;
                         failure = error;
                     });
    EXPECT_EQ(link->requests[0].timeout, 4.0);
    EXPECT_EQ(link->requests[0].request.deep, false);
    link->answerTabGroups({TabGroupInfo{QStringLiteral("Sprint"), true, false, 1}});
    EXPECT_EQ(received->size(), 1u);
    EXPECT_FALSE(failure.has_value());
}

} // namespace

#include "CorvaneCore/Messaging/SocketServer.h"

namespace {

// The probe over the real link and socket, against a server in the helper's place: the hello comes first, the
// helper's grant follows it, and a tab-group request travels only once the helper is known to be trusted.
TEST(HelperProbeOverTheSocket, HelloThenTrustThenRequests) {
    test::ModelEnvironment environment;
    Corvane::ensureSupportDirectory();
    const QString path = Corvane::socketPath();
    auto server = std::make_shared<SocketServer>();
    std::vector<Request> received;
    server->onRequest = [&](const std::shared_ptr<ClientConnection>& connection, const Request& request) {
        received.push_back(request);
        if (request.op == Request::Op::hello) {
            Event grant(Event::Kind::axPermission);
            grant.trusted = true;
            connection->send(grant);
        } else if (request.op == Request::Op::listTabGroups) {
            Response answer(request.id, true);
            answer.tabGroups =
                std::vector<TabGroupInfo>{TabGroupInfo{QStringLiteral("Sprint"), true, false, 1}};
            connection->send(answer);
        }
    };
    server->start(path);
    {
        auto probe = std::make_shared<HelperProbe>();
        probe->start();
        ASSERT_TRUE(environment.time().runUntil([&] { return probe->connected && probe->trusted; }));
        ASSERT_FALSE(received.empty());
        EXPECT_EQ(received[0].op, Request::Op::hello);
        EXPECT_EQ(received[0].bundleID, Corvane::creatorBundleID);

        std::optional<std::vector<TabGroupInfo>> groups;
        probe->tabGroups(
            QStringLiteral("Profile 1"), false,
            [&](const std::vector<TabGroupInfo>& listed, const std::optional<QString>&) { groups = listed; });
        ASSERT_TRUE(environment.time().runUntil([&] { return groups.has_value(); }));
        ASSERT_EQ(groups->size(), 1u);
        EXPECT_EQ(received.back().profileDirectory, QStringLiteral("Profile 1"));
        probe->link->shutdown();
    }
    server->stop(path);
}

} // namespace
