#include "CorvaneHelper/WindowTracking/AXProfileSource.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/NameOrder.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/ChromeWindows.h"
#include "CorvaneHelper/WindowTracking/ChromeMenuDriver.h"
#include "CorvaneHelper/WindowTracking/TabGroupLocator.h"
#include "CorvaneHelper/WindowTracking/WindowActions.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <algorithm>
#include <limits>

namespace {

const QString standardWindow = QStringLiteral("AXStandardWindow");
const QString attachReason = QStringLiteral("attach");

QDateTime now() {
    return host::clock().now();
}

QDateTime later(double seconds) {
    return now().addMSecs(qint64(seconds * 1000));
}

std::optional<quint32> windowNumberOf(const host::AXElement& window) {
    const auto number = AX::number(window, QStringLiteral("AXWindowNumber"));
    if (!number || *number < 1 || *number > double(std::numeric_limits<quint32>::max()))
        return std::nullopt;
    return quint32(*number);
}

double secondsSince(const QDateTime& time) {
    return double(time.msecsTo(now())) / 1000.0;
}

bool trusted() {
    return host::accessibility().isProcessTrusted();
}

// Only classified browser windows of the profile.
WatchScope profileOnly(const QString& profileDirectory) {
    return WatchScope{profileDirectory, std::nullopt, false, false, false};
}

// A completion that runs once: later calls are dropped.
template <typename Result> std::function<void(Result)> once(std::function<void(Result)> completion) {
    auto slot = std::make_shared<std::function<void(Result)>>(std::move(completion));
    return [slot](Result result) {
        Q_ASSERT(*slot);
        if (!*slot)
            return;
        auto done = std::move(*slot);
        *slot = nullptr;
        done(std::move(result));
    };
}

} // namespace

const QStringList AXProfileSource::tabGroupsMenuTitles{QStringLiteral("Tab Groups"),
                                                       QStringLiteral("Tab group"), QStringLiteral("Groups")};
const QStringList AXProfileSource::moveTitles{QStringLiteral("Move group to new window"),
                                              QStringLiteral("Move group")};
const QStringList AXProfileSource::closeTitles{QStringLiteral("Close group"),
                                               QStringLiteral("Close and hide group")};
// Chromium on this desktop makes each saved group's entry of its "Tab groups" menu a menu of its own, which
// opens the group ("Open group", "Open group in new window") or, for a group that is open, moves it ("Move
// group to new window"); where the entry opens no menu, pressing it has opened the group.
const QStringList AXProfileSource::openTitles{QStringLiteral("Open group")};
const QStringList AXProfileSource::openInOwnWindowTitles{QStringLiteral("Open group in new window"),
                                                         QStringLiteral("Move group to new window")};

void axObserverCallback(std::weak_ptr<AXProfileSource> context, const host::AXElement& element,
                        const QString& notification) {
    if (context.expired())
        return;
    host::mainQueue().async([context, element, notification] {
        if (auto source = context.lock())
            source->handleNotification(notification, element);
    });
}

AXProfileSource::AXProfileSource() = default;

AXProfileSource::~AXProfileSource() {
    for (const auto& timer : {reconcileTimer_, fastTimer_, groupTimer_, settledTimer_})
        if (timer)
            timer->cancel();
}

// MARK: Start, stop and Chrome's launch and exit

// Attached means running (an exit detaches): the list of running programs is asked only while detached, which
// keeps a report for every client cheap.
bool AXProfileSource::isChromeRunning() const {
    return chromePID_.has_value() || runningChrome().has_value();
}

std::optional<host::RunningApplication> AXProfileSource::runningChrome() const {
    return ChromeWindows::runningChrome();
}

void AXProfileSource::start() {
    classifier_.profiles = ChromeProfiles::load();
    observeWorkspace();
    attachToChrome(0);
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    reconcileTimer_ = host::mainQueue().schedule(
        reconcileInterval,
        [weak] {
            if (auto self = weak.lock())
                self->refresh(QStringLiteral("periodic"));
        },
        true);
}

void AXProfileSource::stop() {
    for (auto* timer : {&reconcileTimer_, &fastTimer_, &groupTimer_, &settledTimer_}) {
        if (*timer)
            (*timer)->cancel();
        timer->reset();
    }
    observer_.reset();
    if (applicationObserver_)
        host::workspace().removeApplicationObserver(*applicationObserver_);
    applicationObserver_.reset();
}

void AXProfileSource::observeWorkspace() {
    if (applicationObserver_)
        return;
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    applicationObserver_ = host::workspace().addApplicationObserver(
        [weak](host::ApplicationEvent event, const host::RunningApplication& application) {
            auto self = weak.lock();
            if (!self || application.bundleIdentifier != Corvane::chromeBundleID)
                return;
            if (event == host::ApplicationEvent::didLaunch)
                self->chromeLaunched(application.processIdentifier);
            else
                self->chromeTerminated(application.processIdentifier);
        });
}

