#pragma once

#include <QWidget>
#include <optional>

class QLabel;

// The bar pinned below a page's form: the error line (red, "xmark.octagon.fill") or else the status line
// (green, "checkmark.circle.fill"), at most two lines, then an optional warning (orange,
// "exclamationmark.triangle.fill"). Hidden while it has nothing to show.
class PageStatusBar : public QWidget {
    Q_OBJECT

public:
    explicit PageStatusBar(QWidget* parent = nullptr);

    void setLines(const std::optional<QString>& error, const std::optional<QString>& status,
                  const std::optional<QString>& warning = std::nullopt);

    // What a reader sees: the message line and the warning line (empty when not shown).
    QString shownMessage() const;
    QString shownWarning() const;

private:
    QLabel* messageIcon_;
    QLabel* message_;
    QWidget* warningRow_;
    QLabel* warning_;
};
