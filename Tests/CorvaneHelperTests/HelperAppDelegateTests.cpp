#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/IPCProtocol.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "CorvaneCore/Messaging/SocketServer.h"
#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "CorvaneCore/ProxyApps/StubRevision.h"
#include "CorvaneCore/Routing/AppSettings.h"
#include "CorvaneHelper/Shell/HelperAppDelegate.h"
#include "CorvaneHelper/Shell/LinkHandler.h"
#include "Support/FakeWorkspace.h"
#include "Support/HelperDoubles.h"
#include "Support/LogCapture.h"
#include "Support/SocketPeer.h"
#include "Support/TemporaryHome.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <limits>

namespace {

// A window tracker that answers from what the test sets and keeps the completions of raise, close and the
// tab-group listing until the test runs them.
class FakeWindowSource final : public WindowProfileSource {
public:
    void setDelegate(std::weak_ptr<WindowProfileSourceDelegate> delegate) override { delegate_ = delegate; }
    std::weak_ptr<WindowProfileSourceDelegate> delegate() const override { return delegate_; }
    std::optional<qint32> chromePID() const override { return pid; }
    bool isChromeRunning() const override { return pid.has_value(); }
    qint64 trackedWindowCount() const override { return 0; }
    void start() override { calls.append(QStringLiteral("start")); }
    void stop() override { calls.append(QStringLiteral("stop")); }
    void refresh(const QString& reason) override {
        calls.append(QStringLiteral("refresh ") + reason);
        // The real tracker tells its delegate from inside a pass that noticed a change.
        if (changesOnRefresh)
            if (auto told = delegate_.lock())
                told->windowsDidChange(*this);
    }
    void updateProfiles(const std::vector<ChromeProfile>&) override {
        calls.append(QStringLiteral("profiles"));
    }
    void updateWatched(const std::vector<WatchScope>& scopes) override { watched = scopes; }
    void noteLaunch(const QString& profile) override {
        calls.append(QStringLiteral("noteLaunch ") + profile);
    }
    ProfileWindowReport report(const WatchScope& scope) override {
        return {count, CountConfidence::certain, pid.has_value()};
    }
    void raise(const WatchScope& scope, RaiseCompletion completion) override {
        raises.emplace_back(scope, completion);
    }
    void close(const WatchScope& scope, std::optional<qint64> limit, double budget,
               CloseCompletion completion) override {
        closes.push_back({scope, limit, budget, completion});
    }
    void tabGroups(const QString& profile, bool deep, TabGroupsCompletion completion) override {
        groupRequests.push_back({profile, deep, completion});
    }

    struct Close {
        WatchScope scope;
        std::optional<qint64> limit;
        double budget;
        CloseCompletion completion;
    };
    struct Groups {
        QString profile;
        bool deep;
        TabGroupsCompletion completion;
    };

    std::optional<qint32> pid = 31337;
    qint64 count = 2;
    bool changesOnRefresh = false;
    QStringList calls;
    std::vector<WatchScope> watched;
    std::vector<std::pair<WatchScope, RaiseCompletion>> raises;
    std::vector<Close> closes;
    std::vector<Groups> groupRequests;

private:
    std::weak_ptr<WindowProfileSourceDelegate> delegate_;
};

QJsonObject parse(const QByteArray& line) {
    return QJsonDocument::fromJson(line).object();
}

class HelperAppDelegateTest : public testing::Test {
protected:
    void SetUp() override {
        source = std::make_shared<FakeWindowSource>();
        delegate = start(source);
    }

    void TearDown() override {
        clients.clear();
        for (auto& started : delegates)
            if (started->isServing())
                started->applicationWillTerminate();
    }

    std::shared_ptr<HelperAppDelegate> start(std::shared_ptr<WindowProfileSource> windows) {
        auto created = std::make_shared<HelperAppDelegate>(std::move(windows));
        delegates.push_back(created);
        hostScope.application().setDelegate(created);
        hostScope.application().run();
        return created;
    }

    test::SocketPeer& connect() {
        const QString counted = QStringLiteral("client count: %1").arg(delegate->server().clientCount() + 1);
        const int before = log.count(counted);
        clients.push_back(std::make_unique<test::SocketPeer>(UnixSocket::connect(Corvane::socketPath())));
        // The delegate has heard of the new client.
        EXPECT_TRUE(time->runUntil([&] { return log.count(counted) > before; }));
        return *clients.back();
    }