void AXProfileSource::chromeLaunched(qint32 pid) {
    // A second start of the browser (asked for a window, it hands the request over and ends) is no launch
    // while the attached one runs on.
    if (chromePID_ && *chromePID_ != pid && host::workspace().runningApplication(*chromePID_).has_value()) {
        Log::ax.debug(QStringLiteral("ignoring launch of transient Chrome process %1").arg(pid));
        return;
    }
    settlingUntil_ = later(settlingTime);
    attachToChrome(launchRetries);
    tellDelegate();
    // The reports' confidence changes when the settling time ends: the clients hear it then.
    if (settledTimer_)
        settledTimer_->cancel();
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    settledTimer_ = host::mainQueue().schedule(settlingTime, [weak] {
        if (auto self = weak.lock())
            self->tellDelegate();
    });
}

void AXProfileSource::chromeTerminated(qint32 pid) {
    if (!chromePID_ || *chromePID_ != pid) {
        Log::ax.debug(QStringLiteral("ignoring exit of transient Chrome process %1").arg(pid));
        return;
    }
    Log::ax.info(QStringLiteral("Chrome terminated"));
    observer_.reset();
    observerDeferred_ = false;
    chromePID_.reset();
    appElement_.reset();
    windows_.clear();
    pendingLaunches_.clear();
    tellDelegate();
}

void AXProfileSource::attachToChrome(int retriesRemaining) {
    const auto chrome = runningChrome();
    if (!chrome)
        return;
    const qint32 pid = chrome->processIdentifier;
    if (chromePID_ == pid && observer_)
        return;
    observer_.reset();
    if (chromePID_ != pid) {
        unseenWindowsSince_.reset();
        toldUnseenWindows_ = false;
    }
    auto& accessibility = host::accessibility();
    chromePID_ = pid;
    appElement_ = accessibility.createApplication(pid);
    accessibility.setMessagingTimeout(*appElement_, messagingTimeout);
    observerDeferred_ = !accessibility.isProcessTrusted();
    if (observerDeferred_) {
        Log::ax.log(QStringLiteral("not trusted for Accessibility yet; deferring observer"));
        return;
    }
    wakeAccessibilityTree(*appElement_);

    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    std::shared_ptr<host::AXObserver> created;
    const host::AXError status = accessibility.createObserver(
        pid,
        [weak](const host::AXElement& element, const QString& notification) {
            axObserverCallback(weak, element, notification);
        },
        created);
    if (status == host::AXError::success && created) {
        observer_ = created;
        for (const QString& notification :
             {host::AXNotification::windowCreated, host::AXNotification::focusedWindowChanged,
              host::AXNotification::mainWindowChanged})
            observer_->addNotification(*appElement_, notification);
        Log::ax.info(QStringLiteral("attached to Chrome pid %1").arg(pid));
        refresh(attachReason);
        return;
    }
    if (retriesRemaining < 1) {
        Log::ax.error(QStringLiteral("AXObserverCreate failed: %1").arg(int(status)));
        return;
    }
    host::mainQueue().schedule(retryDelay, [weak, retriesRemaining] {
        if (auto self = weak.lock())
            self->attachToChrome(retriesRemaining - 1);
    });
}

void AXProfileSource::wakeAccessibilityTree(const host::AXElement& application) {
    lastWakeAttempt_ = now();
    // Asking for the enhanced interface is what makes Chrome build and publish its tree.
    host::accessibility().setAttributeValue(application, QStringLiteral("AXEnhancedUserInterface"), true);
}

void AXProfileSource::handleNotification(const QString& notification, const host::AXElement& element) {
    if (notification == host::AXNotification::uiElementDestroyed) {
        const auto before = windows_.size();
        std::erase_if(windows_, [&](const TrackedWindow& window) { return window.ref.element == element; });
        if (windows_.size() != before)
            tellDelegate();
        return;
    }
    if (notification == host::AXNotification::titleChanged) {
        if (!find(AXWindowRef{element}) ||
            std::find(retitled_.begin(), retitled_.end(), element) != retitled_.end())
            return;
        retitled_.push_back(element);
    } else if (!refreshReason_) {
        refreshReason_ = notification;
    }
    catchUpOnceTheQueueIsDrained();
}

// Chrome announces a change as a burst of notifications (a page that retitles itself, a window that is
// minimised): reading the windows once after the burst costs one read where one for each notification would
// cost as many, and, while Chrome does not answer, as many waits for its time-out before a client's request
// queued behind them is answered.
void AXProfileSource::catchUpOnceTheQueueIsDrained() {
    if (catchUpQueued_)
        return;
    catchUpQueued_ = true;
    host::mainQueue().async([weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->catchUp();
    });
}

