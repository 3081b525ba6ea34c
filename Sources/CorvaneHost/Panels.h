#pragma once

#include <QString>
#include <optional>

namespace host {

// What an open panel shows.
struct OpenPanelOptions {
    QString title;
    QString message;
    QString prompt;                        // the confirming button
    std::optional<QString> startDirectory; // none: the panel's own choice
    bool canCreateDirectories = false;
};

// Modal open panels of the creator app. Each call blocks its (main-thread) caller until the user answers and
// returns the chosen path, or none when the user cancels.
class Panels {
public:
    virtual ~Panels() = default;
    // One folder.
    virtual std::optional<QString> chooseDirectory(const OpenPanelOptions& options) = 0;
    // One application (a bundle, or on this machine also a desktop entry).
    virtual std::optional<QString> chooseApplication(const OpenPanelOptions& options) = 0;
};

} // namespace host
