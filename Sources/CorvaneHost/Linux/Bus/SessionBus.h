#pragma once

#include <QDBusConnection>

namespace host {

// The session bus, as every service of the host reaches it; not connected where the program has none.
//
// Where the environment names no bus and the runtime folder holds none, libdbus would start one of its own
// (dbus-launch): a bus nobody else listens on, left running, and a buffer libdbus loses when that fails. The
// program goes without instead.
QDBusConnection sessionBus();

} // namespace host
