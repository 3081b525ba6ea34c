#include "CorvaneCore/Foundation/BuildInfo.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/PropertyList.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>

namespace BuildInfo {
namespace {

std::optional<QDateTime> parseInternetDate(const QString& text) {
    return JSONDate::decode(text);
}

// The legacy stamp: exactly fourteen digits, no separators, no zone.
std::optional<QDateTime> parseLegacyStamp(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^([0-9]{4})([0-9]{2})([0-9]{2})([0-9]{2})([0-9]{2})([0-9]{2})\z)"));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return JSONDate::fromCaptures(match, QTimeZone::systemTimeZone());
}

std::optional<QString> stringValue(const QVariantMap& map, const QString& key) {
    const auto found = map.constFind(key);
    if (found == map.constEnd() || found->typeId() != QMetaType::QString)
        return std::nullopt;
    return found->toString();
}

// The locale's long date without the weekday, which the long style leaves out.
QString longDateFormat(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral(R"(d{4}[,\s]*|[,\s]*d{4})"));
    format.remove(weekday);
    return format.trimmed();
}

std::optional<QString> format(const std::optional<QDateTime>& date) {
    if (!date)
        return std::nullopt;
    const QLocale locale = QLocale::system();
    const QDateTime local = date->toLocalTime();
    return locale.toString(local.date(), longDateFormat(locale)) + QStringLiteral(", ") +
           locale.toString(local.time(), QLocale::ShortFormat);
}

} // namespace

std::optional<QDateTime> buildDate(const QVariantMap& infoPlist) {
    if (const auto stamp = stringValue(infoPlist, buildDateKey))
        if (const auto date = parseInternetDate(*stamp))
            return date;
    if (const auto version = stringValue(infoPlist, QStringLiteral("CFBundleVersion")))
        if (const auto date = parseLegacyStamp(*version))
            return date;
    return std::nullopt;
}

std::optional<QDateTime> buildDate(const host::Bundle& bundle) {
    return buildDate(bundle.infoDictionary().value_or(QVariantMap{}));
}

std::optional<QString> formattedBuildDate(const host::Bundle& bundle) {
    return format(buildDate(bundle));
}

std::optional<QString> formattedBuildDate(const QString& bundlePath) {
    const auto info = host::readBundleInfo(bundlePath);
    if (!info)
        return std::nullopt;
    return format(buildDate(*info));
}

QString aboutVersion(const QVariantMap& infoPlist) {
    const QString version = infoPlist.value(QStringLiteral("CFBundleShortVersionString")).toString();
    const QString build = infoPlist.value(QStringLiteral("CFBundleVersion")).toString();
    if (build.isEmpty())
        return version;
    return version.isEmpty() ? build : version + QStringLiteral(" (") + build + QLatin1Char(')');
}

std::optional<QString> aboutCredits(const QVariantMap& infoPlist) {
    const std::optional<QString> date = format(buildDate(infoPlist));
    if (!date)
        return std::nullopt;
    return QStringLiteral("Built ") + *date;
}

} // namespace BuildInfo
