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

} // namespace host
