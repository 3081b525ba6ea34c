// The rule editor sheet and its condition blocks, driven as a user would, on the real routing model.
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/ListBox.h"
#include "Corvane/Views/Kit/SourceAppControls.h"
#include "Corvane/Views/Routing/RuleEditorView.h"
#include "Support/AccessibilityAudit.h"
#include "Support/ModelEnvironment.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

// Readable failures: a rule as its JSON.
void PrintTo(const LinkRule& rule, std::ostream* out) {
    *out << QJsonDocument(rule.toJson()).toJson(QJsonDocument::Compact).toStdString();
}

namespace {

using Titles = std::vector<QString>;

void trigger(const std::vector<MenuEntry>& entries, const QString& title) {
    const MenuEntry* entry = findEntry(entries, title);
    ASSERT_NE(entry, nullptr) << title.toStdString();
    ASSERT_TRUE(entry->action);
    entry->action();
}

TEST(ConditionBlock, TextModeKeepsNonBlankRowsAsTypedAndListModeTrimsAndClearsTheSelection) {
    ConditionBlock block = ConditionBlock::from(
        Condition{Condition::Kind::addresses,
                  {QStringLiteral("a.com"), QStringLiteral(" \t"), QStringLiteral("  b.com ")}});
    block.selection = block.rows[1].id;
    block.toggleTextMode();
    EXPECT_EQ(block.text, QStringLiteral("a.com\n  b.com "));
    EXPECT_EQ(block.values(), (QStringList{QStringLiteral("a.com"), QStringLiteral("b.com")}));

    block.text = QStringLiteral("\n  c.com\r\n\t\nd.com  \n");
    block.toggleTextMode();
    ASSERT_EQ(block.rows.size(), 2u);
    EXPECT_EQ(block.rows[0].text, QStringLiteral("c.com"));
    EXPECT_EQ(block.rows[1].text, QStringLiteral("d.com"));
    EXPECT_FALSE(block.selection) << "no row is selected after the switch back to the list";
}

TEST(ConditionBlock, RemoveTakesTheSelectedRowOrElseTheLast) {
    ConditionBlock block = ConditionBlock::empty(Condition::Kind::addresses);
    block.appendRow(QStringLiteral("a"), false);
    const QUuid middle = block.appendRow(QStringLiteral("b"), true);
    block.appendRow(QStringLiteral("c"), false);
    ASSERT_EQ(block.selection, middle);
    block.removeSelectedOrLast();
    EXPECT_EQ(block.values(), (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
    EXPECT_FALSE(block.selection);
    block.removeSelectedOrLast();
    EXPECT_EQ(block.values(), QStringList{QStringLiteral("a")});
}

class RuleEditorTest : public testing::Test {
protected:
    test::ModelEnvironment environment;
    RoutingModel routing;
    QTemporaryDir folder;
    QString workPath;
    QString chromePath;
    TargetDirectory directory;
    LinkRule rule{QUuid::createUuid(), QStringLiteral("Work SaaS"),
                  RouteTarget::proxyApp(QStringLiteral("app.corvane.work"))};
    QWidget window;

    void SetUp() override {
        chromePath = environment.workspace().addApplication(
            QStringLiteral("Google Chrome"),
            test::FakeWorkspace::browserInfo(QStringLiteral("com.google.Chrome")));
        environment.workspace().addApplication(
            QStringLiteral("Firefox"),
            test::FakeWorkspace::browserInfo(QStringLiteral("org.mozilla.firefox")));
        routing.load();
        workPath = folder.filePath(QStringLiteral("Work.app"));
        QDir().mkpath(workPath);
        RegisteredApp work;
        work.bundleID = QStringLiteral("app.corvane.work");
        work.name = QStringLiteral("Work");
        work.path = workPath;
        directory = TargetDirectory{{work}, routing.browsers()};

        rule.conditions = {Condition{Condition::Kind::addresses, {QStringLiteral("*.slack.com")}}};
        RuleSet set = routing.ruleSet();
        set.rules = {rule};
        routing.setRuleSet(set);
        routing.save();
        window.resize(800, 700);
        window.show();
    }

    RuleEditorView* openSheet() {
        auto* sheet = RuleEditorView::present(rule, directory, routing, &window);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet));
        return sheet;
    }

    static LinkRule stored() {
        RuleStore::shared().reloadIfChanged();
        return RuleStore::shared().set().rules.at(0);
    }

    template <typename T> static T* child(QWidget* parent, const char* name) {
        T* found = parent->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    static QLineEdit* addressField(ConditionBlockEditor* editor, int row) {
        auto* box = editor->findChild<ListBox*>(QStringLiteral("conditionValues"));
        return qobject_cast<QLineEdit*>(box->rowWidget(row));
    }

    static QToolButton* removeButton(ConditionBlockEditor* editor) {
        return editor->findChild<QToolButton*>(QStringLiteral("listBoxRemove"));
    }
};

TEST_F(RuleEditorTest, EditsReachTheRuleOnlyThroughDone) {
    QPointer<RuleEditorView> sheet = openSheet();
    EXPECT_TRUE(sheet->isModal());
    auto* name = child<QLineEdit>(sheet, "ruleName");
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("  Chat "));
    child<QCheckBox>(sheet, "ruleEnabled")->click();
    auto* match = child<QComboBox>(sheet, "ruleMatch");
    match->setCurrentIndex(1);
    emit match->activated(1);
    trigger(sheet->blockEditors().at(0)->headerMenuEntries(), QStringLiteral("Remove Condition"));
    sheet->addBlock(Condition::Kind::addresses);
    QTest::mouseClick(child<QToolButton>(sheet->blockEditors().at(0), "listBoxAdd"), Qt::LeftButton);
    QTest::keyClicks(addressField(sheet->blockEditors().at(0), 0), QStringLiteral(" github.com "));
    EXPECT_EQ(stored(), rule) << "nothing is saved while editing";

    QTest::keyClick(sheet, Qt::Key_Return);
    QTRY_VERIFY(sheet.isNull());
    LinkRule expected = rule;
    expected.name = QStringLiteral("  Chat ");
    expected.isEnabled = false;
    expected.match = MatchMode::all;
    expected.conditions = {Condition{Condition::Kind::addresses, {QStringLiteral(" github.com ")}}};
    EXPECT_EQ(routing.ruleSet().rules.at(0), expected);
    EXPECT_EQ(stored(), expected);
}

TEST_F(RuleEditorTest, EscapeDropsAddedConditionsAndSavesNothing) {
    QPointer<RuleEditorView> sheet = openSheet();
    const QDateTime written = QFileInfo(Corvane::rulesURL()).lastModified();
    // Through the "Add Condition" menu as the user opens it.
    QMenu* addMenu = child<QToolButton>(sheet, "addCondition")->menu();
    for (const char* kind : {"Addresses", "Source Apps"}) {
        emit addMenu->aboutToShow();
        const QList<QAction*> actions = addMenu->actions();
        auto found = std::find_if(actions.begin(), actions.end(),
                                  [&](QAction* action) { return action->text() == QLatin1String(kind); });
        ASSERT_NE(found, actions.end()) << kind;
        (*found)->trigger();
    }
    const std::vector<ConditionBlock> blocks = sheet->blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[1].kind, Condition::Kind::addresses);
    EXPECT_EQ(blocks[2].kind, Condition::Kind::apps);
    EXPECT_TRUE(blocks[1].rows.empty());
    EXPECT_FALSE(blocks[2].isTextMode);

    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(sheet.isNull());
    EXPECT_EQ(routing.ruleSet().rules.at(0), rule);
    EXPECT_EQ(QFileInfo(Corvane::rulesURL()).lastModified(), written);
}

