#include "Corvane/Models/AppModel.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneCore/Routing/AppSettings.h"
#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Error.h"
#include "CorvaneHost/Services.h"

#include <QPointer>

void AppModel::load() {
    setRenameOutcome(RenameMigration::runIfNeeded());
    setProfiles(ChromeProfiles::load());

    registry_ = Registry::load();
    registry_.rescan();
    // Registry::save keeps a file it could not decode beside the new one before it writes.
    saveRegistry();
    republishApps();

    try {
        const bool installed =
            installHelper ? installHelper(false) : HelperInstaller::installFromCreatorBundle(false);
        if (installed)
            setStatusMessage(QStringLiteral("Updated the background helper."));
    } catch (const std::exception& error) {
        Log::creator.error(QStringLiteral("helper install failed: %1").arg(host::describe(error)));
    }

    SettingsStore::shared().reloadIfChanged();
    setHelperDisabled(SettingsStore::shared().settings().disablesHelper);
    setCanCreateProxyApps(HelperProbe::isAvailable());

    if (loadSymbolCatalog) {
        host::runInBackground(loadSymbolCatalog,
                              [guard = QPointer<AppModel>(this)](const SymbolCatalog::Catalog& catalog) {
                                  if (guard)
                                      guard->setSymbolCatalog(catalog);
                              });
    }

    QPointer<AppModel> guard(this);
    probe_->onChange = [guard] {
        host::mainQueue().async([guard] {
            if (guard)
                guard->refreshHelperStatus();
        });
    };
    probe_->onHistoryChanged = [guard] {
        host::mainQueue().async([guard] {
            if (guard && guard->onRoutingHistoryChanged)
                guard->onRoutingHistoryChanged();
        });
    };
    probe_->start();

    if (!apps_.empty())
        select(Selection::saved(registry_.apps.front().bundleID));
    offerMigrationIfNeeded();
}

void AppModel::refreshHelperStatus() {
    const bool usableNow = probe_->connected && probe_->trusted;
    const bool justBecameUsable = usableNow && !(helperRunning_ && helperTrusted_);
    // Polled every few seconds: only what changed is announced, so a quiet poll redraws nothing.
    if (helperRunning_ != probe_->connected)
        setHelperRunning(probe_->connected);
    if (helperTrusted_ != probe_->trusted)
        setHelperTrusted(probe_->trusted);
    SettingsStore::shared().reloadIfChanged();
    if (const bool disabled = SettingsStore::shared().settings().disablesHelper; helperDisabled_ != disabled)
        setHelperDisabled(disabled);
    if (const bool available = HelperProbe::isAvailable(); canCreateProxyApps_ != available)
        setCanCreateProxyApps(available);
    if (justBecameUsable)
        loadTabGroups(editor_.profileDirectory, true);
}

std::optional<QString> AppModel::repairHelperGrant() {
    const HelperProbe::GrantRepair repair = probe_->repairGrant();
    if (repair.ran && !repair.failure)
        setStatusMessage(
            QStringLiteral("Cleared the helper's Accessibility entry. Grant it again when prompted."));
    return repair.failure;
}

void AppModel::helperUseChanged() {
    SettingsStore::shared().reloadIfChanged();
    if (SettingsStore::shared().settings().disablesHelper)
        probe_->link->shutdown();
    else
        probe_->start();
    refreshHelperStatus();
    if (!canCreateProxyApps_) {
        setTabGroups({});
        setDeepTabGroups({});
        if (selection_ &&
            (selection_->kind == Selection::Kind::saved || selection_->kind == Selection::Kind::draft))
            performSelect(Selection::system());
    } else {
        loadTabGroups(editor_.profileDirectory, true);
    }
}
