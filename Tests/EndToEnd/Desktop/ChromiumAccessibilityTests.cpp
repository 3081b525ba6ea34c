// Chromium's windows through the host's accessibility service, window list and keys, on a private desktop.
#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "CorvaneHelper/WindowTracking/WindowActions.h"
#include "CorvaneHost/Accessibility.h"
#include "CorvaneHost/Linux/Accessibility/AtspiAccessibility.h"
#include "CorvaneHost/Linux/X11/X11Activation.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/WindowList.h"
#include "CorvaneHost/Workspace.h"
#include "Support/ChromiumSession.h"
#include "Support/DesktopSession.h"
#include "Support/Eventually.h"
#include "Support/WindowDriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <optional>

namespace {

using host::AXElement;
using host::AXError;
using host::AXValue;

// An observer polls a program's windows every 6 s where the window server tells of their changes: what it
// must not report is looked for that long and a little more.
constexpr double observerPoll = 7;

std::optional<QString> string(const AXElement& element, const QString& attribute) {
    AXValue value;
    if (host::accessibility().copyAttributeValue(element, attribute, value) != AXError::success)
        return std::nullopt;
    if (const auto* text = std::get_if<QString>(&value))
        return *text;
    return std::nullopt;
}

std::optional<bool> boolean(const AXElement& element, const QString& attribute) {
    AXValue value;
    if (host::accessibility().copyAttributeValue(element, attribute, value) != AXError::success)
        return std::nullopt;
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag;
    return std::nullopt;
}

QList<AXElement> elements(const AXElement& element, const QString& attribute) {
    AXValue value;
    if (host::accessibility().copyAttributeValue(element, attribute, value) != AXError::success)
        return {};
    if (const auto* list = std::get_if<QList<AXElement>>(&value))
        return *list;
    return {};
}

QStringList classes(const AXElement& element) {
    AXValue value;
    if (host::accessibility().copyAttributeValue(element, QStringLiteral("AXDOMClassList"), value) !=
        AXError::success)
        return {};
    if (const auto* list = std::get_if<QStringList>(&value))
        return *list;
    return {};
}

// The first descendant within `maxDepth` that passes `test`, breadth first.
template <typename Test> AXElement find(const AXElement& root, int maxDepth, Test test) {
    std::deque<std::pair<AXElement, int>> queue{{root, 0}};
    while (!queue.empty()) {
        auto [element, depth] = queue.front();
        queue.pop_front();
        if (test(element))
            return element;
        if (depth < maxDepth)
            for (const AXElement& child : elements(element, QStringLiteral("AXChildren")))
                queue.emplace_back(child, depth + 1);
    }
    return {};
}

QList<AXElement> standardWindows(const AXElement& application) {
    QList<AXElement> result;
    for (const AXElement& window : elements(application, QStringLiteral("AXWindows")))
        if (string(window, QStringLiteral("AXSubrole")) == QStringLiteral("AXStandardWindow"))
            result.append(window);
    return result;
}

AXElement windowOfProfile(const AXElement& application, const QString& profile) {
    for (const AXElement& window : standardWindows(application))
        if (string(window, QStringLiteral("AXTitle"))
                .value_or(QString())
                .endsWith(QStringLiteral(" - Chromium - ") + profile))
            return window;
    return {};
}

// Records the notifications an observer delivers.
struct Received {
    std::vector<std::pair<AXElement, QString>> notifications;
    bool contains(const QString& name, const AXElement& element = {}) const {
        for (const auto& [subject, notification] : notifications)
            if (notification == name && (element.isNull() || subject == element))
                return true;
        return false;
    }
};

class ChromiumAccessibilityTests : public testing::Test {
protected:
    static void SetUpTestSuite() {
        session = new test::DesktopSession;
        if (!session->start())
            return;
        // The services must see the session's buses and display, so they are made after it started.
        host::replaceService(host::services().accessibility, {});
        host::replaceService(host::services().windowList, {});
        session->openWindow(QStringLiteral("Work"));
        application = host::accessibility().createApplication(session->chromiumPid());
        host::accessibility().setMessagingTimeout(application, 2.0);
        // Ready once the window shows its page (its title is "Untitled" before), so that the first test,
        // whichever it is, does not read the window while the page loads.
        test::DesktopSession::waitUntil(
            [] {
                return string(windowOfProfile(application, QStringLiteral("Work")), QStringLiteral("AXTitle"))
                    .value_or(QString())
                    .startsWith(QStringLiteral("about:blank"));
            },
            30);
    }
    static void TearDownTestSuite() {
        application = {};
        host::replaceService(host::services().accessibility, {});
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(session->failure().isEmpty()) << session->failure().toStdString();
        ASSERT_FALSE(windowOfProfile(application, QStringLiteral("Work")).isNull())
            << "Chromium published no window of the profile Work";
    }
    // Back to the one window of Work that the suite started with, for the next test.
    void TearDown() override {
        const AXElement kept = windowOfProfile(application, QStringLiteral("Work"));
        for (const AXElement& window : standardWindows(application))
            if (window != kept)
                test::pressCloseButton(window);
        EXPECT_TRUE(
            test::DesktopSession::waitUntil([] { return standardWindows(application).size() == 1; }, 20))
            << standardWindows(application).size() << " windows stay open";
    }

