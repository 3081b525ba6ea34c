#include "Corvane/Views/Kit/SystemImages.h"

#include "CorvaneIcon/SymbolImages.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QWidget>

namespace ViewColors {
QColor red() {
    return QColor(0xFF, 0x3B, 0x30);
}
QColor green() {
    return QColor(0x28, 0xA7, 0x45);
}
QColor orange() {
    return QColor(0xFF, 0x95, 0x00);
}
QColor blue() {
    return QColor(0x00, 0x7A, 0xFF);
}
QColor accent() {
    return QGuiApplication::palette().color(QPalette::Highlight);
}
QColor secondary() {
    QColor color = QGuiApplication::palette().color(QPalette::WindowText);
    color.setAlphaF(0.55);
    return color;
}
} // namespace ViewColors

QPixmap systemImage(const QString& name, const QColor& tint, int points) {
    // Drawn at twice the size so the image stays sharp on dense screens.
    const qreal ratio = std::max<qreal>(1.0, qApp ? qApp->devicePixelRatio() : 1.0);
    const auto ink = symbolImageSource()->image(name, points * ratio, SymbolWeight::Semibold);
    if (!ink)
        return {};
    QImage tinted = ink->convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&tinted);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(tinted.rect(), tint);
    }
    QPixmap pixmap = QPixmap::fromImage(tinted);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QIcon systemIcon(const QString& name, const QColor& tint, int points) {
    const QPixmap pixmap = systemImage(name, tint, points);
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

QColor textColor(const QWidget* widget) {
    return (widget ? widget->palette() : QGuiApplication::palette()).color(QPalette::WindowText);
}

bool canDrawSystemImage(const QString& name) {
    return symbolImageSource()->canRender(name);
}
