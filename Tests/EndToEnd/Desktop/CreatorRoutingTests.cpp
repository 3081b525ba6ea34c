// Routing set up entirely in the creator app's window on a real desktop, driven as a user would: a rule made
// in the editor sheet, tried in the tester, then a link opened by the desktop's own opener that the helper
// sends to Chromium and that the Recent Links page lists; and the System page making Corvane the default
// browser. Controls are found through the accessibility bus, chosen with the real pointer and typed into with
// real key strokes. Screenshots of each page land in the test artifacts.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Linux/X11/X11Display.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/DesktopSession.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"
#include "Support/InstalledCreatorTest.h"
#include "Support/OutsidePrograms.h"
#include "Support/WindowDriver.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

const QString testedLink = QStringLiteral("https://example.com/x");
// Chromium as its desktop entry names it.
const QString chromiumName = QStringLiteral("Chromium Web Browser");

struct SessionRun {
    bool finished = false;
    int status = -1;
    QString output;
};

class CreatorRoutingTest : public test::InstalledCreatorTest {
protected:
    void SetUp() override { installCreator(QStringLiteral("creator-routing")); }

    // The session's environment as a desktop without a named desktop environment gives its programs.
    static QProcessEnvironment sessionEnvironment() {
        QProcessEnvironment environment = session->programEnvironment();
        environment.insert(QStringLiteral("HOME"), QDir::homePath());
        for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                                 "GNOME_DESKTOP_SESSION_ID", "WAYLAND_DISPLAY", "BROWSER"})
            environment.remove(QString::fromLatin1(name));
        return environment;
    }

    // Runs a desktop program in the session to its end; its output goes to the log (a program it leaves
    // behind cannot hold the test up), the run's own output is read back from a file of its own.
    SessionRun runInSession(const QString& program, const QStringList& arguments) {
        if (const QString missing = test::missingProgram(program); !missing.isEmpty()) {
            ADD_FAILURE() << missing.toStdString();
            return {};
        }
        const QString output = QDir::homePath() + QStringLiteral("/session-run.out");
        QFile::remove(output);
        QProcess process;
        process.setProcessEnvironment(sessionEnvironment());
        process.setStandardOutputFile(output);
        process.setStandardErrorFile(logFile, QIODevice::Append);
        process.start(program, arguments);
        SessionRun run;
        run.finished = process.waitForFinished(30000);
        if (!run.finished) {
            process.kill();
            process.waitForFinished();
        } else {
            run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        }
        run.output = test::readText(output).trimmed();
        return run;
    }

    // The installed creator app, on the session's display and buses, on the accessibility bus from its start;
    // its window once its sidebar shows.
    test::AccessibleElement startCreator() {
        if (!launchCreator(sessionEnvironment()))
            return {};
        app = driver->application(pid_t(creator.processId()), 30);
        if (app.isNull())
            return {};
        const test::AccessibleElement frame = driver->find(app, QStringLiteral("frame"), QString(), 15);
        if (frame.isNull())
            return {};
        // The models' start-up has run once the sidebar lists the pages.
        if (driver->find(frame, QStringLiteral("list item"), QStringLiteral("Rules"), 15).isNull())
            return {};
        return frame;
    }

    // Chooses a page in the sidebar, as a click on its row does.
    bool openPage(const test::AccessibleElement& frame, const QString& row, const QString& title) {
        const test::AccessibleElement item = driver->find(frame, QStringLiteral("list item"), row);
        if (item.isNull() || !driver->click(item))
            return false;
        return test::WindowDriver::waitUntil([&] { return item.hasState(QStringLiteral("selected")); }, 5) &&
               !driver->find(frame, QStringLiteral("label"), title, 5).isNull();
    }

    // The main window's title names its page before the app ("Rules — Corvane"); its sheets have their own.
    static bool isMainWindowTitle(const QString& title) {
        return title == QStringLiteral("Corvane") || title.endsWith(QStringLiteral(" — Corvane"));
    }

    // Brings the creator app's window to the front, as a click on its title bar would.
    bool raiseCreator() {
        for (const host::X11ClientWindow& client : test::DesktopSession::windowsOnScreen())
            if (client.pid == qint32(creator.processId()) && isMainWindowTitle(client.title))
                return driver->bringToFront(client.id);
        return false;
    }

    // Turns the mouse wheel over the window's page until `element` shows whole inside the window, as a user
    // scrolls down to a control.
    bool scrollIntoView(const test::AccessibleElement& frame, const test::AccessibleElement& element) {
        const QRect window = frame.screenExtents();
        const QPoint page(window.center().x() + window.width() / 4, window.center().y());
        for (int turn = 0; turn < 30; ++turn) {
            const QRect place = element.screenExtents();
            if (place.isEmpty())
                return false;
            if (window.contains(place))
                return true;
            driver->clickAt(page, place.top() < window.top() ? 4 : 5);
        }
        return false;
    }

    // Chooses the first entry of the menu that `button` popped up, with the arrow and return keys.
    bool chooseFirstMenuEntry(const test::AccessibleElement& button) {
        // The button stays down while its menu shows, and the menu has the keyboard.
        if (!test::WindowDriver::waitUntil([&] { return button.hasState(QStringLiteral("pressed")); }, 5))
            return false;
        return driver->press(test::WindowDriver::Key::Down) &&
               driver->press(test::WindowDriver::Key::Return) &&
               test::WindowDriver::waitUntil([&] { return !button.hasState(QStringLiteral("pressed")); }, 5);
    }

    // The titles of Chromium's windows on the display.
    static QStringList chromiumTitles() {
        QStringList titles;
        for (const host::X11ClientWindow& client : test::DesktopSession::windowsOnScreen())
            if (client.title.endsWith(QStringLiteral("Chromium")))
                titles.append(client.title);
        return titles;
    }

    // The first element below `root` whose text holds `part`, waiting up to `seconds`.
    test::AccessibleElement findText(const test::AccessibleElement& root, const QString& role,
                                     const QString& part, double seconds) {
        test::AccessibleElement found;
        test::WindowDriver::waitUntil(
            [&] {
                for (const test::AccessibleElement& element : driver->findAll(root, role, QString()))
                    if (element.text().contains(part) || element.name().contains(part)) {
                        found = element;
                        return true;
                    }
                return false;
            },
            seconds);
        return found;
    }

    // The elements with `role` right of the form label `label`, on its line, as a reader of the form pairs
    // them; waiting up to `seconds` for the label.
    std::vector<test::AccessibleElement> besideLabel(const test::AccessibleElement& root,
                                                     const QString& label, const QString& role,
                                                     double seconds = 5) {
        const QRect title = driver->find(root, QStringLiteral("label"), label, seconds).screenExtents();
        std::vector<test::AccessibleElement> found;
        if (title.isEmpty())
            return found;
        for (const test::AccessibleElement& element : driver->findAll(root, role, QString())) {
            const QRect place = element.screenExtents();
            if (!place.isEmpty() && place.left() >= title.right() && place.top() <= title.center().y() &&
                place.bottom() >= title.center().y() && element.hasState(QStringLiteral("showing")))
                found.push_back(element);
        }
        return found;
    }

    // Whether the text right of the form label `label` reads `text` within `seconds`.
    bool readsBeside(const test::AccessibleElement& root, const QString& label, const QString& text,
                     double seconds) {
        return test::WindowDriver::waitUntil(
            [&] {
                for (const test::AccessibleElement& element : besideLabel(root, label, QString(), 0))
                    if (element.role() != QStringLiteral("filler") && element.text() == text)
                        return true;
                return false;
            },
            seconds);
    }

    std::string tree(const test::AccessibleElement& root) const { return root.dump(40).toStdString(); }

    test::AccessibleElement app;
};

