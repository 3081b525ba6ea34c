#include "Corvane/Models/ColorText.h"

#include <cmath>

namespace ColorText {

namespace {

QColor rgb(quint32 value, double alpha) {
    return QColor::fromRgbF(((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0,
                            (value & 0xFF) / 255.0, alpha);
}

int component(float value) {
    return static_cast<int>(std::lround(static_cast<double>(value) * 255.0));
}

} // namespace

std::optional<QColor> colorFromHex(const QString& text) {
    QString digits = text.trimmed();
    if (digits.startsWith(QLatin1Char('#')))
        digits.remove(0, 1);
    if (digits.isEmpty())
        return std::nullopt;
    bool ok = false;
    const quint32 value = digits.toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    if (digits.size() == 6)
        return rgb(value, 1.0);
    if (digits.size() == 8)
        return rgb(value, ((value >> 24) & 0xFF) / 255.0);
    return std::nullopt;
}

QString hexString(const QColor& color) {
    const QColor srgb = color.toRgb();
    if (!srgb.isValid())
        return QStringLiteral("#000000");
    return QStringLiteral("#%1%2%3")
        .arg(component(srgb.redF()), 2, 16, QLatin1Char('0'))
        .arg(component(srgb.greenF()), 2, 16, QLatin1Char('0'))
        .arg(component(srgb.blueF()), 2, 16, QLatin1Char('0'))
        .toUpper();
}

std::optional<QColor> colorFromChromeHighlight(qint64 value) {
    const auto bits = static_cast<quint32>(value & 0xFFFFFFFF);
    if (((bits >> 24) & 0xFF) == 0)
        return std::nullopt;
    return rgb(bits, 1.0);
}

} // namespace ColorText