void AXProfileSource::catchUp() {
    catchUpQueued_ = false;
    const std::vector<host::AXElement> retitled = std::exchange(retitled_, {});
    const std::optional<QString> reason = std::exchange(refreshReason_, std::nullopt);
    bool changed = false;
    for (const host::AXElement& element : retitled) {
        TrackedWindow* window = find(AXWindowRef{element});
        if (!window)
            continue;
        window->title = AX::string(element, QStringLiteral("AXTitle"));
        if (window->classification.isUnclassified())
            window->classification = classifier_.classify(element, std::nullopt, std::nullopt);
        changed = true;
    }
    if (changed)
        tellDelegate();
    if (reason)
        refresh(*reason);
}

// MARK: Reconciliation

void AXProfileSource::refresh(const QString& reason) {
    if (!trusted())
        return;
    // Attached while not yet trusted (the usual first run): the observer is made once trust is there.
    if (!appElement_ || observerDeferred_)
        attachToChrome(0);
    if (!appElement_)
        return;

    std::vector<host::AXElement> standard;
    for (const host::AXElement& window : AX::windows(*appElement_))
        if (AX::string(window, QStringLiteral("AXSubrole")) == standardWindow)
            standard.push_back(window);

    // The window server is asked only when accessibility shows no window: listing the running programs to
    // find Chrome's costs more than the rest of a pass.
    const std::optional<int> kept = standard.empty() ? windowsTheWindowServerKeeps(windows_) : std::nullopt;
    const bool keepMap = standard.empty() && kept != 0;
    lastResponsiveness_ = Responsiveness{now(), !keepMap};

    if (keepMap) {
        const QString detail =
            kept ? QStringLiteral("the window server still lists %1 of them, so Chrome is not answering")
                       .arg(*kept)
                 : QStringLiteral("this process cannot see other applications' windows, so there is no "
                                  "evidence either way");
        Log::ax.log(QStringLiteral(
                        "Accessibility reported no Chrome windows; %1 \u2014 keeping the window map we had")
                        .arg(detail));
        noteUnseenWindows(kept ? std::optional<bool>(*kept > 0) : std::nullopt);
        if (!lastWakeAttempt_ || secondsSince(*lastWakeAttempt_) >= wakeInterval) {
            Log::ax.log(QStringLiteral("asking Chrome to publish its accessibility tree"));
            wakeAccessibilityTree(*appElement_);
        }
        return;
    }
    unseenWindowsSince_.reset();

    const auto before = windows_.size();
    std::erase_if(windows_, [&](const TrackedWindow& tracked) {
        return std::find(standard.begin(), standard.end(), tracked.ref.element) == standard.end();
    });
    bool changed = windows_.size() != before;

    for (const host::AXElement& element : standard) {
        const auto title = AX::string(element, QStringLiteral("AXTitle"));
        TrackedWindow* tracked = find(AXWindowRef{element});
        if (!tracked) {
            const auto attributed = consumePendingLaunch(element);
            TrackedWindow window;
            window.ref = AXWindowRef{element};
            window.classification = classifier_.classify(element, attributed, lastFocusedProfile_);
            window.title = title;
            window.windowNumber = windowNumberOf(element);
            windows_.push_back(window);
            if (observer_)
                for (const QString& notification :
                     {host::AXNotification::uiElementDestroyed, host::AXNotification::titleChanged,
                      host::AXNotification::windowMiniaturized, host::AXNotification::windowDeminiaturized})
                    observer_->addNotification(element, notification);
            const Classification& c = window.classification;
            Log::ax.info(QStringLiteral("window %1 -> %2 via %3 kind=%4")
                             .arg(title.value_or(QStringLiteral("?")),
                                  c.profileDirectory.value_or(QStringLiteral("unknown")),
                                  c.source ? toString(*c.source) : QStringLiteral("none"), toString(c.kind)));
            changed = true;
        } else if (tracked->classification.isUnclassified()) {
            tracked->classification = classifier_.classify(element, std::nullopt, lastFocusedProfile_);
            tracked->title = title;
            if (!tracked->classification.isUnclassified())
                changed = true;
        } else if (tracked->title != title) {
            tracked->title = title;
        }
        // A window that could not yet be told from another of its size when it was found gets its number
        // once it can.
        if (tracked && !tracked->windowNumber)
            tracked->windowNumber = windowNumberOf(element);
    }

    if (const auto focused = AX::element(*appElement_, QStringLiteral("AXFocusedWindow")))
        if (const TrackedWindow* window = find(AXWindowRef{*focused});
            window && window->classification.kind != WindowKind::incognito &&
            window->classification.profileDirectory)
            lastFocusedProfile_ = window->classification.profileDirectory;

    const QDateTime current = now();
    // A launch that opened no window of its own (links into a window the profile already has) lapses; the
    // zero it made unsure is certain again, and the watchers must hear so or they wait on the unsure zero.
    const bool launchesLapsed = std::erase_if(pendingLaunches_, [&](const PendingLaunch& launch) {
                                    return launch.deadline < current;
                                }) > 0;
    updateFastTimer();
    const bool groupsChanged = refreshGroups(false);
    if (changed || launchesLapsed || groupsChanged || reason == attachReason)
        tellDelegate();
}

