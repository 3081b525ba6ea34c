// The helper and a tab-group proxy app against real tab groups of a real Chromium on a private desktop. The
// groups are made by an unpacked extension loaded into Chromium (TabGroupExtension), which also reports
// Chromium's own view of the profile's windows, tabs and groups: every outcome is judged by that report, not
// by the accessibility tree the helper reads.
#include "CorvaneHost/Accessibility.h"
#include "Support/ChromiumSession.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"
#include "Support/ProgramEnd.h"
#include "Support/ProxyAppProcess.h"
#include "Support/TabGroupSession.h"
#include "Support/WindowDriver.h"

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QScopeGuard>
#include <csignal>
#include <gtest/gtest.h>

namespace {

using test::ChromiumHelperSession;
using test::ChromiumReport;
using test::DesktopSession;
using test::HelperClient;
using test::TabGroupSession;

constexpr double generous = ChromiumHelperSession::generous;
const QString work = QStringLiteral("Work");

const TabGroupInfo* listed(const std::vector<TabGroupInfo>& groups, const QString& name) {
    for (const TabGroupInfo& group : groups)
        if (group.name == name)
            return &group;
    return nullptr;
}

QString describe(const std::vector<TabGroupInfo>& groups) {
    QStringList lines;
    for (const TabGroupInfo& group : groups)
        lines.append(QStringLiteral("\"%1\" open %2 saved %3 windows %4")
                         .arg(group.name)
                         .arg(group.isOpen)
                         .arg(group.isSaved)
                         .arg(group.windowCount));
    return QStringLiteral("the helper listed: ") + lines.join(QStringLiteral("; "));
}

class TabGroupTests : public testing::Test {
protected:
    static void SetUpTestSuite() {
        session = new test::TabGroupSession;
        session->start();
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(session->failure().isEmpty()) << session->failure().toStdString();
        ASSERT_TRUE(driver.isReady()) << driver.failure().toStdString();
    }
    void TearDown() override {
        if (!session->failure().isEmpty())
            return;
        if (HasFailure())
            ADD_FAILURE() << report().describe().toStdString() << "\nthe helper's log:\n"
                          << session->helper().log().toStdString();
        // The groups closed with their windows stay saved, which is why each test names its groups apart.
        EXPECT_TRUE(session->closeAllButTheAnchor()) << session->lastFailure().toStdString();
    }

    static ChromiumReport report() { return session->report(); }
    static qint64 openWindow(const QString& prefix) { return session->openWindow(prefix); }
    static bool groupInFront(const QString& title) { return session->groupInFront(title); }
    // A window with a group `title` in it; fails the test when Chromium did not make it.
    static TabGroupSession::Group makeGroupInNewWindow(const QString& title, bool collapsed = false) {
        const TabGroupSession::Group made = session->makeGroupInNewWindow(title, collapsed);
        EXPECT_NE(made.groupId, 0) << session->lastFailure().toStdString();
        return made;
    }

    // Closes the group as a user does: "Close group" in its header's menu. Chromium keeps it saved.
    void closeGroupByItsMenu(const QString& title) {
        const test::AccessibleElement chromium = driver.application(session->desktop().chromiumPid());
        test::AccessibleElement header;
        ASSERT_TRUE(DesktopSession::waitUntil(
            [&] {
                for (const test::AccessibleElement& element :
                     driver.findAll(chromium, QStringLiteral("page tab list"), QString()))
                    if (element.name().trimmed().startsWith(QStringLiteral("group ") + title +
                                                            QStringLiteral(" ")))
                        header = element;
                return !header.isNull();
            },
            generous))
            << "no header of the group " << title.toStdString();
        // A right click that lands while Chromium is still laying out the new strip opens nothing: it is
        // tried again.
        test::AccessibleElement close;
        const auto findClose = [&] {
            for (const test::AccessibleElement& element :
                 driver.findAll(chromium, QStringLiteral("push button"), QString()))
                if (element.name().startsWith(QStringLiteral("Close group")))
                    close = element;
            return !close.isNull();
        };
        // The click lands in whichever window is in front there: the group's window is brought there first,
        // by Chromium itself.
        const auto groups = report().groupsTitled(title);
        ASSERT_EQ(groups.size(), 1u);
        const auto inFront = [&] {
            const ChromiumReport now = report();
            return now.focusedWindow() && now.focusedWindow()->id == groups[0].windowId;
        };
        for (int attempt = 0; attempt < 3 && close.isNull(); ++attempt) {
            session->run({{QStringLiteral("op"), QStringLiteral("focusWindow")},
                          {QStringLiteral("windowId"), groups[0].windowId}});
            ASSERT_TRUE(DesktopSession::waitUntil(inFront, generous)) << "the group's window stays behind";
            ASSERT_TRUE(driver.click(header, 3));
            if (!DesktopSession::waitUntil(findClose, 5))
                driver.press(test::WindowDriver::Key::Escape);
        }
        ASSERT_FALSE(close.isNull()) << "no \"Close group\" in the header's menu";
        ASSERT_TRUE(driver.click(close));
        ASSERT_TRUE(DesktopSession::waitUntil([&] { return report().groupsTitled(title).empty(); }, generous))
            << "the group stayed open";
    }

