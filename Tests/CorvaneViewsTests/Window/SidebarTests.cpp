// The sidebar: its rows, their marks and counts, the rename notice and the new-app button.
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "Support/CreatorWindowFixture.h"

#include <QAccessible>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace {

using Selection = AppModel::Selection;

class SidebarTest : public test::CreatorWindowFixture {
protected:
    QWidget* row(const Selection& selection) { return sidebar().rowWidget(selection); }
    template <typename Label = QLabel> Label* part(const Selection& selection, const char* name) {
        QWidget* widget = row(selection);
        return widget ? widget->findChild<Label*>(QString::fromLatin1(name)) : nullptr;
    }
    QString title(const Selection& selection) { return part<ElidedLabel>(selection, "title")->fullText(); }
    QString subtitleOf(const Selection& selection) {
        return part<ElidedLabel>(selection, "subtitle")->fullText();
    }
    bool shows(QWidget* widget) { return widget && !widget->isHidden(); }
    QString badge(const Selection& selection) {
        QLabel* label = part(selection, "badge");
        return shows(label) ? label->text() : QString();
    }
    void writeRules(int enabled, int disabled) {
        RuleSet set;
        for (int i = 0; i < enabled + disabled; ++i) {
            LinkRule rule{.name = QStringLiteral("Rule %1").arg(i),
                          .target = RouteTarget::browser(QStringLiteral("org.chromium.Chromium")),
                          .isEnabled = i < enabled};
            set.rules.push_back(rule);
        }
        // As another program writes the file: the window finds it at its next look.
        RuleStore().save(set);
    }
    void recordLinks(int count) {
        for (int i = 0; i < count; ++i) {
            RecentLink link;
            link.id = QUuid::createUuid();
            link.url = QStringLiteral("https://example.com/%1").arg(i);
            link.date = QDateTime::currentDateTimeUtc();
            RecentLinksStore().record(link);
        }
    }
    QWidget* renameRow() { return sidebar().findChild<QWidget*>(QStringLiteral("RenameRow")); }
};

// Counts the paint events of one widget.
class PaintCount : public QObject {
public:
    explicit PaintCount(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

TEST_F(SidebarTest, APollThatFindsNothingNewDrawsNothingAgain) {
    installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"));
    installApp(QStringLiteral("Beta"), QStringLiteral("app.corvane.beta"));
    writeRules(2, 0);
    showWindow();
    PaintCount list(sidebar().list()->viewport());
    PaintCount alpha(row(Selection::saved(QStringLiteral("app.corvane.alpha"))));
    // What the first showing asked to be drawn is drawn: passes of the event loop draw nothing more.
    int quietPasses = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const int drawn = list.count + alpha.count;
        QCoreApplication::processEvents();
        quietPasses = list.count + alpha.count == drawn ? quietPasses + 1 : 0;
        return quietPasses == 3;
    }));
    list.count = 0;
    alpha.count = 0;
    for (int poll = 0; poll < 3; ++poll) {
        routing().refreshFromDisk();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(alpha.count, 0);

    // What did change is drawn.
    writeRules(3, 0);
    routing().refreshFromDisk();
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.count > 0; }));
    EXPECT_EQ(badge(Selection::rules()), QStringLiteral("3"));
}

