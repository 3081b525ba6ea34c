#pragma once

#include "CorvaneHost/Workspace.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

// How the launcher finds, starts and brings forward Google Chrome. Every link a proxy app opens reaches
// Chrome as an argument of a launch through here, with the app's profile directory.
namespace ChromeLauncher {

// Where Chrome is: the application the workspace knows for Chrome's bundle identifier, else the usual place.
QString chromeURL();
// The first running Chrome, in the order the system lists running applications.
std::optional<host::RunningApplication> runningChrome();

// Whether a link may go onto Chrome's command line: a file link with an absolute path, or an absolute URL
// with a scheme whose text cannot read as a switch.
bool isPassableLink(const QUrl& url);
// The arguments of a launch: the common ones, the profile, then one per passable link (a file link as its
// plain path, any other as it is written). `links` are texts as they reached the launcher; those that do not
// parse (host::parseLink) as a passable link are logged and left out.
QStringList arguments(const QString& profileDirectory, const QStringList& links);

// Starts Chrome as a new instance with the profile and the links (a new window of the profile without links).
// The completion, when given, runs once on the main queue with whether the start succeeded.
void launch(const QString& profileDirectory, const QStringList& links,
            std::function<void(bool)> completion = {});
// Brings a running Chrome forward; nothing when none runs.
void activateChrome();

} // namespace ChromeLauncher