TEST_F(RuleEditorTest, FooterWarnsUntilABlockHoldsAUsableValueAndNamesTheChosenTarget) {
    rule.conditions = {Condition{Condition::Kind::addresses, {QStringLiteral("  ")}}};
    routing.update(rule);
    QPointer<RuleEditorView> sheet = openSheet();
    auto* warning = child<QWidget>(sheet, "noConditionsWarning");
    auto* footer = child<QLabel>(sheet, "ruleFooter");
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(footer->text(),
              QStringLiteral("Links matching this rule open in Work. If two rules match, the higher "
                             "one on the Rules list wins."));

    ConditionBlockEditor* block = sheet->blockEditors().at(0);
    QLineEdit* field = addressField(block, 0);
    QTest::keyClicks(field, QStringLiteral("a"));
    EXPECT_FALSE(warning->isVisible());
    EXPECT_EQ(block->summaryText(), QStringLiteral("1 address"));
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(block->summaryText(), QStringLiteral("0 addresses"));

    auto* target = child<RouteTargetMenu>(sheet, "ruleTarget");
    trigger(target->currentEntries(), QStringLiteral("Google Chrome — Incognito"));
    EXPECT_EQ(footer->text(),
              QStringLiteral("Links matching this rule open in Google Chrome — Incognito. If two "
                             "rules match, the higher one on the Rules list wins."));

    // The blank-only block is dropped; the rule is saved with no conditions and the private target.
    sheet->commit();
    QTRY_VERIFY(sheet.isNull());
    EXPECT_TRUE(stored().conditions.empty());
    EXPECT_EQ(stored().target, RouteTarget::browser(QStringLiteral("com.google.Chrome"), true));
}

