#pragma once

#include "CorvaneIcon/IconSpec.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace host {
class Timer;
}

// How the icon views get their images: called on a pool thread with a copy of the description, the size in
// points and Chrome's icon (loaded on the main thread, for the badge style); none when rendering fails.
namespace IconPreviews {
using RenderFunction = std::function<std::optional<QImage>(const IconSpec&, int points,
                                                           const std::optional<QImage>& chromeIcon)>;
// IconRenderer::previewImage unless replaced.
RenderFunction renderFunction();
// Replaces the render function (main thread; renders already started keep the one they began with). An
// empty function restores the renderer.
void setRenderFunction(RenderFunction render);
} // namespace IconPreviews

// Renders one icon description at a few sizes off the main thread, once the description has stayed the same
// for the settle delay. A result whose request was superseded (a newer description, or the view going off
// screen) is dropped; a render already running is left to finish.
class IconRenderJob : public QObject {
    Q_OBJECT

public:
    IconRenderJob(std::vector<int> points, double settleDelay, QObject* parent);
    ~IconRenderJob() override;

    // Starts over when the description differs from the current one.
    void setSpec(const IconSpec& iconDescription);
    const std::optional<IconSpec>& spec() const { return spec_; }
    // Renders only while active (the view on screen); becoming active renders the current description.
    void setActive(bool active);

signals:
    // One image per size, in the order given; a null image where rendering failed.
    void rendered(const QList<QImage>& images);

private:
    void restart();
    void cancel();
    void renderNow();

    std::vector<int> points_;
    double settleDelay_;
    std::optional<IconSpec> spec_;
    bool active_ = false;
    std::shared_ptr<host::Timer> settle_;
    quint64 generation_ = 0;
};

// A rendered icon at a size in points, or while there is none a rounded placeholder of the same size.
class IconTile : public QWidget {
    Q_OBJECT

public:
    IconTile(int points, double cornerRadius, QWidget* parent = nullptr);
    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int points_;
    double cornerRadius_;
    QImage image_;
};

// The icon a description gives, at 128, 32 and 16 points side by side.
class IconPreviewView : public QWidget {
    Q_OBJECT

public:
    static constexpr double settleDelay = 0.15;

    explicit IconPreviewView(QWidget* parent = nullptr);
    void setSpec(const IconSpec& iconDescription);
    // The image shown at 128, 32 or 16 points; null while that size shows its placeholder.
    QImage shownImage(int points) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    IconRenderJob* job_;
    std::vector<IconTile*> tiles_;
};