// Chrome reads the desktop's accessibility switch once, at its start: one started while the switch was off
// shows its windows on screen but never publishes them, whatever is done later.
void AXProfileSource::noteUnseenWindows(std::optional<bool> visibleWindows) {
    if (visibleWindows != true) {
        unseenWindowsSince_.reset();
        return;
    }
    if (!unseenWindowsSince_) {
        unseenWindowsSince_ = now();
        return;
    }
    if (toldUnseenWindows_ || secondsSince(*unseenWindowsSince_) < unseenWindowsGrace)
        return;
    toldUnseenWindows_ = true;
    Log::ax.log(QStringLiteral("Chrome shows windows that its accessibility tree does not publish; quit and "
                               "reopen Chrome so that its windows can be seen"));
}

std::optional<QString> AXProfileSource::consumePendingLaunch(const host::AXElement& window) {
    const AXWindowRef ref{window};
    for (auto it = pendingLaunches_.begin(); it != pendingLaunches_.end(); ++it) {
        if (!it->preexisting.contains(ref)) {
            QString profile = it->profileDirectory;
            pendingLaunches_.erase(it);
            return profile;
        }
    }
    return std::nullopt;
}

void AXProfileSource::updateFastTimer() {
    const bool needed = !pendingLaunches_.empty() ||
                        std::any_of(windows_.begin(), windows_.end(), [](const TrackedWindow& window) {
                            return window.classification.isUnclassified();
                        });
    if (!needed) {
        if (fastTimer_)
            fastTimer_->cancel();
        fastTimer_.reset();
        fastTimerDeadline_.reset();
        return;
    }
    if (fastTimer_)
        return;
    fastTimerDeadline_ = later(fastDuration);
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    fastTimer_ = host::mainQueue().schedule(
        fastInterval,
        [weak] {
            auto self = weak.lock();
            if (!self)
                return;
            if (self->fastTimerDeadline_ && now() > *self->fastTimerDeadline_) {
                if (self->fastTimer_)
                    self->fastTimer_->cancel();
                self->fastTimer_.reset();
                return;
            }
            self->refresh(QStringLiteral("fast"));
        },
        true);
}

std::optional<host::AXElement> AXProfileSource::liveTabStrip(const AXWindowRef& ref) {
    TrackedWindow* window = find(ref);
    if (!window)
        return std::nullopt;
    // Chrome rebuilds its tab strip now and then; a kept strip that no longer answers is searched again.
    const bool stale = window->tabStrip && !AX::string(*window->tabStrip, QStringLiteral("AXRole"));
    if (!window->didSeekTabStrip || !window->tabStrip || stale) {
        window->tabStrip = TabGroupLocator::tabStrip(ref.element);
        window->didSeekTabStrip = true;
    }
    return window->tabStrip;
}

bool AXProfileSource::refreshGroups(bool force) {
    if (!trusted())
        return false;
    if (!force && watchedGroups_.isEmpty() && pendingGroupOpens_.isEmpty())
        return false;
    if (!chromeIsAnsweringAX())
        return false;
    bool changed = false;
    std::vector<AXWindowRef> refs;
    for (const TrackedWindow& window : windows_)
        refs.push_back(window.ref);
    for (const AXWindowRef& ref : refs) {
        const TrackedWindow* window = find(ref);
        if (!window || window->classification.kind != WindowKind::browser)
            continue;
        const auto strip = liveTabStrip(ref);
        TrackedWindow* entry = find(ref);
        if (!strip) {
            if (!entry->groups.isEmpty()) {
                entry->groups.clear();
                changed = true;
            }
            continue;
        }
        const QStringList names = TabGroupLocator::groupNames(*strip);
        if (names == entry->groups)
            continue;
        entry->groups = names;
        changed = true;
        for (const QString& name : names)
            pendingGroupOpens_.remove(canonicalName(name));
    }
    return changed;
}

void AXProfileSource::armGroupTimer() {
    if (watchedGroups_.isEmpty() && pendingGroupOpens_.isEmpty()) {
        if (groupTimer_)
            groupTimer_->cancel();
        groupTimer_.reset();
        return;
    }
    if (groupTimer_)
        return;
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    groupTimer_ = host::mainQueue().schedule(
        groupInterval,
        [weak] {
            auto self = weak.lock();
            if (!self)
                return;
            if (self->refreshGroups(false))
                self->tellDelegate();
            if (self->watchedGroups_.isEmpty() && self->pendingGroupOpens_.isEmpty()) {
                if (self->groupTimer_)
                    self->groupTimer_->cancel();
                self->groupTimer_.reset();
            }
        },
        true);
}

