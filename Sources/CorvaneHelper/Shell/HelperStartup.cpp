#include "CorvaneHelper/Shell/HelperStartup.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneHelper/Shell/HelperAppDelegate.h"
#include "CorvaneHost/Application.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QDir>
#include <QFileInfo>
#include <memory>

namespace {

// Held for the life of the process: the application holds its delegate only weakly.
host::Application* application = nullptr;
std::shared_ptr<HelperAppDelegate> delegate;

} // namespace

namespace HelperStartup {

bool isLoginItem(const QString& bundlePath) {
    return bundlePath.contains(loginItemMarker);
}

QString relocationSource(const QString& bundlePath) {
    QString base = QDir::cleanPath(bundlePath);
    for (int i = 0; i < 2; ++i)
        base = QFileInfo(base).path();
    return base + QStringLiteral("/CorvaneHelper.app");
}

void relocate(const QString& bundlePath) {
    const QString target = Corvane::installedHelperURL();
    try {
        Corvane::ensureSupportDirectory();
        // Installers (the creator app, launchers) may be writing the same copy: take turns with them, and
        // copy beside and swap so a failed copy never leaves a partial helper that is then never repaired.
        const HelperInstaller::InstallLock lock;
        if (!QFileInfo::exists(target))
            HelperInstaller::copyIntoPlace(relocationSource(bundlePath), target);
    } catch (const std::exception&) {
        // Nothing to open then; the creator app installs the helper when it next starts.
    }
    if (!QFileInfo::exists(target))
        return;
    host::OpenConfiguration configuration;
    configuration.activates = false;
    configuration.addsToRecentItems = false;
    configuration.createsNewApplicationInstance = true;
    host::workspace().openApplication(
        target, configuration,
        [](std::optional<host::RunningApplication>, std::optional<host::SystemError>) {});
}

int runHelper() {
    application = &host::application();
    application->setActivationPolicy(host::ActivationPolicy::accessory);
    delegate = std::make_shared<HelperAppDelegate>();
    application->setDelegate(delegate);
    application->run();
    return 0;
}

int run(const QString& bundlePath) {
    if (!isLoginItem(bundlePath))
        return runHelper();
    relocate(bundlePath);
    return 0;
}

} // namespace HelperStartup
