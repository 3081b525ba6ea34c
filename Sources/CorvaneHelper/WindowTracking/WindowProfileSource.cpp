#include "CorvaneHelper/WindowTracking/WindowProfileSource.h"

#include "CorvaneCore/ProxyApps/ChromeWindows.h"
#include "CorvaneHelper/WindowTracking/AXProfileSource.h"
#include "CorvaneHost/Services.h"

#include <QHashFunctions>

QString canonicalName(const QString& name) {
    return name.normalized(QString::NormalizationForm_C);
}

bool sameName(const QString& a, const QString& b) {
    return a == b || canonicalName(a) == canonicalName(b);
}

bool WatchScope::operator==(const WatchScope& other) const {
    return sameName(profileDirectory, other.profileDirectory) &&
           tabGroup.has_value() == other.tabGroup.has_value() &&
           (!tabGroup || sameName(*tabGroup, *other.tabGroup)) &&
           includeIncognito == other.includeIncognito && countAppWindows == other.countAppWindows &&
           ownWindow == other.ownWindow;
}

size_t qHash(const WatchScope& scope, size_t seed) noexcept {
    return qHashMulti(seed, canonicalName(scope.profileDirectory), scope.tabGroup.has_value(),
                      canonicalName(scope.tabGroup.value_or(QString())), scope.includeIncognito,
                      scope.countAppWindows, scope.ownWindow);
}

bool NullProfileSource::isChromeRunning() const {
    return ChromeWindows::isChromeRunning();
}

ProfileWindowReport NullProfileSource::report(const WatchScope&) {
    if (!isChromeRunning())
        return {0, CountConfidence::certain, false};
    return {0, CountConfidence::unclassified, true};
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
    if (host::accessibility().isAvailable())
        return std::make_shared<AXProfileSource>();
    return std::make_shared<NullProfileSource>();
}
