#pragma once

#include "CorvaneHost/Alerts.h"

#include <functional>
#include <optional>
#include <vector>

namespace test {

// Alerts that stay open until the test dismisses them (or are dismissed at once with `autoDismiss`).
class ScriptedAlerts final : public host::Alerts {
public:
    void runModal(const host::Alert& alert, std::function<void(int button)> completion) override;
    // Dismisses the oldest open alert with `button`; false when none is open.
    bool dismiss(int button = 0);

    std::optional<int> autoDismiss;
    std::vector<host::Alert> shown;
    size_t openCount() const { return open_.size(); }

private:
    std::vector<std::function<void(int)>> open_;
};

} // namespace test
