#include "CorvaneIcon/BadgePlacement.h"

#include "CorvaneIcon/IconShapes.h"

#include <QHash>
#include <QMutex>
#include <QPainter>
#include <atomic>
#include <cmath>
#include <deque>
#include <numbers>

namespace BadgeStyle {

SymbolWeight symbolWeight(int pixelSize) {
    if (pixelSize < 32)
        return SymbolWeight::Black;
    if (pixelSize < 128)
        return SymbolWeight::Bold;
    return SymbolWeight::Semibold;
}

bool drawsShadow(int pixelSize) {
    return pixelSize > 63;
}

IconColor symbolColor(const IconColor& badgeColor, StubConfig::SymbolStyle style) {
    switch (style) {
    case StubConfig::SymbolStyle::Light:
        return IconColor::grey(1);
    case StubConfig::SymbolStyle::Dark:
        return IconColor::grey(0.12);
    case StubConfig::SymbolStyle::Auto:
        break;
    }
    return relativeLuminance(badgeColor) < 0.55 ? IconColor::grey(1) : IconColor::grey(0.12);
}

double relativeLuminance(const IconColor& color) {
    return IconShapes::luminance(color);
}

} // namespace BadgeStyle

BadgePlacement BadgePlacement::defaultPlacement() {
    return BadgePlacement{QPointF(0.705, 0.295), 0.3, 0.0255};
}

namespace BadgePlacementSolver {

namespace {

struct CacheEntry {
    QImage image;
    BadgePlacement placement;
};

QMutex cacheLock;
std::deque<CacheEntry> cache; // most recently used first
std::atomic<int> solves{0};

// A P x P canvas with the image drawn stretched over it.
QImage canvasOf(const QImage& image, int pixels) {
    QImage canvas(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return canvas;
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(0, 0, pixels, pixels), image);
    return canvas;
}

} // namespace

std::optional<std::vector<bool>> opaqueMask(const QImage& image, int pixels) {
    if (image.isNull())
        return std::nullopt;
    const QImage canvas = canvasOf(image, pixels);
    if (canvas.isNull())
        return std::nullopt;
    std::vector<bool> mask(static_cast<size_t>(pixels) * pixels);
    for (int y = 0; y < pixels; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
        for (int x = 0; x < pixels; ++x)
            mask[static_cast<size_t>(y) * pixels + x] = qAlpha(row[x]) > 200;
    }
    return mask;
}

std::optional<QRectF> boundingBox(const std::vector<bool>& mask, int pixels) {
    int minX = pixels, minY = pixels, maxX = -1, maxY = -1;
    for (int y = 0; y < pixels; ++y)
        for (int x = 0; x < pixels; ++x)
            if (mask[static_cast<size_t>(y) * pixels + x]) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    if (maxX < 0 || minX == maxX || minY == maxY)
        return std::nullopt;
    return QRectF(minX, minY, maxX - minX, maxY - minY);
}

bool circleIsOpaque(QPointF centre, double radius, const std::vector<bool>& mask, int pixels) {
    for (int i = 0; i < 96; ++i) {
        const double angle = 2 * std::numbers::pi * i / 96;
        const double x = std::round(centre.x() + radius * std::cos(angle));
        const double y = std::round(centre.y() + radius * std::sin(angle));
        if (x < 0 || y < 0 || x >= pixels || y >= pixels)
            return false;
        if (!mask[static_cast<size_t>(y) * pixels + static_cast<size_t>(x)])
            return false;
    }
    return true;
}

BadgePlacement solve(const std::vector<bool>& mask, int pixels) {
    const auto box = boundingBox(mask, pixels);
    if (!box)
        return BadgePlacement::defaultPlacement();
    const double m = std::min(box->width(), box->height());
    const double reach = 0.28 * m;
    const double step = 0.01 * m;
    if (reach < 0)
        return BadgePlacement::defaultPlacement();
    const double clearance = 0.03 * pixels;
    double d = BadgeStyle::diameter * m;
    for (int attempt = 0; attempt < 3; ++attempt, d *= 0.9) {
        const double ring = BadgeStyle::ringFraction * d;
        const double outer = d / 2 + ring;
        for (double t = 0; t <= reach; t += step) {
            const QPointF centre(box->right() - outer - t, box->bottom() - outer - t);
            if (circleIsOpaque(centre, outer + clearance, mask, pixels))
                return BadgePlacement{QPointF(centre.x() / pixels, 1 - centre.y() / pixels), d / pixels,
                                      ring / pixels};
            if (step <= 0)
                break;
        }
    }
    return BadgePlacement::defaultPlacement();
}

BadgePlacement solve(const QImage& base) {
    ++solves;
    const auto mask = opaqueMask(base);
    return mask ? solve(*mask) : BadgePlacement::defaultPlacement();
}

BadgePlacement placement(const QImage& base) {
    {
        QMutexLocker locker(&cacheLock);
        for (auto it = cache.begin(); it != cache.end(); ++it) {
            if (it->image == base) {
                CacheEntry entry = *it;
                cache.erase(it);
                cache.push_front(entry);
                return entry.placement;
            }
        }
    }
    const BadgePlacement solved = solve(base);
    QMutexLocker locker(&cacheLock);
    std::erase_if(cache, [&](const CacheEntry& entry) { return entry.image == base; });
    cache.push_front(CacheEntry{base, solved});
    while (cache.size() > static_cast<size_t>(cacheCapacity))
        cache.pop_back();
    return solved;
}

int solveCount() {
    return solves.load();
}

} // namespace BadgePlacementSolver

