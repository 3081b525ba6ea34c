#include "CorvaneCore/ProxyApps/AppConfig.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/JSONFields.h"
#include "CorvaneCore/Foundation/Paths.h"

#include <QFile>
#include <QJsonDocument>
#include <QTextBoundaryFinder>
#include <QUuid>

namespace {

std::optional<QString> normalizedTabGroup(std::optional<QString> name) {
    if (name && name->isEmpty())
        return std::nullopt;
    return name;
}

// One Info.plist value of the wanted type: the current key first, then each legacy spelling. A value of the
// wrong type counts as absent, so a legacy key can win over a mistyped current one.
std::optional<QVariant> plistValue(const QVariantMap& map, const QString& key, QMetaType::Type type) {
    auto typed = [&](const QString& name) -> std::optional<QVariant> {
        const auto found = map.constFind(name);
        if (found != map.constEnd() && found->typeId() == type)
            return *found;
        return std::nullopt;
    };
    if (auto value = typed(key))
        return value;
    for (const QString& prefix : StubConfig::legacyKeyPrefixes)
        if (auto value = typed(prefix + key.mid(3)))
            return value;
    return std::nullopt;
}

std::optional<QString> plistString(const QVariantMap& map, const QString& key) {
    if (const auto value = plistValue(map, key, QMetaType::QString))
        return value->toString();
    return std::nullopt;
}

std::optional<bool> plistBool(const QVariantMap& map, const QString& key) {
    if (const auto value = plistValue(map, key, QMetaType::Bool))
        return value->toBool();
    return std::nullopt;
}

[[noreturn]] void missingKey(const QString& key) {
    throw JSONDecodingError(
        QStringLiteral("The data couldn’t be read because the key “%1” is missing.").arg(key));
}

[[noreturn]] void wrongValue(const QString& key) {
    JSONFields::wrongType(key, "", JSONFields::Wording::notValid);
}

// A present key of the wrong type is an error; a missing key or null gives none.
std::optional<QString> jsonString(const QJsonObject& object, const QString& key) {
    return JSONFields::optionalString(object, key, JSONFields::Wording::notValid);
}

std::optional<bool> jsonBool(const QJsonObject& object, const QString& key) {
    return JSONFields::optionalBool(object, key, JSONFields::Wording::notValid);
}

} // namespace

StubConfig::StubConfig(QString profileDirectory, QString profileName, std::optional<QString> tabGroupName,
                       bool ownWindow, bool closeOnQuit, bool includeIncognito, bool countAppWindows,
                       QString symbolName, QString badgeColorHex, SymbolStyle symbolStyle,
                       IconStyle iconStyle)
    : profileDirectory(std::move(profileDirectory))
    , profileName(std::move(profileName))
    , tabGroupName(normalizedTabGroup(std::move(tabGroupName)))
    , ownWindow(ownWindow)
    , closeOnQuit(closeOnQuit)
    , includeIncognito(includeIncognito)
    , countAppWindows(countAppWindows)
    , symbolName(std::move(symbolName))
    , badgeColorHex(std::move(badgeColorHex))
    , symbolStyle(symbolStyle)
    , iconStyle(iconStyle) {}

QVariantMap StubConfig::plistEntries() const {
    QVariantMap entries{
        {PlistKey::profileDirectory, profileDirectory}, {PlistKey::profileName, profileName},
        {PlistKey::closeOnQuit, closeOnQuit},           {PlistKey::includeIncognito, includeIncognito},
        {PlistKey::countAppWindows, countAppWindows},   {PlistKey::symbolName, symbolName},
        {PlistKey::badgeColor, badgeColorHex},          {PlistKey::symbolStyle, rawValue(symbolStyle)},
        {PlistKey::iconStyle, rawValue(iconStyle)},
    };
    if (tabGroupName) {
        entries.insert(PlistKey::tabGroupName, *tabGroupName);
        entries.insert(PlistKey::ownWindow, ownWindow);
    }
    return entries;
}

