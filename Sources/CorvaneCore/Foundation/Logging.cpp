#include "CorvaneCore/Foundation/Logging.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace Log {
namespace {

// Arguments come from clients and files: a line break in one would make one entry read as two lines, so
// control characters are written as escapes. The messages' own texts hold none.
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

} // namespace

void Logger::write(host::LogLevel level, const QString& message) const {
    host::logSink().write(Corvane::logSubsystem, category(), level, escapingControlCharacters(message));
}

} // namespace Log

namespace WarnThrottle {
namespace {

QString markerPath(const QString& key) {
    return Corvane::supportDirectory() + QStringLiteral("/warned-") + key;
}

} // namespace

bool isUsableKey(const QString& key) {
    const QString fileName = QStringLiteral("warned-") + key;
    return !key.isEmpty() && key != QLatin1String(".") && key != QLatin1String("..") &&
           !key.contains(QLatin1Char('/')) && !key.contains(QChar(u'\0')) && fileName.toUtf8().size() <= 255;
}

bool shouldWarn(const QString& key, double interval) {
    if (!isUsableKey(key))
        return true;
    try {
        Corvane::ensureSupportDirectory();
    } catch (const host::Error&) {
        // Errs on the side of warning: the marker below simply fails to be written.
    }
    const QString path = markerPath(key);
    const QDateTime now = host::clock().now();
    const QFileInfo info(path);
    if (info.exists()) {
        const QDateTime stamped = info.lastModified();
        if (stamped.isValid() && stamped.msecsTo(now) / 1000.0 < interval)
            return false;
    }
    QFile marker(path);
    if (marker.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        marker.setFileTime(now, QFileDevice::FileModificationTime);
        marker.close();
    }
    return true;
}

void reset(const QString& key) {
    if (isUsableKey(key))
        QFile::remove(markerPath(key));
}

} // namespace WarnThrottle
