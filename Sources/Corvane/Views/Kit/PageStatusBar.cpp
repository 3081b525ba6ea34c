#include "Corvane/Views/Kit/PageStatusBar.h"

#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel* wrappingLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Two lines at most: the bar never pushes the form away.
    label->setMaximumHeight(label->fontMetrics().lineSpacing() * 2 + 2);
    return label;
}

} // namespace

PageStatusBar::PageStatusBar(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("pageStatusBar"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::AlternateBase);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(6);

    auto* messageRow = new QHBoxLayout;
    messageIcon_ = new QLabel(this);
    messageIcon_->setAlignment(Qt::AlignTop);
    message_ = wrappingLabel(this);
    message_->setObjectName(QStringLiteral("pageStatusMessage"));
    messageRow->addWidget(messageIcon_);
    messageRow->addWidget(message_, 1);
    column->addLayout(messageRow);

    warningRow_ = new QWidget(this);
    auto* warningLayout = new QHBoxLayout(warningRow_);
    warningLayout->setContentsMargins(0, 0, 0, 0);
    auto* warningIcon = new QLabel(warningRow_);
    warningIcon->setPixmap(
        systemImage(QStringLiteral("exclamationmark.triangle.fill"), ViewColors::orange(), 14));
    warningIcon->setAlignment(Qt::AlignTop);
    warning_ = wrappingLabel(warningRow_);
    warning_->setObjectName(QStringLiteral("pageStatusWarning"));
    warningLayout->addWidget(warningIcon);
    warningLayout->addWidget(warning_, 1);
    column->addWidget(warningRow_);

    setLines(std::nullopt, std::nullopt);
}

void PageStatusBar::setLines(const std::optional<QString>& error, const std::optional<QString>& status,
                             const std::optional<QString>& warning) {
    const bool isError = error.has_value();
    const std::optional<QString> line = isError ? error : status;
    if (line) {
        messageIcon_->setPixmap(systemImage(isError ? QStringLiteral("xmark.octagon.fill")
                                                    : QStringLiteral("checkmark.circle.fill"),
                                            isError ? ViewColors::red() : ViewColors::green(), 14));
        TextStyle::setColor(message_, isError ? ViewColors::red() : ViewColors::green());
        Quiet::setText(message_, *line);
    } else {
        Quiet::setText(message_, QString());
    }
    Quiet::setVisible(messageIcon_, line.has_value());
    Quiet::setVisible(message_, line.has_value());
    Quiet::setText(warning_, warning.value_or(QString()));
    Quiet::setVisible(warningRow_, warning.has_value());
    Quiet::setVisible(this, line.has_value() || warning.has_value());
}

QString PageStatusBar::shownMessage() const {
    return message_->isHidden() ? QString() : message_->text();
}

QString PageStatusBar::shownWarning() const {
    return warningRow_->isHidden() ? QString() : warning_->text();
}
