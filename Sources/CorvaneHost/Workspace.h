#pragma once

#include "CorvaneHost/Error.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <vector>

namespace host {

// A running application as the workspace reports it.
struct RunningApplication {
    qint32 processIdentifier = 0;
    QString bundleIdentifier; // empty when the program has none
    QString localizedName;
    QString bundlePath; // empty when not started from a bundle
    // An ordinary application with a presence of its own (not a background or accessory program).
    bool isRegular = true;
    bool operator==(const RunningApplication&) const = default;
};

// How an application is opened.
struct OpenConfiguration {
    QStringList arguments;
    bool activates = true;
    // Kept for callers that state it; this machine keeps no list of recent items.
    bool addsToRecentItems = true;
    bool createsNewApplicationInstance = false;
    // The links' text as written, one for each URL opened that is not a file, in order: an application that
    // takes events gets these texts unchanged (see AppleEvent::forOpening). Empty: the URLs' own text.
    QStringList writtenLinks;
    // The mark the links travel under to an application that takes events, on every road there (handed to
    // its running program, then its start), so that it hands them on once however many roads reach it. The
    // workspace gives them one when empty.
    QString deliveryID;
    bool operator==(const OpenConfiguration&) const = default;
};

// What the workspace tells of running applications.
enum class ApplicationEvent { didLaunch, didTerminate };
using ApplicationObserver =
    std::function<void(ApplicationEvent event, const RunningApplication& application)>;

using WorkspaceCompletion = std::function<void(std::optional<host::SystemError>)>;
using OpenCompletion =
    std::function<void(std::optional<RunningApplication>, std::optional<host::SystemError>)>;

// The error domain of the workspace's own failures.
inline const QString workspaceErrorDomain = QStringLiteral("Workspace");

// Applications, their default roles and the running programs. Applications are identified by their path:
// bundle folders ("….app" with Contents/Info.plist) and, on this machine, the desktop's own browsers (their
// desktop entry file). Completions run on the main queue, exactly once.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Lookup.
    virtual std::optional<QString> urlForApplication(const QString& bundleIdentifier) = 0;
    virtual QStringList applicationsToOpenScheme(const QString& scheme) = 0;
    virtual QStringList applicationsToOpenContentType(const QString& contentType) = 0;
    virtual std::optional<QString> defaultApplicationForScheme(const QString& scheme) = 0;
    virtual std::optional<QString> defaultApplicationForContentType(const QString& contentType) = 0;
    // The Info dictionary of the application at `appPath` (a bundle's Info.plist), or none.
    virtual std::optional<QVariantMap> bundleInfo(const QString& appPath) = 0;
    // The name the desktop shows for the application at `appPath`: a bundle's file name without its extension
    // ("Google Chrome" for ".../Google Chrome.app"); on this machine, a desktop entry's Name.
    virtual QString displayName(const QString& appPath);

    // Default roles and registration.
    virtual void setDefaultApplicationForScheme(const QString& appPath, const QString& scheme,
                                                WorkspaceCompletion completion) = 0;
    virtual void setDefaultApplicationForContentType(const QString& appPath, const QString& contentType,
                                                     WorkspaceCompletion completion) = 0;
    // Makes the bundle at `appPath` known to the workspace wherever it lies. Throws host::SystemError when
    // there is no readable bundle with an identifier there.
    virtual void registerBundle(const QString& appPath) = 0;

    // Running applications.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    // The active application (on this machine, the one of the window manager's active window), or none when
    // the machine has no notion of one.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    // Signal the application (polite request, then the forced kind); false when no such application runs.
    virtual bool terminate(qint32 processIdentifier) = 0;
    virtual bool forceTerminate(qint32 processIdentifier) = 0;
    // Brings the running application forward (the caller yields its own activation first); false when it
    // could not be activated.
    virtual bool activate(qint32 processIdentifier) { return false; }

    // Tells `observer`, on the main queue, of each application that starts or ends from now on, until it is
    // removed with the number returned here.
    virtual int addApplicationObserver(ApplicationObserver observer) = 0;
    virtual void removeApplicationObserver(int observer) = 0;

