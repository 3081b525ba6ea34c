#pragma once

#include "CorvaneHost/Panels.h"

namespace host {

// A program without a window system: no panel can be shown, so every panel counts as cancelled. The creator
// app installs its window's panels at start.
class UnavailablePanels final : public Panels {
public:
    std::optional<QString> chooseDirectory(const OpenPanelOptions&) override { return std::nullopt; }
    std::optional<QString> chooseApplication(const OpenPanelOptions&) override { return std::nullopt; }
};

} // namespace host
