#include "Corvane/Views/Routing/RecentLinksTable.h"

#include "Corvane/Views/Kit/RouteTargetControls.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QApplication>
#include <QCollator>
#include <QFontDatabase>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <algorithm>

namespace {

const QString missingTargetHelp = QStringLiteral(
    "This rule matched, but the app it points at was missing — the link went to the fallback instead.");

constexpr int missingMarkSize = 14;

QFont monospaced() {
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

QFont caption() {
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

QColor tertiary() {
    QColor color = ViewColors::secondary();
    color.setAlphaF(0.55f);
    return color;
}

bool isLineBreak(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0x0B) || c == QChar(0x0C) ||
           c == QChar(0x85) || c == QChar(0x2028) || c == QChar(0x2029);
}

bool isHorizontalSpace(QChar c) {
    return c.isSpace() && !isLineBreak(c);
}

} // namespace

namespace RecentLinksText {

QString needle(const QString& filter) {
    qsizetype start = 0;
    qsizetype end = filter.size();
    while (start < end && isHorizontalSpace(filter[start]))
        ++start;
    while (end > start && isHorizontalSpace(filter[end - 1]))
        --end;
    return filter.mid(start, end - start).toLower();
}

bool passes(const RecentLink& link, const QString& needle, const std::optional<QString>& targetFilter) {
    if (targetFilter && link.targetName != targetFilter)
        return false;
    if (needle.isEmpty())
        return true;
    if (link.url.toLower().contains(needle))
        return true;
    for (const std::optional<QString>* field : {&link.sourceName, &link.ruleName, &link.targetName})
        if (*field && (*field)->toLower().contains(needle))
            return true;
    return false;
}

QStringList targetsSeen(const std::vector<RecentLink>& links) {
    QSet<QString> seen;
    QStringList names;
    for (const RecentLink& link : links) {
        if (link.targetName && !seen.contains(*link.targetName)) {
            seen.insert(*link.targetName);
            names.append(*link.targetName);
        }
    }
    QCollator collator{QLocale()};
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(names.begin(), names.end(),
                     [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    return names;
}

QString headerTitle(int visible, int total) {
    const QLocale locale;
    if (visible != total)
        return locale.toString(visible) + QStringLiteral(" of ") + locale.toString(total) +
               QStringLiteral(" Links");
    return QStringLiteral("Last ") + locale.toString(total) + QStringLiteral(" Link") +
           (total == 1 ? QString() : QStringLiteral("s"));
}

QString fallbackAdvice(const std::vector<RecentLink>& links) {
    const auto fallbacks =
        std::count_if(links.begin(), links.end(), [](const RecentLink& l) { return l.isFallback(); });
    if (fallbacks == 0)
        return QStringLiteral("Every link matched a rule.");
    return QLocale().toString(qint64(fallbacks)) +
           QStringLiteral(" went to the fallback — use + to write a rule for one");
}

QString timeLabel(const QDateTime& date, const QDateTime& now) {
    const QLocale locale;
    const QDateTime local = date.toLocalTime();
    const QDate today = now.toLocalTime().date();
    if (local.date() == today)
        return locale.toString(local.time(), QLocale::ShortFormat);
    if (local.date() == today.addDays(-1))
        return QStringLiteral("Yest.");
    // Whole days between the two instants, cut toward zero, so a later date counts as this week.
    const qint64 days = date.secsTo(now) / 86400;
    if (!date.isValid() || days > 6)
        return locale.toString(local.date(), QStringLiteral("d MMM"));
    return locale.toString(local.date(), QStringLiteral("ddd"));
}

} // namespace RecentLinksText

RecentLinksTableModel::RecentLinksTableModel(QObject* parent)
    : QAbstractTableModel(parent)
    , now([] { return QDateTime::currentDateTime(); }) {}

void RecentLinksTableModel::setLabels(LinkCellLabels labels) {
    labels_ = std::move(labels);
    relabel();
}

void RecentLinksTableModel::relabel() {
    if (!links_.empty())
        emit dataChanged(index(0, source), index(rowCount() - 1, target));
}

void RecentLinksTableModel::setLinks(const std::vector<RecentLink>& next) {
    QSet<QUuid> nextIDs;
    for (const RecentLink& link : next)
        nextIDs.insert(link.id);

    // Rows that left, in runs from the end so the indexes before them hold.
    for (int row = rowCount() - 1; row >= 0;) {
        if (nextIDs.contains(links_[size_t(row)].id)) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && !nextIDs.contains(links_[size_t(first - 1)].id))
            --first;
        beginRemoveRows({}, first, row);
        links_.erase(links_.begin() + first, links_.begin() + row + 1);
        endRemoveRows();
        row = first - 1;
    }

    QSet<QUuid> kept;
    for (const RecentLink& link : links_)
        kept.insert(link.id);
    for (int row = 0; row < int(next.size()); ++row) {
        const RecentLink& wanted = next[size_t(row)];
        if (row < rowCount() && links_[size_t(row)].id == wanted.id) {
            if (!(links_[size_t(row)] == wanted)) {
                links_[size_t(row)] = wanted;
                emit dataChanged(index(row, 0), index(row, columnCount_ - 1));
            }
            continue;
        }
        if (kept.contains(wanted.id)) {
            // The kept links came back in another order, which the history never does: start over.
            beginResetModel();
            links_ = next;
            endResetModel();
            return;
        }
        int last = row;
        while (last + 1 < int(next.size()) && !kept.contains(next[size_t(last + 1)].id))
            ++last;
        beginInsertRows({}, row, last);
        links_.insert(links_.begin() + row, next.begin() + row, next.begin() + last + 1);
        endInsertRows();
        row = last;
    }
}

const QIcon& RecentLinksTableModel::icon(const QString& name, const QColor& tint) const {
    auto found = icons_.find(name);
    if (found == icons_.end())
        found = icons_.insert(name, systemIcon(name, tint, 12));
    return *found;
}

int RecentLinksTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(links_.size());
}

int RecentLinksTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant RecentLinksTableModel::display(const RecentLink& entry, int column) const {
    switch (column) {
    case time:
        return RecentLinksText::timeLabel(entry.date, now());
    case link:
        return entry.displayHost() + entry.displayPath();
    case source:
        if (!entry.sourceBundleID)
            return QStringLiteral("—");
        return labels_.sourceName ? labels_.sourceName(entry)
                                  : entry.sourceName.value_or(*entry.sourceBundleID);
    case target:
        if (entry.targetBundleID && labels_.targetName)
            return labels_.targetName(entry);
        return entry.targetName.value_or(QStringLiteral("—"));
    case matched:
        return entry.ruleName.value_or(QStringLiteral("Fallback"));
    default:
        return {};
    }
}

QVariant RecentLinksTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const RecentLink& entry = links_[size_t(index.row())];
    const int column = index.column();
    const bool targetIsMissing =
        column == target && entry.targetBundleID && labels_.targetIsMissing && labels_.targetIsMissing(entry);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        if (column == actions)
            return QStringLiteral("Write a rule for this link");
        return display(entry, column);
    case Qt::ToolTipRole:
        if (column == link)
            return QStringLiteral("Click to see the whole link");
        if (column == source && entry.sourceBundleID)
            return *entry.sourceBundleID;
        if (column == matched && entry.ruleName && entry.targetWasMissing)
            return missingTargetHelp;
        if (column == actions)
            return QStringLiteral("Write a rule for this link");
        if (targetIsMissing)
            return RouteTargetLabel::missingWarningHelp();
        return {};
    case Qt::AccessibleDescriptionRole:
        if (targetIsMissing)
            return RouteTargetLabel::missingWarningHelp();
        return {};
    case Qt::DecorationRole:
        if (column == source && entry.sourceBundleID && labels_.sourceIcon)
            return labels_.sourceIcon(entry);
        if (column == target && entry.targetBundleID && labels_.targetIcon)
            return labels_.targetIcon(entry);
        if (column == matched && entry.ruleName && entry.targetWasMissing)
            return icon(QStringLiteral("exclamationmark.triangle.fill"), ViewColors::orange());
        if (column == actions)
            return icon(QStringLiteral("plus"), ViewColors::secondary());
        return {};
    case Qt::FontRole:
        if (column == time) {
            QFont font = monospaced();
            font.setPointSizeF(caption().pointSizeF());
            return font;
        }
        if (column == link)
            return monospaced();
        return {};
    case Qt::ForegroundRole:
        if (column == time || (column == target && !entry.targetBundleID))
            return ViewColors::secondary();
        if (column == source && !entry.sourceBundleID)
            return tertiary();
        if (column == matched && !entry.ruleName)
            return ViewColors::orange();
        return {};
    case Qt::TextAlignmentRole:
        if (column == actions)
            return int(Qt::AlignCenter);
        return int(Qt::AlignLeading | Qt::AlignVCenter);
    case sortRole:
        if (column == time)
            return entry.date;
        if (column == link)
            return entry.url;
        if (column == actions)
            return index.row();
        return display(entry, column);
    case hostRole:
        return entry.displayHost();
    case pathRole:
        return entry.displayPath();
    case badgeRole:
        return column == matched && !entry.ruleName;
    case missingTargetRole:
        return targetIsMissing;
    default:
        return {};
    }
}

