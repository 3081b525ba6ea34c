#pragma once

#include "CorvaneHost/Alerts.h"

namespace host {

// Alerts as Qt message boxes, run modally in a nested event loop (timers and events keep running meanwhile).
class WidgetAlerts final : public Alerts {
public:
    void runModal(const Alert& alert, std::function<void(int button)> completion) override;
};

} // namespace host
