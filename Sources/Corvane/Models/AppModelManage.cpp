#include "Corvane/Models/AppModel.h"

#include "CorvaneHost/Desktop.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Panels.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Trash.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

namespace {

const QString identifierMismatch = QStringLiteral("That isn't the same app — its identifier doesn't match.");

} // namespace

QString AppModel::notWhereItUsedToBe(const QString& appName) {
    return QStringLiteral("“") + appName + QStringLiteral("” isn't where it used to be. ") +
           QStringLiteral("Use Locate… to point at it, or Forget to remove it from this list.");
}

bool AppModel::checkIdentity(const RegisteredApp& app) {
    if (Registry::bundleIDAt(app.path) == app.bundleID)
        return true;
    setErrorMessage(app.existsOnDisk() ? identifierMismatch : notWhereItUsedToBe(app.name));
    return false;
}

void AppModel::deleteApp(const RegisteredApp& app) {
    // Another app may have taken the place of this one since it was registered; that one is not ours to
    // throw away. A bundle that is gone altogether is left to the Trash to report.
    if (QFileInfo::exists(app.path) && !checkIdentity(app))
        return;
    std::optional<QString> failure;
    try {
        host::moveToTrash(app.path);
    } catch (const host::Error& error) {
        failure = error.description();
    }
    QPointer<AppModel> guard(this);
    host::mainQueue().async([guard, app, failure] {
        if (!guard)
            return;
        if (failure) {
            guard->setErrorMessage(*failure);
            return;
        }
        guard->registry_.remove(app.bundleID);
        guard->saveRegistry();
        guard->registry_.rescan();
        guard->republishApps();
        if (guard->selection_ == Selection::saved(app.bundleID))
            guard->selectSomethingElse();
        guard->setStatusMessage(QStringLiteral("Moved ") + app.name + QStringLiteral(" to the Trash."));
    });
}

void AppModel::forget(const RegisteredApp& app) {
    registry_.remove(app.bundleID);
    saveRegistry();
    republishApps();
    if (selection_ == Selection::saved(app.bundleID))
        selectSomethingElse();
    setStatusMessage(QStringLiteral("Removed ") + app.name +
                     QStringLiteral(" from the list. The app itself was left alone."));
}

void AppModel::locate(const RegisteredApp& app) {
    host::OpenPanelOptions options;
    options.prompt = QStringLiteral("Choose");
    options.message = QStringLiteral("Where is “") + app.name + QStringLiteral("” now?");
    const QString folder = QFileInfo(app.path).path();
    options.startDirectory =
        QFileInfo(folder).isDir() ? folder : host::homeDirectory() + QStringLiteral("/Applications");
    const auto chosen = host::panels().chooseApplication(options);
    if (!chosen || chosen->isEmpty())
        return;
    if (Registry::bundleIDAt(*chosen) != app.bundleID) {
        setErrorMessage(identifierMismatch);
        return;
    }
    RegisteredApp entry = app;
    entry.path = QDir::cleanPath(*chosen);
    entry.name = QFileInfo(entry.path).completeBaseName();
    entry.isMissing = false;
    entry.refreshBookmark();
    registry_.upsert(entry);
    saveRegistry();
    registry_.rescan();
    republishApps();
    // The app being edited takes its new place at once, with the user's edits: selecting it again would
    // change nothing, and the next save would look for it where it was.
    if (selection_ == Selection::saved(entry.bundleID))
        reloadKeepingEdits(entry.bundleID, editor_.asLoaded());
    else
        select(Selection::saved(entry.bundleID));
    setStatusMessage(QStringLiteral("Found ") + entry.name + QStringLiteral(" at ") +
                     EditorState::friendlyPath(QUrl::fromLocalFile(QFileInfo(entry.path).path())) +
                     QStringLiteral("."));
}

void AppModel::stampFinderIcon(const RegisteredApp& app) {
    if (!canCreateProxyApps_)
        return;
    if (!checkIdentity(app))
        return;
    restampIcon(app.path, app.config);
    setStatusMessage(QStringLiteral("Re-applied the icon for ") + app.name + QStringLiteral("."));
}

void AppModel::revealInFinder(const RegisteredApp& app) {
    host::desktop().revealInFileManager({app.path});
}
