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

size_t qHash(const IconSpec& spec, size_t seed) {
    return qHashMulti(seed, spec.symbolName, spec.badgeColor, static_cast<int>(spec.symbolStyle),
                      static_cast<int>(spec.iconStyle));
}
