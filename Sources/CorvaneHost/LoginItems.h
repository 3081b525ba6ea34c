#pragma once

#include "CorvaneHost/Error.h"

#include <QString>

namespace host {

// The states of a login item, with the platform's values.
enum class LoginItemStatus {
    notRegistered = 0,
    enabled = 1,
    // Registered, but the user has switched it off and must allow it again.
    requiresApproval = 2,
    // The running program carries no login item with that identifier.
    notFound = 3,
};

// The error domain of refused registrations.
inline const QString loginItemsErrorDomain = QStringLiteral("SMAppServiceErrorDomain");

// Programs that the system starts when the user logs in. A login item is an application bundle inside the
// running program's own bundle, under "Contents/Library/LoginItems/", named by its bundle identifier.
class LoginItems {
public:
    virtual ~LoginItems() = default;
    // Asks afresh each time; nothing is cached.
    virtual LoginItemStatus status(const QString& identifier) = 0;
    // Throw host::SystemError when the system refuses.
    virtual void registerItem(const QString& identifier) = 0;
    virtual void unregisterItem(const QString& identifier) = 0;
};

} // namespace host
