#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHelper/WindowTracking/AXProfileSource.h"
#include "CorvaneHelper/WindowTracking/ChromeMenuDriver.h"
#include "Support/FakeChromeWorld.h"
#include "Support/LogCapture.h"

#include <gtest/gtest.h>

using test::FakeChromeWorld;
using test::Node;

namespace {

// Time enough for the workspace to tell of a launch or an exit.
constexpr double workspaceNotice = 1.0;

class RecordingDelegate final : public WindowProfileSourceDelegate {
public:
    void windowsDidChange(WindowProfileSource&) override { ++changes; }
    int changes = 0;
};

ChromeProfile profile(const QString& directory, const QString& name) {
    ChromeProfile made;
    made.directory = directory;
    made.name = name;
    return made;
}

WatchScope scope(const QString& profile, std::optional<QString> group = {}, bool incognito = false,
                 bool appWindows = false, bool ownWindow = false) {
    return WatchScope{profile, std::move(group), incognito, appWindows, ownWindow};
}

const QString work = QStringLiteral("Default");
const QString home = QStringLiteral("Profile 1");

class TrackerTest : public testing::Test {
protected:
    void SetUp() override { source->setDelegate(delegate); }
    void TearDown() override {
        if (HasFailure())
            for (const QString& line : log.messages())
                std::fprintf(stderr, "log: %s\n", qPrintable(line));
        if (source)
            source->stop();
    }

    // Chrome runs with the given windows' titles naming their profiles, and the tracker is attached.
    void startWithChrome() {
        world().launchChrome();
        start();
    }
    void start() {
        source->start();
        source->updateProfiles(
            {profile(work, QStringLiteral("Work")), profile(home, QStringLiteral("Home"))});
    }
    Node openWork(const QString& page = QStringLiteral("Inbox")) {
        return world().openWindow(page + QStringLiteral(" - Chromium - Work"), QStringLiteral("Work"));
    }
    Node openHome(const QString& page = QStringLiteral("News")) {
        return world().openWindow(page + QStringLiteral(" - Chromium - Home"), QStringLiteral("Home"));
    }
    // Runs the notifications and timers due within `seconds`.
    void run(double seconds = 0) { host.time().advance(seconds); }
    qint64 count(const WatchScope& watched) { return source->report(watched).count; }
    CountConfidence confidence(const WatchScope& watched) { return source->report(watched).confidence; }
    const TrackedWindow* tracked(const Node& window) {
        for (const TrackedWindow& entry : source->windows())
            if (entry.ref.element == FakeChromeWorld::element(window))
                return &entry;
        return nullptr;
    }

    FakeChromeWorld& world() { return host.world(); }

