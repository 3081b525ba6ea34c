#include "CorvaneHost/Linux/DBus/DBusNotifications.h"

#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/Linux/Bus/SessionBus.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>

namespace host {
namespace {

const QString interfaceName = QStringLiteral("org.freedesktop.Notifications");
constexpr uint closedByUser = 2; // the reason the service gives when the user dismissed a notice

QString mainApplicationName() {
    const QString bundlePath = Bundle::main().bundlePath();
    if (!bundlePath.isEmpty())
        return QFileInfo(bundlePath).completeBaseName();
    return QCoreApplication::applicationName();
}

} // namespace

Notifications& notifications() {
    return ensureService(services().notifications, [] {
        return std::make_shared<DBusNotifications>(sessionBus(), mainApplicationName());
    });
}

DBusNotifications::DBusNotifications(const QDBusConnection& bus, const QString& applicationName)
    : busName_(bus.name())
    , applicationName_(applicationName) {
    // From whichever connection owns the service name now.
    QDBusConnection connection(bus);
    connection.connect(QString(), path, interfaceName, QStringLiteral("ActionInvoked"), this,
                       SLOT(actionInvoked(uint, QString)));
    connection.connect(QString(), path, interfaceName, QStringLiteral("NotificationClosed"), this,
                       SLOT(notificationClosed(uint, uint)));
}

QVariantList DBusNotifications::notifyArguments(const NotificationRequest& request,
                                                const QString& applicationName) {
    return {applicationName,
            0u,        // replaces no earlier notice
            QString(), // no icon of its own
            request.title,
            request.body,
            QStringList{defaultActionIdentifier, QStringLiteral("Open")},
            QVariantMap{},
            -1}; // the service's own time-out
}

QDBusConnection DBusNotifications::bus() const {
    return QDBusConnection(busName_);
}

void DBusNotifications::requestAuthorization(AuthorizationCompletion completion) {
    const auto answer = [completion = std::move(completion)](bool granted) {
        mainQueue().async([completion, granted] { completion(granted); });
    };
    const QDBusConnection connection = bus();
    if (!connection.isConnected()) {
        answer(false);
        return;
    }
    const QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interfaceName, QStringLiteral("GetServerInformation"));
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [answer](QDBusPendingCallWatcher* finished) {
        answer(!finished->isError());
        finished->deleteLater();
    });
}

void DBusNotifications::add(const NotificationRequest& request) {
    const QDBusConnection connection = bus();
    if (!connection.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interfaceName, QStringLiteral("Notify"));
    call.setArguments(notifyArguments(request, applicationName_));
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, identifier = request.identifier](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                if (!reply.isError())
                    identifiers_.insert(reply.value(), identifier);
                finished->deleteLater();
            });
}

void DBusNotifications::setResponseHandler(ResponseHandler handler) {
    handler_ = std::move(handler);
}

void DBusNotifications::actionInvoked(uint serviceIdentifier, const QString& actionKey) {
    respond(serviceIdentifier, actionKey);
    // Answered: the closing that follows is no dismissal.
    identifiers_.remove(serviceIdentifier);
}

void DBusNotifications::notificationClosed(uint serviceIdentifier, uint reason) {
    if (reason == closedByUser)
        respond(serviceIdentifier, dismissActionIdentifier);
    identifiers_.remove(serviceIdentifier);
}

void DBusNotifications::respond(uint serviceIdentifier, const QString& actionIdentifier) {
    // Only this program's own notices: the service tells every listener of every program's answers.
    const auto it = identifiers_.constFind(serviceIdentifier);
    if (it == identifiers_.constEnd() || !handler_)
        return;
    const QString identifier = *it;
    mainQueue().async(
        [handler = handler_, identifier, actionIdentifier] { handler(identifier, actionIdentifier); });
}

} // namespace host
