#include "Corvane/Views/Routing/RulesList.h"

#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/AccessibleRows.h"
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/Kit/ListBox.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString runningHelp = QStringLiteral("This rule is running");
const QString switchedOffHelp = QStringLiteral("This rule is switched off");
const QString noConditionsHelp = QStringLiteral("This rule has no conditions, so no link can ever match it.");

constexpr int rowPaddingY = 5;
constexpr qreal disabledOpacity = 0.55;

// Labels let the pointer through to the list, which selects, drags and opens rows.
void letPointerThrough(QWidget* widget) {
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
}

} // namespace

// MARK: the list model

RulesListModel::RulesListModel(RoutingModel& routing, QObject* parent)
    : QAbstractListModel(parent)
    , routing_(routing)
    , rows_(routing.ruleSet().rules) {}

int RulesListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant RulesListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const LinkRule& shown = rule(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return RuleRowWidget::shownName(shown);
    case Qt::AccessibleTextRole:
        return RuleRowWidget::shownName(shown) + QStringLiteral(", ") + shown.conditionSummary();
    case Qt::AccessibleDescriptionRole:
    case Qt::ToolTipRole:
        return shown.isEnabled ? runningHelp : switchedOffHelp;
    case RuleIDRole:
        return shown.id;
    case SummaryRole:
        return shown.conditionSummary();
    case MatchesNothingRole:
        return shown.matchesNothing();
    default:
        return {};
    }
}

Qt::ItemFlags RulesListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

Qt::DropActions RulesListModel::supportedDropActions() const {
    return Qt::MoveAction | Qt::CopyAction;
}

Qt::DropActions RulesListModel::supportedDragActions() const {
    return Qt::MoveAction;
}

QStringList RulesListModel::mimeTypes() const {
    return {QStringLiteral("text/plain")};
}

QMimeData* RulesListModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.isEmpty() || !indexes.first().isValid())
        return nullptr;
    auto* data = new QMimeData;
    data->setText(dragText(rule(indexes.first().row()).id));
    return data;
}

std::optional<int> RulesListModel::row(const QUuid& ruleID) const {
    const auto found = std::find_if(rows_.begin(), rows_.end(),
                                    [&](const LinkRule& candidate) { return candidate.id == ruleID; });
    if (found == rows_.end())
        return std::nullopt;
    return static_cast<int>(found - rows_.begin());
}

QString RulesListModel::dragText(const QUuid& ruleID) {
    return ruleID.toString(QUuid::WithoutBraces).toUpper();
}

bool RulesListModel::dropOnRow(const QStringList& strings, int index) {
    if (strings.isEmpty())
        return false;
    const std::vector<LinkRule>& rules = routing_.ruleSet().rules;
    const QString& dropped = strings.first();
    const auto found = std::find_if(rules.begin(), rules.end(), [&](const LinkRule& candidate) {
        return dragText(candidate.id) == dropped;
    });
    if (found == rules.end())
        return false;
    const int from = static_cast<int>(found - rules.begin());
    if (from == index)
        return false;
    routing_.moveRule(from, index);
    return true;
}

void RulesListModel::refresh() {
    const std::vector<LinkRule>& wanted = routing_.ruleSet().rules;
    const auto isWanted = [&](const QUuid& id) {
        return std::any_of(wanted.begin(), wanted.end(), [&](const LinkRule& rule) { return rule.id == id; });
    };

    // Rules that are gone, from the bottom up so the rows above keep their places.
    for (int i = rowCount() - 1; i >= 0; --i) {
        if (isWanted(rows_[static_cast<size_t>(i)].id))
            continue;
        beginRemoveRows({}, i, i);
        rows_.erase(rows_.begin() + i);
        endRemoveRows();
    }

    // Now every row is wanted: walk the wanted order, moving rows up into place and inserting new ones.
    for (int i = 0; i < static_cast<int>(wanted.size()); ++i) {
        const LinkRule& next = wanted[static_cast<size_t>(i)];
        if (i < rowCount() && rows_[static_cast<size_t>(i)].id == next.id) {
            if (!(rows_[static_cast<size_t>(i)] == next)) {
                rows_[static_cast<size_t>(i)] = next;
                emit dataChanged(index(i), index(i));
            }
            continue;
        }
        const std::optional<int> at = row(next.id);
        if (at) {
            beginMoveRows({}, *at, *at, {}, i);
            LinkRule moved = std::move(rows_[static_cast<size_t>(*at)]);
            rows_.erase(rows_.begin() + *at);
            rows_.insert(rows_.begin() + i, std::move(moved));
            endMoveRows();
            if (!(rows_[static_cast<size_t>(i)] == next)) {
                rows_[static_cast<size_t>(i)] = next;
                emit dataChanged(index(i), index(i));
            }
        } else {
            beginInsertRows({}, i, i);
            rows_.insert(rows_.begin() + i, next);
            endInsertRows();
        }
    }
}

