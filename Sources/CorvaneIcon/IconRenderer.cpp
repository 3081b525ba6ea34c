#include "CorvaneIcon/IconRenderer.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/ApplicationIcons.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "CorvaneIcon/IconShapes.h"
#include "CorvaneIcon/SymbolCatalog.h"

#include <QCoreApplication>
#include <QMutex>
#include <QPainter>
#include <QPolygonF>
#include <QThread>
#include <algorithm>
#include <cmath>

namespace {

QString renderErrorDescription(RenderError::Code code) {
    switch (code) {
    case RenderError::Code::chromeIconMissing:
        return QStringLiteral("could not load Google Chrome's icon");
    case RenderError::Code::contextFailed:
        return QStringLiteral("could not create a drawing context");
    }
    return {};
}

QMutex chromeIconLock;
std::optional<std::optional<QString>> chromeIconPathOverride;
// Chrome's icon as last loaded on the main thread: what renders on other threads draw.
std::optional<QImage> lastChromeIcon;

// The workspace (and the icon theme behind it) belongs to the main thread; without an application object
// there is only the caller's thread.
bool onMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

// A painter on the canvas with y growing upwards, as the layout is worked out.
void flipUpwards(QPainter& painter, double side) {
    painter.translate(0, side);
    painter.scale(1, -1);
}

// Draws an image upright into a y-up rect.
void drawImageUpright(QPainter& painter, const QRectF& rect, const QImage& image) {
    painter.save();
    painter.translate(rect.left(), rect.top() + rect.height());
    painter.scale(1, -1);
    painter.drawImage(QRectF(0, 0, rect.width(), rect.height()), image);
    painter.restore();
}

QPainterPath circlePath(QPointF centre, double radius) {
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

void fill(QPainter& painter, const QPainterPath& path, const IconColor& color) {
    painter.fillPath(path, color.toQColor());
}

// The template image in one colour: its alpha kept, the colour wherever it has ink.
QImage tinted(const QImage& source, QSize size, const IconColor& color) {
    QImage result(size, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), source);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(QRectF(QPointF(0, 0), QSizeF(size)), color.toQColor());
    return result;
}

void drawInkFit(QPainter& painter, const IconSpec& iconDescription, int pixels, QPointF centre, double radius,
                double fillFactor, const IconColor& color) {
    const auto ink = SymbolInk::measure(iconDescription.symbolName, BadgeStyle::symbolWeight(pixels));
    if (!ink)
        return;
    const QSizeF drawn =
        IconLayout::fittedSymbolSize(ink->size, ink->density, radius, fillFactor,
                                     IconRenderer::isCircleEnclosed(iconDescription.symbolName));
    const QSize tintSize(std::max(1, int(std::ceil(drawn.width()))),
                         std::max(1, int(std::ceil(drawn.height()))));
    const QImage symbol = tinted(ink->image, tintSize, color);
    drawImageUpright(painter,
                     QRectF(centre.x() - drawn.width() / 2, centre.y() - drawn.height() / 2, drawn.width(),
                            drawn.height()),
                     symbol);
}

void drawSegments(QPainter& painter, const IconSpec& iconDescription, double side, int pixels,
                  bool fullBleed) {
    const auto layout = IconLayout::segments(pixels, fullBleed);
    painter.save();
    if (!fullBleed)
        painter.setClipPath(IconShapes::squircle(IconLayout::roundedSquare(side), 5));
    for (const auto& wedge : IconShapes::wedges()) {
        QPolygonF polygon;
        polygon << layout.centre;
        for (const QPointF& point :
             IconShapes::arcPoints(layout.centre, layout.wedgeRadius, wedge.start, wedge.start - 120, true))
            polygon << point;
        QPainterPath path;
        path.addPolygon(polygon);
        path.closeSubpath();
        fill(painter, path, wedge.color);
    }
    painter.restore();
    fill(painter, circlePath(layout.centre, layout.discRadius), IconColor::grey(1));
    const IconColor color = IconShapes::luminance(iconDescription.badgeColor) > 0.72
                                ? IconShapes::deepened(iconDescription.badgeColor, 0.72)
                                : iconDescription.badgeColor;
    drawInkFit(painter, iconDescription, pixels, layout.centre, layout.discRadius, 0.54, color);
}

void drawRing(QPainter& painter, const IconSpec& iconDescription, double side, int pixels) {
    fill(painter, IconShapes::squircle(IconLayout::roundedSquare(side), 5), IconShapes::field);
    const auto layout = IconLayout::ring(pixels);
    for (const auto& wedge : IconShapes::wedges()) {
        const double from = wedge.start - layout.gap;
        const double to = wedge.start - 120 + layout.gap;
        QPolygonF polygon;
        for (const QPointF& point : IconShapes::arcPoints(layout.centre, layout.outerRadius, from, to, true))
            polygon << point;
        for (const QPointF& point : IconShapes::arcPoints(layout.centre, layout.innerRadius, to, from, false))
            polygon << point;
        QPainterPath path;
        path.addPolygon(polygon);
        path.closeSubpath();
        fill(painter, path, wedge.color);
    }
    IconColor color = IconColor::grey(1);
    switch (iconDescription.symbolStyle) {
    case StubConfig::SymbolStyle::Auto:
        color = IconShapes::deepened(iconDescription.badgeColor, 0.3);
        break;
    case StubConfig::SymbolStyle::Light:
        break;
    case StubConfig::SymbolStyle::Dark:
        color = IconColor::grey(0.12);
        break;
    }
    drawInkFit(painter, iconDescription, pixels, layout.centre, layout.symbolRadius, 0.94, color);
}

// A soft shadow of a disc: the disc's alpha blurred (three box passes each way, close to a Gaussian).
QImage discShadow(double radius, double blur, const QColor& color, QPointF& origin, QPointF centre) {
    const int margin = int(std::ceil(blur * 2)) + 2;
    const int side = int(std::ceil(radius * 2)) + 2 * margin;
    origin = QPointF(centre.x() - side / 2.0, centre.y() - side / 2.0);
    QImage alpha(side, side, QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter painter(&alpha);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(QPointF(side / 2.0, side / 2.0), radius, radius);
    }
    const int boxRadius = std::max(1, int(std::lround(blur / 2)));
    std::vector<int> line(side);
    for (int pass = 0; pass < 6; ++pass) {
        const bool horizontal = pass % 2 == 0;
        for (int i = 0; i < side; ++i) {
            for (int j = 0; j < side; ++j)
                line[j] = horizontal ? alpha.constScanLine(i)[j] : alpha.constScanLine(j)[i];
            int sum = 0;
            for (int j = -boxRadius; j <= boxRadius; ++j)
                sum += line[std::clamp(j, 0, side - 1)];
            for (int j = 0; j < side; ++j) {
                const int value = sum / (2 * boxRadius + 1);
                if (horizontal)
                    alpha.scanLine(i)[j] = uchar(value);
                else
                    alpha.scanLine(j)[i] = uchar(value);
                sum += line[std::min(j + boxRadius + 1, side - 1)] - line[std::max(j - boxRadius, 0)];
            }
        }
    }
    QImage shadow(side, side, QImage::Format_ARGB32_Premultiplied);
    shadow.fill(Qt::transparent);
    QPainter painter(&shadow);
    painter.drawImage(0, 0, alpha);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(shadow.rect(), color);
    return shadow;
}

void drawBadge(QPainter& painter, const IconSpec& iconDescription, double side, int pixels,
               const QImage& base) {
    drawImageUpright(painter, QRectF(0, 0, side, side), base);
    const auto layout = IconLayout::badge(BadgePlacementSolver::placement(base), pixels);
    if (layout.shadow) {
        QPointF origin;
        const QImage shadow = discShadow(layout.ringRadius, layout.shadowBlur, QColor(0, 0, 0, 64), origin,
                                         layout.centre + layout.shadowOffset);
        drawImageUpright(painter, QRectF(origin, QSizeF(shadow.size())), shadow);
    }
    fill(painter, circlePath(layout.centre, layout.ringRadius), IconColor::grey(1));
    fill(painter, circlePath(layout.centre, layout.badgeRadius), iconDescription.badgeColor);

    const auto source = symbolImageSource();
    auto symbol = source->image(iconDescription.symbolName, layout.pointSize, layout.weight);
    if (!symbol)
        symbol = source->image(QStringLiteral("circle.fill"), layout.pointSize, layout.weight);
    if (!symbol || symbol->isNull())
        return;
    const double w = symbol->width(), h = symbol->height();
    const double scale = std::min(layout.pointSize / std::max(w, 1.0), layout.pointSize / std::max(h, 1.0));
    const QImage ink =
        tinted(*symbol, symbol->size(),
               BadgeStyle::symbolColor(iconDescription.badgeColor, iconDescription.symbolStyle));
    drawImageUpright(
        painter,
        QRectF(layout.centre.x() - w * scale / 2, layout.centre.y() - h * scale / 2, w * scale, h * scale),
        ink);
}

std::optional<QString> chromeIconPath() {
    {
        QMutexLocker locker(&chromeIconLock);
        if (chromeIconPathOverride)
            return *chromeIconPathOverride;
    }
    // Where Google Chrome is not installed, Chromium serves as this machine's Chrome.
    auto app = host::workspace().urlForApplication(Corvane::chromeBundleID);
    if (!app)
        app = host::workspace().urlForApplication(QStringLiteral("org.chromium.Chromium"));
    return host::applicationIconFile(app.value_or(QStringLiteral("/Applications/Google Chrome.app")));
}

} // namespace

