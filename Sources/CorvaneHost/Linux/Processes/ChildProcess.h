#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <spawn.h>

namespace host {

struct ProgramEnd;

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
// end while it runs on. Its pid; none, with `failure` saying why, when it did not start. `onEnd`, when given,
// is told how the program ended once it is reaped, on the thread that reaps it.
std::optional<qint64> startDetached(const QString& program, const QStringList& arguments,
                                    const QMap<QString, QString>& environment, const QString& logName,
                                    QString& failure, std::function<void(const ProgramEnd&)> onEnd = {});

// How a program ended, from the status waitpid gave for it.
ProgramEnd programEndFromWaitStatus(int status);

} // namespace host