    // The helper's listing of Work's groups.
    static std::vector<TabGroupInfo> listTabGroups(bool deep) {
        auto client = HelperClient::connect(work, false);
        if (!client)
            return {};
        Request request(0, Request::Op::listTabGroups);
        request.profileDirectory = work;
        request.deep = deep;
        const std::optional<Response> answer = client->send(request, 30);
        return answer && answer->tabGroups ? *answer->tabGroups : std::vector<TabGroupInfo>{};
    }

    static std::unique_ptr<HelperClient> groupClient(const QString& title, bool ownWindow = false) {
        return HelperClient::connect(work, false, title, ownWindow);
    }

    static inline test::TabGroupSession* session = nullptr;
    test::WindowDriver driver;
};

TEST_F(TabGroupTests, OpenAndCollapsedGroupsAreListedByTheirNamesAndTheirHellosHearTheirWindow) {
    const qint64 window = openWindow(QStringLiteral("listing"));
    ASSERT_NE(window, 0);
    session->makeGroup(window, QStringLiteral("Research"));
    session->makeGroup(window, QStringLiteral("Recipes"), true);
    const ChromiumReport chromium = report();
    ASSERT_EQ(chromium.groupsTitled(QStringLiteral("Research")).size(), 1u)
        << chromium.describe().toStdString();
    ASSERT_EQ(chromium.groupsTitled(QStringLiteral("Recipes")).size(), 1u);
    ASSERT_TRUE(chromium.groupsTitled(QStringLiteral("Recipes"))[0].collapsed);

    auto research = groupClient(QStringLiteral("Research"));
    auto recipes = groupClient(QStringLiteral("Recipes"));
    auto nowhere = groupClient(QStringLiteral("Nowhere"));
    ASSERT_TRUE(research && recipes && nowhere);
    EXPECT_TRUE(research->hears(1)) << research->describe().toStdString();
    EXPECT_TRUE(recipes->hears(1)) << recipes->describe().toStdString();
    EXPECT_TRUE(nowhere->hears(0)) << nowhere->describe().toStdString();

    // Listed once the helper has seen them.
    const std::vector<TabGroupInfo> groups = listTabGroups(false);
    for (const QString& name : {QStringLiteral("Research"), QStringLiteral("Recipes")}) {
        const TabGroupInfo* group = listed(groups, name);
        ASSERT_TRUE(group) << name.toStdString() << " is missing; " << describe(groups).toStdString();
        EXPECT_TRUE(group->isOpen) << name.toStdString();
        // This Chromium keeps every group saved, also an open one.
        EXPECT_TRUE(group->isSaved) << name.toStdString();
        EXPECT_EQ(group->windowCount, 1) << name.toStdString();
    }
    // The open groups listed are Chromium's, by their titles (groups closed by other tests may be listed
    // too).
    QStringList listedOpen;
    for (const TabGroupInfo& group : groups)
        if (group.isOpen)
            listedOpen.append(group.name);
    QStringList chromiumOpen;
    for (const ChromiumReport::Group& group : chromium.groups)
        chromiumOpen.append(group.title);
    listedOpen.sort();
    chromiumOpen.sort();
    EXPECT_EQ(listedOpen, chromiumOpen) << describe(groups).toStdString();
}

TEST_F(TabGroupTests, AGroupClosedByItsMenuIsListedClosedAndSavedAndItsHelloHearsNoWindow) {
    const TabGroupSession::Group travel = makeGroupInNewWindow(QStringLiteral("Travel"));
    ASSERT_NE(travel.groupId, 0);
    auto client = groupClient(QStringLiteral("Travel"));
    ASSERT_TRUE(client);
    EXPECT_TRUE(client->hears(1)) << client->describe().toStdString();
    closeGroupByItsMenu(QStringLiteral("Travel"));
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(client->hears(0)) << client->describe().toStdString();

    const std::vector<TabGroupInfo> groups = listTabGroups(true);
    const TabGroupInfo* group = listed(groups, QStringLiteral("Travel"));
    ASSERT_TRUE(group) << describe(groups).toStdString();
    EXPECT_FALSE(group->isOpen);
    EXPECT_TRUE(group->isSaved);
    EXPECT_EQ(group->windowCount, 0);
    // Chromium's menus are closed again.
    bool menuShowing = false;
    for (const test::AccessibleElement& item : driver.findAll(
             driver.application(session->desktop().chromiumPid()), QStringLiteral("menu item"), QString()))
        menuShowing = menuShowing || item.hasState(QStringLiteral("showing"));
    EXPECT_FALSE(menuShowing);
}

TEST_F(TabGroupTests, ActivateBringsAnOpenGroupsWindowToTheFrontWithOneOfItsTabsActive) {
    makeGroupInNewWindow(QStringLiteral("Projects"));
    ASSERT_NE(openWindow(QStringLiteral("later")), 0);
    ASSERT_FALSE(groupInFront(QStringLiteral("Projects"))) << report().describe().toStdString();

    auto client = groupClient(QStringLiteral("Projects"));
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->hears(1)) << client->describe().toStdString();
    const std::optional<Response> answer = client->send(Request(0, Request::Op::activate), 30);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->action, Response::Action::raised);
    EXPECT_TRUE(DesktopSession::waitUntil([] { return groupInFront(QStringLiteral("Projects")); }, generous));
}

