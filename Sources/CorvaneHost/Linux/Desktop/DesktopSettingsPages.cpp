#include "CorvaneHost/Linux/Desktop/DesktopSettingsPages.h"

#include <QProcessEnvironment>

namespace host {

namespace {

const QString defaultBrowserAddress =
    QStringLiteral("x-apple.systempreferences:com.apple.Desktop-Settings.extension");
const QString accessibilityAddress =
    QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");

// One desktop's settings program and the arguments that open a page of it. A desktop may list several
// programs (older and newer releases); the first found wins.
struct PageCommand {
    QString desktop; // as XDG_CURRENT_DESKTOP names it, compared without case
    DesktopSettingsPage page;
    QStringList command;
    QString panelEntry = {}; // the desktop entry that only the releases with this panel ship
};

const std::vector<PageCommand>& pageCommands() {
    using Page = DesktopSettingsPage;
    static const std::vector<PageCommand> commands{
        // Up to GNOME 45 the default applications have a panel of their own; later releases show them in
        // the applications panel.
        {QStringLiteral("GNOME"),
         Page::defaultApplications,
         {QStringLiteral("gnome-control-center"), QStringLiteral("default-apps")},
         QStringLiteral("gnome-default-apps-panel.desktop")},
        {QStringLiteral("GNOME"),
         Page::defaultApplications,
         {QStringLiteral("gnome-control-center"), QStringLiteral("applications")}},
        {QStringLiteral("GNOME"),
         Page::accessibility,
         {QStringLiteral("gnome-control-center"), QStringLiteral("universal-access")}},
        {QStringLiteral("KDE"),
         Page::defaultApplications,
         {QStringLiteral("systemsettings"), QStringLiteral("kcm_componentchooser")}},
        {QStringLiteral("KDE"),
         Page::defaultApplications,
         {QStringLiteral("systemsettings5"), QStringLiteral("componentchooser")}},
        {QStringLiteral("KDE"),
         Page::accessibility,
         {QStringLiteral("systemsettings"), QStringLiteral("kcm_access")}},
        {QStringLiteral("KDE"),
         Page::accessibility,
         {QStringLiteral("systemsettings5"), QStringLiteral("kcm_access")}},
        {QStringLiteral("XFCE"), Page::defaultApplications, {QStringLiteral("xfce4-mime-settings")}},
        {QStringLiteral("XFCE"), Page::accessibility, {QStringLiteral("xfce4-accessibility-settings")}},
        {QStringLiteral("X-Cinnamon"),
         Page::defaultApplications,
         {QStringLiteral("cinnamon-settings"), QStringLiteral("default")}},
        {QStringLiteral("X-Cinnamon"),
         Page::accessibility,
         {QStringLiteral("cinnamon-settings"), QStringLiteral("universal-access")}},
        {QStringLiteral("MATE"),
         Page::defaultApplications,
         {QStringLiteral("mate-default-applications-properties")}},
        {QStringLiteral("MATE"), Page::accessibility, {QStringLiteral("mate-at-properties")}},
    };
    return commands;
}

} // namespace

std::optional<DesktopSettingsPage> settingsPageForAddress(const QUrl& address) {
    const QString text = address.toString();
    if (text == defaultBrowserAddress)
        return DesktopSettingsPage::defaultApplications;
    if (text == accessibilityAddress)
        return DesktopSettingsPage::accessibility;
    return std::nullopt;
}

QString settingsPageName(DesktopSettingsPage page) {
    return page == DesktopSettingsPage::defaultApplications ? QStringLiteral("default applications")
                                                            : QStringLiteral("accessibility");
}

std::optional<QStringList> settingsPageCommand(DesktopSettingsPage page, const QStringList& desktops,
                                               const std::function<QString(const QString&)>& findExecutable,
                                               const std::function<bool(const QString&)>& hasDesktopEntry) {
    for (const QString& desktop : desktops) {
        for (const PageCommand& candidate : pageCommands()) {
            if (candidate.page != page || candidate.desktop.compare(desktop, Qt::CaseInsensitive) != 0)
                continue;
            if (!candidate.panelEntry.isEmpty() && !hasDesktopEntry(candidate.panelEntry))
                continue;
            const QString program = findExecutable(candidate.command.first());
            if (program.isEmpty())
                continue;
            QStringList command = candidate.command;
            command.first() = program;
            return command;
        }
    }
    return std::nullopt;
}

QStringList currentDesktops() {
    return QProcessEnvironment::systemEnvironment()
        .value(QStringLiteral("XDG_CURRENT_DESKTOP"))
        .split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

} // namespace host