    void send(test::SocketPeer& peer, const Request& request) {
        ASSERT_TRUE(peer.write(*request.encode() + '\n'));
    }

    // The next line the helper writes to `peer`, running the main queue meanwhile.
    std::optional<QJsonObject> next(test::SocketPeer& peer, int timeoutMs = 3000) {
        std::optional<QByteArray> line;
        time->runUntil(
            [&] {
                line = peer.readLine(2);
                return line.has_value();
            },
            timeoutMs);
        if (!line)
            return std::nullopt;
        return parse(*line);
    }

    // Nothing arrives within a short while (the main queue runs meanwhile).
    bool silent(test::SocketPeer& peer) { return !next(peer, 150).has_value(); }

    Request hello(const QString& profile = QStringLiteral("Profile 1")) {
        Request request(0, Request::Op::hello);
        request.profileDirectory = profile;
        request.bundleID = QStringLiteral("app.corvane.stub.work");
        request.pid = 99;
        return request;
    }

    // Connects and says hello, reading the answers of the hello.
    test::SocketPeer& helloClient(const Request& request) {
        auto& peer = connect();
        send(peer, request);
        while (next(peer, 300)) {
        }
        return peer;
    }

    test::TemporaryHome home;
    test::VirtualTimeScope time;
    test::FakeWorkspaceScope workspace;
    test::HelperHostScope hostScope;
    test::LogCapture log;
    std::shared_ptr<FakeWindowSource> source;
    std::vector<std::shared_ptr<HelperAppDelegate>> delegates;
    std::shared_ptr<HelperAppDelegate> delegate;
    std::vector<std::unique_ptr<test::SocketPeer>> clients;
};

TEST_F(HelperAppDelegateTest, StartsInOrderAndListens) {
    EXPECT_TRUE(hostScope.application().hasEventHandler(host::kURLEventClass, host::kURLEventID));
    EXPECT_TRUE(delegate->isServing());
    EXPECT_EQ(source->calls, QStringList{QStringLiteral("start")});
    EXPECT_EQ(source->delegate().lock(), delegate);
    EXPECT_TRUE(QFileInfo::exists(Corvane::socketPath()));
    EXPECT_TRUE(delegate->hasIdleTimer());
}

TEST_F(HelperAppDelegateTest, AChangeReportedDuringTheHelloReachesEveryClientAfterTheResponse) {
    auto& other = helloClient(hello(QStringLiteral("Profile 2")));
    source->changesOnRefresh = true;
    auto& peer = connect();
    send(peer, hello());

    const auto response = next(peer);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->value("action").toString(), QStringLiteral("acknowledged"));
    const auto windows = next(peer);
    ASSERT_TRUE(windows);
    EXPECT_EQ(windows->value("event").toString(), QStringLiteral("windows"));
    const auto permission = next(peer);
    ASSERT_TRUE(permission);
    EXPECT_EQ(permission->value("event").toString(), QStringLiteral("axPermission"));
    EXPECT_TRUE(silent(peer));

    // The client that was already there hears of the change once.
    const auto fanOut = next(other);
    ASSERT_TRUE(fanOut);
    EXPECT_EQ(fanOut->value("event").toString(), QStringLiteral("windows"));
    EXPECT_EQ(fanOut->value("profileDirectory").toString(), QStringLiteral("Profile 2"));
    EXPECT_TRUE(silent(other));
}

