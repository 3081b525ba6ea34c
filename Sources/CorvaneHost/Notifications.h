#pragma once

#include <QString>
#include <functional>

namespace host {

// One notice to show at once (no trigger).
struct NotificationRequest {
    QString identifier; // unique per notice (a fresh UUID string)
    QString title;
    QString body;
    bool operator==(const NotificationRequest&) const = default;
};

// The user-notification centre of this program: asks whether notices may be shown, shows them, and tells the
// program when the user answers one.
class Notifications {
public:
    // The action of a notice that the user clicked (as opposed to dismissing it).
    static inline const QString defaultActionIdentifier = QStringLiteral("default");
    static inline const QString dismissActionIdentifier = QStringLiteral("dismiss");

    using AuthorizationCompletion = std::function<void(bool granted)>;
    // (notice identifier, action identifier)
    using ResponseHandler = std::function<void(const QString& identifier, const QString& actionIdentifier)>;

    virtual ~Notifications() = default;
    // Asks for permission to show alerts; the completion runs on the main queue with the answer.
    virtual void requestAuthorization(AuthorizationCompletion completion) = 0;
    // Shows the notice now. Failures are dropped without a trace, as the platform does.
    virtual void add(const NotificationRequest& request) = 0;
    // Where the user's answers to this program's notices go (on the main queue). Replaces the previous
    // handler.
    virtual void setResponseHandler(ResponseHandler handler) = 0;
};

Notifications& notifications();

} // namespace host
