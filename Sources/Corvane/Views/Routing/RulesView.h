#pragma once

#include "Corvane/Views/Kit/MenuEntries.h"
#include "CorvaneCore/Routing/LinkRule.h"

#include <QUuid>
#include <QWidget>
#include <optional>

class AppModel;
class FormSection;
class ListBox;
class ListBoxButtons;
class OptionalTargetMenu;
class PageStatusBar;
class QLabel;
class QPushButton;
class QToolButton;
class RoutingModel;
class RuleTesterView;
class RulesListModel;
class RulesListView;

// The rules page: the link rules in priority order (switch each on or off, reorder by dragging, add,
// duplicate, delete, open one in the rule editor), the fallback and local-file targets, the rule tester, and
// the routing model's lines in the bar at the bottom. Every change is applied to the routing model's rule set
// at once and saved; only the rule editor keeps its edits until its own "Done".
class RulesView : public QWidget {
    Q_OBJECT

public:
    RulesView(AppModel& model, RoutingModel& routing, QWidget* parent = nullptr);

    // The page's own state: the rule shown in the editor sheet, and the selected rule.
    const std::optional<LinkRule>& editing() const { return editing_; }
    const std::optional<QUuid>& selection() const { return selection_; }

    // The context menu of a rule's row.
    std::vector<MenuEntry> rowMenu(const LinkRule& rule);

    static QString fallbackAdvice(const RuleSet& set);
    static QString localFileAdvice(bool handlesFileTypes);

private:
    FormSection* buildRulesSection();
    void buildFallbackSections();
    void buildFooter();
    QString automaticFallbackTitle() const;

    void addRule();
    std::optional<RouteTarget> defaultTarget() const;
    void duplicate(const LinkRule& rule);
    void remove(const QUuid& ruleID);
    void removeSelected();
    void setFallback(const std::optional<RouteTarget>& target);
    void setLocalFileTarget(const std::optional<RouteTarget>& target);
    void edit(const LinkRule& rule);
    void select(const std::optional<QUuid>& ruleID);
    // The page's selection follows the row the list highlights, however the user moved it there.
    void followListSelection();
    void showSelectionInList();
    std::optional<QUuid> highlightedRule() const;
    void showRowMenu(const QUuid& ruleID, const QPoint& globalPosition);

    void refreshRules();
    void refreshTargets();
    void refreshFallbacks();
    void refreshLocalFileAdvice();
    void refreshFooter();

    QWidget* targetLabel(const RouteTarget& target, int iconSize, QWidget* parent) const;

    AppModel& model_;
    RoutingModel& routing_;
    std::optional<LinkRule> editing_;
    std::optional<QUuid> selection_;
    bool showingSelection_ = false;

    RulesListModel* rules_;
    RulesListView* list_;
    ListBox* box_;
    ListBoxButtons* buttons_;
    QToolButton* add_;
    FormSection* fallbackSection_;
    FormSection* localFilesSection_;
    OptionalTargetMenu* fallbackMenu_;
    OptionalTargetMenu* localFileMenu_;
    QLabel* fallbackAdvice_;
    QLabel* localFileAdvice_;
    RuleTesterView* tester_;
    QWidget* footer_;
    PageStatusBar* statusBar_;
    QPushButton* openSystem_;
};
