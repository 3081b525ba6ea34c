// The session bus as the host's services reach it, on a machine where the program has none.
#include "CorvaneHost/Linux/Bus/SessionBus.h"

#include <QDBusMessage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Sets one environment variable for the scope, and puts the old value back after.
class EnvironmentValue {
public:
    EnvironmentValue(const char* name, const QByteArray& value)
        : name_(name)
        , had_(qEnvironmentVariableIsSet(name))
        , old_(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvironmentValue() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// libdbus would start a bus of its own (dbus-launch) and lose a buffer on the way; the program goes without.
TEST(SessionBus, AProgramWithoutASessionBusGoesWithoutOne) {
    QTemporaryDir runtime;
    const EnvironmentValue address("DBUS_SESSION_BUS_ADDRESS", QByteArray());
    const EnvironmentValue folder("XDG_RUNTIME_DIR", runtime.path().toUtf8());

    const QDBusConnection bus = host::sessionBus();
    EXPECT_FALSE(bus.isConnected());
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
}

} // namespace
