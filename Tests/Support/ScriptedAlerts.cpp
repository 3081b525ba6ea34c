#include "Support/ScriptedAlerts.h"

namespace test {

void ScriptedAlerts::runModal(const host::Alert& alert, std::function<void(int button)> completion) {
    shown.push_back(alert);
    if (autoDismiss) {
        completion(*autoDismiss);
        return;
    }
    open_.push_back(std::move(completion));
}

bool ScriptedAlerts::dismiss(int button) {
    if (open_.empty())
        return false;
    auto completion = std::move(open_.front());
    open_.erase(open_.begin());
    completion(button);
    return true;
}

void RecordingMenuBar::setMainMenu(const host::Menu& installed, const QString& icon) {
    menu = installed;
    iconPath = icon;
    ++installs;
}

bool RecordingMenuBar::choose(const QString& title) const {
    if (!menu)
        return false;
    for (const host::MenuItem& item : menu->items)
        if (!item.isSeparator && item.title == title) {
            if (item.action)
                item.action();
            return true;
        }
    return false;
}

} // namespace test
