#pragma once

#include <QColor>
#include <QString>
#include <QtGlobal>
#include <optional>

// A colour as the icons use it: sRGB components and alpha, each from 0 to 1. Kept in doubles (not QColor's
// 16 bits) so the luminance thresholds and the darkening steps come out exactly as computed.
struct IconColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    struct HSB {
        double hue = 0; // 0 to 1
        double saturation = 0;
        double brightness = 0;
        double alpha = 1;
    };

    static IconColor rgb(double red, double green, double blue, double alpha = 1);
    static IconColor grey(double white, double alpha = 1);
    static IconColor fromHSB(double hue, double saturation, double brightness, double alpha = 1);
    HSB hsb() const;

    // Colour text: six hexadecimal digits (red, green, blue) or eight (alpha first), an optional "#" and
    // white space round it; none for anything else.
    static std::optional<IconColor> fromHex(const QString& text);
    // A Chrome profile's highlight colour (0xAARRGGBB in the low 32 bits) as an opaque colour; none when its
    // alpha byte is 0.
    static std::optional<IconColor> fromChromeHighlight(qint64 value);
    // "#" and six upper-case hexadecimal digits; alpha is dropped, components outside 0...1 are clamped (NaN
    // counts as 0) so the text always reads back.
    QString hexString() const;

    QColor toQColor() const;
    // An invalid QColor gives black.
    static IconColor fromQColor(const QColor& color);

    bool operator==(const IconColor&) const = default;
};

size_t qHash(const IconColor& color, size_t seed = 0);
