#include "CorvaneCore/ProxyApps/ChromeProfiles.h"

#include "CorvaneCore/Foundation/NameOrder.h"
#include "CorvaneHost/ChromeBrowser.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLocale>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Length as the user sees it: user-perceived characters, so an accented letter or an emoji counts once.
qsizetype characterCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

// Case-sensitive comparison by Unicode code points (UTF-16 code units would put characters beyond the
// Basic Multilingual Plane before some within it).
bool codePointLess(const QString& a, const QString& b) {
    const QList<uint> left = a.toUcs4();
    const QList<uint> right = b.toUcs4();
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end());
}

QString stringMember(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

// Chrome writes the colour as a whole number; anything else (text, fractions, Booleans) means no colour.
std::optional<qint64> integerMember(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < -9223372036854775808.0 ||
        number >= 9223372036854775808.0)
        return std::nullopt;
    return value.toInteger(static_cast<qint64>(number));
}

ChromeProfile profileFrom(const QString& directory, const QJsonObject& entry) {
    ChromeProfile profile;
    profile.directory = directory;
    const QJsonValue name = entry.value(QLatin1String("name"));
    profile.name = name.isString() ? name.toString() : directory;
    profile.userName = stringMember(entry, "user_name");
    profile.gaiaName = stringMember(entry, "gaia_name");
    profile.gaiaGivenName = stringMember(entry, "gaia_given_name");
    profile.highlightColor = integerMember(entry, "profile_highlight_color");
    return profile;
}

// "profiles_order" when it is an array of strings only; otherwise none (the order is then by name).
std::optional<QHash<QString, qsizetype>> profilesOrder(const QJsonObject& profile) {
    const QJsonValue value = profile.value(QLatin1String("profiles_order"));
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    QHash<QString, qsizetype> index;
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!array.at(i).isString())
            return std::nullopt;
        // A folder listed twice keeps its first place.
        if (!index.contains(array.at(i).toString()))
            index.insert(array.at(i).toString(), i);
    }
    return index;
}

} // namespace

QString ChromeProfile::subtitle() const {
    return userName.isEmpty() ? directory : userName;
}

QStringList ChromeProfile::titleIdentities() const {
    QStringList candidates;
    if (!gaiaGivenName.isEmpty())
        candidates.append(gaiaGivenName + QStringLiteral(" (") + name + QStringLiteral(")"));
    if (!gaiaName.isEmpty()) {
        candidates.append(gaiaName + QStringLiteral(" (") + name + QStringLiteral(")"));
        candidates.append(gaiaName);
    }
    candidates.append(name);
    if (!userName.isEmpty())
        candidates.append(userName);
    candidates.removeDuplicates();
    std::vector<std::pair<qsizetype, QString>> measured;
    measured.reserve(candidates.size());
    for (const QString& candidate : candidates)
        measured.emplace_back(characterCount(candidate), candidate);
    std::stable_sort(measured.begin(), measured.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList result;
    for (auto& entry : measured)
        result.append(std::move(entry.second));
    return result;
}

size_t qHash(const ChromeProfile& profile, size_t seed) noexcept {
    return qHashMulti(seed, profile.directory, profile.name, profile.userName, profile.gaiaName,
                      profile.gaiaGivenName, profile.highlightColor.has_value(),
                      profile.highlightColor.value_or(0));
}

namespace ChromeProfiles {

QString localStateURL() {
    return host::chromeUserDataDirectory() + QStringLiteral("/Local State");
}

std::vector<ChromeProfile> load() {
    QFile file(localStateURL());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {};

    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonValue profileValue = document.object().value(QLatin1String("profile"));
    if (!profileValue.isObject())
        return {};
    const QJsonObject profile = profileValue.toObject();
    const QJsonValue infoCache = profile.value(QLatin1String("info_cache"));
    if (!infoCache.isObject())
        return {};

    std::vector<ChromeProfile> profiles;
    const QJsonObject entries = infoCache.toObject();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it.value().isObject())
            profiles.push_back(profileFrom(it.key(), it.value().toObject()));
    }

    if (const auto order = profilesOrder(profile)) {
        // Folders that Chrome does not list go after every listed one.
        const qsizetype unlisted = std::numeric_limits<qsizetype>::max();
        std::stable_sort(profiles.begin(), profiles.end(),
                         [&](const ChromeProfile& a, const ChromeProfile& b) {
                             const qsizetype left = order->value(a.directory, unlisted);
                             const qsizetype right = order->value(b.directory, unlisted);
                             if (left != right)
                                 return left < right;
                             return codePointLess(a.name, b.name);
                         });
    } else {
        std::stable_sort(
            profiles.begin(), profiles.end(),
            [](const ChromeProfile& a, const ChromeProfile& b) { return NameOrder::less(a.name, b.name); });
    }
    return profiles;
}

} // namespace ChromeProfiles
