#include "Corvane/Models/AppModel.h"

#include "CorvaneCore/Foundation/NameOrder.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Desktop.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QPointer>
#include <algorithm>

void AppModel::loadTabGroups(const QString& profileDirectory, bool force) {
    if (profileDirectory.isEmpty())
        return;
    if (!force && tabGroups_.contains(profileDirectory))
        return;
    if (!helperRunning_ || !helperTrusted_)
        return;
    setIsLoadingTabGroups(true);
    QPointer<AppModel> guard(this);
    probe_->tabGroups(
        profileDirectory, false,
        [guard, profileDirectory](const std::vector<TabGroupInfo>& groups, const std::optional<QString>&) {
            host::mainQueue().async([guard, profileDirectory, groups] {
                if (!guard)
                    return;
                guard->tabGroups_.insert(profileDirectory, groups);
                emit guard->tabGroupsChanged();
                guard->setIsLoadingTabGroups(false);
            });
        });
}

void AppModel::findAllTabGroups() {
    const QString profile = editor_.profileDirectory;
    if (profile.isEmpty() || !helperRunning_ || !helperTrusted_) {
        setErrorMessage(QStringLiteral(
            "Corvane needs Accessibility, and Chrome needs to be running, to look for closed tab groups."));
        return;
    }
    setIsDeepScanning(true);
    setErrorMessage(std::nullopt);
    setStatusMessage(std::nullopt);
    const auto chrome = host::workspace().runningApplications(Corvane::chromeBundleID);
    if (chrome.empty()) {
        // Without Chrome there are no menus to read: a request now would only report "no tab groups".
        setErrorMessage(QStringLiteral("Chrome isn't running."));
        setIsDeepScanning(false);
        return;
    }
    host::desktop().activateApplication(chrome.front().processIdentifier);
    QPointer<AppModel> guard(this);
    host::mainQueue().schedule(deepScanDelay, [guard, profile] {
        if (!guard)
            return;
        guard->probe_->tabGroups(
            profile, true,
            [guard, profile](const std::vector<TabGroupInfo>& groups, const std::optional<QString>& failure) {
                host::mainQueue().async([guard, profile, groups, failure] {
                    if (!guard)
                        return;
                    guard->setIsDeepScanning(false);
                    host::desktop().activateSelf();
                    // A failed scan found nothing out: it is reported as such and not kept as the profile's
                    // answer.
                    if (failure) {
                        guard->setErrorMessage(QStringLiteral("Couldn't look for closed tab groups: ") +
                                               *failure);
                        return;
                    }
                    guard->deepTabGroups_.insert(profile, groups);
                    emit guard->deepTabGroupsChanged();
                    if (groups.empty()) {
                        guard->setStatusMessage(
                            QStringLiteral("Chrome reports no tab groups in this profile."));
                        return;
                    }
                    const int count = static_cast<int>(groups.size());
                    const int closed = static_cast<int>(
                        std::count_if(groups.begin(), groups.end(),
                                      [](const TabGroupInfo& group) { return !group.isOpen; }));
                    QString message =
                        QStringLiteral("Found %1 tab group%2").arg(count).arg(count == 1 ? "" : "s");
                    message += closed == 0 ? QStringLiteral(".")
                                           : QStringLiteral(", %1 of them closed.").arg(closed);
                    guard->setStatusMessage(message);
                });
            });
    });
}

std::vector<TabGroupInfo> AppModel::tabGroupsForEditor() const {
    const QString& profile = editor_.profileDirectory;
    std::vector<TabGroupInfo> groups = tabGroups_.value(profile);
    const auto deep = deepTabGroups_.constFind(profile);
    if (deep == deepTabGroups_.constEnd())
        return groups;
    const std::vector<TabGroupInfo> open = groups;
    for (const TabGroupInfo& group : *deep) {
        const bool isListed = std::any_of(open.begin(), open.end(), [&](const TabGroupInfo& candidate) {
            return candidate.name == group.name;
        });
        if (!isListed)
            groups.push_back(group);
    }
    std::stable_sort(groups.begin(), groups.end(), [](const TabGroupInfo& a, const TabGroupInfo& b) {
        return NameOrder::compare(a.name, b.name) < 0;
    });
    return groups;
}

bool AppModel::didDeepScanEditorProfile() const {
    return deepTabGroups_.contains(editor_.profileDirectory);
}
