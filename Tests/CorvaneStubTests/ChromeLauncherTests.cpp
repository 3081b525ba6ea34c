#include "CorvaneStub/ChromeLauncher.h"

#include "StubFixture.h"

namespace {

using ChromeLauncherTest = test::StubFixture;

TEST_F(ChromeLauncherTest, LaunchPassesTheProfileThenEachLinkAsOneArgument) {
    ChromeLauncher::launch(QStringLiteral("Profile 3"), {});
    ChromeLauncher::launch(QStringLiteral("Profile 3"),
                           {QUrl(QStringLiteral("https://example.com/a?b=c d")),
                            QUrl::fromLocalFile(QStringLiteral("/tmp/My Files/page.html"))});
    time->runUntilIdle();

    ASSERT_EQ(workspace->opens.size(), 2u);
    EXPECT_EQ(workspace->opens[0].configuration.arguments,
              (QStringList{test::noDefaultBrowserCheck, QStringLiteral("--profile-directory=Profile 3")}));
    EXPECT_EQ(workspace->opens[1].configuration.arguments,
              (QStringList{test::noDefaultBrowserCheck, QStringLiteral("--profile-directory=Profile 3"),
                           QStringLiteral("https://example.com/a?b=c%20d"),
                           QStringLiteral("/tmp/My Files/page.html")}));
    const host::OpenConfiguration& configuration = workspace->opens[1].configuration;
    EXPECT_EQ(workspace->opens[1].appPath, chromePath);
    EXPECT_TRUE(configuration.createsNewApplicationInstance);
    EXPECT_TRUE(configuration.activates);
    EXPECT_FALSE(configuration.addsToRecentItems);
    EXPECT_TRUE(log.contains(QStringLiteral("stub"), host::LogLevel::Info,
                             QStringLiteral("launching Chrome for Profile 3, 2 url(s)")));
}

TEST_F(ChromeLauncherTest, LinksThatCouldReadAsSwitchesOrRelativePathsNeverReachChrome) {
    QUrl switchLike(QStringLiteral("--remote-debugging-port=9222"));
    QUrl relativeFile = QUrl::fromLocalFile(QStringLiteral("notes.html"));
    ChromeLauncher::launch(QStringLiteral("Default"),
                           {switchLike, relativeFile, QUrl(QStringLiteral("https://ok.example/"))});
    time->runUntilIdle();

    ASSERT_EQ(workspace->opens.size(), 1u);
    EXPECT_EQ(workspace->opens[0].configuration.arguments,
              (QStringList{test::noDefaultBrowserCheck, QStringLiteral("--profile-directory=Default"),
                           QStringLiteral("https://ok.example/")}));
    EXPECT_EQ(log.count(QStringLiteral("launching Chrome for Default, 1 url(s)")), 1);
    EXPECT_EQ(log.messages(QStringLiteral("stub")).filter(QStringLiteral("not an absolute link")).size(), 2);
}

TEST_F(ChromeLauncherTest, WithoutChromeKnownItOpensTheUsualPlaceAndLogsTheFailure) {
    workspace->removeApplication(chromePath);
    workspace->failOpens({},
                         host::SystemError(QStringLiteral("Workspace"), 1, QStringLiteral("no such app")));
    std::vector<bool> results;
    ChromeLauncher::launch(QStringLiteral("Default"), {}, [&](bool ok) { results.push_back(ok); });
    time->runUntilIdle();

    ASSERT_EQ(workspace->opens.size(), 1u);
    EXPECT_EQ(workspace->opens[0].appPath, QStringLiteral("/Applications/Google Chrome.app"));
    EXPECT_EQ(results, std::vector<bool>{false});
    EXPECT_TRUE(log.contains(QStringLiteral("stub"), host::LogLevel::Error,
                             QStringLiteral("Chrome launch failed: no such app")));
}

TEST_F(ChromeLauncherTest, BringingChromeForwardFallsBackToOpeningItOnlyWhenActivationFails) {
    ChromeLauncher::activateChrome();
    EXPECT_TRUE(workspace->activated.empty());
    EXPECT_TRUE(workspace->opens.empty());

    chromeRuns();
    ChromeLauncher::activateChrome();
    EXPECT_EQ(workspace->activated, std::vector<qint32>{chromePID});
    EXPECT_TRUE(workspace->opens.empty());

    workspace->activationSucceeds = false;
    ChromeLauncher::activateChrome();
    ASSERT_EQ(workspace->opens.size(), 1u);
    EXPECT_FALSE(workspace->opens[0].configuration.createsNewApplicationInstance);
    EXPECT_TRUE(workspace->opens[0].configuration.activates);
}

} // namespace
