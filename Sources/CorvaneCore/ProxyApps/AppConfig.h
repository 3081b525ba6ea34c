#pragma once

#include "CorvaneHost/Bundle.h"

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>
#include <vector>

// The configuration of one proxy app: written into its bundle twice (Info.plist keys and
// "Contents/Resources/config.json") and kept in the registry of generated apps.
struct StubConfig {
    enum class SymbolStyle { Auto, Light, Dark };
    enum class IconStyle { Segments, Ring, Badge };

    // The Info.plist key of each field.
    struct PlistKey {
        static inline const QString profileDirectory = QStringLiteral("CVNProfileDirectory");
        static inline const QString profileName = QStringLiteral("CVNProfileName");
        static inline const QString tabGroupName = QStringLiteral("CVNTabGroupName");
        static inline const QString ownWindow = QStringLiteral("CVNOwnWindow");
        static inline const QString closeOnQuit = QStringLiteral("CVNCloseOnQuit");
        static inline const QString includeIncognito = QStringLiteral("CVNIncludeIncognito");
        static inline const QString countAppWindows = QStringLiteral("CVNCountAppWindows");
        static inline const QString symbolName = QStringLiteral("CVNSymbolName");
        static inline const QString badgeColor = QStringLiteral("CVNBadgeColor");
        static inline const QString symbolStyle = QStringLiteral("CVNSymbolStyle");
        static inline const QString iconStyle = QStringLiteral("CVNIconStyle");
    };
    // Key prefixes of apps built under the former identities, still read in this order: such a key is the
    // prefix followed by the current key without its "CVN".
    static inline const QStringList legacyKeyPrefixes{QStringLiteral("OMB"), QStringLiteral("TVR")};

    QString profileDirectory;
    QString profileName;
    std::optional<QString> tabGroupName; // never the empty string
    bool ownWindow = true;
    bool closeOnQuit = false;
    bool includeIncognito = true;
    bool countAppWindows = false;
    QString symbolName = QStringLiteral("globe");
    QString badgeColorHex = QStringLiteral("#1F2124");
    SymbolStyle symbolStyle = SymbolStyle::Auto;
    IconStyle iconStyle = IconStyle::Segments;

    // Memberwise; an empty tab-group name is stored as none.
    StubConfig(QString profileDirectory = {}, QString profileName = {},
               std::optional<QString> tabGroupName = {}, bool ownWindow = true, bool closeOnQuit = false,
               bool includeIncognito = true, bool countAppWindows = false,
               QString symbolName = QStringLiteral("globe"),
               QString badgeColorHex = QStringLiteral("#1F2124"), SymbolStyle symbolStyle = SymbolStyle::Auto,
               IconStyle iconStyle = IconStyle::Segments);

    bool operator==(const StubConfig&) const = default;

    bool isTabGroup() const { return tabGroupName && !tabGroupName->isEmpty(); }

    // The Info.plist keys of this config: nine always, plus the tab group and its own-window flag when there
    // is a tab group.
    QVariantMap plistEntries() const;
    // The config from an Info.plist dictionary (current keys, then the legacy ones); none without a profile
    // directory.
    static std::optional<StubConfig> fromPlist(const QVariantMap& infoPlist);

    // The JSON form of config.json and of the registry's "config" object. fromJson throws JSONDecodingError
    // for a missing profile directory, a value of the wrong type or a style that names no case.
    QJsonObject toJson() const;
    static StubConfig fromJson(const QJsonValue& json);

    // The running proxy app's config: its config.json, else its Info.plist keys; none when neither gives one.
    static std::optional<StubConfig> loadFromRunningBundle();
    // The same for a given bundle.
    static std::optional<StubConfig> load(const host::Bundle& bundle);

    static QString rawValue(SymbolStyle style);
    static QString rawValue(IconStyle style);
    static std::optional<SymbolStyle> symbolStyleFromRaw(const QString& raw);
    static std::optional<IconStyle> iconStyleFromRaw(const QString& raw);
    // The icon style's name in the user interface.
    static QString title(IconStyle style);
    // Every case in order: allCases<SymbolStyle>() and allCases<IconStyle>() (the icon-style picker's order).
    template <typename Style> static const std::vector<Style>& allCases();
};

template <> const std::vector<StubConfig::SymbolStyle>& StubConfig::allCases<StubConfig::SymbolStyle>();
template <> const std::vector<StubConfig::IconStyle>& StubConfig::allCases<StubConfig::IconStyle>();

size_t qHash(const StubConfig& config, size_t seed = 0);

template <> struct std::hash<StubConfig> {
    size_t operator()(const StubConfig& config) const { return qHash(config); }
};

namespace Corvane {

// A fresh bundle identifier for a new proxy app: "app.corvane." and 12 lower-case hexadecimal digits not in
// `avoiding`; after 64 taken candidates, "app.corvane." and 32 digits, unchecked.
QString newBundleID(const QSet<QString>& avoiding);
// The same with the test for an identifier in use given as a function.
QString newBundleID(const std::function<bool(const QString&)>& isTaken);

// A lower-case form of `text` made only of letters, digits (any script) and single dashes; "app" when
// nothing is left.
QString slug(const QString& text);

} // namespace Corvane