TEST_F(RuleEditorTest, BlocksKeepTheirOrderAndAllValuesOfAUsableBlock) {
    rule.conditions = {
        Condition{Condition::Kind::addresses, {QStringLiteral(" "), QStringLiteral("\t")}},
        Condition{Condition::Kind::apps, {QStringLiteral("com.apple.mail")}},
        Condition{Condition::Kind::addresses, {QStringLiteral(""), QStringLiteral(" x.com ")}}};
    routing.update(rule);
    QPointer<RuleEditorView> sheet = openSheet();
    ASSERT_EQ(sheet->blockEditors().size(), 3u);
    QTest::mouseClick(child<QPushButton>(sheet, "ruleDone"), Qt::LeftButton);
    QTRY_VERIFY(sheet.isNull());
    const std::vector<Condition> expected{rule.conditions[1], rule.conditions[2]};
    EXPECT_EQ(stored().conditions, expected);
}

TEST_F(RuleEditorTest, AddressListSelectionAndRemoveButton) {
    rule.conditions.clear();
    routing.update(rule);
    QPointer<RuleEditorView> sheet = openSheet();
    EXPECT_TRUE(child<QWidget>(sheet, "noConditionsWarning")->isVisible());
    sheet->addBlock(Condition::Kind::addresses);
    ConditionBlockEditor* block = sheet->blockEditors().at(0);
    EXPECT_EQ(block->summaryText(), QStringLiteral("0 addresses"));
    EXPECT_FALSE(removeButton(block)->isEnabled());
    EXPECT_FALSE(child<QLabel>(block, "listBoxPlaceholder")->isHidden());
    EXPECT_EQ(child<QLabel>(block, "listBoxPlaceholder")->text(),
              QStringLiteral("No addresses yet — use + to add one."));

    auto* add = child<QToolButton>(block, "listBoxAdd");
    for (const QString& text : {QStringLiteral("a.com"), QStringLiteral("b.com"), QStringLiteral("c.com")}) {
        QTest::mouseClick(add, Qt::LeftButton);
        EXPECT_EQ(block->block().selection, block->block().rows.back().id) << "a new row is selected";
        QTest::keyClicks(addressField(block, int(block->block().rows.size()) - 1), text);
    }
    EXPECT_EQ(block->summaryText(), QStringLiteral("3 addresses"));
    EXPECT_TRUE(removeButton(block)->isEnabled());

    // Clicking into the first row selects it; remove takes it and leaves nothing selected.
    QTest::mouseClick(addressField(block, 0), Qt::LeftButton);
    EXPECT_EQ(block->block().selection, block->block().rows[0].id);
    QTest::mouseClick(removeButton(block), Qt::LeftButton);
    EXPECT_EQ(block->block().values(), (QStringList{QStringLiteral("b.com"), QStringLiteral("c.com")}));
    EXPECT_FALSE(block->block().selection);
    EXPECT_TRUE(child<QListWidget>(block, "listBoxRows")->selectedItems().isEmpty());
    QTest::mouseClick(removeButton(block), Qt::LeftButton);
    EXPECT_EQ(block->block().values(), QStringList{QStringLiteral("b.com")});
}

