#include "Corvane/Views/Editor/IconStylePicker.h"

#include "Corvane/Views/Editor/IconPreviewView.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int thumbnailPoints = 64;
// The selection ring lies this far outside the thumbnail, so it never covers the icon.
constexpr int ringOutset = 4;
constexpr int titleSpacing = 6;

QFont captionFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

} // namespace

IconStylePicker::IconStylePicker(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("iconStylePicker"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 4);
    row->setSpacing(14);
    for (const Style style : StubConfig::allCases<Style>()) {
        auto* thumbnail = new Thumbnail(style, this);
        thumbnail->setObjectName(QStringLiteral("iconStyle:") + StubConfig::rawValue(style));
        row->addWidget(thumbnail, 0, Qt::AlignVCenter);
        connect(thumbnail, &QAbstractButton::clicked, this, [this, style] { emit styleClicked(style); });
        thumbnails_[style] = thumbnail;
    }
    row->addStretch();
    setSelection(selection_);
}

void IconStylePicker::setSelection(Style style) {
    selection_ = style;
    for (auto& [candidate, thumbnail] : thumbnails_)
        thumbnail->setChosen(candidate == style);
}

void IconStylePicker::setSpecs(const std::function<IconSpec(Style)>& specFor) {
    for (auto& [style, thumbnail] : thumbnails_)
        thumbnail->setSpec(specFor(style));
}

QImage IconStylePicker::thumbnailImage(Style style) const {
    const auto found = thumbnails_.find(style);
    return found == thumbnails_.end() ? QImage() : found->second->image();
}

IconStylePicker::Thumbnail::Thumbnail(Style style, QWidget* parent)
    : QAbstractButton(parent)
    , job_(new IconRenderJob({thumbnailPoints}, thumbnailSettleDelay, this)) {
    setText(StubConfig::title(style));
    setAccessibleName(text());
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    connect(job_, &IconRenderJob::rendered, this, [this](const QList<QImage>& images) {
        image_ = images.value(0);
        update();
    });
}

void IconStylePicker::Thumbnail::setSpec(const IconSpec& iconDescription) {
    job_->setSpec(iconDescription);
}

void IconStylePicker::Thumbnail::setChosen(bool chosen) {
    chosen_ = chosen;
    setChecked(chosen);
    update();
}

QSize IconStylePicker::Thumbnail::sizeHint() const {
    const QFontMetrics metrics(captionFont(font()));
    const int framed = thumbnailPoints + 2 * ringOutset;
    return QSize(std::max(framed, metrics.horizontalAdvance(text()) + 4),
                 framed + titleSpacing + metrics.height());
}

void IconStylePicker::Thumbnail::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QRectF thumbnail((width() - thumbnailPoints) / 2.0, ringOutset, thumbnailPoints, thumbnailPoints);
    if (!image_.isNull()) {
        painter.drawImage(thumbnail, image_);
    } else {
        QColor fill = ViewColors::secondary();
        fill.setAlphaF(fill.alphaF() * 0.12);
        QPainterPath placeholder;
        placeholder.addRoundedRect(thumbnail, 12, 12);
        painter.fillPath(placeholder, fill);
    }
    if (chosen_) {
        // A 3-point stroke whose outer edge is the ring's outline, 4 points out from the thumbnail.
        const QRectF ring =
            thumbnail.adjusted(-ringOutset + 1.5, -ringOutset + 1.5, ringOutset - 1.5, ringOutset - 1.5);
        painter.setPen(QPen(ViewColors::accent(), 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(ring, 10, 10);
    }
    if (hasFocus()) {
        painter.setPen(QPen(ViewColors::accent(), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    painter.setFont(captionFont(font()));
    painter.setPen(chosen_ ? palette().color(QPalette::WindowText) : ViewColors::secondary());
    const QRectF title(0, thumbnail.bottom() + ringOutset + titleSpacing, width(),
                       height() - thumbnail.bottom() - ringOutset - titleSpacing);
    painter.drawText(title, Qt::AlignHCenter | Qt::AlignTop, text());
}

void IconStylePicker::Thumbnail::showEvent(QShowEvent* event) {
    QAbstractButton::showEvent(event);
    job_->setActive(true);
}

void IconStylePicker::Thumbnail::hideEvent(QHideEvent* event) {
    QAbstractButton::hideEvent(event);
    job_->setActive(false);
}
