#pragma once

#include <QLabel>

// A one-line label that shows as much of its text as fits, cutting in the middle (names of apps, browsers
// and proxy apps) or at the end; the whole text stays its accessible name and its tooltip when cut.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr, Qt::TextElideMode mode = Qt::ElideMiddle);
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr,
                         Qt::TextElideMode mode = Qt::ElideMiddle);

    QString fullText() const { return fullText_; }
    // Does nothing when the text is unchanged.
    void setFullText(const QString& text);

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateShownText();

    QString fullText_;
    Qt::TextElideMode mode_;
};