QVariant RecentLinksTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    static const char* const titles[] = {"Time", "Link", "From", "Opened in", "Matched", ""};
    if (role == Qt::DisplayRole && section >= 0 && section < columnCount_)
        return QString::fromUtf8(titles[section]);
    if (role == Qt::AccessibleTextRole && section == actions)
        return QStringLiteral("Actions");
    if (role == Qt::FontRole)
        return caption();
    if (role == Qt::ForegroundRole)
        return ViewColors::secondary();
    return {};
}

RecentLinksFilterModel::RecentLinksFilterModel(RecentLinksTableModel* links, QObject* parent)
    : QSortFilterProxyModel(parent)
    , links_(links) {
    setSourceModel(links);
    setSortRole(RecentLinksTableModel::sortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    setSortLocaleAware(true);
}

void RecentLinksFilterModel::setFilterText(const QString& text) {
    const QString next = RecentLinksText::needle(text);
    if (next == needle_)
        return;
    needle_ = next;
    invalidateRowsFilter();
}

void RecentLinksFilterModel::setTargetFilter(const std::optional<QString>& name) {
    if (name == targetFilter_)
        return;
    targetFilter_ = name;
    invalidateRowsFilter();
}

bool RecentLinksFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    return RecentLinksText::passes(links_->linkAt(sourceRow), needle_, targetFilter_);
}

