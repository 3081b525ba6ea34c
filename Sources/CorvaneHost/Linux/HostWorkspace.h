#pragma once

#include "CorvaneHost/Linux/ApplicationIndex.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/Linux/Processes/ApplicationWatcher.h"
#include "CorvaneHost/Linux/Processes/ProcessListing.h"
#include "CorvaneHost/Workspace.h"

#include <QHash>
#include <QMap>
#include <memory>
#include <mutex>

namespace host {

// The codes of the workspace's own errors (domain workspaceErrorDomain).
enum class WorkspaceErrorCode {
    applicationNotFound = 1, // nothing that opens as an application at the path
    noExecutable = 2,        // the bundle names no executable, or it is missing or not executable
    launchFailed = 3,        // the program could not be started
    stateNotSaved = 4,       // the registrations and defaults could not be written
    stateNotRead = 5,        // the state file is there but could not be read, so it is not written over
};

host::SystemError workspaceError(WorkspaceErrorCode code, const QString& description);

// The registrations and default handlers kept in "workspace.json" in the host state folder.
struct WorkspaceState {
    QStringList registeredBundles;              // most recently registered first
    QMap<QString, QString> schemeDefaults;      // lower-case scheme -> bundle identifier
    QMap<QString, QString> contentTypeDefaults; // content type -> bundle identifier
    bool operator==(const WorkspaceState&) const = default;
};

// This machine's workspace: ".app" bundle folders in the application folders (/Applications, ~/Applications
// and the folders of CORVANE_APPLICATIONS_PATH, searched three levels deep), the registered bundles, and the
// desktop's browsers (desktop entries that open http links). The applications are kept in an index that each
// lookup checks against the disk, so other processes' registrations are seen at once. The running
// applications are those of this user that run with this home folder: a program started with another HOME
// belongs to another session (a test's installation never reaches the user's own helper).
class HostWorkspace final : public Workspace {
public:
    HostWorkspace() = default;
    // Ends the watcher's thread before the state it reads goes.
    ~HostWorkspace() override { watcher_.reset(); }
    std::optional<QString> urlForApplication(const QString& bundleIdentifier) override;
    QStringList applicationsToOpenScheme(const QString& scheme) override;
    QStringList applicationsToOpenContentType(const QString& contentType) override;
    std::optional<QString> defaultApplicationForScheme(const QString& scheme) override;
    std::optional<QString> defaultApplicationForContentType(const QString& contentType) override;
    std::optional<QVariantMap> bundleInfo(const QString& appPath) override;
    QString displayName(const QString& appPath) override;

    void setDefaultApplicationForScheme(const QString& appPath, const QString& scheme,
                                        WorkspaceCompletion completion) override;
    void setDefaultApplicationForContentType(const QString& appPath, const QString& contentType,
                                             WorkspaceCompletion completion) override;
    void registerBundle(const QString& appPath) override;

    using Workspace::runningApplications;
    std::vector<RunningApplication> runningApplications() override;
    std::optional<RunningApplication> runningApplication(qint32 processIdentifier) override;
    std::optional<RunningApplication> frontmostApplication() override;
    bool terminate(qint32 processIdentifier) override;
    bool forceTerminate(qint32 processIdentifier) override;
    bool activate(qint32 processIdentifier) override;
    int addApplicationObserver(ApplicationObserver observer) override;
    void removeApplicationObserver(int observer) override;

    void openApplication(const QString& appPath, const OpenConfiguration& configuration,
                         OpenCompletion completion) override;
    void open(const QList<QUrl>& urls, const QString& appPath, const OpenConfiguration& configuration,
              OpenCompletion completion) override;
    bool openSystemSettings(const QUrl& address) override;

    // The folders searched for bundles, in order.
    static QStringList applicationFolders();
    static QString stateFilePath();
    // Reads the state file; one that cannot be read or decoded reads as empty.
    static WorkspaceState readState();

private:
    using Application = IndexedApplication;
    struct Launched {
        RunningApplication application;
        quint64 startTime = 0;
    };

    // What decides which application a process is, besides the process itself.
    struct Recognition {
        std::optional<ChromeBrowser> chrome;
        QString chromeDataFolder;
        QString home;
        bool operator==(const Recognition&) const = default;
    };
    // A process as it was first seen, and the application it is (none for any other program).
    struct Recognised {
        ProcessIdentity identity;
        std::optional<RunningApplication> application;
    };

    static ApplicationIndex::Sources indexSources();
    std::optional<RunningApplication> recognise(const ProcessIdentity& process,
                                                const Recognition& context) const;
    Recognition recognitionNow();
    // Drops what was learnt of the processes when what recognises them changed. Under recognisedMutex_.
    void keepRecognitionsOf(const Recognition& context);
    // The application `process` is (none for any other program): as it was first seen when it is the same
    // process, else worked out now and remembered. Under recognisedMutex_.
    const std::optional<RunningApplication>& applicationOf(const ProcessIdentity& process,
                                                           const Recognition& context);
    std::vector<Application> applications();
    std::optional<Application> application(const QString& appPath);
    std::optional<QString> defaultFor(const QString& bundleIdentifier, const QString& mimeType,
                                      const QStringList& claimants);
    void setDefault(const QString& appPath, const QString& key, bool isScheme,
                    WorkspaceCompletion completion);
    void launch(const Application& app, const QList<QUrl>& urls, const OpenConfiguration& configuration,
                OpenCompletion completion);
    // Hands the links to the running program of `app`, else (it did not take them) starts it with them.
    void handOver(const Application& app, const RunningApplication& running, const QList<QUrl>& urls,
                  const OpenConfiguration& configuration, OpenCompletion completion);
    std::optional<RunningApplication> runningInstance(const Application& app);
    RunningApplication runningRecord(const Application& app, qint32 pid) const;
    bool signal(qint32 processIdentifier, int signalNumber);

    ApplicationIndex index_{indexSources, [] { return readState().registeredBundles; }};

    // Observers, shared with the reports already on their way to the main queue.
    struct Observers {
        std::mutex mutex;
        QMap<int, ApplicationObserver> byNumber;
        int next = 1;
    };
    std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
    std::unique_ptr<ApplicationWatcher> watcher_; // while there are observers

    // What the listing of the running applications learnt of each process of this user.
    std::mutex recognisedMutex_;
    Recognition recognisedIn_;
    QHash<qint32, Recognised> recognised_;

    // Programs started from desktop entries: /proc does not tell which application they are.
    std::mutex launchedMutex_;
    QHash<qint32, Launched> launched_;
};

} // namespace host
