#pragma once

// A proxy app as a user has it: built by the builder from the launcher template of the built creator app,
// and its launcher run as a program of its own. Header only: programs that include it link CorvaneIcon.
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "CorvaneIcon/AppBuilder.h"
#include "Support/Files.h"
#include "Support/ProgramEnd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace test {

// Builds the proxy app `name`.app in `folder` for the profile (its directory is also its display name);
// its path. Throws what the builder throws.
inline QString buildProxyApp(const QString& folder, const QString& name, const QString& bundleID,
                             const QString& profileDirectory, bool closeOnQuit) {
    host::workspace().registerBundle(QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app"));
    AppBuilder::Request request;
    request.name = name;
    request.bundleID = bundleID;
    request.config = StubConfig(profileDirectory, profileDirectory);
    request.config.closeOnQuit = closeOnQuit;
    request.destinationDirectory = folder;
    return AppBuilder::build(request, QStringLiteral("-")).path;
}

// One run of a proxy app's launcher; its standard output and error go to the log file. Still running at the
// end, it is asked to end; a launcher that does not end cleanly (a crash, a status other than 0) fails the
// test.
class LauncherProcess {
public:
    LauncherProcess(QString appPath, QString logFile)
        : appPath_(std::move(appPath))
        , logFile_(std::move(logFile)) {}
    ~LauncherProcess() {
        if (isRunning()) {
            terminate();
            if (!process_.waitForFinished(10000)) {
                process_.kill();
                process_.waitForFinished(5000);
                ADD_FAILURE() << "the launcher did not end within 10 s of being asked";
            }
        }
        if (const QString end = uncleanEnd(process_); !end.isEmpty())
            ADD_FAILURE() << "the launcher " << end.toStdString() << "; its log:\n" << log().toStdString();
    }
    LauncherProcess(const LauncherProcess&) = delete;
    LauncherProcess& operator=(const LauncherProcess&) = delete;

    bool start(const QProcessEnvironment& environment) {
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(logFile_, QIODevice::Append);
        process_.start(appPath_ + QStringLiteral("/Contents/MacOS/CorvaneStub"), {});
        return process_.waitForStarted(10000);
    }
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    qint64 pid() const { return process_.processId(); }
    void terminate() { askToEnd(pid_t(process_.processId())); }
    // Waits up to `seconds` for the launcher to end, running this process's events meanwhile.
    bool waitForEnd(double seconds) {
        QElapsedTimer clock;
        clock.start();
        while (isRunning() && clock.elapsed() < seconds * 1000) {
            process_.waitForFinished(20);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return !isRunning();
    }
    bool endedNormally() const {
        return !isRunning() && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }
    QString log() const { return readText(logFile_); }

private:
    QString appPath_;
    QString logFile_;
    QProcess process_;
};

} // namespace test
