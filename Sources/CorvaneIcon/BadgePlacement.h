#pragma once

#include "CorvaneCore/ProxyApps/AppConfig.h"
#include "CorvaneIcon/IconColor.h"
#include "CorvaneIcon/SymbolImages.h"

#include <QImage>
#include <QPointF>
#include <QSizeF>
#include <optional>
#include <vector>

// The corner badge's proportions and the rules the renderer applies to symbols.
namespace BadgeStyle {

inline constexpr double diameter = 0.36;
inline constexpr double ringFraction = 0.085;
inline constexpr double symbolFraction = 0.56;

SymbolWeight symbolWeight(int pixelSize);
bool drawsShadow(int pixelSize);
// White on a dark badge (luminance below 0.55), else the dark grey of white level 0.12; or as the style says.
IconColor symbolColor(const IconColor& badgeColor, StubConfig::SymbolStyle style);
double relativeLuminance(const IconColor& color);

} // namespace BadgeStyle

// Where the corner badge sits on a base icon, as fractions of the icon's side on a y-up unit square.
struct BadgePlacement {
    QPointF centre;
    double diameter = 0;
    double ring = 0;

    double outerRadius() const { return diameter / 2 + ring; }
    static BadgePlacement defaultPlacement();

    bool operator==(const BadgePlacement&) const = default;
};

namespace BadgePlacementSolver {

// The placement for the base image: solved once per picture and kept in a small cache keyed by the picture's
// content (so another image at a reused address never gets a stale answer, and previews do not pile up).
BadgePlacement placement(const QImage& base);
// The solve itself, uncached.
BadgePlacement solve(const QImage& base);
// How many pictures the cache holds at most.
inline constexpr int cacheCapacity = 8;
// Solves performed since the process started (for tests of the cache).
int solveCount();

// The measuring steps, on a mask of P x P cells (row 0 at the top).
inline constexpr int maskSize = 256;
std::optional<std::vector<bool>> opaqueMask(const QImage& image, int pixels = maskSize);
std::optional<QRectF> boundingBox(const std::vector<bool>& mask, int pixels = maskSize);
bool circleIsOpaque(QPointF centre, double radius, const std::vector<bool>& mask, int pixels = maskSize);
// The placement on a mask (step 2 onwards), default when nothing fits.
BadgePlacement solve(const std::vector<bool>& mask, int pixels = maskSize);

} // namespace BadgePlacementSolver

// The tight box round a symbol's ink at a weight, the symbol cropped to it, and how densely it is inked.
struct SymbolInk {
    QImage image; // the cropped symbol, ink black on transparent
    double density = 0;
    QSizeF size;

    // Cached per symbol name and weight; an unknown name is measured as "circle.fill". None when nothing can
    // be measured (nothing is cached then).
    static std::optional<SymbolInk> measure(const QString& symbolName, SymbolWeight weight);
    // The measurement of an image already drawn on the 256 x 256 canvas.
    static std::optional<SymbolInk> inkOf(const QImage& canvas);
    // Forgets every measurement (the symbol source changed).
    static void forgetAll();
    // Measurements performed since the process started (for tests of the cache).
    static int measureCount();

    inline static constexpr double pointSize = 158.72;
};
