#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The texts of the launcher's notices to the user.
namespace StubNotices {

struct Notice {
    QString title;
    QString body;
    bool operator==(const Notice&) const = default;
};

inline const QString groupMissingKey = QStringLiteral("group-missing");
inline constexpr double groupMissingInterval = 300.0;
inline const QString accessibilityKey = QStringLiteral("accessibility");
inline constexpr double accessibilityInterval = 3600.0;

// The app was built by an older launcher; empty `improvements` give the generic advice.
Notice outdated(const QString& displayName, const QStringList& improvements);
// The tab group is gone. `openedInstead`: a window of the profile was opened in its place; without one the
// body says only what happened to the group.
Notice groupMissing(const QString& displayName, const QString& profileName, const QString& groupName,
                    bool openedInstead);
// The helper cannot see Chrome's windows.
Notice accessibility(const QString& displayName, const QString& profileName,
                     const std::optional<QString>& groupName);

} // namespace StubNotices

// Answers the user's clicks on the launcher's notices: a click opens the creator app.
class StubNotificationHandler {
public:
    void didReceive(const QString& identifier, const QString& actionIdentifier) const;
};