    // A window of `profile`, opened when there is none.
    static AXElement ensureWindow(const QString& profile) {
        if (AXElement window = windowOfProfile(application, profile); !window.isNull())
            return window;
        session->openWindow(profile);
        AXElement window;
        test::DesktopSession::waitUntil(
            [&] { return !(window = windowOfProfile(application, profile)).isNull(); }, 20);
        return window;
    }
    static std::optional<AXElement> focusedWindow() {
        AXValue value;
        if (host::accessibility().copyAttributeValue(application, QStringLiteral("AXFocusedWindow"), value) !=
            AXError::success)
            return std::nullopt;
        if (const auto* window = std::get_if<AXElement>(&value))
            return *window;
        return std::nullopt;
    }

    static inline test::DesktopSession* session = nullptr;
    static inline AXElement application;
};

TEST_F(ChromiumAccessibilityTests, ApplicationElementListsItsBrowserWindows) {
    EXPECT_EQ(string(application, QStringLiteral("AXRole")), QStringLiteral("AXApplication"));
    const AXElement window = windowOfProfile(application, QStringLiteral("Work"));
    EXPECT_EQ(string(window, QStringLiteral("AXRole")), QStringLiteral("AXWindow"));
    qint32 owner = 0;
    EXPECT_EQ(host::accessibility().pid(window, owner), AXError::success);
    EXPECT_EQ(owner, session->chromiumPid());
    // Two reads of the same window give equal elements with equal hashes.
    const AXElement again = windowOfProfile(application, QStringLiteral("Work"));
    EXPECT_EQ(window, again);
    EXPECT_EQ(window.hash(), again.hash());
    EXPECT_EQ(host::accessibility().createApplication(session->chromiumPid()), application);
}

// A program's root on the bus is looked up once; a program that joins the bus again under the same pid (here
// by replacing itself) is still found.
TEST_F(ChromiumAccessibilityTests, AProgramThatJoinsTheBusAgainUnderItsPidIsFoundAgain) {
    const QTemporaryDir folder;
    const QString trigger = folder.filePath(QStringLiteral("replace"));
    QProcess program;
    QProcessEnvironment environment = session->programEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(CORVANE_BUILD_DIR "/Tests/ReplacingWindow"),
                  {QStringLiteral("Before"), trigger, QStringLiteral("After")});
    ASSERT_TRUE(program.waitForStarted(5000)) << program.errorString().toStdString();
    const AXElement replacing = host::accessibility().createApplication(qint32(program.processId()));
    const auto titles = [&] {
        QStringList shown;
        for (const AXElement& window : elements(replacing, QStringLiteral("AXWindows")))
            shown.append(string(window, QStringLiteral("AXTitle")).value_or(QString()));
        return shown;
    };
    const bool before =
        test::DesktopSession::waitUntil([&] { return titles().contains(QStringLiteral("Before")); }, 20);
    QFile(trigger).open(QIODevice::WriteOnly);
    const bool after = before && test::DesktopSession::waitUntil(
                                     [&] { return titles().contains(QStringLiteral("After")); }, 20);
    const QStringList last = titles();
    program.kill();
    program.waitForFinished(5000);
    EXPECT_TRUE(before) << "the program's window never showed on the bus";
    EXPECT_TRUE(after) << "after joining again: " << last.join(QStringLiteral(", ")).toStdString();
}

