// The controls the routing pages share: route-target lookups, labels and menus, source-app menus and labels,
// application icons and the list box.
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/Kit/ListBox.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/RouteTargetControls.h"
#include "Corvane/Views/Kit/SourceAppControls.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "Support/ModelEnvironment.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

using Titles = std::vector<QString>;

BrowserEntry browser(const QString& bundleID, const QString& name, const QString& path = {}) {
    return BrowserEntry{bundleID, name, QString(),
                        path.isEmpty() ? QStringLiteral("/nowhere/") + name : path};
}

RegisteredApp registered(const QString& bundleID, const QString& name, const QString& path) {
    RegisteredApp app;
    app.bundleID = bundleID;
    app.name = name;
    app.path = path;
    return app;
}

void trigger(const std::vector<MenuEntry>& entries, const QString& title) {
    const MenuEntry* entry = findEntry(entries, title);
    ASSERT_NE(entry, nullptr) << title.toStdString();
    ASSERT_TRUE(entry->action);
    entry->action();
}

class RouteTargetControlsTest : public testing::Test {
protected:
    test::ModelEnvironment environment;
    QTemporaryDir folder;
    QString workPath;
    TargetDirectory directory;

    void SetUp() override {
        workPath = folder.filePath(QStringLiteral("Work.app"));
        QDir().mkpath(workPath);
        directory.apps = {registered(QStringLiteral("app.corvane.work"), QStringLiteral("Work"), workPath),
                          registered(QStringLiteral("app.corvane.gone"), QStringLiteral("Gone"),
                                     folder.filePath(QStringLiteral("Gone.app")))};
        directory.browsers = {browser(QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox")),
                              browser(QStringLiteral("com.google.Chrome"), QStringLiteral("Google Chrome")),
                              browser(QStringLiteral("app.corvane.gone"), QStringLiteral("Gone Browser"))};
    }
};

TEST_F(RouteTargetControlsTest, DirectoryFindsPathsAndNamesAppsBeforeBrowsers) {
    EXPECT_EQ(directory.path(RouteTarget::proxyApp(QStringLiteral("app.corvane.work"))), workPath);
    // A registered app missing from disk falls through to a browser of the same identifier for its path,
    // but keeps its registered name (without a private suffix).
    const RouteTarget gonePrivate = RouteTarget::browser(QStringLiteral("app.corvane.gone"), true);
    EXPECT_EQ(directory.path(gonePrivate), QStringLiteral("/nowhere/Gone Browser"));
    EXPECT_EQ(directory.name(gonePrivate), QStringLiteral("Gone"));

    EXPECT_EQ(directory.name(RouteTarget::browser(QStringLiteral("com.google.Chrome"), true)),
              QStringLiteral("Google Chrome — Incognito"));
    EXPECT_EQ(directory.name(RouteTarget::browser(QStringLiteral("com.google.Chrome"))),
              QStringLiteral("Google Chrome"));
    const RouteTarget unknown = RouteTarget::browser(QStringLiteral("com.brave.Browser"), true);
    EXPECT_EQ(directory.name(unknown), QStringLiteral("com.brave.Browser — Incognito"));
    EXPECT_FALSE(directory.path(unknown));
    EXPECT_FALSE(directory.icon(unknown));
    EXPECT_TRUE(directory.icon(RouteTarget::proxyApp(QStringLiteral("app.corvane.work"))));
}

TEST_F(RouteTargetControlsTest, LabelWarnsWhenTheTargetsAppIsGone) {
    directory.browsers.pop_back();
    RouteTargetLabel label(RouteTarget::proxyApp(QStringLiteral("app.corvane.gone")), directory, 16);
    EXPECT_EQ(label.shownName(), QStringLiteral("Gone"));
    EXPECT_TRUE(label.showsPlaceholderIcon());
    EXPECT_TRUE(label.showsMissingWarning());
    auto* warning = label.findChild<QWidget*>(QStringLiteral("routeTargetMissing"));
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->toolTip(), QStringLiteral("This app isn't installed any more, so links matching this "
                                                 "rule go to the fallback instead."));

    label.setTarget(RouteTarget::browser(QStringLiteral("org.gnome.Epiphany"), true));
    EXPECT_EQ(label.shownName(), QStringLiteral("org.gnome.Epiphany — Incognito"));
    EXPECT_TRUE(label.showsMissingWarning());

