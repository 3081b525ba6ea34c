#include "CorvaneIcon/DMGBackground.h"

#include "CorvaneIcon/IconFiles.h"
#include "CorvaneIcon/IconRenderer.h"

#include <QFile>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cerrno>

namespace DMGLayout {

QString shellVariables() {
    return QStringLiteral(
               "DMG_WIN_W=%1\nDMG_WIN_H=%2\nDMG_ICON_SIZE=%3\nDMG_APP_X=%4\nDMG_APP_Y=%5\nDMG_LINK_X=%6\n"
               "DMG_LINK_Y=%7")
        .arg(width)
        .arg(height)
        .arg(iconSize)
        .arg(qRound(appCenter.x()))
        .arg(qRound(appCenter.y()))
        .arg(qRound(linkCenter.x()))
        .arg(qRound(linkCenter.y()));
}

} // namespace DMGLayout

namespace DMGBackground {

namespace {

void drawArrow(QPainter& painter, double iconCenterY) {
    const double y = iconCenterY - 12;
    const QPolygonF outline{QPointF(264, y - 4.5), QPointF(354, y - 4.5), QPointF(354, y - 13),
                            QPointF(376, y),       QPointF(354, y + 13),  QPointF(354, y + 4.5),
                            QPointF(264, y + 4.5)};
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.addPolygon(outline);
    path.closeSubpath();
    painter.fillPath(path, QColor::fromRgbF(0.639f, 0.678f, 0.729f));
}

void drawTitle(QPainter& painter, const QString& title, double width) {
    // Text needs the font database, which only a GUI application has; without one the title is left out.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    QFont font = QGuiApplication::font();
    font.setPixelSize(22);
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    painter.setPen(QColor::fromRgbF(0.298f, 0.337f, 0.388f));
    painter.drawText(QRectF(0, 52 - 20, width, 40), Qt::AlignCenter, title);
}

} // namespace

QImage render(const QString& title, std::optional<double> iconCenterY) {
    QImage image(DMGLayout::width * 2, DMGLayout::height * 2, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        throw RenderError(RenderError::Code::contextFailed);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(2);
    QPainter painter(&image);
    if (!painter.isActive())
        throw RenderError(RenderError::Code::contextFailed);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    QLinearGradient gradient(QPointF(0, 0), QPointF(0, DMGLayout::height));
    gradient.setColorAt(0, QColor::fromRgbF(0.976f, 0.98f, 0.988f));
    gradient.setColorAt(1, QColor::fromRgbF(0.918f, 0.933f, 0.949f));
    gradient.setSpread(QGradient::PadSpread);
    painter.fillRect(QRectF(0, 0, DMGLayout::width, DMGLayout::height), gradient);
    drawArrow(painter, iconCenterY.value_or(DMGLayout::appCenter.y()));
    drawTitle(painter, title, DMGLayout::width);
    painter.end();
    return image;
}

void write(const QString& title, std::optional<double> iconCenterY, const QString& path) {
    const QByteArray png = pngData(render(title, iconCenterY));
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(png) != png.size())
        throw host::SystemError::fromErrno(QStringLiteral("could not write %1").arg(path),
                                           errno ? errno : EIO);
}

} // namespace DMGBackground