TEST_F(RuleEditorTest, AScreenReaderFindsTheConditionsAndTheirValuesAsRows) {
    rule.conditions.clear();
    routing.update(rule);
    QPointer<RuleEditorView> sheet = openSheet();
    sheet->addBlock(Condition::Kind::addresses);
    ConditionBlockEditor* block = sheet->blockEditors().at(0);
    QAccessibleInterface* conditions =
        test::accessibleElement(sheet, QAccessible::List, QStringLiteral("Conditions"));
    ASSERT_NE(conditions, nullptr);
    const std::vector<QAccessibleInterface*> blocks =
        test::accessibleChildren(conditions, QAccessible::ListItem);
    ASSERT_EQ(blocks.size(), 1u);
    const QString title = blocks[0]->text(QAccessible::Name);
    EXPECT_FALSE(title.isEmpty());

    // The values' list says it is empty, then reads each value by what it holds, with its field inside.
    const auto values = [&] {
        for (QAccessibleInterface* list : test::accessibleElements(sheet, QAccessible::List, title))
            if (list->object() == child<QListWidget>(block, "listBoxRows"))
                return list;
        return static_cast<QAccessibleInterface*>(nullptr);
    };
    ASSERT_NE(values(), nullptr);
    ASSERT_EQ(values()->childCount(), 1);
    EXPECT_EQ(values()->child(0)->text(QAccessible::Name),
              QStringLiteral("No addresses yet — use + to add one."));
    QTest::mouseClick(child<QToolButton>(block, "listBoxAdd"), Qt::LeftButton);
    QTest::keyClicks(addressField(block, 0), QStringLiteral("work.example"));
    const std::vector<QAccessibleInterface*> rows = test::accessibleChildren(values(), QAccessible::ListItem);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->text(QAccessible::Name), QStringLiteral("work.example"));
    const std::vector<QAccessibleInterface*> fields =
        test::accessibleChildren(rows[0], QAccessible::EditableText);
    ASSERT_EQ(fields.size(), 1u);
    EXPECT_EQ(fields[0]->object(), addressField(block, 0));
    EXPECT_TRUE(test::unnamedInteractiveElements(sheet).empty())
        << test::describeUnnamed(test::unnamedInteractiveElements(sheet)).toStdString();
}

TEST_F(RuleEditorTest, TextModeRoundTripLeavesNoStaleSelection) {
    rule.conditions = {
        Condition{Condition::Kind::addresses, {QStringLiteral("a.com"), QStringLiteral("b.com")}}};
    routing.update(rule);
    QPointer<RuleEditorView> sheet = openSheet();
    ConditionBlockEditor* block = sheet->blockEditors().at(0);
    QTest::mouseClick(addressField(block, 1), Qt::LeftButton);
    ASSERT_TRUE(block->block().selection);

    trigger(block->headerMenuEntries(), QStringLiteral("Edit as Text"));
    auto* text = child<QPlainTextEdit>(block, "conditionText");
    EXPECT_EQ(child<QStackedWidget>(block, "conditionBodies")->currentWidget(), text->parentWidget());
    EXPECT_EQ(text->toPlainText(), QStringLiteral("a.com\nb.com"));
    EXPECT_EQ(entryTitles(block->headerMenuEntries()), (Titles{"Edit as List", "-", "Remove Condition"}));
    text->selectAll();
    QTest::keyClick(text, Qt::Key_Delete);
    EXPECT_EQ(block->summaryText(), QStringLiteral("0 addresses"));
    EXPECT_TRUE(child<QWidget>(sheet, "noConditionsWarning")->isVisible());
    QTest::keyClicks(text, QStringLiteral("  x.com"));
    QTest::keyClick(text, Qt::Key_Return);
    QTest::keyClick(text, Qt::Key_Return);
    QTest::keyClicks(text, QStringLiteral(" y.com"));
    EXPECT_EQ(block->summaryText(), QStringLiteral("2 addresses"));

    trigger(block->headerMenuEntries(), QStringLiteral("Edit as List"));
    EXPECT_EQ(block->block().values(), (QStringList{QStringLiteral("x.com"), QStringLiteral("y.com")}));
    EXPECT_FALSE(block->block().selection);
    EXPECT_TRUE(child<QListWidget>(block, "listBoxRows")->selectedItems().isEmpty());

    // Emptied in text mode and switched back: nothing to remove, so the button is off.
    trigger(block->headerMenuEntries(), QStringLiteral("Edit as Text"));
    text->selectAll();
    QTest::keyClick(text, Qt::Key_Delete);
    trigger(block->headerMenuEntries(), QStringLiteral("Edit as List"));
    EXPECT_TRUE(block->block().rows.empty());
    EXPECT_FALSE(removeButton(block)->isEnabled());
}

