// Reaches the session bus as the host's services do and calls on it, leaving calls unanswered at its end,
// then loses a block that our own code allocates on Qt's D-Bus thread, where Qt and libdbus keep the session
// bus's connection: the leak check must report our block, and nothing of theirs. Runs on a session bus of its
// own (dbus-run-session).
#include "CorvaneHost/Linux/Bus/SessionBus.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMetaObject>

#include <cstdio>
#include <dbus/dbus.h>

namespace {

int* volatile kept = nullptr;

[[gnu::noinline]] void leakOnTheBusThread() {
    kept = new int[9];
    kept = nullptr;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = host::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "no session bus\n");
        return 2;
    }
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        std::fprintf(stderr, "the bus did not answer\n");
        return 3;
    }
    // Calls still waiting for their answers when the program ends, as the accessibility bridge's may be: to a
    // peer that never reads them.
    DBusConnection* deaf = dbus_bus_get_private(DBUS_BUS_SESSION, nullptr);
    if (!deaf)
        return 4;
    const QString deafName = QString::fromUtf8(dbus_bus_get_unique_name(deaf));
    for (int i = 0; i < 3; ++i)
        bus.asyncCall(QDBusMessage::createMethodCall(deafName, QStringLiteral("/nowhere"),
                                                     QStringLiteral("app.corvane.Canary"),
                                                     QStringLiteral("Wait")),
                      60000);
    QMetaObject::invokeMethod(bus.interface(), &leakOnTheBusThread, Qt::BlockingQueuedConnection);
    return 0;
}
