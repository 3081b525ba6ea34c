#include "Corvane/Views/Kit/AccessibleRows.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <utility>
#include <vector>

namespace {

const char* const rowWidgetsProperty = "corvaneAccessibleRowWidgets";
const char* const roleProperty = "corvaneAccessibleRole";
const char* const emptyTextProperty = "corvaneAccessibleEmptyText";

// One row of a list drawn by a row widget: named by the model, its children the row widget's controls.
class RowWidgetItem : public QAccessibleInterface {
public:
    RowWidgetItem(QAbstractItemView* view, const QModelIndex& index)
        : view_(view)
        , index_(index) {}

    bool isValid() const override { return view_ && index_.isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_); }

    int childCount() const override {
        QAccessibleInterface* row = widget();
        if (!row)
            return 0;
        return isControl(row) ? 1 : row->childCount();
    }
    QAccessibleInterface* child(int index) const override {
        QAccessibleInterface* row = widget();
        if (!row)
            return nullptr;
        if (isControl(row))
            return index == 0 ? row : nullptr;
        return row->child(index);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        QAccessibleInterface* row = widget();
        if (!row)
            return -1;
        if (isControl(row))
            return child == row ? 0 : -1;
        return row->indexOfChild(child);
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QAccessibleInterface* row = widget();
        if (!row)
            return nullptr;
        if (isControl(row))
            return row->rect().contains(x, y) ? row : nullptr;
        return row->childAt(x, y);
    }

    QString text(QAccessible::Text kind) const override {
        if (!isValid())
            return {};
        switch (kind) {
        case QAccessible::Name: {
            const QString text = index_.data(Qt::AccessibleTextRole).toString();
            return text.isEmpty() ? index_.data(Qt::DisplayRole).toString() : text;
        }
        case QAccessible::Description:
            return index_.data(Qt::AccessibleDescriptionRole).toString();
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect place = view_->visualRect(index_);
        return place.translated(view_->viewport()->mapToGlobal(QPoint(0, 0)));
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const Qt::ItemFlags flags = index_.flags();
        state.selectable = flags.testFlag(Qt::ItemIsSelectable);
        state.focusable = true;
        state.selected = view_->selectionModel() && view_->selectionModel()->isSelected(index_);
        state.focused = view_->hasFocus() && view_->currentIndex() == QModelIndex(index_);
        state.disabled = !flags.testFlag(Qt::ItemIsEnabled);
        const QRect place = view_->visualRect(index_);
        state.invisible = !view_->isVisible() || place.isEmpty();
        state.offscreen = !view_->viewport()->rect().intersects(place);
        return state;
    }

    const QPersistentModelIndex& index() const { return index_; }

private:
    // A row widget that is a control itself (a field) is the row's one child; a plain container hands its
    // controls up.
    static bool isControl(const QAccessibleInterface* row) { return row->role() != QAccessible::Client; }

    // The default interface of the row's widget.
    QAccessibleInterface* widget() const {
        if (!isValid())
            return nullptr;
        QWidget* row = view_->indexWidget(index_);
        return row ? QAccessible::queryAccessibleInterface(row) : nullptr;
    }

    QPointer<QAbstractItemView> view_;
    QPersistentModelIndex index_;
};

// A list whose rows are drawn by widgets: its rows (in the model's order, so the view's focus and
// selection events name the right one), then what is shown over them.
class RowWidgetList : public QAccessibleWidget {
public:
    explicit RowWidgetList(QAbstractItemView* view)
        : QAccessibleWidget(view, QAccessible::List) {}

    ~RowWidgetList() override {
        for (const auto& row : rows_)
            QAccessible::deleteAccessibleInterface(row.second);
    }

    int childCount() const override { return rowCount() + int(overlays().size()); }

