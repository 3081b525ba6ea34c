#pragma once

#include <QDBusConnection>

namespace host {

// The session bus, as every service of the host reaches it; not connected where the program has none.
//
// Where the environment names no bus and the runtime folder holds none, libdbus would start one of its own
// (dbus-launch): a bus nobody else listens on, left running, and a buffer libdbus loses when that fails. The
// program goes without instead.
//
// Qt reads and dispatches its D-Bus connections on a thread of its own, where only Qt and libdbus run (what
// is meant for our objects is handed to their threads), and keeps blocks there that it never frees when the
// program ends. What that thread allocates is left out of the leak check, once, before anything of ours is
// sent on the bus; code of ours run there checks its own allocations again (OwnAllocations).
QDBusConnection sessionBus();

} // namespace host
