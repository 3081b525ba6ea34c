#pragma once

#include "CorvaneIcon/IconColor.h"

#include <QPainterPath>
#include <QRectF>
#include <vector>

// The shapes and colours the icon styles are drawn with. Coordinates here are y-up (the renderer flips its
// canvas once); angles are degrees counter-clockwise from the positive x axis.
namespace IconShapes {

inline constexpr IconColor chromeRed{0.918, 0.263, 0.208, 1};
inline constexpr IconColor chromeYellow{0.984, 0.737, 0.016, 1};
inline constexpr IconColor chromeGreen{0.204, 0.659, 0.325, 1};
inline constexpr IconColor field{0.949, 0.945, 0.925, 1};

// One third of the Chrome wheel: it runs clockwise for 120 degrees from `start`.
struct Wedge {
    IconColor color;
    double start;
};
const std::vector<Wedge>& wedges();

// The superellipse |x/a|^n + |y/b|^n = 1 inscribed in the rect, traced as a closed polygon of 720 sides.
QPainterPath squircle(const QRectF& rect, double exponent);

// The points of an arc round `centre`, from `startAngle` to `endAngle`, clockwise (decreasing angles) or not;
// both ends included. Used to build wedge and ring paths without depending on a y-down arc convention.
std::vector<QPointF> arcPoints(QPointF centre, double radius, double startAngle, double endAngle,
                               bool clockwise);

// Relative luminance (WCAG) of the colour; alpha plays no part.
double luminance(const IconColor& color);

// A darker, more saturated version of the colour (same hue) whose luminance is at most `limit`, after at most
// 40 steps; the colour itself when it already is.
IconColor deepened(const IconColor& color, double limit);

} // namespace IconShapes
