#pragma once

#include "CorvaneHost/Error.h"
#include "CorvaneIcon/BadgePlacement.h"
#include "CorvaneIcon/IconSpec.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <optional>
#include <vector>

class RenderError : public host::Error {
public:
    enum class Code { chromeIconMissing, contextFailed };

    explicit RenderError(Code code);
    Code code() const { return code_; }
    bool operator==(const RenderError& other) const { return code_ == other.code_; }

private:
    Code code_;
};

// The numbers of each style's layout on an S x S canvas, y up, worked out apart from drawing so they can be
// checked exactly.
namespace IconLayout {

// The rounded square of the segments and ring styles: inset 0.055 of the side on every edge.
QRectF roundedSquare(double side);

struct Ring {
    QPointF centre;
    double width;        // W, the rounded square's width
    double outerRadius;  // 0.42 W
    double innerRadius;  // outer - 0.085 W
    double symbolRadius; // inner - 0.045 W
    double gap;          // degrees trimmed from each end of every arc
};
Ring ring(int pixels);

struct Segments {
    QPointF centre;
    double wedgeRadius;
    double discRadius;
};
Segments segments(int pixels, bool fullBleed);

// The drawn size of a symbol whose ink box is `ink` with `density`, fitted into the circle of radius r with
// fill factor k: circle-enclosed symbols fill the circle, others are balanced inside its inscribed square.
QSizeF fittedSymbolSize(QSizeF ink, double density, double radius, double fillFactor, bool circleEnclosed);

struct Badge {
    QPointF centre;
    double ringRadius;  // the white disc
    double badgeRadius; // the coloured disc
    bool shadow;
    double shadowBlur;
    QPointF shadowOffset;
    double pointSize;
    SymbolWeight weight;
};
Badge badge(const BadgePlacement& placement, int pixels);

} // namespace IconLayout

// Draws a proxy app's icon. Safe to call from several threads at once: every call draws into its own image;
// the ink and placement caches it consults are locked. Chrome's icon is found through the workspace, which
// only the main thread may ask: other threads draw the icon last loaded there, or take it as `base`.
namespace IconRenderer {

// An S x S ARGB image of the icon. `base` is Chrome's icon for the badge style (chromeBaseImage() when none
// is given);
// `fullBleed` makes the segments style fill the whole square. Throws RenderError.
QImage render(const IconSpec& iconDescription, int pixels, const std::optional<QImage>& base = std::nullopt,
              bool fullBleed = false);

// Works out once what the sizes of one icon share (the badge's placement on `base`, the symbol's ink at each
// weight the sizes draw it with), so that sizes then drawn side by side find it ready instead of each
// working it out at the same moment. Drawing fails later as it would have; nothing here throws.
void prepareSizes(const IconSpec& iconDescription, const std::vector<int>& pixelSizes,
                  const std::optional<QImage>& base);

// The icon rendered at twice `points` pixels, with a device pixel ratio of 2 (so its size in points is
// `points`); none when rendering fails. `base` as for render().
std::optional<QImage> previewImage(const IconSpec& iconDescription, int points,
                                   const std::optional<QImage>& base = std::nullopt);

// Chrome's application icon, as the installed Chrome (or Chromium) shows it; none when none can be read. On
// the main thread it is looked up afresh; on any other thread it is the one the main thread last loaded.
std::optional<QImage> chromeBaseImage();

bool isCircleEnclosed(const QString& symbolName);

// Where chromeBaseImage() reads from; tests point it at a fixture (an empty path: no Chrome icon).
void setChromeIconPathForTesting(std::optional<QString> path);

} // namespace IconRenderer
