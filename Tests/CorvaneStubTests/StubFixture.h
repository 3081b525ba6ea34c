#pragma once

// The launcher in virtual time, with the helper, the workspace, the window list, the notices, the alerts and
// the menu played by doubles.
#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Alerts.h"
#include "CorvaneHost/MenuBar.h"
#include "CorvaneHost/Notifications.h"
#include "CorvaneStub/StubAppDelegate.h"
#include "Support/FakeHelperLink.h"
#include "Support/FakeWindowList.h"
#include "Support/FakeWorkspace.h"
#include "Support/HelperDoubles.h"
#include "Support/LogCapture.h"
#include "Support/RecordingMenuBar.h"
#include "Support/RecordingNotifications.h"
#include "Support/ScriptedAlerts.h"
#include "Support/VirtualTime.h"

#include <gtest/gtest.h>

namespace test {

inline const QString noDefaultBrowserCheck = QStringLiteral("--no-default-browser-check");

struct StubFixture : testing::Test {
    VirtualTimeScope time;
    LogCapture log;
    FakeWorkspaceScope workspace;
    HelperHostScope host;
    std::shared_ptr<FakeWindowList> windows = std::make_shared<FakeWindowList>();
    WindowListScope windowScope{windows};
    std::shared_ptr<RecordingNotifications> notifications = std::make_shared<RecordingNotifications>();
    ServiceOverride<host::Notifications> notificationsScope{host::services().notifications, notifications};
    std::shared_ptr<ScriptedAlerts> alerts = std::make_shared<ScriptedAlerts>();
    ServiceOverride<host::Alerts> alertsScope{host::services().alerts, alerts};
    std::shared_ptr<RecordingMenuBar> menuBar = std::make_shared<RecordingMenuBar>();
    ServiceOverride<host::MenuBar> menuBarScope{host::services().menuBar, menuBar};

    std::shared_ptr<FakeHelperLink> link = std::make_shared<FakeHelperLink>();
    std::shared_ptr<StubAppDelegate> delegate;
    QString chromePath;
    static constexpr qint32 chromePID = 4711;

    StubConfig config{QStringLiteral("Profile 3"), QStringLiteral("Work")};
    QVariantMap info{{QStringLiteral("CFBundleName"), QStringLiteral("Work Mail")},
                     {QStringLiteral("CFBundleIdentifier"), QStringLiteral("app.corvane.0123456789ab")},
                     {QStringLiteral("CVNStubRevision"), 5}};

    void SetUp() override {
        Corvane::ensureSupportDirectory();
        // The notices' throttles are kept on disk, and every test starts at the same virtual moment.
        WarnThrottle::reset(QStringLiteral("group-missing"));
        WarnThrottle::reset(QStringLiteral("accessibility"));
        chromePath = workspace->addApplication(QStringLiteral("Google Chrome"),
                                               FakeWorkspace::browserInfo(Corvane::chromeBundleID));
    }

    StubConfig groupConfig() const {
        StubConfig group = config;
        group.tabGroupName = QStringLiteral("Inbox");
        return group;
    }

    // Starts the launcher: will finish launching, the launch's open events, did finish launching.
    void start(const std::vector<host::AppleEvent>& launchEvents = {}) {
        delegate = std::make_shared<StubAppDelegate>(config, info, QString(), link);
        host.application().setDelegate(delegate);
        host.application().launchEvents = launchEvents;
        host.application().run();
    }
    void startWithHelper(const std::vector<host::AppleEvent>& launchEvents = {}) {
        link->helperAnswers = true;
        start(launchEvents);
    }

    void chromeRuns() {
        workspace->addRunning(
            {chromePID, Corvane::chromeBundleID, QStringLiteral("Google Chrome"), chromePath});
    }
    // Chrome was asked to start but is not listed as running (yet, or because it failed to come up).
    void chromeNotListed() {
        for (const auto& running : workspace->runningApplications(Corvane::chromeBundleID))
            workspace->terminate(running.processIdentifier);
    }
    void openLinks(const QList<QUrl>& urls) {
        for (const host::AppleEvent& event : host::AppleEvent::forOpening(urls, std::nullopt))
            host.application().dispatch(event);
    }
    void reopen() { host.application().dispatch(host::AppleEvent::reopen(std::nullopt)); }

    // The argument vectors of every Chrome launch, in order.
    std::vector<QStringList> chromeLaunches() {
        std::vector<QStringList> launches;
        for (const auto& open : workspace.workspace().opens)
            if (open.appPath == chromePath && open.configuration.createsNewApplicationInstance)
                launches.push_back(open.configuration.arguments);
        return launches;
    }
    QStringList profileLaunch(const QStringList& links = {}) const {
        return QStringList{noDefaultBrowserCheck, QStringLiteral("--profile-directory=Profile 3")} + links;
    }

    Event windowsEvent(qint64 count, CountConfidence confidence = CountConfidence::certain,
                       std::optional<QString> profile = QStringLiteral("Profile 3"),
                       std::optional<QString> group = std::nullopt) const {
        Event event(Event::Kind::windows);
        event.profileDirectory = profile;
        event.tabGroup = group;
        event.count = count;
        event.confidence = confidence;
        return event;
    }
    void helperTrusted() {
        Event event(Event::Kind::axPermission);
        event.trusted = true;
        link->push(event);
    }
    bool terminated() { return host.application().terminated; }
};

} // namespace test