bool RecentLinksFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const QVariant a = left.data(sortRole());
    const QVariant b = right.data(sortRole());
    if (a.userType() == QMetaType::QString && b.userType() == QMetaType::QString) {
        static const QCollator collator = [] {
            QCollator made{QLocale()};
            made.setNumericMode(true);
            made.setCaseSensitivity(Qt::CaseInsensitive);
            return made;
        }();
        const int compared = collator.compare(a.toString(), b.toString());
        if (compared != 0)
            return compared < 0;
    } else {
        const QPartialOrdering order = QVariant::compare(a, b);
        if (order == QPartialOrdering::Less || order == QPartialOrdering::Greater)
            return order == QPartialOrdering::Less;
    }
    // Equal values keep the stored order.
    return left.row() < right.row();
}

void RecentLinksDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() == RecentLinksTableModel::source || index.column() == RecentLinksTableModel::target)
        option->textElideMode = Qt::ElideMiddle;
}

void RecentLinksDelegate::paintMissingTarget(QPainter* painter, const QStyleOptionViewItem& option,
                                             const QModelIndex& index) const {
    // The name keeps the cell but the mark's place at its end, as the route-target label draws it.
    QStyleOptionViewItem named = option;
    named.rect.setRight(option.rect.right() - missingMarkSize - 6);
    QStyledItemDelegate::paint(painter, named, index);
    const QRect mark(named.rect.right() + 3, option.rect.center().y() - missingMarkSize / 2 + 1,
                     missingMarkSize, missingMarkSize);
    systemIcon(QStringLiteral("exclamationmark.triangle.fill"), ViewColors::orange(), missingMarkSize)
        .paint(painter, mark);
}

void RecentLinksDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const int column = index.column();
    const bool isLink = column == RecentLinksTableModel::link;
    const bool isBadge = index.data(RecentLinksTableModel::badgeRole).toBool();
    if (index.data(RecentLinksTableModel::missingTargetRole).toBool()) {
        paintMissingTarget(painter, option, index);
        return;
    }
    const bool isMarkedRule =
        column == RecentLinksTableModel::matched && !isBadge && index.data(Qt::DecorationRole).isValid();
    const bool isActions = column == RecentLinksTableModel::actions;
    if (!isLink && !isBadge && !isMarkedRule && !isActions) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The cell's background and selection as the style draws them; the content is drawn here.
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    opt.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const QRect area = option.rect.adjusted(4, 0, -4, 0);
    painter->save();
    if (isLink)
        paintLink(painter, option, opt.font, area, index);
    else if (isBadge)
        paintFallbackBadge(painter, area, index);
    else if (isMarkedRule)
        paintMarkedRule(painter, option, opt.font, area, index);
    else
        qvariant_cast<QIcon>(index.data(Qt::DecorationRole)).paint(painter, option.rect, Qt::AlignCenter);
    painter->restore();
}

void RecentLinksDelegate::paintLink(QPainter* painter, const QStyleOptionViewItem& option, const QFont& font,
                                    const QRect& area, const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const QColor primary = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    painter->setFont(font);
    const QFontMetrics metrics(font);
    const QString host = index.data(RecentLinksTableModel::hostRole).toString();
    const QString path = index.data(RecentLinksTableModel::pathRole).toString();
    const QString shownHost = metrics.elidedText(host, Qt::ElideRight, area.width());
    painter->setPen(primary);
    painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter, shownHost);
    const int used = metrics.horizontalAdvance(shownHost);
    if (shownHost == host && used < area.width()) {
        const QRect rest = area.adjusted(used, 0, 0, 0);
        painter->setPen(selected ? primary : ViewColors::secondary());
        painter->drawText(rest, Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(path, Qt::ElideRight, rest.width()));
    }
}

void RecentLinksDelegate::paintFallbackBadge(QPainter* painter, const QRect& area,
                                             const QModelIndex& index) const {
    QFont font = caption();
    font.setWeight(QFont::Medium);
    const QFontMetrics metrics(font);
    const QString text = index.data(Qt::DisplayRole).toString();
    QRect badge(0, 0, metrics.horizontalAdvance(text) + 12, metrics.height() + 4);
    badge.moveCenter(QPoint(area.left() + badge.width() / 2, area.center().y()));
    QColor fill = ViewColors::orange();
    fill.setAlphaF(0.18f);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawRoundedRect(badge, badge.height() / 2.0, badge.height() / 2.0);
    painter->setFont(font);
    painter->setPen(ViewColors::orange());
    painter->drawText(badge, Qt::AlignCenter, text);
}

void RecentLinksDelegate::paintMarkedRule(QPainter* painter, const QStyleOptionViewItem& option,
                                          const QFont& font, const QRect& area,
                                          const QModelIndex& index) const {
    constexpr int markPoints = 12;
    constexpr int spacing = 4;
    const bool selected = option.state & QStyle::State_Selected;
    painter->setFont(font);
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const QFontMetrics metrics(font);
    const QString name = metrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                            std::max(0, area.width() - spacing - markPoints));
    painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter, name);
    QRect mark(0, 0, markPoints, markPoints);
    mark.moveCenter(QPoint(0, area.center().y()));
    mark.moveLeft(area.left() + metrics.horizontalAdvance(name) + spacing);
    qvariant_cast<QIcon>(index.data(Qt::DecorationRole)).paint(painter, mark);
}