TEST_F(SidebarTest, AppsThenDraftsThenTheRoutingPages) {
    installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"));
    installApp(QStringLiteral("Beta"), QStringLiteral("app.corvane.beta"));
    showWindow();
    appModel().navigate(AppModel::PendingNavigation::newApp());
    ASSERT_EQ(appModel().drafts().size(), 1u);
    const Selection draft = Selection::draft(appModel().drafts()[0].id);
    renameEditor(QStringLiteral("   "));

    QListWidget* list = sidebar().list();
    const Selection alpha = Selection::saved(QStringLiteral("app.corvane.alpha"));
    const Selection beta = Selection::saved(QStringLiteral("app.corvane.beta"));
    const int alphaRow = list->row(sidebar().item(alpha));
    EXPECT_EQ(list->item(alphaRow - 1)->text(), QStringLiteral("Apps"));
    EXPECT_EQ(list->row(sidebar().item(beta)), alphaRow + 1);
    EXPECT_EQ(list->row(sidebar().item(draft)), alphaRow + 2);
    EXPECT_EQ(list->item(alphaRow + 3)->text(), QStringLiteral("Routing"));
    EXPECT_EQ(list->row(sidebar().item(Selection::system())), alphaRow + 4);
    EXPECT_EQ(list->row(sidebar().item(Selection::rules())), alphaRow + 5);
    EXPECT_EQ(list->row(sidebar().item(Selection::recentLinks())), alphaRow + 6);

    EXPECT_EQ(title(alpha), QStringLiteral("Alpha"));
    EXPECT_EQ(subtitleOf(alpha), QStringLiteral("Work"));
    // A blank draft: "Untitled", marked unsaved, its icon faded.
    EXPECT_EQ(title(draft), QStringLiteral("Untitled (Unsaved)"));
    EXPECT_EQ(sidebar().item(draft)->data(Qt::AccessibleTextRole).toString(),
              QStringLiteral("Untitled (Unsaved)"));
    auto* fade = qobject_cast<QGraphicsOpacityEffect*>(part(draft, "icon")->graphicsEffect());
    ASSERT_NE(fade, nullptr);
    EXPECT_DOUBLE_EQ(fade->opacity(), 0.7);
    EXPECT_EQ(part(alpha, "icon")->graphicsEffect(), nullptr);

    // The selected row follows the editor as it is typed, keeping its row.
    sidebar().chooseRow(alpha);
    QWidget* alphaWidget = row(alpha);
    renameEditor(QStringLiteral(" Alpha Office "));
    EXPECT_EQ(title(alpha), QStringLiteral("Alpha Office"));
    EXPECT_EQ(row(alpha), alphaWidget);
}

TEST_F(SidebarTest, SubtitlesNameTheProfileAndTheTabGroup) {
    EditorState state;
    state.profileName = QStringLiteral("Work");
    state.tabGroupName = QStringLiteral("Research");
    EXPECT_EQ(SidebarView::subtitle(state), QStringLiteral("Work · Research"));
    state.tabGroupName = QString();
    EXPECT_EQ(SidebarView::subtitle(state), QStringLiteral("Work"));
    state.profileName.clear();
    state.tabGroupName = QStringLiteral("Research");
    EXPECT_EQ(SidebarView::subtitle(state), QStringLiteral("No profile · Research"));
}

TEST_F(SidebarTest, WithoutAppsTheAppsSectionHasNoHeader) {
    showWindow();
    QListWidget* list = sidebar().list();
    EXPECT_FALSE(list->item(0)->isHidden());
    EXPECT_TRUE(list->item(0)->text().isEmpty());
    EXPECT_EQ(list->item(1)->text(), QStringLiteral("Routing"));
    // No row reaches a screen reader unnamed, the blank header included.
    QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(list);
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->childCount(), list->count());
    EXPECT_EQ(rows->child(0)->text(QAccessible::Name), QStringLiteral("Apps"));
    for (int row = 0; row < rows->childCount(); ++row)
        EXPECT_FALSE(rows->child(row)->text(QAccessible::Name).isEmpty()) << row;
    EXPECT_TRUE(shows(sidebar().findChild<QToolButton*>(QStringLiteral("NewProxyAppButton"))));
}

TEST_F(SidebarTest, WithoutProxyAppsNoAppsNoNewButtonNoUpdateMarks) {
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Default"), 1);
    environment.setDisablesHelper(true);
    showWindow();
    ASSERT_FALSE(appModel().canCreateProxyApps());
    EXPECT_TRUE(sidebar().list()->item(0)->isHidden());
    EXPECT_EQ(sidebar().item(Selection::saved(QStringLiteral("app.corvane.old"))), nullptr);
    EXPECT_FALSE(shows(sidebar().findChild<QToolButton*>(QStringLiteral("NewProxyAppButton"))));
    EXPECT_FALSE(shows(renameRow()));
}