    test::ChromeWorldScope host;
    test::LogCapture log;
    std::shared_ptr<AXProfileSource> source = std::make_shared<AXProfileSource>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

// MARK: Attaching

TEST_F(TrackerTest, ALaunchAfterStartAttachesAndSettlesForThreeSeconds) {
    start();
    EXPECT_FALSE(source->chromePID());
    EXPECT_EQ(source->report(scope(work)), (ProfileWindowReport{0, CountConfidence::certain, false}));

    world().launchChrome();
    run(workspaceNotice);
    EXPECT_EQ(source->chromePID(), FakeChromeWorld::defaultPID);
    EXPECT_TRUE(source->hasObserver());
    EXPECT_TRUE(log.contains(QStringLiteral("attached to Chrome pid 4242")));
    EXPECT_GE(delegate->changes, 1);
    EXPECT_EQ(world().messagingTimeouts.front(), AXProfileSource::messagingTimeout);
    // Within three seconds of the launch a zero is not to be trusted.
    EXPECT_EQ(confidence(scope(work)), CountConfidence::unclassified);
    run(AXProfileSource::settlingTime);
    EXPECT_EQ(confidence(scope(work)), CountConfidence::certain);
}

TEST_F(TrackerTest, ALaunchRetriesTheObserverFiveTimesThenGivesUp) {
    start();
    world().observerFailures = 3;
    world().launchChrome();
    run(workspaceNotice);
    EXPECT_FALSE(source->hasObserver());
    run(3 * AXProfileSource::retryDelay);
    EXPECT_TRUE(source->hasObserver());

    // A Chrome whose observer never comes: six attempts, one error, then polling only.
    world().quitChrome();
    run(workspaceNotice);
    EXPECT_FALSE(source->chromePID());
    world().observerFailures = 100;
    world().launchChrome(5000);
    run(workspaceNotice + 10);
    EXPECT_EQ(world().observerFailures, 100 - 6);
    EXPECT_EQ(log.count(QStringLiteral("AXObserverCreate failed: -25204")), 1);
    const Node window = openWork();
    run(AXProfileSource::reconcileInterval);
    EXPECT_NE(tracked(window), nullptr);
    EXPECT_EQ(world().observerFailures, 100 - 6);
}

TEST_F(TrackerTest, TrustGrantedWhileChromeRunsCreatesTheObserver) {
    world().trusted = false;
    world().launchChrome();
    const Node window = openWork();
    start();
    EXPECT_TRUE(log.contains(QStringLiteral("not trusted for Accessibility yet; deferring observer")));
    EXPECT_EQ(source->chromePID(), FakeChromeWorld::defaultPID);
    EXPECT_FALSE(source->hasObserver());
    EXPECT_EQ(confidence(scope(work)), CountConfidence::unclassified);

    world().trusted = true;
    source->refresh(QStringLiteral("trust-granted"));
    EXPECT_TRUE(source->hasObserver());
    EXPECT_EQ(count(scope(work)), 1);
    // Notifications now arrive without waiting for a poll.
    const Node second = openWork(QStringLiteral("Calendar"));
    run();
    EXPECT_EQ(count(scope(work)), 2);
}

TEST_F(TrackerTest, ExitOfAnotherChromeProcessChangesNothing) {
    startWithChrome();
    openWork();
    run();
    const host::RunningApplication transient{777, Corvane::chromeBundleID, QStringLiteral("Chromium"),
                                             QString()};
    host.workspace().addRunning(transient);
    host.workspace().postLaunch(transient);
    run(workspaceNotice);
    host.workspace().removeRunning(777);
    host.workspace().postTermination(transient);
    run(workspaceNotice);
    EXPECT_TRUE(log.contains(QStringLiteral("ignoring exit of transient Chrome process 777")));
    EXPECT_EQ(count(scope(work)), 1);

    world().quitChrome();
    run(workspaceNotice);
    EXPECT_TRUE(log.contains(QStringLiteral("Chrome terminated")));
    EXPECT_TRUE(source->windows().empty());
    EXPECT_FALSE(source->chromePID());
}

// MARK: Observer notifications

TEST_F(TrackerTest, NotificationsKeepTheMapAndANotificationAfterTheTrackerIsGoneDoesNothing) {
    startWithChrome();
    const Node window = openWork();
    run();
    ASSERT_NE(tracked(window), nullptr);
    const int before = delegate->changes;
    world().closeWindow(window);
    run();
    EXPECT_EQ(tracked(window), nullptr);
    EXPECT_EQ(delegate->changes, before + 1);

    const Node other = openHome();
    run();
    world().setTitle(other, QStringLiteral("Elsewhere"));
    source.reset();
    EXPECT_NO_FATAL_FAILURE(run());
}

TEST_F(TrackerTest, AnUnclassifiedWindowIsClassifiedWhenItsTitleNamesAProfile) {
    startWithChrome();
    const Node window = world().openWindow(QStringLiteral("New Tab"));
    run();
    ASSERT_NE(tracked(window), nullptr);
    EXPECT_TRUE(tracked(window)->classification.isUnclassified());
    EXPECT_EQ(confidence(scope(home)), CountConfidence::unclassified);
    EXPECT_TRUE(source->hasFastTimer());

    const int before = delegate->changes;
    world().setTitle(window, QStringLiteral("New Tab - Chromium - Home"));
    run();
    EXPECT_EQ(delegate->changes, before + 1);
    EXPECT_EQ(tracked(window)->classification.source, ClassificationSource::title);
    EXPECT_EQ(count(scope(home)), 1);
    run(AXProfileSource::fastInterval);
    EXPECT_FALSE(source->hasFastTimer());
}

// MARK: Reconciliation

TEST_F(TrackerTest, ANonAnsweringChromeKeepsTheMapUntilTheWindowServerShowsNone) {
    startWithChrome();
    const Node first = openWork();
    const Node second = openWork(QStringLiteral("Calendar"));
    run();
    ASSERT_EQ(count(scope(work)), 2);

    world().publishesTree = false;
    const int before = delegate->changes;
    source->refresh(QStringLiteral("periodic"));
    EXPECT_TRUE(log.contains(
        QStringLiteral("Accessibility reported no Chrome windows; the window server still lists 2 "
                       "of them, so Chrome is not answering \u2014 keeping the window map we had")));
    EXPECT_EQ(count(scope(work)), 2);
    EXPECT_EQ(delegate->changes, before);
    // A zero of another profile is not trusted while Chrome does not answer.
    run(AXProfileSource::answeringCacheTime);
    EXPECT_EQ(confidence(scope(home)), CountConfidence::unclassified);

    host.windowList().setPreflight(false);
    source->refresh(QStringLiteral("periodic"));
    EXPECT_TRUE(log.contains(
        QStringLiteral("Accessibility reported no Chrome windows; this process cannot see other "
                       "applications' windows, so there is no evidence either way \u2014 keeping "
                       "the window map we had")));
    host.windowList().setPreflight(true);

    world().closeWindow(first, false);
    world().closeWindow(second, false);
    source->refresh(QStringLiteral("periodic"));
    EXPECT_TRUE(source->windows().empty());
    EXPECT_EQ(delegate->changes, before + 1);
}

// The on-screen list leaves minimised windows out; the window server still has them, and knows each by its
// number.
TEST_F(TrackerTest, ANonAnsweringChromeKeepsAMinimisedWindowUntilTheWindowServerDropsIt) {
    startWithChrome();
    const Node window = openWork();
    const Node other = openHome();
    run();
    ASSERT_EQ(count(scope(work)), 1);
    world().minimize(window);
    world().minimize(other);

    world().publishesTree = false;
    source->refresh(QStringLiteral("periodic"));
    EXPECT_TRUE(log.contains(
        QStringLiteral("Accessibility reported no Chrome windows; the window server still lists 2 "
                       "of them, so Chrome is not answering \u2014 keeping the window map we had")));
    EXPECT_EQ(count(scope(work)), 1);
    // Nor is a zero trusted while Chrome does not answer.
    run(AXProfileSource::answeringCacheTime);
    EXPECT_EQ(confidence(scope(QStringLiteral("Profile 9"))), CountConfidence::unclassified);

    // Home's window goes: Work's minimised one is still there, and so is the map.
    world().closeWindow(other, false);
    source->refresh(QStringLiteral("periodic"));
    EXPECT_EQ(count(scope(work)), 1);

    world().closeWindow(window, false);
    source->refresh(QStringLiteral("periodic"));
    EXPECT_TRUE(source->windows().empty());
}

TEST_F(TrackerTest, APassTellsTheDelegateOfNewWindowsButNotOfATitleChange) {
    startWithChrome();
    const Node window = openWork();
    run();
    int before = delegate->changes;
    world().setTitle(window, QStringLiteral("Drafts - Chromium - Work"), false);
    source->refresh(QStringLiteral("periodic"));
    EXPECT_EQ(delegate->changes, before);
    EXPECT_EQ(tracked(window)->title, QStringLiteral("Drafts - Chromium - Work"));
    source->refresh(QStringLiteral("attach"));
    EXPECT_EQ(delegate->changes, before + 1);
    world().openWindow(QStringLiteral("New Tab - Chromium - Home"), {}, FakeChromeWorld::Kind::browser,
                       false);
    source->refresh(QStringLiteral("periodic"));
    EXPECT_EQ(delegate->changes, before + 2);
}

TEST_F(TrackerTest, ChromeIsAskedToPublishItsTreeAtMostEveryFifteenSeconds) {
    startWithChrome();
    openWork();
    world().publishesTree = false;
    log.clear();
    source->refresh(QStringLiteral("periodic"));
    source->refresh(QStringLiteral("periodic"));
    run(AXProfileSource::wakeInterval);
    source->refresh(QStringLiteral("periodic"));
    EXPECT_EQ(log.count(QStringLiteral("asking Chrome to publish its accessibility tree")), 1);
}

TEST_F(TrackerTest, WindowsOnScreenThatAccessibilityNeverShowsAreReportedOnce) {
    world().launchChrome();
    world().publishesTree = false;
    openWork();
    start();
    run(60);
    const QString line =
        QStringLiteral("Chrome shows windows that its accessibility tree does not publish; quit and "
                       "reopen Chrome so that its windows can be seen");
    EXPECT_EQ(log.count(line), 1);

    // A Chrome that merely answers late is not reported.
    log.clear();
    world().quitChrome();
    run(workspaceNotice);
    world().launchChrome(5000);
    openWork();
    run(workspaceNotice + 2);
    world().publishesTree = true;
    run(60);
    EXPECT_EQ(log.count(line), 0);
}

TEST_F(TrackerTest, AnnouncedLaunchesClaimTheNextNewWindowsInOrder) {
    startWithChrome();
    const Node before =
        world().openWindow(QStringLiteral("New Tab"), {}, FakeChromeWorld::Kind::browser, false);
    source->noteLaunch(home);
    source->noteLaunch(work);
    EXPECT_EQ(confidence(scope(QStringLiteral("Profile 9"))), CountConfidence::unclassified);
    const Node first =
        world().openWindow(QStringLiteral("New Tab"), {}, FakeChromeWorld::Kind::browser, false);
    const Node second =
        world().openWindow(QStringLiteral("New Tab"), {}, FakeChromeWorld::Kind::browser, false);
    source->refresh(QStringLiteral("fast"));
    EXPECT_TRUE(tracked(before)->classification.isUnclassified());
    // New windows are met in Chrome's window order, front first.
    EXPECT_EQ(tracked(second)->classification.profileDirectory, home);
    EXPECT_EQ(tracked(second)->classification.source, ClassificationSource::attributed);
    EXPECT_EQ(tracked(first)->classification.profileDirectory, work);
    EXPECT_EQ(count(scope(home)), 1);
    EXPECT_EQ(count(scope(work)), 1);
}

TEST_F(TrackerTest, AnUnclaimedLaunchExpiresAfterTwentySeconds) {
    startWithChrome();
    run(AXProfileSource::settlingTime);
    source->noteLaunch(work);
    EXPECT_TRUE(source->hasFastTimer());
    EXPECT_EQ(confidence(scope(work)), CountConfidence::unclassified);
    const int before = delegate->changes;
    run(AXProfileSource::pendingLaunchLifetime + 1);
    EXPECT_FALSE(source->hasFastTimer());
    EXPECT_EQ(confidence(scope(work)), CountConfidence::certain);
    // The watchers hear the zero that is certain again.
    EXPECT_EQ(delegate->changes, before + 1);
}

TEST_F(TrackerTest, TheFastTimerStopsAfterThirtySecondsAndReturnsWithTheNextPeriodicPass) {
    startWithChrome();
    world().openWindow(QStringLiteral("New Tab"));
    run();
    ASSERT_TRUE(source->hasFastTimer());
    run(AXProfileSource::fastDuration + AXProfileSource::fastInterval);
    EXPECT_FALSE(source->hasFastTimer());
    run(AXProfileSource::reconcileInterval);
    EXPECT_TRUE(source->hasFastTimer());
}

TEST_F(TrackerTest, IncognitoWindowsInheritTheLastFocusedProfileAndCountOnlyWhenAskedFor) {
    startWithChrome();
    const Node window = openWork();
    world().focus(window);
    run();
    source->refresh(QStringLiteral("periodic"));
    const Node incognito = world().openWindow(QStringLiteral("New Incognito Tab - Chromium (Incognito)"), {},
                                              FakeChromeWorld::Kind::incognito);
    run();
    EXPECT_EQ(tracked(incognito)->classification.source, ClassificationSource::inherited);
    EXPECT_EQ(count(scope(work)), 1);
    EXPECT_EQ(count(scope(work, {}, true)), 2);
    EXPECT_EQ(count(scope(work, QStringLiteral(""), true)), 1);
    EXPECT_EQ(count(scope(work, QStringLiteral("Research"), true)), 0);

    // An incognito window of unknown profile is not unclassified and keeps no fast timer alive.
    world().closeWindow(window);
    world().closeWindow(incognito);
    run();
    TearDown();
    source = std::make_shared<AXProfileSource>();
    source->start();
    world().openWindow(QStringLiteral("New Incognito Tab"), {}, FakeChromeWorld::Kind::incognito);
    run();
    EXPECT_FALSE(source->hasFastTimer());
}

TEST_F(TrackerTest, AppWindowsCountOnlyWithCountAppWindows) {
    startWithChrome();
    world().openWindow(QStringLiteral("Mail - Chromium - Work"), QStringLiteral("Work"),
                       FakeChromeWorld::Kind::app);
    run();
    EXPECT_EQ(count(scope(work)), 0);
    EXPECT_EQ(count(scope(work, {}, false, true)), 1);
    EXPECT_EQ(count(scope(work, QStringLiteral("Research"), false, true)), 0);
}

// MARK: Tab groups

TEST_F(TrackerTest, TheGroupPollFollowsWatchedGroupsAndStopsWhenNoneAreWatched) {
    startWithChrome();
    const Node window = openWork();
    world().addTab(window, QStringLiteral("Start"));
    run();
    const WatchScope research = scope(work, QStringLiteral("Research"));
    source->updateWatched({research, scope(home)});
    EXPECT_TRUE(source->hasGroupTimer());
    EXPECT_EQ(count(research), 0);
    EXPECT_EQ(confidence(research), CountConfidence::certain);

    const int before = delegate->changes;
    world().addGroup(window, QStringLiteral("Research"), 2);
    world().addGroup(window, QStringLiteral("Re\u0301sume\u0301"), 1);
    run(AXProfileSource::groupInterval);
    EXPECT_EQ(delegate->changes, before + 1);
    EXPECT_EQ(count(research), 1);
    // A name typed with composed accents finds the group Chrome spells with combining ones.
    EXPECT_EQ(count(scope(work, QStringLiteral("R\u00e9sum\u00e9"))), 1);

    source->updateWatched({scope(home)});
    EXPECT_FALSE(source->hasGroupTimer());
}

TEST_F(TrackerTest, ARebuiltTabStripIsSearchedAgain) {
    startWithChrome();
    const Node window = openWork();
    world().addGroup(window, QStringLiteral("Research"), 1);
    run();
    const WatchScope research = scope(work, QStringLiteral("Research"));
    source->updateWatched({research});
    run(AXProfileSource::groupInterval);
    ASSERT_EQ(count(research), 1);

    world().rebuildTabStrip(window);
    world().addGroup(window, QStringLiteral("Reading"), 1);
    run(AXProfileSource::groupInterval);
    EXPECT_EQ(count(research), 1);
    EXPECT_EQ(tracked(window)->groups, (QStringList{QStringLiteral("Research"), QStringLiteral("Reading")}));
}

TEST_F(TrackerTest, AGroupZeroIsUnsureWhileAStripCannotBeFound) {
    startWithChrome();
    const Node window = openWork();
    run(AXProfileSource::settlingTime);
    FakeChromeWorld::tabStrip(window)->unreadable = true;
    const WatchScope research = scope(work, QStringLiteral("Research"));
    source->updateWatched({research});
    run(AXProfileSource::groupInterval);
    EXPECT_EQ(source->report(research), (ProfileWindowReport{0, CountConfidence::unclassified, true}));
    EXPECT_EQ(confidence(scope(work)), CountConfidence::certain);
}

TEST_F(TrackerTest, ListingTabGroupsAssemblesOpenAndSavedGroupsInNameOrder) {
    startWithChrome();
    const Node first = openWork();
    const Node second = openWork(QStringLiteral("Calendar"));
    world().addGroup(first, QStringLiteral("Group 10"), 1);
    world().addGroup(first, QStringLiteral("Group 2"), 1);
    world().addGroup(second, QStringLiteral("Group 2"), 2);
    world().addSavedChip(first, QStringLiteral("Group 2 group - 3 tabs"));
    world().addSavedChip(first, QStringLiteral("Archive group - 1 tab"));
    openHome();
    run();

    std::vector<std::vector<TabGroupInfo>> answers;
    source->tabGroups(work, false, [&](std::vector<TabGroupInfo> groups) { answers.push_back(groups); });
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], (std::vector<TabGroupInfo>{{QStringLiteral("Archive"), false, true, 0},
                                                     {QStringLiteral("Group 2"), true, true, 2},
                                                     {QStringLiteral("Group 10"), true, false, 1}}));
}

