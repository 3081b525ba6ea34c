#pragma once

#include "CorvaneHost/Panels.h"

#include <QString>
#include <vector>

namespace host {

// An application the chooser offers: a bundle folder of the application folders, or a desktop entry.
struct ApplicationChoice {
    QString name;
    QString path;     // the bundle folder or the entry file: what the chooser answers
    QString iconFile; // empty when there is none
    bool operator==(const ApplicationChoice&) const = default;
};

// The desktop's applications by name: the bundles of the application folders, then every application entry
// of the desktop's entry folders that is shown in menus (an entry written for a bundle stands for that
// bundle, so it is listed once, as the bundle).
std::vector<ApplicationChoice> applicationChoices();

// The open panels as modal Qt dialogs: a folder dialog, and an application chooser that lists the desktop's
// applications by name and icon, with a field for a bundle folder's path.
class WidgetPanels final : public Panels {
public:
    std::optional<QString> chooseDirectory(const OpenPanelOptions& options) override;
    std::optional<QString> chooseApplication(const OpenPanelOptions& options) override;
};

} // namespace host
