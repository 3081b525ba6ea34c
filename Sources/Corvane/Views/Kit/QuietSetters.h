#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>

// Setters for refreshing a control from a model: they emit no change signal, and they leave a control alone
// when it already shows the value (setText moves the caret to the end even for equal text, so a refresh
// while the user types would otherwise jump the cursor).
namespace Quiet {

inline void setText(QLineEdit* field, const QString& text) {
    if (field->text() == text)
        return;
    const QSignalBlocker blocker(field);
    field->setText(text);
}

inline void setPlainText(QPlainTextEdit* editor, const QString& text) {
    if (editor->toPlainText() == text)
        return;
    const QSignalBlocker blocker(editor);
    editor->setPlainText(text);
}

inline void setText(QLabel* label, const QString& text) {
    if (label->text() != text)
        label->setText(text);
}

inline void setChecked(QAbstractButton* button, bool checked) {
    if (button->isChecked() == checked)
        return;
    const QSignalBlocker blocker(button);
    button->setChecked(checked);
}

inline void setCurrentIndex(QComboBox* box, int index) {
    if (box->currentIndex() == index)
        return;
    const QSignalBlocker blocker(box);
    box->setCurrentIndex(index);
}

// Selects the entry whose data is `value`; none found leaves the box as it is.
inline void setCurrentData(QComboBox* box, const QVariant& value) {
    const int index = box->findData(value);
    if (index >= 0)
        setCurrentIndex(box, index);
}

inline void setVisible(QWidget* widget, bool visible) {
    if (widget->isHidden() == visible)
        widget->setVisible(visible);
}

} // namespace Quiet
