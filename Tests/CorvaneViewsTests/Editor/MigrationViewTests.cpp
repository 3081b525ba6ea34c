// The sheet that imports apps built by the former scripts.
#include "Corvane/Views/Editor/MigrationView.h"
#include "Corvane/Views/Kit/AppStatusBar.h"
#include "Support/AccessibilityAudit.h"
#include "Support/AppModelFixture.h"

#include "CorvaneHost/Defaults.h"
#include "CorvaneHost/PropertyList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

namespace {

void writeLegacyApp(const QString& folder, const QString& name, const QString& bundleID) {
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".app");
    QDir().mkpath(path + QStringLiteral("/Contents"));
    QVariantMap info;
    info.insert(QStringLiteral("CFBundleIdentifier"), bundleID);
    host::writePropertyListFile(path + QStringLiteral("/Contents/Info.plist"), info);
}

class ImportSheet : public test::AppModelFixture {
protected:
    std::unique_ptr<MigrationView> sheet;

    void writeChromeProfiles() {
        const QString path = ChromeProfiles::localStateURL();
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(R"({"profile":{"info_cache":{"Profile 1":{"name":"Work"},"Profile 2":{"name":"Home"}},)"
                   R"("profiles_order":["Profile 1","Profile 2"]}})");
    }

    void open() {
        writeLegacyApp(environment.applications(), QStringLiteral("Chrome - Work"),
                       QStringLiteral("cx.qemt.tavrimo.work"));
        writeLegacyApp(environment.applications(), QStringLiteral("Chrome - Home"),
                       QStringLiteral("cx.qemt.tavrimo.home"));
        model->load();
        ASSERT_TRUE(model->showingMigration());
        sheet = std::make_unique<MigrationView>(*model);
        sheet->open();
    }

    QList<QCheckBox*> ticks() { return sheet->findChildren<QCheckBox*>(QStringLiteral("migrationTick")); }
    QPushButton* importButton() { return sheet->findChild<QPushButton*>(QStringLiteral("importButton")); }
    bool declined() { return host::defaults().boolValue(Corvane::creatorBundleID, Migration::declinedKey); }
};

TEST_F(ImportSheet, ImportIsEnabledWhileAnAppIsTicked) {
    writeChromeProfiles();
    open();
    ASSERT_EQ(ticks().size(), 2);
    EXPECT_TRUE(ticks()[0]->isChecked());
    EXPECT_TRUE(importButton()->isEnabled());
    EXPECT_TRUE(importButton()->isDefault());

    ticks()[0]->click();
    EXPECT_TRUE(importButton()->isEnabled());
    ticks()[1]->click();
    EXPECT_FALSE(importButton()->isEnabled());
    EXPECT_FALSE(model->migrationSelection(model->legacyApps()[1]));
    ticks()[1]->click();
    EXPECT_TRUE(importButton()->isEnabled());
    EXPECT_TRUE(model->migrationSelection(model->legacyApps()[1]));

    // Each row offers the profiles and writes the choice into the model.
    const auto pickers = sheet->findChildren<QComboBox*>(QStringLiteral("migrationProfile"));
    ASSERT_EQ(pickers.size(), 2);
    EXPECT_EQ(pickers[1]->count(), 2);
    EXPECT_EQ(pickers[1]->itemText(1), QStringLiteral("Home"));
    pickers[1]->setCurrentIndex(1);
    emit pickers[1]->activated(1);
    EXPECT_EQ(model->migrationProfile(model->legacyApps()[1]), QStringLiteral("Profile 2"));
}

TEST_F(ImportSheet, AScreenReaderFindsEachAppAsARowWithItsTickAndProfile) {
    writeChromeProfiles();
    open();
    QAccessibleInterface* list =
        test::accessibleElement(sheet.get(), QAccessible::List, QStringLiteral("Apps to Import"));
    ASSERT_NE(list, nullptr);
    const std::vector<QAccessibleInterface*> rows = test::accessibleChildren(list, QAccessible::ListItem);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]->text(QAccessible::Name), QStringLiteral("Chrome - Home"));
    EXPECT_EQ(rows[1]->text(QAccessible::Name), QStringLiteral("Chrome - Work"));
    EXPECT_EQ(test::accessibleChildren(rows[1], QAccessible::CheckBox).size(), 1u);
    EXPECT_EQ(test::accessibleChildren(rows[1], QAccessible::ComboBox).size(), 1u);
    EXPECT_TRUE(test::unnamedInteractiveElements(sheet.get()).empty())
        << test::describeUnnamed(test::unnamedInteractiveElements(sheet.get())).toStdString();
}

TEST_F(ImportSheet, NotNowDeclinesForGoodAndLeavesTheChoices) {
    writeChromeProfiles();
    open();
    sheet->findChild<QPushButton*>(QStringLiteral("notNowButton"))->click();
    EXPECT_TRUE(declined());
    EXPECT_FALSE(model->showingMigration());
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(model->legacyApps().size(), 2u);
    EXPECT_TRUE(builder.requests().empty());
}

TEST_F(ImportSheet, ClosingWithoutAButtonIncludingEscapeAsksAgainNextTime) {
    writeChromeProfiles();
    open();
    sheet->reject(); // the window closed it
    EXPECT_FALSE(model->showingMigration());
    EXPECT_FALSE(declined());

    // Escape closes the sheet as the window does: only "Not Now" declines for good.
    model->setShowingMigration(true);
    sheet->open();
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(model->showingMigration());
    EXPECT_FALSE(declined());
    EXPECT_TRUE(builder.requests().empty());
}

TEST_F(ImportSheet, ImportBuildsTheTickedAppsWithTheirProfiles) {
    writeChromeProfiles();
    open();
    ticks()[0]->click(); // "Chrome - Home" stays out (rows are sorted by name)
    QTest::keyClick(sheet.get(), Qt::Key_Return);
    EXPECT_FALSE(sheet->isVisible());
    ASSERT_TRUE(finishBuild());
    ASSERT_EQ(builder.requests().size(), 1u);
    EXPECT_EQ(builder.requests()[0].name, QStringLiteral("Chrome - Work"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Imported 1 app."));
    EXPECT_TRUE(declined());
    EXPECT_TRUE(model->legacyApps().empty());
}

TEST_F(ImportSheet, WithoutProfilesImportCanBePressedAndTheSkippedAppsAreNamed) {
    open();
    // The page behind the sheet (the window's placeholder) shows the model's lines.
    AppStatusBar bar(*model);
    bar.warning = [] { return std::optional<QString>(QStringLiteral("a page's own warning")); };
    bar.refresh();
    EXPECT_EQ(bar.shownWarning(), QStringLiteral("a page's own warning"));
    const auto pickers = sheet->findChildren<QComboBox*>(QStringLiteral("migrationProfile"));
    ASSERT_EQ(pickers.size(), 2);
    EXPECT_EQ(pickers[0]->count(), 0);
    ASSERT_TRUE(importButton()->isEnabled());
    importButton()->click();
    ASSERT_TRUE(finishBuild());
    EXPECT_TRUE(builder.requests().empty());
    EXPECT_EQ(model->errorMessage(),
              QStringLiteral("Not imported, no Chrome profile chosen: Chrome - Home, Chrome - Work"));
    EXPECT_TRUE(declined());
    EXPECT_TRUE(model->legacyApps().empty());
    EXPECT_EQ(bar.shownMessage(), *model->errorMessage());
    EXPECT_TRUE(bar.shownWarning().isEmpty());
}

} // namespace
