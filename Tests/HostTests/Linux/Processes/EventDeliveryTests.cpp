#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/Linux/Processes/EventHandOver.h"
#include "Support/SocketPeer.h"
#include "Support/TemporaryHome.h"
#include "Support/VanishingListener.h"

#include "Support/Eventually.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <atomic>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using host::AppleEvent;
using Started = host::EventListener::StartResult;

using test::pumpUntil;

// Delivers on another thread while the main thread runs the loop; gives the sender's answer.
bool deliver(const QString& bundleID, const std::vector<AppleEvent>& events, const QString& deliveryID = {}) {
    auto result = std::async(std::launch::async,
                             [=] { return host::deliverToRunningApplication(bundleID, events, deliveryID); });
    pumpUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return result.get();
}

TEST(EventDeliveryTest, EventsSurviveTheirEncoding) {
    const std::vector<AppleEvent> events{
        AppleEvent::getURL(QStringLiteral("https://example.com/a b?q=\"x\""), 42),
        AppleEvent::openDocuments({QUrl::fromLocalFile(QStringLiteral("/tmp/a page.html"))}, std::nullopt),
        AppleEvent::reopen(7)};
    EXPECT_EQ(host::decodeAppleEvents(host::encodeAppleEvents(events)), events);
    // The delivery mark travels beside the events, where a reader that knows nothing of it passes it by.
    const QByteArray marked = host::encodeAppleEvents(events, QStringLiteral("m-1"));
    EXPECT_EQ(host::decodeDeliveredEvents(marked)->deliveryID, QStringLiteral("m-1"));
    EXPECT_EQ(host::decodeAppleEvents(marked), events);
    EXPECT_TRUE(host::decodeDeliveredEvents(host::encodeAppleEvents(events))->deliveryID.isEmpty());
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

    // Links given as written keep their text (the parsed host is in its ASCII form); files stay apart.
    const QString escaped = QStringLiteral("https://caf%C3%A9.example/");
    const auto written = AppleEvent::forOpening({*host::parseLink(escaped), file, web}, 9,
                                                {escaped, QStringLiteral("https://example.com/")});
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[0].directObject, escaped);
    EXPECT_EQ(written[1].directObject, QStringLiteral("https://example.com/"));
    EXPECT_EQ(written[2].documents, QList<QUrl>{file});
}

TEST(EventDeliveryTest, OnlyAbsoluteLinksBecomeArguments) {
    const QList<QUrl> urls{
        QUrl(QStringLiteral("--user-data-dir=/tmp/x")), QUrl(QStringLiteral("relative/page")),
        QUrl(QStringLiteral("https://example.com/-x")), QUrl::fromLocalFile(QStringLiteral("/tmp/-f"))};
    EXPECT_EQ(host::linkArguments(urls),
              (QStringList{QStringLiteral("https://example.com/-x"), QStringLiteral("file:///tmp/-f")}));
    // A link given as written goes on so; a written text that could read as a switch never does.
    const QString written = QStringLiteral("https://caf%C3%A9.example/a|b");
    EXPECT_EQ(host::linkArguments({*host::parseLink(written), urls[2]},
                                  {written, QStringLiteral("--user-data-dir=/tmp/x")}),
              (QStringList{written, QStringLiteral("https://example.com/-x")}));

    host::EventChannelDelivery delivery;
    host::LaunchRequest launch{QStringLiteral("/Applications/X.app"),
                               QStringLiteral("com.example.x"),
                               {QStringLiteral("--own")},
                               {}};
    delivery.prepareLaunch(launch, {}, {});
    EXPECT_TRUE(launch.environment.isEmpty());
    delivery.prepareLaunch(launch, urls, {});
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
    ASSERT_EQ(listener.start(id), Started::listening);
    EXPECT_FALSE(deliver(QStringLiteral("com.example.nobody"), {AppleEvent::reopen(1)}));

    const AppleEvent link = AppleEvent::getURL(QStringLiteral("https://example.com/"), 1234);
    EXPECT_TRUE(deliver(id, {link}));
    ASSERT_TRUE(pumpUntil([&] { return !first.empty(); }));
    EXPECT_EQ(first[0], link);

    // A second instance of the same program finds the socket alive and leaves it alone.
    host::EventListener intruder([&](const AppleEvent& event) { second.push_back(event); });
    EXPECT_EQ(intruder.start(id), Started::anotherInstanceRuns);
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
    ASSERT_EQ(listener.start(id), Started::listening);
    EXPECT_TRUE(deliver(id, {AppleEvent::reopen(5)}));
    ASSERT_TRUE(pumpUntil([&] { return !received.empty(); }));
    EXPECT_TRUE(received[0].isReopen());
}

