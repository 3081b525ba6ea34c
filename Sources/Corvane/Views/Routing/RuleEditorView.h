#pragma once

#include "Corvane/Views/Kit/MenuEntries.h"
#include "Corvane/Views/Kit/RouteTargetControls.h"
#include "CorvaneCore/Routing/LinkRule.h"

#include <QDialog>
#include <QFrame>
#include <QString>
#include <QUuid>
#include <optional>
#include <vector>

class ListBox;
class ListBoxButtons;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class RoutingModel;
class SourceAppMenu;

// One value of a condition being edited in list mode.
struct ValueRow {
    QUuid id = QUuid::createUuid();
    QString text; // as typed or picked, never trimmed while editing
};

// One condition being edited: its rows in list mode, or (addresses only) one value per line in text mode.
// Only the shown form counts; the other is kept unchanged while hidden.
struct ConditionBlock {
    QUuid id = QUuid::createUuid();
    Condition::Kind kind = Condition::Kind::addresses;
    std::vector<ValueRow> rows;
    std::optional<QUuid> selection;
    bool isTextMode = false;
    QString text;

    // An empty block of that kind, in list mode.
    static ConditionBlock empty(Condition::Kind kind);
    // One row per stored value, untrimmed, in list mode with nothing selected.
    static ConditionBlock from(const Condition& condition);

    // Text mode: the text's lines, trimmed, blanks dropped. List mode: the rows' texts as typed.
    QStringList values() const;
    // `values` as a condition of the block's kind.
    Condition condition() const;

    // List to text: the non-blank rows (untrimmed) one per line. Text to list: one new row per usable line,
    // and no row selected.
    void toggleTextMode();
    // Removes the selected row, or the last row when none is selected; clears the selection either way.
    void removeSelectedOrLast();
    // Appends a row; returns its identifier.
    QUuid appendRow(const QString& text, bool select);
};

// The editor of one condition inside the rule editor: header (kind, live count, "ellipsis.circle" menu) and
// an address list, an address text editor or an app list. It edits its own block; the sheet reads it back.
class ConditionBlockEditor : public QFrame {
    Q_OBJECT

public:
    ConditionBlockEditor(ConditionBlock block, RoutingModel& routing, QWidget* parent = nullptr);

    const ConditionBlock& block() const { return block_; }
    // "Edit as Text"/"Edit as List" (addresses only), a divider, "Remove Condition".
    std::vector<MenuEntry> headerMenuEntries();

    // The user's actions, also for tests.
    void toggleTextMode();
    void removeSelectedOrLast();
    void addAddress();
    void addApp(const QString& bundleID);

    QString summaryText() const;

signals:
    // The block's values changed (typed, added, removed, switched mode).
    void changed();
    void removeRequested(const QUuid& blockID);

private:
    void rebuildRows();
    void updateSummary();
    void updateRemoveEnabled();
    void select(const std::optional<QUuid>& rowID);
    void followListSelection();
    QWidget* makeAddressRow(const ValueRow& row);

    ConditionBlock block_;
    RoutingModel& routing_;
    QLabel* summary_;
    QToolButton* menuButton_;
    QStackedWidget* bodies_;
    ListBox* list_;
    ListBoxButtons* buttons_;
    SourceAppMenu* appMenu_ = nullptr;
    QPlainTextEdit* textEditor_ = nullptr;
};

// The sheet that edits one rule: name, target, enabled, match mode and the conditions. It edits a copy;
// "Done" (Return) hands the edited rule to the routing model, "Cancel" (Escape) drops it. Open it
// window-modally with `open()` (or `present`); it deletes itself when closed.
class RuleEditorView : public QDialog {
    Q_OBJECT

public:
    RuleEditorView(const LinkRule& rule, TargetDirectory directory, RoutingModel& routing,
                   QWidget* parent = nullptr);

    // Makes the sheet for `rule` and opens it over `parent`'s window.
    static RuleEditorView* present(const LinkRule& rule, TargetDirectory directory, RoutingModel& routing,
                                   QWidget* parent);

    const LinkRule& draft() const { return draft_; }
    std::vector<ConditionBlock> blocks() const;
    std::vector<ConditionBlockEditor*> blockEditors() const { return editors_; }
    // The rule "Done" would save now: the draft with the blocks' non-empty conditions.
    LinkRule editedRule() const;

    void addBlock(Condition::Kind kind);
    void removeBlock(const QUuid& blockID);
    // "Done": saves the edited rule through the routing model and closes the sheet. When the rule is no
    // longer in the rule set, nothing is saved and the routing model's error line says so.
    void commit();

    static QString ruleGoneMessage();

private:
    void updateTargetWarning();
    void updateFooter();

    LinkRule draft_;
    TargetDirectory directory_;
    RoutingModel& routing_;
    std::vector<ConditionBlockEditor*> editors_;
    QLineEdit* name_;
    RouteTargetMenu* targetMenu_;
    QCheckBox* enabled_;
    QComboBox* match_;
    QWidget* targetWarning_;
    QVBoxLayout* blocksColumn_;
    QWidget* noConditionsWarning_;
    QLabel* footer_;
    QPushButton* cancel_;
    QPushButton* done_;
};
