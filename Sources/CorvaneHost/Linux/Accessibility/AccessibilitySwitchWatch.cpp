#include "CorvaneHost/Linux/Accessibility/AccessibilitySwitchWatch.h"

#include "CorvaneHost/Linux/Accessibility/AtspiAccessibility.h"
#include "CorvaneHost/Linux/Bus/SessionBus.h"

#include <QCoreApplication>
#include <QDBusServiceWatcher>
#include <QThread>

namespace host {
namespace {

const QString busService = QStringLiteral("org.a11y.Bus");
const QString statusInterface = QStringLiteral("org.a11y.Status");
const QString enabledProperty = QStringLiteral("IsEnabled");

} // namespace

AccessibilitySwitchWatch::AccessibilitySwitchWatch() {
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected() || !QCoreApplication::instance() ||
        QThread::currentThread() != QCoreApplication::instance()->thread())
        return;
    auto* owner = new QDBusServiceWatcher(busService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(owner, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &AccessibilitySwitchWatch::serviceChangedHands);
    watching_ =
        bus.connect(busService, QStringLiteral("/org/a11y/bus"),
                    QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
                    this, SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
}

bool AccessibilitySwitchWatch::kept() const {
    return watching_ && QThread::currentThread() == thread();
}

bool AccessibilitySwitchWatch::isOn() {
    if (known_ && knownAfter_ == setHere && kept())
        return *known_;
    knownAfter_ = setHere;
    const bool on = AtspiAccessibility::accessibilitySwitch();
    if (kept())
        known_ = on;
    return on;
}

void AccessibilitySwitchWatch::propertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                                                 const QStringList& invalidated) {
    if (interfaceName != statusInterface)
        return;
    if (changed.contains(enabledProperty) && knownAfter_ == setHere)
        known_ = changed.value(enabledProperty).toBool();
    else if (invalidated.contains(enabledProperty))
        known_.reset();
}

} // namespace host
