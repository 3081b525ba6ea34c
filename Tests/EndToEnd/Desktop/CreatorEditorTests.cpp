// The proxy-app editor of the creator app on a real desktop, driven as a user would: controls found through
// the accessibility bus, chosen with the real pointer, text typed with real key strokes. A proxy app made
// there lands in a folder, the registry and the desktop's application menu, and starts Chromium in its
// profile. Screenshots of the editor, the symbol picker and the import sheet land in the test artifacts.
#include "CorvaneCore/ProxyApps/Registry.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/DesktopSession.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"
#include "Support/InstalledCreatorTest.h"
#include "Support/WindowDriver.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

// A loaded machine builds, starts Chromium and repaints slowly; these bound waits, they do not pace them.
constexpr double quickly = 10;
constexpr double slowly = 60;

QString applicationsFolder() {
    return QDir::homePath() + QStringLiteral("/Applications");
}

QString menuFolder() {
    return QDir::homePath() + QStringLiteral("/.local/share/applications");
}

// The entries of the desktop's application menu that stand for a proxy app called `name` or for its bundle.
std::vector<host::DesktopEntry> menuEntriesFor(const QStringList& names) {
    std::vector<host::DesktopEntry> found;
    QDirIterator files(menuFolder(), {QStringLiteral("*.desktop")}, QDir::Files);
    while (files.hasNext()) {
        const QString path = files.next();
        QString id = QFileInfo(path).fileName();
        id.chop(int(strlen(".desktop")));
        const auto entry = host::readDesktopEntry(path, id);
        if (!entry)
            continue;
        for (const QString& name : names)
            if (entry->name == name || entry->exec.contains(name + QStringLiteral(".app")) ||
                entry->bundlePath.contains(name + QStringLiteral(".app"))) {
                found.push_back(*entry);
                break;
            }
    }
    return found;
}

std::optional<RegisteredApp> registered(const QString& name) {
    for (const RegisteredApp& app : Registry::load().apps)
        if (app.name == name)
            return app;
    return std::nullopt;
}

class CreatorEditorTest : public test::InstalledCreatorTest {
protected:
    void SetUp() override { installCreator(QStringLiteral("creator-editor")); }

    void TearDown() override {
        if (const QString ended = end(proxyApp); !ended.isEmpty())
            ADD_FAILURE() << "the proxy app's launcher " << ended.toStdString();
        InstalledCreatorTest::TearDown();
    }

    QProcessEnvironment sessionEnvironment() const {
        QProcessEnvironment environment = session->programEnvironment();
        environment.insert(QStringLiteral("HOME"), QDir::homePath());
        return environment;
    }

    // The installed creator app on the session's display and buses, on the accessibility bus from its start;
    // its window once its models have started.
    void startCreator() {
        ASSERT_TRUE(launchCreator(sessionEnvironment()));
        app = driver->application(pid_t(creator.processId()), 30);
        ASSERT_FALSE(app.isNull()) << "the creator app did not join the accessibility bus";
        window = driver->find(app, QStringLiteral("frame"), QString(), slowly);
        ASSERT_FALSE(window.isNull()) << app.dump().toStdString();
        ASSERT_FALSE(showing(window, QStringLiteral("list item"), QStringLiteral("Rules"), slowly).isNull())
            << window.dump(14).toStdString();
    }

    // The first element below `root` with that role and name that is on the screen, waiting up to `seconds`.
    test::AccessibleElement showing(const test::AccessibleElement& root, const QString& role,
                                    const QString& name, double seconds = quickly) const {
        test::AccessibleElement found;
        test::WindowDriver::waitUntil(
            [&] {
                for (const test::AccessibleElement& element : driver->findAll(root, role, name))
                    if (element.hasState(QStringLiteral("showing")) && !element.screenExtents().isEmpty()) {
                        found = element;
                        return true;
                    }
                return false;
            },
            seconds);
        return found;
    }

    // Clicks the showing element with that role and name below the app; false when none showed in time.
    bool clickOn(const QString& role, const QString& name, double seconds = quickly) {
        const test::AccessibleElement element = showing(app, role, name, seconds);
        return !element.isNull() && driver->click(element);
    }

    // Clicks a control of the editor's form, scrolled into the window first.
    bool clickInForm(const QString& role, const QString& name) {
        const test::AccessibleElement element = showing(window, role, name);
        return !element.isNull() && scrollIntoView(element) && driver->click(element);
    }

