// Start-up, activation, the helper's events and the menu of the launcher.
#include "CorvaneCore/ProxyApps/StubRevision.h"

#include "StubFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

using Op = Request::Op;
using Action = Response::Action;

using StubStartupTest = test::StubFixture;

TEST_F(StubStartupTest, HelloCarriesTheAppsScopeAndRevision) {
    config.tabGroupName = QStringLiteral("Inbox");
    config.includeIncognito = false;
    startWithHelper();

    ASSERT_EQ(link->hellos.size(), 1u);
    const Request& hello = link->hellos.front();
    EXPECT_EQ(hello.op, Op::hello);
    EXPECT_EQ(hello.id, 0);
    EXPECT_EQ(hello.profileDirectory, QStringLiteral("Profile 3"));
    EXPECT_EQ(hello.profileName, QStringLiteral("Work"));
    EXPECT_EQ(hello.tabGroup, QStringLiteral("Inbox"));
    EXPECT_EQ(hello.bundleID, QStringLiteral("app.corvane.0123456789ab"));
    EXPECT_EQ(hello.pid, qint32(::getpid()));
    EXPECT_EQ(hello.includeIncognito, false);
    EXPECT_EQ(hello.countAppWindows, false);
    EXPECT_EQ(hello.ownWindow, true);
    EXPECT_EQ(hello.stubRevision, 5);
    EXPECT_FALSE(hello.urls);
    EXPECT_TRUE(log.contains(QStringLiteral("Work Mail starting for Profile 3")));
}

TEST_F(StubStartupTest, WithoutConfigurationOrInfoItServesTheDefaultProfile) {
    delegate =
        std::make_shared<StubAppDelegate>(StubAppDelegate::fallbackConfig(), std::nullopt, QString(), link);
    host.application().setDelegate(delegate);
    host.application().run();

    EXPECT_EQ(delegate->displayName(), QStringLiteral("Corvane App"));
    ASSERT_EQ(link->hellos.size(), 1u);
    EXPECT_FALSE(link->hellos[0].bundleID);
    EXPECT_FALSE(link->hellos[0].stubRevision);
    EXPECT_EQ(chromeLaunches(), (std::vector<QStringList>{{test::noDefaultBrowserCheck,
                                                           QStringLiteral("--profile-directory=Default")}}));
}

TEST_F(StubStartupTest, LinksThatArriveBeforeLaunchGoOutOnceWithTheFirstActivation) {
    const QUrl first(QStringLiteral("https://a.example/"));
    const QUrl second(QStringLiteral("https://b.example/"));
    start(host::AppleEvent::forOpening({first, second}, std::nullopt));
    time->advance(5);

    EXPECT_EQ(chromeLaunches(),
              (std::vector<QStringList>{profileLaunch({first.toString(), second.toString()})}));
    // A later reopen launches a plain window: the links are not sent again.
    reopen(); // Chrome runs by now: the launcher waits for the helper, then opens a window
    time->advance(5);
    ASSERT_EQ(chromeLaunches().size(), 2u);
    EXPECT_EQ(chromeLaunches()[1], profileLaunch());
    EXPECT_EQ(link->count(Op::noteLaunch), 0); // no socket: the note is dropped
}

TEST_F(StubStartupTest, LaterLinksGoStraightToChromeWhileTheHelperIsAway) {
    chromeRuns();
    start();
    openLinks({QUrl(QStringLiteral("https://later.example/"))});

    EXPECT_EQ(chromeLaunches(),
              (std::vector<QStringList>{profileLaunch({QStringLiteral("https://later.example/")})}));
}

// A link's event carries its text as written: Chrome gets that text, not the parsed URL's (which would
// have the host in its ASCII form, "%7E" as "~" and "|" escaped). Text that is no link is logged as it came.
TEST_F(StubStartupTest, ALinkReachesChromeAsItsEventWroteItAndWhatIsNoLinkIsLogged) {
    const QString written = QStringLiteral("https://caf%C3%A9.example/menu?q=a|b&t=%7E");
    start({host::AppleEvent::getURL(written, std::nullopt)});
    time->advance(5);
    EXPECT_EQ(chromeLaunches(), std::vector<QStringList>{profileLaunch({written})});

    chromeRuns();
    const QString raw = QStringLiteral("https://maps.example/dir/?waypoints=A|B&q={\"x\":1}");
    host.application().dispatch(host::AppleEvent::getURL(raw, std::nullopt));
    const QString hidden = QStringLiteral("https://a.example\\@b.example/");
    host.application().dispatch(host::AppleEvent::getURL(hidden, std::nullopt));
    time->advance(5);
    EXPECT_EQ(chromeLaunches(), (std::vector<QStringList>{profileLaunch({written}), profileLaunch({raw})}));
    EXPECT_TRUE(log.contains(QStringLiteral("application"), host::LogLevel::Error,
                             QStringLiteral("a GURL event carried no usable URL: \"%1\"").arg(hidden)));
}

