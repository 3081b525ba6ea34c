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

} // namespace test
