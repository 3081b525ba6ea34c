// The helper program tracking a real Chromium on a private desktop, as the proxy apps see it: clients on its
// socket watch a profile and hear its window count, raise its windows and close them, and leave a window
// whose page asks before it is left to the user.
#include "CorvaneHost/Accessibility.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/WindowList.h"
#include "Support/ChromiumSession.h"
#include "Support/Files.h"
#include "Support/WindowDriver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <csignal>
#include <gtest/gtest.h>

namespace {

using host::AXElement;

using test::HelperClient;

constexpr double generous = test::ChromiumHelperSession::generous;

class WindowTrackingTests : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // Home's window stays open throughout, so that Chromium keeps running when Work's windows close; the
        // test that closes it opens it again. Chromium runs on without windows, as with background apps.
        test::DesktopSession::Options options;
        options.chromiumOutlivesItsWindows = true;
        session = new test::ChromiumHelperSession(options);
        session->start();
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(session->failure().isEmpty()) << session->failure().toStdString(); }
    void TearDown() override {
        if (HasFailure())
            ADD_FAILURE() << "the helper's log:\n" << session->helper().log().toStdString();
        session->closeWindows(QStringLiteral("Work"), true);
        session->closeWindows(QStringLiteral("Work"), false);
    }

    static bool openWindow(const QString& profile, bool incognito = false) {
        return session->openWindow(profile, incognito);
    }
    static void closeAll(const QString& profile, bool incognito) {
        session->closeWindows(profile, incognito);
    }
    static QList<AXElement> standardWindowsOf(const QString& profile, bool incognito) {
        return session->windows(profile, incognito);
    }
    static std::optional<AXElement> focusedWindow() { return test::focusedWindow(session->chromium()); }
    // Chromium's windows on screen, as the window manager lists them.
    static int chromiumWindowsOnScreen() {
        const auto list = host::windowList().windowList(host::WindowList::optionOnScreenOnly,
                                                        host::WindowList::nullWindowID);
        int count = 0;
        for (const QVariant& entry : list.value_or(QVariantList()))
            if (entry.toMap().value(host::WindowList::ownerPIDKey).toInt() ==
                session->desktop().chromiumPid())
                ++count;
        return count;
    }

    static inline test::ChromiumHelperSession* session = nullptr;
};

TEST_F(WindowTrackingTests, AWatcherHearsTheCountOfItsProfileAsWindowsOpenAndClose) {
    auto work = HelperClient::connect(QStringLiteral("Work"));
    ASSERT_TRUE(work);
    EXPECT_TRUE(work->hears(0)) << work->describe().toStdString();

    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    EXPECT_TRUE(work->hears(1)) << work->describe().toStdString();
    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    EXPECT_TRUE(work->hears(2)) << work->describe().toStdString();

    closeAll(QStringLiteral("Work"), false);
    EXPECT_TRUE(work->hears(0)) << work->describe().toStdString();
    // Home's window was never Work's.
    const std::optional<Response> status = work->send(Request(0, Request::Op::status));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->windowCount, 0);
}

// The X server's announcements bring a new window to the watchers, well before the helper would look again on
// its own.
TEST_F(WindowTrackingTests, AWindowIsHeardOfSoonAfterItShowsOnScreen) {
    auto work = HelperClient::connect(QStringLiteral("Work"), false);
    ASSERT_TRUE(work);
    ASSERT_TRUE(work->hears(0)) << work->describe().toStdString();
    for (int count = 1; count <= 3; ++count) {
        const int before = chromiumWindowsOnScreen();
        ASSERT_TRUE(session->desktop().openWindow(QStringLiteral("Work")));
        ASSERT_TRUE(
            test::DesktopSession::waitUntil([&] { return chromiumWindowsOnScreen() > before; }, generous));
        EXPECT_TRUE(work->hears(count, 1.5)) << work->describe().toStdString();
    }
}

TEST_F(WindowTrackingTests, AnIncognitoWindowCountsOnlyForAWatcherThatIncludesIncognito) {
    auto including = HelperClient::connect(QStringLiteral("Work"), true);
    auto excluding = HelperClient::connect(QStringLiteral("Work"), false);
    ASSERT_TRUE(including && excluding);
    ASSERT_TRUE(including->hears(0)) << including->describe().toStdString();

    // An incognito window names no profile: the helper learns whose it is from the launch the proxy app
    // notes before it starts the browser.
    ASSERT_TRUE(including->send(Request(0, Request::Op::noteLaunch)));
    ASSERT_TRUE(openWindow(QStringLiteral("Work"), true));
    EXPECT_TRUE(including->hears(1)) << including->describe().toStdString();
    excluding->drain();
    const std::optional<Response> status = excluding->send(Request(0, Request::Op::status));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->windowCount, 0);
    EXPECT_EQ(status->confidence, CountConfidence::certain);

    closeAll(QStringLiteral("Work"), true);
    EXPECT_TRUE(including->hears(0)) << including->describe().toStdString();
}

