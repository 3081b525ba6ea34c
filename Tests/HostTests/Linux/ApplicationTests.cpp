#include "CorvaneHost/Application.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/Linux/QtApplication.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QStringList>
#include <csignal>
#include <gtest/gtest.h>

namespace {

class RecordingDelegate final : public host::ApplicationDelegate {
public:
    void applicationWillFinishLaunching() override { calls.append(QStringLiteral("will finish")); }
    void applicationDidFinishLaunching() override {
        calls.append(QStringLiteral("did finish"));
        if (onDidFinish)
            onDidFinish();
    }
    void applicationOpenURLs(const QList<QUrl>& urls) override {
        for (const QUrl& url : urls)
            calls.append(QStringLiteral("open ") + url.toString());
        if (application && application->currentAppleEvent())
            senders.append(application->currentAppleEvent()->senderPID.value_or(-1));
    }
    host::TerminateReply applicationShouldTerminate() override {
        calls.append(QStringLiteral("should terminate"));
        return reply;
    }
    void applicationWillTerminate() override { calls.append(QStringLiteral("will terminate")); }

    QStringList calls;
    QList<int> senders;
    std::function<void()> onDidFinish;
    host::TerminateReply reply = host::TerminateReply::terminateNow;
    host::Application* application = nullptr;
};

TEST(ApplicationTest, LaunchEventsComeBetweenWillAndDidFinishLaunching) {
    qputenv(host::kLaunchEventsVariable,
            host::encodeAppleEvents(
                {host::AppleEvent::getURL(QStringLiteral("https://example.com/"), 77),
                 host::AppleEvent::getURL(QStringLiteral("-not-a-link"), 77),
                 host::AppleEvent::openDocuments({QUrl::fromLocalFile(QStringLiteral("/tmp/a.html"))}, 78)}));
    host::QtApplication application;
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->application = &application;
    delegate->onDidFinish = [&] { host::mainQueue().async([&] { application.terminate(); }); };
    application.setDelegate(delegate);

    EXPECT_EQ(application.run(), 0);
    EXPECT_EQ(delegate->calls,
              (QStringList{QStringLiteral("will finish"), QStringLiteral("open https://example.com/"),
                           QStringLiteral("open file:///tmp/a.html"), QStringLiteral("did finish"),
                           QStringLiteral("should terminate"), QStringLiteral("will terminate")}));
    EXPECT_EQ(delegate->senders, (QList<int>{77, 78}));
    EXPECT_FALSE(qEnvironmentVariableIsSet(host::kLaunchEventsVariable));
    EXPECT_FALSE(application.currentAppleEvent().has_value());
}

TEST(ApplicationTest, TerminatingWhileLaunchingNeverEntersTheLoop) {
    host::QtApplication application;
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->onDidFinish = [&] { application.terminate(); };
    application.setDelegate(delegate);
    EXPECT_EQ(application.run(), 0);
    EXPECT_EQ(delegate->calls.last(), QStringLiteral("will terminate"));
}

TEST(ApplicationTest, ATerminationSignalIsATerminateRequestThatTheDelegateMayDefer) {
    host::QtApplication application;
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->reply = host::TerminateReply::terminateLater;
    delegate->onDidFinish = [&] {
        host::mainQueue().async([] { ::raise(SIGTERM); });
        host::mainQueue().schedule(
            0.05, [&] { application.replyToApplicationShouldTerminate(true); }, false);
    };
    application.setDelegate(delegate);
    EXPECT_EQ(application.run(), 0);
    EXPECT_EQ(delegate->calls,
              (QStringList{QStringLiteral("will finish"), QStringLiteral("did finish"),
                           QStringLiteral("should terminate"), QStringLiteral("will terminate")}));
}

TEST(ApplicationTest, EventHandlersTakeTheirEventsBeforeTheDelegate) {
    host::QtApplication application;
    auto delegate = std::make_shared<RecordingDelegate>();
    application.setDelegate(delegate);
    QStringList handled;
    application.setEventHandler(host::kURLEventClass, host::kURLEventID, [&](const host::AppleEvent& event) {
        handled.append(*event.directObject);
        EXPECT_EQ(application.currentAppleEvent(), event);
    });
    application.dispatch(host::AppleEvent::getURL(QStringLiteral("https://a.test/"), 1));
    EXPECT_EQ(handled, QStringList{QStringLiteral("https://a.test/")});
    EXPECT_TRUE(delegate->calls.isEmpty());
    application.setEventHandler(host::kURLEventClass, host::kURLEventID, {});
    application.dispatch(host::AppleEvent::getURL(QStringLiteral("https://b.test/"), 1));
    EXPECT_EQ(delegate->calls, QStringList{QStringLiteral("open https://b.test/")});
}

} // namespace
