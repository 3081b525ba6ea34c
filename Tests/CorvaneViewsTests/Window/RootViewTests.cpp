// The window's root: the page the selection chooses, the placeholder, the unsaved-changes alert, the window
// and its menus, and that every page can be read by a screen reader.
#include "Corvane/Views/Editor/MigrationView.h"
#include "Corvane/Views/Kit/PageStatusBar.h"
#include "Corvane/Views/Window/CreatorWindow.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "Support/AccessibilityAudit.h"
#include "Support/CreatorWindowFixture.h"
#include "Support/HelperDoubles.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

namespace {

using Selection = AppModel::Selection;
using PageKind = RootView::PageKind;

class RootViewTest : public test::CreatorWindowFixture {
protected:
    QString placeholderText(const char* name) {
        auto* label = root->findChild<QLabel*>(QString::fromLatin1(name));
        return label ? label->text() : QString();
    }
    QPushButton* placeholderButton() {
        return root->findChild<QPushButton*>(QStringLiteral("PlaceholderButton"));
    }
    QMessageBox* alert() { return root->unsavedAlert(); }
    QPushButton* alertButton(const char* name) {
        return alert() ? alert()->findChild<QPushButton*>(QString::fromLatin1(name)) : nullptr;
    }
    void installTwoApps() {
        installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"));
        installApp(QStringLiteral("Beta"), QStringLiteral("app.corvane.beta"));
    }
};

TEST_F(RootViewTest, FirstStartWithoutAppsOffersTheFirstOne) {
    showWindow();
    EXPECT_FALSE(appModel().selection().has_value());
    EXPECT_EQ(root->pageKind(), PageKind::placeholder);
    EXPECT_EQ(root->navigationTitle(), QStringLiteral("Corvane"));
    EXPECT_EQ(placeholderText("PlaceholderTitle"), QStringLiteral("No Proxy Apps Yet"));
    EXPECT_EQ(
        placeholderText("PlaceholderDescription"),
        QStringLiteral("Use the + button in the sidebar to create a proxy app — one that opens Chrome with a "
                       "particular profile, or with one of its tab groups."));
    ASSERT_NE(placeholderButton(), nullptr);
    EXPECT_EQ(placeholderButton()->text(), QStringLiteral("New Proxy App"));
    placeholderButton()->click();
    ASSERT_EQ(appModel().drafts().size(), 1u);
    EXPECT_EQ(root->pageKind(), PageKind::editor);
    // A draft with no name yet.
    EXPECT_EQ(root->navigationTitle(), QStringLiteral("New Proxy App"));
}

TEST_F(RootViewTest, TheModelsLoadOnlyAfterTheWindowIsFirstDrawn) {
    installTwoApps();
    creator = std::make_unique<CreatorApp>(link);
    appModel().installHelper = [](bool) { return false; };
    appModel().loadSymbolCatalog = {};
    root = std::make_unique<RootView>(*creator);
    root->resize(980, 640);
    root->show();
    // Shown, not drawn yet: what the main queue holds now loads nothing.
    environment.time().runUntilIdle();
    EXPECT_TRUE(appModel().apps().empty());
    EXPECT_EQ(root->pageKind(), PageKind::placeholder);

    ASSERT_TRUE(QTest::qWaitForWindowExposed(root.get()));
    QCoreApplication::processEvents();
    environment.time().runUntilIdle();
    EXPECT_EQ(appModel().apps().size(), 2u);
    EXPECT_EQ(root->pageKind(), PageKind::editor);

    // Later paints start nothing again: the apps loaded once stay as they are.
    QSignalSpy reloads(&appModel(), &AppModel::appsChanged);
    root->repaint();
    environment.time().runUntilIdle();
    EXPECT_EQ(reloads.count(), 0);
}

TEST_F(RootViewTest, WithAppsTheFirstIsShownAndNothingSelectedSaysSo) {
    installTwoApps();
    showWindow();
    EXPECT_EQ(appModel().selection(), Selection::saved(QStringLiteral("app.corvane.alpha")));
    EXPECT_EQ(root->pageKind(), PageKind::editor);
    renameEditor(QStringLiteral("  Alpha Office \n"));
    EXPECT_EQ(root->findChild<QLabel*>(QStringLiteral("NavigationTitle"))->text(),
              QStringLiteral("Alpha Office"));

    appModel().setSelection(std::nullopt);
    EXPECT_EQ(root->pageKind(), PageKind::placeholder);
    EXPECT_EQ(placeholderText("PlaceholderTitle"), QStringLiteral("No App Selected"));
    EXPECT_EQ(placeholderText("PlaceholderDescription"),
              QStringLiteral("Choose an app from the sidebar, or use + to create another."));
    EXPECT_EQ(placeholderButton()->text(), QStringLiteral("New Proxy App"));
}

TEST_F(RootViewTest, ThePlaceholderShowsWhatTheAppModelReports) {
    showWindow();
    ASSERT_EQ(root->pageKind(), PageKind::placeholder);
    auto* bar = root->findChild<PageStatusBar*>(QStringLiteral("PlaceholderStatusBar"));
    ASSERT_NE(bar, nullptr);
    appModel().setStatusMessage(QStringLiteral("Imported 2 apps."));
    EXPECT_EQ(bar->shownMessage(), QStringLiteral("Imported 2 apps."));
    appModel().setStatusMessage(std::nullopt);
    EXPECT_TRUE(bar->isHidden());
}

TEST_F(RootViewTest, RoutingOnlyShowsThePlaceholderEvenForASelectedAppAndOpensRules) {
    installTwoApps();
    environment.setDisablesHelper(true);
    showWindow();
    ASSERT_FALSE(appModel().canCreateProxyApps());
    appModel().setSelection(Selection::saved(QStringLiteral("app.corvane.alpha")));
    EXPECT_EQ(root->pageKind(), PageKind::placeholder);
    EXPECT_EQ(root->navigationTitle(), QStringLiteral("Corvane"));
    EXPECT_EQ(placeholderText("PlaceholderTitle"), QStringLiteral("Routing Only"));
    EXPECT_EQ(placeholderText("PlaceholderDescription"),
              QStringLiteral("Links are routed to the browser each rule picks. Choose Rules or System in the "
                             "sidebar. Proxy apps are created by the companion app."));
    EXPECT_EQ(placeholderButton()->text(), QStringLiteral("Open Rules"));
    placeholderButton()->click();
    EXPECT_EQ(appModel().selection(), Selection::rules());
    EXPECT_EQ(root->pageKind(), PageKind::rules);
    EXPECT_EQ(root->navigationTitle(), QStringLiteral("Rules"));
    // No new app without the helper, however asked.
    root->newApp();
    EXPECT_TRUE(appModel().drafts().empty());
}

TEST_F(RootViewTest, OnlyANewKindOfPageIsMadeAfresh) {
    installTwoApps();
    showWindow();
    QPointer<QWidget> editor = root->page();
    sidebar().chooseRow(Selection::saved(QStringLiteral("app.corvane.beta")));
    EXPECT_EQ(root->page(), editor.data());
    EXPECT_EQ(root->navigationTitle(), QStringLiteral("Beta"));
    const struct {
        Selection selection;
        PageKind kind;
        const char* objectName;
        const char* title;
    } pages[] = {
        {Selection::rules(), PageKind::rules, "RulesView", "Rules"},
        {Selection::system(), PageKind::system, "SystemView", "System"},
        {Selection::recentLinks(), PageKind::recentLinks, "RecentLinksView", "Recent Links"},
    };
    for (const auto& page : pages) {
        sidebar().chooseRow(page.selection);
        EXPECT_EQ(root->pageKind(), page.kind);
        EXPECT_EQ(root->page()->objectName(), QString::fromLatin1(page.objectName));
        EXPECT_EQ(root->navigationTitle(), QString::fromUtf8(page.title));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(editor.isNull());
}

TEST_F(RootViewTest, TheUnsavedAlertHoldsTheHighlightUntilAnswered) {
    installTwoApps();
    showWindow();
    const Selection alpha = Selection::saved(QStringLiteral("app.corvane.alpha"));
    const Selection beta = Selection::saved(QStringLiteral("app.corvane.beta"));
    ASSERT_EQ(highlighted(), alpha);

    // Cancel: nothing moves.
    renameEditor(QStringLiteral("Alpha 2"));
    sidebar().chooseRow(beta);
    ASSERT_NE(alert(), nullptr);
    EXPECT_TRUE(alert()->isVisible());
    EXPECT_EQ(alert()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(alert()->text(), QStringLiteral("Save your changes?"));
    EXPECT_EQ(alert()->informativeText(),
              QStringLiteral("“Alpha 2” has changes that haven't been saved yet."));
    EXPECT_EQ(highlighted(), alpha);
    alertButton("UnsavedCancelButton")->click();
    EXPECT_EQ(alert(), nullptr);
    EXPECT_FALSE(appModel().unsavedPrompt().has_value());
    EXPECT_EQ(highlighted(), alpha);
    EXPECT_EQ(appModel().editor().name, QStringLiteral("Alpha 2"));

    // Escape is Cancel too; a blank name is "this app".
    renameEditor(QStringLiteral("   "));
    sidebar().chooseRow(Selection::rules());
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->informativeText(),
              QStringLiteral("“this app” has changes that haven't been saved yet."));
    QTest::keyClick(alert(), Qt::Key_Escape);
    EXPECT_EQ(alert(), nullptr);
    EXPECT_EQ(highlighted(), alpha);
    EXPECT_EQ(appModel().selection(), alpha);

    // Discard: moves, the edits are gone.
    renameEditor(QStringLiteral("Alpha 3"));
    sidebar().chooseRow(beta);
    alertButton("UnsavedDiscardButton")->click();
    EXPECT_EQ(alert(), nullptr);
    EXPECT_EQ(appModel().selection(), beta);
    EXPECT_EQ(highlighted(), beta);
    EXPECT_EQ(appModel().state(alpha)->name, QStringLiteral("Alpha"));

    // Save: moves once the save is done.
    renameEditor(QStringLiteral("Gamma"));
    sidebar().chooseRow(Selection::system());
    alertButton("UnsavedSaveButton")->click();
    EXPECT_EQ(alert(), nullptr);
    ASSERT_TRUE(finishWindowBuild());
    QCoreApplication::processEvents();
    EXPECT_EQ(appModel().selection(), Selection::system());
    EXPECT_EQ(highlighted(), Selection::system());
    EXPECT_EQ(root->pageKind(), PageKind::system);
    EXPECT_EQ(appModel().state(beta)->name, QStringLiteral("Gamma"));
}

TEST_F(RootViewTest, NewAppWithUnsavedEditsAsksFirst) {
    installTwoApps();
    showWindow();
    renameEditor(QStringLiteral("Alpha 2"));
    sidebar().findChild<QToolButton*>(QStringLiteral("NewProxyAppButton"))->click();
    ASSERT_NE(alert(), nullptr);
    EXPECT_TRUE(appModel().drafts().empty());
    alertButton("UnsavedDiscardButton")->click();
    ASSERT_EQ(appModel().drafts().size(), 1u);
    EXPECT_EQ(highlighted(), Selection::draft(appModel().drafts()[0].id));
    // Leaving a draft never asks.
    sidebar().chooseRow(Selection::rules());
    EXPECT_EQ(alert(), nullptr);
    EXPECT_EQ(appModel().selection(), Selection::rules());
}

TEST_F(RootViewTest, TheImportSheetIsWindowModalWhileTheModelAsks) {
    showWindow();
    appModel().setShowingMigration(true);
    ASSERT_NE(root->migrationSheet(), nullptr);
    EXPECT_TRUE(root->migrationSheet()->isVisible());
    EXPECT_EQ(root->migrationSheet()->windowModality(), Qt::WindowModal);
    root->migrationSheet()->reject();
    EXPECT_FALSE(appModel().showingMigration());
    appModel().setShowingMigration(true);
    appModel().setShowingMigration(false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(root->migrationSheet(), nullptr);
}

TEST_F(RootViewTest, EveryPageNamesItsControls) {
    installTwoApps();
    showWindow();
    const Selection pages[] = {Selection::saved(QStringLiteral("app.corvane.alpha")), Selection::rules(),
                               Selection::system(), Selection::recentLinks()};
    for (const Selection& page : pages) {
        appModel().setSelection(page);
        QCoreApplication::processEvents();
        const auto unnamed = test::unnamedInteractiveElements(root.get());
        EXPECT_TRUE(unnamed.empty()) << root->navigationTitle().toStdString() << ":\n"
                                     << test::describeUnnamed(unnamed).toStdString();
    }
    appModel().setSelection(std::nullopt);
    QCoreApplication::processEvents();
    EXPECT_TRUE(test::unnamedInteractiveElements(root.get()).empty());
}

TEST_F(RootViewTest, BecomingActiveRereadsTheRoutingFiles) {
    showWindow();
    ASSERT_EQ(routing().ruleSet().rules.size(), 0u);
    RuleSet set;
    set.rules.push_back(LinkRule{.target = RouteTarget::browser(QStringLiteral("org.chromium.Chromium"))});
    // Another program writes the rules meanwhile.
    RuleStore().save(set);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_EQ(routing().ruleSet().rules.size(), 0u);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(routing().ruleSet().rules.size(), 1u);
}

class CreatorWindowTest : public RootViewTest {
protected:
    std::shared_ptr<test::FakeApplication> application = std::make_shared<test::FakeApplication>();
    test::ServiceOverride<host::Application> applicationScope{host::services().application, application};
};

TEST_F(CreatorWindowTest, OneWindowWithAboutAndQuitThatEndsTheAppWhenClosed) {
    creator = std::make_unique<CreatorApp>(link);
    creator->model().installHelper = [](bool) { return false; };
    creator->model().loadSymbolCatalog = {};
    auto delegate = std::make_shared<CreatorAppDelegate>(creator->model());
    application->setDelegate(delegate);
    CreatorWindow window(*creator);
    window.show();
    environment.time().runUntilIdle();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Corvane"));
    EXPECT_EQ(window.minimumSize(), QSize(980, 640));

    QStringList titles;
    for (QAction* menu : window.menuBar()->actions())
        for (QAction* action : menu->menu()->actions())
            titles.append(action->text());
    EXPECT_TRUE(titles.contains(QStringLiteral("About Corvane")));
    for (const QString& title : titles)
        EXPECT_FALSE(title.contains(QStringLiteral("New"))) << title.toStdString();

    window.close();
    EXPECT_TRUE(application->terminated);
}

TEST_F(CreatorWindowTest, TheWindowsTitleFollowsThePage) {
    installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"));
    creator = std::make_unique<CreatorApp>(link);
    creator->model().installHelper = [](bool) { return false; };
    creator->model().loadSymbolCatalog = {};
    CreatorWindow window(*creator);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Corvane"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    environment.time().runUntilIdle();
    AppModel& model = creator->model();
    ASSERT_EQ(model.selection(), Selection::saved(QStringLiteral("app.corvane.alpha")));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Alpha — Corvane"));

    // The editor's name, trimmed, as it is typed.
    EditorState edited = model.editor();
    edited.name = QStringLiteral("  Alpha Office \n");
    model.setEditor(edited);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Alpha Office — Corvane"));

    const struct {
        Selection selection;
        const char* title;
    } pages[] = {{Selection::rules(), "Rules — Corvane"},
                 {Selection::system(), "System — Corvane"},
                 {Selection::recentLinks(), "Recent Links — Corvane"}};
    for (const auto& page : pages) {
        model.setSelection(page.selection);
        EXPECT_EQ(window.windowTitle(), QString::fromUtf8(page.title));
    }
    model.setSelection(std::nullopt);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Corvane"));
    model.navigate(AppModel::PendingNavigation::newApp());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("New Proxy App — Corvane"));

    // An app named like the placeholder's title keeps an app's title form.
    edited = model.editor();
    edited.name = QStringLiteral("Corvane");
    model.setEditor(edited);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Corvane — Corvane"));
    model.discardDraft(model.drafts().front().id);
    model.setSelection(std::nullopt);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Corvane"));
    model.navigate(AppModel::PendingNavigation::newApp());
    edited = model.editor();
    edited.name = QStringLiteral("Corvane");
    model.setEditor(edited);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Corvane — Corvane"));
}

} // namespace
