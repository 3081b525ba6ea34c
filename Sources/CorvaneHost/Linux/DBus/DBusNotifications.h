#pragma once

#include "CorvaneHost/Notifications.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QVariantList>

namespace host {

// Notices through the desktop's notification service (org.freedesktop.Notifications on the session bus).
// Notices may be shown when the service answers; a click on a notice is its default action.
class DBusNotifications final : public QObject, public Notifications {
    Q_OBJECT
public:
    static inline const QString service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString path = QStringLiteral("/org/freedesktop/Notifications");

    // `applicationName` is the name the service shows as the sender of the notices.
    DBusNotifications(const QDBusConnection& bus, const QString& applicationName);

    void requestAuthorization(AuthorizationCompletion completion) override;
    void add(const NotificationRequest& request) override;
    void setResponseHandler(ResponseHandler handler) override;

    // The arguments of the service's Notify call for a notice: shown at once, kept until the user answers
    // (the service's own time-out), with the default action (a click on the notice).
    static QVariantList notifyArguments(const NotificationRequest& request, const QString& applicationName);

private slots:
    void actionInvoked(uint serviceIdentifier, const QString& actionKey);
    void notificationClosed(uint serviceIdentifier, uint reason);

private:
    void respond(uint serviceIdentifier, const QString& actionIdentifier);
    QDBusConnection bus() const;

    // The connection is looked up by its name at each use, not kept: Qt closes its connections when the
    // program's statics go, and one still held then (by this service, which lives as long) is never freed.
    QString busName_;
    QString applicationName_;
    QHash<uint, QString> identifiers_; // the service's number of a notice -> the notice's identifier
    ResponseHandler handler_;
};

} // namespace host
