#pragma once

#include "CorvaneHost/LogSink.h"

namespace host {

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
