// The rules page and its tester on the real models, with the host doubles and a temporary home.
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/ListBox.h"
#include "Corvane/Views/Kit/PageStatusBar.h"
#include "Corvane/Views/Kit/RouteTargetControls.h"
#include "Corvane/Views/Kit/SourceAppControls.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "Corvane/Views/Routing/RuleEditorView.h"
#include "Corvane/Views/Routing/RuleTesterView.h"
#include "Corvane/Views/Routing/RulesList.h"
#include "Corvane/Views/Routing/RulesView.h"
#include "Support/AccessibilityAudit.h"
#include "Support/AppModelFixture.h"
#include "Support/SignalCount.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {

const QString firefoxID = QStringLiteral("org.mozilla.firefox");

Condition addresses(const QStringList& values) {
    return Condition{Condition::Kind::addresses, values};
}

Condition apps(const QStringList& values) {
    return Condition{Condition::Kind::apps, values};
}

LinkRule rule(const QString& name, std::vector<Condition> conditions = {}, bool enabled = true,
              const RouteTarget& target = RouteTarget::browser(firefoxID)) {
    return LinkRule{QUuid::createUuid(), name, target, enabled, MatchMode::any, std::move(conditions)};
}

class RulesViewTest : public test::AppModelFixture {
protected:
    RoutingModel routing;
    std::unique_ptr<RulesView> view;
    QString firefoxPath;

    void SetUp() override {
        AppModelFixture::SetUp();
        firefoxPath = environment.workspace().addApplication(QStringLiteral("Firefox"),
                                                             test::FakeWorkspace::browserInfo(firefoxID));
    }

    void TearDown() override { view.reset(); }

    void saveRules(const std::vector<LinkRule>& rules) {
        RuleSet set = RuleStore::shared().current();
        set.rules = rules;
        RuleStore::shared().save(set);
    }

    void openPage() {
        model->load();
        routing.load();
        environment.time().runUntilIdle();
        view = std::make_unique<RulesView>(*model, routing);
        view->resize(760, 1000);
        view->show();
        settle();
    }

    static void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    template <typename T> T* find(const QString& name) const {
        T* found = view->findChild<T*>(name);
        if (!found)
            ADD_FAILURE() << "no widget named " << name.toStdString();
        return found;
    }

    RulesListView* list() const { return find<RulesListView>(QStringLiteral("rulesList")); }
    RulesListModel* listModel() const { return static_cast<RulesListModel*>(list()->model()); }

    // The names the rows show, top to bottom.
    QStringList shownNames() const {
        QStringList names;
        for (int row = 0; row < listModel()->rowCount(); ++row)
            names << list()->rowWidget(row)->findChild<QLabel*>(QStringLiteral("ruleName"))->accessibleName();
        return names;
    }

    QStringList ruleNames() const {
        QStringList names;
        for (const LinkRule& each : routing.ruleSet().rules)
            names << each.name;
        return names;
    }

    // A drop of `text` on the row, as the list receives it from a drag.
    bool drop(int row, const QString& text) const {
        QMimeData data;
        data.setText(text);
        const QPoint at = list()->visualRect(listModel()->index(row)).center();
        // The application hands a drop to the widget that took the drag's entry.
        QDragEnterEvent enter(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list()->viewport(), &enter);
        QDropEvent event(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list()->viewport(), &event);
        return event.isAccepted();
    }

    bool emptyStateShown() const {
        auto* placeholder = find<QLabel>(QStringLiteral("listBoxPlaceholder"));
        return placeholder->isVisibleTo(view.get()) &&
               placeholder->text() ==
                   QStringLiteral("No rules yet. Every link goes to the fallback below — use + "
                                  "to send some of them somewhere else.");
    }

    QString dragText(int row) const { return RulesListModel::dragText(routing.ruleSet().rules[row].id); }

    QString statusLine() const {
        return find<PageStatusBar>(QStringLiteral("pageStatusBar"))->shownMessage();
    }
    QString statusWarning() const {
        return find<PageStatusBar>(QStringLiteral("pageStatusBar"))->shownWarning();
    }
};

