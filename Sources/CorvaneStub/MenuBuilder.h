#pragma once

#include "CorvaneHost/Alerts.h"
#include "CorvaneHost/MenuBar.h"

#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

// The launcher's application menu: About, its two commands, Hide and Quit, titled with the app's name.
namespace MenuBuilder {

struct Actions {
    std::function<void()> openNewWindow;
    std::function<void()> bringToFront;
};

// The menu; its About item shows aboutPanel() of the same name, Info dictionary and icon.
host::Menu mainMenu(const QString& appName, const Actions& actions, const QVariantMap& info = {},
                    const QString& iconPath = {});
// Builds the menu and makes it the application's main menu, shown with the app's icon.
void install(const QString& appName, const Actions& actions, const QVariantMap& info = {},
             const QString& iconPath = {});
// The standard About panel, as the creator app's shows its own: the app's name and icon, the bundle's version
// and when it was built.
host::Alert aboutPanel(const QString& appName, const QVariantMap& info, const QString& iconPath);
// The icon file of the bundle (its CFBundleIconFile in Contents/Resources), or empty.
QString iconPath(const QString& bundlePath, const std::optional<QVariantMap>& info);

} // namespace MenuBuilder