// MARK: one row

RuleRowWidget::RuleRowWidget(TargetLabelFactory makeTargetLabel, QWidget* parent)
    : QWidget(parent)
    , makeTargetLabel_(std::move(makeTargetLabel)) {
    setObjectName(QStringLiteral("ruleRow"));
    listBoxRow(this);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    auto* handle = new QLabel(this);
    QColor tertiary = ViewColors::secondary();
    tertiary.setAlphaF(tertiary.alphaF() * 0.6);
    handle->setPixmap(systemImage(QStringLiteral("line.3.horizontal"), tertiary, 11));
    letPointerThrough(handle);
    layout->addWidget(handle);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    name_ = new ElidedLabel(this, Qt::ElideRight);
    name_->setObjectName(QStringLiteral("ruleName"));
    letPointerThrough(name_);
    texts->addWidget(name_);
    auto* summaryRow = new QHBoxLayout;
    summaryRow->setSpacing(4);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("ruleSummary"));
    TextStyle::caption(summary_);
    letPointerThrough(summary_);
    summaryRow->addWidget(summary_);
    warning_ = new QLabel(this);
    warning_->setObjectName(QStringLiteral("ruleNoConditionsWarning"));
    warning_->setPixmap(
        systemImage(QStringLiteral("exclamationmark.triangle.fill"), ViewColors::orange(), 11));
    warning_->setToolTip(noConditionsHelp);
    warning_->setAccessibleName(noConditionsHelp);
    summaryRow->addWidget(warning_);
    summaryRow->addStretch(1);
    texts->addLayout(summaryRow);
    layout->addLayout(texts, 1);

    enable_ = new QCheckBox(this);
    enable_->setObjectName(QStringLiteral("ruleEnabled"));
    layout->addWidget(enable_);
    connect(enable_, &QCheckBox::toggled, this, &RuleRowWidget::enableToggled);

    setGraphicsEffect(new QGraphicsOpacityEffect(this));
}

QString RuleRowWidget::shownName(const LinkRule& rule) {
    return rule.name.isEmpty() ? QStringLiteral("Untitled Rule") : rule.name;
}

void RuleRowWidget::display(const LinkRule& rule) {
    const QString name = shownName(rule);
    name_->setFullText(name);
    Quiet::setText(summary_, rule.conditionSummary());
    Quiet::setVisible(warning_, rule.matchesNothing());
    if (!shownTarget_ || !(*shownTarget_ == rule.target)) {
        QWidget* replaced = makeTargetLabel_ ? makeTargetLabel_(rule.target, this) : nullptr;
        if (replaced) {
            replaced->setObjectName(QStringLiteral("ruleTarget"));
            letPointerThrough(replaced);
            auto* row = static_cast<QHBoxLayout*>(layout());
            if (target_) {
                // The layout hands back the old widget\'s item, which it no longer owns.
                delete row->replaceWidget(target_, replaced);
                delete target_;
            } else {
                row->insertWidget(row->indexOf(enable_), replaced);
            }
        }
        target_ = replaced;
        shownTarget_ = rule.target;
    }
    Quiet::setChecked(enable_, rule.isEnabled);
    const QString help = rule.isEnabled ? runningHelp : switchedOffHelp;
    enable_->setToolTip(help);
    enable_->setAccessibleName(help);
    static_cast<QGraphicsOpacityEffect*>(graphicsEffect())
        ->setOpacity(rule.isEnabled ? 1.0 : disabledOpacity);
    setAccessibleName(name);
}

