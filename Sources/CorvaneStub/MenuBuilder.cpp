#include "CorvaneStub/MenuBuilder.h"

#include "CorvaneCore/Foundation/BuildInfo.h"
#include "CorvaneHost/Alerts.h"
#include "CorvaneHost/Application.h"
#include "CorvaneHost/Services.h"

#include <QFileInfo>

namespace MenuBuilder {

host::Alert aboutPanel(const QString& appName, const QVariantMap& info, const QString& iconPath) {
    host::Alert about;
    about.messageText = appName;
    QStringList lines;
    if (const QString version = BuildInfo::aboutVersion(info); !version.isEmpty())
        lines.append(QStringLiteral("Version ") + version);
    if (const auto credits = BuildInfo::aboutCredits(info))
        lines.append(*credits);
    about.informativeText = lines.join(QLatin1Char('\n'));
    about.buttons = {QStringLiteral("OK")};
    about.iconPath = iconPath;
    return about;
}

host::Menu mainMenu(const QString& appName, const Actions& actions, const QVariantMap& info,
                    const QString& iconPath) {
    host::Menu menu;
    menu.title = appName;
    menu.items = {
        {QStringLiteral("About ") + appName,
         {},
         [about = aboutPanel(appName, info, iconPath)] { host::alerts().runModal(about, [](int) {}); }},
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

void install(const QString& appName, const Actions& actions, const QVariantMap& info,
             const QString& iconPath) {
    host::menuBar().setMainMenu(mainMenu(appName, actions, info, iconPath), iconPath);
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
