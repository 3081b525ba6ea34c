#pragma once

#include <QAccessible>

class QAbstractItemView;
class QWidget;

// What a screen reader finds in the lists whose rows are drawn by widgets. Qt's own item-view interface
// gives each row only the model's text and none of the row widget's controls, and it leaves out anything
// else drawn over the list (the empty-list text). Call these before the widget is first shown.
namespace AccessibleRows {

// `view`'s rows become list items named by the model's accessible text (else its display text) and
// described by its accessible description, each holding the controls of its row widget as children.
void exposeRowWidgets(QAbstractItemView* view);
// `text`, drawn over `view` while it has no rows, is the list's child whenever it shows.
void setEmptyText(QAbstractItemView* view, QWidget* text);

// `widget` is announced with `role` (a list of rows laid out by hand, or one of its rows), named by its
// accessible name; its child widgets stay its children.
void setRole(QWidget* widget, QAccessible::Role role);

} // namespace AccessibleRows
