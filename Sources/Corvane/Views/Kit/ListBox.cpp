#include "Corvane/Views/Kit/ListBox.h"

#include "Corvane/Views/Kit/AccessibleRows.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int footerHeight = 24;
constexpr qreal outlineRadius = 6;
constexpr int buttonWidth = 30;

// Paints only the row's background: each row's own widget draws its content.
class RowBackgroundDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QColor color =
            listBoxRowColor(index.row(), option.state.testFlag(QStyle::State_Selected), option.palette);
        if (color.alpha() > 0)
            painter->fillRect(option.rect, color);
    }
};

QFrame* verticalDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(14);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

} // namespace

QColor listBoxRowColor(int index, bool isSelected, const QPalette& palette) {
    if (isSelected) {
        QColor tint = ViewColors::accent();
        tint.setAlphaF(0.22f);
        return tint;
    }
    const QColor base = palette.color(QPalette::Base);
    const QColor alternate = palette.color(QPalette::AlternateBase);
    if (base == alternate)
        return Qt::transparent;
    return index % 2 == 0 ? base : alternate;
}

void listBoxRow(QWidget* row) {
    row->setContentsMargins(8, 5, 8, 5);
    row->setSizePolicy(QSizePolicy::Expanding, row->sizePolicy().verticalPolicy());
}

ListBox::ListBox(int minHeight, QWidget* parent)
    : QFrame(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(0);

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("listBoxRows"));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setMinimumHeight(minHeight);
    list_->setItemDelegate(new RowBackgroundDelegate(list_));
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSpacing(0);
    list_->setUniformItemSizes(false);
    AccessibleRows::exposeRowWidgets(list_);
    column->addWidget(list_, 1);
    rows_ = list_;

    placeholder_ = new QLabel(list_->viewport());
    placeholder_->setObjectName(QStringLiteral("listBoxPlaceholder"));
    placeholder_->setWordWrap(true);
    placeholder_->setMargin(8);
    TextStyle::secondary(placeholder_);
    placeholder_->hide();
    AccessibleRows::setEmptyText(list_, placeholder_);
    list_->viewport()->installEventFilter(this);
    list_->installEventFilter(this);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    column->addWidget(divider);

    footerBar_ = new QWidget(this);
    footerBar_->setObjectName(QStringLiteral("listBoxFooter"));
    footerBar_->setFixedHeight(footerHeight);
    footerBar_->setAutoFillBackground(true);
    footerBar_->setBackgroundRole(QPalette::Window);
    footerLayout_ = new QHBoxLayout(footerBar_);
    footerLayout_->setContentsMargins(0, 0, 0, 0);
    footerLayout_->setSpacing(0);
    column->addWidget(footerBar_);
    footerBar_->installEventFilter(this);

    connect(list_->model(), &QAbstractItemModel::rowsInserted, this, &ListBox::updatePlaceholder);
    connect(list_->model(), &QAbstractItemModel::rowsRemoved, this, &ListBox::updatePlaceholder);
    connect(list_->model(), &QAbstractItemModel::modelReset, this, &ListBox::updatePlaceholder);
}

ListBox::~ListBox() {
    // The list empties itself as it is destroyed, after this box's own part is gone.
    disconnect(list_->model(), nullptr, this, nullptr);
    disconnect(rows_->model(), nullptr, this, nullptr);
    if (!list_->parent())
        delete list_;
}

void ListBox::setRowsView(QAbstractItemView* rows) {
    if (rows_ != list_ || rows == list_)
        return;
    delete layout()->replaceWidget(list_, rows);
    // Out of the window altogether, so a screen reader finds one list in the box.
    list_->setParent(nullptr);
    rows_ = rows;
    placeholder_->setParent(rows->viewport());
    AccessibleRows::setEmptyText(rows, placeholder_);
    rows->viewport()->installEventFilter(this);
    rows->installEventFilter(this);
    connect(rows->model(), &QAbstractItemModel::rowsInserted, this, &ListBox::updatePlaceholder);
    connect(rows->model(), &QAbstractItemModel::rowsRemoved, this, &ListBox::updatePlaceholder);
    connect(rows->model(), &QAbstractItemModel::modelReset, this, &ListBox::updatePlaceholder);
    updatePlaceholder();
}

