#pragma once

#include <QString>
#include <sys/types.h>

class QProcess;

namespace test {

// The process no longer runs: it is gone, or a zombie that only its parent's wait keeps.
bool hasEnded(pid_t pid);

// Makes this process the reaper of the programs that its descendants start detached (the helper that a
// launcher, the open tool or the creator app starts; a launcher that the open tool starts): once the program
// that started them is gone they are children of this process, so that a test reads how they ended. Call it
// before they start.
void adoptDetachedPrograms();

// Why a program ended uncleanly ("crashed with signal 11", "ended with status 3"), from its wait status;
// empty for a clean end: status 0, or the SIGTERM it was asked to end by, where that came before its handler.
QString uncleanEnd(int waitStatus);
// The same for a program that a QProcess ran, once it is not running; empty for one that never started.
QString uncleanEnd(const QProcess& process);

// Asks the program `pid` to end (SIGTERM) and waits up to `seconds` for it; why it did not end cleanly, or
// empty. One that does not end in time is killed, and that is said. Its end is read when it is a child of
// this process (see adoptDetachedPrograms()); `reap` takes its status, for a program that no QProcess waits
// for.
QString endProgram(pid_t pid, double seconds = 10, bool reap = true);

// Ends the running programs of the bundle identifier that lie in `folder` (the helpers and launchers that a
// test started, which stay resident), each by its pid; one that does not end cleanly fails the test.
void endProgramsOf(const QString& bundleID, const QString& folder);

} // namespace test
