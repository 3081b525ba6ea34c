// The creator app's entry point: one window, whose root view brings the models to life in the start-up order,
// and the program ends when it is asked to quit (never in the middle of a build).
#include "Corvane/Models/CreatorApp.h"
#include "Corvane/Views/Window/CreatorWindow.h"
#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/Linux/Widgets/WidgetApplication.h"
#include "CorvaneHost/Linux/Widgets/WidgetPanels.h"
#include "CorvaneHost/Services.h"

#include <QIcon>

int main(int argc, char* argv[]) {
    host::WidgetApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
    QApplication::setDesktopFileName(QStringLiteral("app.corvane.main"));
    // The window's terminate protocol ends the program, not the last window closing by itself.
    QApplication::setQuitOnLastWindowClosed(false);
    if (const auto icon =
            host::Bundle::main().pathForResource(QStringLiteral("AppIcon"), QStringLiteral("icns")))
        QApplication::setWindowIcon(QIcon(*icon));
    host::services().panels = std::make_shared<host::WidgetPanels>();
    CreatorApp creator;
    auto delegate = std::make_shared<CreatorAppDelegate>(creator.model());
    host::application().setDelegate(delegate);
    CreatorWindow window(creator);
    window.show();
    const int status = host::application().run();
    app.dropHeldKeyEvents();
    // A render or build still running would otherwise draw while the program's statics go.
    host::waitForBackgroundWork();
    return status;
}
