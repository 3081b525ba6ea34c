// The creator app's entry point: its models come to life in the window's start-up order, and the program
// ends when it is asked to quit (never in the middle of a build).
#include "Corvane/Models/CreatorApp.h"
#include "CorvaneHost/Services.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    CreatorApp creator;
    auto delegate = std::make_shared<CreatorAppDelegate>(creator.model());
    host::application().setDelegate(delegate);
    creator.start();
    return host::application().run();
}
