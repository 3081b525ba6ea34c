#include "Corvane/Views/Kit/PageForm.h"

#include "Corvane/Views/Kit/SystemImages.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

FormSection::FormSection(const QString& header, QWidget* parent)
    : QFrame(parent) {
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(6);
    header_ = new QLabel(header, this);
    QFont bold = header_->font();
    bold.setBold(true);
    header_->setFont(bold);
    header_->setVisible(!header.isEmpty());
    column_->addWidget(header_);

    auto* box = new QFrame(this);
    box->setFrameShape(QFrame::StyledPanel);
    rows_ = new QFormLayout(box);
    rows_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    rows_->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    column_->addWidget(box);
}

void FormSection::addRow(const QString& label, QWidget* field) {
    auto* title = new QLabel(label, this);
    title->setBuddy(field);
    rows_->addRow(title, field);
}

void FormSection::addRow(QWidget* row) {
    rows_->addRow(row);
}

QLabel* FormSection::setFooter(const QString& text) {
    if (!footer_) {
        footer_ = new QLabel(this);
        footer_->setWordWrap(true);
        TextStyle::caption(footer_);
        column_->addWidget(footer_);
    }
    if (footer_->text() != text)
        footer_->setText(text);
    footer_->setVisible(!text.isEmpty());
    return footer_;
}

PageForm::PageForm(QWidget* parent)
    : QScrollArea(parent) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(this);
    column_ = new QVBoxLayout(content);
    column_->setContentsMargins(20, 20, 20, 20);
    column_->setSpacing(18);
    setWidget(content);
}

FormSection* PageForm::addSection(const QString& header) {
    auto* section = new FormSection(header, widget());
    column_->addWidget(section);
    return section;
}

void PageForm::addWidget(QWidget* widget, int stretch) {
    column_->addWidget(widget, stretch);
}

void PageForm::addStretch() {
    column_->addStretch(1);
}

namespace TextStyle {

void caption(QLabel* label) {
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    secondary(label);
}

void setColor(QWidget* label, const QColor& color) {
    QPalette palette = label->palette();
    if (palette.color(QPalette::WindowText) == color && palette.color(QPalette::Text) == color)
        return;
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    label->setPalette(palette);
}

void secondary(QLabel* label) {
    setColor(label, ViewColors::secondary());
}

QWidget* warning(const QString& text, bool inline_, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* icon = new QLabel(row);
    icon->setPixmap(systemImage(inline_ ? QStringLiteral("exclamationmark.triangle")
                                        : QStringLiteral("exclamationmark.triangle.fill"),
                                ViewColors::orange(), inline_ ? 12 : 14));
    auto* label = new QLabel(text, row);
    label->setObjectName(QStringLiteral("warningText"));
    label->setWordWrap(true);
    setColor(label, ViewColors::orange());
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(label, 1);
    row->setAccessibleName(text);
    return row;
}

QLabel* absentValue(QWidget* parent) {
    auto* label = new QLabel(QStringLiteral("—"), parent);
    secondary(label);
    return label;
}

QString forMenu(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace TextStyle
