#include "CorvaneHost/LogSink.h"

#include <cstdio>

namespace host {

QString logLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::Debug:
        return QStringLiteral("debug");
    case LogLevel::Info:
        return QStringLiteral("info");
    case LogLevel::Default:
        return QStringLiteral("default");
    case LogLevel::Error:
        return QStringLiteral("error");
    case LogLevel::Fault:
        return QStringLiteral("fault");
    }
    return QStringLiteral("default");
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
