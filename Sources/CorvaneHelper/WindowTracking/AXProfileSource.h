#pragma once

#include "CorvaneHelper/WindowTracking/AX.h"
#include "CorvaneHelper/WindowTracking/ProfileClassifier.h"
#include "CorvaneHelper/WindowTracking/WindowProfileSource.h"
#include "CorvaneHost/Workspace.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

namespace host {
class AXObserver;
class Timer;
} // namespace host

// One Chrome window of the tracker's map.
struct TrackedWindow {
    AXWindowRef ref;
    Classification classification;
    std::optional<QString> title;
    std::optional<host::AXElement> tabStrip;
    bool didSeekTabStrip = false;
    QStringList groups; // the tab groups its strip shows, in strip order
    // Its number in the window server's list, read when the window was met: what is asked of the window
    // server while Chrome does not answer.
    std::optional<quint32> windowNumber;
};

// The helper's tracker of Chrome's windows: it follows Chrome's launch and exit, observes its accessibility
// notifications, keeps a map of its standard windows classified by profile and kind, counts them for the
// proxy apps' scopes, and raises, closes and opens windows and tab groups. Main thread only; create it
// through std::make_shared (timers, observers and delayed steps hold it weakly).
class AXProfileSource final : public WindowProfileSource,
                              public std::enable_shared_from_this<AXProfileSource> {
public:
    static constexpr double reconcileInterval = 5.0;
    static constexpr double fastInterval = 0.5;
    static constexpr double fastDuration = 30.0;
    static constexpr double groupInterval = 1.0;
    static constexpr double settlingTime = 3.0;
    static constexpr int launchRetries = 5;
    static constexpr double retryDelay = 0.6;
    static constexpr double messagingTimeout = 0.5;
    static constexpr double wakeInterval = 15.0;
    static constexpr double answeringCacheTime = 1.0;
    static constexpr double pendingLaunchLifetime = 20.0;
    static constexpr double groupOpeningTime = 8.0;
    static constexpr double perWindowCloseTimeout = 1.5;
    static constexpr double deepScanDelay = 0.35;
    static constexpr double closeGroupDelay = 0.25;
    static constexpr double groupPollInterval = 0.15;
    static constexpr double moveBudget = 6.0;
    static constexpr double closeGroupBudget = 2.0;
    // How long a raised window is given to become the active one before its menus are opened anyway.
    static constexpr double activationWait = 1.0;
    static constexpr double activationPollInterval = 0.05;
    // How long a collapsed group's tabs are awaited after its header was pressed to expand it.
    static constexpr double expandBudget = 2.0;
    // How long Chrome may show windows on screen without publishing them before the user is told.
    static constexpr double unseenWindowsGrace = 5.0;

    static const QStringList tabGroupsMenuTitles;
    static const QStringList moveTitles;
    static const QStringList closeTitles;
    static const QStringList openTitles;
    static const QStringList openInOwnWindowTitles;

    AXProfileSource();
    ~AXProfileSource() override;

    // WindowProfileSource
    void setDelegate(std::weak_ptr<WindowProfileSourceDelegate> delegate) override { delegate_ = delegate; }
    std::weak_ptr<WindowProfileSourceDelegate> delegate() const override { return delegate_; }
    std::optional<qint32> chromePID() const override { return chromePID_; }
    bool isChromeRunning() const override;
    qint64 trackedWindowCount() const override { return qint64(windows_.size()); }
    void start() override;
    void stop() override;
    void refresh(const QString& reason) override;
    void updateProfiles(const std::vector<ChromeProfile>& profiles) override;
    void updateWatched(const std::vector<WatchScope>& scopes) override;
    void noteLaunch(const QString& profileDirectory) override;
    ProfileWindowReport report(const WatchScope& scope) override;
    void raise(const WatchScope& scope, RaiseCompletion completion) override;
    void close(const WatchScope& scope, std::optional<qint64> limit, double budget,
               CloseCompletion completion) override;
    void tabGroups(const QString& profile, bool deep, TabGroupsCompletion completion) override;

    // The window map, in the order windows entered it (for diagnostics and tests).
    const std::vector<TrackedWindow>& windows() const { return windows_; }
    bool hasObserver() const { return observer_ != nullptr; }
    bool hasFastTimer() const { return fastTimer_ != nullptr; }
    bool hasGroupTimer() const { return groupTimer_ != nullptr; }

    static std::vector<TabGroupInfo> assemble(const QHash<QString, int>& open, const QSet<QString>& saved);

private:
    struct PendingLaunch {
        QString profileDirectory;
        QDateTime deadline;
        std::unordered_set<AXWindowRef> preexisting;
    };
    struct Responsiveness {
        QDateTime checked;
        bool isAnswering = false;
    };
    using WaitCompletion = std::function<void(bool)>;

    friend void axObserverCallback(std::weak_ptr<AXProfileSource> context, const host::AXElement& element,
                                   const QString& notification);

    std::optional<host::RunningApplication> runningChrome() const;
    void observeWorkspace();
    void chromeLaunched(qint32 pid);
    void chromeTerminated(qint32 pid);
    void attachToChrome(int retriesRemaining);
    void wakeAccessibilityTree(const host::AXElement& application);
    void handleNotification(const QString& notification, const host::AXElement& element);
    void catchUpOnceTheQueueIsDrained();
    void catchUp();
    void noteUnseenWindows(std::optional<bool> visibleWindows);
    void updateFastTimer();
    void armGroupTimer();
    bool refreshGroups(bool force);
    bool chromeIsAnsweringAX();
    // How many of `windows` the window server still has, minimised ones included, while accessibility shows
    // none; where none of them has a number, how many of Chrome's windows it shows on screen. None when the
    // window server cannot tell.
    static std::optional<int> windowsTheWindowServerKeeps(const std::vector<TrackedWindow>& windows);
    std::optional<QString> consumePendingLaunch(const host::AXElement& window);
    void tellDelegate();

    TrackedWindow* find(const AXWindowRef& ref);
    std::optional<host::AXElement> liveTabStrip(const AXWindowRef& ref);
    std::vector<TrackedWindow> windows(const WatchScope& scope) const;
    std::optional<TrackedWindow> anyWindow(const WatchScope& scope) const;
    bool isOpening(const QString& group);
    bool windowsWithUnreadableStrip(const QString& profileDirectory) const;

    void expandAndActivate(const QString& name, const AXWindowRef& window, const host::AXElement& header,
                           RaiseCompletion completion);
    void openGroup(const QString& name, const WatchScope& scope, RaiseCompletion completion);
    void chooseGroupFromMenus(const QString& name, const WatchScope& scope, const host::AXElement& menuButton,
                              RaiseCompletion completion);
    // Raises the window, then runs `then` once the window manager has made it the active window, or after
    // activationWait at the latest.
    void raiseAndWaitUntilActive(const host::AXElement& window, std::function<void()> then);
    void groupIsOpening(const QString& name, const WatchScope& scope, RaiseCompletion completion);
    void moveToOwnWindow(const QString& name, const WatchScope& scope);
    void waitForGroup(const WatchScope& scope, double budget, bool toBePresent, WaitCompletion completion);
    void waitForGroupToGo(const WatchScope& scope, double budget, WaitCompletion completion);
    void closeGroup(const QString& name, const WatchScope& scope, CloseCompletion completion);
    void chooseGroupClose(const host::AXElement& header, const WatchScope& scope, CloseCompletion completion);

    std::weak_ptr<WindowProfileSourceDelegate> delegate_;
    std::optional<qint32> chromePID_;
    std::optional<host::AXElement> appElement_;
    std::shared_ptr<host::AXObserver> observer_;
    std::vector<TrackedWindow> windows_;
    ProfileClassifier classifier_;
    std::vector<PendingLaunch> pendingLaunches_;
    QMap<QString, QDateTime> pendingGroupOpens_;
    QSet<QString> watchedGroups_;
    std::shared_ptr<host::Timer> groupTimer_;
    std::optional<QString> lastFocusedProfile_;
    std::shared_ptr<host::Timer> reconcileTimer_;
    std::shared_ptr<host::Timer> fastTimer_;
    std::shared_ptr<host::Timer> settledTimer_;
    std::optional<QDateTime> fastTimerDeadline_;
    std::optional<QDateTime> settlingUntil_;
    std::optional<Responsiveness> lastResponsiveness_;
    std::optional<QDateTime> lastWakeAttempt_;
    // The workspace's launch and exit notifications, while started. (After a drop without stop() the
    // registration only holds a weak handle.)
    std::optional<int> applicationObserver_;
    // Attached while not trusted: the first refresh with trust makes the observer.
    bool observerDeferred_ = false;
    // What notifications asked for, done once the main queue has handed over the rest of their burst: the
    // windows whose titles changed, and a refresh (with the reason of the first that asked for it).
    bool catchUpQueued_ = false;
    std::vector<host::AXElement> retitled_;
    std::optional<QString> refreshReason_;
    // Since when Chrome has shown windows on screen that its accessibility tree lacks, and whether that was
    // logged for this Chrome process.
    std::optional<QDateTime> unseenWindowsSince_;
    bool toldUnseenWindows_ = false;
};

// The observer's callback: hands the notification to the main queue; does nothing once the tracker is gone.
void axObserverCallback(std::weak_ptr<AXProfileSource> context, const host::AXElement& element,
                        const QString& notification);
