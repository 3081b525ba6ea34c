#pragma once

#include <QString>
#include <mutex>

namespace host {

// The levels of the system log, lowest first. `Default` is the plain "log" level.
enum class LogLevel { Debug, Info, Default, Error, Fault };

QString logLevelName(LogLevel level);

// Where log lines go. String arguments arrive already interpolated and are written in clear text.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const QString& subsystem, const QString& category, LogLevel level,
                       const QString& message) = 0;
};

} // namespace host
