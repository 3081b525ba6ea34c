#pragma once

#include "CorvaneHost/LoginItems.h"

namespace host {

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
