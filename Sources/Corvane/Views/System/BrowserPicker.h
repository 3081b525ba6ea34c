#pragma once

#include "CorvaneHost/Panels.h"

#include <QString>
#include <optional>

// The open panel behind "Add Browser…": the user chooses one application to send links to. It stores
// nothing and shows no error; the caller hands the choice to the routing model, which checks it.
struct BrowserPicker {
    // What the panel shows.
    static host::OpenPanelOptions options();
    // The chosen application's path; none when the user cancels. Blocks while the panel is open.
    static std::optional<QString> ask();
};