std::optional<StubConfig> StubConfig::fromPlist(const QVariantMap& infoPlist) {
    const auto directory = plistString(infoPlist, PlistKey::profileDirectory);
    if (!directory)
        return std::nullopt;
    StubConfig config(*directory);
    config.profileName = plistString(infoPlist, PlistKey::profileName).value_or(*directory);
    config.tabGroupName = normalizedTabGroup(plistString(infoPlist, PlistKey::tabGroupName));
    config.ownWindow = plistBool(infoPlist, PlistKey::ownWindow).value_or(true);
    config.closeOnQuit = plistBool(infoPlist, PlistKey::closeOnQuit).value_or(false);
    config.includeIncognito = plistBool(infoPlist, PlistKey::includeIncognito).value_or(true);
    config.countAppWindows = plistBool(infoPlist, PlistKey::countAppWindows).value_or(false);
    config.symbolName = plistString(infoPlist, PlistKey::symbolName).value_or(QStringLiteral("globe"));
    config.badgeColorHex = plistString(infoPlist, PlistKey::badgeColor).value_or(QStringLiteral("#1F2124"));
    const auto symbolStyle = plistString(infoPlist, PlistKey::symbolStyle);
    config.symbolStyle =
        (symbolStyle ? symbolStyleFromRaw(*symbolStyle) : std::nullopt).value_or(SymbolStyle::Auto);
    const auto iconStyle = plistString(infoPlist, PlistKey::iconStyle);
    config.iconStyle = (iconStyle ? iconStyleFromRaw(*iconStyle) : std::nullopt).value_or(IconStyle::Badge);
    return config;
}

QJsonObject StubConfig::toJson() const {
    QJsonObject object{
        {QStringLiteral("profileDirectory"), profileDirectory},
        {QStringLiteral("profileName"), profileName},
        {QStringLiteral("ownWindow"), ownWindow},
        {QStringLiteral("closeOnQuit"), closeOnQuit},
        {QStringLiteral("includeIncognito"), includeIncognito},
        {QStringLiteral("countAppWindows"), countAppWindows},
        {QStringLiteral("symbolName"), symbolName},
        {QStringLiteral("badgeColorHex"), badgeColorHex},
        {QStringLiteral("symbolStyle"), rawValue(symbolStyle)},
        {QStringLiteral("iconStyle"), rawValue(iconStyle)},
    };
    if (tabGroupName)
        object.insert(QStringLiteral("tabGroupName"), *tabGroupName);
    return object;
}

StubConfig StubConfig::fromJson(const QJsonValue& json) {
    const QJsonObject object = JSONFields::objectOf(json);
    const QString directoryKey = QStringLiteral("profileDirectory");
    const auto directory = jsonString(object, directoryKey);
    if (!directory)
        missingKey(directoryKey);

    StubConfig config(*directory);
    config.profileName = jsonString(object, QStringLiteral("profileName")).value_or(QString());
    config.tabGroupName = normalizedTabGroup(jsonString(object, QStringLiteral("tabGroupName")));
    config.ownWindow = jsonBool(object, QStringLiteral("ownWindow")).value_or(true);
    config.closeOnQuit = jsonBool(object, QStringLiteral("closeOnQuit")).value_or(false);
    config.includeIncognito = jsonBool(object, QStringLiteral("includeIncognito")).value_or(true);
    config.countAppWindows = jsonBool(object, QStringLiteral("countAppWindows")).value_or(false);
    config.symbolName = jsonString(object, QStringLiteral("symbolName")).value_or(QStringLiteral("globe"));
    config.badgeColorHex =
        jsonString(object, QStringLiteral("badgeColorHex")).value_or(QStringLiteral("#1F2124"));
    if (const auto raw = jsonString(object, QStringLiteral("symbolStyle"))) {
        const auto style = symbolStyleFromRaw(*raw);
        if (!style)
            wrongValue(QStringLiteral("symbolStyle"));
        config.symbolStyle = *style;
    }
    if (const auto raw = jsonString(object, QStringLiteral("iconStyle"))) {
        const auto style = iconStyleFromRaw(*raw);
        if (!style)
            wrongValue(QStringLiteral("iconStyle"));
        config.iconStyle = *style;
    }
    return config;
}

std::optional<StubConfig> StubConfig::loadFromRunningBundle() {
    return load(host::Bundle::main());
}

std::optional<StubConfig> StubConfig::load(const host::Bundle& bundle) {
    if (const auto path = bundle.pathForResource(QStringLiteral("config"), QStringLiteral("json"))) {
        QFile file(*path);
        if (file.open(QIODevice::ReadOnly)) {
            try {
                return fromJson(JSONDecoder().decode(file.readAll()));
            } catch (const host::Error&) {
                // Falls back to the Info.plist keys below.
            }
        }
    }
    if (!bundle.infoDictionary())
        return std::nullopt;
    return fromPlist(*bundle.infoDictionary());
}