TEST_F(WindowTrackingTests, ActivateRaisesTheProfilesWindowOrSaysThereIsNothingToRaise) {
    auto work = HelperClient::connect(QStringLiteral("Work"), false);
    ASSERT_TRUE(work);
    std::optional<Response> answer = work->send(Request(0, Request::Op::activate));
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->action, Response::Action::nothingToRaise);

    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    const AXElement workWindow = standardWindowsOf(QStringLiteral("Work"), false).value(0);
    ASSERT_TRUE(work->hears(1)) << work->describe().toStdString();
    // A new window of Home goes in front of Work's.
    ASSERT_TRUE(openWindow(QStringLiteral("Home")));
    ASSERT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() != workWindow; }, generous));

    answer = work->send(Request(0, Request::Op::activate));
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->action, Response::Action::raised);
    EXPECT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() == workWindow; }, generous));

    // Back to one window of Home.
    const QList<AXElement> homes = standardWindowsOf(QStringLiteral("Home"), false);
    if (homes.size() > 1) {
        test::pressCloseButton(homes.last());
        test::DesktopSession::waitUntil(
            [&] { return standardWindowsOf(QStringLiteral("Home"), false).size() == 1; }, generous);
    }
}

TEST_F(WindowTrackingTests, CloseWindowsClosesTheProfilesWindowsAndLeavesTheOthers) {
    auto work = HelperClient::connect(QStringLiteral("Work"), false);
    auto home = HelperClient::connect(QStringLiteral("Home"), false);
    ASSERT_TRUE(work && home);
    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    ASSERT_TRUE(work->hears(2)) << work->describe().toStdString();
    ASSERT_TRUE(home->hears(1)) << home->describe().toStdString();

    const std::optional<Response> answer = work->send(Request(0, Request::Op::closeWindows), 30);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->closed, 2);
    EXPECT_EQ(answer->remaining, 0);
    EXPECT_EQ(answer->blocked, false);
    EXPECT_TRUE(work->hears(0)) << work->describe().toStdString();
    EXPECT_TRUE(test::DesktopSession::waitUntil(
        [] { return standardWindowsOf(QStringLiteral("Work"), false).isEmpty(); }, generous));
    EXPECT_EQ(standardWindowsOf(QStringLiteral("Home"), false).size(), 1);
    home->drain();
    ASSERT_TRUE(home->lastWindows());
    EXPECT_EQ(home->lastWindows()->count, 1);
}

// A page with unsaved work asks before it is left, in a dialog inside its window: the helper's close stops
// there, says it was blocked and leaves the dialog to the user.
TEST_F(WindowTrackingTests, APageThatAsksBeforeItIsLeftBlocksTheCloseAndKeepsItsDialog) {
    auto work = HelperClient::connect(QStringLiteral("Work"), false);
    ASSERT_TRUE(work);
    const QString page = QDir::homePath() + QStringLiteral("/unsaved.html");
    test::writeFile(page,
                    "<title>Unsaved</title><body style='height:100vh'><script>"
                    "onbeforeunload = event => { event.preventDefault(); event.returnValue = ''; };"
                    "onclick = () => document.title = 'Edited';</script></body>",
                    QDateTime::currentDateTimeUtc());
    ASSERT_TRUE(session->desktop().openWindow(QStringLiteral("Work"), QUrl::fromLocalFile(page).toString()));
    const auto titled = [](const QString& start) {
        for (const AXElement& window : standardWindowsOf(QStringLiteral("Work"), false))
            if (test::titleOf(window).startsWith(start))
                return true;
        return false;
    };
    ASSERT_TRUE(test::DesktopSession::waitUntil([&] { return titled(QStringLiteral("Unsaved")); }, generous));
    ASSERT_TRUE(work->hears(1)) << work->describe().toStdString();

    // Chromium asks only on a page the user has worked with: a click into it.
    test::WindowDriver driver;
    ASSERT_TRUE(driver.isReady()) << driver.failure().toStdString();
    const test::AccessibleElement chromium = driver.application(session->desktop().chromiumPid());
    const test::AccessibleElement document =
        driver.find(chromium, QStringLiteral("document web"), QStringLiteral("Unsaved"), generous);
    ASSERT_TRUE(driver.click(document)) << chromium.dump(6).toStdString();
    ASSERT_TRUE(test::DesktopSession::waitUntil([&] { return titled(QStringLiteral("Edited")); }, generous));

    const std::optional<Response> answer = work->send(Request(0, Request::Op::closeWindows), 30);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->closed, 0);
    EXPECT_EQ(answer->remaining, 1);
    EXPECT_TRUE(answer->blocked);
    EXPECT_TRUE(session->helper().log().contains(
        QStringLiteral("close blocked by a page dialog; leaving it for the user")));
    EXPECT_EQ(standardWindowsOf(QStringLiteral("Work"), false).size(), 1);

    // The dialog waits for the user, who leaves the page; then the window goes.
    const test::AccessibleElement leave =
        driver.find(chromium, QStringLiteral("push button"), QStringLiteral("Leave"), generous);
    ASSERT_TRUE(driver.click(leave)) << chromium.dump(6).toStdString();
    EXPECT_TRUE(work->hears(0)) << work->describe().toStdString();
}

