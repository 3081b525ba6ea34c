// corvane-dev-install: sets a built Corvane up for the current user as an installation would:
//   0. asks a running helper to quit,
//   1. copies the creator app bundle into ~/Applications (replacing an older copy) and registers it,
//   2. installs the helper into the support folder from that creator app, and registers it,
//   3. makes the installed helper the default application for web links.
//
//   corvane-dev-install <path to the built Corvane.app>
//
// Prints what it did; exit status 0 on success, 1 with a message on standard error otherwise.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneCore/Routing/BrowserCatalog.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace {

int failWith(const QString& message) {
    QTextStream(stderr) << "corvane-dev-install: " << message << '\n';
    return 1;
}

void say(const QString& message) {
    QTextStream(stdout) << message << '\n';
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() != 1)
        return failWith(QStringLiteral("usage: corvane-dev-install <path to Corvane.app>"));
    const QString built = QDir::cleanPath(QFileInfo(arguments[0]).absoluteFilePath());
    if (!QFileInfo(built + QStringLiteral("/Contents/Info.plist")).isFile())
        return failWith(QStringLiteral("%1 is not an application bundle").arg(built));

    const QString applications = host::homeDirectory() + QStringLiteral("/Applications");
    const QString creator = applications + QStringLiteral("/Corvane.app");
    try {
        // A helper of an earlier build would keep serving; the new one takes over.
        HelperInstaller::terminateRunningHelper();
        QDir().mkpath(applications);
        if (QFileInfo::exists(creator) && !QDir(creator).removeRecursively())
            return failWith(QStringLiteral("could not replace %1").arg(creator));
        HelperInstaller::run(QStringLiteral("/usr/bin/ditto"), {built, creator});
        // Registered, the creator app is in the desktop's application menu with its name and icon.
        host::workspace().registerBundle(creator);
        say(QStringLiteral("installed %1").arg(creator));

        // The installed copy is brought in step with the creator app that was just installed.
        HelperInstaller::installFromCreatorBundle(true);
        host::workspace().registerBundle(Corvane::installedHelperURL());
        say(QStringLiteral("installed the helper at %1").arg(Corvane::installedHelperURL()));
    } catch (const host::Error& error) {
        return failWith(error.description());
    }

    int status = 0;
    BrowserCatalog::requestDefaultBrowser(true, [&status](std::optional<host::SystemError> error) {
        if (error) {
            QTextStream(stderr) << "corvane-dev-install: could not become the default browser: "
                                << error->description() << '\n';
            status = 1;
        } else {
            say(QStringLiteral("the helper is the default application for web links"));
        }
        QCoreApplication::exit(status);
    });
    return QCoreApplication::exec() == 0 ? status : 1;
}
