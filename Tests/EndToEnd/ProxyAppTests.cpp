// A proxy app as a user runs it: assembled from the built launcher template with its configuration, started
// beside the real helper, with a stand-in Chrome that records the arguments of every start.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "CorvaneIcon/AppBuilder.h"
#include "Support/Eventually.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>

namespace {

const QString buildDir = QStringLiteral(CORVANE_BUILD_DIR);
const QString toolsDir = QStringLiteral(CORVANE_HOST_TOOLS_DIR);
const QString proxyAppID = QStringLiteral("app.corvane.e2e0work0001");

class ProxyAppTest : public testing::Test {
protected:
    void SetUp() override {
        const QString creator = buildDir + QStringLiteral("/Corvane.app");
        ASSERT_TRUE(QFileInfo(creator + QStringLiteral("/Contents/Library/StubTemplate.app")).isDir());
        ASSERT_EQ(test::runLoggingTo(toolsDir + QStringLiteral("/corvane-dev-install"), {creator}, logFile())
                      .status,
                  0)
            << test::readText(logFile()).toStdString();
        QDir().mkpath(records());
        makeChrome();
        makeProxyApp();
    }

    void TearDown() override {
        if (HasFailure())
            ADD_FAILURE() << "log:\n" << test::readText(logFile()).toStdString();
        if (launcher.state() != QProcess::NotRunning) {
            launcher.kill();
            launcher.waitForFinished(5000);
        }
        // The helpers this test started stay resident; end them by their process number.
        for (const auto& running : host::workspace().runningApplications(Corvane::helperBundleID))
            if (running.bundlePath.startsWith(home.path()))
                ::kill(running.processIdentifier, SIGTERM);
    }

    // "Chrome": writes its arguments, one a line, to records/launch-<time>.txt and ends.
    void makeChrome() {
        ASSERT_TRUE(test::writeScriptBundle(
            home.file(QStringLiteral("Applications/Google Chrome.app")),
            QVariantMap{{QStringLiteral("CFBundleIdentifier"), Corvane::chromeBundleID},
                        {QStringLiteral("CFBundleName"), QStringLiteral("Google Chrome")},
                        {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")},
                        {QStringLiteral("CFBundlePackageType"), QStringLiteral("APPL")}},
            QStringLiteral("#!/bin/sh\nf='%1'/launch-$(date +%s%N)-$$\n"
                           "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$f.tmp\"; done\n"
                           "touch \"$f.tmp\"; mv \"$f.tmp\" \"$f.txt\"\n")
                .arg(records())));
    }

    // The proxy app for the profile "Work", made by the builder from the launcher template of the built
    // creator app, as the creator app makes it.
    void makeProxyApp() {
        host::workspace().registerBundle(buildDir + QStringLiteral("/Corvane.app"));
        AppBuilder::Request request;
        request.name = QStringLiteral("Work");
        request.bundleID = proxyAppID;
        request.config = StubConfig(QStringLiteral("Profile 1"), QStringLiteral("Work"));
        request.config.closeOnQuit = true;
        request.destinationDirectory = home.file(QStringLiteral("Applications"));
        ASSERT_EQ(AppBuilder::build(request, QStringLiteral("-")).path, appPath());
    }

    void startLauncher() {
        launcher.setProcessChannelMode(QProcess::MergedChannels);
        launcher.setStandardOutputFile(logFile(), QIODevice::Append);
        launcher.start(appPath() + QStringLiteral("/Contents/MacOS/CorvaneStub"), {});
        ASSERT_TRUE(launcher.waitForStarted(10000));
    }

    // The argument lists Chrome was started with, in order.
    std::vector<QStringList> chromeLaunches() const {
        std::vector<QStringList> launches;
        const QStringList files =
            QDir(records()).entryList({QStringLiteral("launch-*.txt")}, QDir::Files, QDir::Name);
        for (const QString& file : files)
            launches.push_back(test::readText(records() + QLatin1Char('/') + file)
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts));
        return launches;
    }

    QString appPath() const { return home.file(QStringLiteral("Applications/Work.app")); }
    QString records() const { return home.file(QStringLiteral("records")); }
    QString logFile() const { return home.file(QStringLiteral("e2e.log")); }

    test::TemporaryHome home;
    QProcess launcher;
    const QStringList profileArguments{QStringLiteral("--no-default-browser-check"),
                                       QStringLiteral("--profile-directory=Profile 1")};
};

TEST_F(ProxyAppTest, StartingOpensTheProfileLinksReachItAndTerminationEndsTheLauncher) {
    startLauncher();
    ASSERT_TRUE(test::eventually([&] { return chromeLaunches().size() == 1; })) << chromeLaunches().size();
    EXPECT_EQ(chromeLaunches()[0], profileArguments);
    EXPECT_EQ(launcher.state(), QProcess::Running);

    // A link opened with the proxy app reaches the running launcher, which hands it to Chrome in its profile.
    ASSERT_EQ(test::runLoggingTo(
                  toolsDir + QStringLiteral("/open"),
                  {QStringLiteral("-a"), appPath(), QStringLiteral("https://example.com/e2e?q=1")}, logFile())
                  .status,
              0);
    ASSERT_TRUE(test::eventually([&] { return chromeLaunches().size() == 2; }));
    EXPECT_EQ(chromeLaunches()[1],
              profileArguments + QStringList{QStringLiteral("https://example.com/e2e?q=1")});

    // A second start of the running app is a reopen of the first: it ends at once.
    QProcess second;
    second.start(appPath() + QStringLiteral("/Contents/MacOS/CorvaneStub"), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(launcher.state(), QProcess::Running);

    ::kill(qint32(launcher.processId()), SIGTERM);
    ASSERT_TRUE(launcher.waitForFinished(12000));
    EXPECT_EQ(launcher.exitStatus(), QProcess::NormalExit);
    EXPECT_TRUE(test::readText(logFile()).contains(QStringLiteral("terminating (selfQuit=0")));
}

} // namespace
