#pragma once

#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace host {

// What is known of a window's application: its window class (WM_CLASS instance and class) and the file
// names of its process's program (its executable, and the program its command line names).
struct WindowOwner {
    QString wmInstance;
    QString wmClass;
    QStringList programNames;
};

// The desktop entry that stands for a window's application, found the way the desktop's shell matches
// windows to apps: the entry whose StartupWMClass is the window's class or instance, else the entry whose
// desktop-file ID is the class or the instance (letter case aside), else the entry whose program is the
// window's. None when no entry matches.
std::optional<DesktopEntry> desktopEntryForWindow(const std::vector<DesktopEntry>& entries,
                                                  const WindowOwner& owner);

// The program names of a running process: the file names of its executable and of its command line's
// first argument; empty when the process is gone.
QStringList programNamesOf(qint32 processIdentifier);

} // namespace host