namespace {

QMutex inkLock;
QHash<QString, SymbolInk> inkCache;
std::atomic<int> measurements{0};

QString inkKey(const QString& symbolName, SymbolWeight weight) {
    return symbolName + QLatin1Char('|') + QString::number(rawValue(weight));
}

std::optional<SymbolInk> computeInk(const QString& symbolName, SymbolWeight weight) {
    ++measurements;
    const auto source = symbolImageSource();
    auto image = source->image(symbolName, SymbolInk::pointSize, weight);
    if (!image)
        image = source->image(QStringLiteral("circle.fill"), SymbolInk::pointSize, weight);
    if (!image || image->isNull())
        return std::nullopt;
    const int pixels = BadgePlacementSolver::maskSize;
    QImage canvas(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return std::nullopt;
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const double w = image->width(), h = image->height();
        painter.drawImage(QRectF((pixels - w) / 2, (pixels - h) / 2, w, h), *image);
    }
    return SymbolInk::inkOf(canvas);
}

} // namespace

std::optional<SymbolInk> SymbolInk::inkOf(const QImage& canvas) {
    int minX = canvas.width(), minY = canvas.height(), maxX = -1, maxY = -1;
    double sum = 0;
    const QImage argb = canvas.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            const int alpha = qAlpha(row[x]);
            if (alpha <= 16)
                continue;
            sum += alpha / 255.0;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (maxX < 0)
        return std::nullopt;
    const int width = maxX - minX + 1;
    const int height = maxY - minY + 1;
    QImage cropped = argb.copy(minX, minY, width, height);
    if (cropped.isNull())
        return std::nullopt;
    return SymbolInk{cropped, sum / (double(width) * height), QSizeF(width, height)};
}

std::optional<SymbolInk> SymbolInk::measure(const QString& symbolName, SymbolWeight weight) {
    const QString key = inkKey(symbolName, weight);
    {
        QMutexLocker locker(&inkLock);
        if (const auto hit = inkCache.constFind(key); hit != inkCache.constEnd())
            return *hit;
    }
    auto ink = computeInk(symbolName, weight);
    if (!ink)
        return std::nullopt;
    QMutexLocker locker(&inkLock);
    inkCache.insert(key, *ink);
    return ink;
}

int SymbolInk::measureCount() {
    return measurements.load();
}

void SymbolInk::forgetAll() {
    QMutexLocker locker(&inkLock);
    inkCache.clear();
}