TEST_F(ChromiumAccessibilityTests, ClassifierInputsOfAWindow) {
    const AXElement window = windowOfProfile(application, QStringLiteral("Work"));
    const AXElement toolbar = find(window, 10, [](const AXElement& element) {
        return string(element, QStringLiteral("AXRole")) == QStringLiteral("AXToolbar");
    });
    ASSERT_FALSE(toolbar.isNull());
    const AXElement avatar = find(toolbar, 3, [](const AXElement& element) {
        const auto role = string(element, QStringLiteral("AXRole"));
        return (role == QStringLiteral("AXButton") || role == QStringLiteral("AXPopUpButton")) &&
               string(element, QStringLiteral("AXDescription")) == QStringLiteral("Work");
    });
    ASSERT_FALSE(avatar.isNull());
    EXPECT_TRUE(classes(avatar).contains(QStringLiteral("AvatarToolbarButton")));

    const AXElement tabStrip = find(window, 10, [](const AXElement& element) {
        return string(element, QStringLiteral("AXRole")) == QStringLiteral("AXTabGroup") &&
               classes(element).contains(QStringLiteral("TabContainerImpl"));
    });
    ASSERT_FALSE(tabStrip.isNull());
    int tabs = 0;
    for (const AXElement& child : elements(tabStrip, QStringLiteral("AXChildren")))
        tabs += classes(child).contains(QStringLiteral("Tab"));
    EXPECT_EQ(tabs, 1);
}

// Chromium hides its bookmarks bar on ordinary pages, and with it the bar of the saved tab groups: that bar
// is listed all the same, the bookmarks bar's other hidden buttons are not.
TEST_F(ChromiumAccessibilityTests, TheHiddenSavedGroupsBarIsListedButNoOtherHiddenElement) {
    const AXElement window = windowOfProfile(application, QStringLiteral("Work"));
    const AXElement bookmarks = find(window, 10, [](const AXElement& element) {
        return classes(element).contains(QStringLiteral("BookmarkBarView"));
    });
    ASSERT_FALSE(bookmarks.isNull());
    QStringList listed;
    for (const AXElement& child : elements(bookmarks, QStringLiteral("AXChildren")))
        listed.append(classes(child));
    EXPECT_EQ(listed, QStringList{QStringLiteral("SavedTabGroupBar")});
}

// What a search reads of the window's top levels, element by element, in breadth-first order.
QStringList describeLevels(const AXElement& window, int depth) {
    QStringList lines;
    QList<AXElement> level{window};
    for (int d = 0; d <= depth && !level.isEmpty(); ++d) {
        host::accessibility().prefetch(level);
        QList<AXElement> next;
        for (const AXElement& element : level) {
            const QList<AXElement> children = elements(element, QStringLiteral("AXChildren"));
            lines.append(QStringList{string(element, QStringLiteral("AXRole")).value_or("-"),
                                     string(element, QStringLiteral("AXTitle")).value_or("-"),
                                     string(element, QStringLiteral("AXDescription")).value_or("-"),
                                     classes(element).join(QLatin1Char(',')),
                                     QString::number(children.size())}
                             .join(QLatin1Char('|')));
            next.append(children);
        }
        level = next;
    }
    return lines;
}

