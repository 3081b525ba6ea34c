#include "CorvaneHost/Linux/Bus/SessionBus.h"

#include <QFileInfo>

namespace host {

namespace {

// Where libdbus looks for the session bus before it would start one.
bool sessionBusIsThere() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
}

} // namespace

QDBusConnection sessionBus() {
    if (!sessionBusIsThere())
        return QDBusConnection(QStringLiteral("app.corvane.no-session-bus")); // never connected
    return QDBusConnection::sessionBus();
}

} // namespace host