TEST_F(StubStartupTest, ConnectedStartAsksTheHelperToRaiseAndOnlyLaunchesWhenNothingWasRaised) {
    chromeRuns();
    startWithHelper();
    ASSERT_EQ(link->count(Op::activate), 1);
    EXPECT_EQ(link->sent.back().timeout, 5.0);

    ASSERT_TRUE(link->answer(Op::activate, Action::raised));
    EXPECT_EQ(workspace->activated, std::vector<qint32>{chromePID});
    EXPECT_TRUE(chromeLaunches().empty());

    // A Dock click sends activate again; this time nothing can be raised.
    reopen();
    ASSERT_EQ(link->count(Op::activate), 2);
    ASSERT_TRUE(link->answer(Op::activate, Action::nothingToRaise));
    ASSERT_EQ(link->sent.back().request.op, Op::noteLaunch);
    EXPECT_EQ(link->sent.back().request.profileDirectory, QStringLiteral("Profile 3"));
    EXPECT_EQ(chromeLaunches(), std::vector<QStringList>{profileLaunch()});
}

TEST_F(StubStartupTest, AnActivateThatTimesOutLaunchesChromeInTheProfile) {
    startWithHelper();
    time->advance(4.9);
    EXPECT_TRUE(chromeLaunches().empty());
    time->advance(0.2);
    EXPECT_EQ(chromeLaunches(), std::vector<QStringList>{profileLaunch()});
}

TEST_F(StubStartupTest, TwoActivationsWhileTheHelperIsAwayStartOneWait) {
    chromeRuns();
    start();
    reopen();
    time->advance(3.9);
    EXPECT_TRUE(chromeLaunches().empty());
    time->advance(0.2);

    EXPECT_EQ(chromeLaunches(), std::vector<QStringList>{profileLaunch()});
    EXPECT_EQ(log.count(QStringLiteral("helper did not answer in time; opening a window without it")), 1);
    // The helper coming after the wait does not trigger another activation.
    link->helperArrives();
    EXPECT_EQ(link->count(Op::activate), 0);
    time->advance(10);
    EXPECT_EQ(chromeLaunches().size(), 1u);
}

TEST_F(StubStartupTest, AHelperThatComesWithinTheWaitTakesTheActivation) {
    chromeRuns();
    start();
    time->advance(1.5);
    link->helperArrives();
    EXPECT_EQ(link->count(Op::activate), 1);
    link->answer(Op::activate, Action::raised);
    time->advance(10);
    EXPECT_TRUE(chromeLaunches().empty());
}

TEST_F(StubStartupTest, StubOutdatedAndShuttingDownEvents) {
    startWithHelper();
    Event outdated(Event::Kind::stubOutdated);
    link->push(outdated);
    Event withNotes(Event::Kind::stubOutdated);
    withNotes.improvements =
        QStringList{QStringLiteral("Quits faster."), QStringLiteral("Knows tab groups.")};
    link->push(withNotes);
    link->push(Event(Event::Kind::shuttingDown));
    time->runUntilIdle();

    ASSERT_EQ(notifications->shown.size(), 2u);
    EXPECT_EQ(notifications->shown[0].title, QStringLiteral("Work Mail can be updated"));
    EXPECT_EQ(notifications->shown[0].body,
              StubRevision::genericAdvice + QStringLiteral(" Open Corvane and press Update."));
    EXPECT_EQ(notifications->shown[1].body,
              QStringLiteral("Quits faster. Knows tab groups. Open Corvane and press Update."));
    EXPECT_NE(notifications->shown[0].identifier, notifications->shown[1].identifier);
    EXPECT_EQ(log.count(QStringLiteral("this app is out of date; telling the user")), 2);
    EXPECT_TRUE(log.contains(QStringLiteral("helper is shutting down")));
}

TEST_F(StubStartupTest, UnauthorisedNoticesAreDroppedAndATappedNoticeOpensTheCreator) {
    notifications->authorized = false;
    startWithHelper();
    link->push(Event(Event::Kind::stubOutdated));
    time->runUntilIdle();
    EXPECT_TRUE(notifications->shown.empty());

    notifications->respond(QStringLiteral("x"), host::Notifications::dismissActionIdentifier);
    notifications->respond(QStringLiteral("x"), host::Notifications::defaultActionIdentifier);
    EXPECT_TRUE(
        log.contains(QStringLiteral("notification tapped, but Corvane isn't installed anywhere findable")));

    const QString creator = workspace->addApplication(QStringLiteral("Corvane"),
                                                      test::FakeWorkspace::info(Corvane::creatorBundleID));
    notifications->respond(QStringLiteral("x"), host::Notifications::defaultActionIdentifier);
    ASSERT_FALSE(workspace->opens.empty());
    EXPECT_EQ(workspace->opens.back().appPath, creator);
    EXPECT_TRUE(workspace->opens.back().configuration.activates);
}

