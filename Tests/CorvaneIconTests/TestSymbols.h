#pragma once

#include "CorvaneIcon/SymbolImages.h"

#include <QPainter>
#include <QSet>
#include <atomic>
#include <cmath>

namespace test {

// A deterministic symbol source: "square.fill" a solid square filling the image, "circle.fill" a solid disc,
// "bar" a thin horizontal bar (light ink), "dot" one pixel in the middle; none for any other name. It counts
// the images it makes.
class TestSymbols final : public SymbolImageSource {
public:
    std::optional<QImage> image(const QString& name, double pointSize, SymbolWeight) const override {
        if (!canRender(name))
            return std::nullopt;
        ++made;
        const int side = std::max(1, static_cast<int>(std::ceil(pointSize)));
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        if (name == QLatin1String("square.fill"))
            painter.fillRect(image.rect(), Qt::black);
        else if (name == QLatin1String("circle.fill")) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::black);
            painter.drawEllipse(QRectF(0, 0, side, side));
        } else if (name == QLatin1String("bar"))
            painter.fillRect(QRectF(0, side * 0.45, side, side * 0.1), Qt::black);
        else if (name == QLatin1String("dot"))
            painter.fillRect(QRect(side / 2, side / 2, 1, 1), Qt::black);
        return image;
    }
    bool canRender(const QString& name) const override {
        static const QSet<QString> names{"square.fill", "circle.fill", "bar", "dot"};
        return names.contains(name);
    }

    mutable std::atomic<int> made{0};
};

// Installs TestSymbols for its lifetime.
class TestSymbolsScope {
public:
    TestSymbolsScope()
        : symbols(std::make_shared<TestSymbols>()) {
        setSymbolImageSource(symbols);
    }
    ~TestSymbolsScope() { setSymbolImageSource(nullptr); }
    std::shared_ptr<TestSymbols> symbols;
};

} // namespace test
