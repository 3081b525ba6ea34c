#pragma once

#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace host {

// What is known of a window's application: its window class (WM_CLASS instance and class), the file names
// of its process's program (its executable, and the program its command line names) and the first argument
// of that command line that is not a switch (for an interpreter, the script it runs).
struct WindowOwner {
    QString wmInstance;
    QString wmClass;
    QStringList programNames;
    QString firstArgument;
};

// The window's owner, with the program and command line of its process read from the system; a process
// that is gone (or none, 0) leaves them empty.
WindowOwner windowOwner(const QString& wmInstance, const QString& wmClass, qint32 processIdentifier);

// The desktop entry that stands for a window's application, found the way the desktop's shell matches
// windows to apps: the entry whose StartupWMClass is the window's class or instance, else the entry whose
// desktop-file ID is the class or the instance (letter case aside), else the entry whose Exec runs the
// window's program with the same first argument that is not a switch (an interpreter alone says nothing of
// the program it runs), or runs it with none while the window is the program's own (named after it, or the
// program opened nothing). Never an entry run in a terminal. None when no entry matches.
std::optional<DesktopEntry> desktopEntryForWindow(const std::vector<DesktopEntry>& entries,
                                                  const WindowOwner& owner);

} // namespace host
