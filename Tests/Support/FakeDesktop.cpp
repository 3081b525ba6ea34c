#include "Support/FakeDesktop.h"

#include "CorvaneHost/Services.h"

namespace test {

namespace {

std::optional<QString> next(std::deque<std::optional<QString>>& answers) {
    std::optional<QString> answer;
    if (!answers.empty()) {
        answer = std::move(answers.front());
        answers.pop_front();
    }
    return answer;
}

} // namespace

std::optional<QString> ScriptedPanels::chooseDirectory(const host::OpenPanelOptions& options) {
    directoryPanels.push_back(options);
    return next(directoryAnswers);
}

std::optional<QString> ScriptedPanels::chooseApplication(const host::OpenPanelOptions& options) {
    applicationPanels.push_back(options);
    return next(applicationAnswers);
}

DesktopScope::DesktopScope()
    : panels_(std::make_shared<ScriptedPanels>())
    , desktop_(std::make_shared<RecordingDesktop>())
    , previousPanels_(host::replaceService(host::services().panels, panels_))
    , previousDesktop_(host::replaceService(host::services().desktop, desktop_)) {}

DesktopScope::~DesktopScope() {
    host::replaceService(host::services().panels, std::move(previousPanels_));
    host::replaceService(host::services().desktop, std::move(previousDesktop_));
}

} // namespace test
