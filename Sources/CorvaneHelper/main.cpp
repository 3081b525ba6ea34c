// The helper's entry point. Command-line arguments are not the helper's: links reach it as events.
#include "CorvaneHelper/Shell/HelperStartup.h"
#include "CorvaneHost/Bundle.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    return HelperStartup::run(host::Bundle::main().bundlePath());
}
