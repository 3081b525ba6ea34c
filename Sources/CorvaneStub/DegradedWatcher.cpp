#include "CorvaneStub/DegradedWatcher.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/ProxyApps/ChromeWindows.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

DegradedWatcher::DegradedWatcher(std::function<void(const Reading&)> onReading)
    : onReading(std::move(onReading)) {}

DegradedWatcher::~DegradedWatcher() {
    stop();
}

void DegradedWatcher::start() {
    if (timer)
        return;
    Log::stub.log(
        QStringLiteral("helper unavailable; falling back to window-count polling (screen recording: %1)")
            .arg(ChromeWindows::canSeeOtherApplicationsWindows() ? QStringLiteral("granted")
                                                                 : QStringLiteral("not granted")));
    std::weak_ptr<DegradedWatcher> weakSelf = weak_from_this();
    timer = host::mainQueue().schedule(
        pollInterval,
        [weakSelf] {
            if (auto self = weakSelf.lock())
                self->poll();
        },
        true);
}

void DegradedWatcher::stop() {
    if (timer)
        timer->cancel();
    timer.reset();
}

DegradedWatcher::Reading DegradedWatcher::currentReading() {
    if (!ChromeWindows::isChromeRunning())
        return {0, CountConfidence::certain};
    const auto count = ChromeWindows::onScreenCount();
    // Without a list nothing is known, whatever the permission says: such a zero cannot be relied on.
    if (!count)
        return {0, CountConfidence::unclassified};
    return {*count, ChromeWindows::canSeeOtherApplicationsWindows() ? CountConfidence::certain
                                                                    : CountConfidence::unclassified};
}

void DegradedWatcher::poll() {
    const Reading reading = currentReading();
    if (onReading)
        onReading(reading);
}