RenderError::RenderError(Code code)
    : host::Error(renderErrorDescription(code))
    , code_(code) {}

namespace IconLayout {

QRectF roundedSquare(double side) {
    return QRectF(0.055 * side, 0.055 * side, 0.89 * side, 0.89 * side);
}

Ring ring(int pixels) {
    const QRectF square = roundedSquare(pixels);
    const double width = square.width();
    const double outer = 0.42 * width;
    const double inner = outer - 0.085 * width;
    return Ring{square.center(), width, outer, inner, inner - 0.045 * width, pixels > 63 ? 2.0 : 0.0};
}

Segments segments(int pixels, bool fullBleed) {
    const QRectF area = fullBleed ? QRectF(0, 0, pixels, pixels) : roundedSquare(pixels);
    return Segments{area.center(), area.width(), 0.42 * area.width()};
}

QSizeF fittedSymbolSize(QSizeF ink, double density, double radius, double fillFactor, bool circleEnclosed) {
    const double iw = ink.width(), ih = ink.height();
    double scale;
    if (circleEnclosed) {
        scale = std::min(2 * radius / iw, 2 * radius / ih);
    } else {
        const double b = 2 * radius / std::sqrt(2.0);
        const double fit = std::min(b / iw, b / ih) * fillFactor;
        double cover = (fit * iw) * (fit * ih) * density;
        if (b * b > 1)
            cover /= b * b;
        double balance = 1;
        if (cover > 0 && cover < 0.3)
            balance = std::clamp(std::sqrt(0.3 / cover), 0.82, 1.35);
        else if (cover > 0.4)
            balance = std::clamp(std::sqrt(0.4 / cover), 0.82, 1.35);
        scale = std::min(fit * balance, std::min(b / iw, b / ih) * 0.95);
    }
    return QSizeF(std::max(scale * iw, 1.0), std::max(scale * ih, 1.0));
}

Badge badge(const BadgePlacement& placement, int pixels) {
    const double side = pixels;
    const double diameter = placement.diameter * side;
    const double ring = placement.ring * side;
    return Badge{placement.centre * side,
                 diameter / 2 + ring,
                 diameter / 2,
                 BadgeStyle::drawsShadow(pixels),
                 0.02 * side,
                 QPointF(0, -0.006 * side),
                 diameter * BadgeStyle::symbolFraction,
                 BadgeStyle::symbolWeight(pixels)};
}

} // namespace IconLayout

