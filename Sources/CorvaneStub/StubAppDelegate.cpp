#include "CorvaneStub/StubAppDelegate.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/ProxyApps/StubRevision.h"
#include "CorvaneHost/Application.h"
#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Notifications.h"
#include "CorvaneHost/Services.h"
#include "CorvaneStub/ChromeLauncher.h"
#include "CorvaneStub/MenuBuilder.h"

#include <algorithm>
#include <climits>
#include <unistd.h>
#include <utility>

QString StubAppDelegate::rawValue(Liveness liveness) {
    switch (liveness) {
    case Liveness::starting:
        return QStringLiteral("starting");
    case Liveness::watching:
        return QStringLiteral("watching");
    case Liveness::draining:
        return QStringLiteral("draining");
    }
    return {};
}

StubConfig StubAppDelegate::fallbackConfig() {
    return StubConfig(QStringLiteral("Default"), QStringLiteral("Default"), std::nullopt, true, false, true,
                      false, QStringLiteral("globe"), QStringLiteral("#1F2124"),
                      StubConfig::SymbolStyle::Auto, StubConfig::IconStyle::Segments);
}

std::shared_ptr<StubAppDelegate> StubAppDelegate::fromBundle(const host::Bundle& bundle) {
    return std::make_shared<StubAppDelegate>(StubConfig::load(bundle).value_or(fallbackConfig()),
                                             bundle.infoDictionary(), bundle.bundlePath());
}

StubAppDelegate::StubAppDelegate(StubConfig config, std::optional<QVariantMap> info, QString bundlePath,
                                 std::shared_ptr<HelperLink> link)
    : config(std::move(config))
    , info(std::move(info))
    , bundlePath(std::move(bundlePath))
    , link(std::move(link)) {}

StubAppDelegate::~StubAppDelegate() {
    for (const auto& timer : {drainTimer, graceTimer, helperWaitTimer, groupRetryTimer})
        if (timer)
            timer->cancel();
}

QString StubAppDelegate::displayName() const {
    if (info) {
        for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
            const QVariant value = info->value(QString::fromLatin1(key));
            if (value.typeId() == QMetaType::QString)
                return value.toString();
        }
    }
    return QStringLiteral("Corvane App");
}

bool StubAppDelegate::isConnected() const {
    return link->state() == HelperLink::State::connected;
}

void StubAppDelegate::applicationWillFinishLaunching() {
    MenuBuilder::Actions actions;
    actions.openNewWindow = weakly([](StubAppDelegate& self) { self.openNewWindow(); });
    actions.bringToFront = weakly([](StubAppDelegate& self) { self.bringToFront(); });
    MenuBuilder::install(displayName(), actions, info.value_or(QVariantMap{}),
                         MenuBuilder::iconPath(bundlePath, info));
}

Request StubAppDelegate::helloRequest() const {
    Request hello(0, Request::Op::hello);
    hello.profileDirectory = config.profileDirectory;
    hello.profileName = config.profileName;
    hello.tabGroup = config.tabGroupName;
    if (info) {
        const QString identifier = info->value(QStringLiteral("CFBundleIdentifier")).toString();
        if (!identifier.isEmpty())
            hello.bundleID = identifier;
    }
    hello.pid = qint32(::getpid());
    hello.includeIncognito = config.includeIncognito;
    hello.countAppWindows = config.countAppWindows;
    hello.ownWindow = config.ownWindow;
    if (const auto revision = StubRevision::revision(info.value_or(QVariantMap{})))
        hello.stubRevision = *revision;
    return hello;
}

void StubAppDelegate::applicationDidFinishLaunching() {
    Log::stub.info(QStringLiteral("%1 starting for %2").arg(displayName(), config.profileDirectory));
    link->onEvent = weakly([](StubAppDelegate& self, const Event& event) { self.handle(event); });
    link->onStateChange =
        weakly([](StubAppDelegate& self, HelperLink::State state) { self.handleLinkState(state); });
    link->connect(helloRequest());
    host::notifications().setResponseHandler(
        [handler = notificationHandler](const QString& identifier, const QString& action) {
            handler.didReceive(identifier, action);
        });
    activateOrLaunch();
    graceTimer = host::mainQueue().schedule(
        launchGrace, weakly([](StubAppDelegate& self) { self.graceTimerFired(); }), false);
}

void StubAppDelegate::noteAndLaunch(const QStringList& urls) {
    link->post(Request::Op::noteLaunch,
               [&](Request& request) { request.profileDirectory = config.profileDirectory; });
    ChromeLauncher::launch(config.profileDirectory, urls);
}

