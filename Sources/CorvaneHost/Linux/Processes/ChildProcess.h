#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <spawn.h>

namespace host {

// How a program ended.
struct ProgramEnd {
    int exitStatus = 0; // its status, when it exited
    int signal = 0;     // the signal that ended it; 0 when it exited

    bool clean() const { return signal == 0 && exitStatus == 0; }
    bool operator==(const ProgramEnd&) const = default;
    // "ended cleanly", "ended with status 3", "ended by signal 11 (Segmentation fault)".
    QString description() const;
};

// Called on the main queue (the one of the program when the child was started) once a child has ended.
using ProgramEndCompletion = std::function<void(const ProgramEnd&)>;

// What every program started from here gets back: the default disposition of every signal and an empty signal
// mask. An ignored signal survives exec (the helper ignores SIGPIPE), and a child that inherits it runs its
// pipelines unlike one the desktop starts.
void setDefaultSignals(posix_spawnattr_t& attributes);

// Where a program started for an event keeps its output: "<name>.log" in the "logs" folder of the host state
// folder. A log over 1 MiB is moved to "<name>.log.old" when the program starts again.
QString launchLogPath(const QString& name);

// Starts `program` with `arguments` detached from the caller, `environment` added to this process's: in a
// session of its own, input from /dev/null, standard output and error appended to launchLogPath(`logName`),
// the root folder as working folder, default signals. Started for an event, the program belongs to the
// desktop, not to the caller: a pipe or terminal of the caller's (`scripts/run URL | tail`) must be able to
// end while it runs on. Its end is handed to `whenEnded` on the main queue where given. Its pid; none, with
// `failure` saying why, when it did not start.
std::optional<qint64> startDetached(const QString& program, const QStringList& arguments,
                                    const QMap<QString, QString>& environment, const QString& logName,
                                    QString& failure, ProgramEndCompletion whenEnded = {});

} // namespace host
