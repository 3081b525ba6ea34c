#pragma once

#include "CorvaneHost/Bundle.h"

#include <QString>
#include <optional>

class QMessageBox;

// The standard About panel of the creator app: its name, version and icon from its own bundle, and one line
// of credits that says when the running copy was built.
class AboutPanel {
public:
    AboutPanel() = delete;

    // Brings the app forward and shows the panel (one at a time). Main thread.
    static void show();
    // The panel as it is shown for `bundle`.
    static void show(const host::Bundle& bundle);
    // The open panel, or none.
    static QMessageBox* current();
    // "Built " and the build date of `bundle`, or none when it carries no build date.
    static std::optional<QString> credits(const host::Bundle& bundle);
};
