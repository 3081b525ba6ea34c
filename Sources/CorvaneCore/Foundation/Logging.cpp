#include "CorvaneCore/Foundation/Logging.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QFile>
#include <QFileInfo>

namespace Log {

void Logger::write(host::LogLevel level, const QString& message) const {
    host::logSink().write(Corvane::logSubsystem, category(), level, host::escapingControlCharacters(message));
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