// The helper ends as it should while Chromium keeps announcing changes: libatspi hands over the events that
// arrive while the helper's listener is taken down at its exit, after much of the program is gone.
TEST_F(WindowTrackingTests, TheHelperEndsCleanlyWhileChromiumAnnouncesChanges) {
    const QString busyTitle = QStringLiteral(
        "data:text/html,<script>let n=0;setInterval(()=>{document.title='busy '+(n++)},2)</script>");
    ASSERT_TRUE(session->desktop().openWindow(QStringLiteral("Work"), busyTitle));
    ASSERT_TRUE(test::DesktopSession::waitUntil(
        [] { return !standardWindowsOf(QStringLiteral("Work"), false).isEmpty(); }, generous));
    // The helper as this program's child, so that its end is seen; the session's own one steps aside.
    session->helper().stop();
    for (int round = 0; round < 3 && !HasFailure(); ++round) {
        QProcess helper;
        helper.setProcessEnvironment(session->desktop().programEnvironment());
        helper.setProcessChannelMode(QProcess::MergedChannels);
        helper.start(test::HelperProcess::program(), {});
        ASSERT_TRUE(helper.waitForStarted(5000));
        auto work = HelperClient::connect(QStringLiteral("Work"), false);
        ASSERT_TRUE(work);
        EXPECT_TRUE(work->hears(1)) << work->describe().toStdString();
        QThread::msleep(500);
        helper.terminate();
        ASSERT_TRUE(helper.waitForFinished(10000));
        EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit)
            << "the helper died of signal " << helper.exitCode() << ":\n"
            << helper.readAll().toStdString();
        EXPECT_EQ(helper.exitCode(), 0) << helper.readAll().toStdString();
    }
    ASSERT_TRUE(session->helper().start(session->desktop().programEnvironment()));
}

// Chromium that does not answer the accessibility bus, with every window minimised: the on-screen list shows
// none of them, but the window manager still has each, so the helper keeps counting them.
TEST_F(WindowTrackingTests, MinimisedWindowsOfAChromiumThatDoesNotAnswerStillCount) {
    auto work = HelperClient::connect(QStringLiteral("Work"), false);
    ASSERT_TRUE(work);
    ASSERT_TRUE(openWindow(QStringLiteral("Work")));
    ASSERT_TRUE(work->hears(1)) << work->describe().toStdString();
    QList<AXElement> windows = standardWindowsOf(QStringLiteral("Work"), false);
    windows += standardWindowsOf(QStringLiteral("Home"), false);
    ASSERT_EQ(windows.size(), 2);
    const auto minimise = [&](bool minimised) {
        for (const AXElement& window : windows)
            host::accessibility().setAttributeValue(window, QStringLiteral("AXMinimized"), minimised);
    };
    // On a loaded machine a request can miss a window the window manager is still settling: ask again, at a
    // calm pace, until none is on screen.
    QElapsedTimer sinceAsked;
    ASSERT_TRUE(test::DesktopSession::waitUntil(
        [&] {
            if (chromiumWindowsOnScreen() == 0)
                return true;
            if (!sinceAsked.isValid() || sinceAsked.elapsed() > 1000) {
                minimise(true);
                sinceAsked.start();
            }
            return false;
        },
        generous));

    const auto notAnswering = [] {
        return session->helper().log().count(
            QStringLiteral("the window server still lists 2 of them, so Chrome is not answering"));
    };
    const qsizetype before = notAnswering();
    const qint32 chromium = qint32(session->desktop().chromiumPid());
    ::kill(chromium, SIGSTOP);
    // A periodic pass of the helper finds Chromium not answering while the window server lists its windows.
    EXPECT_TRUE(test::DesktopSession::waitUntil([&] { return notAnswering() > before; }, 30));
    work->drain();
    const std::optional<Response> status = work->send(Request(0, Request::Op::status), 10);
    ::kill(chromium, SIGCONT);
    minimise(false);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->windowCount, 1) << work->describe().toStdString();
    EXPECT_TRUE(test::DesktopSession::waitUntil([] { return chromiumWindowsOnScreen() == 2; }, generous));
}

// Chromium, running on, lists no windows at all once its last one has closed.
TEST_F(WindowTrackingTests, ClosingChromiumsLastWindowCountsItAsClosed) {
    closeAll(QStringLiteral("Work"), false);
    auto home = HelperClient::connect(QStringLiteral("Home"), false);
    ASSERT_TRUE(home);
    ASSERT_TRUE(home->hears(1)) << home->describe().toStdString();
    const std::optional<Response> answer = home->send(Request(0, Request::Op::closeWindows), 30);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->closed, 1);
    EXPECT_EQ(answer->remaining, 0);
    EXPECT_EQ(answer->blocked, false);
    // The tests that come after, whichever they are, find Home's window open.
    EXPECT_TRUE(home->hears(0)) << home->describe().toStdString();
    ASSERT_TRUE(openWindow(QStringLiteral("Home")));
    EXPECT_TRUE(home->hears(1)) << home->describe().toStdString();
}

} // namespace
