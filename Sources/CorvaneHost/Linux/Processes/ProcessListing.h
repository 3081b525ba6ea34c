#pragma once

#include <QByteArray>
#include <QStringList>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace host {

// What tells one running process apart: from a later process that gets its number (its start time) and from
// the program it ran before an exec (the executable, and the command name, which an exec sets to the file it
// ran: a script's own name where an interpreter runs it).
struct ProcessIdentity {
    qint32 pid = 0;
    quint64 startTime = 0; // clock ticks after boot
    QByteArray executable; // the /proc/<pid>/exe link; empty where it cannot be read
    QByteArray name;       // the command name
    bool operator==(const ProcessIdentity&) const = default;
};

// The processes of `uid` that live (not zombies), read from /proc with a few system calls each: a caller that
// polls keeps what it learnt of a process under its identity, and looks closer only at one it has not seen.
std::vector<ProcessIdentity> liveProcessesOf(uid_t uid);
// One process, while it lives.
std::optional<ProcessIdentity> liveProcess(qint32 pid);
// One process of `uid`, while it lives: what a listing of that user's processes would give for it.
std::optional<ProcessIdentity> liveProcessOf(uid_t uid, qint32 pid);
// The arguments a process was started with (its first 64 KiB).
QStringList processArguments(qint32 pid);

// Whether the number `pid`, which names something alive, names a process rather than one of a process's
// threads (Chromium and the desktop's services start and end threads all the time, and a thread's start is
// no program's). The kernel opens a process handle for a process only; where it cannot say, it is one.
bool isProcessNotThread(qint32 pid);

// Tells whether a process of this user may have started since it was last asked, far more cheaply than a
// listing: the kernel hands out process numbers in turn and tells the last one it gave (/proc/loadavg), so
// only the numbers given since are looked at, each by asking whether this process may signal it (a question
// that reads no file), and a number that names a thread is passed over. Every process counts for root, and a
// process started for another user that becomes this user's afterwards is not seen: the answer is a hint to
// list again, not a listing.
class ProcessStarts {
public:
    ProcessStarts() = default;
    ~ProcessStarts();
    ProcessStarts(const ProcessStarts&) = delete;
    ProcessStarts& operator=(const ProcessStarts&) = delete;

    // Yes at the first call, when the numbers wrapped around, and when too many were given to look at each.
    bool anySinceLastAsked();

private:
    std::optional<qint32> lastProcessNumber();

    int loadavg_ = -1; // kept open: the kernel writes the file afresh at each read from its start
    std::optional<qint32> last_;
};

} // namespace host
