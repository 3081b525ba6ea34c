#pragma once

#include <QImage>
#include <QPointF>
#include <QString>
#include <optional>

// The window of a disk image showing the app and a link side by side (points).
namespace DMGLayout {

inline constexpr int width = 640;
inline constexpr int height = 400;
inline constexpr int iconSize = 128;
inline constexpr QPointF appCenter{170, 155};
inline constexpr QPointF linkCenter{470, 155};

// "DMG_WIN_W=640" and the six other assignments, one a line, no final line feed.
QString shellVariables();

} // namespace DMGLayout

// The window's background picture: a soft gradient, an arrow from the app to the link, the title above.
namespace DMGBackground {

// 1280 x 800 pixels with a device pixel ratio of 2. Throws RenderError contextFailed.
QImage render(const QString& title, std::optional<double> iconCenterY = std::nullopt);
// The picture as a PNG file.
void write(const QString& title, std::optional<double> iconCenterY, const QString& path);

} // namespace DMGBackground
