// "recent-links.json", the history of routed links shared by the programs: a store loads it (an unreadable
// file as an empty history), and every entry it holds is written and read back unchanged and can be shown.

#include "FuzzSupport.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/RecentLinks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::useScratchHome();
    static const QString path = Corvane::recentLinksURL();
    fuzz::writeFile(path, fuzz::bytes(data, size));
    const RecentLinksStore store;
    for (const RecentLink& link : store.links()) {
        fuzz::require(RecentLink::fromJson(link.toJson()) == link,
                      "an entry is written and read back unchanged");
        (void)link.displayHost();
        (void)link.displayPath();
    }
    return 0;
}