TEST_F(TrackerTest, ADeepListingReadsTheSavedGroupsFromTheMenu) {
    startWithChrome();
    const Node window = openWork();
    world().addGroup(window, QStringLiteral("Research"), 1);
    world().opensMenu(FakeChromeWorld::appMenuButton(window), QStringLiteral("AXPress"),
                      {QStringLiteral("New tab"), QStringLiteral("Tab groups")});
    world().submenus.insert(QStringLiteral("Tab groups"),
                            {QStringLiteral("Create new tab group"), QStringLiteral("Research group - 1 tab"),
                             QStringLiteral("Travel group - 4 tabs")});
    run();

    std::vector<std::vector<TabGroupInfo>> answers;
    source->tabGroups(work, true, [&](std::vector<TabGroupInfo> groups) { answers.push_back(groups); });
    EXPECT_TRUE(answers.empty());
    run(AXProfileSource::deepScanDelay);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], (std::vector<TabGroupInfo>{{QStringLiteral("Research"), true, true, 1},
                                                     {QStringLiteral("Travel"), false, true, 0}}));
    EXPECT_TRUE(log.contains(QStringLiteral("deep scan of Default found: Research, Travel")));
    EXPECT_EQ(world().escapePresses, 2);
    EXPECT_EQ(world().windowServerEntries()->size(), 1);
}