TEST_F(RulesViewTest, DroppingARowOnAnotherMovesItThereRowByRow) {
    saveRules({rule(QStringLiteral("A")), rule(QStringLiteral("B")), rule(QStringLiteral("C")),
               rule(QStringLiteral("D"))});
    openPage();
    QSignalSpy resets(listModel(), &QAbstractItemModel::modelReset);
    RuleRowWidget* rowA = list()->rowWidget(0);

    // Downward: A lands just below C.
    EXPECT_TRUE(drop(2, dragText(0)));
    EXPECT_EQ(ruleNames(), (QStringList{"B", "C", "A", "D"}));
    EXPECT_EQ(shownNames(), ruleNames());
    EXPECT_EQ(list()->rowWidget(2), rowA);
    // Upward: D lands just above C.
    EXPECT_TRUE(drop(1, dragText(3)));
    EXPECT_EQ(ruleNames(), (QStringList{"B", "D", "C", "A"}));
    EXPECT_EQ(shownNames(), ruleNames());
    EXPECT_EQ(RuleStore::shared().current().rules, routing.ruleSet().rules);

    // Refused, and nothing saved: a row on itself, text that names no rule, no text.
    test::SignalCount changes(&routing, &RoutingModel::ruleSetChanged);
    EXPECT_FALSE(drop(1, dragText(1)));
    EXPECT_FALSE(drop(1, QStringLiteral("not a rule")));
    EXPECT_FALSE(drop(1, dragText(1).toLower()));
    EXPECT_FALSE(listModel()->dropOnRow({}, 1));
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(resets.count(), 0);

    // What a drag carries is what a drop takes.
    std::unique_ptr<QMimeData> dragged(listModel()->mimeData({listModel()->index(3)}));
    EXPECT_EQ(dragged->text(), dragText(3));
    EXPECT_FALSE(dragged->text().contains(QLatin1Char('{')));
}

TEST_F(RulesViewTest, TheEnableSwitchSavesAndFollowsChangesMadeElsewhere) {
    saveRules({rule(QStringLiteral("Work"), {addresses({QStringLiteral("*.work.example")})}),
               rule(QStringLiteral("Empty"))});
    openPage();
    RuleRowWidget* row = list()->rowWidget(0);
    QCheckBox* box = row->enableBox();
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(box->toolTip(), QStringLiteral("This rule is running"));
    EXPECT_FALSE(row->findChild<QLabel*>(QStringLiteral("ruleNoConditionsWarning"))->isVisibleTo(row));
    EXPECT_TRUE(list()
                    ->rowWidget(1)
                    ->findChild<QLabel*>(QStringLiteral("ruleNoConditionsWarning"))
                    ->isVisibleTo(list()->rowWidget(1)));

    // A click on the row's text reaches the list and selects the rule; the checkbox keeps its own clicks.
    QTest::mouseClick(list()->rowWidget(1)->findChild<QLabel*>(QStringLiteral("ruleSummary")),
                      Qt::LeftButton);
    EXPECT_EQ(view->selection(), routing.ruleSet().rules[1].id);
    EXPECT_TRUE(list()->selectionModel()->isRowSelected(1, {}));

    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(view->selection(), routing.ruleSet().rules[1].id);
    EXPECT_FALSE(routing.ruleSet().rules[0].isEnabled);
    EXPECT_FALSE(RuleStore::shared().current().rules[0].isEnabled);
    EXPECT_EQ(box->toolTip(), QStringLiteral("This rule is switched off"));
    EXPECT_EQ(box->accessibleName(), QStringLiteral("This rule is switched off"));
    EXPECT_DOUBLE_EQ(static_cast<QGraphicsOpacityEffect*>(row->graphicsEffect())->opacity(), 0.55);

    // Another program switches it back on and renames it: the same row shows it, without a word to the model.
    RuleSet changed = routing.ruleSet();
    changed.rules[0].isEnabled = true;
    changed.rules[0].name = QStringLiteral("Office");
    QThread::msleep(5);
    RuleStore writer;
    writer.save(changed);
    test::SignalCount saves(&routing, &RoutingModel::errorMessageChanged);
    routing.refreshFromDisk();
    EXPECT_EQ(list()->rowWidget(0), row);
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(shownNames(), (QStringList{"Office", "Empty"}));
    EXPECT_EQ(saves.count(), 0);
}

