#pragma once

#include <QString>
#include <QStringList>

namespace test {

// The outcome of running one of the built host tools: its exit status (-1 when it did not finish in time or
// crashed) and what it wrote to standard error and to standard output, trimmed.
struct ToolRun {
    int status = -1;
    QString errors;
    QString output;
};

// Runs the host tool `name` from the build's tools folder with `arguments` and waits for it (killed after
// `timeoutMs`).
ToolRun runHostTool(const QString& name, const QStringList& arguments, int timeoutMs = 30000);

// Runs `program` with `arguments` and waits for it (killed after `timeoutMs`), its standard output and error
// appended to `logFile`: a helper that the program starts keeps writing its log there after the program ends.
// The run's output is all of the log file.
ToolRun runLoggingTo(const QString& program, const QStringList& arguments, const QString& logFile,
                     int timeoutMs = 30000);

} // namespace test
