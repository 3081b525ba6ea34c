#pragma once

#include "CorvaneCore/Routing/LinkRule.h"

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>
#include <QUuid>
#include <functional>
#include <optional>
#include <vector>

class ElidedLabel;
class QCheckBox;
class QLabel;
class RoutingModel;

// The rules of the routing model as list rows, in priority order. It follows the model's rule set by
// identity: an edit of one rule changes that row, an added, removed or moved rule inserts, removes or moves
// rows, and nothing ever resets the list (a reset would drop the current row and the focus).
class RulesListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { RuleIDRole = Qt::UserRole + 1, SummaryRole, MatchesNothingRole };

    explicit RulesListModel(RoutingModel& routing, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

    const LinkRule& rule(int row) const { return rows_[static_cast<size_t>(row)]; }
    std::optional<int> row(const QUuid& ruleID) const;

    // A row is dragged as the text of its rule's identifier (upper case, hyphens, no braces).
    static QString dragText(const QUuid& ruleID);
    // A drop of `strings` on the row at `index`: the first string must name a rule elsewhere in the list,
    // which then moves to `index`. False when the drop is refused (nothing changes then).
    bool dropOnRow(const QStringList& strings, int index);

    // Brings the rows in line with the routing model's rule set.
    void refresh();

private:
    RoutingModel& routing_;
    std::vector<LinkRule> rows_;
};

// One row drawn over the list's own row: drag handle, name and summary, target and enable checkbox. Only
// the checkbox takes the pointer; presses anywhere else reach the list (selection, drag, double click).
class RuleRowWidget : public QWidget {
    Q_OBJECT

public:
    // Builds the widget that shows a rule's target; called again when the target changes.
    using TargetLabelFactory = std::function<QWidget*(const RouteTarget&, QWidget* parent)>;

    RuleRowWidget(TargetLabelFactory makeTargetLabel, QWidget* parent = nullptr);

    void display(const LinkRule& rule);
    // The next display builds the target label afresh (what it stands for may have changed).
    void rebuildTarget();
    QCheckBox* enableBox() const { return enable_; }

    // "Untitled Rule" for an empty name; a name of spaces stays as it is.
    static QString shownName(const LinkRule& rule);

signals:
    // The user switched the checkbox.
    void enableToggled(bool enabled);

private:
    TargetLabelFactory makeTargetLabel_;
    ElidedLabel* name_;
    QLabel* summary_;
    QLabel* warning_;
    QWidget* target_ = nullptr;
    std::optional<RouteTarget> shownTarget_;
    QCheckBox* enable_;
};

// Paints the row backgrounds only (the row widgets draw the content), in the list box's row colours.
class RuleRowBackground : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The list of rules: one row widget per rule, kept in step with the list model; rows are reordered by
// dragging one onto another.
class RulesListView : public QListView {
    Q_OBJECT

public:
    RulesListView(RulesListModel& rules, RuleRowWidget::TargetLabelFactory makeTargetLabel,
                  QWidget* parent = nullptr);

    RuleRowWidget* rowWidget(int row) const;
    // Rebuilds every row's target label (the proxy apps or browsers changed).
    void refreshTargets();

signals:
    void enableToggled(const QUuid& ruleID, bool enabled);
    void editRequested(const QUuid& ruleID);
    void contextMenuRequestedFor(const QUuid& ruleID, const QPoint& globalPosition);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void addRowWidgets(int first, int last);
    void updateRowWidgets(int first, int last);

    RulesListModel& rules_;
    RuleRowWidget::TargetLabelFactory makeTargetLabel_;
};