TEST_F(RulesViewTest, AddRemoveDuplicateAndDelete) {
    openPage();
    EXPECT_TRUE(emptyStateShown());
    auto* remove = find<QToolButton>(QStringLiteral("removeRule"));
    EXPECT_FALSE(remove->isEnabled());

    // With no proxy app, "+" takes the first offered browser, selects the new rule and opens it.
    QTest::mouseClick(find<QToolButton>(QStringLiteral("addRule")), Qt::LeftButton);
    ASSERT_EQ(routing.ruleSet().rules.size(), 1u);
    const LinkRule added = routing.ruleSet().rules[0];
    EXPECT_EQ(added.target, RouteTarget::browser(firefoxID));
    EXPECT_EQ(view->selection(), added.id);
    ASSERT_TRUE(view->editing().has_value());
    EXPECT_EQ(view->editing()->id, added.id);
    EXPECT_FALSE(emptyStateShown());
    EXPECT_TRUE(remove->isEnabled());

    // Duplicate appends a copy that is neither selected nor opened.
    saveRules({added, rule(QStringLiteral(""))});
    routing.load();
    const LinkRule untitled = routing.ruleSet().rules[1];
    EXPECT_EQ(shownNames(), (QStringList{"New Rule", "Untitled Rule"}));
    findEntry(view->rowMenu(untitled), QStringLiteral("Duplicate"))->action();
    EXPECT_EQ(ruleNames(), (QStringList{"New Rule", "", " copy"}));
    EXPECT_NE(routing.ruleSet().rules[2].id, untitled.id);
    EXPECT_EQ(view->selection(), added.id);
    EXPECT_EQ(entryTitles(view->rowMenu(untitled)),
              (std::vector<QString>{QStringLiteral("Edit…"), QStringLiteral("Duplicate"), QStringLiteral("-"),
                                    QStringLiteral("Delete")}));

    // Delete from the menu leaves the selection as it is; the remove button then only clears it.
    findEntry(view->rowMenu(added), QStringLiteral("Delete"))->action();
    EXPECT_EQ(ruleNames(), (QStringList{"", " copy"}));
    EXPECT_EQ(view->selection(), added.id);
    EXPECT_TRUE(remove->isEnabled());
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(ruleNames(), (QStringList{"", " copy"}));
    EXPECT_FALSE(view->selection().has_value());
    EXPECT_FALSE(remove->isEnabled());

    // A click selects; remove takes that rule from the list and the file.
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                      list()->visualRect(listModel()->index(1)).center());
    EXPECT_EQ(view->selection(), routing.ruleSet().rules[1].id);
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(ruleNames(), QStringList{""});
    EXPECT_EQ(RuleStore::shared().current().rules.size(), 1u);
    EXPECT_EQ(shownNames(), QStringList{"Untitled Rule"});
}

TEST_F(RulesViewTest, RemoveDeletesTheRuleTheListHighlightsHoweverItGotThere) {
    saveRules({rule(QStringLiteral("A")), rule(QStringLiteral("B")), rule(QStringLiteral("C"))});
    openPage();
    auto* remove = find<QToolButton>(QStringLiteral("removeRule"));

    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                      list()->visualRect(listModel()->index(0)).center());
    QTest::keyClick(list(), Qt::Key_Down);
    EXPECT_TRUE(list()->selectionModel()->isRowSelected(1, {}));
    EXPECT_EQ(view->selection(), routing.ruleSet().rules[1].id);
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(ruleNames(), (QStringList{"A", "C"}));

    // A press that goes on to a drag selects the pressed row, though no click ends on it.
    QTest::mousePress(list()->viewport(), Qt::LeftButton, {},
                      list()->visualRect(listModel()->index(1)).center());
    QTest::mouseRelease(list()->viewport(), Qt::LeftButton, {},
                        list()->visualRect(listModel()->index(0)).center());
    EXPECT_TRUE(list()->selectionModel()->isRowSelected(1, {}));
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(ruleNames(), QStringList{"A"});
    EXPECT_FALSE(remove->isEnabled());
}

