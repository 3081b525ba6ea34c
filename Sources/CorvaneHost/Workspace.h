#pragma once

#include "CorvaneHost/Error.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <functional>
#include <optional>
#include <vector>

namespace host {

// A running application as the workspace reports it.
struct RunningApplication {
    qint32 processIdentifier = 0;
    QString bundleIdentifier; // empty when the program has none
    QString localizedName;
    QString bundlePath; // empty when not started from a bundle
    bool operator==(const RunningApplication&) const = default;
};

// How an application is opened.
struct OpenConfiguration {
    QStringList arguments;
    bool activates = true;
    bool createsNewApplicationInstance = false;
    bool operator==(const OpenConfiguration&) const = default;
};

using WorkspaceCompletion = std::function<void(std::optional<corvane::SystemError>)>;
using OpenCompletion =
    std::function<void(std::optional<RunningApplication>, std::optional<corvane::SystemError>)>;

// Applications, their default roles and the running programs. Applications are bundle folders ("….app" with
// Contents/Info.plist) identified by their path; completions run on the main queue.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Lookup.
    virtual std::optional<QString> urlForApplication(const QString& bundleIdentifier) = 0;
    virtual QStringList applicationsToOpenScheme(const QString& scheme) = 0;
    virtual QStringList applicationsToOpenContentType(const QString& contentType) = 0;
    virtual std::optional<QString> defaultApplicationForScheme(const QString& scheme) = 0;
    virtual std::optional<QString> defaultApplicationForContentType(const QString& contentType) = 0;
    // The Info.plist of the application at `appPath`, or none.
    virtual std::optional<QVariantMap> bundleInfo(const QString& appPath) = 0;

    // Default roles and registration.
    virtual void setDefaultApplicationForScheme(const QString& appPath, const QString& scheme,
                                                WorkspaceCompletion completion) = 0;
    virtual void setDefaultApplicationForContentType(const QString& appPath, const QString& contentType,
                                                     WorkspaceCompletion completion) = 0;
    virtual bool registerBundle(const QString& appPath) = 0;

    // Running applications.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    virtual bool terminate(qint32 processIdentifier) = 0;
    virtual bool forceTerminate(qint32 processIdentifier) = 0;

    // Opening.
    virtual void openApplication(const QString& appPath, const OpenConfiguration& configuration,
                                 OpenCompletion completion) = 0;
    virtual void open(const QList<QUrl>& urls, const QString& appPath, const OpenConfiguration& configuration,
                      OpenCompletion completion) = 0;
};

} // namespace host
