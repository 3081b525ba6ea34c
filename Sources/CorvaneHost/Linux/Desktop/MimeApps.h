#pragma once

#include <QString>
#include <QStringList>

namespace host {

// The desktop's default applications by MIME type, as the freedesktop MIME-applications rules keep them in
// "mimeapps.list" files. Applications are named by desktop-file ID ("chromium.desktop").

// The user's own file: $XDG_CONFIG_HOME/mimeapps.list (default ~/.config/mimeapps.list).
QString userMimeAppsPath();

// Every file that may name a default, highest precedence first: the user's configuration folder (the current
// desktops' own "<desktop>-mimeapps.list" before the plain one), then $XDG_CONFIG_DIRS, then the
// "applications" folders of $XDG_DATA_HOME and $XDG_DATA_DIRS.
QStringList mimeAppsFiles();

// The IDs that `[Default Applications]` names for `mimeType`, file by file in precedence order (the rules
// take the first that is installed).
QStringList defaultDesktopIds(const QString& mimeType);

// Names `desktopId` as the default of each of `mimeTypes` in the user's file. Every other line of the file
// stays as it is; the file is replaced whole, so readers never see half of it. Throws host::SystemError.
void setUserDefaults(const QStringList& mimeTypes, const QString& desktopId);

} // namespace host
