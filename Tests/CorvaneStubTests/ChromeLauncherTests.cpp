#include "CorvaneStub/ChromeLauncher.h"

#include "StubFixture.h"

namespace {

using ChromeLauncherTest = test::StubFixture;

TEST_F(ChromeLauncherTest, LaunchPassesTheProfileThenEachLinkAsOneArgumentAsWritten) {
    // A link goes on byte for byte (its parsed form would have "%7E" as "~" and "|" escaped); a file as its
    // path.
    const QString written = QStringLiteral("https://example.com/%7Ea?b=c%20d|e&f={\"g\":1}");
    ChromeLauncher::launch(QStringLiteral("Profile 3"), {});
    ChromeLauncher::launch(
        QStringLiteral("Profile 3"),
        {written,
         QUrl::fromLocalFile(QStringLiteral("/tmp/My Files/page.html")).toString(QUrl::FullyEncoded)});
    time->runUntilIdle();

    ASSERT_EQ(workspace->opens.size(), 2u);
    EXPECT_EQ(workspace->opens[0].configuration.arguments,
              (QStringList{test::noDefaultBrowserCheck, QStringLiteral("--profile-directory=Profile 3")}));
    EXPECT_EQ(workspace->opens[1].configuration.arguments,
              (QStringList{test::noDefaultBrowserCheck, QStringLiteral("--profile-directory=Profile 3"),
                           written, QStringLiteral("/tmp/My Files/page.html")}));
    const host::OpenConfiguration& configuration = workspace->opens[1].configuration;
    EXPECT_EQ(workspace->opens[1].appPath, chromePath);
    EXPECT_TRUE(configuration.createsNewApplicationInstance);
    EXPECT_TRUE(configuration.activates);
    EXPECT_FALSE(configuration.addsToRecentItems);
    EXPECT_TRUE(log.contains(QStringLiteral("stub"), host::LogLevel::Info,
                             QStringLiteral("launching Chrome for Profile 3, 2 url(s)")));
}

TEST_F(ChromeLauncherTest, LinksThatCouldReadAsSwitchesOrRelativePathsNeverReachChrome) {
    const QString switchLike = QStringLiteral("--remote-debugging-port=9222");
    const QString relativeFile = QUrl::fromLocalFile(QStringLiteral("notes.html")).toString();
    ChromeLauncher::launch(QStringLiteral("Default"),
                           {switchLike, relativeFile, QStringLiteral("https://ok.example/")});
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