TEST_F(HelperAppDelegateTest, HelloIsAnsweredInOrderWithTheOutdatedNoticeOncePerThreeDays) {
    auto& peer = connect();
    Request request = hello();
    request.tabGroup = QStringLiteral("Research");
    request.stubRevision = 6;
    send(peer, request);

    const auto response = next(peer);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->value("id").toInt(), 0);
    EXPECT_EQ(response->value("action").toString(), QStringLiteral("acknowledged"));
    EXPECT_EQ(response->value("chromePID").toInt(), 31337);
    const auto windows = next(peer);
    ASSERT_TRUE(windows);
    EXPECT_EQ(windows->value("event").toString(), QStringLiteral("windows"));
    EXPECT_EQ(windows->value("profileDirectory").toString(), QStringLiteral("Profile 1"));
    EXPECT_EQ(windows->value("tabGroup").toString(), QStringLiteral("Research"));
    EXPECT_EQ(windows->value("count").toInt(), 2);
    EXPECT_EQ(windows->value("confidence").toString(), QStringLiteral("certain"));
    EXPECT_TRUE(windows->value("chromeRunning").toBool());
    const auto permission = next(peer);
    ASSERT_TRUE(permission);
    EXPECT_EQ(permission->value("event").toString(), QStringLiteral("axPermission"));
    EXPECT_FALSE(permission->value("trusted").toBool());
    const auto outdated = next(peer);
    ASSERT_TRUE(outdated);
    EXPECT_EQ(outdated->value("event").toString(), QStringLiteral("stubOutdated"));
    EXPECT_EQ(outdated->value("stubRevision").toInt(), StubRevision::current);
    EXPECT_EQ(outdated->value("improvements").toVariant().toStringList(), StubRevision::improvements(6));
    EXPECT_TRUE(
        log.contains(QStringLiteral("hello from app.corvane.stub.work for Profile 1 group Research")));
    EXPECT_TRUE(log.contains(QStringLiteral("told app.corvane.stub.work it is on stub revision 6 of 7")));
    EXPECT_TRUE(source->calls.contains(QStringLiteral("profiles")));
    EXPECT_TRUE(source->calls.contains(QStringLiteral("refresh hello")));

    // Within three days the same launcher is not told again; a current launcher never is.
    send(peer, request);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(next(peer));
    EXPECT_TRUE(silent(peer));
    request.stubRevision = 7;
    request.bundleID = QStringLiteral("app.corvane.stub.other");
    send(peer, request);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(next(peer));
    EXPECT_TRUE(silent(peer));
}

TEST_F(HelperAppDelegateTest, ALauncherWhoseNoticeCannotBeMarkedIsToldAtEveryHello) {
    auto& peer = connect();
    Request request = hello();
    request.stubRevision = 3;
    // Empty, longer than a file name may be, a path, and a line break (which would end up in a file name).
    for (const QString& strange : {QString(), QString(256, QLatin1Char('a')),
                                   QStringLiteral("../../../escape"), QStringLiteral("app.corvane.line\n")}) {
        request.bundleID = strange;
        for (int hello = 0; hello < 2; ++hello) {
            send(peer, request);
            for (int i = 0; i < 3; ++i)
                ASSERT_TRUE(next(peer));
            const auto outdated = next(peer);
            ASSERT_TRUE(outdated) << "not told: \"" << strange.toStdString() << "\"";
            EXPECT_EQ(outdated->value("event").toString(), QStringLiteral("stubOutdated"));
            EXPECT_TRUE(silent(peer));
        }
    }
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("Library/escape-r7"))));
    const QStringList markers = QDir(Corvane::supportDirectory()).entryList({QStringLiteral("warned-*")});
    EXPECT_TRUE(markers.isEmpty()) << markers.join(',').toStdString();

    // The settings still rule.
    AppSettings settings;
    settings.notifiesWhenProxyAppsAreOutdated = false;
    SettingsStore().save(settings);
    send(peer, request);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(next(peer));
    EXPECT_TRUE(silent(peer));
}

TEST_F(HelperAppDelegateTest, ARevisionBelowTheIntegerRangeIsToldEveryImprovement) {
    auto& peer = connect();
    Request request = hello();
    request.stubRevision = -4294967290LL; // would wrap to 6 as a 32-bit number
    send(peer, request);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(next(peer));
    const auto outdated = next(peer);
    ASSERT_TRUE(outdated);
    EXPECT_EQ(outdated->value("improvements").toVariant().toStringList(),
              StubRevision::improvements(std::numeric_limits<int>::min()));
    EXPECT_NE(StubRevision::improvements(std::numeric_limits<int>::min()), StubRevision::improvements(6));
}

TEST_F(HelperAppDelegateTest, OutdatedNoticeFollowsTheSettings) {
    AppSettings settings;
    settings.notifiesWhenProxyAppsAreOutdated = false;
    SettingsStore().save(settings);
    auto& peer = connect();
    Request request = hello();
    request.stubRevision = 6;
    send(peer, request);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(next(peer));
    EXPECT_TRUE(silent(peer));
}