TEST_F(RulesViewTest, AddWithNowhereToSendLinksAddsNothing) {
    environment.workspace().removeApplication(firefoxPath);
    saveRules({rule(QStringLiteral("Kept"))});
    openPage();
    QTest::mouseClick(find<QToolButton>(QStringLiteral("addRule")), Qt::LeftButton);
    EXPECT_EQ(ruleNames(), QStringList{"Kept"});
    EXPECT_FALSE(view->editing().has_value());
    EXPECT_FALSE(view->selection().has_value());
    EXPECT_EQ(statusLine(),
              QStringLiteral("Create a proxy app first, or install another browser to send links to."));
}

TEST_F(RulesViewTest, TheBarShowsTheErrorOverTheStatusOverTheDefaultBrowserWarning) {
    saveRules({rule(QStringLiteral("Work"))});
    openPage();
    EXPECT_EQ(statusWarning(),
              QStringLiteral("Corvane isn't the default browser yet, so these rules aren't running."));
    auto* openSystem = find<QPushButton>(QStringLiteral("openSystem"));
    ASSERT_TRUE(openSystem->isVisibleTo(view.get()));
    QTest::mouseClick(openSystem, Qt::LeftButton);
    EXPECT_EQ(model->selection(), AppModel::Selection::system());

    routing.setStatusMessage(QStringLiteral("Corvane now handles web links."));
    EXPECT_EQ(statusLine(), QStringLiteral("Corvane now handles web links."));
    EXPECT_TRUE(statusWarning().isEmpty());
    EXPECT_FALSE(openSystem->isVisibleTo(view.get()));

    // A save that fails: the error wins over the status, and the next good save clears it.
    QFile::remove(Corvane::rulesURL());
    QDir().mkpath(Corvane::rulesURL()); // a folder where the file should go
    QTest::mouseClick(list()->rowWidget(0)->enableBox(), Qt::LeftButton);
    EXPECT_TRUE(statusLine().startsWith(QStringLiteral("Couldn't save the rules: ")));
    QDir(Corvane::rulesURL()).removeRecursively();
    QTest::mouseClick(list()->rowWidget(0)->enableBox(), Qt::LeftButton);
    EXPECT_EQ(statusLine(), QStringLiteral("Corvane now handles web links."));

    // As the default browser with no lines, the bar is empty and hidden.
    const QString helper = environment.workspace().addApplication(
        QStringLiteral("CorvaneHelper"), test::FakeWorkspace::browserInfo(Corvane::helperBundleID));
    environment.workspace().setDefaultForScheme(QStringLiteral("https"), helper);
    environment.workspace().setDefaultForScheme(QStringLiteral("http"), helper);
    routing.setStatusMessage(std::nullopt);
    routing.refreshSystemState();
    ASSERT_TRUE(routing.isDefaultBrowser());
    EXPECT_TRUE(statusLine().isEmpty());
    EXPECT_TRUE(statusWarning().isEmpty());
    EXPECT_FALSE(find<QWidget>(QStringLiteral("rulesFooter"))->isVisibleTo(view.get()));
}

