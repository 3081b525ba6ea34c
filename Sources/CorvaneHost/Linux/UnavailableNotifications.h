#pragma once

#include "CorvaneHost/Notifications.h"

namespace host {

// No notification service: notices are never authorised, so none is shown.
class UnavailableNotifications final : public Notifications {
public:
    void requestAuthorization(AuthorizationCompletion completion) override;
    void add(const NotificationRequest&) override {}
    void setResponseHandler(ResponseHandler) override {}
};

} // namespace host