    // The running application of one process: by default looked up in the listing.
    virtual std::optional<RunningApplication> runningApplication(qint32 processIdentifier);
    std::vector<RunningApplication> runningApplications(const QString& bundleIdentifier);

    // Opening. `open` is how links reach an application: delivered to its running instance when it takes
    // them, else by starting it (see EventDelivery).
    virtual void openApplication(const QString& appPath, const OpenConfiguration& configuration,
                                 OpenCompletion completion) = 0;
    virtual void open(const QList<QUrl>& urls, const QString& appPath, const OpenConfiguration& configuration,
                      OpenCompletion completion) = 0;
    // Opens a page of the system's settings by its address. This machine opens the desktop's own page for the
    // same purpose where the desktop has one; false when nothing was opened (the log says why).
    virtual bool openSystemSettings(const QUrl& address) = 0;
};

// A program about to be started: what it is given besides its executable.
struct LaunchRequest {
    QString appPath;
    QString bundleIdentifier;
    QStringList arguments;
    QMap<QString, QString> environment; // added to the inherited environment
    QString deliveryID = {};            // the links' mark (OpenConfiguration::deliveryID); empty: a new one
};

// A program just started for a launch: its process, and its end, ready once it has ended: how it failed (its
// status or signal, as "ended with status 1"), none when it ended cleanly. `end` is not valid where the
// workspace cannot learn it.
struct StartedProgram {
    qint64 processIdentifier = 0;
    std::shared_future<std::optional<QString>> end;
};

// Told once (on the main queue, or before confirmLaunch returns) whether a started program took the URLs it
// was started for: none when it did (or may have: it runs on, or ended cleanly after reading them from its
// start), else why it did not.
using LaunchConfirmation = std::function<void(std::optional<QString> failure)>;

// How the workspace hands URLs to a program of a bundle. The workspace decides which program and whether one
// runs; the delivery carries the URLs. This machine's delivery is the event channel (EventChannelDelivery,
// CorvaneHost/EventDelivery.h); host::eventDelivery() hands out the current one (services().eventDelivery).
class EventDelivery {
public:
    virtual ~EventDelivery() = default;
    // Hands `urls` to the running program under the mark `deliveryID`, and tells `done` (when given) on the
    // main queue whether it took them. False makes the workspace start the application anew with the URLs,
    // under the same mark. The caller never waits for the program: one that is stopped or busy holds up its
    // own links only, which reach it in the order they were handed over. With no URLs it is the reopen of a
    // program that was opened again; the answer is then not used.
    // `writtenLinks` are the links' texts as written (OpenConfiguration::writtenLinks).
    virtual void deliverToRunning(const RunningApplication& application, const QList<QUrl>& urls,
                                  const QStringList& writtenLinks, const QString& deliveryID,
                                  std::function<void(bool taken)> done) = 0;
    // Prepares the start of a program that is started for `urls`, so that it receives them.
    virtual void prepareLaunch(LaunchRequest& launch, const QList<QUrl>& urls,
                               const QStringList& writtenLinks) = 0;
    // Called once the program prepared so is started: a delivery that must make sure the program took its
    // URLs follows them up from here, and tells `confirmed` how that went. The workspace's open completes
    // only then, so that a program that ended with a failure before it took its URLs is a failed open.
    virtual void confirmLaunch(const LaunchRequest&, const StartedProgram&, LaunchConfirmation confirmed) {
        confirmed(std::nullopt);
    }
};

// The plainest delivery: running programs cannot be reached, and started ones get the (absolute) URLs as
// arguments after the configuration's own, the links as written (linkArguments).
class ArgumentEventDelivery final : public EventDelivery {
public:
    void deliverToRunning(const RunningApplication&, const QList<QUrl>&, const QStringList&, const QString&,
                          std::function<void(bool taken)> done) override;
    void prepareLaunch(LaunchRequest& launch, const QList<QUrl>& urls, const QStringList&) override;
};

} // namespace host