    label.setTarget(RouteTarget::proxyApp(QStringLiteral("app.corvane.work")));
    EXPECT_EQ(label.shownName(), QStringLiteral("Work"));
    EXPECT_FALSE(label.showsPlaceholderIcon());
    EXPECT_FALSE(label.showsMissingWarning());
}

TEST_F(RouteTargetControlsTest, LabelDrawsTheIconAtTheSizeAsked) {
    for (const int points : {16, 20, 32}) {
        RouteTargetLabel label(RouteTarget::proxyApp(QStringLiteral("app.corvane.work")), directory, points);
        auto* icon = label.findChild<QLabel*>(QStringLiteral("routeTargetIcon"));
        ASSERT_NE(icon, nullptr);
        const QPixmap pixmap = icon->pixmap();
        EXPECT_EQ(pixmap.deviceIndependentSize().toSize(), QSize(points, points)) << points;
    }
}

TEST_F(RouteTargetControlsTest, MenusListAppsBrowsersAndOnlyCapablePrivateWindows) {
    const std::vector<BrowserEntry> offered = {directory.browsers[0], directory.browsers[1]};
    const auto none = [](const RouteTarget&) {};
    EXPECT_EQ(entryTitles(RouteTargetMenu::entries(directory, offered, none)),
              (Titles{"[Proxy Apps]", "Work", "Gone", "[Browsers]", "Firefox", "Google Chrome",
                      "[Private Windows]", "Google Chrome — Incognito"}));

    // No apps, no offered browsers: the required menu has nothing; the optional one keeps its headings.
    const TargetDirectory empty;
    EXPECT_TRUE(RouteTargetMenu::entries(empty, {}, none).empty());
    EXPECT_EQ(entryTitles(OptionalTargetMenu::entries(empty, {}, QStringLiteral("Automatic"),
                                                      [](const std::optional<RouteTarget>&) {})),
              (Titles{"Automatic", "[Browsers]"}));

    // Private windows keep the offered order and leave out browsers that cannot open one.
    const std::vector<BrowserEntry> several = {
        browser(QStringLiteral("com.brave.Browser"), QStringLiteral("Brave")),
        browser(QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox")),
        browser(QStringLiteral("org.chromium.Chromium"), QStringLiteral("Chromium")),
        browser(QStringLiteral("org.chromium.chromium"), QStringLiteral("chromium (other case)"))};
    EXPECT_EQ(entryTitles(PrivateBrowserSection::entries(several, none)),
              (Titles{"[Private Windows]", "Brave — Incognito", "Chromium — Incognito"}));
    EXPECT_TRUE(PrivateBrowserSection::entries({several[1]}, none).empty());
}

TEST_F(RouteTargetControlsTest, ChoosingAnEntrySetsTheTargetAndTellsTheCaller) {
    RouteTargetMenu menu(RouteTarget::proxyApp(QStringLiteral("app.corvane.work")), directory,
                         [this] { return directory.browsers; });
    QSignalSpy chosen(&menu, &RouteTargetMenu::targetChosen);
    trigger(menu.currentEntries(), QStringLiteral("Google Chrome — Incognito"));
    EXPECT_EQ(menu.target(), RouteTarget::browser(QStringLiteral("com.google.Chrome"), true));
    EXPECT_EQ(menu.label()->shownName(), QStringLiteral("Google Chrome — Incognito"));
    ASSERT_EQ(chosen.count(), 1);
    trigger(menu.currentEntries(), QStringLiteral("Firefox"));
    EXPECT_EQ(menu.target(), RouteTarget::browser(QStringLiteral("org.mozilla.firefox"), false));

    menu.setTarget(RouteTarget::proxyApp(QStringLiteral("app.corvane.work")));
    EXPECT_EQ(chosen.count(), 2) << "setting the target is not a choice";
}

TEST_F(RouteTargetControlsTest, TheButtonsMenuIsBuiltWhenItOpensWithSectionsAndAppIcons) {
    std::vector<BrowserEntry> offered = {directory.browsers[0]};
    RouteTargetMenu button(RouteTarget::proxyApp(QStringLiteral("app.corvane.work")), directory,
                           [&offered] { return offered; });
    offered.push_back(directory.browsers[1]);
    QMenu* menu = button.menu();
    ASSERT_NE(menu, nullptr);
    emit menu->aboutToShow();
    QStringList shown;
    for (QAction* action : menu->actions())
        shown.append(action->isSeparator() ? QLatin1Char('[') + action->text() + QLatin1Char(']')
                                           : action->text());
    EXPECT_EQ(shown, (QStringList{"[Proxy Apps]", "Work", "Gone", "[Browsers]", "Firefox", "Google Chrome",
                                  "[Private Windows]", "Google Chrome — Incognito"}));
    EXPECT_FALSE(menu->actions().at(1)->icon().isNull());

    menu->actions().at(5)->trigger();
    EXPECT_EQ(button.target(), RouteTarget::browser(QStringLiteral("com.google.Chrome")));
    EXPECT_EQ(button.accessibleName(), QStringLiteral("Google Chrome"));
    EXPECT_EQ(findEntry(button.currentEntries(), QStringLiteral("Browsers")), nullptr)
        << "a section heading is not an entry to choose";
}

TEST_F(RouteTargetControlsTest, OptionalMenuClearsToTheAutomaticChoice) {
    OptionalTargetMenu menu(
        RouteTarget::browser(QStringLiteral("org.mozilla.firefox")), directory,
        [this] { return directory.browsers; }, QStringLiteral("Automatic (Google Chrome)"));
    EXPECT_EQ(menu.shownTitle(), QStringLiteral("Firefox"));
    QSignalSpy chosen(&menu, &OptionalTargetMenu::targetChosen);
    trigger(menu.currentEntries(), QStringLiteral("Automatic (Google Chrome)"));
    EXPECT_FALSE(menu.target());
    EXPECT_EQ(menu.shownTitle(), QStringLiteral("Automatic (Google Chrome)"));
    EXPECT_EQ(menu.accessibleName(), QStringLiteral("Automatic (Google Chrome)"));
    trigger(menu.currentEntries(), QStringLiteral("Work"));
    EXPECT_EQ(menu.target(), RouteTarget::proxyApp(QStringLiteral("app.corvane.work")));
    EXPECT_EQ(menu.shownTitle(), QStringLiteral("Work"));
    EXPECT_EQ(chosen.count(), 2);
}

TEST_F(RouteTargetControlsTest, OptionalMenuHasRoomForItsAutomaticTitle) {
    const QString title = QStringLiteral("Automatic — Chromium Web Browser");
    OptionalTargetMenu menu(
        std::nullopt, directory, [this] { return directory.browsers; }, title);
    menu.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    auto* shown = menu.findChild<ElidedLabel*>(QStringLiteral("automaticTitle"));
    ASSERT_NE(shown, nullptr);
    EXPECT_GE(menu.sizeHint().width(), menu.fontMetrics().horizontalAdvance(title));
    menu.resize(menu.sizeHint());
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown->text() == title; }, 2000)) << shown->text().toStdString();
}