TEST_F(TabGroupTests, ActivateBringsACollapsedGroupsWindowToTheFrontWithOneOfItsTabsActive) {
    makeGroupInNewWindow(QStringLiteral("Reading"), true);
    ASSERT_NE(openWindow(QStringLiteral("later")), 0);

    auto client = groupClient(QStringLiteral("Reading"));
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->hears(1)) << client->describe().toStdString();
    const std::optional<Response> answer = client->send(Request(0, Request::Op::activate), 30);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->action, Response::Action::raised);
    EXPECT_TRUE(DesktopSession::waitUntil([] { return groupInFront(QStringLiteral("Reading")); }, generous));
}

TEST_F(TabGroupTests, ActivateReopensAClosedGroupWithItsTabs) {
    const TabGroupSession::Group made = makeGroupInNewWindow(QStringLiteral("Errands"));
    ASSERT_NE(made.groupId, 0);
    closeGroupByItsMenu(QStringLiteral("Errands"));
    if (HasFatalFailure())
        return;

    auto client = groupClient(QStringLiteral("Errands"), false);
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->hears(0)) << client->describe().toStdString();
    const std::optional<Response> answer = client->send(Request(0, Request::Op::activate), 30);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->action, Response::Action::openedGroup);
    ASSERT_TRUE(DesktopSession::waitUntil(
        [] { return report().groupsTitled(QStringLiteral("Errands")).size() == 1; }, generous))
        << "the group was not reopened";
    const ChromiumReport chromium = report();
    QStringList titles;
    for (const ChromiumReport::Tab& tab :
         chromium.tabsOf(chromium.groupsTitled(QStringLiteral("Errands"))[0].id))
        titles.append(tab.title);
    EXPECT_EQ(titles, made.tabTitles);
    EXPECT_TRUE(client->hears(1)) << client->describe().toStdString();
}

TEST_F(TabGroupTests, ActivateWithItsOwnWindowReopensAClosedGroupInAWindowOfItsOwn) {
    const TabGroupSession::Group made = makeGroupInNewWindow(QStringLiteral("Garden"));
    ASSERT_NE(made.groupId, 0);
    closeGroupByItsMenu(QStringLiteral("Garden"));
    if (HasFatalFailure())
        return;
    const QStringList before = report().tabTitles();

    auto client = groupClient(QStringLiteral("Garden"), true);
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->hears(0)) << client->describe().toStdString();
    const std::optional<Response> answer = client->send(Request(0, Request::Op::activate), 30);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->action, Response::Action::openedGroup);
    // Its window holds the group's tabs and nothing else; every other tab stays where it was.
    const auto aloneInItsWindow = [] {
        const ChromiumReport now = report();
        const auto groups = now.groupsTitled(QStringLiteral("Garden"));
        if (groups.size() != 1)
            return false;
        const ChromiumReport::Window* window = now.window(groups[0].windowId);
        return window && window->tabs.size() == now.tabsOf(groups[0].id).size();
    };
    EXPECT_TRUE(DesktopSession::waitUntil(aloneInItsWindow, generous)) << "not in a window of its own";
    QStringList after = report().tabTitles();
    for (const QString& title : made.tabTitles)
        after.removeOne(title);
    after.sort();
    QStringList expected = before;
    expected.sort();
    EXPECT_EQ(after, expected);
}