TEST_F(HelperAppDelegateTest, HelloDefaultsAndScopes) {
    Request plain = hello(QStringLiteral("Default"));
    plain.tabGroup = QString();
    helloClient(plain);
    ASSERT_EQ(source->watched.size(), 1u);
    EXPECT_EQ(source->watched[0], (WatchScope{QStringLiteral("Default"), std::nullopt, true, false, true}));

    // A hello without a profile (the creator app's) gives no scope and no windows event.
    auto& creator = connect();
    Request creatorHello(0, Request::Op::hello);
    creatorHello.bundleID = Corvane::creatorBundleID;
    send(creator, creatorHello);
    EXPECT_EQ(next(creator)->value("action").toString(), QStringLiteral("acknowledged"));
    EXPECT_EQ(next(creator)->value("event").toString(), QStringLiteral("axPermission"));
    EXPECT_TRUE(silent(creator));
    EXPECT_EQ(source->watched.size(), 1u);

    // Its activate and closeWindows fail.
    send(creator, Request(5, Request::Op::activate));
    auto refused = next(creator);
    EXPECT_FALSE(refused->value("ok").toBool());
    EXPECT_EQ(refused->value("error").toString(), QStringLiteral("no profile on this connection"));
    EXPECT_EQ(refused->value("chromePID").toInt(), 31337);
    send(creator, Request(6, Request::Op::closeWindows));
    refused = next(creator);
    EXPECT_EQ(refused->value("id").toInt(), 6);
    EXPECT_FALSE(refused->value("ok").toBool());
    EXPECT_EQ(refused->value("error").toString(), QStringLiteral("no profile on this connection"));

    // Every change of the windows reaches each scoped client once, even without a change of count.
    delegate->windowsDidChange(*source);
    delegate->windowsDidChange(*source);
    EXPECT_TRUE(silent(creator));
}

TEST_F(HelperAppDelegateTest, WindowChangesReachEveryScopedClient) {
    auto& first = helloClient(hello(QStringLiteral("A")));
    auto& second = helloClient(hello(QStringLiteral("B")));
    source->count = 5;
    delegate->windowsDidChange(*source);
    delegate->windowsDidChange(*source);
    for (auto* peer : {&first, &second}) {
        for (int i = 0; i < 2; ++i) {
            const auto event = next(*peer);
            ASSERT_TRUE(event);
            EXPECT_EQ(event->value("event").toString(), QStringLiteral("windows"));
            EXPECT_EQ(event->value("count").toInt(), 5);
        }
        EXPECT_TRUE(silent(*peer));
    }
}

TEST_F(HelperAppDelegateTest, ActivateWithoutTrustAnswersAtOnce) {
    auto& peer = helloClient(hello());
    send(peer, Request(7, Request::Op::activate));
    const auto answer = next(peer);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->value("ok").toBool());
    EXPECT_EQ(answer->value("action").toString(), QStringLiteral("nothingToRaise"));
    EXPECT_EQ(answer->value("error").toString(), QStringLiteral("window tracking unavailable"));
    EXPECT_TRUE(source->raises.empty());
}

TEST_F(HelperAppDelegateTest, ActivateAnswersAfterTheRaiseWithTheMappedAction) {
    hostScope.accessibility().trusted = true;
    auto& peer = helloClient(hello());
    send(peer, Request(8, Request::Op::activate));
    ASSERT_TRUE(time->runUntil([&] { return !source->raises.empty(); }));
    EXPECT_TRUE(source->calls.contains(QStringLiteral("refresh activate")));
    source->count = 3;
    source->raises[0].second(RaiseOutcome::noWindows);
    const auto answer = next(peer);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->value("id").toInt(), 8);
    EXPECT_EQ(answer->value("action").toString(), QStringLiteral("nothingToRaise"));
    EXPECT_EQ(answer->value("windowCount").toInt(), 3);
    EXPECT_EQ(answer->value("confidence").toString(), QStringLiteral("certain"));
    EXPECT_FALSE(answer->contains("error"));
}