RecentLink linkFrom(const QString& bundleID, const QString& name) {
    RecentLink link;
    link.id = QUuid::createUuid();
    link.url = QStringLiteral("https://example.com");
    link.sourceBundleID = bundleID;
    link.sourceName = name;
    return link;
}

host::RunningApplication running(const QString& bundleID, const QString& name) {
    host::RunningApplication app;
    app.processIdentifier = 200;
    app.bundleIdentifier = bundleID;
    app.localizedName = name;
    return app;
}

class SourceAppControlsTest : public testing::Test {
protected:
    test::ModelEnvironment environment;
    RoutingModel model;
    QString mailPath;

    void SetUp() override {
        mailPath = environment.workspace().addApplication(
            QStringLiteral("Mail"), test::FakeWorkspace::info(QStringLiteral("com.apple.mail")));
        // Mail is installed and was seen; Slack was seen but is uninstalled; Notes only runs.
        model.setRecentLinks({linkFrom(QStringLiteral("com.apple.mail"), QStringLiteral("Mail")),
                              linkFrom(QStringLiteral("com.tinyspeck.slack"), QStringLiteral("Slack"))});
        environment.workspace().addRunning(
            running(QStringLiteral("com.apple.Notes"), QStringLiteral("Notes")));
    }
};

TEST_F(SourceAppControlsTest, MenuGroupsSeenAndRunningAppsAndLeavesOutTheListedOnes) {
    const auto none = [](const QString&) {};
    const std::vector<MenuEntry> all = SourceAppMenu::entries(model, {}, none);
    EXPECT_EQ(entryTitles(all),
              (Titles{"[Seen Sending Links]", "Mail", "Slack", "[Running Now]", "Notes", "-", "Other App…"}));
    EXPECT_TRUE(findEntry(all, QStringLiteral("Slack"))->icon.isNull());
    EXPECT_EQ(findEntry(all, QStringLiteral("Slack"))->systemImage, QStringLiteral("app.dashed"));
    EXPECT_FALSE(findEntry(all, QStringLiteral("Mail"))->icon.isNull());

    EXPECT_EQ(entryTitles(SourceAppMenu::entries(
                  model, {QStringLiteral("com.apple.mail"), QStringLiteral("com.tinyspeck.slack")}, none)),
              (Titles{"[Running Now]", "Notes", "-", "Other App…"}));
    const std::vector<MenuEntry> nothingLeft =
        SourceAppMenu::entries(model,
                               {QStringLiteral("com.apple.mail"), QStringLiteral("com.tinyspeck.slack"),
                                QStringLiteral("com.apple.Notes")},
                               none);
    EXPECT_EQ(entryTitles(nothingLeft), (Titles{"Every app is already listed", "-", "Other App…"}));
    EXPECT_FALSE(nothingLeft.front().enabled);
}

