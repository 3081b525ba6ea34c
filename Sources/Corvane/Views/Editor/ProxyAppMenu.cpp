#include "Corvane/Views/Editor/ProxyAppMenu.h"

#include <QPointer>
#include <algorithm>

namespace {

MenuEntry entry(const QString& title, std::function<void()> action, bool enabled = true) {
    MenuEntry made;
    made.title = title;
    made.enabled = enabled;
    made.action = std::move(action);
    return made;
}

} // namespace

std::vector<MenuEntry> proxyAppMenuItems(AppModel& model, const AppModel::Selection& item) {
    using Kind = AppModel::Selection::Kind;
    std::vector<MenuEntry> entries;
    // The entries outlive the menu's opening; a model gone by the time one is chosen does nothing.
    QPointer<AppModel> guard(&model);

    if (const auto state = model.state(item); state && model.canCreateProxyApps()) {
        entries.push_back(entry(QStringLiteral("Duplicate"), [guard, state = *state] {
            if (guard && guard->canCreateProxyApps())
                guard->navigate(AppModel::PendingNavigation::duplicate(state));
        }));
    }

    switch (item.kind) {
    case Kind::rules:
    case Kind::system:
    case Kind::recentLinks:
        break;
    case Kind::draft:
        entries.push_back(MenuEntry::divider());
        entries.push_back(entry(QStringLiteral("Discard"), [guard, id = item.draftID] {
            if (guard)
                guard->discardDraft(id);
        }));
        break;
    case Kind::saved: {
        const auto& apps = model.apps();
        const auto found = std::find_if(apps.begin(), apps.end(), [&](const RegisteredApp& app) {
            return app.bundleID == item.bundleID;
        });
        if (found == apps.end())
            break;
        const RegisteredApp app = *found;
        auto act = [guard, app](void (AppModel::*action)(const RegisteredApp&)) {
            return [guard, app, action] {
                if (guard)
                    (guard.data()->*action)(app);
            };
        };
        if (!app.isMissing && app.existsOnDisk()) {
            if (app.needsRebuild() && model.canCreateProxyApps()) {
                entries.push_back(entry(
                    QStringLiteral("Update to Latest"),
                    [guard, app] {
                        if (guard)
                            guard->rebuild({app});
                    },
                    !model.isBusy()));
                entries.push_back(MenuEntry::divider());
            }
            entries.push_back(entry(QStringLiteral("Reveal in Finder"), act(&AppModel::revealInFinder)));
            entries.push_back(entry(QStringLiteral("Re-apply Icon"), act(&AppModel::stampFinderIcon)));
            entries.push_back(MenuEntry::divider());
            entries.push_back(entry(QStringLiteral("Move to Trash…"), act(&AppModel::deleteApp)));
        } else {
            entries.push_back(entry(QStringLiteral("Locate…"), act(&AppModel::locate)));
            entries.push_back(MenuEntry::divider());
            entries.push_back(entry(QStringLiteral("Forget"), act(&AppModel::forget)));
        }
        break;
    }
    }
    return entries;
}