// MARK: Raising and closing

TEST_F(TrackerTest, RaisingPrefersAWindowThatIsNotMinimised) {
    startWithChrome();
    const Node first = openWork();
    const Node second = openWork(QStringLiteral("Calendar"));
    world().minimize(second);
    run();
    std::vector<RaiseOutcome> outcomes;
    source->raise(scope(work), [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    EXPECT_EQ(outcomes, std::vector<RaiseOutcome>{RaiseOutcome::raised});
    EXPECT_EQ(world().actionsOn(first, QStringLiteral("AXRaise")), 1);

    // Only minimised windows: the first of the map (Chrome's front window when it was met) is un-minimised.
    world().minimize(first);
    source->raise(scope(work), [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    EXPECT_EQ(outcomes.back(), RaiseOutcome::raised);
    EXPECT_EQ(second->attributes.value(QStringLiteral("AXMinimized")), host::AXValue(false));
    EXPECT_EQ(world().actionsOn(second, QStringLiteral("AXRaise")), 1);

    source->raise(scope(home), [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    EXPECT_EQ(outcomes.back(), RaiseOutcome::noWindows);
    world().trusted = false;
    source->raise(scope(work), [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    EXPECT_EQ(outcomes.back(), RaiseOutcome::noWindows);
}

TEST_F(TrackerTest, RaisingAnOpenGroupPressesItsFirstTab) {
    startWithChrome();
    const Node window = openWork();
    world().addGroup(window, QStringLiteral("Research"), 2);
    const WatchScope research = scope(work, QStringLiteral("Research"));
    source->updateWatched({research});
    run(AXProfileSource::groupInterval);
    std::vector<RaiseOutcome> outcomes;
    source->raise(research, [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    EXPECT_EQ(outcomes, std::vector<RaiseOutcome>{RaiseOutcome::raised});
    const Node firstTab = FakeChromeWorld::tabStrip(window)->children.at(1);
    EXPECT_EQ(world().actionsOn(firstTab, QStringLiteral("AXPress")), 1);
}

TEST_F(TrackerTest, RaisingASavedGroupOpensItAndMovesItToItsOwnWindow) {
    startWithChrome();
    const Node window = openWork();
    world().addTab(window, QStringLiteral("Start"));
    const Node chip = world().addSavedChip(window, QStringLiteral("Research group - 2 tabs"));
    const WatchScope research = scope(work, QStringLiteral("Research"), false, false, true);
    Node header;
    chip->actions.insert(QStringLiteral("AXPress"), [&] {
        header = world().addGroup(window, QStringLiteral("Research"), 2);
        world().opensMenu(header, QStringLiteral("AXShowMenu"),
                          {QStringLiteral("Ungroup"), QStringLiteral("Move group to new window")});
        return host::AXError::success;
    });
    run();
    source->updateWatched({research});
    std::vector<RaiseOutcome> outcomes;
    source->raise(research, [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    EXPECT_EQ(outcomes, std::vector<RaiseOutcome>{RaiseOutcome::openedGroup});

    // The group shares its window with another tab, so it is moved through its header's menu.
    run(1);
    EXPECT_EQ(world().actionsOn(header, QStringLiteral("AXShowMenu")), 1);
    EXPECT_EQ(world().escapePresses, 1);
    EXPECT_FALSE(log.contains(QStringLiteral("could not move the group to its own window")));
}

// Chromium's app menu: "Tab groups", then the group's entry, then a menu of its own that opens it.
TEST_F(TrackerTest, AClosedGroupIsReopenedThroughTheThirdMenuOnceItsWindowIsActive) {
    startWithChrome();
    const Node window = openWork();
    world().addTab(window, QStringLiteral("Start"));
    world().activationDelay = 0.3;
    // The app menu opens only in the active window.
    const Node button = FakeChromeWorld::appMenuButton(window);
    button->actions.insert(QStringLiteral("AXPress"), [&] {
        if (window->attributes.value(QStringLiteral("AXMain")) == host::AXValue(true))
            world().openMenu({QStringLiteral("New tab"), QStringLiteral("Tab groups")});
        return host::AXError::success;
    });
    world().submenus.insert(QStringLiteral("Tab groups"), {QStringLiteral("Create new tab group Alt+Shift+P"),
                                                           QStringLiteral(" Research group - Closed")});
    world().submenus.insert(QStringLiteral(" Research group - Closed"),
                            {QStringLiteral("Open group"), QStringLiteral("Open group in new window"),
                             QStringLiteral("Delete group")});
    QStringList pressed;
    for (const QString& item : {QStringLiteral("Open group"), QStringLiteral("Open group in new window")})
        world().itemPresses.insert(item, [&pressed, item] { pressed.append(item); });
    run();

    std::vector<RaiseOutcome> outcomes;
    source->raise(scope(work, QStringLiteral("Research")),
                  [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    run(1);
    EXPECT_EQ(outcomes, std::vector<RaiseOutcome>{RaiseOutcome::openedGroup});
    EXPECT_EQ(pressed, QStringList{QStringLiteral("Open group")});
    EXPECT_EQ(world().escapePresses, 3);

    // A proxy app with a window of its own opens the group in a new window.
    window->attributes.remove(QStringLiteral("AXMain"));
    source->raise(scope(work, QStringLiteral("Research"), false, false, true),
                  [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    run(1);
    EXPECT_EQ(outcomes, (std::vector<RaiseOutcome>{RaiseOutcome::openedGroup, RaiseOutcome::openedGroup}));
    EXPECT_EQ(pressed,
              (QStringList{QStringLiteral("Open group"), QStringLiteral("Open group in new window")}));
    run(3 * ChromeMenuDriver::surfaceWait); // every run has answered before what it answers to goes
}

// A group as Chromium shows it: its header lists its tabs and state after the name, a collapsed group's tabs
// are not shown, and its saved-group button opens it at its first tab.
TEST_F(TrackerTest, ChromiumGroupsAreCountedRaisedAndClosedByTheirNames) {
    startWithChrome();
    const Node window = openWork();
    world().addTab(window, QStringLiteral("work-start"));
    const Node research = world().addChromiumGroup(
        window, QStringLiteral("Research"), {QStringLiteral("research-one"), QStringLiteral("research-two")});
    world().addChromiumGroup(window, QStringLiteral("Shelf"), {QStringLiteral("shelf-one")}, true);
    world().addChromiumGroup(window, QString(), {QStringLiteral("nameless")});
    world().addChromiumGroup(window, QStringLiteral("Dup"), {QStringLiteral("dup-a")});
    world().addChromiumGroup(window, QStringLiteral("Dup"), {QStringLiteral("dup-b")});
    const Node chip = world().addSavedChip(window, QStringLiteral(" Shelf group - Opened"));
    world().addSavedChip(window, QStringLiteral(" Research group - Opened"));
    world().addSavedChip(window, QStringLiteral(" unnamed group - Opened"));
    const WatchScope researchScope = scope(work, QStringLiteral("Research"));
    const WatchScope shelfScope = scope(work, QStringLiteral("Shelf"));
    source->updateWatched({researchScope, shelfScope});
    run(AXProfileSource::settlingTime);

    EXPECT_EQ(count(researchScope), 1);
    EXPECT_EQ(count(shelfScope), 1);
    std::vector<std::vector<TabGroupInfo>> answers;
    source->tabGroups(work, false, [&](std::vector<TabGroupInfo> groups) { answers.push_back(groups); });
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], (std::vector<TabGroupInfo>{{QStringLiteral("Dup"), true, false, 1},
                                                     {QStringLiteral("Research"), true, true, 1},
                                                     {QStringLiteral("Shelf"), true, true, 1}}));

    std::vector<RaiseOutcome> outcomes;
    source->raise(researchScope, [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    EXPECT_EQ(world().actionsOn(FakeChromeWorld::tabStrip(window)->children.at(2), QStringLiteral("AXPress")),
              1);
    source->raise(shelfScope, [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    EXPECT_EQ(world().actionsOn(chip, QStringLiteral("AXPress")), 1);
    EXPECT_EQ(outcomes, (std::vector<RaiseOutcome>{RaiseOutcome::raised, RaiseOutcome::raised}));

    // Closing: the header's menu, then the group's header and tabs are gone.
    world().opensMenu(
        research, QStringLiteral("AXShowMenu"),
        {QStringLiteral("Move group to new window"), QStringLiteral("Close group Alt+Shift+W")});
    world().itemPresses.insert(QStringLiteral("Close group Alt+Shift+W"), [&] {
        auto& items = FakeChromeWorld::tabStrip(window)->children;
        items.erase(items.begin() + 1, items.begin() + 4);
    });
    std::vector<CloseResult> results;
    source->close(researchScope, {}, 6.0, [&](CloseResult result) { results.push_back(result); });
    run(AXProfileSource::closeGroupDelay + 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], (CloseResult{1, 0, false}));
    EXPECT_EQ(count(researchScope), 0);
    EXPECT_EQ(count(shelfScope), 1);
}

// Without a saved-group button, a collapsed group is expanded through its header and its first tab pressed.
TEST_F(TrackerTest, RaisingACollapsedGroupWithoutAButtonExpandsItThroughItsHeader) {
    startWithChrome();
    const Node window = openWork();
    const Node header =
        world().addChromiumGroup(window, QStringLiteral("Shelf"), {QStringLiteral("shelf-one")}, true);
    const WatchScope shelf = scope(work, QStringLiteral("Shelf"));
    source->updateWatched({shelf});
    run(AXProfileSource::groupInterval);
    std::vector<RaiseOutcome> outcomes;
    source->raise(shelf, [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    run(AXProfileSource::groupPollInterval);
    EXPECT_EQ(outcomes, std::vector<RaiseOutcome>{RaiseOutcome::raised});
    EXPECT_EQ(world().actionsOn(header, QStringLiteral("AXPress")), 1);
    const Node tab = FakeChromeWorld::tabStrip(window)->children.value(1);
    EXPECT_EQ(world().actionsOn(tab, QStringLiteral("AXPress")), 1);
}

TEST_F(TrackerTest, AGroupBeingOpenedCountsAsUnsureForEightSeconds) {
    startWithChrome();
    const Node window = openWork();
    world().addSavedChip(window, QStringLiteral("Research group - 2 tabs"));
    run(AXProfileSource::settlingTime);
    const WatchScope research = scope(work, QStringLiteral("Research"));
    source->raise(research, [](RaiseOutcome) {});
    EXPECT_EQ(confidence(research), CountConfidence::unclassified);
    EXPECT_TRUE(source->hasGroupTimer());
    run(AXProfileSource::groupOpeningTime + 0.5);
    EXPECT_EQ(confidence(research), CountConfidence::certain);
}

// Profile and group names that differ only in how their accents are spelt (composed or decomposed) are one
// name in every question the tracker answers.
TEST_F(TrackerTest, NamesCompareAsCanonicalTextInEveryQuestion) {
    const QString composed = QStringLiteral("Caf\u00e9");
    const QString decomposed = QStringLiteral("Cafe\u0301");
    startWithChrome();
    source->updateProfiles({profile(composed, composed)});
    const Node window = world().openWindow(QStringLiteral("Inbox - Chromium - ") + composed, composed);
    world().addGroup(window, QStringLiteral("Research"), 1);
    world().addSavedChip(window, QStringLiteral("R\u00e9sum\u00e9 group - 2 tabs"));
    run(AXProfileSource::settlingTime);

    std::vector<std::vector<TabGroupInfo>> answers;
    source->tabGroups(decomposed, false,
                      [&](std::vector<TabGroupInfo> groups) { answers.push_back(groups); });
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], (std::vector<TabGroupInfo>{{QStringLiteral("Research"), true, false, 1},
                                                     {QStringLiteral("R\u00e9sum\u00e9"), false, true, 0}}));

    // A group asked to open under one spelling is being opened under the other.
    source->raise(scope(composed, QStringLiteral("R\u00e9sum\u00e9")), [](RaiseOutcome) {});
    EXPECT_EQ(confidence(scope(decomposed, QStringLiteral("Re\u0301sume\u0301"))),
              CountConfidence::unclassified);
    run(AXProfileSource::groupOpeningTime + 0.5);
    EXPECT_EQ(confidence(scope(decomposed, QStringLiteral("Travel"))), CountConfidence::certain);

    // The strip is rebuilt and the new one cannot be read: a zero of the profile's groups is unsure.
    world().rebuildTabStrip(window)->unreadable = true;
    source->updateWatched({scope(decomposed, QStringLiteral("Travel"))});
    run(AXProfileSource::groupInterval);
    EXPECT_EQ(confidence(scope(decomposed, QStringLiteral("Travel"))), CountConfidence::unclassified);
}

TEST_F(TrackerTest, AGroupThatIsNowhereIsNotFound) {
    startWithChrome();
    const Node window = openWork();
    run();
    std::vector<RaiseOutcome> outcomes;
    source->raise(scope(work, QStringLiteral("Research")),
                  [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    EXPECT_TRUE(outcomes.empty());
    run(ChromeMenuDriver::surfaceWait + 1);
    EXPECT_EQ(outcomes, std::vector<RaiseOutcome>{RaiseOutcome::groupNotFound});
    EXPECT_TRUE(log.contains(QStringLiteral("could not reopen tab group Research")));

    source->raise(scope(home, QStringLiteral("Research")),
                  [&](RaiseOutcome outcome) { outcomes.push_back(outcome); });
    EXPECT_EQ(outcomes.back(), RaiseOutcome::noWindows);
}

TEST_F(TrackerTest, ClosingHonoursTheLimitAndANegativeLimitClosesNothing) {
    startWithChrome();
    const Node first = openWork();
    const Node second = openWork(QStringLiteral("Calendar"));
    const Node third = openWork(QStringLiteral("Docs"));
    run();
    std::vector<CloseResult> results;
    source->close(scope(work), -1, 6.0, [&](CloseResult result) { results.push_back(result); });
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], (CloseResult{0, 0, false}));
    EXPECT_EQ(world().windowServerEntries()->size(), 3);

    source->close(scope(work), 2, 6.0, [&](CloseResult result) { results.push_back(result); });
    run(1);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1], (CloseResult{2, 0, false}));
    EXPECT_EQ(world().windowServerEntries()->size(), 1);
}

TEST_F(TrackerTest, ClosingTheLastWindowCountsItOnceChromeListsNothingAndTheScreenShowsNothing) {
    startWithChrome();
    world().goneElementsAnswer = true;
    openWork();
    run();
    std::vector<CloseResult> results;
    source->close(scope(work), {}, 6.0, [&](CloseResult result) { results.push_back(result); });
    run(AXProfileSource::perWindowCloseTimeout / 2);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], (CloseResult{1, 0, false}));

    // A Chrome that lists nothing while its window is still on screen has not closed it: the close waits for
    // the window's time-out.
    openWork(QStringLiteral("Calendar"));
    run();
    world().closeButtonsWork = false;
    world().publishesTree = false;
    source->close(scope(work), {}, 6.0, [&](CloseResult result) { results.push_back(result); });
    run(AXProfileSource::perWindowCloseTimeout / 2);
    EXPECT_EQ(results.size(), 1u);
    run(AXProfileSource::perWindowCloseTimeout);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1], (CloseResult{0, 0, false}));
}

TEST_F(TrackerTest, AMinimisedWindowThatChromeNoLongerListsIsClosedOnlyOnceTheWindowServerDropsIt) {
    startWithChrome();
    const Node window = openWork();
    run();
    world().minimize(window);
    world().closeButtonsWork = false;
    world().publishesTree = false;
    std::vector<CloseResult> results;
    source->close(scope(work), {}, 6.0, [&](CloseResult result) { results.push_back(result); });
    run(AXProfileSource::perWindowCloseTimeout / 2);
    EXPECT_TRUE(results.empty()) << "counted closed while the window manager still has it";
    run(AXProfileSource::perWindowCloseTimeout);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].closed, 0);

    world().closeButtonsWork = true;
    source->close(scope(work), {}, 6.0, [&](CloseResult result) { results.push_back(result); });
    run(AXProfileSource::perWindowCloseTimeout / 2);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1], (CloseResult{1, 0, false}));
}

TEST_F(TrackerTest, ClosingAGroupUsesItsHeaderMenuAndCountsOneGroup) {
    startWithChrome();
    const Node window = openWork();
    const Node header = world().addGroup(window, QStringLiteral("Research"), 2);
    const WatchScope research = scope(work, QStringLiteral("Research"));
    source->updateWatched({research});
    run(AXProfileSource::groupInterval);
    world().opensMenu(header, QStringLiteral("AXShowMenu"), {QStringLiteral("Close group")});
    std::vector<CloseResult> results;
    source->close(research, 5, 0, [&](CloseResult result) { results.push_back(result); });
    run(AXProfileSource::closeGroupDelay);
    // The menu entry was pressed; Chrome takes the group away.
    EXPECT_EQ(world().escapePresses, 1);
    auto& items = FakeChromeWorld::tabStrip(window)->children;
    items.clear();
    run(AXProfileSource::closeGroupBudget);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], (CloseResult{1, 0, false}));
}

TEST_F(TrackerTest, ClosingAGroupWhoseMenuFailsLeavesItOpen) {
    startWithChrome();
    const Node window = openWork();
    world().addGroup(window, QStringLiteral("Research"), 2);
    const WatchScope research = scope(work, QStringLiteral("Research"));
    source->updateWatched({research});
    run(AXProfileSource::groupInterval);
    std::vector<CloseResult> results;
    source->close(research, {}, 6.0, [&](CloseResult result) { results.push_back(result); });
    run(AXProfileSource::closeGroupDelay + ChromeMenuDriver::surfaceWait + 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], (CloseResult{0, 1, false}));
    source->close(scope(home, QStringLiteral("Research")), {}, 6.0,
                  [&](CloseResult result) { results.push_back(result); });
    EXPECT_EQ(results.back(), (CloseResult{0, 0, false}));
}

// MARK: The helper's choice of tracker

TEST(WindowProfileSourceChoice, TheTrackerStandsInOnlyWhereAccessibilityIsMissing) {
    test::ChromeWorldScope host;
    EXPECT_NE(std::dynamic_pointer_cast<AXProfileSource>(makeWindowProfileSource()), nullptr);
    host.world().available = false;
    const auto standIn = makeWindowProfileSource();
    EXPECT_NE(std::dynamic_pointer_cast<NullProfileSource>(standIn), nullptr);
    EXPECT_EQ(standIn->report(scope(work)), (ProfileWindowReport{0, CountConfidence::certain, false}));
    host.world().launchChrome();
    EXPECT_EQ(standIn->report(scope(work)), (ProfileWindowReport{0, CountConfidence::unclassified, true}));
}

TEST(WatchScopeIdentity, NamesCompareAsCanonicalText) {
    const WatchScope composed = scope(QStringLiteral("Caf\u00e9"), QStringLiteral("R\u00e9sum\u00e9"));
    const WatchScope decomposed = scope(QStringLiteral("Cafe\u0301"), QStringLiteral("Re\u0301sume\u0301"));
    EXPECT_EQ(composed, decomposed);
    EXPECT_EQ(qHash(composed), qHash(decomposed));
    EXPECT_NE(scope(work), scope(work, QStringLiteral("")));
    WatchScope own = scope(work);
    own.ownWindow = true;
    EXPECT_NE(own, scope(work));
}

} // namespace
