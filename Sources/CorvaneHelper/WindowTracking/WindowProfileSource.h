#pragma once

#include "CorvaneCore/Messaging/IPCProtocol.h"

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct ChromeProfile;
class WindowProfileSource;

// What one proxy app's connection watches: a Chrome profile, optionally one of its tab groups, and how its
// windows are counted.
struct WatchScope {
    QString profileDirectory;
    std::optional<QString> tabGroup; // none: the whole profile
    bool includeIncognito = true;
    bool countAppWindows = false;
    bool ownWindow = true;

    // Names compare as text, not as code units: canonically equivalent spellings (composed or decomposed
    // accents) are the same name.
    bool operator==(const WatchScope& other) const;
};

size_t qHash(const WatchScope& scope, size_t seed = 0) noexcept;

// Names of Chrome's profiles and tab groups are equal as text, wherever they are compared: canonically
// equivalent spellings (composed or decomposed accents) are one name. canonicalName() is the spelling that
// keys them.
QString canonicalName(const QString& name);
bool sameName(const QString& a, const QString& b);

template <> struct std::hash<WatchScope> {
    size_t operator()(const WatchScope& scope) const noexcept { return qHash(scope); }
};

// The windows that count for one scope, as the tracker sees them now.
struct ProfileWindowReport {
    qint64 count = 0;
    CountConfidence confidence = CountConfidence::certain;
    bool chromeRunning = false;

    bool operator==(const ProfileWindowReport&) const = default;
};

enum class RaiseOutcome { raised, openedGroup, noWindows, groupNotFound };

QString toString(RaiseOutcome outcome);

struct CloseResult {
    qint64 closed = 0;
    qint64 remaining = 0;
    bool blocked = false;

    bool operator==(const CloseResult&) const = default;
};

// Told by the tracker, on the main thread, after every change it notices in Chrome's windows, their
// classification or their tab groups, after Chrome's launch or exit and after every attach.
class WindowProfileSourceDelegate {
public:
    virtual ~WindowProfileSourceDelegate() = default;
    virtual void windowsDidChange(WindowProfileSource& source) = 0;
};

// How the helper's delegate holds and drives the Chrome window tracker. Everything runs on the main thread;
// each completion is called exactly once, on the main thread. Nothing here reports an error: a failed read
// gives the neutral answer (no windows, a zero count marked unclassified, nothing closed).
class WindowProfileSource {
public:
    using RaiseCompletion = std::function<void(RaiseOutcome)>;
    using CloseCompletion = std::function<void(CloseResult)>;
    using TabGroupsCompletion = std::function<void(std::vector<TabGroupInfo>)>;

    virtual ~WindowProfileSource() = default;

    // Held weakly: the tracker never keeps its delegate alive.
    virtual void setDelegate(std::weak_ptr<WindowProfileSourceDelegate> delegate) = 0;
    virtual std::weak_ptr<WindowProfileSourceDelegate> delegate() const = 0;

    // The Chrome application the tracker is attached to; none while detached.
    virtual std::optional<qint32> chromePID() const = 0;
    // A Chrome application is running now.
    virtual bool isChromeRunning() const = 0;
    // The number of Chrome windows the tracker knows of (diagnostics; the delegate does not read it).
    virtual qint64 trackedWindowCount() const = 0;

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void refresh(const QString& reason) = 0;
    virtual void updateProfiles(const std::vector<ChromeProfile>& profiles) = 0;
    virtual void updateWatched(const std::vector<WatchScope>& scopes) = 0;
    virtual void noteLaunch(const QString& profileDirectory) = 0;
    virtual ProfileWindowReport report(const WatchScope& scope) = 0;
    virtual void raise(const WatchScope& scope, RaiseCompletion completion) = 0;
    virtual void close(const WatchScope& scope, std::optional<qint64> limit, double budget,
                       CloseCompletion completion) = 0;
    virtual void tabGroups(const QString& profile, bool deep, TabGroupsCompletion completion) = 0;
};

// The tracker that stands in where this machine has no accessibility interface: it sees no windows and
// answers every operation at once with the neutral result (a zero count, nothing to raise, nothing closed, no
// tab groups). The zero is certain while Chrome is not running, and unclassified while it runs unseen.
class NullProfileSource final : public WindowProfileSource {
public:
    void setDelegate(std::weak_ptr<WindowProfileSourceDelegate> delegate) override { delegate_ = delegate; }
    std::weak_ptr<WindowProfileSourceDelegate> delegate() const override { return delegate_; }
    std::optional<qint32> chromePID() const override { return std::nullopt; }
    bool isChromeRunning() const override;
    qint64 trackedWindowCount() const override { return 0; }

    void start() override {}
    void stop() override {}
    void refresh(const QString&) override {}
    void updateProfiles(const std::vector<ChromeProfile>&) override {}
    void updateWatched(const std::vector<WatchScope>&) override {}
    void noteLaunch(const QString&) override {}
    ProfileWindowReport report(const WatchScope&) override;
    void raise(const WatchScope&, RaiseCompletion completion) override {
        completion(RaiseOutcome::noWindows);
    }
    void close(const WatchScope&, std::optional<qint64>, double, CloseCompletion completion) override {
        completion(CloseResult{0, 0, false});
    }
    void tabGroups(const QString&, bool, TabGroupsCompletion completion) override { completion({}); }

private:
    std::weak_ptr<WindowProfileSourceDelegate> delegate_;
};

// The tracker the helper runs with: the accessibility tracker wherever this machine has an accessibility
// interface, else a NullProfileSource.
std::shared_ptr<WindowProfileSource> makeWindowProfileSource();
