// When the launcher stays in the Dock: the liveness rule applied to every window count, the drain before
// quitting, the launch grace and the fallback poller.
#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneHost/Application.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"
#include "CorvaneStub/ChromeLauncher.h"
#include "CorvaneStub/StubAppDelegate.h"

void StubAppDelegate::updateLiveness(int count, CountConfidence confidence) {
    if (count >= 1) {
        if (graceTimer) {
            graceTimer->cancel();
            graceTimer.reset();
        }
        liveness = Liveness::watching;
        if (drainTimer) {
            drainTimer->cancel();
            drainTimer.reset();
        }
        untrustedZeroSince.reset();
        return;
    }
    if (confidence == CountConfidence::certain) {
        untrustedZeroSince.reset();
        if (liveness != Liveness::starting)
            beginDrain();
        return;
    }
    // Only the readings measure the run of unconfirmed zeros; nothing fires at the limit itself.
    const QDateTime now = host::clock().now();
    const QDateTime since = untrustedZeroSince.value_or(now);
    untrustedZeroSince = since;
    if (since.msecsTo(now) >= qint64(untrustedZeroTimeout * 1000) && liveness != Liveness::starting) {
        Log::stub.log(
            QStringLiteral(
                "no windows seen for %1s and nothing can confirm it; quitting on the balance of evidence")
                .arg(qint64(untrustedZeroTimeout)));
        beginDrain();
    }
}

void StubAppDelegate::beginDrain() {
    if (drainTimer)
        return;
    liveness = Liveness::draining;
    drainTimer = host::mainQueue().schedule(
        drainDebounce, weakly([](StubAppDelegate& self) {
            if (self.liveness != Liveness::draining)
                return;
            Log::stub.info(QStringLiteral("last window for this profile closed; quitting"));
            self.terminateSelf();
        }),
        false);
}

void StubAppDelegate::graceTimerFired() {
    if (liveness != Liveness::starting)
        return;
    if (ChromeLauncher::runningChrome()) {
        liveness = Liveness::watching;
        return;
    }
    Log::stub.log(QStringLiteral("no windows appeared within the launch grace period; quitting"));
    terminateSelf();
}

void StubAppDelegate::terminateSelf() {
    isSelfQuitting = true;
    host::application().terminate();
}

void StubAppDelegate::startDegradedWatcher() {
    if (degraded)
        return;
    degraded = std::make_shared<DegradedWatcher>(
        weakly([](StubAppDelegate& self, const DegradedWatcher::Reading& reading) {
            self.updateLiveness(reading.count, reading.confidence);
        }));
    degraded->start();
}

void StubAppDelegate::stopDegradedWatcher() {
    if (!degraded)
        return;
    degraded->stop();
    degraded.reset();
}
