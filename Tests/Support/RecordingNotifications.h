#pragma once

#include "CorvaneHost/Notifications.h"

#include <vector>

namespace test {

// Answers authorisation as told (on the main queue) and keeps every notice shown; `respond` plays a user's
// answer.
class RecordingNotifications final : public host::Notifications {
public:
    void requestAuthorization(AuthorizationCompletion completion) override;
    void add(const host::NotificationRequest& request) override { shown.push_back(request); }
    void setResponseHandler(ResponseHandler handler) override { handler_ = std::move(handler); }

    void respond(const QString& identifier, const QString& actionIdentifier);

    bool authorized = true;
    int authorizationRequests = 0;
    std::vector<host::NotificationRequest> shown;

private:
    ResponseHandler handler_;
};

} // namespace test
