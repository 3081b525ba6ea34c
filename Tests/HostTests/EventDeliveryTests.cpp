#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/EventDelivery.h"
#include "Support/TemporaryHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using host::AppleEvent;

// Runs the program's event loop until `done` holds (the listener lives on the main thread).
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Delivers on another thread while the main thread runs the loop; gives the sender's answer.
bool deliver(const QString& bundleID, const std::vector<AppleEvent>& events) {
    auto result =
        std::async(std::launch::async, [=] { return host::deliverToRunningApplication(bundleID, events); });
    pumpUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return result.get();
}

TEST(EventDeliveryTest, EventsSurviveTheirEncoding) {
    const std::vector<AppleEvent> events{
        AppleEvent::getURL(QStringLiteral("https://example.com/a b?q=\"x\""), 42),
        AppleEvent::openDocuments({QUrl::fromLocalFile(QStringLiteral("/tmp/a page.html"))}, std::nullopt),
        AppleEvent::reopen(7)};
    EXPECT_EQ(host::decodeAppleEvents(host::encodeAppleEvents(events)), events);
    EXPECT_FALSE(host::decodeAppleEvents("{\"events\":[{\"class\":1}]}"));
    EXPECT_FALSE(host::decodeAppleEvents("not json"));
}

TEST(EventDeliveryTest, OpeningSplitsLinksFromFiles) {
    const QUrl web(QStringLiteral("https://example.com/"));
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/x.html"));
    const auto events = AppleEvent::forOpening({web, file, web}, 9);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_TRUE(events[0].isGetURL());
    EXPECT_EQ(events[0].directObject, QStringLiteral("https://example.com/"));
    EXPECT_TRUE(events[1].isGetURL());
    EXPECT_TRUE(events[2].isOpenDocuments());
    EXPECT_EQ(events[2].documents, QList<QUrl>{file});
    EXPECT_EQ(events[2].senderPID, 9);
}

TEST(EventDeliveryTest, OnlyAbsoluteLinksBecomeArguments) {
    const QList<QUrl> urls{
        QUrl(QStringLiteral("--user-data-dir=/tmp/x")), QUrl(QStringLiteral("relative/page")),
        QUrl(QStringLiteral("https://example.com/-x")), QUrl::fromLocalFile(QStringLiteral("/tmp/-f"))};
    EXPECT_EQ(host::linkArguments(urls),
              (QStringList{QStringLiteral("https://example.com/-x"), QStringLiteral("file:///tmp/-f")}));

    host::EventChannelDelivery delivery;
    host::LaunchRequest launch{QStringLiteral("/Applications/X.app"),
                               QStringLiteral("com.example.x"),
                               {QStringLiteral("--own")},
                               {}};
    delivery.prepareLaunch(launch, {});
    EXPECT_TRUE(launch.environment.isEmpty());
    delivery.prepareLaunch(launch, urls);
    EXPECT_EQ(launch.arguments,
              (QStringList{QStringLiteral("--own"), QStringLiteral("https://example.com/-x"),
                           QStringLiteral("file:///tmp/-f")}));
    const auto events =
        host::decodeAppleEvents(launch.environment.value(host::kLaunchEventsVariable).toUtf8());
    ASSERT_TRUE(events);
    EXPECT_FALSE(events->empty());
}

TEST(EventDeliveryTest, SocketNamesArePlainBundleIdentifiersOnly) {
    test::TemporaryHome home;
    EXPECT_TRUE(host::eventSocketPath(QStringLiteral("com.example.app"))
                    .endsWith(QStringLiteral("/com.example.app.events")));
    for (const QString& bad : {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../x"),
                               QStringLiteral("a/b")})
        EXPECT_TRUE(host::eventSocketPath(bad).isEmpty()) << bad.toStdString();
    EXPECT_FALSE(host::deliverToRunningApplication(QStringLiteral("../x"), {AppleEvent::reopen(1)}));
}

TEST(EventDeliveryTest, ARunningProgramReceivesEventsAndKeepsItsSocketFromASecondInstance) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.listener");
    std::vector<AppleEvent> first, second;
    host::EventListener listener([&](const AppleEvent& event) { first.push_back(event); });
    ASSERT_TRUE(listener.start(id));
    EXPECT_FALSE(deliver(QStringLiteral("com.example.nobody"), {AppleEvent::reopen(1)}));

    const AppleEvent link = AppleEvent::getURL(QStringLiteral("https://example.com/"), 1234);
    EXPECT_TRUE(deliver(id, {link}));
    ASSERT_TRUE(pumpUntil([&] { return !first.empty(); }));
    EXPECT_EQ(first[0], link);

    // A second instance of the same program finds the socket alive and leaves it alone.
    host::EventListener intruder([&](const AppleEvent& event) { second.push_back(event); });
    EXPECT_FALSE(intruder.start(id));
    intruder.stop();
    EXPECT_TRUE(QFileInfo::exists(host::eventSocketPath(id)));
    EXPECT_TRUE(deliver(id, {link}));
    ASSERT_TRUE(pumpUntil([&] { return first.size() == 2; }));
    EXPECT_TRUE(second.empty());

    listener.stop();
    EXPECT_FALSE(QFileInfo::exists(host::eventSocketPath(id)));
    EXPECT_FALSE(deliver(id, {link}));
}

TEST(EventDeliveryTest, AStaleSocketIsReplaced) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.stale");
    const QString path = host::eventSocketPath(id);
    // A socket file whose program has gone.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    ASSERT_LT(size_t(bytes.size()), sizeof(address.sun_path));
    memcpy(address.sun_path, bytes.constData(), bytes.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);

    std::vector<AppleEvent> received;
    host::EventListener listener([&](const AppleEvent& event) { received.push_back(event); });
    ASSERT_TRUE(listener.start(id));
    EXPECT_TRUE(deliver(id, {AppleEvent::reopen(5)}));
    ASSERT_TRUE(pumpUntil([&] { return !received.empty(); }));
    EXPECT_TRUE(received[0].isReopen());
}

TEST(EventDeliveryTest, LaunchEventsAreTakenOutOfTheEnvironment) {
    const std::vector<AppleEvent> events{AppleEvent::getURL(QStringLiteral("https://example.com/"), 3)};
    qputenv(host::kLaunchEventsVariable, host::encodeAppleEvents(events));
    EXPECT_EQ(host::takeLaunchEvents(), events);
    EXPECT_FALSE(qEnvironmentVariableIsSet(host::kLaunchEventsVariable));
    EXPECT_TRUE(host::takeLaunchEvents().empty());
    qputenv(host::kLaunchEventsVariable, "garbage");
    EXPECT_TRUE(host::takeLaunchEvents().empty());
}

} // namespace
