#include "Corvane/Models/HelperProbe.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneCore/Routing/AppSettings.h"
#include "CorvaneHost/Error.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QCoreApplication>
#include <QFileInfo>

HelperProbe::HelperProbe(std::shared_ptr<HelperConnection> link)
    : link(link ? std::move(link) : std::make_shared<SocketHelperConnection>()) {}

bool HelperProbe::helperUseIsOff() {
    SettingsStore& store = SettingsStore::shared();
    store.reloadIfChanged();
    return store.settings().disablesHelper;
}

void HelperProbe::start() {
    if (helperUseIsOff()) {
        connected = false;
        trusted = false;
        if (onChange)
            onChange();
        Log::creator.log(QStringLiteral("helper use is switched off; not connecting"));
        return;
    }
    std::weak_ptr<HelperProbe> weak = weak_from_this();
    link->onStateChange = [weak](HelperConnection::State state) {
        const auto probe = weak.lock();
        if (!probe)
            return;
        probe->connected = state == HelperConnection::State::connected;
        if (!probe->connected)
            probe->trusted = false;
        if (probe->onChange)
            probe->onChange();
    };
    link->onEvent = [weak](const Event& event) {
        const auto probe = weak.lock();
        if (!probe)
            return;
        switch (event.event) {
        case Event::Kind::axPermission:
            probe->trusted = event.trusted.value_or(false);
            if (probe->onChange)
                probe->onChange();
            break;
        case Event::Kind::routingHistoryChanged:
            if (probe->onHistoryChanged)
                probe->onHistoryChanged();
            break;
        default:
            break;
        }
    };
    Request hello(0, Request::Op::hello);
    hello.bundleID = Corvane::creatorBundleID;
    hello.pid = static_cast<qint32>(QCoreApplication::applicationPid());
    link->connect(hello);
}

bool HelperProbe::isAvailable() {
    if (helperUseIsOff())
        return false;
    return QFileInfo::exists(Corvane::installedHelperURL());
}

void HelperProbe::requestGrant() {
    if (helperUseIsOff()) {
        Log::creator.log(QStringLiteral("helper use is switched off; not installing or launching it"));
        return;
    }
    try {
        HelperInstaller::installFromCreatorBundle(false);
    } catch (const std::exception&) {
        // Opening whatever copy is installed is still worth a try.
    }
    host::OpenConfiguration configuration;
    configuration.activates = false;
    configuration.addsToRecentItems = false;
    host::workspace().openApplication(
        Corvane::installedHelperURL(), configuration,
        [](std::optional<host::RunningApplication>, std::optional<host::SystemError>) {});
}

HelperProbe::GrantRepair HelperProbe::repairGrant() {
    if (helperUseIsOff()) {
        // Nothing was tried, so nothing failed: the switch itself is the user's choice, not an error.
        Log::creator.log(QStringLiteral("helper use is switched off; not repairing the grant"));
        return {};
    }
    link->shutdown();
    HelperInstaller::terminateRunningHelper();
    std::optional<QString> failure;
    try {
        HelperInstaller::run(
            QStringLiteral("/usr/bin/tccutil"),
            {QStringLiteral("reset"), QStringLiteral("Accessibility"), Corvane::helperBundleID});
    } catch (const std::exception& error) {
        // The grant is asked for again all the same; the caller tells the user the entry is still there.
        failure = host::describe(error);
    }
    requestGrant();
    std::weak_ptr<HelperProbe> weak = weak_from_this();
    host::mainQueue().schedule(restartDelay, [weak] {
        if (const auto probe = weak.lock())
            probe->start();
    });
    return {true, failure};
}

void HelperProbe::tabGroups(const QString& profile, bool deep, TabGroupsCompletion completion) {
    if (!connected || !trusted) {
        host::mainQueue().async(
            [completion = std::move(completion)] { completion({}, QStringLiteral("not connected")); });
        return;
    }
    link->request(
        Request::Op::listTabGroups, deep ? deepListTimeout : listTimeout,
        [profile, deep](Request& request) {
            request.profileDirectory = profile;
            request.deep = deep;
        },
        [completion = std::move(completion)](const Response& response) {
            std::optional<QString> failure;
            if (!response.ok)
                failure = response.error.value_or(QStringLiteral("the helper could not list the tab groups"));
            completion(response.tabGroups.value_or(std::vector<TabGroupInfo>{}), failure);
        });
}