TEST_F(HelperAppDelegateTest, CloseTabGroupsStatusAndNoteLaunch) {
    auto& peer = helloClient(hello());
    send(peer, Request(9, Request::Op::closeWindows));
    ASSERT_TRUE(time->runUntil([&] { return !source->closes.empty(); }));
    EXPECT_EQ(source->closes[0].budget, 6.0);
    EXPECT_FALSE(source->closes[0].limit.has_value());
    source->closes[0].completion(CloseResult{2, 1, true});
    auto answer = next(peer);
    EXPECT_EQ(answer->value("closed").toInt(), 2);
    EXPECT_EQ(answer->value("remaining").toInt(), 1);
    EXPECT_TRUE(answer->value("blocked").toBool());

    // A client's own budget and limit are handed on as given.
    Request limited(20, Request::Op::closeWindows);
    limited.limit = 3;
    limited.timeout = 2.5;
    send(peer, limited);
    ASSERT_TRUE(time->runUntil([&] { return source->closes.size() == 2; }));
    EXPECT_EQ(source->closes[1].budget, 2.5);
    EXPECT_EQ(source->closes[1].limit, std::optional<qint64>(3));
    source->closes[1].completion(CloseResult{3, 0, false});
    answer = next(peer);
    EXPECT_EQ(answer->value("id").toInt(), 20);
    EXPECT_EQ(answer->value("closed").toInt(), 3);

    Request listing(10, Request::Op::listTabGroups);
    listing.deep = true;
    send(peer, listing);
    ASSERT_TRUE(time->runUntil([&] { return !source->groupRequests.empty(); }));
    EXPECT_EQ(source->groupRequests[0].profile, QStringLiteral("Profile 1"));
    EXPECT_TRUE(source->groupRequests[0].deep);
    source->groupRequests[0].completion({TabGroupInfo{QStringLiteral("One"), true, false, 1},
                                         TabGroupInfo{QStringLiteral("Two"), false, true, 0}});
    answer = next(peer);
    EXPECT_EQ(answer->value("tabGroups").toArray().size(), 2);
    EXPECT_TRUE(log.contains(QStringLiteral("tab groups in Profile 1: One, Two")));

    send(peer, Request(11, Request::Op::status));
    answer = next(peer);
    EXPECT_EQ(answer->value("windowCount").toInt(), 2);
    EXPECT_EQ(answer->value("chromePID").toInt(), 31337);
    EXPECT_FALSE(answer->contains("chromeRunning"));

    Request launch(12, Request::Op::noteLaunch);
    launch.profileDirectory = QStringLiteral("Profile 9");
    send(peer, launch);
    answer = next(peer);
    EXPECT_EQ(answer->value("action").toString(), QStringLiteral("acknowledged"));
    EXPECT_TRUE(source->calls.contains(QStringLiteral("noteLaunch Profile 9")));

    // Without any profile the listing answers at once with an empty list.
    auto& other = connect();
    send(other, Request(13, Request::Op::listTabGroups));
    answer = next(other);
    ASSERT_TRUE(answer->contains("tabGroups"));
    EXPECT_TRUE(answer->value("tabGroups").toArray().isEmpty());
}

TEST_F(HelperAppDelegateTest, LateRepliesNeverReachAConnectionThatTookTheGoneOnesPlace) {
    hostScope.accessibility().trusted = true;
    auto& leaving = helloClient(hello());
    send(leaving, Request(20, Request::Op::activate));
    send(leaving, Request(21, Request::Op::closeWindows));
    send(leaving, Request(22, Request::Op::listTabGroups));
    ASSERT_TRUE(time->runUntil([&] {
        return !source->raises.empty() && !source->closes.empty() && !source->groupRequests.empty();
    }));
    leaving.close();
    ASSERT_TRUE(time->runUntil([&] { return delegate->server().clientCount() == 0; }));

    // The next client most likely gets the same descriptor number.
    auto& newcomer = connect();
    source->raises[0].second(RaiseOutcome::raised);
    source->closes[0].completion(CloseResult{1, 0, false});
    source->groupRequests[0].completion({});
    EXPECT_TRUE(silent(newcomer));
}