TEST_F(ChromiumAccessibilityTests, ReadingAheadAnswersAsReadingOneByOneAndNeverForTheWindowList) {
    const AXElement window = ensureWindow(QStringLiteral("Work"));
    ASSERT_FALSE(window.isNull());
    host::AtspiAccessibility::setReadsAhead(false);
    const QStringList oneByOne = describeLevels(window, 4);
    host::AtspiAccessibility::setReadsAhead(true);
    const QStringList readAhead = describeLevels(window, 4);
    EXPECT_GT(oneByOne.size(), 10);
    EXPECT_EQ(readAhead, oneByOne);

    // A window that opens while what was read ahead still holds (the event loop does not turn) is listed
    // at once: the application's windows are always asked of Chromium.
    const qsizetype before = standardWindows(application).size();
    ASSERT_TRUE(session->openWindow(QStringLiteral("Home")));
    host::accessibility().prefetch({application, window});
    EXPECT_TRUE(test::eventually([&] { return standardWindows(application).size() == before + 1; }, 20000))
        << standardWindows(application).size() << " windows, " << before << " before";

    // The next tests start without a window of Home.
    const AXElement home = windowOfProfile(application, QStringLiteral("Home"));
    AXValue button;
    ASSERT_EQ(host::accessibility().copyAttributeValue(home, QStringLiteral("AXCloseButton"), button),
              AXError::success);
    ASSERT_EQ(host::accessibility().performAction(std::get<AXElement>(button), QStringLiteral("AXPress")),
              AXError::success);
    EXPECT_TRUE(test::DesktopSession::waitUntil(
        [] { return windowOfProfile(application, QStringLiteral("Home")).isNull(); }, 20));
}

TEST_F(ChromiumAccessibilityTests, WindowListAgreesWithTheAccessibilityTree) {
    const auto entries = host::windowList().windowList(host::WindowList::optionOnScreenOnly |
                                                           host::WindowList::optionExcludeDesktopElements,
                                                       host::WindowList::nullWindowID);
    ASSERT_TRUE(entries.has_value());
    int chromiumWindows = 0;
    for (const QVariant& entry : *entries)
        chromiumWindows +=
            entry.toMap().value(host::WindowList::ownerPIDKey).toLongLong() == session->chromiumPid();
    EXPECT_EQ(chromiumWindows, standardWindows(application).size());
    EXPECT_TRUE(host::windowList().screenRecordingPreflight());
    // Each window's number is its number in the list, so the list answers for it once Chromium does not.
    for (const AXElement& window : standardWindows(application)) {
        AXValue number;
        ASSERT_EQ(host::accessibility().copyAttributeValue(window, QStringLiteral("AXWindowNumber"), number),
                  AXError::success);
        ASSERT_TRUE(std::holds_alternative<double>(number));
        int listed = 0;
        for (const QVariant& entry : *entries)
            listed +=
                entry.toMap().value(host::WindowList::numberKey).toLongLong() ==
                    qint64(std::get<double>(number)) &&
                entry.toMap().value(host::WindowList::ownerPIDKey).toLongLong() == session->chromiumPid();
        EXPECT_EQ(listed, 1);
    }
}

TEST_F(ChromiumAccessibilityTests, ObserverReportsANewWindowAndItsClosingByItsCloseButton) {
    Received received;
    std::shared_ptr<host::AXObserver> observer;
    ASSERT_EQ(host::accessibility().createObserver(
                  session->chromiumPid(),
                  [&](const AXElement& element, const QString& name) {
                      received.notifications.emplace_back(element, name);
                  },
                  observer),
              AXError::success);
    ASSERT_EQ(observer->addNotification(application, host::AXNotification::windowCreated), AXError::success);
    EXPECT_EQ(observer->addNotification(application, host::AXNotification::windowCreated),
              AXError::notificationAlreadyRegistered);
    ASSERT_TRUE(windowOfProfile(application, QStringLiteral("Home")).isNull())
        << "a window of Home is still open from an earlier test";

    ASSERT_TRUE(session->openWindow(QStringLiteral("Home")));
    AXElement home;
    ASSERT_TRUE(test::DesktopSession::waitUntil(
        [&] {
            home = windowOfProfile(application, QStringLiteral("Home"));
            return !home.isNull() && received.contains(host::AXNotification::windowCreated, home);
        },
        20));

    ASSERT_EQ(observer->addNotification(home, host::AXNotification::uiElementDestroyed), AXError::success);
    AXValue closeButton;
    ASSERT_EQ(host::accessibility().copyAttributeValue(home, QStringLiteral("AXCloseButton"), closeButton),
              AXError::success);
    ASSERT_TRUE(std::holds_alternative<AXElement>(closeButton));
    EXPECT_EQ(
        host::accessibility().performAction(std::get<AXElement>(closeButton), QStringLiteral("AXPress")),
        AXError::success);
    EXPECT_TRUE(test::DesktopSession::waitUntil(
        [&] { return received.contains(host::AXNotification::uiElementDestroyed, home); }, 20));
    EXPECT_TRUE(windowOfProfile(application, QStringLiteral("Home")).isNull());
    EXPECT_FALSE(windowOfProfile(application, QStringLiteral("Work")).isNull());
}

