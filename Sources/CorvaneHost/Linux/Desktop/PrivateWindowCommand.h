#pragma once

#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace host {

// Whether the entry is a browser of the Chromium family (Chromium, Google Chrome, Brave, Microsoft Edge, by
// their desktop-file IDs): started with --incognito and a link, it opens the link in a private window, and a
// running one takes that request from the start too.
bool opensPrivateWindowsAtStart(const DesktopEntry& entry);

// The command line (program first) that opens `link` in a private window of the entry's browser: the command
// of its "new-private-window" desktop action where its entry has one, else its own command with --incognito;
// the link goes last, as the text was written. None for a browser outside the Chromium family, or when the
// command cannot be made.
std::optional<QStringList> privateWindowCommand(const DesktopEntry& entry, const QString& link);

} // namespace host