bool AXProfileSource::chromeIsAnsweringAX() {
    if (!trusted() || !appElement_)
        return true;
    if (lastResponsiveness_ && secondsSince(lastResponsiveness_->checked) < answeringCacheTime)
        return lastResponsiveness_->isAnswering;
    const bool answering = !AX::windows(*appElement_).isEmpty() || windowsTheWindowServerKeeps(windows_) == 0;
    lastResponsiveness_ = Responsiveness{now(), answering};
    return answering;
}

std::optional<int> AXProfileSource::windowsTheWindowServerKeeps(const std::vector<TrackedWindow>& windows) {
    std::vector<quint32> numbers;
    for (const TrackedWindow& window : windows)
        if (window.windowNumber)
            numbers.push_back(*window.windowNumber);
    if (!numbers.empty())
        return ChromeWindows::listedCount(numbers);
    if (!ChromeWindows::canSeeOtherApplicationsWindows())
        return std::nullopt;
    return ChromeWindows::onScreenCount();
}

void AXProfileSource::tellDelegate() {
    if (auto delegate = delegate_.lock())
        delegate->windowsDidChange(*this);
}

TrackedWindow* AXProfileSource::find(const AXWindowRef& ref) {
    for (TrackedWindow& window : windows_)
        if (window.ref == ref)
            return &window;
    return nullptr;
}

// MARK: Counts and reports

void AXProfileSource::updateProfiles(const std::vector<ChromeProfile>& profiles) {
    classifier_.profiles = profiles;
}

void AXProfileSource::updateWatched(const std::vector<WatchScope>& scopes) {
    watchedGroups_.clear();
    for (const WatchScope& scope : scopes)
        if (scope.tabGroup)
            watchedGroups_.insert(*scope.tabGroup);
    armGroupTimer();
}

void AXProfileSource::noteLaunch(const QString& profileDirectory) {
    PendingLaunch launch{profileDirectory, later(pendingLaunchLifetime), {}};
    if (appElement_ && trusted()) {
        for (const host::AXElement& window : AX::windows(*appElement_))
            launch.preexisting.insert(AXWindowRef{window});
    } else {
        for (const TrackedWindow& window : windows_)
            launch.preexisting.insert(window.ref);
    }
    pendingLaunches_.push_back(std::move(launch));
    updateFastTimer();
}

std::vector<TrackedWindow> AXProfileSource::windows(const WatchScope& scope) const {
    std::vector<TrackedWindow> found;
    const bool wholeProfile = !scope.tabGroup || scope.tabGroup->isEmpty();
    for (const TrackedWindow& window : windows_) {
        const Classification& c = window.classification;
        if (!c.profileDirectory || !sameName(*c.profileDirectory, scope.profileDirectory))
            continue;
        bool counts = false;
        switch (c.kind) {
        case WindowKind::browser:
            counts = !scope.tabGroup ||
                     std::any_of(window.groups.begin(), window.groups.end(),
                                 [&](const QString& group) { return sameName(group, *scope.tabGroup); });
            break;
        case WindowKind::app:
            counts = scope.countAppWindows && wholeProfile;
            break;
        case WindowKind::incognito:
            counts = scope.includeIncognito && wholeProfile;
            break;
        }
        if (counts)
            found.push_back(window);
    }
    return found;
}

std::optional<TrackedWindow> AXProfileSource::anyWindow(const WatchScope& scope) const {
    const auto found = windows(scope);
    if (found.empty())
        return std::nullopt;
    for (const TrackedWindow& window : found)
        if (AX::boolean(window.ref.element, QStringLiteral("AXMinimized")) != true)
            return window;
    return found.front();
}

bool AXProfileSource::isOpening(const QString& group) {
    const auto entry = pendingGroupOpens_.constFind(canonicalName(group));
    if (entry == pendingGroupOpens_.constEnd())
        return false;
    if (now() > *entry) {
        pendingGroupOpens_.remove(canonicalName(group));
        return false;
    }
    return true;
}

bool AXProfileSource::windowsWithUnreadableStrip(const QString& profileDirectory) const {
    return std::any_of(windows_.begin(), windows_.end(), [&](const TrackedWindow& window) {
        return window.classification.profileDirectory &&
               sameName(*window.classification.profileDirectory, profileDirectory) &&
               window.classification.kind == WindowKind::browser && window.didSeekTabStrip &&
               !window.tabStrip;
    });
}

