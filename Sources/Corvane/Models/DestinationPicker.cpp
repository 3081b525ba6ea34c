#include "Corvane/Models/DestinationPicker.h"

#include "Corvane/Models/EditorState.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Panels.h"
#include "CorvaneHost/Services.h"

namespace DestinationPicker {

std::optional<QUrl> ask(const std::optional<QUrl>& startingAt) {
    host::OpenPanelOptions options;
    options.title = QStringLiteral("Where should the apps be saved?");
    options.message = QStringLiteral("Pick a folder for the apps this creates. Put them in an Applications "
                                     "folder if you want them in Spotlight.");
    options.prompt = QStringLiteral("Choose");
    options.canCreateDirectories = true;
    std::optional<QUrl> start = startingAt ? startingAt : EditorState::rememberedDestination();
    options.startDirectory =
        start ? EditorState::plainPath(*start) : host::homeDirectory() + QStringLiteral("/Applications");
    const auto chosen = host::panels().chooseDirectory(options);
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    return QUrl::fromLocalFile(*chosen);
}

} // namespace DestinationPicker
