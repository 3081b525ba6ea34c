#include "Corvane/Views/Editor/IconPreviewView.h"

#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Services.h"
#include "CorvaneIcon/IconRenderer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QVBoxLayout>

namespace IconPreviews {

namespace {
RenderFunction& installedRenderFunction() {
    static RenderFunction render;
    return render;
}
} // namespace

RenderFunction renderFunction() {
    if (const RenderFunction& render = installedRenderFunction())
        return render;
    return [](const IconSpec& iconDescription, int points, const std::optional<QImage>& chromeIcon) {
        return IconRenderer::previewImage(iconDescription, points, chromeIcon);
    };
}

void setRenderFunction(RenderFunction render) {
    installedRenderFunction() = std::move(render);
}

} // namespace IconPreviews

IconRenderJob::IconRenderJob(std::vector<int> points, double settleDelay, QObject* parent)
    : QObject(parent)
    , points_(std::move(points))
    , settleDelay_(settleDelay) {}

IconRenderJob::~IconRenderJob() {
    cancel();
}

void IconRenderJob::setSpec(const IconSpec& iconDescription) {
    if (spec_ == iconDescription)
        return;
    spec_ = iconDescription;
    if (active_)
        restart();
}

void IconRenderJob::setActive(bool active) {
    if (active_ == active)
        return;
    active_ = active;
    if (active_)
        restart();
    else
        cancel();
}

void IconRenderJob::restart() {
    cancel();
    if (!spec_)
        return;
    QPointer<IconRenderJob> guard(this);
    settle_ = host::mainQueue().schedule(settleDelay_, [guard] {
        if (guard)
            guard->renderNow();
    });
}

void IconRenderJob::cancel() {
    ++generation_;
    if (settle_) {
        settle_->cancel();
        settle_.reset();
    }
}

void IconRenderJob::renderNow() {
    settle_.reset();
    const quint64 generation = generation_;
    const IconSpec iconDescription = *spec_;
    // Chrome's icon comes from the workspace, which is the main thread's; the pool only draws it.
    std::optional<QImage> chromeIcon;
    if (iconDescription.iconStyle == StubConfig::IconStyle::Badge)
        chromeIcon = IconRenderer::chromeBaseImage();
    auto render = [render = IconPreviews::renderFunction(), iconDescription, chromeIcon, points = points_] {
        QList<QImage> images;
        for (const int size : points) {
            const auto image = render(iconDescription, size, chromeIcon);
            images.append(image ? *image : QImage());
        }
        return images;
    };
    host::runInBackground(std::move(render),
                          [guard = QPointer<IconRenderJob>(this), generation](const QList<QImage>& images) {
                              if (guard && generation == guard->generation_)
                                  emit guard->rendered(images);
                          });
}

IconTile::IconTile(int points, double cornerRadius, QWidget* parent)
    : QWidget(parent)
    , points_(points)
    , cornerRadius_(cornerRadius) {
    setFixedSize(points, points);
}

void IconTile::setImage(const QImage& image) {
    image_ = image;
    update();
}

QSize IconTile::sizeHint() const {
    return QSize(points_, points_);
}

void IconTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QRectF frame(0, 0, points_, points_);
    if (!image_.isNull()) {
        painter.drawImage(frame, image_);
        return;
    }
    QColor fill = ViewColors::secondary();
    fill.setAlphaF(fill.alphaF() * 0.12);
    QPainterPath path;
    path.addRoundedRect(frame, cornerRadius_, cornerRadius_);
    painter.fillPath(path, fill);
}

IconPreviewView::IconPreviewView(QWidget* parent)
    : QWidget(parent)
    , job_(new IconRenderJob({128, 32, 16}, settleDelay, this)) {
    setObjectName(QStringLiteral("iconPreview"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(20);
    for (const int points : {128, 32, 16}) {
        auto* column = new QVBoxLayout;
        column->setSpacing(6);
        auto* tile = new IconTile(points, points / 5.0, this);
        tile->setObjectName(QStringLiteral("iconPreview%1").arg(points));
        auto* caption = new QLabel(QString::number(points), this);
        TextStyle::caption(caption);
        QFont smaller = caption->font();
        smaller.setPointSizeF(smaller.pointSizeF() * 0.9);
        caption->setFont(smaller);
        column->addWidget(tile, 0, Qt::AlignHCenter);
        column->addWidget(caption, 0, Qt::AlignHCenter);
        row->addLayout(column);
        row->setAlignment(column, Qt::AlignBottom);
        tiles_.push_back(tile);
    }
    row->addStretch();
    connect(job_, &IconRenderJob::rendered, this, [this](const QList<QImage>& images) {
        for (size_t i = 0; i < tiles_.size() && i < size_t(images.size()); ++i)
            tiles_[i]->setImage(images[qsizetype(i)]);
    });
}

void IconPreviewView::setSpec(const IconSpec& iconDescription) {
    job_->setSpec(iconDescription);
}

QImage IconPreviewView::shownImage(int points) const {
    for (const IconTile* tile : tiles_)
        if (tile->width() == points)
            return tile->image();
    return {};
}

void IconPreviewView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    job_->setActive(true);
}

void IconPreviewView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    job_->setActive(false);
}
