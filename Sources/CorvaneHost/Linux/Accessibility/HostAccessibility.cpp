#include "CorvaneHost/Linux/Accessibility/HostAccessibility.h"

#include "CorvaneHost/Linux/Accessibility/AtspiAccessibility.h"
#include "CorvaneHost/Services.h"

namespace host {

Accessibility& accessibility() {
    return ensureService(services().accessibility, []() -> std::shared_ptr<Accessibility> {
        if (AtspiAccessibility::busAnswers())
            return std::make_shared<AtspiAccessibility>();
        return std::make_shared<HostAccessibility>();
    });
}

} // namespace host
