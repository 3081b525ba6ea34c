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

// The process that started `pid` (its parent now); 0 when it is gone.
pid_t parentOf(pid_t pid);

// Why a program of ours ended uncleanly ("crashed with signal 11 (Segmentation fault)", "ended with status
// 3"), from its wait status; empty for a clean end (status 0). Our programs handle SIGTERM: a death by it
// means their graceful end never ran.
QString uncleanEnd(int waitStatus);
// The same for a program that a QProcess ran, once it is not running; empty for one that never started.
QString uncleanEnd(const QProcess& process);

// Asks the program `pid` to end (SIGTERM) once it handles that signal, waiting up to `seconds` for it to
// install its handler (a program asked sooner would die before its graceful end could run); a program that
// never handles it is asked all the same, and dies by it.
void askToEnd(pid_t pid, double seconds = 5);

// Asks the program `pid` to end (askToEnd) and waits up to `seconds` for it; why it did not end cleanly, or
// empty. One that does not end in time is killed, and that is said. Its end is read from its wait status
// when it is a child of this process (see adoptDetachedPrograms(); `reap` takes that status, for a program
// that no QProcess waits for), else from the log of the program that started it and still runs: our
// programs log how each program they started ended. One whose end can be read neither way did not end
// cleanly.
QString endProgram(pid_t pid, double seconds = 10, bool reap = true);

// Ends the running programs of the bundle identifier that lie in `folder` (the helpers and launchers that a
// test started, which stay resident), each by its pid; one that does not end cleanly fails the test.
void endProgramsOf(const QString& bundleID, const QString& folder);

} // namespace test