TEST_F(HelperAppDelegateTest, IdleExitAfterTenSecondsWithoutClients) {
    auto& peer = connect();
    EXPECT_FALSE(delegate->hasIdleTimer());
    send(peer, Request(0, Request::Op::bye));
    ASSERT_TRUE(peer.seesEndOfFile(100) ||
                time->runUntil([&] { return delegate->server().clientCount() == 0; }));
    ASSERT_TRUE(time->runUntil([&] { return delegate->server().clientCount() == 0; }));
    EXPECT_TRUE(log.contains(QStringLiteral("client count: 0")));

    time->advance(9.9);
    EXPECT_EQ(hostScope.application().terminateRequests, 0);
    // A client that comes within the grace keeps the helper.
    auto& again = connect();
    time->advance(30);
    EXPECT_EQ(hostScope.application().terminateRequests, 0);
    again.close();
    ASSERT_TRUE(time->runUntil([&] { return delegate->server().clientCount() == 0; }));
    time->advance(9.9);
    EXPECT_EQ(hostScope.application().terminateRequests, 0);
    time->advance(0.2);
    EXPECT_EQ(hostScope.application().terminateRequests, 1);
    EXPECT_TRUE(log.contains(QStringLiteral("helper"), host::LogLevel::Info,
                             QStringLiteral("no clients for 10.000000s; exiting")));
    // Terminating tells the tracker and removes the socket.
    EXPECT_TRUE(source->calls.contains(QStringLiteral("stop")));
    EXPECT_FALSE(QFileInfo::exists(Corvane::socketPath()));
}

TEST_F(HelperAppDelegateTest, DefaultBrowserStaysResident) {
    const QString helperApp = workspace->addApplication(
        QStringLiteral("CorvaneHelper"), test::FakeWorkspace::browserInfo(Corvane::helperBundleID));
    workspace->setDefaultForScheme(QStringLiteral("https"), helperApp);
    workspace->setDefaultForScheme(QStringLiteral("http"), helperApp);
    auto& peer = connect();
    peer.close();
    ASSERT_TRUE(time->runUntil([&] { return delegate->server().clientCount() == 0; }));
    EXPECT_TRUE(log.contains(QStringLiteral("no clients, but Corvane handles links; staying resident")));
    EXPECT_FALSE(delegate->hasIdleTimer());
    time->advance(60);
    EXPECT_EQ(hostScope.application().terminateRequests, 0);
}

TEST_F(HelperAppDelegateTest, BecomingTheHandlerWhileIdlingKeepsTheHelper) {
    const QString helperApp = workspace->addApplication(
        QStringLiteral("CorvaneHelper"), test::FakeWorkspace::browserInfo(Corvane::helperBundleID));
    workspace->setDefaultForContentType(QStringLiteral("public.html"), helperApp);
    time->advance(10.1);
    EXPECT_EQ(hostScope.application().terminateRequests, 0);
    EXPECT_TRUE(log.contains(QStringLiteral("became the link handler while idling; staying resident")));
}

TEST_F(HelperAppDelegateTest, SecondHelperQuitsAfterTwoSecondsWithoutTouchingTheFirstsSocket) {
    auto& firstClient = helloClient(hello());
    auto secondSource = std::make_shared<FakeWindowSource>();
    auto second = start(secondSource);

    EXPECT_TRUE(log.contains(QStringLiteral("another helper already holds the lock; exiting shortly")));
    EXPECT_FALSE(second->isServing());
    EXPECT_TRUE(secondSource->calls.isEmpty());
    time->advance(1.9);
    EXPECT_EQ(hostScope.application().terminateRequests, 0);
    time->advance(0.2);
    EXPECT_EQ(hostScope.application().terminateRequests, 1);
    EXPECT_TRUE(hostScope.application().terminated);

    // The first helper still serves: its socket is there and its client is still answered.
    EXPECT_TRUE(QFileInfo::exists(Corvane::socketPath()));
    EXPECT_TRUE(delegate->isServing());
    send(firstClient, Request(30, Request::Op::status));
    const auto answer = next(firstClient);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->value("id").toInt(), 30);
    auto& newClient = connect();
    EXPECT_TRUE(newClient.fd() >= 0);
    EXPECT_FALSE(log.contains(QStringLiteral("no clients for 10.000000s; exiting")));
}

TEST_F(HelperAppDelegateTest, TrustIsPolledEveryTwoSeconds) {
    auto& peer = helloClient(hello());
    hostScope.accessibility().trusted = true;
    time->advance(1.9);
    EXPECT_TRUE(silent(peer));
    time->advance(0.2);
    auto event = next(peer);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->value("event").toString(), QStringLiteral("axPermission"));
    EXPECT_TRUE(event->value("trusted").toBool());
    EXPECT_TRUE(source->calls.contains(QStringLiteral("refresh trust-granted")));
    EXPECT_TRUE(log.contains(QStringLiteral("Accessibility trust changed: true")));

    source->calls.clear();
    hostScope.accessibility().trusted = false;
    time->advance(2.0);
    event = next(peer);
    ASSERT_TRUE(event);
    EXPECT_FALSE(event->value("trusted").toBool());
    EXPECT_FALSE(source->calls.contains(QStringLiteral("refresh trust-granted")));
    time->advance(10);
    EXPECT_TRUE(silent(peer));
}

