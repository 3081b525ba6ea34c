#pragma once

#include <QString>
#include <mutex>

namespace host {

// The levels of the system log, lowest first. `Default` is the plain "log" level.
enum class LogLevel { Debug, Info, Default, Error, Fault };

QString logLevelName(LogLevel level);

// Arguments come from clients, files and other programs: a line break in one would make one entry read as two
// lines, so control characters are written as escapes such as "\n".
QString escapingControlCharacters(const QString& message);

// Where log lines go. String arguments arrive already interpolated and are written in clear text.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const QString& subsystem, const QString& category, LogLevel level,
                       const QString& message) = 0;
};

} // namespace host
