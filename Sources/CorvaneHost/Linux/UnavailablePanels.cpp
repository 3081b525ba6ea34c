#include "CorvaneHost/Linux/UnavailablePanels.h"

#include "CorvaneHost/Services.h"

namespace host {

Panels& panels() {
    return ensureService(services().panels, [] { return std::make_shared<UnavailablePanels>(); });
}

} // namespace host