TEST_F(CreatorRoutingTest, ARuleMadeInTheWindowSendsADesktopLinkToChromium) {
    // Chromium runs first, as a user's browser would: the link then reaches the running browser.
    // Its pages are watched through its windows' titles, not its accessibility tree: reading that afresh
    // while it sends its stream of events would tie this process's accessibility connection up.
    ASSERT_TRUE(session->openWindow(QStringLiteral("Work")));
    ASSERT_TRUE(test::WindowDriver::waitUntil([] { return !chromiumTitles().isEmpty(); }, 60))
        << "Chromium showed no window";

    const test::AccessibleElement frame = startCreator();
    ASSERT_FALSE(frame.isNull()) << tree(app);
    ASSERT_TRUE(raiseCreator());
    ASSERT_TRUE(openPage(frame, QStringLiteral("Rules"), QStringLiteral("Link Rules"))) << tree(frame);

    // A new rule opens in the editor sheet.
    ASSERT_TRUE(driver->click(driver->find(frame, QStringLiteral("push button"), QStringLiteral("Add Rule"))))
        << tree(frame);
    const test::AccessibleElement sheet =
        driver->find(app, QStringLiteral("dialog"), QStringLiteral("Edit Rule"), 10);
    ASSERT_FALSE(sheet.isNull()) << tree(app);
    const QString newRow = QStringLiteral("New Rule, No conditions");
    EXPECT_FALSE(driver->find(frame, QStringLiteral("list item"), newRow).isNull()) << tree(frame);

    const test::AccessibleElement name = driver->find(sheet, QStringLiteral("text"), QStringLiteral("Name"));
    ASSERT_TRUE(driver->click(name)) << tree(sheet);
    ASSERT_TRUE(test::WindowDriver::waitUntil([&] { return name.hasState(QStringLiteral("focused")); }, 5));
    ASSERT_TRUE(driver->pressWithControl('a'));
    ASSERT_TRUE(driver->typeText(QStringLiteral("Example")));

    // The target: Chromium, the first entry of the "Open Links in" button's menu (a menu that pops up is no
    // child of the program on the accessibility bus, so it is chosen from the keyboard, as a reader's user
    // would).
    const auto targets = besideLabel(sheet, QStringLiteral("Open Links in"), QStringLiteral("push button"));
    ASSERT_EQ(targets.size(), 1u) << tree(sheet);
    const test::AccessibleElement target = targets.front();
    ASSERT_TRUE(driver->click(target)) << tree(sheet);
    ASSERT_TRUE(chooseFirstMenuEntry(target)) << target.states().join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(test::WindowDriver::waitUntil([&] { return target.name() == chromiumName; }, 5))
        << tree(sheet);

    // Conditions: the addresses "example.com".
    const test::AccessibleElement addCondition =
        driver->find(sheet, QStringLiteral("push button"), QStringLiteral("Add Condition"));
    ASSERT_TRUE(driver->click(addCondition)) << tree(sheet);
    ASSERT_TRUE(chooseFirstMenuEntry(addCondition)); // "Addresses"
    EXPECT_FALSE(driver->find(sheet, QStringLiteral("label"), QStringLiteral("Addresses"), 5).isNull())
        << tree(sheet);
    ASSERT_TRUE(
        driver->click(driver->find(sheet, QStringLiteral("push button"), QStringLiteral("Add Address"), 5)))
        << tree(sheet);
    // The new row takes the keyboard; its field is drawn inside the list's row, which is what the bus shows.
    ASSERT_FALSE(driver->find(sheet, QStringLiteral("list item"), QStringLiteral("Address"), 5).isNull())
        << tree(sheet);
    ASSERT_TRUE(driver->typeText(QStringLiteral("example.com")));
    EXPECT_FALSE(driver->find(sheet, QStringLiteral("label"), QStringLiteral("1 address"), 5).isNull())
        << tree(sheet);
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorRouting-RuleEditor")).isEmpty());

    ASSERT_TRUE(driver->click(driver->find(sheet, QStringLiteral("push button"), QStringLiteral("Done"))));
    EXPECT_TRUE(test::WindowDriver::waitUntil([&] { return !sheet.hasState(QStringLiteral("showing")); }, 5))
        << tree(app);

    // The rule's row now names it and sums its conditions up.
    EXPECT_FALSE(
        driver->find(frame, QStringLiteral("list item"), QStringLiteral("Example, 1 address"), 10).isNull())
        << tree(frame);
    EXPECT_TRUE(driver->findAll(frame, QStringLiteral("list item"), newRow).empty()) << tree(frame);

    // The tester says where the link would go.
    // Closing the sheet hands the focus to whichever window the window manager picks.
    ASSERT_TRUE(raiseCreator());
    const test::AccessibleElement link = driver->find(frame, QStringLiteral("text"), QStringLiteral("Link"));
    ASSERT_TRUE(scrollIntoView(frame, link)) << tree(frame);
    ASSERT_TRUE(driver->click(link)) << tree(frame);
    ASSERT_TRUE(test::WindowDriver::waitUntil([&] { return link.hasState(QStringLiteral("focused")); }, 5));
    ASSERT_TRUE(driver->typeText(testedLink));
    EXPECT_TRUE(readsBeside(frame, QStringLiteral("Matches"), QStringLiteral("Example"), 10)) << tree(frame);
    EXPECT_TRUE(readsBeside(frame, QStringLiteral("Would open in"), chromiumName, 5)) << tree(frame);
    scrollIntoView(frame, driver->find(frame, QStringLiteral("label"), QStringLiteral("Would open in")));
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorRouting-RulesView")).isEmpty());

    // The desktop's opener hands the link to the helper, which sends it to Chromium.
    const SessionRun open = runInSession(QStringLiteral("xdg-open"), {testedLink});
    ASSERT_TRUE(open.finished) << "xdg-open did not return";
    EXPECT_EQ(open.status, 0);
    // Its tab shows the page's title: the address while it loads or when it cannot be reached, else the
    // page's own.
    EXPECT_TRUE(test::WindowDriver::waitUntil(
        [] {
            const QString titles = chromiumTitles().join(QLatin1Char('\n'));
            return titles.contains(QStringLiteral("example.com")) ||
                   titles.contains(QStringLiteral("Example Domain"));
        },
        30))
        << "the link never reached Chromium: " << chromiumTitles().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorRouting-Chromium")).isEmpty());

    // The Recent Links page lists it, opened in Chromium by the rule.
    ASSERT_TRUE(raiseCreator());
    ASSERT_TRUE(openPage(frame, QStringLiteral("Recent Links"), QStringLiteral("Recent Links")))
        << tree(frame);
    const test::AccessibleElement linkCell =
        driver->find(frame, QStringLiteral("table cell"), QStringLiteral("example.com/x"), 20);
    ASSERT_FALSE(linkCell.isNull()) << tree(frame);
    const auto sameRow = [&](const QString& name) {
        const int row = linkCell.screenExtents().center().y();
        for (const test::AccessibleElement& cell : driver->findAll(frame, QStringLiteral("table cell"), name))
            if (cell.screenExtents().center().y() == row)
                return true;
        return false;
    };
    EXPECT_TRUE(sameRow(chromiumName)) << tree(frame);
    EXPECT_TRUE(sameRow(QStringLiteral("Example"))) << tree(frame);
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorRouting-RecentLinksView")).isEmpty());
}

