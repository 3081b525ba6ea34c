#pragma once

#include <QFrame>
#include <QScrollArea>

class QFormLayout;
class QColor;
class QLabel;
class QVBoxLayout;

// One section of a page form: an optional header, its rows, and an optional footer in the caption font.
class FormSection : public QFrame {
    Q_OBJECT

public:
    explicit FormSection(const QString& header = {}, QWidget* parent = nullptr);

    QFormLayout* rows() const { return rows_; }
    // A row with a label that names its field (for screen readers too), or a row of its own.
    void addRow(const QString& label, QWidget* field);
    void addRow(QWidget* row);
    // The footer below the rows; an empty text hides it. Returns the footer label.
    QLabel* setFooter(const QString& text);
    QLabel* header() const { return header_; }

private:
    QLabel* header_;
    QFormLayout* rows_;
    QLabel* footer_ = nullptr;
    QVBoxLayout* column_;
};

// A page's scrolling form of sections, so a tall page never grows the window.
class PageForm : public QScrollArea {
    Q_OBJECT

public:
    explicit PageForm(QWidget* parent = nullptr);

    FormSection* addSection(const QString& header = {});
    // Any other block (a list, a custom row) in the page's column.
    void addWidget(QWidget* widget, int stretch = 0);
    void addStretch();
    QVBoxLayout* column() const { return column_; }

private:
    QVBoxLayout* column_;
};

// The window's text conventions.
namespace TextStyle {
// Gives a label's text this colour wherever it stands: a label paints with the window-text role on a page
// and with the text role inside a list or table, so both are set.
void setColor(QWidget* label, const QColor& color);
// Help and footer texts.
void caption(QLabel* label);
// Hints, counts and absent values.
void secondary(QLabel* label);
// A warning: orange, after "exclamationmark.triangle.fill" (or the smaller "exclamationmark.triangle").
QWidget* warning(const QString& text, bool inline_ = false, QWidget* parent = nullptr);
// "—" in the secondary style, for an absent value.
QLabel* absentValue(QWidget* parent = nullptr);
// Texts shown in buttons, actions and menus: a single "&" would be taken for a shortcut marker.
QString forMenu(QString text);
} // namespace TextStyle
