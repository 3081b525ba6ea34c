#pragma once

#include "Support/DesktopSession.h"
#include "Support/HostToolRun.h"
#include "Support/WindowDriver.h"

#include <QDir>
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
        // What the test left on the screen would take the next test's clicks.
        if (session && session->skipReason().isEmpty()) {
            EXPECT_TRUE(session->clearDesktop()) << "windows left on the screen: " << windowTitles();
        }
    }

    // Installs the built app, logging to "<home>/<logName>.log"; skips when the desktop could not start.
    void installCreator(const QString& logName) {
        ASSERT_TRUE(session->failure().isEmpty()) << session->failure().toStdString();
        if (!session->skipReason().isEmpty())
            GTEST_SKIP() << session->skipReason().toStdString();
        ASSERT_TRUE(session->clearDesktop()) << "windows left on the screen: " << windowTitles();
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
    QString logFile;
};

} // namespace test
