#pragma once

#include "CorvaneHost/Bundle.h"

#include <QDateTime>
#include <QString>
#include <QVariantMap>
#include <optional>

// The moment a program's bundle was built, as stamped into its Info.plist, and its display text.
namespace BuildInfo {

inline const QString buildDateKey = QStringLiteral("CVNBuildDate");

// "CVNBuildDate" as an internet date-time, else a "CFBundleVersion" of the form yyyyMMddHHmmss read in the
// system's time zone, else none.
std::optional<QDateTime> buildDate(const QVariantMap& infoPlist);
std::optional<QDateTime> buildDate(const host::Bundle& bundle);

// Long date and short time in the user's locale and time zone; none when there is no build date.
std::optional<QString> formattedBuildDate(const host::Bundle& bundle);
// The same, read fresh from "Contents/Info.plist" (XML or binary) of the bundle at `bundlePath`.
std::optional<QString> formattedBuildDate(const QString& bundlePath);

// What an About panel shows of a bundle, from its Info.plist: the version, "CFBundleShortVersionString
// (CFBundleVersion)" or whichever of the two is there (empty without either), and the credits line,
// "Built " and the formatted build date (none without a build date).
QString aboutVersion(const QVariantMap& infoPlist);
std::optional<QString> aboutCredits(const QVariantMap& infoPlist);

} // namespace BuildInfo
