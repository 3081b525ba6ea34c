// The helper with its own window tracker, on the fake Chrome world, seen by a proxy app on the helper's
// socket.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/IPCProtocol.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "CorvaneCore/Messaging/SocketServer.h"
#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "CorvaneHelper/Shell/HelperAppDelegate.h"
#include "CorvaneHelper/WindowTracking/AXProfileSource.h"
#include "Support/FakeChromeWorld.h"
#include "Support/LogCapture.h"
#include "Support/SocketPeer.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using test::FakeChromeWorld;
using test::Node;

namespace {

void writeLocalState() {
    const QString path = ChromeProfiles::localStateURL();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"profile": {"info_cache": {"Default": {"name": "Work"}, "Profile 1": {"name": "Home"}},
                               "profiles_order": ["Default", "Profile 1"]}})");
}

class HelperTrackingTest : public testing::Test {
protected:
    void SetUp() override {
        writeLocalState();
        world().launchChrome();
        delegate = std::make_shared<HelperAppDelegate>();
        ASSERT_NE(dynamic_cast<AXProfileSource*>(&delegate->source()), nullptr);
        helperHost.application().setDelegate(delegate);
        helperHost.application().run();
    }
    void TearDown() override {
        clients.clear();
        if (delegate->isServing())
            delegate->applicationWillTerminate();
    }

    FakeChromeWorld& world() { return chrome.world(); }

    test::SocketPeer& helloClient(const QString& profile) {
        clients.push_back(std::make_unique<test::SocketPeer>(UnixSocket::connect(Corvane::socketPath())));
        Request hello(0, Request::Op::hello);
        hello.profileDirectory = profile;
        hello.bundleID = QStringLiteral("app.corvane.stub.") + profile;
        send(*clients.back(), hello);
        return *clients.back();
    }
    void send(test::SocketPeer& peer, const Request& request) {
        ASSERT_TRUE(peer.write(*request.encode() + '\n'));
    }
    std::optional<QJsonObject> next(test::SocketPeer& peer, int timeoutMs = 3000) {
        std::optional<QByteArray> line;
        chrome.time().runUntil(
            [&] {
                line = peer.readLine(2);
                return line.has_value();
            },
            timeoutMs);
        if (!line)
            return std::nullopt;
        return QJsonDocument::fromJson(*line).object();
    }
    // The next message of `kind` (an event name, or "response"), skipping others.
    std::optional<QJsonObject> nextOf(test::SocketPeer& peer, const QString& kind) {
        while (auto message = next(peer)) {
            const QString name = message->contains("event") ? message->value("event").toString() : "response";
            if (name == kind)
                return message;
        }
        return std::nullopt;
    }
    // The count of the latest windows event, after the tracker's notifications have run.
    std::optional<int> latestCount(test::SocketPeer& peer) {
        chrome.time().advance(0);
        std::optional<int> count;
        while (auto message = next(peer, 200))
            if (message->value("event").toString() == QStringLiteral("windows")) {
                count = message->value("count").toInt();
                EXPECT_EQ(message->value("confidence").toString(), QStringLiteral("certain"));
            }
        return count;
    }

    test::TemporaryHome home;
    test::HelperHostScope helperHost;
    test::ChromeWorldScope chrome;
    test::LogCapture log;
    std::shared_ptr<HelperAppDelegate> delegate;
    std::vector<std::unique_ptr<test::SocketPeer>> clients;
};

TEST_F(HelperTrackingTest, AClientFollowsItsProfilesWindows) {
    auto& work = helloClient(QStringLiteral("Default"));
    const auto first = nextOf(work, "windows");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->value("count").toInt(), 0);
    EXPECT_EQ(first->value("confidence").toString(), QStringLiteral("certain"));

    const Node one = world().openWindow("Inbox - Chromium - Work", QStringLiteral("Work"));
    EXPECT_EQ(latestCount(work), 1);
    const Node two = world().openWindow("Calendar - Chromium - Work", QStringLiteral("Work"));
    EXPECT_EQ(latestCount(work), 2);
    world().openWindow("News - Chromium - Home", QStringLiteral("Home"));
    world().closeWindow(one);
    world().closeWindow(two);
    EXPECT_EQ(latestCount(work), 0);
}

TEST_F(HelperTrackingTest, ActivateRaisesAndCloseWindowsClosesOnlyTheProfilesWindows) {
    const Node workWindow = world().openWindow("Inbox - Chromium - Work", QStringLiteral("Work"));
    const Node homeWindow = world().openWindow("News - Chromium - Home", QStringLiteral("Home"));
    auto& work = helloClient(QStringLiteral("Default"));
    auto& nobody = helloClient(QStringLiteral("Profile 2"));
    ASSERT_TRUE(nextOf(work, "axPermission"));
    ASSERT_TRUE(nextOf(nobody, "axPermission"));

    send(work, Request(1, Request::Op::activate));
    const auto raised = nextOf(work, "response");
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->value("action").toString(), QStringLiteral("raised"));
    EXPECT_EQ(AX::element(FakeChromeWorld::element(world().app()), "AXFocusedWindow"),
              FakeChromeWorld::element(workWindow));
    send(nobody, Request(2, Request::Op::activate));
    EXPECT_EQ(nextOf(nobody, "response")->value("action").toString(), QStringLiteral("nothingToRaise"));

    send(work, Request(3, Request::Op::closeWindows));
    const auto closed = nextOf(work, "response");
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->value("closed").toInt(), 1);
    EXPECT_EQ(closed->value("remaining").toInt(), 0);
    EXPECT_FALSE(workWindow->alive);
    EXPECT_TRUE(homeWindow->alive);
}

} // namespace