TEST_F(ChromiumAccessibilityTests, RaisingABackgroundWindowMakesItTheActiveOne) {
    const AXElement work = ensureWindow(QStringLiteral("Work"));
    const AXElement home = ensureWindow(QStringLiteral("Home"));
    ASSERT_FALSE(home.isNull());
    // Opening Home made it the active window; Work is behind it.
    ASSERT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() == home; }, 10));

    host::Accessibility& ax = host::accessibility();
    EXPECT_EQ(ax.performAction(work, QStringLiteral("AXRaise")), AXError::success);
    EXPECT_EQ(ax.setAttributeValue(work, QStringLiteral("AXMain"), true), AXError::success);
    EXPECT_EQ(ax.setAttributeValue(work, QStringLiteral("AXFocused"), true), AXError::success);
    EXPECT_EQ(ax.setAttributeValue(application, QStringLiteral("AXFocusedWindow"), work), AXError::success);
    EXPECT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() == work; }, 10));
    EXPECT_TRUE(test::DesktopSession::waitUntil(
        [&] {
            AXValue main;
            return ax.copyAttributeValue(work, QStringLiteral("AXMain"), main) == AXError::success &&
                   main == AXValue(true);
        },
        10));
}

// A proxy app's reopen: the helper raises the profile's window, then the launcher brings Chrome forward. The
// window manager is held meanwhile, as a busy one is late: Chrome coming forward must not put its other
// window back in front.
TEST_F(ChromiumAccessibilityTests, BringingChromeForwardAfterARaiseLeavesTheRaisedWindowInFront) {
    const AXElement work = ensureWindow(QStringLiteral("Work"));
    const AXElement home = ensureWindow(QStringLiteral("Home"));
    ASSERT_FALSE(home.isNull());
    ASSERT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() == home; }, 10));
    const pid_t windowManager = session->windowManagerPid();
    ASSERT_GT(windowManager, 0);

    test::ActivationRequestLog requests;
    ASSERT_EQ(::kill(windowManager, SIGSTOP), 0);
    WindowActions::raise(work);
    const bool broughtForward = host::workspace().activate(qint32(session->chromiumPid()));
    const std::vector<quint32> asked = requests.windows();
    ASSERT_EQ(::kill(windowManager, SIGCONT), 0);

    EXPECT_TRUE(broughtForward);
    EXPECT_EQ(asked.size(), 1u) << "one raise, one request to the window manager";
    EXPECT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() == work; }, 10));
    // Once the window manager has settled, Work's window is still the one in front.
    test::DesktopSession::waitUntil([] { return false; }, 1);
    EXPECT_EQ(focusedWindow(), work);

    // Chrome already in front: bringing it forward again asks for nothing, so no window changes place.
    ASSERT_TRUE(host::workspace().activate(qint32(session->chromiumPid())));
    EXPECT_EQ(requests.windows().size(), 1u);
    test::DesktopSession::waitUntil([] { return false; }, 0.5);
    EXPECT_EQ(focusedWindow(), work);
}