TEST_F(CreatorRoutingTest, TheSystemPageMakesCorvaneTheDefaultBrowser) {
    // Another browser has the links to begin with.
    const SessionRun giveAway = runInSession(
        QStringLiteral("xdg-settings"),
        {QStringLiteral("set"), QStringLiteral("default-web-browser"), QStringLiteral("chromium.desktop")});
    ASSERT_EQ(giveAway.status, 0) << giveAway.output.toStdString();

    const test::AccessibleElement frame = startCreator();
    ASSERT_FALSE(frame.isNull()) << tree(app);
    ASSERT_TRUE(openPage(frame, QStringLiteral("System"), QStringLiteral("Corvane handles web links")))
        << tree(frame);
    EXPECT_FALSE(
        findText(frame, QStringLiteral("label"), QStringLiteral("Your rules aren't running."), 10).isNull())
        << tree(frame);
    const test::AccessibleElement makeDefault =
        driver->find(frame, QStringLiteral("push button"), QStringLiteral("Make Corvane the Default…"));
    ASSERT_FALSE(makeDefault.isNull()) << tree(frame);
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorRouting-SystemView-before")).isEmpty());

    ASSERT_TRUE(driver->click(makeDefault));
    EXPECT_FALSE(driver
                     ->find(frame, QStringLiteral("label"),
                            QStringLiteral("Links from other apps come here first, then follow your rules."),
                            10)
                     .isNull())
        << tree(frame);
    EXPECT_FALSE(
        driver->find(frame, QStringLiteral("label"), QStringLiteral("Corvane now handles web links."), 5)
            .isNull())
        << tree(frame);
    EXPECT_TRUE(
        test::WindowDriver::waitUntil([&] { return !makeDefault.hasState(QStringLiteral("showing")); }, 5));
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorRouting-SystemView")).isEmpty());

    // The desktop itself now names the helper.
    const SessionRun now = runInSession(QStringLiteral("xdg-settings"),
                                        {QStringLiteral("get"), QStringLiteral("default-web-browser")});
    EXPECT_EQ(now.output, QStringLiteral("app.corvane.helper.desktop"));
}

} // namespace