TEST_F(SidebarTest, AMovedAppIsMarkedBeforeAnUpdate) {
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Default"), 1);
    installApp(QStringLiteral("Gone"), QStringLiteral("app.corvane.gone"), QStringLiteral("Default"), 1);
    showWindow();
    const Selection outdated = Selection::saved(QStringLiteral("app.corvane.old"));
    QLabel* status = part(outdated, "status");
    ASSERT_TRUE(shows(status));
    EXPECT_TRUE(status->toolTip().startsWith(QStringLiteral("Can be updated. ")))
        << status->toolTip().toStdString();
    EXPECT_EQ(status->accessibleName(), status->toolTip());

    // Gone from disk while it also needs an update: the question mark wins, at the next change shown.
    for (const RegisteredApp& registered : appModel().apps())
        if (registered.bundleID == QStringLiteral("app.corvane.gone"))
            QDir(registered.path).removeRecursively();
    renameEditor(QStringLiteral("Old 2"));
    const Selection gone = Selection::saved(QStringLiteral("app.corvane.gone"));
    QLabel* missing = part(gone, "status");
    ASSERT_TRUE(shows(missing));
    EXPECT_EQ(missing->toolTip(),
              QStringLiteral("This app isn't where it used to be. Right-click to locate it, or "
                             "to remove it from this list."));
}

TEST_F(SidebarTest, TheSelectedAppsMarksFollowTheAppAsListedAfterAnUpdate) {
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Default"), 1);
    showWindow();
    const Selection old = Selection::saved(QStringLiteral("app.corvane.old"));
    ASSERT_EQ(appModel().selection(), old);
    ASSERT_TRUE(shows(part(old, "status")));
    appModel().rebuild(appModel().outdatedApps());
    ASSERT_TRUE(finishWindowBuild());
    ASSERT_EQ(builder.requests().size(), 1u);
    // Still selected, with the editor's copy taken before the update: the row no longer offers it.
    ASSERT_EQ(appModel().selection(), old);
    EXPECT_FALSE(shows(part(old, "status")));
    EXPECT_TRUE(sidebar().item(old)->toolTip().isEmpty());
    // The name still follows the live editor.
    renameEditor(QStringLiteral("Old Office"));
    EXPECT_EQ(title(old), QStringLiteral("Old Office"));
    EXPECT_FALSE(shows(part(old, "status")));
}

TEST_F(SidebarTest, AScreenReaderHearsTheSubtitleThenTheMarks) {
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Default"), 1);
    installApp(QStringLiteral("New"), QStringLiteral("app.corvane.new"));
    showWindow();
    const Selection fresh = Selection::saved(QStringLiteral("app.corvane.new"));
    const Selection old = Selection::saved(QStringLiteral("app.corvane.old"));
    const auto described = [&](const Selection& selection) {
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(sidebar().list());
        const QString name = sidebar().item(selection)->data(Qt::AccessibleTextRole).toString();
        for (int i = 0; list && i < list->childCount(); ++i)
            if (QAccessibleInterface* child = list->child(i); child->text(QAccessible::Name) == name)
                return child->text(QAccessible::Description);
        return QStringLiteral("<no row named ") + name + QLatin1Char('>');
    };
    EXPECT_EQ(described(fresh), subtitleOf(fresh));
    EXPECT_EQ(subtitleOf(fresh), QStringLiteral("Work"));
    EXPECT_EQ(described(old), QStringLiteral("Work. ") + part(old, "status")->toolTip());
}

