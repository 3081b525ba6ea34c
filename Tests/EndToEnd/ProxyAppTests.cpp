// A proxy app as a user runs it: assembled from the built launcher template with its configuration, started
// beside the real helper, with a stand-in Chrome that records the arguments of every start.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "CorvaneIcon/AppBuilder.h"
#include "Support/Eventually.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"
#include "Support/ProgramEnd.h"
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
        test::adoptDetachedPrograms();
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
            test::askToEnd(pid_t(launcher.processId()));
            EXPECT_TRUE(launcher.waitForFinished(10000)) << "the launcher did not end when asked";
        }
        EXPECT_EQ(test::uncleanEnd(launcher), QString()) << "the launcher";
        // The helpers and launchers this test started stay resident; end them by their process number.
        for (const QString& identifier : {Corvane::helperBundleID, proxyAppID})
            test::endProgramsOf(identifier, home.path());
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
        request.registerAsBrowser = true;
        request.destinationDirectory = home.file(QStringLiteral("Applications"));
        ASSERT_EQ(AppBuilder::build(request, QStringLiteral("-")).path, appPath());
    }

    void startLauncher() {
        launcher.setProcessChannelMode(QProcess::MergedChannels);
        launcher.setStandardOutputFile(logFile(), QIODevice::Append);
        launcher.start(appPath() + QStringLiteral("/Contents/MacOS/CorvaneStub"), {});
        ASSERT_TRUE(launcher.waitForStarted(10000));
    }

    // Runs the proxy app's desktop entry for `links` as a desktop does: its Exec line, split by the entry
    // rules, with "%U" replaced by the links as they were given.
    test::ToolRun openWithDesktopEntry(const QStringList& links) {
        const auto entry =
            host::readDesktopEntry(qEnvironmentVariable("XDG_DATA_HOME") +
                                       QStringLiteral("/applications/%1.desktop").arg(proxyAppID),
                                   proxyAppID);
        const auto exec = entry ? host::splitExecLine(entry->exec) : std::nullopt;
        if (!exec || exec->empty()) {
            ADD_FAILURE() << "the proxy app has no desktop entry with a command";
            return {};
        }
        QStringList command;
        for (const host::ExecArgument& argument : *exec)
            command += argument.text == QLatin1String("%U") ? links : QStringList{argument.text};
        return test::runLoggingTo(command.first(), command.mid(1), logFile());
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

    test::askToEnd(pid_t(launcher.processId()));
    ASSERT_TRUE(launcher.waitForFinished(12000));
    EXPECT_EQ(launcher.exitStatus(), QProcess::NormalExit);
    EXPECT_TRUE(test::readText(logFile()).contains(QStringLiteral("terminating (selfQuit=false,")));
}

// The proxy app's desktop entry is a road links enter by: what a chat client or an editor handed the desktop
// (raw "|", "{}", an escaped host, an escape a parsed URL would decode) reaches Chrome byte for byte, whether
// the launcher runs yet or not; a start with only a link that cannot be taken is logged and opens nothing.
TEST_F(ProxyAppTest, LinksFromItsDesktopEntryReachChromeAsWritten) {
    const QString cold = QStringLiteral("https://fonts.example/css?family=Roboto|Lato&text=%7E");
    test::ToolRun run = openWithDesktopEntry({cold});
    EXPECT_EQ(run.status, 0) << run.output.toStdString();
    ASSERT_TRUE(test::eventually([&] { return chromeLaunches().size() == 1; })) << chromeLaunches().size();
    EXPECT_EQ(chromeLaunches()[0], profileArguments + QStringList{cold});

    const QString warm = QString::fromUtf8("https://caf%C3%A9.example/menu?q={\"a\":1}|\xc3\xbc#%zz");
    run = openWithDesktopEntry({warm});
    EXPECT_EQ(run.status, 0) << run.output.toStdString();
    ASSERT_TRUE(test::eventually([&] { return chromeLaunches().size() == 2; })) << chromeLaunches().size();
    EXPECT_EQ(chromeLaunches()[1], profileArguments + QStringList{warm});

    const QString hidden = QStringLiteral("https://a.example\\@b.example/");
    run = openWithDesktopEntry({hidden});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(
        run.output.contains(QStringLiteral("a desktop start carried no usable URL: \"%1\"").arg(hidden)))
        << run.output.toStdString();
    EXPECT_FALSE(test::eventually([&] { return chromeLaunches().size() > 2; }, 1500))
        << "the start was taken as a plain reopen";
}

} // namespace
