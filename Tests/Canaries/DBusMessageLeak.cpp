// Loses a D-Bus message that our own code made while libdbus dispatched a message to it, as an accessibility
// event handler would: the leak check must report it under the project's suppressions, where a suppression of
// libdbus would hide it behind libdbus's frames. Runs on a session bus of its own (dbus-run-session).
#include <dbus/dbus.h>

#include <cstdio>

namespace {

constexpr const char* kInterface = "app.corvane.Canary";
constexpr const char* kPath = "/app/corvane/Canary";

DBusMessage* volatile kept = nullptr;
bool handled = false;

DBusHandlerResult onMessage(DBusConnection*, DBusMessage* message, void*) {
    if (dbus_message_is_signal(message, kInterface, "Ping")) {
        kept = dbus_message_new_signal(kPath, kInterface, "Pong");
        kept = nullptr;
        handled = true;
    }
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

} // namespace

int main() {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!bus) {
        std::fprintf(stderr, "no session bus: %s\n", error.message);
        dbus_error_free(&error);
        return 2;
    }
    dbus_connection_set_exit_on_disconnect(bus, false);
    dbus_bus_add_match(bus, "type='signal',interface='app.corvane.Canary'", &error);
    dbus_connection_add_filter(bus, onMessage, nullptr, nullptr);
    DBusMessage* ping = dbus_message_new_signal(kPath, kInterface, "Ping");
    dbus_connection_send(bus, ping, nullptr);
    dbus_message_unref(ping);
    for (int round = 0; !handled && round < 50 && dbus_connection_read_write_dispatch(bus, 100); ++round) {
    }
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    dbus_error_free(&error);
    dbus_shutdown();
    if (!handled) {
        std::fprintf(stderr, "the ping never came back\n");
        return 3;
    }
    return 0;
}