// Two copies starting together both see the leftover socket of an earlier run. Only the one that holds the
// lock may replace it; the other must leave the file alone, or it takes away the socket of the survivor.
TEST(EventDeliveryTest, ACopyWithoutTheInstanceLockNeverTouchesTheSocketFile) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.twins");
    const QString path = host::eventSocketPath(id);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    memcpy(address.sun_path, bytes.constData(), bytes.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    struct stat before {};
    ASSERT_EQ(::lstat(bytes.constData(), &before), 0);

    // The first copy has its lock and is about to listen.
    auto lock = host::InstanceLock::tryAcquire(id);
    ASSERT_TRUE(lock);
    host::EventListener second([](const AppleEvent&) {});
    EXPECT_EQ(second.start(id), Started::anotherInstanceRuns);
    EXPECT_FALSE(second.isListening());
    second.stop();
    struct stat after {};
    ASSERT_EQ(::lstat(bytes.constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_FALSE(host::InstanceLock::tryAcquire(id));

    // Once the first copy is gone, the next one takes over the leftover socket.
    lock.reset();
    std::vector<AppleEvent> received;
    host::EventListener next([&](const AppleEvent& event) { received.push_back(event); });
    ASSERT_EQ(next.start(id), Started::listening);
    EXPECT_TRUE(deliver(id, {AppleEvent::reopen(5)}));
    EXPECT_TRUE(pumpUntil([&] { return received.size() == 1; }));
}

TEST(EventDeliveryTest, AListenerThatCannotListenSaysWhy) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.blocked");
    // A folder where the socket must go.
    ASSERT_TRUE(QDir().mkpath(host::eventSocketPath(id)));
    host::EventListener listener([](const AppleEvent&) {});
    EXPECT_EQ(listener.start(id), Started::failed);
    EXPECT_TRUE(listener.errorString().contains(host::eventSocketPath(id)))
        << listener.errorString().toStdString();
    EXPECT_TRUE(QFileInfo(host::eventSocketPath(id)).isDir());
    // A failed start does not keep the lock: the program ends, and the next copy may try.
    EXPECT_TRUE(host::InstanceLock::tryAcquire(id));
}

// A program whose main thread is busy reads the request late. The request was written whole, so it was
// delivered: the sender must not count it as failed (the workspace would start the program again with the
// same links).
TEST(EventDeliveryTest, ARequestWrittenWholeIsDeliveredEvenIfTheAnswerComesLate) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.busy");
    std::vector<AppleEvent> received;
    host::EventListener listener([&](const AppleEvent& event) { received.push_back(event); });
    ASSERT_EQ(listener.start(id), Started::listening);
    const AppleEvent link = AppleEvent::getURL(QStringLiteral("https://example.com/slow"), 9);
    // The listener runs on this very thread, so it cannot answer before the sender's time-out.
    EXPECT_TRUE(host::deliverToRunningApplication(id, {link}, {}, 200));
    ASSERT_TRUE(pumpUntil([&] { return !received.empty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(received, std::vector<AppleEvent>{link});
}

// Under a long runtime folder the socket goes where its path fits, and both sides find it there.
TEST(EventDeliveryTest, ALongRuntimeFolderStillGivesAWorkingSocket) {
    test::TemporaryHome home;
    const QString runtime = home.file(QStringLiteral("run/") + QString(110, QLatin1Char('r')));
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    const QString id = QStringLiteral("com.example.long-runtime");
    EXPECT_LT(host::eventSocketPath(id).toUtf8().size(), host::kSocketPathLimit);
    std::vector<AppleEvent> received;
    host::EventListener listener([&](const AppleEvent& event) { received.push_back(event); });
    EXPECT_EQ(listener.start(id), Started::listening) << listener.errorString().toStdString();
    EXPECT_TRUE(deliver(id, {AppleEvent::reopen(3)}));
    EXPECT_TRUE(pumpUntil([&] { return received.size() == 1; }));
    // A bundle identifier too long for any folder still gets a socket.
    const QString longID = QStringLiteral("com.example.") + QString(120, QLatin1Char('x'));
    EXPECT_LT(host::eventSocketPath(longID).toUtf8().size(), host::kSocketPathLimit);
    EXPECT_NE(host::eventSocketPath(longID), host::eventSocketPath(longID + QLatin1Char('y')));
    listener.stop();
    qputenv("XDG_RUNTIME_DIR", saved);
}

TEST(EventDeliveryTest, LaunchEventsAreTakenOutOfTheEnvironment) {
    const std::vector<AppleEvent> events{AppleEvent::getURL(QStringLiteral("https://example.com/"), 3)};
    qputenv(host::kLaunchEventsVariable, host::encodeAppleEvents(events, QStringLiteral("launch-1")));
    const host::DeliveredEvents launch = host::takeLaunchEvents();
    EXPECT_EQ(launch.events, events);
    EXPECT_EQ(launch.deliveryID, QStringLiteral("launch-1"));
    EXPECT_FALSE(qEnvironmentVariableIsSet(host::kLaunchEventsVariable));
    EXPECT_TRUE(host::takeLaunchEvents().events.empty());
    qputenv(host::kLaunchEventsVariable, "garbage");
    EXPECT_TRUE(host::takeLaunchEvents().events.empty());
}

// The answer says the links were handed on: a sender told "ok" while they were still being handled would
// lose them to a program that ended in between.
TEST(EventDeliveryTest, TheSenderIsAnsweredOnlyOnceItsEventsAreHandled) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.slow-handler");
    std::atomic<bool> handled{false};
    host::EventListener listener([&](const AppleEvent&) {
        QThread::msleep(300);
        handled = true;
    });
    ASSERT_EQ(listener.start(id), Started::listening);
    std::atomic<bool> handledWhenAnswered{false};
    auto sent = std::async(std::launch::async, [&] {
        const bool taken = host::deliverToRunningApplication(
            id, {AppleEvent::getURL(QStringLiteral("https://example.com/"), 1)});
        handledWhenAnswered = handled.load();
        return taken;
    });
    ASSERT_TRUE(
        pumpUntil([&] { return sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(sent.get());
    EXPECT_TRUE(handledWhenAnswered);
}

// A link the helper hands on to another running program is with that program only once it answered: the
// helper's own sender hears the link handled no sooner, and its mark is kept for the next copy no sooner, so
// a helper that ends meanwhile leaves the link to be handed over again rather than lost.
TEST(EventDeliveryTest, TheSenderIsAnsweredOnlyOnceWhatItsEventsStartedHandsThemOn) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.forwarder");
    std::shared_ptr<void> handOverUnderWay;
    host::EventListener listener([&](const AppleEvent&) { handOverUnderWay = host::holdSendersAnswer(); });
    ASSERT_EQ(listener.start(id), Started::listening);
    EXPECT_FALSE(host::holdSendersAnswer()) << "a hold outside a delivery";
    auto sent = std::async(std::launch::async, [&] {
        return host::deliverToRunningApplication(
            id, {AppleEvent::getURL(QStringLiteral("https://example.com/forwarded"), 1)},
            QStringLiteral("f-1"));
    });
    ASSERT_TRUE(pumpUntil([&] { return handOverUnderWay != nullptr; }));
    pumpUntil([] { return false; }, 300);
    EXPECT_EQ(sent.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "answered while its link was still being handed on";
    QFile marks(host::eventSocketPath(id) + QStringLiteral(".delivered"));
    EXPECT_FALSE(marks.exists() && marks.open(QIODevice::ReadOnly) && marks.readAll().contains("f-1"));

    handOverUnderWay.reset();
    ASSERT_TRUE(
        pumpUntil([&] { return sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(sent.get());
    ASSERT_TRUE(marks.open(QIODevice::ReadOnly));
    EXPECT_TRUE(marks.readAll().contains("f-1"));
}

// A program that ends between reading the events and answering may not have handed them on; nor has one
// that left only its socket file behind. The sender must try again (start the program) in both cases.
TEST(EventDeliveryTest, AListenerThatEndsWithoutAnsweringHasNotTakenTheEvents) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.vanishing");
    const AppleEvent link = AppleEvent::getURL(QStringLiteral("https://example.com/lost"), 1);
    test::VanishingListener vanishing(host::eventSocketPath(id));
    EXPECT_FALSE(host::deliverToRunningApplication(id, {link}));
    const auto line = vanishing.line();
    ASSERT_TRUE(line);
    EXPECT_EQ(host::decodeAppleEvents(*line), std::vector<AppleEvent>{link});
    EXPECT_FALSE(host::deliverToRunningApplication(id, {link}));
}

// An ending program refuses new senders, which go to the next copy, and answers the ones it already took.
TEST(EventDeliveryTest, AStoppingListenerHandlesWhatItTookAndRefusesTheRest) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.ending");
    std::vector<AppleEvent> received;
    host::EventListener listener([&](const AppleEvent& event) { received.push_back(event); });
    ASSERT_EQ(listener.start(id), Started::listening);
    const auto connectRaw = [&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(host::eventSocketPath(id));
        memcpy(address.sun_path, path.constData(), path.size());
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    };
    test::SocketPeer taken(connectRaw());
    pumpUntil([] { return false; }, 200); // the listener takes the connection
    test::SocketPeer waiting(connectRaw());
    const AppleEvent link = AppleEvent::getURL(QStringLiteral("https://example.com/late"), 1);
    ASSERT_TRUE(taken.write(host::encodeAppleEvents({link}) + '\n'));
    ASSERT_TRUE(waiting.write(host::encodeAppleEvents({link}) + '\n'));

    // Stopped without the loop running again: what was taken is handled within stop().
    listener.stop();
    EXPECT_EQ(received, std::vector<AppleEvent>{link});
    EXPECT_EQ(taken.readLine(), QByteArray("ok"));
    EXPECT_FALSE(waiting.readLine()) << "a sender the listener never took was answered";
}

// A started program takes its events from the environment while its starter hands the same ones over the
// socket, to be sure: under one delivery mark they are handed on once.
TEST(EventDeliveryTest, EventsHandedOverAgainUnderTheirMarkAreHandedOnOnce) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.marked");
    std::vector<AppleEvent> received;
    host::EventListener listener([&](const AppleEvent& event) { received.push_back(event); });
    ASSERT_EQ(listener.start(id), Started::listening);
    const AppleEvent link = AppleEvent::getURL(QStringLiteral("https://example.com/once"), 1);
    listener.deliver({{link}, QStringLiteral("launch-1")});
    EXPECT_TRUE(deliver(id, {link}, QStringLiteral("launch-1")));
    EXPECT_EQ(received.size(), 1u);

    // Other marks, and hand-overs without one, are events of their own even when they read the same.
    EXPECT_TRUE(deliver(id, {link}, QStringLiteral("launch-2")));
    EXPECT_TRUE(deliver(id, {link}));
    EXPECT_TRUE(deliver(id, {link}));
    EXPECT_TRUE(pumpUntil([&] { return received.size() == 4; }));
}

// A program that ends after handing events on but before its sender heard so leaves the sender to hand them
// over again, to the copy that follows it: that copy knows the marks handed on before it.
TEST(EventDeliveryTest, TheCopyThatFollowsKnowsTheMarksHandedOnBeforeIt) {
    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.follower");
    const AppleEvent link = AppleEvent::getURL(QStringLiteral("https://example.com/handed-on"), 1);
    std::vector<AppleEvent> received;
    {
        host::EventListener first([&](const AppleEvent& event) { received.push_back(event); });
        ASSERT_EQ(first.start(id), Started::listening);
        first.deliver({{link}, QStringLiteral("m-1")});
    }
    host::EventListener next([&](const AppleEvent& event) { received.push_back(event); });
    ASSERT_EQ(next.start(id), Started::listening);
    EXPECT_TRUE(deliver(id, {link}, QStringLiteral("m-1")));
    EXPECT_EQ(received.size(), 1u);
    EXPECT_TRUE(deliver(id, {link}, QStringLiteral("m-2")));
    EXPECT_EQ(received.size(), 2u);
}

// A program started with links in its environment may end before it hands them on. Its starter hands them
// over the program's socket once that listens, under the start's mark: the copy that took them from its
// environment only answers, and one that never had them hands them on.
class StartedProgramTest : public testing::Test {
protected:
    void SetUp() override {
        delivery.prepareLaunch(launch, {QUrl(QStringLiteral("https://example.com/started"))}, {});
    }

    // As though this process were the program just started, still starting up.
    void confirmAsStarted() { confirmAs(host::StartedProgram{::getpid(), {}}); }
    void confirmAs(const host::StartedProgram& program) {
        outcome.reset();
        delivery.confirmLaunch(launch, program,
                               [this](std::optional<QString> failure) { outcome = failure; });
    }
    // Whether the confirmation came, and said the program took its links.
    bool confirmed() {
        return pumpUntil([this] { return outcome.has_value(); }) && !*outcome;
    }
    // What the confirmation says of a program that ended so (how it failed, none when cleanly) before
    // anything listened: none when it took its links, else why it did not.
    std::optional<QString> confirmationOfAnEnd(std::optional<QString> failure) {
        std::promise<std::optional<QString>> ended;
        ended.set_value(failure);
        confirmAs(host::StartedProgram{0, ended.get_future().share()});
        EXPECT_TRUE(pumpUntil([this] { return outcome.has_value(); }));
        return outcome.value_or(QStringLiteral("no confirmation"));
    }
    host::DeliveredEvents fromEnvironment() const {
        return *host::decodeDeliveredEvents(launch.environment.value(host::kLaunchEventsVariable).toUtf8());
    }

    test::TemporaryHome home;
    const QString id = QStringLiteral("com.example.started");
    host::EventChannelDelivery delivery;
    host::LaunchRequest launch{QStringLiteral("/Applications/Started.app"), id, {}, {}};
    std::vector<AppleEvent> received;
    host::EventListener listener{[this](const AppleEvent& event) { received.push_back(event); }};
    std::optional<std::optional<QString>> outcome;
};

TEST_F(StartedProgramTest, TheProgramThatTookItsLinksFromItsStartOnlyAnswers) {
    ASSERT_EQ(listener.start(id), Started::listening);
    listener.deliver(fromEnvironment());
    confirmAsStarted();
    ASSERT_TRUE(confirmed());
    EXPECT_EQ(received, fromEnvironment().events);
}

TEST_F(StartedProgramTest, ACopyThatNeverHadTheLinksHandsThemOn) {
    confirmAsStarted();
    ASSERT_EQ(listener.start(id), Started::listening);
    ASSERT_TRUE(confirmed());
    EXPECT_EQ(received, fromEnvironment().events);
    listener.deliver(fromEnvironment());
    EXPECT_EQ(received.size(), 1u) << "the copy handed its start's links on again";
}

// A program that ended with a failure before it listened did not take its links; one that ended cleanly read
// them from its start, and one that handed them on before it ended took them whatever its end.
TEST_F(StartedProgramTest, AProgramThatFailedBeforeItHandedItsLinksOnDidNotTakeThem) {
    EXPECT_EQ(confirmationOfAnEnd(QStringLiteral("ended with status 1")),
              QStringLiteral("Started.app ended with status 1 before it took its links"));
    EXPECT_EQ(confirmationOfAnEnd(std::nullopt), std::nullopt);

    ASSERT_EQ(listener.start(id), Started::listening);
    listener.deliver(fromEnvironment());
    listener.stop();
    EXPECT_EQ(confirmationOfAnEnd(QStringLiteral("ended by signal 11 (Segmentation fault)")), std::nullopt);
}

// A program that ends while a start it made is still unconfirmed does not wait out the confirmation's
// patience: the confirmation gives up at its next look, so the program's wait for its background work is
// short.
TEST_F(StartedProgramTest, AConfirmationGivesUpWhenItsProgramEnds) {
    const std::string socket = QFile::encodeName(host::eventSocketPath(id)).toStdString();
    std::atomic<bool> ending{false};
    auto confirmation = std::async(std::launch::async, [&] {
        return host::wire::confirmStart(socket, "[]\n", ::getpid(), {}, [&] { return ending.load(); });
    });
    EXPECT_EQ(confirmation.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "it gave up while the started program still ran and might yet listen";
    QElapsedTimer clock;
    clock.start();
    ending = true;
    EXPECT_FALSE(confirmation.get());
    EXPECT_LT(clock.elapsed(), 1000);
}

} // namespace
