#pragma once

#include "CorvaneCore/ProxyApps/ChromeProfiles.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>
#include <vector>

// One application built by the former scripts, found on disk.
struct LegacyApp {
    QUrl url;
    QString name;
    QString bundleID; // empty when it has none
    std::optional<ChromeProfile> guessedProfile;
    QString symbolName;
    QString badgeColorHex;

    QString id() const { return url.toLocalFile(); }
    bool operator==(const LegacyApp&) const = default;
};

// Finding the apps the former scripts built.
namespace Migration {

const QStringList& legacyBundleIDs();

struct Look {
    QString symbolName;
    QString badgeColorHex;
};
// The look of an imported app by its name key; the globe for any other key.
Look knownLook(const QString& nameKey);

// The script-built apps in the standard application folders, sorted by name.
std::vector<LegacyApp> findLegacyApps(const std::vector<ChromeProfile>& knownProfiles);

// The user default that stops the offer for good.
inline const QString declinedKey = QStringLiteral("MigrationDeclined");

} // namespace Migration