void ListBox::setFooter(QWidget* footer) {
    if (footer_ == footer)
        return;
    if (footer_) {
        footerLayout_->removeWidget(footer_);
        footer_->deleteLater();
    }
    footer_ = footer;
    if (footer)
        footerLayout_->addWidget(footer, 1);
}

void ListBox::setPlaceholder(const QString& text) {
    placeholder_->setText(text);
    placeholder_->setAccessibleName(text);
    updatePlaceholder();
}

QListWidgetItem* ListBox::insertRow(int position, QWidget* row, const QString& text) {
    auto* item = new QListWidgetItem;
    // The text is for screen readers; the delegate draws only the background under the row widget.
    item->setText(text);
    item->setData(Qt::AccessibleTextRole, text);
    item->setSizeHint(row->sizeHint());
    list_->insertItem(position, item);
    list_->setItemWidget(item, row);
    return item;
}

QListWidgetItem* ListBox::appendRow(QWidget* row, const QString& text) {
    return insertRow(list_->count(), row, text);
}

void ListBox::removeRow(int position) {
    if (position < 0 || position >= list_->count())
        return;
    QListWidgetItem* item = list_->item(position);
    // The view deletes the row's widget (later) as it lets go of it.
    list_->removeItemWidget(item);
    delete list_->takeItem(position);
}

int ListBox::rowCount() const {
    return list_->count();
}

QWidget* ListBox::rowWidget(int position) const {
    QListWidgetItem* item = list_->item(position);
    return item ? list_->itemWidget(item) : nullptr;
}

bool ListBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == rows_->viewport() && event->type() == QEvent::Resize)
        placeholder_->setGeometry(0, 0, rows_->viewport()->width(),
                                  placeholder_->heightForWidth(rows_->viewport()->width()));
    if ((watched == rows_ || watched == footerBar_) &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        clipToOutline(static_cast<QWidget*>(watched));
    return QFrame::eventFilter(watched, event);
}

void ListBox::clipToOutline(QWidget* child) {
    // The inside of the outline: one pixel in from the border, with a radius one pixel smaller.
    QPainterPath inside;
    inside.addRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), outlineRadius - 1, outlineRadius - 1);
    const QRegion region(inside.translated(-child->pos()).toFillPolygon().toPolygon());
    child->setMask(region.intersected(child->rect()));
}

void ListBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    outline.addRoundedRect(box, outlineRadius, outlineRadius);
    painter.fillPath(outline, palette().color(QPalette::Base));
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.drawPath(outline);
}

void ListBox::updatePlaceholder() {
    const bool show = rows_->model()->rowCount(rows_->rootIndex()) == 0 && !placeholder_->text().isEmpty();
    if (show) {
        const int width = rows_->viewport()->width();
        placeholder_->setGeometry(0, 0, width, placeholder_->heightForWidth(width));
    }
    if (placeholder_->isHidden() == show)
        placeholder_->setVisible(show);
}

ListBoxButtons::ListBoxButtons(QWidget* addControl, QWidget* parent)
    : QWidget(parent)
    , add_(addControl) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    add_->setParent(this);
    add_->setFixedSize(buttonWidth, footerHeight);
    row->addWidget(add_);
    row->addWidget(verticalDivider(this));
    remove_ = new QToolButton(this);
    remove_->setObjectName(QStringLiteral("listBoxRemove"));
    remove_->setAutoRaise(true);
    remove_->setIcon(systemIcon(QStringLiteral("minus"), textColor(this), 12));
    remove_->setFixedSize(buttonWidth, footerHeight);
    remove_->setToolTip(QStringLiteral("Remove"));
    remove_->setAccessibleName(QStringLiteral("Remove"));
    connect(remove_, &QToolButton::clicked, this, &ListBoxButtons::removeClicked);
    row->addWidget(remove_);
    row->addWidget(verticalDivider(this));
    row->addStretch(1);
}

QToolButton* ListBoxButtons::makeAddButton(const QString& accessibleName, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("listBoxAdd"));
    button->setAutoRaise(true);
    button->setIcon(systemIcon(QStringLiteral("plus"), textColor(button), 12));
    button->setFixedSize(buttonWidth, footerHeight);
    button->setToolTip(accessibleName);
    button->setAccessibleName(accessibleName);
    return button;
}

void ListBoxButtons::setCanRemove(bool canRemove) {
    remove_->setEnabled(canRemove);
}

bool ListBoxButtons::canRemove() const {
    return remove_->isEnabled();
}
