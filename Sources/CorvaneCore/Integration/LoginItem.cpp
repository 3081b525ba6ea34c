#include "CorvaneCore/Integration/LoginItem.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/LoginItems.h"
#include "CorvaneHost/Services.h"

#include <QFile>
#include <QFileInfo>
#include <unistd.h>

namespace LoginItem {
namespace {

QString legacyLaunchAgentPath() {
    return host::homeDirectory() + QStringLiteral("/Library/LaunchAgents/app.corvane.helper.plist");
}

QString legacyServiceTarget() {
    return QStringLiteral("gui/") + QString::number(::getuid()) + QLatin1Char('/') + Corvane::helperBundleID;
}

} // namespace

bool isEnabled() {
    return host::loginItems().status(Corvane::helperBundleID) == host::LoginItemStatus::enabled;
}

bool needsApproval() {
    return host::loginItems().status(Corvane::helperBundleID) == host::LoginItemStatus::requiresApproval;
}

void setEnabled(bool enabled) {
    if (enabled)
        host::loginItems().registerItem(Corvane::helperBundleID);
    else
        host::loginItems().unregisterItem(Corvane::helperBundleID);
    removeLegacyLaunchAgent();
}

void removeLegacyLaunchAgent() {
    const QString path = legacyLaunchAgentPath();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return;
    try {
        HelperInstaller::run(QStringLiteral("/bin/launchctl"),
                             {QStringLiteral("bootout"), legacyServiceTarget()});
    } catch (const host::Error&) {
        // Not loaded, most likely; the file goes all the same.
    }
    QFile::remove(path);
    Log::creator.info(QStringLiteral("removed the old LaunchAgent login item"));
}

} // namespace LoginItem
