// When the launcher keeps running and when it quits by itself.
#include "CorvaneCore/ProxyApps/ChromeWindows.h"

#include "StubFixture.h"

namespace {

using Liveness = StubAppDelegate::Liveness;
using DockLivenessTest = test::StubFixture;

TEST_F(DockLivenessTest, WithoutAnyWindowItQuitsAtTheEndOfTheGraceUnlessChromeRuns) {
    workspace->failOpens(chromePath,
                         host::SystemError(QStringLiteral("Workspace"), 1, QStringLiteral("gone")));
    start();
    time->advance(29.9);
    EXPECT_FALSE(terminated());
    time->advance(0.2);
    EXPECT_TRUE(terminated());
    EXPECT_TRUE(log.contains(QStringLiteral("no windows appeared within the launch grace period; quitting")));
    EXPECT_TRUE(log.contains(QStringLiteral("terminating (selfQuit=true, liveness=starting)")));
}

TEST_F(DockLivenessTest, WithChromeRunningTheGraceMovesToWatchingAndTheNextCertainZeroDrains) {
    chromeRuns();
    windows->setWindows(QVariantList{});
    start();
    time->advance(29.9); // the wait for the helper ended with a launch; certain zeros meanwhile
    EXPECT_EQ(delegate->currentLiveness(), Liveness::starting);
    // At 30 s the grace moves to watching, and the poller's reading of that moment (Chrome without windows,
    // and a window list that can be trusted) drains.
    time->advance(0.2);
    EXPECT_EQ(delegate->currentLiveness(), Liveness::draining);
    EXPECT_FALSE(terminated());
    time->advance(2);
    EXPECT_TRUE(terminated());
    EXPECT_TRUE(log.contains(QStringLiteral("last window for this profile closed; quitting")));
}

TEST_F(DockLivenessTest, EventsOfAnotherProfileOrGroupChangeNothing) {
    startWithHelper();
    helperTrusted();
    link->push(windowsEvent(1));
    EXPECT_EQ(delegate->currentLiveness(), Liveness::watching);

    link->push(windowsEvent(0, CountConfidence::certain, QStringLiteral("Profile 9")));
    link->push(
        windowsEvent(0, CountConfidence::certain, QStringLiteral("Profile 3"), QStringLiteral("Inbox")));
    link->push(windowsEvent(0, CountConfidence::certain, std::nullopt));
    time->advance(10);
    EXPECT_EQ(delegate->currentLiveness(), Liveness::watching);
    EXPECT_FALSE(terminated());

    link->push(windowsEvent(0));
    time->advance(2);
    EXPECT_TRUE(terminated());
}

TEST_F(DockLivenessTest, AWindowThatComesBackWithinTheDrainKeepsTheAppRunning) {
    startWithHelper();
    helperTrusted();
    link->push(windowsEvent(1));
    link->push(windowsEvent(0));
    EXPECT_EQ(delegate->currentLiveness(), Liveness::draining);
    time->advance(1.9);
    link->push(windowsEvent(2));
    time->advance(60);
    EXPECT_FALSE(terminated());
    EXPECT_EQ(delegate->currentLiveness(), Liveness::watching);
}

TEST_F(DockLivenessTest, CertainZerosWhileStartingNeverQuitBeforeTheGrace) {
    chromeRuns();
    startWithHelper();
    helperTrusted();
    link->answer(Request::Op::activate, Response::Action::raised);
    for (int i = 0; i < 5; ++i) {
        link->push(windowsEvent(0));
        time->advance(5);
    }
    EXPECT_FALSE(terminated());
    EXPECT_EQ(delegate->currentLiveness(), Liveness::starting);
}

TEST_F(DockLivenessTest, UnconfirmedZerosQuitOnlyAfterTwoMinutesAndAWindowStartsTheRunOver) {
    startWithHelper();
    helperTrusted();
    // Zeros that begin while starting count once the app watches.
    link->push(windowsEvent(0, CountConfidence::unclassified));
    time->advance(10);
    link->push(windowsEvent(1));
    link->push(windowsEvent(0, CountConfidence::unclassified));
    for (int i = 0; i < 11; ++i) {
        time->advance(10.9);
        link->push(windowsEvent(0, CountConfidence::unclassified));
    }
    EXPECT_EQ(delegate->currentLiveness(), Liveness::watching); // 119.9 s of unconfirmed zeros
    link->push(windowsEvent(1));
    time->advance(1);
    link->push(windowsEvent(0, CountConfidence::unclassified));
    time->advance(119);
    link->push(windowsEvent(0, CountConfidence::unclassified));
    EXPECT_EQ(delegate->currentLiveness(), Liveness::watching);
    time->advance(1);
    link->push(windowsEvent(0, CountConfidence::unclassified));
    EXPECT_EQ(delegate->currentLiveness(), Liveness::draining);
    EXPECT_TRUE(
        log.contains(QStringLiteral("stub"), host::LogLevel::Default,
                     QStringLiteral("no windows seen for 120s and nothing can confirm it; quitting on the "
                                    "balance of evidence")));
    time->advance(2);
    EXPECT_TRUE(terminated());
}

TEST_F(DockLivenessTest, ThePollerRunsUntilTheHelperIsTrustedAndAgainWhenItIsNot) {
    chromeRuns();
    windows->setWindows(QVariantList{test::FakeWindowList::window(chromePID, 600)});
    startWithHelper();
    EXPECT_TRUE(log.contains(QStringLiteral(
        "helper unavailable; falling back to window-count polling (screen recording: granted)")));
    time->advance(3);
    EXPECT_EQ(delegate->currentLiveness(), Liveness::watching);

    helperTrusted();
    windows->setWindows(QVariantList{});
    time->advance(30);
    EXPECT_EQ(delegate->currentLiveness(), Liveness::watching); // no more readings

    Event untrusted(Event::Kind::axPermission);
    untrusted.trusted = false;
    link->push(untrusted);
    time->advance(3);
    EXPECT_EQ(delegate->currentLiveness(), Liveness::draining);
}

TEST_F(DockLivenessTest, AMissingWindowListIsAnUnconfirmedZeroEvenWithThePermission) {
    chromeRuns();
    windows->setPreflight(true);
    windows->setWindows(std::nullopt);
    EXPECT_EQ(DegradedWatcher::currentReading(),
              (DegradedWatcher::Reading{0, CountConfidence::unclassified}));

    windows->setWindows(QVariantList{});
    EXPECT_EQ(DegradedWatcher::currentReading(), (DegradedWatcher::Reading{0, CountConfidence::certain}));
    windows->setPreflight(false);
    EXPECT_EQ(DegradedWatcher::currentReading(),
              (DegradedWatcher::Reading{0, CountConfidence::unclassified}));

    workspace->terminate(chromePID);
    EXPECT_EQ(DegradedWatcher::currentReading(), (DegradedWatcher::Reading{0, CountConfidence::certain}));
}

TEST_F(DockLivenessTest, WithoutTheWindowListAChromeWithWindowsKeepsTheAppForTwoMinutes) {
    chromeRuns();
    windows->setWindows(std::nullopt);
    start(); // the helper never comes
    // The unconfirmed zeros begin with the first reading (3 s) and count once the grace has passed.
    time->advance(122);
    EXPECT_FALSE(terminated());
    EXPECT_EQ(delegate->currentLiveness(), Liveness::watching);
    time->advance(4);
    EXPECT_TRUE(terminated());
}

} // namespace