TEST_F(StubStartupTest, AccessibilityNoticeIsSharedByAllAppsForAnHour) {
    startWithHelper();
    Event untrusted(Event::Kind::axPermission);
    untrusted.trusted = false;
    link->push(untrusted);
    link->push(untrusted);
    time->runUntilIdle();

    ASSERT_EQ(notifications->shown.size(), 1u);
    EXPECT_EQ(notifications->shown[0].title, QStringLiteral("Work Mail can't see Chrome's windows"));
    EXPECT_EQ(notifications->shown[0].body,
              QStringLiteral(
                  "Grant Accessibility to Corvane Helper in System Settings > Privacy & Security to raise "
                  "existing windows instead of opening new ones."));
}

TEST_F(StubStartupTest, MenuCarriesTheNameAndItsCommandsOpenOrRaiseTheProfile) {
    config = groupConfig();
    chromeRuns();
    startWithHelper();
    link->answer(Op::activate, Action::raised);
    ASSERT_TRUE(menuBar->menu);

    QStringList titles;
    for (const host::MenuItem& item : menuBar->menu->items)
        titles.append(item.isSeparator ? QStringLiteral("-")
                                       : item.title + QLatin1Char('|') + item.keyEquivalent);
    EXPECT_EQ(titles, (QStringList{QStringLiteral("About Work Mail|"), QStringLiteral("-"),
                                   QStringLiteral("Open New Window|n"), QStringLiteral("Bring to Front|/"),
                                   QStringLiteral("-"), QStringLiteral("Hide Work Mail|h"),
                                   QStringLiteral("-"), QStringLiteral("Quit Work Mail|q")}));

    // A new window of the profile, also for a tab-group app and while a window exists; the helper is only
    // told.
    ASSERT_TRUE(menuBar->choose(QStringLiteral("Open New Window")));
    EXPECT_EQ(link->sent.back().request.op, Op::noteLaunch);
    EXPECT_EQ(chromeLaunches(), std::vector<QStringList>{profileLaunch()});
    EXPECT_EQ(link->count(Op::activate), 1);

    ASSERT_TRUE(menuBar->choose(QStringLiteral("Bring to Front")));
    EXPECT_EQ(link->count(Op::activate), 2);

    ASSERT_TRUE(menuBar->choose(QStringLiteral("Quit Work Mail")));
    EXPECT_TRUE(terminated());
    EXPECT_EQ(link->shutdowns, 1);
    EXPECT_TRUE(log.contains(QStringLiteral("terminating (selfQuit=false, liveness=starting)")));
}

TEST_F(StubStartupTest, AboutShowsTheAppsNameIconAndItsBundlesVersion) {
    QTemporaryDir folder;
    const QString bundle = folder.path() + QStringLiteral("/Work Mail.app");
    QDir().mkpath(bundle + QStringLiteral("/Contents/Resources"));
    QFile icon(bundle + QStringLiteral("/Contents/Resources/AppIcon.icns"));
    ASSERT_TRUE(icon.open(QIODevice::WriteOnly));
    icon.close();
    info.insert(QStringLiteral("CFBundleIconFile"), QStringLiteral("AppIcon"));
    info.insert(QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.4"));
    info.insert(QStringLiteral("CFBundleVersion"), QStringLiteral("7"));
    info.insert(QStringLiteral("CVNBuildDate"), QStringLiteral("2026-03-04T17:05:00Z"));
    delegate = std::make_shared<StubAppDelegate>(config, info, bundle, link);
    host.application().setDelegate(delegate);
    host.application().run();
    alerts->autoDismiss = 0;

    ASSERT_TRUE(menuBar->choose(QStringLiteral("About Work Mail")));
    ASSERT_EQ(alerts->shown.size(), 1u);
    const host::Alert& about = alerts->shown[0];
    EXPECT_EQ(about.messageText, QStringLiteral("Work Mail"));
    EXPECT_EQ(about.iconPath, icon.fileName());
    const QStringList lines = about.informativeText.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2) << about.informativeText.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Version 1.4 (7)"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Built ")) && lines[1].contains(QStringLiteral("2026")))
        << lines[1].toStdString();
}

} // namespace