void RuleRowWidget::rebuildTarget() {
    shownTarget_.reset();
}

// MARK: row backgrounds

void RuleRowBackground::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const QColor color =
        listBoxRowColor(index.row(), option.state.testFlag(QStyle::State_Selected), option.palette);
    if (color.alpha() > 0)
        painter->fillRect(option.rect, color);
}

QSize RuleRowBackground::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    QFont caption = option.font;
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    const int texts = option.fontMetrics.height() + 1 + QFontMetrics(caption).height();
    return {0, std::max(texts, 20) + 2 * rowPaddingY + 2};
}

// MARK: the list view

RulesListView::RulesListView(RulesListModel& rules, RuleRowWidget::TargetLabelFactory makeTargetLabel,
                             QWidget* parent)
    : QListView(parent)
    , rules_(rules)
    , makeTargetLabel_(std::move(makeTargetLabel)) {
    setObjectName(QStringLiteral("rulesList"));
    setAccessibleName(QStringLiteral("Link Rules"));
    AccessibleRows::exposeRowWidgets(this);
    setModel(&rules);
    setItemDelegate(new RuleRowBackground(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    // The drop target is not highlighted while a row hovers over it.
    setDropIndicatorShown(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);

    connect(&rules, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { addRowWidgets(first, last); });
    connect(&rules, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                updateRowWidgets(topLeft.row(), bottomRight.row());
            });
    addRowWidgets(0, rules.rowCount() - 1);
}

RuleRowWidget* RulesListView::rowWidget(int row) const {
    return qobject_cast<RuleRowWidget*>(indexWidget(rules_.index(row)));
}

void RulesListView::refreshTargets() {
    for (int row = 0; row < rules_.rowCount(); ++row)
        if (RuleRowWidget* widget = rowWidget(row)) {
            widget->rebuildTarget();
            widget->display(rules_.rule(row));
        }
}

void RulesListView::addRowWidgets(int first, int last) {
    for (int row = first; row <= last; ++row) {
        auto* widget = new RuleRowWidget(makeTargetLabel_);
        widget->display(rules_.rule(row));
        connect(widget, &RuleRowWidget::enableToggled, this, [this, widget](bool enabled) {
            // The row may have moved since it was made: look its rule up by where the widget is now.
            for (int at = 0; at < rules_.rowCount(); ++at)
                if (indexWidget(rules_.index(at)) == widget) {
                    emit enableToggled(rules_.rule(at).id, enabled);
                    return;
                }
        });
        setIndexWidget(rules_.index(row), widget);
    }
}

void RulesListView::updateRowWidgets(int first, int last) {
    for (int row = first; row <= last; ++row)
        if (RuleRowWidget* widget = rowWidget(row))
            widget->display(rules_.rule(row));
}

void RulesListView::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
    else
        event->ignore();
}

void RulesListView::dragMoveEvent(QDragMoveEvent* event) {
    // The base class scrolls near the edges; the answer is ours.
    QListView::dragMoveEvent(event);
    if (event->mimeData()->hasText() && indexAt(event->position().toPoint()).isValid())
        event->acceptProposedAction();
    else
        event->ignore();
}

void RulesListView::dropEvent(QDropEvent* event) {
    const QModelIndex target = indexAt(event->position().toPoint());
    QStringList strings;
    if (event->mimeData()->hasText())
        strings.append(event->mimeData()->text());
    if (!target.isValid() || !rules_.dropOnRow(strings, target.row())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void RulesListView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) {
        QListView::mouseDoubleClickEvent(event);
        return;
    }
    event->accept();
    emit editRequested(rules_.rule(index.row()).id);
}

void RulesListView::contextMenuEvent(QContextMenuEvent* event) {
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid())
        return;
    event->accept();
    emit contextMenuRequestedFor(rules_.rule(index.row()).id, event->globalPos());
}
