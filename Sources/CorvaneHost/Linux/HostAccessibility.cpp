#include "CorvaneHost/Linux/HostAccessibility.h"

#include "CorvaneHost/Services.h"

namespace host {

Accessibility& accessibility() {
    return ensureService(services().accessibility, [] { return std::make_shared<HostAccessibility>(); });
}

} // namespace host
