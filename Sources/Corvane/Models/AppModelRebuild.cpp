#include "Corvane/Models/AppModel.h"

#include "Corvane/Models/SigningIdentity.h"
#include "CorvaneHost/Error.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QFileInfo>

std::vector<RegisteredApp> AppModel::outdatedApps() const {
    std::vector<RegisteredApp> outdated;
    if (!canCreateProxyApps_)
        return outdated;
    for (const RegisteredApp& app : apps_)
        if (app.needsRebuild())
            outdated.push_back(app);
    return outdated;
}

int AppModel::appsNeedingRebuild() const {
    return static_cast<int>(outdatedApps().size());
}

QString AppModel::updateButtonTitle() const {
    const int count = appsNeedingRebuild();
    if (count == 1)
        return QStringLiteral("Update 1 App");
    return QStringLiteral("Update %1 Apps").arg(count);
}

void AppModel::rebuildOutdated() {
    std::vector<RegisteredApp> present;
    for (const RegisteredApp& app : outdatedApps())
        if (app.existsOnDisk())
            present.push_back(app);
    rebuild(present);
}

void AppModel::rebuild(const std::vector<RegisteredApp>& apps) {
    if (!canCreateProxyApps_)
        return;
    if (apps.empty()) {
        setStatusMessage(QStringLiteral("No apps to rebuild."));
        return;
    }
    std::vector<BuildRequest> requests;
    for (const RegisteredApp& app : apps) {
        BuildRequest request;
        request.name = app.name;
        request.bundleID = app.bundleID;
        request.config = app.config;
        request.destinationDirectory = QUrl::fromLocalFile(QFileInfo(app.path).path());
        request.registerAsBrowser = EditorState::declaresBrowserURLTypes(app.path);
        requests.push_back(request);
    }
    const QString identity = SigningIdentity::preferred();
    QStringList runningNames;
    for (const RegisteredApp& app : apps)
        if (!host::workspace().runningApplications(app.bundleID).empty())
            runningNames << app.name;

    setIsBusy(true);
    setErrorMessage(std::nullopt);
    setStatusMessage(std::nullopt);

    BuildFunction build = buildApp;
    runInBackground(
        [build, requests, identity] {
            BuildOutcome outcome;
            for (const BuildRequest& request : requests) {
                try {
                    outcome.built.push_back(build(request, identity));
                } catch (const std::exception& error) {
                    outcome.lastError = host::describe(error);
                }
            }
            return outcome;
        },
        [this, runningNames](const BuildOutcome& outcome) {
            for (const RegisteredApp& app : outcome.built)
                registry_.upsert(app);
            saveRegistry();
            registry_.rescan();
            republishApps();
            setIsBusy(false);
            if (outcome.lastError) {
                setErrorMessage(*outcome.lastError);
                return;
            }
            const int count = static_cast<int>(outcome.built.size());
            QString message = QStringLiteral("Updated %1 app%2.").arg(count).arg(count == 1 ? "" : "s");
            if (!runningNames.isEmpty())
                message += QStringLiteral(" Quit and reopen ") + runningNames.join(QStringLiteral(", ")) +
                           QStringLiteral(" to pick up the change.");
            setStatusMessage(message);
        });
}