TEST_F(HelperAppDelegateTest, PromptsForTrustOnceWhenTheFirstClientComes) {
    EXPECT_EQ(hostScope.accessibility().prompts, 0);
    connect();
    connect();
    EXPECT_EQ(hostScope.accessibility().prompts, 1);
}

TEST_F(HelperAppDelegateTest, RecordedLinksAreAnnouncedAndShutdownIsBroadcast) {
    auto& peer = connect();
    ASSERT_TRUE(delegate->links().onHistoryRecorded);
    delegate->links().onHistoryRecorded();
    auto event = next(peer);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->value("event").toString(), QStringLiteral("routingHistoryChanged"));
    EXPECT_EQ(event->size(), 1);

    hostScope.application().terminate();
    event = next(peer);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->value("event").toString(), QStringLiteral("shuttingDown"));
    EXPECT_TRUE(event->value("chromeRunning").toBool());
    EXPECT_TRUE(peer.seesEndOfFile());
    EXPECT_FALSE(QFileInfo::exists(Corvane::socketPath()));
}

TEST_F(HelperAppDelegateTest, FilesGoWithTheEventsSenderAndWebLinksWithTheFrontmostApplication) {
    const QString firefox = workspace->addApplication(
        QStringLiteral("Firefox"), test::FakeWorkspace::browserInfo(QStringLiteral("org.mozilla.firefox")));
    const host::RunningApplication editor{
        555, QStringLiteral("com.example.Editor"), QStringLiteral("Editor"), {}};
    const host::RunningApplication front{
        556, QStringLiteral("com.example.Front"), QStringLiteral("Front"), {}};
    workspace->addRunning(editor);
    workspace->setFrontmost(front);
    const QString page = home.file(QStringLiteral("doc.html"));
    QFile(page).open(QIODevice::WriteOnly);

    hostScope.application().dispatch(host::AppleEvent::openDocuments({QUrl::fromLocalFile(page)}, 555));
    delegate->applicationOpenURLs({QUrl(QStringLiteral("https://example.com/"))});
    time->runUntilIdle();

    EXPECT_TRUE(log.contains(QStringLiteral("routed %1 from com.example.Editor to Firefox.app via fallback")
                                 .arg(QUrl::fromLocalFile(page).toString(QUrl::FullyEncoded))));
    EXPECT_TRUE(
        log.contains(QStringLiteral("a web link arrived through AppKit; the sending app is unknown")));
    EXPECT_TRUE(log.contains(
        QStringLiteral("routed https://example.com/ from com.example.Front to Firefox.app via fallback")));
    EXPECT_EQ(workspace->opens.size(), 2u);
}

TEST(HelperAppDelegateStartTest, HelperThatCannotListenTerminatesAtOnceWithoutTracking) {
    test::TemporaryHome home;
    test::VirtualTimeScope time;
    test::FakeWorkspaceScope workspace;
    test::HelperHostScope hostScope;
    test::LogCapture log;
    // A folder in the socket's place cannot be removed or bound over.
    ASSERT_TRUE(QDir().mkpath(Corvane::socketPath() + QStringLiteral("/occupied")));
    auto source = std::make_shared<FakeWindowSource>();
    auto delegate = std::make_shared<HelperAppDelegate>(source);
    hostScope.application().setDelegate(delegate);
    hostScope.application().run();

    EXPECT_EQ(hostScope.application().terminateRequests, 1);
    EXPECT_TRUE(source->calls.isEmpty());
    bool logged = false;
    for (const QString& message : log.messages(QStringLiteral("helper")))
        logged = logged || message.startsWith(QStringLiteral("could not listen: bind failed: "));
    EXPECT_TRUE(logged) << log.messages().join('\n').toStdString();
    EXPECT_TRUE(QFileInfo(Corvane::socketPath()).isDir());
}

} // namespace
