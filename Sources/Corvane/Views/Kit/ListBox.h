#pragma once

#include <QColor>
#include <QFrame>
#include <QString>
#include <QWidget>

class QAbstractItemView;
class QHBoxLayout;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QToolButton;

// The background of a list-box row at `index`: the accent tint when selected, else the palette's
// alternating row colours (none when the palette has no second colour distinct from the first).
QColor listBoxRowColor(int index, bool isSelected, const QPalette& palette);
// Gives a row widget drawn in a list box its insets (8 points at the sides, 5 above and below).
void listBoxRow(QWidget* row);

// An editable list drawn as a bordered box: a scrolling column of rows (row widgets on alternating
// backgrounds, the selected one tinted) and a thin footer bar below for the add and remove buttons. The
// caller owns the rows, the selection and the actions; `list()` is the plain list for selection, drag and
// drop and item lookups.
class ListBox : public QFrame {
    Q_OBJECT

public:
    explicit ListBox(int minHeight, QWidget* parent = nullptr);
    ~ListBox() override;

    QListWidget* list() const { return list_; }
    // Shows `rows` (a view of rows that need a model of their own) in the place of the box's own list, which
    // leaves the window; the placeholder then shows in `rows` while its model has no row.
    void setRowsView(QAbstractItemView* rows);
    // The footer content (usually a ListBoxButtons), replacing any earlier one.
    void setFooter(QWidget* footer);
    QWidget* footer() const { return footer_; }
    // A text shown in the list area while it has no rows; empty shows nothing.
    void setPlaceholder(const QString& text);
    QLabel* placeholder() const { return placeholder_; }

    // Rows: a widget per row, its item carrying `text` as the row's text for screen readers.
    QListWidgetItem* insertRow(int position, QWidget* row, const QString& text);
    QListWidgetItem* appendRow(QWidget* row, const QString& text);
    void removeRow(int position);
    int rowCount() const;
    QWidget* rowWidget(int position) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void updatePlaceholder();
    // Keeps the list and the footer inside the box's rounded outline, so their square corners do not paint
    // over it.
    void clipToOutline(QWidget* child);

    QListWidget* list_;
    QAbstractItemView* rows_; // the view shown: the box's own list unless another took its place
    QLabel* placeholder_;
    QWidget* footerBar_;
    QHBoxLayout* footerLayout_;
    QWidget* footer_ = nullptr;
};

// The standard footer of a list box: the caller's add control, a divider, the "minus" remove button (enabled
// while `canRemove`), a divider, then space to the end.
class ListBoxButtons : public QWidget {
    Q_OBJECT

public:
    explicit ListBoxButtons(QWidget* addControl, QWidget* parent = nullptr);

    // A "plus" button of the footer's size, with `accessibleName` as its name and help text.
    static QToolButton* makeAddButton(const QString& accessibleName, QWidget* parent = nullptr);

    void setCanRemove(bool canRemove);
    bool canRemove() const;
    QToolButton* removeButton() const { return remove_; }
    QWidget* addControl() const { return add_; }

signals:
    void removeClicked();

private:
    QWidget* add_;
    QToolButton* remove_;
};
