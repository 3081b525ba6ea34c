// The events other programs send over a program's event socket and in its start environment. The reader
// answers a list or none; a list it takes is written again as one line and read back unchanged.

#include "FuzzSupport.h"

#include "CorvaneHost/Linux/Processes/EventWire.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::vector<host::wire::Event>> events = host::wire::decode(text);
    if (!events)
        return 0;
    const std::string again = host::wire::encode(*events);
    fuzz::require(again.find('\n') == std::string::npos, "encoded events are one line");
    fuzz::require(host::wire::decode(again) == events, "decoded events read back unchanged");
    return 0;
}