TEST_F(TabGroupTests, CloseWindowsClosesTheGroupsTabsAndLeavesEveryOtherTabAndWindow) {
    const TabGroupSession::Group made = makeGroupInNewWindow(QStringLiteral("Archive"));
    ASSERT_NE(made.groupId, 0);
    ASSERT_NE(openWindow(QStringLiteral("beside")), 0);
    const ChromiumReport before = report();
    auto client = groupClient(QStringLiteral("Archive"));
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->hears(1)) << client->describe().toStdString();

    const std::optional<Response> answer = client->send(Request(0, Request::Op::closeWindows), 30);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->closed, 1);
    EXPECT_EQ(answer->remaining, 0);
    EXPECT_EQ(answer->blocked, false);
    EXPECT_TRUE(DesktopSession::waitUntil(
        [] { return report().groupsTitled(QStringLiteral("Archive")).empty(); }, generous))
        << "the group is still open";
    const ChromiumReport after = report();
    QStringList expected = before.tabTitles();
    for (const QString& title : made.tabTitles)
        expected.removeOne(title);
    EXPECT_EQ(after.tabTitles(), expected);
    EXPECT_EQ(after.windows.size(), before.windows.size());
    EXPECT_TRUE(client->hears(0)) << client->describe().toStdString();
}

TEST_F(TabGroupTests, AGroupsProxyAppOpensItsLinksInTheGroupsWindowAndClosesTheGroupOnQuit) {
    const TabGroupSession::Group made = makeGroupInNewWindow(QStringLiteral("Studio"));
    ASSERT_NE(made.groupId, 0);
    ASSERT_NE(openWindow(QStringLiteral("beside")), 0);
    QString appPath;
    try {
        appPath = test::buildProxyApp(QDir::homePath() + QStringLiteral("/Applications"),
                                      QStringLiteral("Studio"), QStringLiteral("app.corvane.e2e0studio"),
                                      work, true, QStringLiteral("Studio"));
    } catch (const host::Error& error) {
        FAIL() << error.description().toStdString();
    }
    // Started once the helper has seen the group, as a user would start it.
    auto watcher = groupClient(QStringLiteral("Studio"));
    ASSERT_TRUE(watcher);
    ASSERT_TRUE(watcher->hears(1)) << watcher->describe().toStdString();
    const QString log = QDir::homePath() + QStringLiteral("/studio.log");
    test::LauncherProcess launcher(appPath, log);
    QProcessEnvironment environment = session->desktop().programEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    ASSERT_TRUE(launcher.start(environment));
    // Started, the proxy app brings its group forward and stays while the group is open.
    EXPECT_TRUE(DesktopSession::waitUntil([] { return groupInFront(QStringLiteral("Studio")); }, generous))
        << "the group did not come to the front";
    EXPECT_FALSE(launcher.waitForEnd(3)) << launcher.log().toStdString();

    const QString marker = QStringLiteral("studio-link");
    const test::ToolRun open =
        test::runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR "/open"),
                           {QStringLiteral("-a"), appPath, session->extension().pageURL(marker)}, log);
    ASSERT_EQ(open.status, 0);
    const auto windowOf = [](const QString& title) -> qint64 {
        for (const ChromiumReport::Window& window : report().windows)
            for (const ChromiumReport::Tab& tab : window.tabs)
                if (tab.title == title)
                    return window.id;
        return 0;
    };
    ASSERT_TRUE(DesktopSession::waitUntil([&] { return windowOf(marker) != 0; }, generous))
        << "the link did not open in Work";
    EXPECT_EQ(windowOf(marker), made.windowId) << "the link opened outside the group's window";

    const ChromiumReport before = report();
    launcher.terminate();
    ASSERT_TRUE(launcher.waitForEnd(generous)) << "the launcher still runs";
    EXPECT_TRUE(launcher.endedNormally());
    EXPECT_TRUE(DesktopSession::waitUntil(
        [] { return report().groupsTitled(QStringLiteral("Studio")).empty(); }, generous))
        << "quitting left the group open; the launcher's log:\n"
        << launcher.log().toStdString();
    QStringList expected = before.tabTitles();
    for (const QString& title : made.tabTitles)
        expected.removeOne(title);
    EXPECT_EQ(report().tabTitles(), expected);
}

