#pragma once

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

host::Menu mainMenu(const QString& appName, const Actions& actions);
// Builds the menu and makes it the application's main menu, shown with the app's icon.
void install(const QString& appName, const Actions& actions, const QString& iconPath = {});
// The icon file of the bundle (its CFBundleIconFile in Contents/Resources), or empty.
QString iconPath(const QString& bundlePath, const std::optional<QVariantMap>& info);

} // namespace MenuBuilder
