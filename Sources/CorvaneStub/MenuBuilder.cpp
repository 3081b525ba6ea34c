#include "CorvaneStub/MenuBuilder.h"

#include "CorvaneHost/Alerts.h"
#include "CorvaneHost/Application.h"
#include "CorvaneHost/Services.h"

#include <QFileInfo>

namespace MenuBuilder {
namespace {

void showAboutPanel(const QString& appName) {
    host::Alert about;
    about.messageText = appName;
    about.informativeText = QStringLiteral("A Corvane app.");
    about.buttons = {QStringLiteral("OK")};
    host::alerts().runModal(about, [](int) {});
}

} // namespace

host::Menu mainMenu(const QString& appName, const Actions& actions) {
    host::Menu menu;
    menu.title = appName;
    menu.items = {
        {QStringLiteral("About ") + appName, {}, [appName] { showAboutPanel(appName); }},
        host::MenuItem::separator(),
        {QStringLiteral("Open New Window"), QStringLiteral("n"), actions.openNewWindow},
        {QStringLiteral("Bring to Front"), QStringLiteral("/"), actions.bringToFront},
        host::MenuItem::separator(),
        // A launcher shows no windows of its own, so hiding it leaves nothing to do on this desktop.
        {QStringLiteral("Hide ") + appName, QStringLiteral("h"), [] {}},
        host::MenuItem::separator(),
        {QStringLiteral("Quit ") + appName, QStringLiteral("q"), [] { host::application().terminate(); }},
    };
    return menu;
}

void install(const QString& appName, const Actions& actions, const QString& iconPath) {
    host::menuBar().setMainMenu(mainMenu(appName, actions), iconPath);
}

QString iconPath(const QString& bundlePath, const std::optional<QVariantMap>& info) {
    if (bundlePath.isEmpty() || !info)
        return {};
    QString name = info->value(QStringLiteral("CFBundleIconFile")).toString();
    if (name.isEmpty())
        return {};
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".icns");
    const QString path = bundlePath + QStringLiteral("/Contents/Resources/") + name;
    return QFileInfo(path).isFile() ? path : QString();
}

} // namespace MenuBuilder
