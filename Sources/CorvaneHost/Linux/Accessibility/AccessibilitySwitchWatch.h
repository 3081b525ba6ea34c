#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <optional>

namespace host {

// The desktop's accessibility switch as the bus service last announced it. The service announces every change
// of the switch (PropertiesChanged of org.a11y.Status), so a program that asks often (the helper checks its
// trust every 2 s) asks the service only once, and again only after the service itself changed hands or this
// program set the switch.
//
// Kept only on the main thread of a program with an event loop, where the announcements arrive; elsewhere
// every question goes to the service.
class AccessibilitySwitchWatch final : public QObject {
    Q_OBJECT
public:
    AccessibilitySwitchWatch();

    bool isOn();
    // This program set the switch: every watch asks the service again (the announcement comes later).
    static void switchSetHere() { ++setHere; }

private slots:
    void propertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                           const QStringList& invalidated);
    void serviceChangedHands() { known_.reset(); }

private:
    bool kept() const;

    static inline std::atomic<quint64> setHere = 0;

    bool watching_ = false;
    std::optional<bool> known_;
    quint64 knownAfter_ = 0; // how often this program had set the switch when `known_` was learnt
};

} // namespace host
