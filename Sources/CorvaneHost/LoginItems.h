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
    // Throw corvane::SystemError when the system refuses.
    virtual void registerItem(const QString& identifier) = 0;
    virtual void unregisterItem(const QString& identifier) = 0;
};

// This machine's login items: desktop autostart entries "<identifier>.desktop" in $XDG_CONFIG_HOME/autostart
// (default ~/.config/autostart) that start the login item's executable. An entry the user has switched off
// in the desktop's settings ("Hidden=true" or "X-GNOME-Autostart-enabled=false") stays off when the item is
// registered again: it needs the user's approval.
class AutostartLoginItems final : public LoginItems {
public:
    // `programBundle`: the bundle that carries the login items; by default the running program's.
    explicit AutostartLoginItems(QString programBundle = {})
        : programBundle_(std::move(programBundle)) {}

    LoginItemStatus status(const QString& identifier) override;
    void registerItem(const QString& identifier) override;
    void unregisterItem(const QString& identifier) override;

    static QString autostartDirectory();
    static QString entryPath(const QString& identifier);
    // The login item bundle inside the program's bundle, or an empty string.
    QString loginItemBundle(const QString& identifier) const;

private:
    QString programBundle() const;
    QString programBundle_;
};

} // namespace host
