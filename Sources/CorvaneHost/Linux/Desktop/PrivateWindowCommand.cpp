#include "CorvaneHost/Linux/Desktop/PrivateWindowCommand.h"

#include <QSet>

namespace host {

bool opensPrivateWindowsAtStart(const DesktopEntry& entry) {
    // The desktop-file IDs of the packages, snaps and flatpaks these browsers ship as.
    static const QSet<QString> chromiumFamily{
        QStringLiteral("chromium"),
        QStringLiteral("chromium-browser"),
        QStringLiteral("chromium_chromium"),
        QStringLiteral("org.chromium.Chromium"),
        QStringLiteral("google-chrome"),
        QStringLiteral("google-chrome-stable"),
        QStringLiteral("google-chrome-beta"),
        QStringLiteral("google-chrome-unstable"),
        QStringLiteral("com.google.Chrome"),
        QStringLiteral("brave-browser"),
        QStringLiteral("brave-browser-beta"),
        QStringLiteral("brave-browser-nightly"),
        QStringLiteral("com.brave.Browser"),
        QStringLiteral("microsoft-edge"),
        QStringLiteral("microsoft-edge-beta"),
        QStringLiteral("microsoft-edge-dev"),
        QStringLiteral("com.microsoft.Edge"),
    };
    // An entry the host wrote for a bundle stands for that bundle's program, whatever its name.
    return entry.bundlePath.isEmpty() && chromiumFamily.contains(entry.id);
}

std::optional<QStringList> privateWindowCommand(const DesktopEntry& entry, const QString& link) {
    if (!opensPrivateWindowsAtStart(entry))
        return std::nullopt;
    const std::optional<QString> action = desktopActionExec(entry, QStringLiteral("new-private-window"));
    DesktopEntry started = entry;
    if (action)
        started.exec = *action;
    // Made without links, so that the link is not re-encoded on its way: the field codes fall away and the
    // link is appended, as a launcher does for an Exec line without one. These browsers read their switches
    // wherever they stand.
    const std::vector<QStringList> commands = desktopEntryCommands(started, {});
    if (commands.size() != 1)
        return std::nullopt;
    QStringList command = commands.front();
    if (!action)
        command.append(QStringLiteral("--incognito"));
    command.append(link);
    return command;
}

} // namespace host
