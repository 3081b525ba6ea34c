#pragma once

#include "Support/DesktopSession.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"
#include "Support/ProgramEnd.h"
#include "Support/WindowDriver.h"

#include <QDir>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

namespace test {

// Tests of the creator app on the real desktop: one session for the suite, and for each test the built app
// installed as a user would install it and a driver to work its window with. Each test starts from an empty
// desktop and ends every program it opened there (a fixture's own TearDown calls this one's last).
class InstalledCreatorTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        session = new DesktopSession();
        session->start();
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }

    void TearDown() override {
        if (HasFailure() && driver)
            driver->saveScreenshot(
                logName + QStringLiteral("-failed-") +
                QString::fromUtf8(testing::UnitTest::GetInstance()->current_test_info()->name()));
        if (const QString ended = end(creator); !ended.isEmpty())
            ADD_FAILURE() << "the creator app " << ended.toStdString();
        if (HasFailure())
            ADD_FAILURE() << "log:\n" << readText(logFile).toStdString();
        // What the test left on the screen would take the next test's clicks.
        if (session && session->failure().isEmpty()) {
            EXPECT_TRUE(session->clearDesktop()) << "windows left on the screen: " << windowTitles();
        }
    }

    // Starts the installed creator app with `environment` (the session's by default), on the session's
    // display and on the accessibility bus from its start, writing to the test's log.
    bool launchCreator(QProcessEnvironment environment = session->programEnvironment()) {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        environment.insert(QStringLiteral("HOME"), QDir::homePath());
        creator.setProcessEnvironment(environment);
        creator.setProcessChannelMode(QProcess::MergedChannels);
        creator.setStandardOutputFile(logFile, QIODevice::Append);
        creator.start(QDir::homePath() + QStringLiteral("/Applications/Corvane.app/Contents/MacOS/Corvane"),
                      {});
        return creator.waitForStarted(10000);
    }

    // Ends a program the test started, by its pid: asked first, then made to. Why it did not end cleanly (a
    // crash, a status other than 0, not ending when asked), or empty; also for one that ended by itself.
    static QString end(QProcess& process) {
        if (process.state() != QProcess::NotRunning) {
            askToEnd(pid_t(process.processId()));
            if (!process.waitForFinished(10000)) {
                process.kill();
                process.waitForFinished(5000);
                return QStringLiteral("did not end within 10 s of being asked");
            }
        }
        return uncleanEnd(process);
    }

    // Installs the built app, logging to "<home>/<logName>.log"; fails when the desktop could not start.
    void installCreator(const QString& logName) {
        ASSERT_TRUE(session->failure().isEmpty()) << session->failure().toStdString();
        ASSERT_TRUE(session->clearDesktop()) << "windows left on the screen: " << windowTitles();
        this->logName = logName;
        logFile = QDir::homePath() + QLatin1Char('/') + logName + QStringLiteral(".log");
        const ToolRun install =
            runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR) + QStringLiteral("/corvane-dev-install"),
                         {QStringLiteral(CORVANE_BUILD_DIR) + QStringLiteral("/Corvane.app")}, logFile);
        ASSERT_EQ(install.status, 0) << install.output.toStdString();
        driver = std::make_unique<WindowDriver>();
        ASSERT_TRUE(driver->isReady()) << driver->failure().toStdString();
    }

    static std::string windowTitles() {
        QStringList titles;
        for (const host::X11ClientWindow& window : DesktopSession::windowsOnScreen())
            titles.append(QLatin1Char('"') + window.title + QLatin1Char('"'));
        return titles.join(QStringLiteral(", ")).toStdString();
    }

    static inline DesktopSession* session = nullptr;
    std::unique_ptr<WindowDriver> driver;
    QProcess creator;
    QString logName;
    QString logFile;
};

} // namespace test