    // Scrolls the editor's form with the wheel over its scroll bar (a wheel over a menu would change its
    // choice) until the element lies inside the window, clear of the toolbar and the status row.
    bool scrollIntoView(const test::AccessibleElement& element) {
        for (int attempt = 0; attempt < 40; ++attempt) {
            const QRect inside = window.screenExtents().adjusted(0, 60, 0, -50);
            const QRect place = element.screenExtents();
            if (place.isEmpty())
                return false;
            if (place.top() >= inside.top() && place.bottom() <= inside.bottom())
                return true;
            test::AccessibleElement bar;
            for (const test::AccessibleElement& candidate :
                 driver->findAll(window, QStringLiteral("scroll bar"), {}))
                if (candidate.hasState(QStringLiteral("showing")) && candidate.screenExtents().height() > 100)
                    bar = candidate;
            if (bar.isNull())
                return false;
            driver->scrollAt(bar.screenExtents().center(), place.top() > inside.top() ? 2 : -2);
            test::WindowDriver::waitUntil([&] { return element.screenExtents() != place; }, 2);
        }
        return false;
    }

    std::string tree() const { return app.dump(16).toStdString(); }

    // Focuses the field with a click and replaces its text with typed keys.
    void typeInto(const test::AccessibleElement& field, const QString& text) {
        ASSERT_FALSE(field.isNull()) << tree();
        ASSERT_TRUE(driver->click(field));
        ASSERT_TRUE(
            test::WindowDriver::waitUntil([&] { return field.hasState(QStringLiteral("focused")); }, quickly))
            << tree();
        ASSERT_TRUE(driver->pressWithControl('a'));
        ASSERT_TRUE(driver->typeText(text));
        ASSERT_TRUE(test::WindowDriver::waitUntil([&] { return field.text() == text; }, quickly))
            << "field reads \"" << field.text().toStdString() << "\"\n"
            << tree();
    }

    // The editor's profile menu (on this desktop a menu is named by its choice).
    test::AccessibleElement profileMenu() const {
        for (const test::AccessibleElement& menu : driver->findAll(window, QStringLiteral("combo box"), {}))
            if (!driver->findAll(menu, QStringLiteral("list item"), QStringLiteral("Home  —  Home"))
                     .empty() &&
                menu.hasState(QStringLiteral("showing")))
                return menu;
        return {};
    }

    // Opens the profile menu with a click and clicks the profile's entry.
    void chooseProfile(const QString& profile) {
        const QString title = profile + QStringLiteral("  —  ") + profile;
        const test::AccessibleElement menu = profileMenu();
        ASSERT_FALSE(menu.isNull()) << tree();
        ASSERT_TRUE(driver->click(menu));
        const test::AccessibleElement entry = showing(menu, QStringLiteral("list item"), title);
        ASSERT_FALSE(entry.isNull()) << tree();
        ASSERT_TRUE(driver->click(entry));
        ASSERT_TRUE(test::WindowDriver::waitUntil([&] { return profileMenu().name() == title; }, quickly))
            << "the profile menu shows \"" << profileMenu().name().toStdString() << "\"\n"
            << tree();
    }

    // Chooses an entry of the per-app menu behind the editor's "More" button.
    void chooseFromAppMenu(const QString& title) {
        ASSERT_TRUE(clickOn({}, QStringLiteral("More actions for this app"))) << tree();
        ASSERT_TRUE(clickOn(QStringLiteral("menu item"), title)) << tree();
    }

    // The destination panel answered as a user would: the folder typed into its field, then Return.
    void chooseFolderInPanel(const QString& folder) {
        const test::AccessibleElement panel =
            showing(app, QStringLiteral("dialog"), QStringLiteral("Where should the apps be saved?"), slowly);
        ASSERT_FALSE(panel.isNull()) << tree();
        test::AccessibleElement field;
        ASSERT_TRUE(test::WindowDriver::waitUntil(
            [&] {
                for (const test::AccessibleElement& text : driver->findAll(panel, QStringLiteral("text"), {}))
                    if (text.hasState(QStringLiteral("editable")) &&
                        text.hasState(QStringLiteral("showing")) && text.hasState(QStringLiteral("focused")))
                        field = text;
                return !field.isNull();
            },
            quickly))
            << panel.dump(16).toStdString();
        ASSERT_TRUE(driver->pressWithControl('a'));
        ASSERT_TRUE(driver->typeText(folder));
        ASSERT_TRUE(test::WindowDriver::waitUntil([&] { return field.text() == folder; }, quickly))
            << "the panel's field reads \"" << field.text().toStdString() << "\"";
        EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorEditor-destination-panel")).isEmpty());
        // A completion list open under the field takes the first Return.
        ASSERT_TRUE(test::WindowDriver::waitUntil(
            [&] {
                if (!panel.hasState(QStringLiteral("showing")))
                    return true;
                driver->press(test::WindowDriver::Key::Return);
                return test::WindowDriver::waitUntil(
                    [&] { return !panel.hasState(QStringLiteral("showing")); }, 2);
            },
            quickly))
            << panel.dump(16).toStdString();
    }

