// A proxy app as a user runs it: assembled from the built launcher template with its configuration, started
// beside the real helper, with a stand-in Chrome that records the arguments of every start.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

const QString buildDir = QStringLiteral(CORVANE_BUILD_DIR);
const QString toolsDir = QStringLiteral(CORVANE_HOST_TOOLS_DIR);
const QString proxyAppID = QStringLiteral("app.corvane.e2e0work0001");

bool eventually(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

int runTool(const QString& program, const QStringList& arguments, const QString& logFile) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(logFile, QIODevice::Append);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

class ProxyAppTest : public testing::Test {
protected:
    void SetUp() override {
        const QString creator = buildDir + QStringLiteral("/Corvane.app");
        ASSERT_TRUE(QFileInfo(creator + QStringLiteral("/Contents/Library/StubTemplate.app")).isDir());
        ASSERT_EQ(runTool(toolsDir + QStringLiteral("/corvane-dev-install"), {creator}, logFile()), 0)
            << readAll(logFile()).toStdString();
        QDir().mkpath(records());
        makeChrome();
        makeProxyApp();
    }

    void TearDown() override {
        if (HasFailure())
            ADD_FAILURE() << "log:\n" << readAll(logFile()).toStdString();
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
        const QString path = home.file(QStringLiteral("Applications/Google Chrome.app"));
        QDir().mkpath(path + QStringLiteral("/Contents/MacOS"));
        ASSERT_TRUE(host::writePropertyListFile(
            path + QStringLiteral("/Contents/Info.plist"),
            QVariantMap{{QStringLiteral("CFBundleIdentifier"), Corvane::chromeBundleID},
                        {QStringLiteral("CFBundleName"), QStringLiteral("Google Chrome")},
                        {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")},
                        {QStringLiteral("CFBundlePackageType"), QStringLiteral("APPL")}}));
        QFile executable(path + QStringLiteral("/Contents/MacOS/run"));
        ASSERT_TRUE(executable.open(QIODevice::WriteOnly));
        executable.write(QStringLiteral("#!/bin/sh\nf='%1'/launch-$(date +%s%N)-$$\n"
                                        "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$f.tmp\"; done\n"
                                        "touch \"$f.tmp\"; mv \"$f.tmp\" \"$f.txt\"\n")
                             .arg(records())
                             .toUtf8());
        executable.close();
        executable.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The proxy app for the profile "Work", built from the template as the builder lays it out.
    void makeProxyApp() {
        const QString templatePath =
            buildDir + QStringLiteral("/Corvane.app/Contents/Library/StubTemplate.app");
        ASSERT_EQ(runTool(toolsDir + QStringLiteral("/ditto"), {templatePath, appPath()}, logFile()), 0);
        QVariantMap info =
            host::readPropertyListFile(templatePath + QStringLiteral("/Contents/Info.plist")).value();
        info.insert(QStringLiteral("CFBundleIdentifier"), proxyAppID);
        info.insert(QStringLiteral("CFBundleName"), QStringLiteral("Work"));
        info.insert(QStringLiteral("CVNStubRevision"), 7);
        ASSERT_TRUE(host::writePropertyListFile(appPath() + QStringLiteral("/Contents/Info.plist"), info));
        QDir().mkpath(appPath() + QStringLiteral("/Contents/Resources"));
        QFile config(appPath() + QStringLiteral("/Contents/Resources/config.json"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(
            QJsonDocument(QJsonObject{{QStringLiteral("profileDirectory"), QStringLiteral("Profile 1")},
                                      {QStringLiteral("profileName"), QStringLiteral("Work")},
                                      {QStringLiteral("ownWindow"), true},
                                      {QStringLiteral("closeOnQuit"), true},
                                      {QStringLiteral("includeIncognito"), true},
                                      {QStringLiteral("countAppWindows"), false},
                                      {QStringLiteral("symbolName"), QStringLiteral("briefcase")},
                                      {QStringLiteral("badgeColorHex"), QStringLiteral("#1F2124")},
                                      {QStringLiteral("symbolStyle"), QStringLiteral("auto")},
                                      {QStringLiteral("iconStyle"), QStringLiteral("segments")}})
                .toJson());
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
            launches.push_back(
                readAll(records() + QLatin1Char('/') + file).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
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
    ASSERT_TRUE(eventually([&] { return chromeLaunches().size() == 1; })) << chromeLaunches().size();
    EXPECT_EQ(chromeLaunches()[0], profileArguments);
    EXPECT_EQ(launcher.state(), QProcess::Running);

    // A link opened with the proxy app reaches the running launcher, which hands it to Chrome in its profile.
    ASSERT_EQ(runTool(toolsDir + QStringLiteral("/open"),
                      {QStringLiteral("-a"), appPath(), QStringLiteral("https://example.com/e2e?q=1")},
                      logFile()),
              0);
    ASSERT_TRUE(eventually([&] { return chromeLaunches().size() == 2; }));
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
    EXPECT_TRUE(readAll(logFile()).contains(QStringLiteral("terminating (selfQuit=0")));
}

} // namespace
