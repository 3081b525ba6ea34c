#pragma once

#include <QColor>
#include <QString>
#include <optional>

// Colour texts as proxy apps store them: "#" and six upper-case hexadecimal digits when written; six or eight
// digits (alpha first), an optional "#" and surrounding white space when read.
namespace ColorText {

// The colour of a colour text, or none when the text is not one.
std::optional<QColor> colorFromHex(const QString& text);
// "#RRGGBB" of the colour in sRGB, alpha dropped.
QString hexString(const QColor& color);
// Chrome's profile colour (ARGB in the low 32 bits), opaque; none when its alpha byte is 0.
std::optional<QColor> colorFromChromeHighlight(qint64 value);

} // namespace ColorText