TEST_F(SidebarTest, RoutingRowsCountEnabledRulesAndRecentLinks) {
    writeRules(2, 1);
    showWindow();
    EXPECT_EQ(badge(Selection::rules()), QStringLiteral("2"));
    EXPECT_TRUE(badge(Selection::recentLinks()).isEmpty());
    recordLinks(3);
    link->push(Event(Event::Kind::routingHistoryChanged));
    environment.time().runUntilIdle();
    EXPECT_EQ(badge(Selection::recentLinks()), QStringLiteral("3"));
    writeRules(0, 2);
    environment.time().advance(6);
    EXPECT_TRUE(badge(Selection::rules()).isEmpty());
    EXPECT_TRUE(badge(Selection::system()).isEmpty());
}

TEST_F(SidebarTest, SystemWarnsUntilTheHelperIsTrustedAndTheDefaultBrowser) {
    showWindow();
    const auto warning = [&] { return part(Selection::system(), "warning"); };
    ASSERT_TRUE(shows(warning()));
    EXPECT_EQ(warning()->toolTip(), QStringLiteral("Corvane isn't set up to route links yet."));

    connectTrustedHelper();
    environment.workspace().addApplicationAt(
        Corvane::installedHelperURL(), {{QStringLiteral("CFBundleIdentifier"), Corvane::helperBundleID}});
    environment.workspace().setDefaultForScheme(QStringLiteral("http"), Corvane::installedHelperURL());
    environment.workspace().setDefaultForScheme(QStringLiteral("https"), Corvane::installedHelperURL());
    routing().refreshFromDisk();
    ASSERT_TRUE(routing().isDefaultBrowser());
    ASSERT_TRUE(appModel().helperTrusted());
    EXPECT_FALSE(shows(warning()));

    // Helper use off: no trust needed, but still not routing while another browser is the default.
    environment.setDisablesHelper(true);
    routing().onHelperUseChanged();
    link->pushTrust(false);
    environment.time().runUntilIdle();
    EXPECT_FALSE(shows(warning()));
    environment.workspace().setDefaultForScheme(QStringLiteral("http"), std::nullopt);
    environment.workspace().setDefaultForScheme(QStringLiteral("https"), std::nullopt);
    routing().refreshFromDisk();
    EXPECT_TRUE(shows(warning()));
}

TEST_F(SidebarTest, TheRenameNoticeOffersTheUpdateAndTheCleanUp) {
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Default"), 1);
    showWindow();
    ASSERT_EQ(appModel().appsNeedingRebuild(), 1);
    ASSERT_TRUE(shows(renameRow()));
    EXPECT_EQ(renameRow()->findChild<QLabel*>(QStringLiteral("RenameRowTitle"))->text(),
              appModel().renameRowTitle());
    EXPECT_EQ(appModel().renameRowTitle(), QStringLiteral("1 app can be updated"));
    auto* update = renameRow()->findChild<QPushButton*>(QStringLiteral("UpdateOutdatedButton"));
    EXPECT_EQ(update->text(), QStringLiteral("Update 1 App"));
    EXPECT_FALSE(shows(renameRow()->findChild<QPushButton*>(QStringLiteral("RemoveOldFilesButton"))));
    update->click();
    ASSERT_TRUE(appModel().isBusy());
    EXPECT_FALSE(update->isEnabled());
    ASSERT_TRUE(finishWindowBuild());
    EXPECT_FALSE(shows(renameRow()));
}

TEST_F(SidebarTest, LeftoversOfTheFormerNameShowTheModelsTitle) {
    QDir().mkpath(Corvane::previousIdentities().front().supportDirectory());
    showWindow();
    ASSERT_TRUE(appModel().renameOutcome().hasLeftovers());
    ASSERT_TRUE(shows(renameRow()));
    EXPECT_EQ(renameRow()->findChild<QLabel*>(QStringLiteral("RenameRowTitle"))->text(),
              appModel().renameRowTitle());
    auto* remove = renameRow()->findChild<QPushButton*>(QStringLiteral("RemoveOldFilesButton"));
    ASSERT_TRUE(shows(remove));
    EXPECT_EQ(remove->text(), QStringLiteral("Remove Old Files…"));
    EXPECT_FALSE(shows(renameRow()->findChild<QPushButton*>(QStringLiteral("UpdateOutdatedButton"))));
}

} // namespace