TEST_F(RuleEditorTest, AppsBlockPicksFromTheSourceAppMenuWithoutSelecting) {
    environment.workspace().addApplication(QStringLiteral("Mail"),
                                           test::FakeWorkspace::info(QStringLiteral("com.apple.mail")));
    RecentLink link;
    link.url = QStringLiteral("https://example.com");
    link.sourceBundleID = QStringLiteral("com.apple.mail");
    link.sourceName = QStringLiteral("Mail");
    RecentLink other = link;
    other.sourceBundleID = QStringLiteral("com.tinyspeck.slack");
    other.sourceName = QStringLiteral("Slack");
    routing.setRecentLinks({link, other});
    rule.conditions = {Condition{Condition::Kind::apps, {QStringLiteral("com.apple.mail")}}};
    routing.update(rule);

    QPointer<RuleEditorView> sheet = openSheet();
    ConditionBlockEditor* block = sheet->blockEditors().at(0);
    EXPECT_EQ(entryTitles(block->headerMenuEntries()), Titles{"Remove Condition"});
    EXPECT_EQ(block->summaryText(), QStringLiteral("1 source app"));
    auto* row = child<SourceAppLabel>(block, "appRow");
    EXPECT_EQ(row->shownName(), QStringLiteral("Mail"));
    EXPECT_EQ(row->toolTip(), QStringLiteral("com.apple.mail"));

    auto* menu = child<SourceAppMenu>(block, "listBoxAdd");
    EXPECT_EQ(entryTitles(menu->currentEntries()),
              (Titles{"[Seen Sending Links]", "Slack", "-", "Other App…"}));
    trigger(menu->currentEntries(), QStringLiteral("Slack"));
    EXPECT_EQ(block->block().values(),
              (QStringList{QStringLiteral("com.apple.mail"), QStringLiteral("com.tinyspeck.slack")}));
    EXPECT_FALSE(block->block().selection);
    EXPECT_EQ(block->summaryText(), QStringLiteral("2 source apps"));
    EXPECT_EQ(entryTitles(menu->currentEntries()),
              (Titles{"Every app is already listed", "-", "Other App…"}));

    QTest::mouseClick(removeButton(block), Qt::LeftButton);
    EXPECT_EQ(block->block().values(), QStringList{QStringLiteral("com.apple.mail")});
}

// The row "−" removes is the one the list highlights: a Ctrl+click that clears the highlight leaves none
// selected, though the row stays the list's current one.
TEST_F(RuleEditorTest, RemoveTakesTheHighlightedRowOnlyAsOnTheRulesPage) {
    const QStringList apps{QStringLiteral("com.apple.mail"), QStringLiteral("com.tinyspeck.slack"),
                           QStringLiteral("com.example.notes")};
    rule.conditions = {Condition{Condition::Kind::apps, apps}};
    routing.update(rule);
    QPointer<RuleEditorView> sheet = openSheet();
    ConditionBlockEditor* block = sheet->blockEditors().at(0);
    auto* list = child<QListWidget>(block, "listBoxRows");
    const auto click = [&](int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          list->visualItemRect(list->item(row)).center());
    };

    click(1);
    EXPECT_EQ(block->block().selection, block->block().rows[1].id);
    click(1, Qt::ControlModifier);
    ASSERT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_FALSE(block->block().selection);
    // Nothing highlighted: the last row goes, as "−" does on a list without a selection.
    QTest::mouseClick(removeButton(block), Qt::LeftButton);
    EXPECT_EQ(block->block().values(), apps.mid(0, 2));

    click(0);
    QTest::mouseClick(removeButton(block), Qt::LeftButton);
    EXPECT_EQ(block->block().values(), QStringList{apps[1]});
}

