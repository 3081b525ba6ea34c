#include "CorvaneIcon/IconColor.h"

#include <QHashFunctions>
#include <algorithm>
#include <cmath>

namespace {

double clampedComponent(double value) {
    return std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
}

// The parse of an unsigned 32-bit hexadecimal number as the colour text has always been read: a leading "+"
// is tolerated, and "-" only in front of zero.
std::optional<quint32> parseHex32(const QString& text) {
    QStringView digits(text);
    bool negative = false;
    if (digits.startsWith(u'+') || digits.startsWith(u'-')) {
        negative = digits.front() == u'-';
        digits = digits.mid(1);
    }
    if (digits.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (QChar c : digits) {
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c.unicode() - '0';
        else if (c >= u'a' && c <= u'f')
            digit = c.unicode() - 'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c.unicode() - 'A' + 10;
        else
            return std::nullopt;
        value = value * 16 + digit;
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (negative && value != 0)
        return std::nullopt;
    return static_cast<quint32>(value);
}

} // namespace

IconColor IconColor::rgb(double red, double green, double blue, double alpha) {
    return IconColor{red, green, blue, alpha};
}

IconColor IconColor::grey(double white, double alpha) {
    return IconColor{white, white, white, alpha};
}

IconColor IconColor::fromHSB(double hue, double saturation, double brightness, double alpha) {
    const double h = (hue - std::floor(hue)) * 6.0;
    const int sector = static_cast<int>(std::floor(h)) % 6;
    const double f = h - std::floor(h);
    const double v = brightness;
    const double p = v * (1 - saturation);
    const double q = v * (1 - saturation * f);
    const double t = v * (1 - saturation * (1 - f));
    switch (sector) {
    case 0:
        return rgb(v, t, p, alpha);
    case 1:
        return rgb(q, v, p, alpha);
    case 2:
        return rgb(p, v, t, alpha);
    case 3:
        return rgb(p, q, v, alpha);
    case 4:
        return rgb(t, p, v, alpha);
    default:
        return rgb(v, p, q, alpha);
    }
}

IconColor::HSB IconColor::hsb() const {
    const double maximum = std::max({red, green, blue});
    const double minimum = std::min({red, green, blue});
    const double delta = maximum - minimum;
    HSB result;
    result.brightness = maximum;
    result.alpha = alpha;
    result.saturation = maximum > 0 ? delta / maximum : 0;
    if (delta > 0) {
        double hue;
        if (maximum == red)
            hue = (green - blue) / delta;
        else if (maximum == green)
            hue = 2 + (blue - red) / delta;
        else
            hue = 4 + (red - green) / delta;
        hue /= 6;
        result.hue = hue < 0 ? hue + 1 : hue;
    }
    return result;
}

std::optional<IconColor> IconColor::fromHex(const QString& text) {
    QString rest = text.trimmed();
    if (rest.startsWith(u'#'))
        rest.remove(0, 1);
    const auto value = parseHex32(rest);
    if (!value)
        return std::nullopt;
    double alpha;
    if (rest.size() == 6)
        alpha = 1;
    else if (rest.size() == 8)
        alpha = ((*value >> 24) & 0xFF) / 255.0;
    else
        return std::nullopt;
    return rgb(((*value >> 16) & 0xFF) / 255.0, ((*value >> 8) & 0xFF) / 255.0, (*value & 0xFF) / 255.0,
               alpha);
}

std::optional<IconColor> IconColor::fromChromeHighlight(qint64 value) {
    if (((value >> 24) & 0xFF) == 0)
        return std::nullopt;
    return rgb(((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0);
}

QString IconColor::hexString() const {
    auto byte = [](double component) {
        return static_cast<int>(std::round(clampedComponent(component) * 255));
    };
    return QStringLiteral("#%1%2%3")
        .arg(byte(red), 2, 16, QLatin1Char('0'))
        .arg(byte(green), 2, 16, QLatin1Char('0'))
        .arg(byte(blue), 2, 16, QLatin1Char('0'))
        .toUpper();
}

QColor IconColor::toQColor() const {
    return QColor::fromRgbF(clampedComponent(red), clampedComponent(green), clampedComponent(blue),
                            clampedComponent(alpha));
}

IconColor IconColor::fromQColor(const QColor& color) {
    if (!color.isValid())
        return IconColor{};
    const QColor rgbColor = color.toRgb();
    return rgb(rgbColor.redF(), rgbColor.greenF(), rgbColor.blueF(), rgbColor.alphaF());
}

size_t qHash(const IconColor& color, size_t seed) {
    return qHashMulti(seed, color.red, color.green, color.blue, color.alpha);
}
