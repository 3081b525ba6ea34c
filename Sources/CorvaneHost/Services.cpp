#include "CorvaneHost/Services.h"

namespace host {

Services& services() {
    static Services instance;
    return instance;
}

std::mutex& servicesMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace host
