// CorvaneHandOff: what the desktop runs for a link that a bundle of ours opens (its desktop entry's Exec).
// Hands the links, as they were written, to the bundle's running program and ends once that program has
// handed them on; starts that program (detached) only when none takes them, and then stays until it has
// them. Callers such as xdg-open wait for it, so it starts no libraries of the program itself.
#include "CorvaneHandOff/HandOff.h"
#include "CorvaneHost/Linux/Processes/EventHandOver.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    const auto bundle = handoff::ownBundle();
    if (!bundle) {
        std::fprintf(stderr, "CorvaneHandOff: not inside an application bundle with an identifier\n");
        return 1;
    }
    // The program that opened the links is the one that ran this one.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // One mark for every road the links take, so that the program hands them on once however many reach it.
    const std::string events = host::wire::encode(
        handoff::eventsFor(arguments, static_cast<std::int32_t>(::getppid())), host::wire::newDeliveryID());
    const std::string line = events + "\n";
    const auto socket = host::wire::usualEventSocketPath(bundle->identifier);
    if (socket && host::wire::taken(host::wire::handOver(*socket, line)))
        return 0;
    const std::string program = bundle->path + "/Contents/MacOS/" + bundle->executable;
    const pid_t started = handoff::startDetached(program, events);
    if (started <= 0) {
        std::fprintf(stderr, "CorvaneHandOff: could not start %s\n", program.c_str());
        return 1;
    }
    // Where the socket lies elsewhere the program takes the links from its environment alone.
    if (!socket)
        return 0;
    // The bundle's program always listens: one that ended before it did was ended before it took the links.
    if (!host::wire::confirmStart(*socket, line, started,
                                  [&] { return handoff::startDetached(program, events); })) {
        std::fprintf(stderr, "CorvaneHandOff: %s did not take the links\n", program.c_str());
        return 1;
    }
    return 0;
}
