#pragma once

#include "CorvaneHost/Linux/Processes/ChildReaper.h"
#include "CorvaneHost/Linux/Processes/SpawnSignals.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace host {

// Where a program started for an event keeps its output: "<name>.log" in the "logs" folder of the host state
// folder. A log over 1 MiB is moved to "<name>.log.old" when the program starts again.
QString launchLogPath(const QString& name);

// Starts `program` with `arguments` detached from the caller, `environment` added to this process's: in a
// session of its own, input from /dev/null, standard output and error appended to launchLogPath(`logName`),
// the root folder as working folder, default signals. Started for an event, the program belongs to the
// desktop, not to the caller: a pipe or terminal of the caller's (`scripts/run URL | tail`) must be able to
// end while it runs on. It stays this process's child: its end is logged (see reapWhenEnded) and handed to
// `whenEnded` on the main queue where given. Its pid; none, with `failure` saying why, when it did not start.
std::optional<qint64> startDetached(const QString& program, const QStringList& arguments,
                                    const QMap<QString, QString>& environment, const QString& logName,
                                    QString& failure, ProgramEndCompletion whenEnded = {});

} // namespace host
