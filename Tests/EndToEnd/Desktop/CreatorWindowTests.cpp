// The creator app's window on a real desktop, driven as a user would: through the accessibility bus to find
// its controls and with the real pointer to choose them. Screenshots of each page land in the test artifacts.
#include "Support/DesktopSession.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"
#include "Support/InstalledCreatorTest.h"
#include "Support/WindowDriver.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

class CreatorWindowTest : public test::InstalledCreatorTest {
protected:
    void SetUp() override { installCreator(QStringLiteral("creator-window")); }

    bool startCreator() { return launchCreator(); }

    static QString installedCreator() {
        return QDir::homePath() + QStringLiteral("/Applications/Corvane.app");
    }
};

TEST_F(CreatorWindowTest, TheInstalledAppIsInTheDesktopsMenuWithItsNameAndIcon) {
    const QString entry =
        QDir::homePath() + QStringLiteral("/.local/share/applications/app.corvane.main.desktop");
    ASSERT_TRUE(QFileInfo::exists(entry));
    QSettings file(entry, QSettings::IniFormat);
    file.beginGroup(QStringLiteral("Desktop Entry"));
    EXPECT_EQ(file.value(QStringLiteral("Name")).toString(), QStringLiteral("Corvane"));
    EXPECT_NE(file.value(QStringLiteral("NoDisplay")).toString(), QStringLiteral("true"));
    const QString icon = file.value(QStringLiteral("Icon")).toString();
    ASSERT_FALSE(icon.isEmpty());
    EXPECT_FALSE(QImage(icon).isNull()) << icon.toStdString();
    EXPECT_TRUE(file.value(QStringLiteral("Exec")).toString().contains(installedCreator()));
}

TEST_F(CreatorWindowTest, TheSidebarOpensEachRoutingPage) {
    ASSERT_TRUE(startCreator());
    const test::AccessibleElement app = driver->application(pid_t(creator.processId()), 20);
    ASSERT_FALSE(app.isNull()) << "the creator app did not join the accessibility bus";
    const test::AccessibleElement frame = driver->find(app, QStringLiteral("frame"), QString(), 10);
    ASSERT_FALSE(frame.isNull()) << app.dump().toStdString();
    // The models' start-up has run once the placeholder or an editor shows.
    ASSERT_TRUE(test::WindowDriver::waitUntil(
        [&] { return !driver->findAll(frame, QStringLiteral("list item"), QStringLiteral("Rules")).empty(); },
        10))
        << frame.dump(12).toStdString();
    // On the screen where the window manager put it, and active, before the pointer goes there.
    ASSERT_TRUE(test::WindowDriver::waitUntil([&] { return frame.hasState(QStringLiteral("active")); }, 10))
        << frame.states().join(QLatin1Char(' ')).toStdString();
    QRect placed;
    test::WindowDriver::waitUntil(
        [&] {
            const QRect now = frame.screenExtents();
            const bool settled = !now.isEmpty() && now == placed;
            placed = now;
            return settled;
        },
        5);
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorWindow-start")).isEmpty());
    // Without proxy apps the sidebar's first section has a blank header, which the bus still names.
    const std::vector<test::AccessibleElement> rows = driver->findAll(frame, QStringLiteral("list item"), {});
    ASSERT_FALSE(rows.empty()) << frame.dump(12).toStdString();
    EXPECT_EQ(rows.front().name(), QStringLiteral("Apps")) << frame.dump(12).toStdString();
    for (const test::AccessibleElement& row : rows)
        EXPECT_FALSE(row.name().isEmpty()) << frame.dump(12).toStdString();

    const struct {
        const char* row;
        const char* title;
        const char* page;
    } pages[] = {
        {"Rules", "Rules", "RulesView"},
        {"System", "System", "SystemView"},
        {"Recent Links", "Recent Links", "RecentLinksView"},
    };
    for (const auto& page : pages) {
        SCOPED_TRACE(page.row);
        const test::AccessibleElement row =
            driver->find(frame, QStringLiteral("list item"), QString::fromUtf8(page.row));
        ASSERT_FALSE(row.isNull()) << frame.dump(12).toStdString();
        ASSERT_TRUE(driver->click(row));
        EXPECT_TRUE(
            test::WindowDriver::waitUntil([&] { return row.hasState(QStringLiteral("selected")); }, 5));
        // The page's header names it, and so does the window's title.
        EXPECT_FALSE(driver->find(frame, QStringLiteral("label"), QString::fromUtf8(page.title), 5).isNull())
            << frame.dump(12).toStdString();
        const QString windowTitle = QString::fromUtf8(page.title) + QStringLiteral(" — Corvane");
        EXPECT_TRUE(test::WindowDriver::waitUntil([&] { return frame.name() == windowTitle; }, 5))
            << frame.name().toStdString();
        EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorWindow-") + QString::fromUtf8(page.page))
                         .isEmpty());
    }

    // Closing the window ends the app.
    ASSERT_TRUE(driver->click(driver->find(frame, QStringLiteral("list item"), QStringLiteral("Rules"))));
    ASSERT_TRUE(driver->closeActiveWindow());
    EXPECT_TRUE(creator.waitForFinished(10000));
    EXPECT_EQ(creator.exitStatus(), QProcess::NormalExit);
}

} // namespace
