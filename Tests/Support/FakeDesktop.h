#pragma once

#include "CorvaneHost/Desktop.h"
#include "CorvaneHost/Panels.h"

#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace test {

// Open panels that answer from a script: each call takes the next answer (none = cancelled) and records the
// options it was shown with. With no answer left, the panel counts as cancelled.
class ScriptedPanels final : public host::Panels {
public:
    std::deque<std::optional<QString>> directoryAnswers;
    std::deque<std::optional<QString>> applicationAnswers;
    std::vector<host::OpenPanelOptions> directoryPanels;
    std::vector<host::OpenPanelOptions> applicationPanels;

    std::optional<QString> chooseDirectory(const host::OpenPanelOptions& options) override;
    std::optional<QString> chooseApplication(const host::OpenPanelOptions& options) override;
};

// A desktop that records what was asked of it.
class RecordingDesktop final : public host::Desktop {
public:
    std::vector<QStringList> revealed;
    std::vector<qint32> activated;
    int selfActivations = 0;

    void revealInFileManager(const QStringList& paths) override { revealed.push_back(paths); }
    bool activateApplication(qint32 processIdentifier) override {
        activated.push_back(processIdentifier);
        return true;
    }
    void activateSelf() override { ++selfActivations; }
};

// Installs both for its lifetime and restores what was there.
class DesktopScope {
public:
    DesktopScope();
    ~DesktopScope();
    DesktopScope(const DesktopScope&) = delete;
    DesktopScope& operator=(const DesktopScope&) = delete;

    ScriptedPanels& panels() { return *panels_; }
    RecordingDesktop& desktop() { return *desktop_; }

private:
    std::shared_ptr<ScriptedPanels> panels_;
    std::shared_ptr<RecordingDesktop> desktop_;
    std::shared_ptr<host::Panels> previousPanels_;
    std::shared_ptr<host::Desktop> previousDesktop_;
};

} // namespace test