QString StubConfig::rawValue(SymbolStyle style) {
    switch (style) {
    case SymbolStyle::Auto:
        return QStringLiteral("auto");
    case SymbolStyle::Light:
        return QStringLiteral("light");
    case SymbolStyle::Dark:
        return QStringLiteral("dark");
    }
    return {};
}

QString StubConfig::rawValue(IconStyle style) {
    switch (style) {
    case IconStyle::Segments:
        return QStringLiteral("segments");
    case IconStyle::Ring:
        return QStringLiteral("ring");
    case IconStyle::Badge:
        return QStringLiteral("badge");
    }
    return {};
}

std::optional<StubConfig::SymbolStyle> StubConfig::symbolStyleFromRaw(const QString& raw) {
    for (const SymbolStyle style : allCases<SymbolStyle>())
        if (rawValue(style) == raw)
            return style;
    return std::nullopt;
}

std::optional<StubConfig::IconStyle> StubConfig::iconStyleFromRaw(const QString& raw) {
    for (const IconStyle style : allCases<IconStyle>())
        if (rawValue(style) == raw)
            return style;
    return std::nullopt;
}

QString StubConfig::title(IconStyle style) {
    switch (style) {
    case IconStyle::Segments:
        return QStringLiteral("Segments");
    case IconStyle::Ring:
        return QStringLiteral("Ring");
    case IconStyle::Badge:
        return QStringLiteral("Corner badge");
    }
    return {};
}

template <> const std::vector<StubConfig::SymbolStyle>& StubConfig::allCases<StubConfig::SymbolStyle>() {
    static const std::vector<SymbolStyle> cases{SymbolStyle::Auto, SymbolStyle::Light, SymbolStyle::Dark};
    return cases;
}

template <> const std::vector<StubConfig::IconStyle>& StubConfig::allCases<StubConfig::IconStyle>() {
    static const std::vector<IconStyle> cases{IconStyle::Segments, IconStyle::Ring, IconStyle::Badge};
    return cases;
}

size_t qHash(const StubConfig& config, size_t seed) {
    QtPrivate::QHashCombine combine;
    seed = combine(seed, config.profileDirectory);
    seed = combine(seed, config.profileName);
    seed = combine(seed, config.tabGroupName ? 1 : 0);
    if (config.tabGroupName)
        seed = combine(seed, *config.tabGroupName);
    seed = combine(seed, config.ownWindow);
    seed = combine(seed, config.closeOnQuit);
    seed = combine(seed, config.includeIncognito);
    seed = combine(seed, config.countAppWindows);
    seed = combine(seed, config.symbolName);
    seed = combine(seed, config.badgeColorHex);
    seed = combine(seed, StubConfig::rawValue(config.symbolStyle));
    seed = combine(seed, StubConfig::rawValue(config.iconStyle));
    return seed;
}

namespace Corvane {

QString newBundleID(const QSet<QString>& avoiding) {
    return newBundleID([&](const QString& candidate) { return avoiding.contains(candidate); });
}

QString newBundleID(const std::function<bool(const QString&)>& isTaken) {
    const QString prefix = QStringLiteral("app.corvane.");
    auto hexDigits = [] { return QUuid::createUuid().toString(QUuid::Id128).toLower(); };
    for (int attempt = 0; attempt < 64; ++attempt) {
        const QString candidate = prefix + hexDigits().left(12);
        if (!isTaken(candidate))
            return candidate;
    }
    return prefix + hexDigits();
}

QString slug(const QString& text) {
    const QString lower = text.toLower();
    QString result;
    bool lastWasDash = false;
    // Walks user-perceived characters, so a letter with combining marks stays whole.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, lower);
    qsizetype start = 0;
    while (start < lower.size()) {
        qsizetype end = finder.toNextBoundary();
        if (end <= start)
            end = lower.size();
        const QString character = lower.mid(start, end - start);
        const char32_t first = character.toUcs4().value(0);
        if (QChar::isLetterOrNumber(first)) {
            result += character;
            lastWasDash = false;
        } else if (!result.isEmpty() && !lastWasDash) {
            result += QLatin1Char('-');
            lastWasDash = true;
        }
        start = end;
    }
    while (result.endsWith(QLatin1Char('-')))
        result.chop(1);
    return result.isEmpty() ? QStringLiteral("app") : result;
}

} // namespace Corvane
