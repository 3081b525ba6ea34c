// Registers application bundles with this machine's workspace, so they are found by bundle identifier
// wherever they lie: `lsregister -f <bundle>...`. The workspace writes each bundle's desktop entry; a proxy
// app's shows in the desktop's application menu with its own icon.
#include "CorvaneHost/Linux/HostWorkspace.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

int usage(QTextStream& err) {
    err << "usage: lsregister -f <bundle> [<bundle> ...]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QStringList arguments = app.arguments().mid(1);

    bool force = false;
    QStringList bundles;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("-f")) {
            force = true;
        } else if (argument.startsWith(QLatin1Char('-'))) {
            err << "lsregister: unknown option " << argument << "\n";
            return usage(err);
        } else {
            bundles.append(argument);
        }
    }
    if (!force || bundles.isEmpty())
        return usage(err);

    host::HostWorkspace workspace;
    int status = 0;
    for (const QString& bundle : bundles) {
        try {
            workspace.registerBundle(bundle);
        } catch (const host::Error& error) {
            err << "lsregister: " << error.description() << "\n";
            status = 1;
        }
    }
    return status;
}