void StubAppDelegate::activateOrLaunch() {
    didInitialActivate = true;
    const QStringList links = std::exchange(pendingURLs, {});
    if (!links.isEmpty()) {
        if (isTabGroupApp())
            openURLsThroughGroup(links);
        else
            noteAndLaunch(links);
        return;
    }
    if (!isConnected()) {
        if (ChromeLauncher::runningChrome())
            awaitHelperThenActivate();
        else
            noteAndLaunch({});
        return;
    }
    link->request(Request::Op::activate, isTabGroupApp() ? groupActivateTimeout : activateTimeout, {},
                  weakly([](StubAppDelegate& self, const Response& response) {
                      self.handleActivateResponse(response);
                  }));
}

void StubAppDelegate::handleActivateResponse(const Response& response) {
    const auto action = response.action;
    if (action == Response::Action::raised || action == Response::Action::openedGroup) {
        groupRetriesLeft = 0;
        ChromeLauncher::activateChrome();
    } else if (action == Response::Action::groupNotFound) {
        groupRetriesLeft = 0;
        ChromeLauncher::activateChrome();
        warnGroupMissing(false); // no window is opened on this road
    } else {
        launchDegraded();
    }
}

void StubAppDelegate::launchDegraded() {
    noteAndLaunch({});
    if (isTabGroupApp())
        scheduleGroupRetry();
}

void StubAppDelegate::awaitHelperThenActivate() {
    if (awaitingHelper)
        return;
    awaitingHelper = true;
    if (helperWaitTimer)
        helperWaitTimer->cancel();
    helperWaitTimer = host::mainQueue().schedule(
        helperWaitLimit, weakly([](StubAppDelegate& self) {
            if (!self.awaitingHelper)
                return;
            self.awaitingHelper = false;
            Log::stub.log(QStringLiteral("helper did not answer in time; opening a window without it"));
            // Links a tab-group app put back while it waited go out now,
            // in the profile, rather than waiting for a later activation.
            self.noteAndLaunch(std::exchange(self.pendingURLs, {}));
        }),
        false);
}

void StubAppDelegate::handleLinkState(HelperLink::State state) {
    if (state != HelperLink::State::connected) {
        if (!degraded)
            startDegradedWatcher();
        return;
    }
    if (!awaitingHelper)
        return;
    awaitingHelper = false;
    if (helperWaitTimer) {
        helperWaitTimer->cancel();
        helperWaitTimer.reset();
    }
    activateOrLaunch();
}

void StubAppDelegate::handle(const Event& event) {
    switch (event.event) {
    case Event::Kind::windows:
        if (event.profileDirectory != config.profileDirectory || event.tabGroup != config.tabGroupName)
            return;
        updateLiveness(int(std::clamp<qint64>(event.count.value_or(0), 0, INT_MAX)),
                       event.confidence.value_or(CountConfidence::unclassified));
        return;
    case Event::Kind::axPermission:
        if (event.trusted == false) {
            warnAboutAccessibility();
            startDegradedWatcher();
        } else {
            stopDegradedWatcher();
        }
        return;
    case Event::Kind::shuttingDown:
        Log::stub.info(QStringLiteral("helper is shutting down"));
        return;
    case Event::Kind::stubOutdated:
        warnOutdated(event.improvements.value_or(QStringList{}));
        return;
    case Event::Kind::routingHistoryChanged:
    case Event::Kind::unknown:
        return;
    }
}

void StubAppDelegate::applicationOpenURLs(const QList<QUrl>& urls) {
    // A link's event carries its text as written; the parsed URL would reach Chrome re-encoded.
    const auto event = host::application().currentAppleEvent();
    const bool written = event && event->isGetURL() && event->directObject;
    pendingURLs.append(host::linkTexts(urls, written ? QStringList{*event->directObject} : QStringList{}));
    if (didInitialActivate)
        activateOrLaunch();
}

bool StubAppDelegate::applicationShouldHandleReopen(bool) {
    activateOrLaunch();
    return false;
}

void StubAppDelegate::applicationWillTerminate() {
    Log::stub.info(QStringLiteral("terminating (selfQuit=%1, liveness=%2)")
                       .arg(isSelfQuitting ? "true" : "false")
                       .arg(rawValue(liveness)));
    handWaitingLinksToChrome();
    link->shutdown();
}

void StubAppDelegate::openNewWindow() {
    noteAndLaunch({});
}

void StubAppDelegate::bringToFront() {
    activateOrLaunch();
}
