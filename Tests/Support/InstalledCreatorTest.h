#pragma once

#include "Support/DesktopSession.h"
#include "Support/HostToolRun.h"
#include "Support/WindowDriver.h"

#include <QDir>
#include <gtest/gtest.h>
#include <memory>

namespace test {

// Tests of the creator app on the real desktop: one session for the suite, and for each test the built app
// installed as a user would install it and a driver to work its window with.
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

    // Installs the built app, logging to "<home>/<logName>.log"; skips when the desktop could not start.
    void installCreator(const QString& logName) {
        if (!session->skipReason().isEmpty())
            GTEST_SKIP() << session->skipReason().toStdString();
        logFile = QDir::homePath() + QLatin1Char('/') + logName + QStringLiteral(".log");
        const ToolRun install =
            runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR) + QStringLiteral("/corvane-dev-install"),
                         {QStringLiteral(CORVANE_BUILD_DIR) + QStringLiteral("/Corvane.app")}, logFile);
        ASSERT_EQ(install.status, 0) << install.output.toStdString();
        driver = std::make_unique<WindowDriver>();
        ASSERT_TRUE(driver->isReady()) << driver->failure().toStdString();
    }

    static inline DesktopSession* session = nullptr;
    std::unique_ptr<WindowDriver> driver;
    QString logFile;
};

} // namespace test
