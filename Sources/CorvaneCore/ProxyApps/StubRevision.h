#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <optional>
#include <utility>
#include <vector>

// Numbers the launcher versions that proxy apps carry. A revision is optional throughout: none means the
// app was built before revisions were recorded, and counts as outdated.
namespace StubRevision {

inline constexpr int current = 7;
inline const QString plistKey = QStringLiteral("CVNStubRevision");
inline const QString genericAdvice = QStringLiteral(
    "This app was built before Corvane recorded what its apps include. Rebuilding brings it up to date.");

// (revision, note) in ascending order of revision: what rebuilding an older app brings.
const std::vector<std::pair<int, QString>>& improvementsTable();

bool isOutdated(std::optional<int> revision);
// The integer under "CVNStubRevision" of an Info.plist dictionary; none when missing or of another type.
std::optional<int> revision(const QVariantMap& infoPlist);
// The same, read from "Contents/Info.plist" of the bundle at `bundlePath`.
std::optional<int> revision(const QString& bundlePath);
// The notes of every revision newer than `since`, in table order; empty for none.
QStringList improvements(std::optional<int> since);
// Those notes joined with single spaces, or the generic advice when there are none.
QString advice(std::optional<int> since);

} // namespace StubRevision
