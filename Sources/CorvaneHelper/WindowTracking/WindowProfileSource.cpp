#include "CorvaneHelper/WindowTracking/WindowProfileSource.h"

#include <QHashFunctions>

size_t qHash(const WatchScope& scope, size_t seed) noexcept {
    return qHashMulti(seed, scope.profileDirectory, scope.tabGroup.has_value(),
                      scope.tabGroup.value_or(QString()), scope.includeIncognito, scope.countAppWindows,
                      scope.ownWindow);
}

QString toString(RaiseOutcome outcome) {
    switch (outcome) {
    case RaiseOutcome::raised:
        return QStringLiteral("raised");
    case RaiseOutcome::openedGroup:
        return QStringLiteral("openedGroup");
    case RaiseOutcome::noWindows:
        return QStringLiteral("noWindows");
    case RaiseOutcome::groupNotFound:
        return QStringLiteral("groupNotFound");
    }
    return {};
}

std::shared_ptr<WindowProfileSource> makeWindowProfileSource() {
    return std::make_shared<NullProfileSource>();
}
