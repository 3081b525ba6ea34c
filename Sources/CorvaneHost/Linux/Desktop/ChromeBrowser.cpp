#include "CorvaneHost/Linux/Desktop/ChromeBrowser.h"

#include "CorvaneHost/Folders.h"

#include <QDir>
#include <QFileInfo>

namespace host {
namespace {

bool isGoogleChrome(const DesktopEntry& entry) {
    return entry.id.startsWith(QLatin1String("google-chrome"));
}

bool isChromium(const DesktopEntry& entry) {
    return entry.id == QLatin1String("chromium") || entry.id == QLatin1String("chromium-browser") ||
           entry.id == QLatin1String("org.chromium.Chromium");
}

QString configHome() {
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    return configured.isEmpty() ? homeDirectory() + QStringLiteral("/.config") : configured;
}

// The switches of a browser process. Chrome's processes write their whole command line into their first
// argument, words apart by spaces, once they run (as /proc shows them): its words are the switches then.
QStringList switchesOf(const QStringList& arguments) {
    QStringList given = arguments;
    while (!given.isEmpty() && given.last().isEmpty())
        given.removeLast();
    if (given.size() == 1 && given.first().contains(QLatin1String(" --")))
        return given.first().split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(1);
    return given.mid(1);
}

} // namespace

std::optional<ChromeBrowser> chromeAmong(const std::vector<DesktopEntry>& browsers) {
    for (const DesktopEntry& entry : browsers)
        if (isGoogleChrome(entry)) {
            // The stable channel keeps its data in "google-chrome", the others in a folder of their own name.
            const bool stable = entry.id == QLatin1String("google-chrome") ||
                                entry.id == QLatin1String("google-chrome-stable");
            return ChromeBrowser{
                entry, stable ? QStringLiteral("google-chrome") : entry.id, {QStringLiteral("chrome")}};
        }
    for (const DesktopEntry& entry : browsers)
        if (isChromium(entry))
            return ChromeBrowser{entry,
                                 QStringLiteral("chromium"),
                                 {QStringLiteral("chromium"), QStringLiteral("chromium-browser")}};
    return std::nullopt;
}

std::optional<ChromeBrowser> installedChrome() {
    return chromeAmong(browserDesktopEntries());
}

bool isChromeMainProcess(const ChromeBrowser& chrome, const QString& executable,
                         const QStringList& arguments) {
    static const QStringList shells{QStringLiteral("sh"), QStringLiteral("dash"), QStringLiteral("bash")};
    const QString program = QFileInfo(executable).fileName();
    // A wrapper script of the browser runs under its shell until it hands over to the browser.
    const bool isChrome = chrome.programNames.contains(program) ||
                          (shells.contains(program) && arguments.size() > 1 &&
                           chrome.programNames.contains(QFileInfo(arguments[1]).fileName()));
    if (!isChrome)
        return false;
    for (const QString& argument : switchesOf(arguments))
        if (argument.startsWith(QLatin1String("--type=")))
            return false;
    return true;
}

bool runsOnDataFolder(const QStringList& arguments, const QString& folder) {
    const QLatin1String option("--user-data-dir=");
    for (const QString& argument : switchesOf(arguments))
        if (argument.startsWith(option))
            return QDir::cleanPath(argument.mid(option.size())) == QDir::cleanPath(folder);
    return true;
}

QMap<QString, QString> launchEnvironment(const QString& bundleIdentifier) {
    if (bundleIdentifier != chromeBundleIdentifier)
        return {};
    return {{QStringLiteral("ACCESSIBILITY_ENABLED"), QStringLiteral("1")}};
}

QString userDataDirectory(const std::optional<ChromeBrowser>& chrome) {
    return configHome() + QLatin1Char('/') + (chrome ? chrome->dataFolderName : QStringLiteral("chromium"));
}

QString chromeUserDataDirectory() {
    return userDataDirectory(installedChrome());
}

} // namespace host
