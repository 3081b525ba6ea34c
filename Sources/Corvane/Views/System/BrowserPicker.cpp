#include "Corvane/Views/System/BrowserPicker.h"

#include "CorvaneHost/Services.h"

host::OpenPanelOptions BrowserPicker::options() {
    host::OpenPanelOptions options;
    options.prompt = QStringLiteral("Add");
    options.title = QStringLiteral("Add a browser");
    options.message =
        QStringLiteral("Choose an application to send links to. Use this for one macOS didn't offer "
                       "— an app that opens links without saying so.");
    options.startDirectory = QStringLiteral("/Applications");
    return options;
}

std::optional<QString> BrowserPicker::ask() {
    const auto chosen = host::panels().chooseApplication(options());
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    return chosen;
}
