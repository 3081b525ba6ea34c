#include "CorvaneStub/StubNotices.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/StubRevision.h"
#include "CorvaneHost/Notifications.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "CorvaneStub/StubAppDelegate.h"

#include <QUuid>

namespace StubNotices {
namespace {

const QString openQuote = QStringLiteral("\u201C");
const QString closeQuote = QStringLiteral("\u201D");

QString groupNoLongerOffered(const QString& groupName) {
    return QStringLiteral("Chrome no longer offers a tab group called ") + openQuote + groupName +
           closeQuote +
           QStringLiteral(" \u2014 it may have been renamed, or closed without having been saved.");
}

} // namespace

Notice outdated(const QString& displayName, const QStringList& improvements) {
    const QString text =
        improvements.isEmpty() ? StubRevision::genericAdvice : improvements.join(QLatin1Char(' '));
    return {displayName + QStringLiteral(" can be updated"),
            text + QStringLiteral(" Open Corvane and press Update.")};
}

Notice groupMissing(const QString& displayName, const QString& profileName, const QString& groupName,
                    bool openedInstead) {
    const QString title = openQuote + groupName + closeQuote + QStringLiteral(" isn't open");
    if (!openedInstead)
        return {title, groupNoLongerOffered(groupName)};
    return {title, displayName + QStringLiteral(" opened ") + profileName + QStringLiteral(" instead. ") +
                       groupNoLongerOffered(groupName)};
}

Notice accessibility(const QString& displayName, const QString& profileName,
                     const std::optional<QString>& groupName) {
    const QString body =
        groupName
            ? QStringLiteral("Grant Accessibility to Corvane Helper in System Settings > Privacy & Security. "
                             "Until then this app can only open ") +
                  profileName + QStringLiteral(", not its ") + openQuote + *groupName + closeQuote +
                  QStringLiteral(" tab group.")
            : QStringLiteral("Grant Accessibility to Corvane Helper in System Settings > Privacy & Security "
                             "to raise existing windows instead of opening new ones.");
    return {displayName + QStringLiteral(" can't see Chrome's windows"), body};
}

} // namespace StubNotices

void StubNotificationHandler::didReceive(const QString&, const QString& actionIdentifier) const {
    if (actionIdentifier != host::Notifications::defaultActionIdentifier)
        return;
    const auto creator = host::workspace().urlForApplication(Corvane::creatorBundleID);
    if (!creator) {
        Log::stub.log(QStringLiteral("notification tapped, but Corvane isn't installed anywhere findable"));
        return;
    }
    host::OpenConfiguration configuration;
    configuration.activates = true;
    host::workspace().openApplication(
        *creator, configuration,
        [](std::optional<host::RunningApplication>, std::optional<host::SystemError>) {});
}

// The delegate's notices.

void StubAppDelegate::notify(const QString& title, const QString& body) {
    host::notifications().requestAuthorization([title, body](bool granted) {
        if (!granted)
            return; // dropped without a trace, as the platform does
        host::notifications().add(
            {QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), title, body});
    });
}

void StubAppDelegate::warnOutdated(const QStringList& improvements) {
    const StubNotices::Notice notice = StubNotices::outdated(displayName(), improvements);
    Log::stub.log(QStringLiteral("this app is out of date; telling the user"));
    notify(notice.title, notice.body);
}

void StubAppDelegate::warnGroupMissing(bool openedInstead) {
    if (!config.tabGroupName)
        return;
    // Shared by every proxy app of the user: the key names no app.
    if (!WarnThrottle::shouldWarn(StubNotices::groupMissingKey, StubNotices::groupMissingInterval))
        return;
    const StubNotices::Notice notice =
        StubNotices::groupMissing(displayName(), config.profileName, *config.tabGroupName, openedInstead);
    notify(notice.title, notice.body);
}

void StubAppDelegate::warnAboutAccessibility() {
    if (!WarnThrottle::shouldWarn(StubNotices::accessibilityKey, StubNotices::accessibilityInterval))
        return;
    const StubNotices::Notice notice =
        StubNotices::accessibility(displayName(), config.profileName, config.tabGroupName);
    notify(notice.title, notice.body);
}