TEST_F(RuleEditorTest, AGoneTargetWarnsUntilAnotherIsChosenAndCanBeSaved) {
    QDir(workPath).removeRecursively();
    QPointer<RuleEditorView> sheet = openSheet();
    auto* warning = child<QWidget>(sheet, "targetMissingWarning");
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(warning->accessibleName(),
              QStringLiteral("That app isn't installed any more. Links matching this rule go "
                             "to the fallback until it comes back or you pick something "
                             "else."));
    auto* target = child<RouteTargetMenu>(sheet, "ruleTarget");
    EXPECT_TRUE(target->label()->showsMissingWarning());
    trigger(target->currentEntries(), QStringLiteral("Firefox"));
    EXPECT_FALSE(warning->isVisible());
    trigger(target->currentEntries(), QStringLiteral("Work"));
    EXPECT_TRUE(warning->isVisible());
    sheet->commit();
    QTRY_VERIFY(sheet.isNull());
    EXPECT_EQ(stored().target, RouteTarget::proxyApp(QStringLiteral("app.corvane.work")));
    EXPECT_FALSE(routing.errorMessage());
}

TEST_F(RuleEditorTest, TheTargetMenuOffersTheRoutingModelsBrowsers) {
    QPointer<RuleEditorView> sheet = openSheet();
    auto* target = child<RouteTargetMenu>(sheet, "ruleTarget");
    EXPECT_EQ(entryTitles(target->currentEntries()),
              (Titles{"[Proxy Apps]", "Work", "[Browsers]", "Firefox", "Google Chrome", "[Private Windows]",
                      "Google Chrome — Incognito"}));
}

TEST_F(RuleEditorTest, DoneForARuleRemovedMeanwhileClosesAndSaysTheEditsWereNotSaved) {
    QPointer<RuleEditorView> sheet = openSheet();
    QTest::keyClicks(child<QLineEdit>(sheet, "ruleName"), QStringLiteral(" 2"));
    RuleSet set = routing.ruleSet();
    set.rules.clear();
    routing.setRuleSet(set);
    routing.save();

    QTest::mouseClick(child<QPushButton>(sheet, "ruleDone"), Qt::LeftButton);
    QTRY_VERIFY(sheet.isNull());
    EXPECT_TRUE(routing.ruleSet().rules.empty());
    EXPECT_EQ(routing.errorMessage(),
              QStringLiteral("That rule no longer exists; your edits weren't saved."));
}

TEST_F(RuleEditorTest, EveryControlOfTheSheetHasAName) {
    rule.conditions.push_back(Condition{Condition::Kind::apps, {QStringLiteral("com.apple.mail")}});
    routing.update(rule);
    QPointer<RuleEditorView> sheet = openSheet();
    trigger(sheet->blockEditors().at(0)->headerMenuEntries(), QStringLiteral("Edit as Text"));
    sheet->addBlock(Condition::Kind::addresses);
    QTest::mouseClick(child<QToolButton>(sheet->blockEditors().at(2), "listBoxAdd"), Qt::LeftButton);
    QCoreApplication::processEvents();
    int checked = 0;
    for (QWidget* widget : sheet->findChildren<QWidget*>()) {
        const bool interactive = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                                 qobject_cast<QComboBox*>(widget) || qobject_cast<QPlainTextEdit*>(widget);
        if (!interactive || !widget->isVisibleTo(sheet))
            continue;
        QAccessibleInterface* element = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(element, nullptr);
        ++checked;
        EXPECT_FALSE(element->text(QAccessible::Name).isEmpty())
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
    }
    EXPECT_GT(checked, 10);
}

} // namespace
