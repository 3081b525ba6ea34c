#include "Corvane/Models/SourceApps.h"
#include "Corvane/Models/RoutingModel.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Panels.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <map>

size_t qHash(const SourceApp& app, size_t seed) noexcept {
    return qHashMulti(seed, app.bundleID, app.name, app.wasSeen);
}

std::vector<SourceApp> RoutingModel::sourceApps() const {
    std::map<QString, SourceApp> byID;
    for (const RecentLink& link : recentLinks_) {
        if (!link.sourceBundleID || link.sourceBundleID->isEmpty())
            continue;
        const QString& identifier = *link.sourceBundleID;
        byID[identifier] = SourceApp{identifier, link.sourceName.value_or(identifier), true};
    }
    for (const host::RunningApplication& running : host::workspace().runningApplications()) {
        const QString& identifier = running.bundleIdentifier;
        if (!running.isRegular || identifier.isEmpty() || Corvane::isOurBundleID(identifier) ||
            byID.count(identifier))
            continue;
        const QString name = running.localizedName.isEmpty() ? identifier : running.localizedName;
        byID[identifier] = SourceApp{identifier, name, false};
    }
    std::vector<SourceApp> apps;
    apps.reserve(byID.size());
    for (auto& [identifier, app] : byID)
        apps.push_back(std::move(app));
    std::stable_sort(apps.begin(), apps.end(), [](const SourceApp& a, const SourceApp& b) {
        if (a.wasSeen != b.wasSeen)
            return a.wasSeen;
        return a.name.toLower() < b.name.toLower();
    });
    return apps;
}

QString RoutingModel::sourceAppName(const QString& bundleID) const {
    for (const SourceApp& app : sourceApps())
        if (app.bundleID == bundleID)
            return app.name;
    if (const auto path = host::workspace().urlForApplication(bundleID))
        return QFileInfo(*path).completeBaseName();
    return bundleID;
}

std::optional<SourceApp> RoutingModel::chooseSourceApp() {
    host::OpenPanelOptions options;
    options.prompt = QStringLiteral("Choose");
    options.message = QStringLiteral("Which app should this rule match links from?");
    options.startDirectory = QStringLiteral("/Applications");
    const auto path = host::panels().chooseApplication(options);
    if (!path || path->isEmpty())
        return std::nullopt;
    const auto info = host::workspace().bundleInfo(*path);
    if (!info)
        return std::nullopt;
    const QString identifier = info->value(QStringLiteral("CFBundleIdentifier")).toString();
    if (identifier.isEmpty())
        return std::nullopt;
    return SourceApp{identifier, QFileInfo(*path).completeBaseName(), false};
}
