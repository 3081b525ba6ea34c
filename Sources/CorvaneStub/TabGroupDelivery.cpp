// Links of a tab-group app: the helper raises or opens the group's window first, then Chrome gets the links,
// which land in that (now focused) window. While Chrome starts, the launcher retries the raise for a while;
// when the group cannot be reached, the links open in the profile.
#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"
#include "CorvaneStub/ChromeLauncher.h"
#include "CorvaneStub/StubAppDelegate.h"

void StubAppDelegate::openURLsThroughGroup(const QStringList& urls) {
    if (!isConnected()) {
        if (ChromeLauncher::runningChrome()) {
            // The activation that follows the helper's arrival takes them again.
            pendingURLs = urls + pendingURLs;
            awaitHelperThenActivate();
            return;
        }
        pendingGroupURLs.append(urls);
        noteAndLaunch({});
        scheduleGroupRetry();
        return;
    }
    link->request(Request::Op::activate, groupActivateTimeout, {},
                  weakly([held = holdLinks(urls)](StubAppDelegate& self, const Response& response) {
                      // Empty once the launcher gave them to Chrome as it ended.
                      if (const QStringList links = self.releaseLinks(held); !links.isEmpty())
                          self.handleGroupResponse(links, response);
                  }));
}

void StubAppDelegate::handleGroupResponse(const QStringList& urls, const Response& response) {
    const auto action = response.action;
    if (action == Response::Action::raised || action == Response::Action::openedGroup) {
        ChromeLauncher::activateChrome();
        deliverToFocusedGroupWindow(urls);
    } else if (action == Response::Action::nothingToRaise) {
        pendingGroupURLs.append(urls);
        noteAndLaunch({});
        scheduleGroupRetry();
    } else if (action == Response::Action::groupNotFound) {
        warnGroupMissing();
        ChromeLauncher::launch(config.profileDirectory, urls);
    } else {
        ChromeLauncher::launch(config.profileDirectory, urls);
    }
}

void StubAppDelegate::deliverToFocusedGroupWindow(const QStringList& urls) {
    if (urls.isEmpty())
        return;
    host::mainQueue().schedule(groupDeliveryDelay, weakly([held = holdLinks(urls)](StubAppDelegate& self) {
                                   if (const QStringList links = self.releaseLinks(held); !links.isEmpty())
                                       ChromeLauncher::launch(self.config.profileDirectory, links);
                               }),
                               false);
}

std::shared_ptr<QStringList> StubAppDelegate::holdLinks(const QStringList& urls) {
    auto held = std::make_shared<QStringList>(urls);
    heldLinks.push_back(held);
    return held;
}

QStringList StubAppDelegate::releaseLinks(const std::shared_ptr<QStringList>& held) {
    std::erase(heldLinks, held);
    return std::exchange(*held, {});
}

// Whatever still waits goes to the profile, where the group's window may not be: better than lost.
void StubAppDelegate::handWaitingLinksToChrome() {
    QStringList links = std::exchange(pendingGroupURLs, {});
    for (const auto& held : std::exchange(heldLinks, {}))
        links += std::exchange(*held, {});
    links += std::exchange(pendingURLs, {});
    stopGroupRetry();
    awaitingHelper = false;
    if (links.isEmpty())
        return;
    Log::stub.info(QStringLiteral("ending with %1 link(s) not yet in Chrome; opening them in the profile")
                       .arg(links.size()));
    noteAndLaunch(links);
}

void StubAppDelegate::scheduleGroupRetry() {
    if (groupRetriesLeft != 0 || groupRetryTimer)
        return; // a run is active: links appended meanwhile join it
    groupRetriesLeft = groupRetryAttempts;
    groupRetryDeadline = host::clock().now().addMSecs(qint64(groupRetryWindow * 1000));
    groupRetryTimer = host::mainQueue().schedule(
        groupRetryInterval, weakly([](StubAppDelegate& self) { self.groupRetryTick(); }), true);
}

void StubAppDelegate::groupRetryTick() {
    if (groupRetriesLeft <= 0 || !groupRetryDeadline || host::clock().now() >= *groupRetryDeadline) {
        fallbackPendingGroupURLs();
        return;
    }
    if (!isConnected() || groupRetryInFlight)
        return;
    --groupRetriesLeft;
    groupRetryInFlight = true;
    link->request(Request::Op::activate, groupActivateTimeout, {},
                  weakly([](StubAppDelegate& self, const Response& response) {
                      self.handleGroupRetryResponse(response);
                  }));
}

void StubAppDelegate::handleGroupRetryResponse(const Response& response) {
    if (!groupRetryTimer)
        return;
    groupRetryInFlight = false;
    const auto action = response.action;
    if (action == Response::Action::groupNotFound) {
        stopGroupRetry();
        warnGroupMissing();
        ChromeLauncher::launch(config.profileDirectory, std::exchange(pendingGroupURLs, {}));
    } else if (action == Response::Action::raised || action == Response::Action::openedGroup) {
        stopGroupRetry();
        ChromeLauncher::activateChrome();
        deliverToFocusedGroupWindow(std::exchange(pendingGroupURLs, {}));
    } else if (groupRetriesLeft < 1 || !groupRetryDeadline || host::clock().now() >= *groupRetryDeadline) {
        fallbackPendingGroupURLs();
    }
}

void StubAppDelegate::fallbackPendingGroupURLs() {
    const QStringList urls = std::exchange(pendingGroupURLs, {});
    stopGroupRetry();
    if (!urls.isEmpty())
        noteAndLaunch(urls);
}

void StubAppDelegate::stopGroupRetry() {
    groupRetriesLeft = 0;
    groupRetryDeadline.reset();
    groupRetryInFlight = false;
    if (groupRetryTimer) {
        groupRetryTimer->cancel();
        groupRetryTimer.reset();
    }
}