    QAccessibleInterface* child(int index) const override {
        const int rows = rowCount();
        if (index < 0)
            return nullptr;
        if (index < rows)
            return row(view()->model()->index(index, 0, view()->rootIndex()));
        const std::vector<QWidget*> shown = overlays();
        if (size_t(index - rows) < shown.size())
            return QAccessible::queryAccessibleInterface(shown[size_t(index - rows)]);
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child)
            return -1;
        if (const auto* item = dynamic_cast<const RowWidgetItem*>(child))
            return item->isValid() ? item->index().row() : -1;
        const std::vector<QWidget*> shown = overlays();
        for (size_t i = 0; i < shown.size(); ++i)
            if (shown[i] == child->object())
                return rowCount() + int(i);
        return -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint point = view()->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = view()->indexAt(point);
        if (index.isValid())
            return row(index);
        for (QWidget* overlay : overlays())
            if (overlay->geometry().contains(point))
                return QAccessible::queryAccessibleInterface(overlay);
        return nullptr;
    }

    QAccessibleInterface* focusChild() const override {
        if (view()->hasFocus() && view()->currentIndex().isValid())
            return row(view()->currentIndex());
        return QAccessibleWidget::focusChild();
    }

private:
    QAbstractItemView* view() const { return static_cast<QAbstractItemView*>(widget()); }

    int rowCount() const { return view()->model() ? view()->model()->rowCount(view()->rootIndex()) : 0; }

    // The empty-list text, while it shows.
    std::vector<QWidget*> overlays() const {
        auto* text = qobject_cast<QWidget*>(view()->property(emptyTextProperty).value<QObject*>());
        if (text && !text->isHidden())
            return {text};
        return {};
    }

    // One interface per row for as long as the row lives, so the bus keeps one path for it.
    RowWidgetItem* row(const QModelIndex& index) const {
        dropGoneRows();
        for (const auto& known : rows_)
            if (known.first == index)
                return static_cast<RowWidgetItem*>(QAccessible::accessibleInterface(known.second));
        auto* made = new RowWidgetItem(view(), index);
        rows_.emplace_back(QPersistentModelIndex(index), QAccessible::registerAccessibleInterface(made));
        return made;
    }

    void dropGoneRows() const {
        for (auto it = rows_.begin(); it != rows_.end();) {
            if (it->first.isValid()) {
                ++it;
                continue;
            }
            QAccessible::deleteAccessibleInterface(it->second);
            it = rows_.erase(it);
        }
    }

    // Persistent indexes move with their rows; a vector, since their hashes would change under a map.
    mutable std::vector<std::pair<QPersistentModelIndex, QAccessible::Id>> rows_;
};

QAccessibleInterface* makeInterface(const QString&, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (widget->property(rowWidgetsProperty).toBool())
        if (auto* view = qobject_cast<QAbstractItemView*>(widget))
            return new RowWidgetList(view);
    const QVariant role = widget->property(roleProperty);
    if (role.isValid())
        return new QAccessibleWidget(widget, QAccessible::Role(role.toInt()));
    return nullptr;
}

void installFactoryOnce() {
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    (void)installed;
}

// An interface made for `widget` before it was marked (an event of the bridge can ask for one as soon as
// the widget has a parent) is made again through the factory.
void remake(QWidget* widget, const std::function<bool(QAccessibleInterface*)>& isWanted) {
    QAccessibleInterface* cached = QAccessible::queryAccessibleInterface(widget);
    if (cached && !isWanted(cached))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(cached));
}

} // namespace

namespace AccessibleRows {

void exposeRowWidgets(QAbstractItemView* view) {
    installFactoryOnce();
    view->setProperty(rowWidgetsProperty, true);
    remake(view, [](QAccessibleInterface* made) { return dynamic_cast<RowWidgetList*>(made) != nullptr; });
}

void setEmptyText(QAbstractItemView* view, QWidget* text) {
    view->setProperty(emptyTextProperty, QVariant::fromValue<QObject*>(text));
}

void setRole(QWidget* widget, QAccessible::Role role) {
    installFactoryOnce();
    widget->setProperty(roleProperty, int(role));
    remake(widget, [role](QAccessibleInterface* made) { return made->role() == role; });
}

} // namespace AccessibleRows
