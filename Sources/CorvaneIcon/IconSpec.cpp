#include "CorvaneIcon/IconSpec.h"

#include <QHashFunctions>

IconSpec::IconSpec(QString symbolName, IconColor badgeColor, StubConfig::SymbolStyle symbolStyle,
                   StubConfig::IconStyle iconStyle)
    : symbolName(std::move(symbolName))
    , badgeColor(badgeColor)
    , symbolStyle(symbolStyle)
    , iconStyle(iconStyle) {}

IconSpec::IconSpec(const StubConfig& config)
    : IconSpec(config.symbolName, IconColor::fromHex(config.badgeColorHex).value_or(IconColor{}),
               config.symbolStyle, config.iconStyle) {}

size_t qHash(const IconSpec& iconDescription, size_t seed) {
    return qHashMulti(seed, iconDescription.symbolName, iconDescription.badgeColor,
                      static_cast<int>(iconDescription.symbolStyle),
                      static_cast<int>(iconDescription.iconStyle));
}
