#include "CorvaneIcon/IconShapes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace IconShapes {

namespace {

double signedPower(double value, double exponent) {
    const double magnitude = std::pow(std::abs(value), exponent);
    return value < 0 ? -magnitude : magnitude;
}

double linearComponent(double c) {
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

} // namespace

const std::vector<Wedge>& wedges() {
    static const std::vector<Wedge> table{{chromeRed, 90}, {chromeGreen, -30}, {chromeYellow, -150}};
    return table;
}

QPainterPath squircle(const QRectF& rect, double exponent) {
    const double a = rect.width() / 2;
    const double b = rect.height() / 2;
    const QPointF centre = rect.center();
    const double e = 2 / exponent;
    QPainterPath path;
    path.moveTo(centre.x() + a, centre.y());
    for (int i = 1; i <= 720; ++i) {
        const double angle = 2 * std::numbers::pi * i / 720;
        path.lineTo(centre.x() + a * signedPower(std::cos(angle), e),
                    centre.y() + b * signedPower(std::sin(angle), e));
    }
    path.closeSubpath();
    return path;
}

std::vector<QPointF> arcPoints(QPointF centre, double radius, double startAngle, double endAngle,
                               bool clockwise) {
    double sweep = endAngle - startAngle;
    if (clockwise && sweep > 0)
        sweep -= 360 * std::ceil(sweep / 360);
    if (!clockwise && sweep < 0)
        sweep += 360 * std::ceil(-sweep / 360);
    const int steps = std::max(2, static_cast<int>(std::ceil(std::abs(sweep) * 2)));
    std::vector<QPointF> points;
    points.reserve(steps + 1);
    for (int i = 0; i <= steps; ++i) {
        const double angle = (startAngle + sweep * i / steps) * std::numbers::pi / 180;
        points.emplace_back(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
    }
    return points;
}

double luminance(const IconColor& color) {
    return 0.2126 * linearComponent(color.red) + 0.7152 * linearComponent(color.green) +
           0.0722 * linearComponent(color.blue);
}

IconColor deepened(const IconColor& color, double limit) {
    const IconColor::HSB hsb = color.hsb();
    double saturation = hsb.saturation;
    double brightness = hsb.brightness;
    IconColor current = color;
    for (int step = 0;; ++step) {
        if (luminance(current) <= limit || step == 40)
            return current;
        brightness *= 0.92;
        saturation = std::min(saturation * 1.1 + 0.02, 1.0);
        current = IconColor::fromHSB(hsb.hue, saturation, brightness, 1);
    }
}

} // namespace IconShapes
