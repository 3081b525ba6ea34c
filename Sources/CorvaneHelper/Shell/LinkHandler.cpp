#include "CorvaneHelper/Shell/LinkHandler.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/BrowserCatalog.h"
#include "CorvaneCore/Routing/LinkRouter.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHelper/Shell/PrivateWindowOpener.h"
#include "CorvaneHost/Application.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

namespace {

std::optional<QString> bundleIdentifierOf(const std::optional<host::RunningApplication>& application) {
    if (!application || application->bundleIdentifier.isEmpty())
        return std::nullopt;
    return application->bundleIdentifier;
}

QString standardizedPath(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The texts an open goes on with (OpenConfiguration::writtenLinks): a file has none.
QStringList writtenLinksOf(const QUrl& url, const QString& written) {
    return url.isLocalFile() ? QStringList{} : QStringList{written};
}

} // namespace

LinkHandler::LinkHandler()
    : LinkHandler(RuleStore::shared(), RecentLinksStore::shared()) {}

LinkHandler::LinkHandler(RuleStore& rules, RecentLinksStore& history)
    : rules_(rules)
    , history_(history) {}

QString LinkHandler::absoluteString(const QUrl& url) {
    return url.toString(QUrl::FullyEncoded);
}

void LinkHandler::install() {
    std::weak_ptr<LinkHandler> weak = weak_from_this();
    host::application().setEventHandler(host::kURLEventClass, host::kURLEventID,
                                        [weak](const host::AppleEvent& event) {
                                            if (auto self = weak.lock())
                                                self->handleGetURL(event);
                                        });
    Log::helper.log(QStringLiteral("registered as a URL handler"));
}

void LinkHandler::handleGetURL(const host::AppleEvent& event) {
    // Only an absolute URL with a scheme goes on: any other text (a relative reference, something that reads
    // like a command-line switch) is never handed to an application.
    const std::optional<QUrl> url = event.directObject ? host::parseLink(*event.directObject) : std::nullopt;
    if (!url) {
        // Logged with its text, so a link that never opened can still be found.
        Log::helper.error(
            event.directObject
                ? QStringLiteral("a GURL event carried no usable URL: \"%1\"").arg(*event.directObject)
                : QStringLiteral("a GURL event carried no usable URL"));
        return;
    }
    route(*url, *event.directObject, sender(event));
}

std::optional<host::RunningApplication> LinkHandler::sender(const host::AppleEvent& event) {
    auto& workspace = host::workspace();
    if (event.senderPID) {
        if (auto application = workspace.runningApplication(*event.senderPID);
            application && application->bundleIdentifier != Corvane::helperBundleID)
            return application;
    }
    if (auto frontmost = workspace.frontmostApplication();
        frontmost && frontmost->bundleIdentifier != Corvane::helperBundleID)
        return frontmost;
    return std::nullopt;
}

void LinkHandler::route(const QUrl& url, const std::optional<host::RunningApplication>& source) {
    route(url, absoluteString(url), source);
}

void LinkHandler::route(const QUrl& url, const QString& written,
                        const std::optional<host::RunningApplication>& source) {
    rules_.reloadIfChanged();
    const RuleSet set = rules_.set();
    const std::optional<QString> sourceID = bundleIdentifierOf(source);
    const RouteDecision decision = LinkRouter::decide(url, sourceID, set, written);
    const QString& link = written;

    std::optional<QString> chosenApp;
    std::optional<RouteTarget> chosenTarget;
    auto consider = [&](const std::optional<RouteTarget>& target) {
        if (chosenApp || !target)
            return;
        if (auto app = BrowserCatalog::resolve(*target)) {
            chosenApp = app;
            chosenTarget = target;
        }
    };

    bool ruleTargetMissing = false;
    consider(decision.target);
    if (decision.target && !chosenApp) {
        Log::helper.error(
            QStringLiteral("rule “%1” points at %2, which is not installed; falling through")
                .arg(decision.rule ? decision.rule->name : QStringLiteral("?"), decision.target->bundleID()));
        ruleTargetMissing = true;
    }
    if (url.isLocalFile())
        consider(set.localFileTarget);
    consider(set.fallback);
    if (!chosenApp)
        chosenApp = BrowserCatalog::lastResort(set);

    const QString sourceText = sourceID.value_or(QStringLiteral("unknown"));
    const QString ruleText = decision.rule ? decision.rule->name : QStringLiteral("fallback");

    auto recordLink = [&](bool targetWasMissing) {
        if (!set.recordsHistory)
            return;
        RecentLink entry;
        entry.id = QUuid::createUuid();
        entry.date = host::clock().now();
        entry.url = link;
        entry.sourceBundleID = sourceID;
        if (source && !source->localizedName.isEmpty())
            entry.sourceName = source->localizedName;
        if (chosenApp) {
            if (auto info = host::workspace().bundleInfo(*chosenApp)) {
                const QString identifier = info->value(QStringLiteral("CFBundleIdentifier")).toString();
                if (!identifier.isEmpty())
                    entry.targetBundleID = identifier;
            }
            entry.targetName = host::workspace().displayName(*chosenApp);
        }
        if (decision.rule) {
            entry.ruleID = decision.rule->id;
            entry.ruleName = decision.rule->name;
        }
        entry.targetWasMissing = targetWasMissing;
        try {
            history_.record(entry);
        } catch (const std::exception&) {
            // A history that cannot be kept must not take the helper down with the link already on its way;
            // nothing was recorded, so nobody is told of a change.
            return;
        }
        if (onHistoryRecorded)
            onHistoryRecorded();
    };

    if (!chosenApp) {
        Log::helper.error(QStringLiteral("no application available to open %1").arg(link));
        recordLink(true);
        return;
    }

    if (chosenTarget && chosenTarget->kind() == RouteTarget::Kind::browser && chosenTarget->isPrivate()) {
        try {
            PrivateWindowOpener::open(link, chosenTarget->bundleID());
            Log::helper.info(QStringLiteral("routed %1 from %2 to a private window of %3 via %4")
                                 .arg(link, sourceText, chosenTarget->bundleID(), ruleText));
            recordLink(ruleTargetMissing);
            return;
        } catch (const PrivateWindowOpener::Failure& failure) {
            Log::helper.error(
                QStringLiteral("could not open %1 privately in %2: %3 — opening normally instead")
                    .arg(link, chosenTarget->bundleID(), failure.description()));
        }
    }

    host::OpenConfiguration configuration;
    configuration.activates = true;
    configuration.addsToRecentItems = false;
    // The browser gets the link as it was written, not the parsed URL's re-encoded form.
    configuration.writtenLinks = writtenLinksOf(url, link);
    const QString app = *chosenApp;
    const QString appFileName = QFileInfo(app).fileName();
    std::weak_ptr<LinkHandler> weak = weak_from_this();
    host::workspace().open(
        {url}, app, configuration,
        [weak, url, set, app, appFileName, link](std::optional<host::RunningApplication>,
                                                 std::optional<host::SystemError> error) {
            if (!error)
                return;
            Log::helper.error(
                QStringLiteral("could not open %1 in %2: %3").arg(link, appFileName, error->description()));
            host::mainQueue().async([weak, url, link, set, app] {
                if (auto self = weak.lock())
                    self->openAsLastResort(url, link, set, app);
            });
        });
    Log::helper.info(
        QStringLiteral("routed %1 from %2 to %3 via %4").arg(link, sourceText, appFileName, ruleText));
    recordLink(ruleTargetMissing);
}

void LinkHandler::openAsLastResort(const QUrl& url, const QString& written, const RuleSet& set,
                                   const QString& avoiding) {
    const std::optional<QString> lastResort = BrowserCatalog::lastResort(set);
    if (!lastResort)
        return;
    // The same application is never tried twice.
    if (standardizedPath(*lastResort) == standardizedPath(avoiding))
        return;
    host::OpenConfiguration configuration;
    configuration.activates = true;
    configuration.writtenLinks = writtenLinksOf(url, written);
    // Nothing is logged or recorded for the retry.
    host::workspace().open({url}, *lastResort, configuration,
                           [](std::optional<host::RunningApplication>, std::optional<host::SystemError>) {});
}
