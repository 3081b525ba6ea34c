#include "CorvaneHost/Linux/Bus/SessionBus.h"

#include "CorvaneHost/LeakCheck.h"

#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QMetaObject>
#include <mutex>

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
    QDBusConnection bus = QDBusConnection::sessionBus();
#ifdef CORVANE_LEAK_CHECKED
    static std::once_flag leftOut;
    if (bus.isConnected())
        std::call_once(leftOut, [&bus] {
            // The bus's own interface object lives on Qt's D-Bus thread; code of ours run there (none is)
            // would check itself (OwnAllocations).
            if (QObject* onTheBusThread = bus.interface())
                QMetaObject::invokeMethod(onTheBusThread, &leaveThreadToLibrary,
                                          Qt::BlockingQueuedConnection);
        });
#endif
    return bus;
}

} // namespace host
