#include "CorvaneHost/LogSink.h"

#include <algorithm>
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

QString escapingControlCharacters(const QString& message) {
    const auto isControl = [](QChar c) {
        const char16_t unit = c.unicode();
        return unit < 0x20 || unit == 0x7F || unit == 0x85 || unit == 0x2028 || unit == 0x2029;
    };
    if (std::none_of(message.begin(), message.end(), isControl))
        return message;
    QString escaped;
    escaped.reserve(message.size() + 8);
    for (const QChar c : message) {
        if (!isControl(c))
            escaped.append(c);
        else if (c == QLatin1Char('\n'))
            escaped.append(QLatin1String("\\n"));
        else if (c == QLatin1Char('\r'))
            escaped.append(QLatin1String("\\r"));
        else if (c == QLatin1Char('\t'))
            escaped.append(QLatin1String("\\t"));
        else
            escaped.append(QStringLiteral("\\u%1").arg(int(c.unicode()), 4, 16, QLatin1Char('0')));
    }
    return escaped;
}

} // namespace host