TEST_F(RulesViewTest, FallbackAndLocalFileAdviceFollowTheRuleSetAndTheHandledTypes) {
    openPage();
    auto* fallbackAdvice = find<QLabel>(QStringLiteral("fallbackAdvice"));
    EXPECT_TRUE(fallbackAdvice->text().startsWith(QStringLiteral("Automatic prefers Chrome, then Safari")));
    RuleSet set = routing.ruleSet();
    set.fallback = RouteTarget::browser(firefoxID);
    routing.setRuleSet(set);
    EXPECT_TRUE(fallbackAdvice->text().startsWith(QStringLiteral("Corvane must be the default browser")));

    auto* localAdvice = find<QLabel>(QStringLiteral("localFileAdvice"));
    EXPECT_TRUE(
        localAdvice->text().startsWith(QStringLiteral("Corvane isn't set to open any local files yet")));
    EXPECT_EQ(localAdvice->palette().color(QPalette::WindowText), ViewColors::orange());
}

TEST_F(RulesViewTest, TheFallbackMenusStoreTheirChoiceAndAutomaticStoresNone) {
    openPage();
    auto* fallback = find<OptionalTargetMenu>(QStringLiteral("fallbackMenu"));
    EXPECT_EQ(fallback->automaticTitle(), QStringLiteral("Automatic — Firefox"));
    EXPECT_EQ(find<OptionalTargetMenu>(QStringLiteral("localFileMenu"))->automaticTitle(),
              QStringLiteral("Same as fallback"));

    findEntry(fallback->currentEntries(), QStringLiteral("Firefox"))->action();
    EXPECT_EQ(routing.ruleSet().fallback, RouteTarget::browser(firefoxID));
    EXPECT_EQ(RuleStore::shared().current().fallback, RouteTarget::browser(firefoxID));
    EXPECT_EQ(fallback->shownTitle(), QStringLiteral("Firefox"));
    EXPECT_FALSE(
        find<QLabel>(QStringLiteral("fallbackAdvice"))->text().startsWith(QStringLiteral("Automatic")));

    findEntry(fallback->currentEntries(), QStringLiteral("Automatic — Firefox"))->action();
    EXPECT_FALSE(routing.ruleSet().fallback.has_value());
    EXPECT_FALSE(RuleStore::shared().current().fallback.has_value());
    EXPECT_TRUE(
        find<QLabel>(QStringLiteral("fallbackAdvice"))->text().startsWith(QStringLiteral("Automatic")));

    auto* local = find<OptionalTargetMenu>(QStringLiteral("localFileMenu"));
    findEntry(local->currentEntries(), QStringLiteral("Firefox"))->action();
    EXPECT_EQ(RuleStore::shared().current().localFileTarget, RouteTarget::browser(firefoxID));
    EXPECT_FALSE(routing.ruleSet().fallback.has_value());
}

TEST_F(RulesViewTest, ADoubleClickOrEditOpensTheRuleInAWindowModalSheet) {
    saveRules({rule(QStringLiteral("Work"), {addresses({QStringLiteral("*.work.example")})})});
    openPage();
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {},
                       list()->visualRect(listModel()->index(0)).center());
    auto* sheet = view->findChild<RuleEditorView*>(QStringLiteral("ruleEditor"));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(sheet->isVisible());
    ASSERT_TRUE(view->editing().has_value());
    EXPECT_EQ(view->editing()->name, QStringLiteral("Work"));

    // "Cancel" closes it; the page's rule set is as it was.
    sheet->reject();
    EXPECT_FALSE(view->editing().has_value());
    EXPECT_EQ(ruleNames(), QStringList{"Work"});

    findEntry(view->rowMenu(routing.ruleSet().rules[0]), QStringLiteral("Edit…"))->action();
    ASSERT_TRUE(view->editing().has_value());
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->findChildren<RuleEditorView*>().size() == 1; }));
}

