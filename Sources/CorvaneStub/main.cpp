// The launcher's entry point. Links reach it as open events, not as command-line arguments.
#include "CorvaneStub/StubMain.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The launcher has no windows; closing its alert must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    return StubMain::run();
}