ProfileWindowReport AXProfileSource::report(const WatchScope& scope) {
    if (!isChromeRunning())
        return {0, CountConfidence::certain, false};
    const auto counted = windows(scope);
    if (!counted.empty())
        return {qint64(counted.size()), CountConfidence::certain, true};

    const bool unsure =
        std::any_of(windows_.begin(), windows_.end(),
                    [](const TrackedWindow& window) { return window.classification.isUnclassified(); }) ||
        (settlingUntil_ && now() < *settlingUntil_) || !pendingLaunches_.empty() || !trusted();
    const bool answering = chromeIsAnsweringAX();
    CountConfidence confidence =
        (!answering || unsure) ? CountConfidence::unclassified : CountConfidence::certain;
    if (!scope.tabGroup)
        return {0, confidence, true};
    if (isOpening(*scope.tabGroup))
        confidence = CountConfidence::unclassified;
    if (scope.tabGroup->isEmpty())
        return {0, confidence, true};
    if (windowsWithUnreadableStrip(scope.profileDirectory))
        confidence = CountConfidence::unclassified;
    return {0, confidence, true};
}

// MARK: Tab groups, raising and closing

std::vector<TabGroupInfo> AXProfileSource::assemble(const QHash<QString, int>& open,
                                                    const QSet<QString>& saved) {
    QSet<QString> names = saved;
    for (auto it = open.begin(); it != open.end(); ++it)
        names.insert(it.key());
    QStringList sorted(names.begin(), names.end());
    std::sort(sorted.begin(), sorted.end(), NameOrder::less);
    std::vector<TabGroupInfo> groups;
    for (const QString& name : sorted)
        groups.push_back(TabGroupInfo{name, open.contains(name), saved.contains(name), open.value(name, 0)});
    return groups;
}

void AXProfileSource::tabGroups(const QString& profile, bool deep, TabGroupsCompletion completion) {
    completion = once(std::move(completion));
    refresh(QStringLiteral("listTabGroups"));
    refreshGroups(true);
    QHash<QString, int> open;
    QSet<QString> saved;
    for (const TrackedWindow& window : windows_) {
        if (!window.classification.profileDirectory ||
            !sameName(*window.classification.profileDirectory, profile) ||
            window.classification.kind != WindowKind::browser)
            continue;
        // Two groups of one name in a window are one window showing that name.
        QSet<QString> shown;
        for (const QString& name : window.groups)
            shown.insert(canonicalName(name));
        for (const QString& name : shown)
            open[name] += 1;
        for (const QString& name : TabGroupLocator::savedGroupNames(window.ref.element))
            saved.insert(canonicalName(name));
    }
    const auto window = anyWindow(profileOnly(profile));
    if (!deep || !window || !appElement_)
        return completion(assemble(open, saved));

    WindowActions::raise(window->ref.element);
    auto self = shared_from_this();
    const host::AXElement element = window->ref.element;
    host::mainQueue().schedule(deepScanDelay, [self, element, profile, open, saved, completion]() {
        const auto button = TabGroupLocator::appMenuButton(element);
        if (!button || !self->appElement_)
            return completion(assemble(open, saved));
        ChromeMenuDriver::list({ChromeMenuDriver::Matcher::loosely(tabGroupsMenuTitles)}, *button,
                               QStringLiteral("AXPress"), *self->appElement_,
                               [self, profile, open, saved, completion](QStringList labels) mutable {
                                   for (const QString& label : labels)
                                       if (const auto name = TabGroupLocator::groupName(label))
                                           saved.insert(canonicalName(*name));
                                   QStringList names(saved.begin(), saved.end());
                                   names.sort();
                                   Log::helper.info(QStringLiteral("deep scan of %1 found: %2")
                                                        .arg(profile, names.join(QStringLiteral(", "))));
                                   completion(assemble(open, saved));
                               });
    });
}

void AXProfileSource::raise(const WatchScope& scope, RaiseCompletion completion) {
    completion = once(std::move(completion));
    if (!trusted())
        return completion(RaiseOutcome::noWindows);
    if (!scope.tabGroup) {
        const auto window = anyWindow(scope);
        if (!window)
            return completion(RaiseOutcome::noWindows);
        WindowActions::raise(window->ref.element);
        return completion(RaiseOutcome::raised);
    }
    const QString& name = *scope.tabGroup;
    if (const auto window = anyWindow(scope)) {
        if (const auto strip = liveTabStrip(window->ref)) {
            if (const auto snapshot = TabGroupLocator::group(name, *strip)) {
                WindowActions::raise(window->ref.element);
                if (snapshot->firstTab)
                    host::accessibility().performAction(*snapshot->firstTab, QStringLiteral("AXPress"));
                else if (const auto chip = TabGroupLocator::savedChip(name, window->ref.element))
                    host::accessibility().performAction(*chip, QStringLiteral("AXPress"));
                else if (snapshot->expandsOnPress)
                    return expandAndActivate(name, window->ref, snapshot->header, std::move(completion));
                return completion(RaiseOutcome::raised);
            }
        }
    }
    openGroup(name, scope, std::move(completion));
}

