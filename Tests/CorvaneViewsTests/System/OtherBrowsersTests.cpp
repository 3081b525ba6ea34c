// The system page's list of browsers offered as rule targets, the picker behind "Add Browser…", and adding
// and removing an application by hand.
#include "Support/AccessibilityAudit.h"
#include "SystemPageFixture.h"

#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/System/BrowserPicker.h"
#include "Corvane/Views/System/OtherBrowsersSection.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QTest>

namespace {

class OtherBrowsersTest : public test::SystemPageFixture {
protected:
    OtherBrowsersSection* section() const {
        return find<OtherBrowsersSection>(QStringLiteral("browsersSection"));
    }
    BrowserRow* row(const QString& bundleID) const { return section()->row(bundleID); }
    QStringList shownIDs() const {
        QStringList ids;
        for (const BrowserRow* shown : section()->rows())
            ids << shown->entry().bundleID;
        return ids;
    }
    // An application that opens links without saying so.
    QString oddApp(const QString& name = QStringLiteral("Odd"),
                   const QString& id = QStringLiteral("com.example.odd")) {
        return environment.workspace().addApplication(
            name, test::FakeWorkspace::info(id, {}, {}, QStringLiteral("3.1")));
    }
    void chooseInPanel(const std::optional<QString>& path) {
        environment.panels().applicationAnswers.push_back(path);
        click(QStringLiteral("addBrowserButton"));
    }
};

TEST(BrowserPicker, AsksForOneApplicationAndReturnsNoneWhenCancelled) {
    test::DesktopScope desktop;
    desktop.panels().applicationAnswers = {std::nullopt, QStringLiteral("/opt/Arc.app")};
    EXPECT_EQ(BrowserPicker::ask(), std::nullopt);
    EXPECT_EQ(BrowserPicker::ask(), QStringLiteral("/opt/Arc.app"));
    ASSERT_EQ(desktop.panels().applicationPanels.size(), 2u);
    const host::OpenPanelOptions& shown = desktop.panels().applicationPanels[0];
    EXPECT_EQ(shown.title, QStringLiteral("Add a browser"));
    EXPECT_EQ(shown.prompt, QStringLiteral("Add"));
    EXPECT_EQ(shown.message,
              QStringLiteral("Choose an application to send links to. Use this for one macOS didn't "
                             "offer — an app that opens links without saying so."));
    EXPECT_EQ(shown.startDirectory, QStringLiteral("/Applications"));
    EXPECT_FALSE(shown.canCreateDirectories);
}

TEST_F(OtherBrowsersTest, AnEmptyListSaysSo) {
    showPage();
    EXPECT_TRUE(shown(QStringLiteral("noBrowsers")));
    EXPECT_EQ(find<QLabel>(QStringLiteral("noBrowsers"))->text(), QStringLiteral("No other browsers found."));
    EXPECT_FALSE(shown(QStringLiteral("browserList")));
    EXPECT_TRUE(shown(QStringLiteral("addBrowserButton")));
    EXPECT_FALSE(shown(QStringLiteral("removeBrowserHint")));
}

TEST_F(OtherBrowsersTest, RowsShowNameVersionAndWhetherTheBrowserIsOffered) {
    addBrowser(QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"), QStringLiteral("120.0"));
    environment.workspace().addApplication(
        QStringLiteral("Lynx"), test::FakeWorkspace::browserInfo(QStringLiteral("org.lynx.browser")));
    showPage();
    EXPECT_FALSE(shown(QStringLiteral("noBrowsers")));
    EXPECT_EQ(shownIDs(),
              (QStringList{QStringLiteral("org.mozilla.firefox"), QStringLiteral("org.lynx.browser")}));
    ASSERT_NE(row(QStringLiteral("org.mozilla.firefox")), nullptr);
    ASSERT_NE(row(QStringLiteral("org.lynx.browser")), nullptr);
    EXPECT_EQ(row(QStringLiteral("org.mozilla.firefox"))->shownName(), QStringLiteral("Firefox"));
    EXPECT_EQ(row(QStringLiteral("org.mozilla.firefox"))->shownDetail(), QStringLiteral("Version 120.0"));
    EXPECT_EQ(row(QStringLiteral("org.lynx.browser"))->shownDetail(), QStringLiteral("org.lynx.browser"));
    // A known browser is offered until switched off; any other application only once switched on.
    EXPECT_TRUE(row(QStringLiteral("org.mozilla.firefox"))->offeredSwitch()->isChecked());
    EXPECT_FALSE(row(QStringLiteral("org.lynx.browser"))->offeredSwitch()->isChecked());
    EXPECT_EQ(row(QStringLiteral("org.lynx.browser"))->offeredSwitch()->accessibleName(),
              QStringLiteral("Lynx"));
    // Only hand-added browsers have a context menu.
    EXPECT_TRUE(row(QStringLiteral("org.mozilla.firefox"))->contextMenuEntries().empty());
}

TEST_F(OtherBrowsersTest, AScreenReaderFindsEachBrowserAsARowWithItsSwitch) {
    addBrowser(QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"), QStringLiteral("120.0"));
    showPage();
    QAccessibleInterface* list =
        test::accessibleElement(section(), QAccessible::List, QStringLiteral("Other Browsers"));
    ASSERT_NE(list, nullptr);
    const std::vector<QAccessibleInterface*> rows = test::accessibleChildren(list, QAccessible::ListItem);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->text(QAccessible::Name), QStringLiteral("Firefox"));
    EXPECT_EQ(rows[0]->text(QAccessible::Description), QStringLiteral("Version 120.0"));
    const std::vector<QAccessibleInterface*> switches =
        test::accessibleChildren(rows[0], QAccessible::CheckBox);
    ASSERT_EQ(switches.size(), 1u);
    EXPECT_EQ(switches[0]->text(QAccessible::Name), QStringLiteral("Firefox"));
}

TEST_F(OtherBrowsersTest, SwitchesChangeTheOfferedBrowsersAndSaveTheRules) {
    addBrowser(QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"));
    environment.workspace().addApplication(
        QStringLiteral("Lynx"), test::FakeWorkspace::browserInfo(QStringLiteral("org.lynx.browser")));
    showPage();
    row(QStringLiteral("org.lynx.browser"))->offeredSwitch()->click();
    row(QStringLiteral("org.mozilla.firefox"))->offeredSwitch()->click();
    EXPECT_EQ(RuleStore::shared().current().browserChoices.value(QStringLiteral("org.lynx.browser")), true);
    EXPECT_EQ(RuleStore::shared().current().browserChoices.value(QStringLiteral("org.mozilla.firefox")),
              false);
    ASSERT_EQ(routing.offeredBrowsers(std::nullopt).size(), 1u);
    EXPECT_EQ(routing.offeredBrowsers(std::nullopt)[0].bundleID, QStringLiteral("org.lynx.browser"));

    // A failed save keeps the change on screen and in the model, and says why.
    blockFile(Corvane::rulesURL());
    row(QStringLiteral("org.mozilla.firefox"))->offeredSwitch()->click();
    EXPECT_TRUE(row(QStringLiteral("org.mozilla.firefox"))->offeredSwitch()->isChecked());
    EXPECT_EQ(routing.ruleSet().browserChoices.value(QStringLiteral("org.mozilla.firefox")), true);
    EXPECT_TRUE(footer().startsWith(QStringLiteral("Couldn't save the rules: "))) << footer().toStdString();
    unblockFile(Corvane::rulesURL());

    // A rules file rewritten elsewhere moves the switches with it.
    RuleSet elsewhere = RuleStore::shared().current();
    elsewhere.browserChoices.insert(QStringLiteral("org.lynx.browser"), false);
    routing.setRuleSet(elsewhere);
    EXPECT_FALSE(row(QStringLiteral("org.lynx.browser"))->offeredSwitch()->isChecked());
}

TEST_F(OtherBrowsersTest, AddingAndRemovingABrowserByHand) {
    addBrowser(QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"));
    const QString odd = oddApp();
    showPage();
    BrowserRow* firefox = row(QStringLiteral("org.mozilla.firefox"));

    // Cancelling the panel does nothing.
    chooseInPanel(std::nullopt);
    EXPECT_EQ(shownIDs(), QStringList{QStringLiteral("org.mozilla.firefox")});
    EXPECT_EQ(footer(), QString());

    chooseInPanel(odd);
    EXPECT_EQ(footer(), QStringLiteral("Added Odd."));
    ASSERT_NE(row(QStringLiteral("com.example.odd")), nullptr);
    EXPECT_TRUE(row(QStringLiteral("com.example.odd"))->offeredSwitch()->isChecked());
    EXPECT_EQ(row(QStringLiteral("com.example.odd"))->shownDetail(), QStringLiteral("Version 3.1"));
    EXPECT_TRUE(shown(QStringLiteral("removeBrowserHint")));
    EXPECT_EQ(find<QLabel>(QStringLiteral("removeBrowserHint"))->text(),
              QStringLiteral("Right-click one you added to remove it."));
    // The rows that stayed are the same widgets.
    EXPECT_EQ(row(QStringLiteral("org.mozilla.firefox")), firefox);

    ASSERT_EQ(entryTitles(row(QStringLiteral("com.example.odd"))->contextMenuEntries()),
              std::vector<QString>{QStringLiteral("Remove from List")});
    // Through the row's own context menu, which outlives the click that removes its row.
    QPointer<BrowserRow> added = row(QStringLiteral("com.example.odd"));
    emit added->customContextMenuRequested(QPoint(2, 2));
    auto* menu = added->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions()[0]).center());
    environment.time().runUntilIdle();
    EXPECT_EQ(row(QStringLiteral("com.example.odd")), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(added.isNull());
    EXPECT_EQ(shownIDs(), QStringList{QStringLiteral("org.mozilla.firefox")});
    EXPECT_FALSE(shown(QStringLiteral("removeBrowserHint")));
    EXPECT_FALSE(
        RuleStore::shared().current().additionalBrowserIDs.contains(QStringLiteral("com.example.odd")));
}

TEST_F(OtherBrowsersTest, RefusedAdditionsChangeNothing) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"));
    const QString proxy = environment.workspace().addApplication(
        QStringLiteral("Proxy"), test::FakeWorkspace::info(QStringLiteral("app.corvane.x1")));
    const QString folder = environment.workspace().root() + QStringLiteral("/Nothing");
    QDir().mkpath(folder);
    showPage();
    routing.setStatusMessage(QStringLiteral("Earlier news."));

    chooseInPanel(firefox);
    EXPECT_EQ(footer(), QStringLiteral("“Firefox” is already listed."));
    chooseInPanel(proxy);
    EXPECT_EQ(footer(), QStringLiteral("That's Corvane. Routing a link to ourselves would be a loop."));
    chooseInPanel(Corvane::installedHelperURL());
    EXPECT_EQ(footer(), QStringLiteral("That's Corvane. Routing a link to ourselves would be a loop."));
    chooseInPanel(folder);
    EXPECT_EQ(footer(), QStringLiteral("That doesn't look like an application."));
    EXPECT_EQ(shownIDs(), QStringList{QStringLiteral("org.mozilla.firefox")});
    EXPECT_TRUE(routing.ruleSet().additionalBrowserIDs.isEmpty());
}

} // namespace
