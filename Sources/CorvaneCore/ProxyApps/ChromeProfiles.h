#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// One Google Chrome profile as Chrome's "Local State" describes it. A profile is identified by `directory`,
// its folder name inside Chrome's user-data folder.
struct ChromeProfile {
    QString directory;
    QString name;
    QString userName;      // the signed-in account, or empty
    QString gaiaName;      // the account's full name, or empty
    QString gaiaGivenName; // the account's given name, or empty
    // Chrome's stored colour number as read; its low 32 bits are ARGB (alpha in the top byte).
    std::optional<qint64> highlightColor;

    bool operator==(const ChromeProfile&) const = default;

    // `userName` when there is one, else `directory`.
    QString subtitle() const;
    // The texts by which a Chrome window title can name this profile, without duplicates, longest first.
    QStringList titleIdentities() const;
};

size_t qHash(const ChromeProfile& profile, size_t seed = 0) noexcept;

template <> struct std::hash<ChromeProfile> {
    size_t operator()(const ChromeProfile& profile) const noexcept { return qHash(profile); }
};

// The reader of Chrome's profile list. It never writes to Chrome's files and never fails: whatever it cannot
// read gives fewer profiles or none.
namespace ChromeProfiles {

// "Library/Application Support/Google/Chrome/Local State" under the current user's home folder.
QString localStateURL();

// The profiles in Chrome's own order ("profiles_order"), or by name when Chrome gives no usable order.
std::vector<ChromeProfile> load();

} // namespace ChromeProfiles
