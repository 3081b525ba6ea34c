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

// This machine's log: one line per message on standard error,
// "app.corvane.helper [error] could not listen: ...". Debug lines only when CORVANE_LOG_DEBUG is set.
class StderrLogSink final : public LogSink {
public:
    StderrLogSink();
    void write(const QString& subsystem, const QString& category, LogLevel level,
               const QString& message) override;

private:
    std::mutex mutex_;
    bool showDebug_;
};

} // namespace host