// A menu entry of the editor's "Tab Group to Open" for a group.
QString entryFor(const QString& name, bool open) {
    return name + (open ? QStringLiteral("  —  open now") : QStringLiteral("  —  closed"));
}

TEST_F(TabGroupTests, TheCreatorAppsEditorOffersTheProfilesOpenGroupsAndFindsItsClosedOnes) {
    ASSERT_NE(makeGroupInNewWindow(QStringLiteral("Atelier")).groupId, 0);
    ASSERT_NE(makeGroupInNewWindow(QStringLiteral("Harbor")).groupId, 0);
    closeGroupByItsMenu(QStringLiteral("Harbor"));
    if (HasFatalFailure())
        return;

    // Installing the creator app puts its own copy of the helper in place and ends any other that runs,
    // asking first and forcing it 0.4 s later: the session's helper is ended here, so that how it ends is
    // judged in full.
    session->helper().stop();
    // The built creator app, installed as a user installs it, on the session's display and accessibility bus.
    const QString log = QDir::homePath() + QStringLiteral("/creator.log");
    const test::ToolRun install =
        test::runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR "/corvane-dev-install"),
                           {QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app")}, log);
    ASSERT_EQ(install.status, 0) << install.output.toStdString();
    QProcessEnvironment environment = session->desktop().programEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    environment.insert(QStringLiteral("HOME"), QDir::homePath());
    QProcess creator;
    creator.setProcessEnvironment(environment);
    creator.setProcessChannelMode(QProcess::MergedChannels);
    creator.setStandardOutputFile(log, QIODevice::Append);
    creator.start(QDir::homePath() + QStringLiteral("/Applications/Corvane.app/Contents/MacOS/Corvane"), {});
    ASSERT_TRUE(creator.waitForStarted(10000));
    const auto ended = qScopeGuard([&] {
        if (HasFailure())
            ADD_FAILURE() << "the creator app's log:\n" << test::readText(log).toStdString();
        ::kill(pid_t(creator.processId()), SIGTERM);
        EXPECT_TRUE(creator.waitForFinished(10000)) << "the creator app did not end when asked";
        EXPECT_EQ(test::uncleanEnd(creator), QString());
    });
    const test::AccessibleElement app = driver.application(pid_t(creator.processId()), 30);
    ASSERT_FALSE(app.isNull()) << "the creator app did not join the accessibility bus";
    const auto tree = [&] { return app.dump(16).toStdString(); };
    const auto showing = [&](const QString& role, const QString& name, double seconds) {
        test::AccessibleElement found;
        DesktopSession::waitUntil(
            [&] {
                for (const test::AccessibleElement& element : driver.findAll(app, role, name))
                    if (element.hasState(QStringLiteral("showing")))
                        found = element;
                return !found.isNull();
            },
            seconds);
        return found;
    };

    // A new draft starts on the first profile, Work; its menu of groups offers Work's open groups.
    const test::AccessibleElement newApp =
        showing(QStringLiteral("push button"), QStringLiteral("New Proxy App"), 60);
    ASSERT_FALSE(newApp.isNull()) << tree();
    ASSERT_TRUE(driver.click(newApp));
    const auto offered = [&](const QString& entry) {
        return DesktopSession::waitUntil(
            [&] { return !driver.findAll(app, QStringLiteral("list item"), entry).empty(); }, generous);
    };
    EXPECT_TRUE(offered(entryFor(QStringLiteral("Atelier"), true))) << tree();

    // Looking for closed groups adds the one closed by its menu.
    test::AccessibleElement scan;
    ASSERT_TRUE(DesktopSession::waitUntil(
        [&] {
            for (const test::AccessibleElement& button :
                 driver.findAll(app, QStringLiteral("push button"), {}))
                if (button.description().startsWith(
                        QStringLiteral("Look for this profile's closed tab groups")) &&
                    button.hasState(QStringLiteral("showing")))
                    scan = button;
            return !scan.isNull();
        },
        generous))
        << tree();
    ASSERT_TRUE(driver.click(scan));
    EXPECT_TRUE(offered(entryFor(QStringLiteral("Harbor"), false))) << tree();
    EXPECT_TRUE(offered(entryFor(QStringLiteral("Atelier"), true))) << tree();
}

} // namespace
