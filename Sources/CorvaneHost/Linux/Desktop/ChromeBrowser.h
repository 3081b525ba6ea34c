#pragma once

#include "CorvaneHost/ChromeBrowser.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"

#include <QStringList>
#include <optional>
#include <vector>

namespace host {

// This machine's Chrome: a Google Chrome entry ("google-chrome*") when one is installed, else Chromium's.
struct ChromeBrowser {
    DesktopEntry entry;
    QString dataFolderName;   // below $XDG_CONFIG_HOME: "google-chrome", "google-chrome-beta", "chromium"
    QStringList programNames; // file names of the browser's main program ("chrome"; "chromium")
    bool operator==(const ChromeBrowser&) const = default;
};

// Picks Chrome among the desktop's browsers (in their folder order); none when neither is installed.
std::optional<ChromeBrowser> chromeAmong(const std::vector<DesktopEntry>& browsers);
std::optional<ChromeBrowser> installedChrome();
// The folder where `chrome` keeps its data; Chromium's where there is none.
QString userDataDirectory(const std::optional<ChromeBrowser>& chrome);

// Whether a process with this executable and these arguments is that browser's main process: helpers of the
// browser (renderers, the GPU process, zygotes) carry a "--type=" switch.
bool isChromeMainProcess(const ChromeBrowser& chrome, const QString& executable,
                         const QStringList& arguments);
// Whether a browser started with `arguments` keeps its data in `folder`: the one its --user-data-dir names,
// else its default, this home's.
bool runsOnDataFolder(const QStringList& arguments, const QString& folder);

// What a program with this identifier gets in its environment, started by the host, besides what it
// inherits. Every Chrome gets a variable: Chromium reads the desktop's accessibility switch once, at its
// start, and publishes nothing over the accessibility bus when it was off then; this makes it publish
// whatever the switch says.
QMap<QString, QString> launchEnvironment(const QString& bundleIdentifier);

} // namespace host
