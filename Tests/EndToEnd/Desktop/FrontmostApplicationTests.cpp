// The application in front and bringing one forward, on the real desktop: an X program of the desktop's
// menu (xmessage, with a desktop entry of the test's own) focused, a link opened from there routed by a
// source-app rule that names it, and Chromium brought forward when asked.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/Linux/X11/X11Activation.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/DesktopSession.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QUuid>
#include <csignal>
#include <gtest/gtest.h>

namespace {

using test::DesktopSession;

const QString notesID = QStringLiteral("org.example.Notes");
const QString workID = QStringLiteral("com.example.work");

class FrontmostApplicationTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        session = new DesktopSession();
        // Chromium's window is up (and has taken the focus) before a test focuses a window of its own.
        if (session->start() && session->openWindow(QStringLiteral("Work")))
            DesktopSession::waitUntil(
                [] {
                    const auto window = host::activeClientWindow();
                    return window && window->pid == qint32(session->chromiumPid());
                },
                20);
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        if (!session->skipReason().isEmpty())
            GTEST_SKIP() << session->skipReason().toStdString();
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xmessage")).isEmpty())
            << "xmessage is missing (package x11-utils)";
        // The desktop's menu entry of the program, matched to its windows by their class.
        test::writeFile(host::desktopEntryDirectories().first() + QStringLiteral("/") + notesID +
                            QStringLiteral(".desktop"),
                        "[Desktop Entry]\nType=Application\nName=Notes\nExec=xmessage %F\n"
                        "StartupWMClass=Xmessage\n",
                        QDateTime::currentDateTime());
    }
    void TearDown() override {
        if (HasFailure())
            ADD_FAILURE() << "log:\n" << test::readText(logFile()).toStdString();
        if (notes.state() != QProcess::NotRunning) {
            notes.kill(); // its own pid, as QProcess started it
            notes.waitForFinished(3000);
        }
        for (const auto& running : host::workspace().runningApplications(Corvane::helperBundleID))
            if (running.bundlePath.startsWith(QDir::homePath()))
                ::kill(running.processIdentifier, SIGTERM);
    }

    // Shows the program's window on the session's display; the window manager focuses it.
    bool showNotes() {
        notes.setProcessEnvironment(session->programEnvironment());
        notes.start(QStringLiteral("xmessage"), {QStringLiteral("A note")});
        return notes.waitForStarted(5000) && DesktopSession::waitUntil(
                                                 [] {
                                                     const auto window = host::activeClientWindow();
                                                     return window &&
                                                            window->wmClass == QLatin1String("Xmessage");
                                                 },
                                                 10);
    }

    static QString logFile() { return QDir::homePath() + QStringLiteral("/frontmost.log"); }

    static inline DesktopSession* session = nullptr;
    QProcess notes;
};

TEST_F(FrontmostApplicationTest, ALinkFromTheFocusedProgramRoutesByARuleThatNamesIt) {
    const test::ToolRun install =
        test::runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR "/corvane-dev-install"),
                           {QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app")}, logFile());
    ASSERT_EQ(install.status, 0) << install.output.toStdString();
    const QString record = QDir::homePath() + QStringLiteral("/work.txt");
    ASSERT_TRUE(test::writeScriptBundle(
        QDir::homePath() + QStringLiteral("/Applications/Work Browser.app"),
        {{QStringLiteral("CFBundleIdentifier"), workID},
         {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")},
         {QStringLiteral("CFBundleURLTypes"),
          QVariantList{QVariantMap{{QStringLiteral("CFBundleURLSchemes"), QStringList{"http", "https"}}}}}},
        QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n").arg(record)));
    RuleSet set;
    LinkRule fromNotes{
        QUuid::createUuid(), QStringLiteral("Notes"), RouteTarget::browser(workID), true, MatchMode::any, {}};
    fromNotes.conditions = {Condition{Condition::Kind::apps, {notesID}}};
    set.rules = {fromNotes};
    RuleStore().save(set);

    ASSERT_TRUE(showNotes()) << "the program's window never came to the front";
    const auto frontmost = host::workspace().frontmostApplication();
    ASSERT_TRUE(frontmost);
    EXPECT_EQ(frontmost->bundleIdentifier, notesID);
    EXPECT_EQ(frontmost->localizedName, QStringLiteral("Notes"));

    // Opened by a program that is no application (as from a terminal): the one in front is the source.
    const QString link = QStringLiteral("https://example.com/from-notes");
    const test::ToolRun open =
        test::runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR "/open"), {link}, logFile());
    ASSERT_EQ(open.status, 0) << open.output.toStdString();
    EXPECT_TRUE(DesktopSession::waitUntil([&] { return test::linesOf(record).contains(link); }, 15))
        << "the link never reached the browser the rule names";
    RecentLinksStore history;
    ASSERT_TRUE(DesktopSession::waitUntil(
        [&] {
            history.reloadIfChanged();
            return history.links().size() == 1;
        },
        10));
    EXPECT_EQ(history.links()[0].sourceBundleID, notesID);
    EXPECT_EQ(history.links()[0].ruleName, QStringLiteral("Notes"));
}

TEST_F(FrontmostApplicationTest, ChromeComesForwardWhenAsked) {
    ASSERT_TRUE(showNotes()) << "the program's window never came to the front";
    const qint32 chromium = qint32(session->chromiumPid());
    ASSERT_GT(chromium, 0);
    // Asked until Chromium has mapped its window.
    ASSERT_TRUE(DesktopSession::waitUntil([&] { return host::workspace().activate(chromium); }, 20));
    EXPECT_TRUE(DesktopSession::waitUntil(
        [&] {
            const auto window = host::activeClientWindow();
            return window && window->pid == chromium;
        },
        10))
        << "Chromium's window did not come forward";
    // Known by the system's desktop entry of Chromium, which serves as Chrome, through its window class.
    const QByteArray dataFolders = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS",
            session->programEnvironment().value(QStringLiteral("XDG_DATA_DIRS")).toLocal8Bit());
    const auto frontmost = host::workspace().frontmostApplication();
    qputenv("XDG_DATA_DIRS", dataFolders);
    ASSERT_TRUE(frontmost);
    EXPECT_EQ(frontmost->bundleIdentifier, QStringLiteral("com.google.Chrome"));
    EXPECT_EQ(frontmost->processIdentifier, chromium);
    // A process without windows cannot be brought forward.
    EXPECT_FALSE(host::workspace().activate(qint32(::getpid())));
}

} // namespace