namespace IconRenderer {

QImage render(const IconSpec& iconDescription, int pixels, const std::optional<QImage>& base,
              bool fullBleed) {
    if (pixels <= 0)
        throw RenderError(RenderError::Code::contextFailed);
    QImage canvas(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        throw RenderError(RenderError::Code::contextFailed);
    canvas.fill(Qt::transparent);
    std::optional<QImage> baseImage;
    if (iconDescription.iconStyle == StubConfig::IconStyle::Badge) {
        baseImage = base ? base : chromeBaseImage();
        if (!baseImage || baseImage->isNull())
            throw RenderError(RenderError::Code::chromeIconMissing);
    }
    QPainter painter(&canvas);
    if (!painter.isActive())
        throw RenderError(RenderError::Code::contextFailed);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const double side = pixels;
    flipUpwards(painter, side);
    switch (iconDescription.iconStyle) {
    case StubConfig::IconStyle::Segments:
        drawSegments(painter, iconDescription, side, pixels, fullBleed);
        break;
    case StubConfig::IconStyle::Ring:
        drawRing(painter, iconDescription, side, pixels);
        break;
    case StubConfig::IconStyle::Badge:
        drawBadge(painter, iconDescription, side, pixels, *baseImage);
        break;
    }
    painter.end();
    return canvas;
}

void prepareSizes(const IconSpec& iconDescription, const std::vector<int>& pixelSizes,
                  const std::optional<QImage>& base) {
    if (iconDescription.iconStyle == StubConfig::IconStyle::Badge) {
        if (base && !base->isNull())
            BadgePlacementSolver::placement(*base);
        return;
    }
    std::vector<SymbolWeight> weights;
    for (int pixels : pixelSizes)
        if (const SymbolWeight weight = BadgeStyle::symbolWeight(pixels);
            std::find(weights.begin(), weights.end(), weight) == weights.end())
            weights.push_back(weight);
    for (SymbolWeight weight : weights)
        SymbolInk::measure(iconDescription.symbolName, weight);
}

std::optional<QImage> previewImage(const IconSpec& iconDescription, int points,
                                   const std::optional<QImage>& base) {
    try {
        QImage image = render(iconDescription, 2 * points, base);
        image.setDevicePixelRatio(2);
        return image;
    } catch (const host::Error&) {
        return std::nullopt;
    }
}

std::optional<QImage> chromeBaseImage() {
    if (!onMainThread()) {
        QMutexLocker locker(&chromeIconLock);
        return lastChromeIcon;
    }
    const auto path = chromeIconPath();
    std::optional<QImage> image;
    if (path && !path->isEmpty()) {
        QImage loaded(*path);
        if (!loaded.isNull())
            image = std::move(loaded);
    }
    QMutexLocker locker(&chromeIconLock);
    lastChromeIcon = image;
    return image;
}

bool isCircleEnclosed(const QString& symbolName) {
    QStringList pieces = symbolName.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    bool removedCircle = false;
    while (pieces.size() >= 2 && SymbolCatalog::variantTokens().contains(pieces.last())) {
        removedCircle = removedCircle || pieces.last() == QLatin1String("circle");
        pieces.removeLast();
    }
    return removedCircle || (pieces.size() == 1 && pieces.first() == QLatin1String("circle"));
}

void setChromeIconPathForTesting(std::optional<QString> path) {
    QMutexLocker locker(&chromeIconLock);
    lastChromeIcon.reset();
    if (path)
        chromeIconPathOverride = std::move(path);
    else
        chromeIconPathOverride.reset();
}

} // namespace IconRenderer
