// CorvaneHandOff: what the desktop runs for a link that a bundle of ours opens (its desktop entry's Exec).
// Hands the links, as they were written, to the bundle's running program and ends; starts that program
// (detached) only when none listens. Callers such as xdg-open wait for it, so it starts no libraries of the
// program itself.
#include "CorvaneHandOff/HandOff.h"

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
    const std::string events =
        host::wire::encode(handoff::eventsFor(arguments, static_cast<std::int32_t>(::getppid())));
    if (const auto socket = host::wire::usualEventSocketPath(bundle->identifier);
        socket && handoff::deliver(*socket, events + "\n"))
        return 0;
    const std::string program = bundle->path + "/Contents/MacOS/" + bundle->executable;
    if (!handoff::startDetached(program, events)) {
        std::fprintf(stderr, "CorvaneHandOff: could not start %s\n", program.c_str());
        return 1;
    }
    return 0;
}