TEST_F(RulesViewTest, EveryControlOfThePageHasAName) {
    saveRules({rule(QStringLiteral("Work"), {addresses({QStringLiteral("*.work.example")})})});
    openPage();
    for (QWidget* widget : view->findChildren<QWidget*>()) {
        const bool interactive = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                                 qobject_cast<QAbstractItemView*>(widget);
        if (!interactive || !widget->isVisibleTo(view.get()))
            continue;
        QAccessibleInterface* readable = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(readable, nullptr);
        EXPECT_FALSE(readable->text(QAccessible::Name).isEmpty())
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
    }
    QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(list());
    ASSERT_GT(rows->childCount(), 0);
    EXPECT_TRUE(rows->child(0)->text(QAccessible::Name).startsWith(QStringLiteral("Work")));
}

TEST_F(RulesViewTest, AScreenReaderFindsOneListOfRulesWithTheirSwitchesAndTheEmptyText) {
    openPage();
    const QString emptyText = QStringLiteral(
        "No rules yet. Every link goes to the fallback below — use + to send some of them somewhere else.");
    const std::vector<QAccessibleInterface*> lists =
        test::accessibleElements(view.get(), QAccessible::List, QStringLiteral("Link Rules"));
    ASSERT_EQ(lists.size(), 1u);
    QAccessibleInterface* rules = lists.front();
    ASSERT_EQ(rules->childCount(), 1);
    EXPECT_EQ(rules->child(0)->text(QAccessible::Name), emptyText);

    view.reset();
    saveRules({rule(QStringLiteral("Work"), {addresses({QStringLiteral("*.work.example")})})});
    openPage();
    ASSERT_EQ(test::accessibleElements(view.get(), QAccessible::List, QStringLiteral("Link Rules")).size(),
              1u);
    rules = test::accessibleElement(view.get(), QAccessible::List, QStringLiteral("Link Rules"));
    ASSERT_EQ(rules->childCount(), 1);
    QAccessibleInterface* row = rules->child(0);
    EXPECT_EQ(row->role(), QAccessible::ListItem);
    EXPECT_EQ(row->text(QAccessible::Name), QStringLiteral("Work, 1 address"));
    EXPECT_EQ(row->text(QAccessible::Description), QStringLiteral("This rule is running"));
    const std::vector<QAccessibleInterface*> switches = test::accessibleChildren(row, QAccessible::CheckBox);
    ASSERT_EQ(switches.size(), 1u);
    EXPECT_TRUE(switches[0]->state().checked);
    // Pressed where the screen reader found it, the switch turns the rule off.
    QAccessibleActionInterface* actions = switches[0]->actionInterface();
    ASSERT_NE(actions, nullptr);
    actions->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !routing.ruleSet().rules[0].isEnabled; }));
    EXPECT_TRUE(test::unnamedInteractiveElements(view.get()).empty())
        << test::describeUnnamed(test::unnamedInteractiveElements(view.get())).toStdString();
}

// MARK: the tester

class RuleTesterTest : public RulesViewTest {
protected:
    QLineEdit* field() const { return find<QLineEdit>(QStringLiteral("testLink")); }
    void type(const QString& text) const {
        field()->clear();
        QTest::keyClicks(field(), text);
    }
    bool shows(const QString& name) const { return find<QWidget>(name)->isVisibleTo(view.get()); }
    QString matches() const { return find<QLabel>(QStringLiteral("testMatches"))->text(); }
    QString opensIn() const {
        QWidget* target = find<QWidget>(QStringLiteral("testTarget"));
        if (auto* label = qobject_cast<QLabel*>(target))
            return label->text();
        if (auto* label = qobject_cast<RouteTargetLabel*>(target))
            return label->shownName();
        return {};
    }
};

