#include "Corvane/Views/Kit/ElidedLabel.h"

ElidedLabel::ElidedLabel(QWidget* parent, Qt::TextElideMode mode)
    : QLabel(parent)
    , mode_(mode) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent, Qt::TextElideMode mode)
    : ElidedLabel(parent, mode) {
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text) {
    if (text == fullText_ && !text.isEmpty())
        return;
    fullText_ = text;
    setAccessibleName(text);
    updateShownText();
    updateGeometry();
}

QSize ElidedLabel::minimumSizeHint() const {
    const QSize hint = QLabel::minimumSizeHint();
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 3, hint.height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateShownText();
}

void ElidedLabel::updateShownText() {
    const QString shown = fontMetrics().elidedText(fullText_, mode_, std::max(0, contentsRect().width()));
    const bool cut = shown != fullText_;
    setToolTip(cut ? fullText_ : QString());
    if (text() != shown)
        QLabel::setText(shown);
}
