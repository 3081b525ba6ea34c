#include "CorvaneHost/Linux/UnavailableNotifications.h"

#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

namespace host {

void UnavailableNotifications::requestAuthorization(AuthorizationCompletion completion) {
    mainQueue().async([completion = std::move(completion)] { completion(false); });
}

Notifications& notifications() {
    return ensureService(services().notifications,
                         [] { return std::make_shared<UnavailableNotifications>(); });
}

} // namespace host
