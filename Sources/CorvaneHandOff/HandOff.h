#pragma once

// What the desktop's hand-off program does: the links it is started with go to the running program of its
// bundle as events, in the host's wire format, or that program is started with them. It neither reads nor
// changes a link: the receiver parses every link it is handed, whichever way it came.

#include "CorvaneHost/Linux/Processes/EventWire.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace handoff {

// The application bundle a program lies in (its executable in "<bundle>/Contents/MacOS/"), as its
// Info.plist names it.
struct BundleInfo {
    std::string path;
    std::string identifier;
    std::string executable;
};

// The bundle of the running executable; none when it lies in no bundle or its Info.plist names no
// identifier and executable.
std::optional<BundleInfo> ownBundle();

// The events for the arguments, as the desktop hands them on: an absolute path is a file, and so is a
// relative path of an existing file, made absolute against the working folder (the sender's: xdg-open hands
// such a path on as it was given); all files go in one open-documents event, last. Anything else is a link
// whose text goes on as it is. No arguments: the program was opened again (the reopen event).
std::vector<host::wire::Event> eventsFor(const std::vector<std::string>& arguments, std::int32_t sender);

// Starts `program` in a session of its own, away from the caller's terminal and pipes, with the events in
// its environment, default signals and no descriptor of the caller's. Its pid; 0 when it could not be
// started.
pid_t startDetached(const std::string& program, const std::string& events);

} // namespace handoff
