#pragma once

#include <QUrl>
#include <optional>

// Asks, in a modal folder panel, where generated proxy apps go. It only asks: the caller stores the answer.
// It lives beside the models (it needs no widgets) so that the app model's save can call it.
namespace DestinationPicker {

// The panel opens in `startingAt` when given, else in the remembered folder, else in ~/Applications (which
// need not exist). Returns the chosen folder, or none when the user cancels.
std::optional<QUrl> ask(const std::optional<QUrl>& startingAt);

} // namespace DestinationPicker