// The user (or a program that goes to the window manager directly) brings Home forward right after the helper
// raised Work: raising Work again at once brings it back.
TEST_F(ChromiumAccessibilityTests, AWindowRaisedAgainSoonAfterAnotherCameForwardComesToTheFront) {
    const AXElement work = ensureWindow(QStringLiteral("Work"));
    const AXElement home = ensureWindow(QStringLiteral("Home"));
    ASSERT_FALSE(home.isNull());
    ASSERT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() == home; }, 10));
    const auto homeWindow = host::activeClientWindow();
    ASSERT_TRUE(homeWindow);
    for (int round = 0; round < 3; ++round) {
        WindowActions::raise(work);
        ASSERT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() == work; }, 10))
            << "round " << round;
        host::X11Display::shared()->activate(homeWindow->id);
        ASSERT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() == home; }, 10))
            << "round " << round;
    }
    WindowActions::raise(work);
    EXPECT_TRUE(test::DesktopSession::waitUntil([&] { return focusedWindow() == work; }, 3));
}

TEST_F(ChromiumAccessibilityTests, MinimisingAndRestoringAWindow) {
    const AXElement work = ensureWindow(QStringLiteral("Work"));
    host::Accessibility& ax = host::accessibility();
    ASSERT_EQ(ax.setAttributeValue(work, QStringLiteral("AXMinimized"), true), AXError::success);
    EXPECT_TRUE(test::DesktopSession::waitUntil(
        [&] { return boolean(work, QStringLiteral("AXMinimized")) == true; }, 10));
    ASSERT_EQ(ax.setAttributeValue(work, QStringLiteral("AXMinimized"), false), AXError::success);
    EXPECT_TRUE(test::DesktopSession::waitUntil(
        [&] { return boolean(work, QStringLiteral("AXMinimized")) == false; }, 10));
}

TEST_F(ChromiumAccessibilityTests, EscapeKeyReachesTheFocusedWindow) {
    // A page that shows the last key pressed in its title, so in the window's name; it says "ready" once it
    // has the keyboard.
    ASSERT_TRUE(session->openWindow(
        QStringLiteral("Work"),
        QStringLiteral("data:text/html,<title>waiting</title><script>onkeydown=e=>document.title=e.key;"
                       "setInterval(()=>{if(document.hasFocus()&&document.title=='waiting')"
                       "document.title='ready'},20)</script>")));
    AXElement page;
    ASSERT_TRUE(test::DesktopSession::waitUntil(
        [&] {
            page = {};
            for (const AXElement& window : standardWindows(application))
                if (string(window, QStringLiteral("AXTitle"))
                        .value_or(QString())
                        .startsWith(QStringLiteral("ready")))
                    page = window;
            return !page.isNull() && focusedWindow() == page;
        },
        20))
        << "the page never had the keyboard";
    host::accessibility().postKeyboardEvent(53, true);
    host::accessibility().postKeyboardEvent(53, false);
    EXPECT_TRUE(test::DesktopSession::waitUntil(
        [&] {
            return string(page, QStringLiteral("AXTitle"))
                .value_or(QString())
                .startsWith(QStringLiteral("Escape"));
        },
        10))
        << string(page, QStringLiteral("AXTitle")).value_or(QStringLiteral("(no title)")).toStdString();
}

TEST_F(ChromiumAccessibilityTests, AProgramThatDoesNotAnswerFailsWithinTheMessagingTimeout) {
    const AXElement work = ensureWindow(QStringLiteral("Work"));
    ASSERT_EQ(host::accessibility().setMessagingTimeout(application, 0.5), AXError::success);
    // A pass of its own: what finding the window read of it (its title among them) is not kept into it.
    QCoreApplication::processEvents();
    ::kill(session->chromiumPid(), SIGSTOP);
    AXValue title;
    QElapsedTimer clock;
    clock.start();
    const AXError status = host::accessibility().copyAttributeValue(work, QStringLiteral("AXTitle"), title);
    const qint64 waited = clock.elapsed();
    ::kill(session->chromiumPid(), SIGCONT);
    host::accessibility().setMessagingTimeout(application, 2.0);
    EXPECT_EQ(status, AXError::cannotComplete);
    EXPECT_LT(waited, 5000); // the 0.5 s time-out, not the default of several seconds
    EXPECT_TRUE(test::DesktopSession::waitUntil(
        [&] { return string(work, QStringLiteral("AXTitle")).has_value(); }, 10));
}

