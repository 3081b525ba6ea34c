#pragma once

#include "CorvaneCore/ProxyApps/AppConfig.h"
#include "CorvaneIcon/IconColor.h"

#include <QString>
#include <functional>

// What a proxy app's icon shows: a system symbol on a badge colour, with a symbol style and an icon style.
struct IconSpec {
    QString symbolName;
    IconColor badgeColor;
    StubConfig::SymbolStyle symbolStyle = StubConfig::SymbolStyle::Auto;
    StubConfig::IconStyle iconStyle = StubConfig::IconStyle::Segments;

    IconSpec() = default;
    IconSpec(QString symbolName, IconColor badgeColor, StubConfig::SymbolStyle symbolStyle,
             StubConfig::IconStyle iconStyle);
    // The icon of a stored configuration; a badge colour text that does not read gives black.
    explicit IconSpec(const StubConfig& config);

    bool operator==(const IconSpec&) const = default;
};

size_t qHash(const IconSpec& iconDescription, size_t seed = 0);

template <> struct std::hash<IconSpec> {
    size_t operator()(const IconSpec& iconDescription) const { return qHash(iconDescription); }
};