TEST_F(RuleTesterTest, AnswersForLinksThatMatchMissAndFallBack) {
    saveRules({rule(QStringLiteral("Off"), {addresses({QStringLiteral("news.example")})}, false),
               rule(QStringLiteral("Work"), {addresses({QStringLiteral("*.work.example")})}),
               rule(QStringLiteral("Files"), {addresses({QStringLiteral("~/work/*")})})});
    openPage();
    EXPECT_TRUE(shows(QStringLiteral("testPrompt")));
    EXPECT_FALSE(shows(QStringLiteral("testMatches")));
    type(QStringLiteral("   "));
    EXPECT_TRUE(shows(QStringLiteral("testPrompt")));

    type(QStringLiteral("docs.work.example/page"));
    EXPECT_FALSE(shows(QStringLiteral("testPrompt")));
    EXPECT_EQ(matches(), QStringLiteral("Work"));
    EXPECT_EQ(matches().isEmpty(), false);

    type(QStringLiteral("https://"));
    EXPECT_TRUE(shows(QStringLiteral("testNotALink")));
    EXPECT_FALSE(shows(QStringLiteral("testMatches")));

    type(QStringLiteral("~/work/notes.txt"));
    EXPECT_EQ(matches(), QStringLiteral("Files"));

    // The disabled rule never claims a link; the automatic fallback names the last-resort browser.
    type(QStringLiteral("news.example"));
    EXPECT_EQ(matches(), QStringLiteral("No rule — the fallback"));
    EXPECT_EQ(opensIn(), QStringLiteral("Firefox"));

    // Switching the rule on in the list changes the answer at once.
    QTest::mouseClick(list()->rowWidget(0)->enableBox(), Qt::LeftButton);
    EXPECT_EQ(matches(), QStringLiteral("Off"));
    EXPECT_EQ(field()->text(), QStringLiteral("news.example"));

    // With no browser left the automatic fallback says so.
    type(QStringLiteral("elsewhere.example"));
    environment.workspace().removeApplication(firefoxPath);
    type(QStringLiteral("elsewhere.example/"));
    EXPECT_EQ(opensIn(), QStringLiteral("No browser available"));
}

TEST_F(RuleTesterTest, ASourceAppRuleMatchesOnlyWhileThatAppIsChosen) {
    saveRules({rule(QStringLiteral("From Mail"), {apps({QStringLiteral("com.example.mail")})})});
    environment.workspace().addRunning(
        host::RunningApplication{41, QStringLiteral("com.example.mail"), QStringLiteral("Mail"), {}, true});
    openPage();
    auto* tester = find<RuleTesterView>(QStringLiteral("ruleTester"));
    type(QStringLiteral("example.com"));
    EXPECT_EQ(matches(), QStringLiteral("No rule — the fallback"));
    EXPECT_FALSE(shows(QStringLiteral("testAnyApp")));

    // Picked from the source menu's running apps.
    auto* menu = find<SourceAppMenu>(QStringLiteral("testSourceMenu"));
    findEntry(menu->currentEntries(), QStringLiteral("Mail"))->action();
    EXPECT_EQ(tester->testSource(), QStringLiteral("com.example.mail"));
    EXPECT_EQ(matches(), QStringLiteral("From Mail"));
    EXPECT_TRUE(shows(QStringLiteral("testAnyApp")));
    EXPECT_EQ(find<SourceAppLabel>(QStringLiteral("testSourceLabel"))->shownName(), QStringLiteral("Mail"));
    QTest::mouseClick(find<QPushButton>(QStringLiteral("testAnyApp")), Qt::LeftButton);
    EXPECT_FALSE(tester->testSource().has_value());
    EXPECT_EQ(matches(), QStringLiteral("No rule — the fallback"));
}

TEST_F(RuleTesterTest, ARefreshKeepsTheTypedTextAndTheFocus) {
    saveRules({rule(QStringLiteral("Work"), {addresses({QStringLiteral("*.work.example")})})});
    openPage();
    view->activateWindow();
    field()->setFocus();
    type(QStringLiteral("a.work.example"));
    field()->setCursorPosition(3);
    routing.refreshFromDisk();
    saveRules({rule(QStringLiteral("Other"))});
    routing.load();
    EXPECT_EQ(field()->text(), QStringLiteral("a.work.example"));
    EXPECT_EQ(field()->cursorPosition(), 3);
    EXPECT_TRUE(field()->hasFocus());
    EXPECT_EQ(matches(), QStringLiteral("No rule — the fallback"));
}

} // namespace