TEST_F(SourceAppControlsTest, OtherAppPicksWhatThePanelChoseEvenWhenListedAndNothingWhenCancelled) {
    SourceAppMenu menu(model, {QStringLiteral("com.apple.mail")});
    QSignalSpy picked(&menu, &SourceAppMenu::picked);
    environment.panels().applicationAnswers.push_back(std::nullopt);
    trigger(menu.currentEntries(), QStringLiteral("Other App…"));
    EXPECT_EQ(picked.count(), 0);

    environment.panels().applicationAnswers.push_back(mailPath);
    trigger(menu.currentEntries(), QStringLiteral("Other App…"));
    ASSERT_EQ(picked.count(), 1);
    EXPECT_EQ(picked.at(0).at(0).toString(), QStringLiteral("com.apple.mail"));

    trigger(menu.currentEntries(), QStringLiteral("Notes"));
    ASSERT_EQ(picked.count(), 2);
    EXPECT_EQ(picked.at(1).at(0).toString(), QStringLiteral("com.apple.Notes"));
}

TEST_F(SourceAppControlsTest, LabelShowsIconAndNameOrTheDashedQuestionMark) {
    SourceAppLabel label(QStringLiteral("com.apple.mail"), model, 16);
    EXPECT_EQ(label.shownName(), QStringLiteral("Mail"));
    EXPECT_FALSE(label.showsPlaceholderIcon());

    label.setBundleID(QStringLiteral("org.never.seen"));
    EXPECT_EQ(label.shownName(), QStringLiteral("org.never.seen"));
    EXPECT_TRUE(label.showsPlaceholderIcon());
    EXPECT_EQ(label.accessibleName(), QStringLiteral("org.never.seen"));
}

TEST_F(SourceAppControlsTest, IconsByBundleIDNeedAnInstalledAppButIconsByPathAlwaysExist) {
    EXPECT_FALSE(AppIcons::iconForBundleID(QStringLiteral("org.never.installed"), 16));
    EXPECT_FALSE(AppIcons::iconForBundleID(QString(), 16));
    const auto mail = AppIcons::iconForBundleID(QStringLiteral("com.apple.mail"), 16);
    ASSERT_TRUE(mail);
    EXPECT_FALSE(mail->pixmap(16, 16).isNull());
    const QIcon nowhere = AppIcons::icon(QStringLiteral("/no/such/App.app"), 32);
    ASSERT_FALSE(nowhere.isNull());
    EXPECT_EQ(nowhere.pixmap(32, 32).size(), QSize(32, 32));
}

TEST(ListBox, RowColoursAlternateAndTheSelectedRowIsTinted) {
    QPalette palette;
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(240, 240, 240));
    EXPECT_EQ(listBoxRowColor(0, false, palette), QColor(Qt::white));
    EXPECT_EQ(listBoxRowColor(1, false, palette), QColor(240, 240, 240));
    EXPECT_EQ(listBoxRowColor(4, false, palette), QColor(Qt::white));
    const QColor selected = listBoxRowColor(3, true, palette);
    EXPECT_EQ(selected.rgb(), listBoxRowColor(0, true, palette).rgb());
    EXPECT_NEAR(selected.alphaF(), 0.22, 0.01);

    palette.setColor(QPalette::AlternateBase, Qt::white);
    EXPECT_EQ(listBoxRowColor(1, false, palette).alpha(), 0);
}