    // Starts the proxy app as the desktop's application menu does: the command of its desktop entry.
    void startFromMenu(const host::DesktopEntry& entry) {
        const std::vector<QStringList> commands = host::desktopEntryCommands(entry, {});
        ASSERT_EQ(commands.size(), 1u) << entry.exec.toStdString();
        proxyApp.setProcessEnvironment(sessionEnvironment());
        proxyApp.setProcessChannelMode(QProcess::MergedChannels);
        proxyApp.setStandardOutputFile(logFile, QIODevice::Append);
        proxyApp.start(commands[0].first(), commands[0].mid(1));
        ASSERT_TRUE(proxyApp.waitForStarted(10000));
    }

    // Chromium's windows of the profile on the screen, read from the X server: windows of a Chromium whose
    // main process was started for the profile. Not through the accessibility bus: a browser busy starting
    // answers it slowly, and its pages are far too many to walk.
    static std::vector<host::X11ClientWindow> chromiumWindowsOf(const QString& profile) {
        std::vector<host::X11ClientWindow> found;
        for (const host::X11ClientWindow& window : test::DesktopSession::windowsOnScreen())
            if (window.pid > 0 && test::contents(QStringLiteral("/proc/%1/cmdline").arg(window.pid))
                                      .contains("--profile-directory=" + profile.toUtf8()))
                found.push_back(window);
        return found;
    }

    QProcess proxyApp;
    test::AccessibleElement app;
    test::AccessibleElement window;
};

// An app the former scripts built, found at the start, is offered for import in a sheet over the window.
TEST_F(CreatorEditorTest, AScriptBuiltAppIsOfferedForImportAtTheStart) {
    const QString planted = applicationsFolder() + QStringLiteral("/Chrome - Home.app");
    ASSERT_TRUE(test::writeScriptBundle(
        planted,
        QVariantMap{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("cx.qemt.tavrimo.home")},
                    {QStringLiteral("CFBundleName"), QStringLiteral("Chrome - Home")},
                    {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")},
                    {QStringLiteral("CFBundlePackageType"), QStringLiteral("APPL")}},
        QStringLiteral("#!/bin/sh\nexit 0\n")));
    ASSERT_NO_FATAL_FAILURE(startCreator());

    const test::AccessibleElement sheet =
        showing(app, {}, QStringLiteral("Import apps from the old scripts"), slowly);
    ASSERT_FALSE(sheet.isNull()) << tree();
    // The app is listed with its tick box, the profile guessed from its name.
    EXPECT_FALSE(showing(app, QStringLiteral("check box"), QStringLiteral("Chrome - Home")).isNull())
        << tree();
    const test::AccessibleElement import =
        showing(app, QStringLiteral("push button"), QStringLiteral("Import"));
    ASSERT_FALSE(import.isNull()) << tree();
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorEditor-import-sheet")).isEmpty());

    ASSERT_TRUE(clickOn(QStringLiteral("push button"), QStringLiteral("Not Now"))) << tree();
    EXPECT_TRUE(
        test::WindowDriver::waitUntil([&] { return !import.hasState(QStringLiteral("showing")); }, quickly))
        << tree();
    QDir(planted).removeRecursively();
}