// The tabs of a collapsed group are not shown, so none can be pressed (a saved group's button, which opens
// the group at its first tab, is pressed where there is one): the header expands the group, and its first
// tab is pressed once it is shown.
void AXProfileSource::expandAndActivate(const QString& name, const AXWindowRef& window,
                                        const host::AXElement& header, RaiseCompletion completion) {
    host::accessibility().performAction(header, QStringLiteral("AXPress"));
    const QDateTime deadline = later(expandBudget);
    auto check = std::make_shared<std::function<void()>>();
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    *check = [weak, name, window, deadline, completion, check]() {
        auto self = weak.lock();
        const auto strip = self ? self->liveTabStrip(window) : std::nullopt;
        const auto snapshot = strip ? TabGroupLocator::group(name, *strip) : std::nullopt;
        if (snapshot && snapshot->firstTab)
            host::accessibility().performAction(*snapshot->firstTab, QStringLiteral("AXPress"));
        else if (self && now() < deadline) {
            host::mainQueue().schedule(groupPollInterval, [check] {
                if (*check)
                    (*check)();
            });
            return;
        }
        const RaiseCompletion done = completion;
        *check = nullptr;
        done(RaiseOutcome::raised);
    };
    (*check)();
}

void AXProfileSource::openGroup(const QString& name, const WatchScope& scope, RaiseCompletion completion) {
    const auto window = anyWindow(profileOnly(scope.profileDirectory));
    if (!window)
        return completion(RaiseOutcome::noWindows);
    if (const auto chip = TabGroupLocator::savedChip(name, window->ref.element)) {
        WindowActions::raise(window->ref.element);
        if (host::accessibility().performAction(*chip, QStringLiteral("AXPress")) == host::AXError::success)
            return groupIsOpening(name, scope, std::move(completion));
    }
    const auto button = TabGroupLocator::appMenuButton(window->ref.element);
    if (!button || !appElement_)
        return completion(RaiseOutcome::groupNotFound);
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    raiseAndWaitUntilActive(window->ref.element, [weak, name, scope, button = *button, completion] {
        auto self = weak.lock();
        if (!self || !self->appElement_)
            return completion(RaiseOutcome::groupNotFound);
        self->chooseGroupFromMenus(name, scope, button, completion);
    });
}

void AXProfileSource::chooseGroupFromMenus(const QString& name, const WatchScope& scope,
                                           const host::AXElement& menuButton, RaiseCompletion completion) {
    const bool ownWindow = scope.tabGroup && !scope.tabGroup->isEmpty() && scope.ownWindow;
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    ChromeMenuDriver::choose(
        {ChromeMenuDriver::Matcher::loosely(tabGroupsMenuTitles), ChromeMenuDriver::Matcher::group(name),
         ChromeMenuDriver::Matcher::looselyIfAMenuOpens(ownWindow ? openInOwnWindowTitles : openTitles)},
        menuButton, QStringLiteral("AXPress"), *appElement_, [weak, name, scope, completion](bool chosen) {
            auto self = weak.lock();
            if (!chosen || !self) {
                if (self)
                    Log::ax.log(QStringLiteral("could not reopen tab group %1").arg(name));
                return completion(RaiseOutcome::groupNotFound);
            }
            self->groupIsOpening(name, scope, completion);
        });
}

// A menu opened before the window manager has made the raised window the active one never appears (measured
// with Chromium 156 on this desktop): the menus wait for the window to be active.
void AXProfileSource::raiseAndWaitUntilActive(const host::AXElement& window, std::function<void()> then) {
    WindowActions::raise(window);
    const QDateTime deadline = later(activationWait);
    auto check = std::make_shared<std::function<void()>>();
    *check = [window, deadline, then = std::move(then), check]() {
        if (AX::boolean(window, QStringLiteral("AXMain")) != true && now() < deadline) {
            host::mainQueue().schedule(activationPollInterval, [check] {
                if (*check)
                    (*check)();
            });
            return;
        }
        const std::function<void()> done = then;
        *check = nullptr;
        done();
    };
    (*check)();
}

void AXProfileSource::groupIsOpening(const QString& name, const WatchScope& scope,
                                     RaiseCompletion completion) {
    pendingGroupOpens_.insert(canonicalName(name), later(groupOpeningTime));
    armGroupTimer();
    if (scope.tabGroup && !scope.tabGroup->isEmpty() && scope.ownWindow)
        moveToOwnWindow(name, scope);
    completion(RaiseOutcome::openedGroup);
}

void AXProfileSource::moveToOwnWindow(const QString& name, const WatchScope& scope) {
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    waitForGroup(scope, moveBudget, true, [weak, name, scope](bool appeared) {
        auto self = weak.lock();
        if (!self || !self->appElement_)
            return;
        if (!appeared) {
            Log::ax.log(QStringLiteral("group never appeared; not moving it to its own window"));
            return;
        }
        const auto window = self->anyWindow(scope);
        if (!window)
            return;
        const auto strip = self->liveTabStrip(window->ref);
        if (!strip)
            return;
        const auto snapshot = TabGroupLocator::group(name, *strip);
        if (!snapshot || snapshot->tabCount >= TabGroupLocator::tabCount(*strip))
            return;
        WindowActions::raise(window->ref.element);
        ChromeMenuDriver::choose({ChromeMenuDriver::Matcher::loosely(moveTitles)}, snapshot->header,
                                 QStringLiteral("AXShowMenu"), *self->appElement_, [](bool moved) {
                                     if (!moved)
                                         Log::ax.log(
                                             QStringLiteral("could not move the group to its own window"));
                                 });
    });
}

