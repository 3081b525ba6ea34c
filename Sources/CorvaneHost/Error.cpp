#include "CorvaneHost/Error.h"

#include <cstring>

namespace host {

SystemError SystemError::fromErrno(const QString& what, int errnoValue) {
    const QString reason = QString::fromLocal8Bit(std::strerror(errnoValue));
    return SystemError(QStringLiteral("NSPOSIXErrorDomain"), errnoValue,
                       what.isEmpty() ? reason : QStringLiteral("%1: %2").arg(what, reason));
}

} // namespace host