// A label paints with the window-text role on a page and with the text role inside a list: a secondary or
// warning text keeps its colour in both places.
TEST(ListBox, SecondaryTextsInsideRowsKeepTheirColour) {
    ListBox box(132);
    auto* row = new QWidget;
    auto* summary = new QLabel(QStringLiteral("1 address"), row);
    TextStyle::secondary(summary);
    auto* warning = new QLabel(QStringLiteral("Not installed"), row);
    TextStyle::setColor(warning, ViewColors::orange());
    box.appendRow(row, QStringLiteral("Work"));
    box.setPlaceholder(QStringLiteral("No rules yet."));
    for (QLabel* label : {summary, box.placeholder()}) {
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_EQ(label->palette().color(label->foregroundRole()), ViewColors::secondary());
    }
    EXPECT_EQ(warning->palette().color(warning->foregroundRole()), ViewColors::orange());

    QLabel onPage(QStringLiteral("Drag to set priority"));
    TextStyle::secondary(&onPage);
    EXPECT_EQ(onPage.palette().color(onPage.foregroundRole()), ViewColors::secondary());
}

TEST(ListBox, TheListAndFooterStayInsideTheRoundedOutline) {
    ListBox box(132);
    box.setFooter(new ListBoxButtons(ListBoxButtons::makeAddButton(QStringLiteral("Add Address"))));
    box.resize(300, 200);
    box.show();
    for (QWidget* child : {static_cast<QWidget*>(box.list()), box.findChild<QWidget*>("listBoxFooter")}) {
        ASSERT_NE(child, nullptr);
        const QRegion mask = child->mask();
        ASSERT_FALSE(mask.isEmpty()) << child->objectName().toStdString();
        const QRect inBox = QRect(child->mapTo(&box, QPoint(0, 0)), child->size());
        // The box's corner pixels lie outside the outline; the middle of each child inside.
        for (const QPoint corner : {QPoint(1, 1), QPoint(box.width() - 2, 1), QPoint(1, box.height() - 2),
                                    QPoint(box.width() - 2, box.height() - 2)}) {
            if (inBox.contains(corner)) {
                EXPECT_FALSE(mask.contains(child->mapFrom(&box, corner))) << corner.x() << "," << corner.y();
            }
        }
        EXPECT_TRUE(mask.contains(child->rect().center()));
    }
}

TEST(ListBox, PlaceholderOnlyWhileEmptyAndRemoveFollowsCanRemove) {
    ListBox box(132);
    box.setPlaceholder(QStringLiteral("No addresses yet — use + to add one."));
    QToolButton* add = ListBoxButtons::makeAddButton(QStringLiteral("Add Address"));
    auto* buttons = new ListBoxButtons(add);
    box.setFooter(buttons);
    box.show();
    EXPECT_TRUE(box.placeholder()->isVisible());
    EXPECT_GE(box.list()->height(), 132);

    box.appendRow(new QLabel(QStringLiteral("one")), QStringLiteral("one"));
    EXPECT_FALSE(box.placeholder()->isVisible());
    EXPECT_EQ(box.list()->item(0)->text(), QStringLiteral("one"))
        << "rows carry their text for screen readers";
    box.removeRow(0);
    EXPECT_EQ(box.rowCount(), 0);
    EXPECT_TRUE(box.placeholder()->isVisible());

    QSignalSpy removed(buttons, &ListBoxButtons::removeClicked);
    buttons->setCanRemove(false);
    QTest::mouseClick(buttons->removeButton(), Qt::LeftButton);
    EXPECT_EQ(removed.count(), 0);
    EXPECT_TRUE(add->isEnabled());
    buttons->setCanRemove(true);
    QTest::mouseClick(buttons->removeButton(), Qt::LeftButton);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_FALSE(buttons->removeButton()->accessibleName().isEmpty());
    EXPECT_EQ(add->accessibleName(), QStringLiteral("Add Address"));
}

} // namespace
