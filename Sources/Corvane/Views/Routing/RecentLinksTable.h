#pragma once

#include "CorvaneCore/Routing/RecentLinks.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <functional>
#include <optional>
#include <vector>

// How the "From" and "Opened in" cells name and draw an application; given by the page, which knows the
// registered apps and the browsers.
struct LinkCellLabels {
    std::function<QString(const RecentLink&)> sourceName;
    std::function<QIcon(const RecentLink&)> sourceIcon;
    std::function<QString(const RecentLink&)> targetName;
    std::function<QIcon(const RecentLink&)> targetIcon;
    // Whether the link's target is not installed any more.
    std::function<bool(const RecentLink&)> targetIsMissing;
};

// The recent links, one row per link in the stored order (newest first), keyed by the link's id: a new list
// is applied as row insertions, removals and changes, so the view keeps its current row and scroll place.
class RecentLinksTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { time, link, source, target, matched, actions, columnCount_ };
    enum Role {
        sortRole = Qt::UserRole + 1, // the raw value a column sorts by
        hostRole,                    // the link cell's two parts
        pathRole,
        badgeRole,         // true when the matched cell is the "Fallback" badge
        missingTargetRole, // true when the target cell's application is not installed any more
    };

    explicit RecentLinksTableModel(QObject* parent = nullptr);

    void setLinks(const std::vector<RecentLink>& links);
    void setLabels(LinkCellLabels labels);
    // Names or icons of apps changed: the "From" and "Opened in" cells are redrawn.
    void relabel();
    const RecentLink& linkAt(int row) const { return links_[static_cast<size_t>(row)]; }
    const std::vector<RecentLink>& links() const { return links_; }
    // The time labels depend on today's date.
    std::function<QDateTime()> now;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QVariant display(const RecentLink& link, int column) const;
    // The marks drawn in every row, made once.
    const QIcon& icon(const QString& name, const QColor& tint) const;

    std::vector<RecentLink> links_;
    LinkCellLabels labels_;
    mutable QHash<QString, QIcon> icons_;
};

// The page's filters: a text found in the link, its source, rule or target name, and a chosen target name.
// Sorting by a column uses its raw values; without a sort column the stored order stays.
class RecentLinksFilterModel : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit RecentLinksFilterModel(RecentLinksTableModel* links, QObject* parent = nullptr);

    void setFilterText(const QString& text);
    void setTargetFilter(const std::optional<QString>& name);
    const std::optional<QString>& targetFilter() const { return targetFilter_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    RecentLinksTableModel* links_;
    QString needle_;
    std::optional<QString> targetFilter_;
};

// Draws the link cell (host, then the rest in the secondary colour, cut at the end), the "Fallback" badge and
// the warning after a target that is not installed any more.
class RecentLinksDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    // App and browser names are cut in the middle, as everywhere in the window.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    void paintMissingTarget(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const;
    void paintLink(QPainter* painter, const QStyleOptionViewItem& option, const QFont& font,
                   const QRect& area, const QModelIndex& index) const;
    void paintFallbackBadge(QPainter* painter, const QRect& area, const QModelIndex& index) const;
    // The rule's name cut at its end, then the missing-target mark right after it.
    void paintMarkedRule(QPainter* painter, const QStyleOptionViewItem& option, const QFont& font,
                         const QRect& area, const QModelIndex& index) const;
};

namespace RecentLinksText {
// The typed filter without spaces and tabs at either end (line breaks stay), lower-cased.
QString needle(const QString& filter);
bool passes(const RecentLink& link, const QString& needle, const std::optional<QString>& targetFilter);
// The distinct target names of all links, in the order names are sorted for people ("App 2" before "App 10").
QStringList targetsSeen(const std::vector<RecentLink>& links);
QString headerTitle(int visible, int total);
QString fallbackAdvice(const std::vector<RecentLink>& links);
// A time today, "Yest.", a weekday within the last week, else the day and month.
QString timeLabel(const QDateTime& date, const QDateTime& now);
} // namespace RecentLinksText