TEST_F(CreatorEditorTest, AProxyAppMadeInTheEditorIsSavedAndStartedFromTheDesktopsMenu) {
    ASSERT_NO_FATAL_FAILURE(startCreator());

    // A new draft: its name, then its profile.
    ASSERT_TRUE(clickOn(QStringLiteral("push button"), QStringLiteral("New Proxy App"))) << tree();
    const test::AccessibleElement nameField = showing(app, QStringLiteral("text"), QStringLiteral("Name"));
    ASSERT_NO_FATAL_FAILURE(typeInto(nameField, QStringLiteral("Work Mail")));
    // A draft starts on the first profile; the user goes to "Home" and back to "Work" through the menu.
    ASSERT_NO_FATAL_FAILURE(chooseProfile(QStringLiteral("Home")));
    ASSERT_NO_FATAL_FAILURE(chooseProfile(QStringLiteral("Work")));
    const test::AccessibleElement saveAs =
        showing(app, QStringLiteral("push button"), QStringLiteral("Save As…"));
    ASSERT_FALSE(saveAs.isNull()) << tree();
    ASSERT_TRUE(
        test::WindowDriver::waitUntil([&] { return saveAs.hasState(QStringLiteral("enabled")); }, quickly))
        << "Save As… stays disabled\n"
        << tree();

    // A symbol from the picker, searched by typing.
    ASSERT_TRUE(clickInForm(QStringLiteral("push button"), QStringLiteral("Briefcase"))) << tree();
    const test::AccessibleElement search =
        showing(app, QStringLiteral("text"), QStringLiteral("Search symbols"), slowly);
    ASSERT_NO_FATAL_FAILURE(typeInto(search, QStringLiteral("envelope")));
    ASSERT_TRUE(clickOn(QStringLiteral("list item"), QStringLiteral("Envelope"))) << tree();
    EXPECT_FALSE(showing(app, QStringLiteral("push button"), QStringLiteral("Envelope")).isNull()) << tree();
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorEditor-symbol-picker")).isEmpty());
    ASSERT_TRUE(clickOn(QStringLiteral("push button"), QStringLiteral("Done"))) << tree();
    ASSERT_TRUE(test::WindowDriver::waitUntil(
        [&] {
            return driver->findAll(app, QStringLiteral("text"), QStringLiteral("Search symbols")).empty();
        },
        quickly))
        << tree();

    // A badge swatch.
    ASSERT_TRUE(clickInForm({}, QStringLiteral("Teal"))) << tree();
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorEditor-editor")).isEmpty());

    // Saved into ~/Applications through the destination panel.
    ASSERT_TRUE(driver->click(saveAs));
    ASSERT_NO_FATAL_FAILURE(chooseFolderInPanel(applicationsFolder()));
    const QString bundle = applicationsFolder() + QStringLiteral("/Work Mail.app");
    ASSERT_TRUE(test::WindowDriver::waitUntil(
        [&] { return registered(QStringLiteral("Work Mail")).has_value(); }, slowly))
        << tree();
    ASSERT_TRUE(QFileInfo(bundle).isDir());
    const auto info = host::readBundleInfo(bundle);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->value(StubConfig::PlistKey::profileDirectory).toString(), QStringLiteral("Work"));
    EXPECT_EQ(info->value(StubConfig::PlistKey::symbolName).toString(), QStringLiteral("envelope.fill"));
    EXPECT_EQ(info->value(StubConfig::PlistKey::badgeColor).toString().toUpper(), QStringLiteral("#0F766E"));
    EXPECT_TRUE(QFileInfo(bundle + QStringLiteral("/Contents/Resources/AppIcon.icns")).size() > 0);
    const RegisteredApp saved = *registered(QStringLiteral("Work Mail"));
    EXPECT_EQ(QDir::cleanPath(saved.path), bundle);
    EXPECT_EQ(saved.config.profileDirectory, QStringLiteral("Work"));
    // The sidebar lists it as saved, no longer as a draft.
    EXPECT_FALSE(showing(window, QStringLiteral("list item"), QStringLiteral("Work Mail"), slowly).isNull())
        << tree();

    // The desktop's application menu has it, with its name and icon.
    std::vector<host::DesktopEntry> entries;
    ASSERT_TRUE(test::WindowDriver::waitUntil(
        [&] { return (entries = menuEntriesFor({QStringLiteral("Work Mail")})).size() == 1; }, quickly))
        << entries.size();
    EXPECT_EQ(entries[0].name, QStringLiteral("Work Mail"));
    EXPECT_FALSE(QImage(entries[0].icon).isNull()) << entries[0].icon.toStdString();

    // Started from the menu it opens a Chromium window of the profile "Work"; the sidebar keeps its row.
    ASSERT_TRUE(chromiumWindowsOf(QStringLiteral("Work")).empty());
    ASSERT_NO_FATAL_FAILURE(startFromMenu(entries[0]));
    EXPECT_TRUE(test::WindowDriver::waitUntil(
        [&] { return !chromiumWindowsOf(QStringLiteral("Work")).empty(); }, slowly))
        << "no Chromium window of the profile Work";
    EXPECT_TRUE(chromiumWindowsOf(QStringLiteral("Home")).empty());
    EXPECT_FALSE(showing(window, QStringLiteral("list item"), QStringLiteral("Work Mail")).isNull())
        << tree();
    // The user closes Chromium's window and quits the proxy app.
    const std::vector<host::X11ClientWindow> work = chromiumWindowsOf(QStringLiteral("Work"));
    ASSERT_FALSE(work.empty());
    ASSERT_TRUE(driver->bringToFront(work.front().id));
    ASSERT_TRUE(driver->closeActiveWindow());
    EXPECT_TRUE(test::WindowDriver::waitUntil(
        [&] { return chromiumWindowsOf(QStringLiteral("Work")).empty(); }, slowly))
        << "Chromium's window of the profile Work stays";
    if (proxyApp.state() != QProcess::NotRunning) {
        test::askToEnd(pid_t(proxyApp.processId()));
        EXPECT_TRUE(proxyApp.waitForFinished(15000));
    }

    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorEditor-saved-app")).isEmpty());
}

} // namespace