TEST_F(ChromiumAccessibilityTests, ObserverRegisteredWhileTheProgramDoesNotAnswerReportsLaterWindows) {
    // Right after a browser starts it may not answer yet when the tracker registers; the poll that follows
    // must take the first answer as its starting point.
    ensureWindow(QStringLiteral("Work"));
    Received received;
    std::shared_ptr<host::AXObserver> observer;
    ASSERT_EQ(host::accessibility().createObserver(
                  session->chromiumPid(),
                  [&](const AXElement& element, const QString& name) {
                      received.notifications.emplace_back(element, name);
                  },
                  observer),
              AXError::success);
    host::accessibility().setMessagingTimeout(application, 0.5);
    ::kill(session->chromiumPid(), SIGSTOP);
    const AXError registered = observer->addNotification(application, host::AXNotification::windowCreated);
    ::kill(session->chromiumPid(), SIGCONT);
    host::accessibility().setMessagingTimeout(application, 2.0);
    ASSERT_EQ(registered, AXError::success);
    ASSERT_TRUE(test::DesktopSession::waitUntil([&] { return !standardWindows(application).isEmpty(); }, 10))
        << "Chromium does not answer again";
    // Once it answers, no poll of the observer (one every few seconds) may take its windows for new ones.
    EXPECT_FALSE(test::DesktopSession::waitUntil(
        [&] { return received.contains(host::AXNotification::windowCreated); }, observerPoll))
        << "windows that were already open were reported as new";

    ASSERT_TRUE(session->openWindow(QStringLiteral("Work")));
    EXPECT_TRUE(test::DesktopSession::waitUntil(
        [&] { return received.contains(host::AXNotification::windowCreated); }, 20));
}

TEST_F(ChromiumAccessibilityTests, ObserverThatOutlivesTheServiceStaysQuiet) {
    Received received;
    std::shared_ptr<host::AXObserver> observer;
    ASSERT_EQ(host::accessibility().createObserver(
                  session->chromiumPid(),
                  [&](const AXElement& element, const QString& name) {
                      received.notifications.emplace_back(element, name);
                  },
                  observer),
              AXError::success);
    ASSERT_EQ(observer->addNotification(application, host::AXNotification::windowCreated), AXError::success);
    host::replaceService(host::services().accessibility, {});
    const std::size_t shown = test::DesktopSession::windowsOnScreen().size();
    ASSERT_TRUE(session->openWindow(QStringLiteral("Work")));
    // The new window on the screen is what a live observer reports at once, and again on its next poll.
    ASSERT_TRUE(test::DesktopSession::waitUntil(
        [&] { return test::DesktopSession::windowsOnScreen().size() > shown; }, 20));
    EXPECT_FALSE(
        test::DesktopSession::waitUntil([&] { return !received.notifications.empty(); }, observerPoll));
    observer.reset();
    // The suite goes on with a fresh service.
    application = host::accessibility().createApplication(session->chromiumPid());
    host::accessibility().setMessagingTimeout(application, 2.0);
}

TEST_F(ChromiumAccessibilityTests, ProfilesOfTheLocalStateThatChromiumReads) {
    // The profile list reads the browser's "Local State"; here it is the one Chromium runs with.
    ASSERT_EQ(ChromeProfiles::localStateURL(), session->userDataDirectory() + QStringLiteral("/Local State"));
    QStringList names;
    for (const ChromeProfile& profile : ChromeProfiles::load())
        names << profile.name;
    EXPECT_EQ(names, (QStringList{QStringLiteral("Work"), QStringLiteral("Home")}));
}

} // namespace
