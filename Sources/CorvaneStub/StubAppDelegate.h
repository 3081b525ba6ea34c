#pragma once

#include "CorvaneCore/Messaging/IPCProtocol.h"
#include "CorvaneCore/Messaging/SocketClient.h"
#include "CorvaneCore/ProxyApps/AppConfig.h"
#include "CorvaneHost/Application.h"
#include "CorvaneStub/DegradedWatcher.h"
#include "CorvaneStub/StubNotices.h"

#include <QDateTime>
#include <QList>
#include <QUrl>
#include <QVariantMap>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace host {
class Bundle;
class Timer;
} // namespace host

// The launcher's application delegate: opens its Chrome profile (through the helper, or by launching Chrome),
// hands its links to that profile, keeps running while the profile has windows and quits when they are gone.
// Everything runs on the main thread. Own it through a std::shared_ptr: timers and callbacks hold it weakly.
// Links travel through it as the texts they arrived as (a link's event text as written, a file's URL), so
// Chrome gets what was clicked.
class StubAppDelegate : public host::ApplicationDelegate,
                        public std::enable_shared_from_this<StubAppDelegate> {
public:
    enum class Liveness { starting, watching, draining };
    static QString rawValue(Liveness liveness);

    // Durations, in seconds.
    static constexpr double helperWaitLimit = 4.0;
    static constexpr double launchGrace = 30.0;
    static constexpr double drainDebounce = 2.0;
    static constexpr double untrustedZeroTimeout = 120.0;
    static constexpr double activateTimeout = 5.0;
    static constexpr double groupActivateTimeout = 12.0;
    static constexpr double closeWindowsBudget = 6.0;
    static constexpr double closeWindowsTimeout = 8.0;
    static constexpr double quitSafetyDelay = 9.0;
    static constexpr int groupRetryAttempts = 20;
    static constexpr double groupRetryInterval = 1.0;
    static constexpr double groupRetryWindow = 20.0;
    static constexpr double groupDeliveryDelay = 0.2;

    // What a proxy app without a readable configuration is for.
    static StubConfig fallbackConfig();

    // The delegate of the proxy app in `bundle`: its configuration (or the fallback) and its Info.plist.
    static std::shared_ptr<StubAppDelegate> fromBundle(const host::Bundle& bundle);

    StubAppDelegate(StubConfig config, std::optional<QVariantMap> info, QString bundlePath = {},
                    std::shared_ptr<HelperLink> link = std::make_shared<HelperLink>());
    ~StubAppDelegate() override;

    // CFBundleDisplayName, else CFBundleName, else "Corvane App".
    QString displayName() const;
    bool isTabGroupApp() const { return config.isTabGroup(); }
    Liveness currentLiveness() const { return liveness; }

    // host::ApplicationDelegate
    void applicationWillFinishLaunching() override;
    void applicationDidFinishLaunching() override;
    void applicationOpenURLs(const QList<QUrl>& urls) override;
    bool applicationShouldHandleReopen(bool hasVisibleWindows) override;
    host::TerminateReply applicationShouldTerminate() override;
    void applicationWillTerminate() override;

    // Menu commands.
    void openNewWindow();
    void bringToFront();

private:
    // Start-up and activation.
    Request helloRequest() const;
    void handle(const Event& event);
    void handleLinkState(HelperLink::State state);
    void activateOrLaunch();
    void handleActivateResponse(const Response& response);
    void awaitHelperThenActivate();
    void launchDegraded();
    void noteAndLaunch(const QStringList& urls);
    bool isConnected() const;
    template <typename Work> auto weakly(Work work);

    // Dock liveness.
    void updateLiveness(int count, CountConfidence confidence);
    void beginDrain();
    void graceTimerFired();
    void startDegradedWatcher();
    void stopDegradedWatcher();
    void terminateSelf();

    // Tab-group link delivery.
    void openURLsThroughGroup(const QStringList& urls);
    void handleGroupResponse(const QStringList& urls, const Response& response);
    void scheduleGroupRetry();
    void groupRetryTick();
    void handleGroupRetryResponse(const Response& response);
    void stopGroupRetry();
    void fallbackPendingGroupURLs();
    void deliverToFocusedGroupWindow(const QStringList& urls);

    // Links that wait on their way to Chrome. The sender of a link is answered once the launcher has taken
    // it, so a launcher that ends gives whatever still waits to Chrome first.
    std::shared_ptr<QStringList> holdLinks(const QStringList& urls);
    QStringList releaseLinks(const std::shared_ptr<QStringList>& held);
    void handWaitingLinksToChrome();

    // Quitting.
    void showBlockedAlert(std::function<void()> dismissed);

    // Notices.
    void notify(const QString& title, const QString& body);
    void warnOutdated(const QStringList& improvements);
    void warnGroupMissing(bool openedInstead = true);
    void warnAboutAccessibility();

    StubConfig config;
    std::optional<QVariantMap> info;
    QString bundlePath;
    std::shared_ptr<HelperLink> link;
    Liveness liveness = Liveness::starting;
    std::shared_ptr<host::Timer> drainTimer;
    std::shared_ptr<host::Timer> graceTimer;
    bool isSelfQuitting = false;
    std::shared_ptr<DegradedWatcher> degraded;
    StubNotificationHandler notificationHandler;
    QStringList pendingURLs;
    bool didInitialActivate = false;
    bool awaitingHelper = false;
    std::shared_ptr<host::Timer> helperWaitTimer;
    int groupRetriesLeft = 0;
    std::shared_ptr<host::Timer> groupRetryTimer;
    std::optional<QDateTime> groupRetryDeadline;
    bool groupRetryInFlight = false;
    QStringList pendingGroupURLs;
    // Links that wait for an answer of the helper or a moment for the group's window, each batch given to
    // Chrome once, by its road or as the launcher ends.
    std::vector<std::shared_ptr<QStringList>> heldLinks;
    std::optional<QDateTime> untrustedZeroSince;
};

// An action that runs only while the delegate lives.
template <typename Work> auto StubAppDelegate::weakly(Work work) {
    return [weakSelf = weak_from_this(), work = std::move(work)](auto&&... arguments) {
        if (auto self = weakSelf.lock())
            work(*self, std::forward<decltype(arguments)>(arguments)...);
    };
}
