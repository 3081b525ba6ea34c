#include "CorvaneHost/Linux/StderrLogSink.h"

#include "CorvaneHost/Services.h"

#include <cstdio>

namespace host {

LogSink& logSink() {
    return ensureService(services().logSink, [] { return std::make_shared<StderrLogSink>(); });
}

StderrLogSink::StderrLogSink()
    : showDebug_(qEnvironmentVariableIsSet("CORVANE_LOG_DEBUG")) {}

void StderrLogSink::write(const QString& subsystem, const QString& category, LogLevel level,
                          const QString& message) {
    if (level == LogLevel::Debug && !showDebug_)
        return;
    const QByteArray line =
        QStringLiteral("%1.%2 [%3] %4\n").arg(subsystem, category, logLevelName(level), message).toUtf8();
    std::lock_guard lock(mutex_);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace host