void AXProfileSource::waitForGroup(const WatchScope& scope, double budget, bool toBePresent,
                                   WaitCompletion completion) {
    const QDateTime deadline = later(budget);
    auto check = std::make_shared<std::function<void()>>();
    auto self = shared_from_this();
    *check = [self, scope, toBePresent, deadline, completion, check]() {
        self->refresh(QStringLiteral("await-group"));
        self->refreshGroups(true);
        const bool present = !self->windows(scope).empty();
        if (present != toBePresent && now() < deadline) {
            host::mainQueue().schedule(groupPollInterval, [check] {
                if (*check)
                    (*check)();
            });
            return;
        }
        // Letting the poll go destroys this closure and what it captured: keep what is still needed first.
        const bool reached = present == toBePresent;
        const WaitCompletion done = completion;
        *check = nullptr;
        done(reached);
    };
    (*check)();
}

void AXProfileSource::waitForGroupToGo(const WatchScope& scope, double budget, WaitCompletion completion) {
    waitForGroup(scope, budget, false, std::move(completion));
}

void AXProfileSource::close(const WatchScope& scope, std::optional<qint64> limit, double budget,
                            CloseCompletion completion) {
    completion = once(std::move(completion));
    if (scope.tabGroup)
        return closeGroup(*scope.tabGroup, scope, std::move(completion));
    const std::vector<TrackedWindow> closing = windows(scope);
    QList<host::AXElement> elements;
    for (const TrackedWindow& window : closing)
        elements.append(window.ref.element);
    // A negative limit asks for nothing to be closed.
    if (limit && *limit < elements.size())
        elements = elements.mid(0, std::max<qint64>(*limit, 0));
    WindowActions::close(
        elements, budget, perWindowCloseTimeout,
        [application = appElement_, closing](const host::AXElement& window) {
            // A gone window may still answer from the accessibility library's cache: it is open while Chrome
            // lists it.
            if (!AX::string(window, QStringLiteral("AXRole")))
                return false;
            if (!application)
                return true;
            const QList<host::AXElement> listed = AX::windows(*application);
            if (!listed.isEmpty())
                return listed.contains(window);
            // Chrome lists nothing once its last window has gone, and also while it does not answer: the
            // window server tells the two apart by this window's number, minimised or not.
            std::vector<TrackedWindow> asked;
            std::copy_if(closing.begin(), closing.end(), std::back_inserter(asked),
                         [&](const TrackedWindow& tracked) { return tracked.ref.element == window; });
            return windowsTheWindowServerKeeps(asked) != 0;
        },
        [completion](CloseOutcome outcome) {
            completion(CloseResult{outcome.closed, outcome.remaining, outcome.blocked});
        });
}

void AXProfileSource::closeGroup(const QString& name, const WatchScope& scope, CloseCompletion completion) {
    if (!trusted() || !appElement_)
        return completion(CloseResult{0, 0, false});
    const auto window = anyWindow(scope);
    const auto strip = window ? liveTabStrip(window->ref) : std::nullopt;
    const auto snapshot = strip ? TabGroupLocator::group(name, *strip) : std::nullopt;
    if (!snapshot)
        return completion(CloseResult{0, 0, false});
    WindowActions::raise(window->ref.element);
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    const host::AXElement header = snapshot->header;
    host::mainQueue().schedule(closeGroupDelay, [weak, header, scope, completion] {
        auto self = weak.lock();
        if (!self || !self->appElement_)
            return completion(CloseResult{0, 1, false});
        self->chooseGroupClose(header, scope, completion);
    });
}

void AXProfileSource::chooseGroupClose(const host::AXElement& header, const WatchScope& scope,
                                       CloseCompletion completion) {
    std::weak_ptr<AXProfileSource> weak = weak_from_this();
    ChromeMenuDriver::choose({ChromeMenuDriver::Matcher::loosely(closeTitles)}, header,
                             QStringLiteral("AXShowMenu"), *appElement_,
                             [weak, scope, completion](bool chosen) {
                                 auto self = weak.lock();
                                 if (!chosen || !self)
                                     return completion(CloseResult{0, 1, false});
                                 self->waitForGroupToGo(scope, closeGroupBudget, [completion](bool gone) {
                                     completion(gone ? CloseResult{1, 0, false} : CloseResult{0, 1, false});
                                 });
                             });
}
