#include "Support/RecordingNotifications.h"

#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

namespace test {

void RecordingNotifications::requestAuthorization(AuthorizationCompletion completion) {
    ++authorizationRequests;
    host::mainQueue().async(
        [completion = std::move(completion), granted = authorized] { completion(granted); });
}

void RecordingNotifications::respond(const QString& identifier, const QString& actionIdentifier) {
    if (handler_)
        handler_(identifier, actionIdentifier);
}

} // namespace test
