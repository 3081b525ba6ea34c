#include "CorvaneHost/Linux/HostWorkspace.h"

#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Desktop/ChromeBrowser.h"
#include "CorvaneHost/Linux/Desktop/DesktopSettingsPages.h"
#include "CorvaneHost/Linux/Desktop/MimeApps.h"
#include "CorvaneHost/Linux/Files/FileLock.h"
#include "CorvaneHost/Linux/Processes/ChildProcess.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/Linux/Processes/ProcessListing.h"
#include "CorvaneHost/Linux/WindowApplications.h"
#include "CorvaneHost/Linux/X11/X11Activation.h"
#include "CorvaneHost/LogSink.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <pwd.h>
#include <unistd.h>

namespace host {

Workspace& workspace() {
    return ensureService(services().workspace, [] { return std::make_shared<HostWorkspace>(); });
}

EventDelivery& eventDelivery() {
    return ensureService(services().eventDelivery, [] { return std::make_shared<EventChannelDelivery>(); });
}

std::optional<RunningApplication> Workspace::runningApplication(qint32 processIdentifier) {
    for (const RunningApplication& app : runningApplications())
        if (app.processIdentifier == processIdentifier)
            return app;
    return std::nullopt;
}

QString Workspace::displayName(const QString& appPath) {
    return QFileInfo(appPath).completeBaseName();
}

std::vector<RunningApplication> Workspace::runningApplications(const QString& bundleIdentifier) {
    std::vector<RunningApplication> found;
    for (const RunningApplication& app : runningApplications())
        if (app.bundleIdentifier == bundleIdentifier)
            found.push_back(app);
    return found;
}

void ArgumentEventDelivery::deliverToRunning(const RunningApplication&, const QList<QUrl>&,
                                             const QStringList&, const QString&,
                                             std::function<void(bool taken)> done) {
    if (done)
        mainQueue().async([done = std::move(done)] { done(false); });
}

void ArgumentEventDelivery::prepareLaunch(LaunchRequest& launch, const QList<QUrl>& urls,
                                          const QStringList& writtenLinks) {
    launch.arguments += linkArguments(urls, writtenLinks);
}

host::SystemError workspaceError(WorkspaceErrorCode code, const QString& description) {
    return host::SystemError(workspaceErrorDomain, static_cast<int>(code), description);
}

namespace {

const QString stateFileName = QStringLiteral("workspace.json");
// How soon a program started is reported as launched.
constexpr double watcherPollSeconds = 0.5;

QString cleanAbsolute(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString stringValue(const QVariantMap& map, const QString& key) {
    const QVariant value = map.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

// The strings of `key` in each dictionary of the array `arrayKey` (CFBundleURLTypes/CFBundleURLSchemes and
// CFBundleDocumentTypes/LSItemContentTypes).
QStringList nestedStrings(const QVariantMap& info, const QString& arrayKey, const QString& key) {
    QStringList values;
    for (const QVariant& item : info.value(arrayKey).toList()) {
        if (item.typeId() != QMetaType::QVariantMap)
            continue;
        for (const QVariant& value : item.toMap().value(key).toList())
            if (value.typeId() == QMetaType::QString)
                values.append(value.toString());
    }
    return values;
}

// The paths of the applications that open one kind of link or file: by its MIME type where an application
// has a desktop entry (an empty type is opened by none), else by `name` (any case) among the nested strings
// `arrayKey`/`key` of its bundle information.
template <typename Applications>
QStringList pathsOfApplicationsOpening(const Applications& applications, const QString& mimeType,
                                       const QString& arrayKey, const QString& key, const QString& name) {
    QStringList paths;
    for (const auto& app : applications) {
        const bool opens = app.desktopEntry
                               ? !mimeType.isEmpty() && app.desktopEntry->mimeTypes.contains(mimeType)
                               : nestedStrings(app.info, arrayKey, key).contains(name, Qt::CaseInsensitive);
        if (opens)
            paths.append(app.path);
    }
    return paths;
}

QMap<QString, QString> stringMap(const QJsonValue& value) {
    QMap<QString, QString> map;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (it.value().isString())
            map.insert(it.key(), it.value().toString());
    return map;
}

QJsonObject jsonObject(const QMap<QString, QString>& map) {
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

// None when the file was read but is not a state file. Throws when the file is there but cannot be read: it
// may hold every registration, so nothing may be written over it.
std::optional<WorkspaceState> loadState(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return WorkspaceState{};
    if (!file.open(QIODevice::ReadOnly))
        throw workspaceError(WorkspaceErrorCode::stateNotRead,
                             QStringLiteral("could not read %1: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw workspaceError(WorkspaceErrorCode::stateNotRead,
                             QStringLiteral("could not read %1: %2").arg(path, file.errorString()));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    WorkspaceState state;
    for (const QJsonValue& value : object.value(QStringLiteral("registeredBundles")).toArray())
        if (value.isString())
            state.registeredBundles.append(value.toString());
    state.schemeDefaults = stringMap(object.value(QStringLiteral("schemeDefaults")));
    state.contentTypeDefaults = stringMap(object.value(QStringLiteral("contentTypeDefaults")));
    return state;
}

void saveState(const QString& path, const WorkspaceState& state) {
    QJsonObject object;
    object.insert(QStringLiteral("version"), 1);
    object.insert(QStringLiteral("registeredBundles"), QJsonArray::fromStringList(state.registeredBundles));
    object.insert(QStringLiteral("schemeDefaults"), jsonObject(state.schemeDefaults));
    object.insert(QStringLiteral("contentTypeDefaults"), jsonObject(state.contentTypeDefaults));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(object).toJson()) < 0 || !file.commit())
        throw workspaceError(WorkspaceErrorCode::stateNotSaved,
                             QStringLiteral("could not save %1: %2").arg(path, file.errorString()));
}

// Changes the state under the lock (the lsregister tool writes it too). A file that was read but does not
// decode is kept aside before it is replaced, so the registrations it held can still be recovered by hand;
// one that cannot be read at all stops the change with an error.
template <typename Change> void updateState(Change change) {
    ExclusiveFileLock lock(hostStateDirectory() + QStringLiteral("/workspace.lock"));
    const QString path = HostWorkspace::stateFilePath();
    std::optional<WorkspaceState> state = loadState(path);
    if (!state) {
        const QString aside = path + QStringLiteral(".unreadable");
        QFile::remove(aside);
        QFile::copy(path, aside);
        state = WorkspaceState{};
    }
    change(*state);
    saveState(path, *state);
}

// Puts `path` first among the registered bundles; bundles that are gone are forgotten.
void rememberBundle(WorkspaceState& state, const QString& path) {
    QStringList kept{path};
    for (const QString& registered : state.registeredBundles)
        if (registered != path && QFileInfo(registered).isDir())
            kept.append(registered);
    state.registeredBundles = kept;
}

// The home folder a process of this user runs with: HOME in the environment it was started with, else the
// account's. Programs of another home (a test's temporary one, or the real one seen from a test) keep their
// files, sockets and settings apart, so each home is a session of its own.
QString homeOfProcess(qint32 pid) {
    QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& entry : file.readAll().split('\0'))
            if (entry.startsWith("HOME=") && entry.size() > 5)
                return QDir::cleanPath(QFile::decodeName(entry.mid(5)));
    }
    if (const passwd* account = ::getpwuid(::getuid()); account && account->pw_dir)
        return QDir::cleanPath(QFile::decodeName(account->pw_dir));
    return QString();
}

// The bundle whose executable `path` is, or none.
std::optional<QString> bundleOfExecutable(const QString& path) {
    if (!path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    const QString cleaned = QDir::cleanPath(path);
    const qsizetype marker = cleaned.lastIndexOf(QLatin1String("/Contents/MacOS/"));
    if (marker <= 0)
        return std::nullopt;
    const QString bundle = cleaned.left(marker);
    if (!bundle.endsWith(QLatin1String(".app"), Qt::CaseInsensitive))
        return std::nullopt;
    const auto info = readBundleInfo(bundle);
    if (!info)
        return std::nullopt;
    const QString executable = stringValue(*info, QStringLiteral("CFBundleExecutable"));
    if (executable.isEmpty() ||
        QDir::cleanPath(bundle + QStringLiteral("/Contents/MacOS/") + executable) != cleaned)
        return std::nullopt;
    return bundle;
}

QString nameOf(const QVariantMap& info, const QString& path) {
    for (const QString& key : {QStringLiteral("CFBundleDisplayName"), QStringLiteral("CFBundleName")}) {
        const QString name = stringValue(info, key);
        if (!name.isEmpty())
            return name;
    }
    return QFileInfo(path).completeBaseName();
}

void complete(OpenCompletion completion, std::optional<RunningApplication> app,
              std::optional<host::SystemError> error) {
    if (!completion)
        return;
    mainQueue().async([completion = std::move(completion), app = std::move(app), error = std::move(error)] {
        completion(app, error);
    });
}

// Ends an open whose application is not at `appPath`.
void completeWithoutApplication(OpenCompletion completion, const QString& appPath) {
    complete(std::move(completion), std::nullopt,
             workspaceError(WorkspaceErrorCode::applicationNotFound,
                            QStringLiteral("no application at %1").arg(appPath)));
}

} // namespace

QStringList HostWorkspace::applicationFolders() {
    return host::applicationFolders();
}

QString HostWorkspace::stateFilePath() {
    return hostStateDirectory() + QLatin1Char('/') + stateFileName;
}

WorkspaceState HostWorkspace::readState() {
    try {
        return loadState(stateFilePath()).value_or(WorkspaceState{});
    } catch (const host::SystemError&) {
        return WorkspaceState{};
    }
}

ApplicationIndex::Sources HostWorkspace::indexSources() {
    return ApplicationIndex::Sources{stateFilePath(), applicationFolders(), desktopEntryDirectories()};
}

std::optional<HostWorkspace::Application> HostWorkspace::application(const QString& appPath) {
    if (appPath.isEmpty())
        return std::nullopt;
    const QString path = cleanAbsolute(appPath);
    if (path.endsWith(QLatin1String(".desktop"))) {
        if (auto listed = index_.application(path))
            return listed;
        auto entry = readDesktopEntry(path, QFileInfo(path).completeBaseName());
        if (!entry)
            return std::nullopt;
        if (const auto chrome = index_.chrome(); chrome && chrome->entry.path == path)
            entry->bundleIdentifier = chromeBundleIdentifier;
        return Application{path, desktopEntryInfo(*entry), entry};
    }
    auto info = readBundleInfo(path);
    if (!info)
        return std::nullopt;
    return Application{path, *info, std::nullopt};
}

std::vector<HostWorkspace::Application> HostWorkspace::applications() {
    return index_.applications();
}

std::optional<QString> HostWorkspace::urlForApplication(const QString& bundleIdentifier) {
    if (bundleIdentifier.isEmpty())
        return std::nullopt;
    for (const Application& app : applications())
        if (app.bundleIdentifier() == bundleIdentifier)
            return app.path;
    return std::nullopt;
}

QStringList HostWorkspace::applicationsToOpenScheme(const QString& scheme) {
    return pathsOfApplicationsOpening(applications(), QStringLiteral("x-scheme-handler/") + scheme.toLower(),
                                      QStringLiteral("CFBundleURLTypes"),
                                      QStringLiteral("CFBundleURLSchemes"), scheme);
}

QStringList HostWorkspace::applicationsToOpenContentType(const QString& contentType) {
    return pathsOfApplicationsOpening(applications(), mimeTypeForContentType(contentType),
                                      QStringLiteral("CFBundleDocumentTypes"),
                                      QStringLiteral("LSItemContentTypes"), contentType);
}

// The desktop's default where it names an application the workspace offers (an entry written for a bundle
// stands for that bundle), the first valid one in the rules' order; else, for kinds the desktop has no MIME
// type for, the one kept in the state file while that application is still there; else the first application
// that opens the kind.
std::optional<QString> HostWorkspace::defaultFor(const QString& bundleIdentifier, const QString& mimeType,
                                                 const QStringList& claimants) {
    for (const QString& desktopId : defaultDesktopIds(mimeType)) {
        const auto entry = findDesktopEntry(desktopId);
        if (!entry)
            continue;
        if (!entry->bundlePath.isEmpty()) {
            if (readBundleInfo(entry->bundlePath))
                return entry->bundlePath;
            continue;
        }
        if (claimants.contains(entry->path))
            return entry->path;
    }
    if (mimeType.isEmpty() && !bundleIdentifier.isEmpty())
        if (auto path = urlForApplication(bundleIdentifier))
            return path;
    if (!claimants.isEmpty())
        return claimants.first();
    return std::nullopt;
}

std::optional<QString> HostWorkspace::defaultApplicationForScheme(const QString& scheme) {
    const QString key = scheme.toLower();
    return defaultFor(readState().schemeDefaults.value(key), QStringLiteral("x-scheme-handler/") + key,
                      applicationsToOpenScheme(key));
}

std::optional<QString> HostWorkspace::defaultApplicationForContentType(const QString& contentType) {
    return defaultFor(readState().contentTypeDefaults.value(contentType), mimeTypeForContentType(contentType),
                      applicationsToOpenContentType(contentType));
}

QString HostWorkspace::displayName(const QString& appPath) {
    if (const auto app = application(appPath); app && app->desktopEntry && !app->desktopEntry->name.isEmpty())
        return app->desktopEntry->name;
    return Workspace::displayName(appPath);
}

std::optional<QVariantMap> HostWorkspace::bundleInfo(const QString& appPath) {
    if (auto app = application(appPath))
        return app->info;
    return std::nullopt;
}

void HostWorkspace::setDefault(const QString& appPath, const QString& key, bool isScheme,
                               WorkspaceCompletion completion) {
    std::optional<host::SystemError> failure;
    const auto app = application(appPath);
    const QString identifier = app ? app->bundleIdentifier() : QString();
    const QString mimeType =
        isScheme ? QStringLiteral("x-scheme-handler/") + key : mimeTypeForContentType(key);
    if (identifier.isEmpty()) {
        failure =
            workspaceError(WorkspaceErrorCode::applicationNotFound,
                           QStringLiteral("no application with a bundle identifier at %1").arg(appPath));
    } else {
        try {
            // The desktop keeps the defaults it has a place for, so that every program of the desktop opens
            // links with the same application; a bundle is named there by the entry written for it.
            if (!mimeType.isEmpty())
                setUserDefaults({mimeType}, app->desktopEntry
                                                ? QFileInfo(app->path).fileName()
                                                : writeBundleDesktopEntry(app->path, app->info));
            // The workspace must be able to find a bundle again wherever it lies (the installed helper is in
            // no application folder); only what the desktop cannot hold stays in the state file.
            updateState([&](WorkspaceState& state) {
                auto& defaults = isScheme ? state.schemeDefaults : state.contentTypeDefaults;
                if (mimeType.isEmpty())
                    defaults.insert(key, identifier);
                else
                    defaults.remove(key);
                if (!app->desktopEntry)
                    rememberBundle(state, app->path);
            });
            index_.invalidate();
        } catch (const host::SystemError& error) {
            failure = error;
        }
    }
    if (completion)
        mainQueue().async([completion = std::move(completion), failure] { completion(failure); });
}

void HostWorkspace::setDefaultApplicationForScheme(const QString& appPath, const QString& scheme,
                                                   WorkspaceCompletion completion) {
    setDefault(appPath, scheme.toLower(), true, std::move(completion));
}

void HostWorkspace::setDefaultApplicationForContentType(const QString& appPath, const QString& contentType,
                                                        WorkspaceCompletion completion) {
    setDefault(appPath, contentType, false, std::move(completion));
}

void HostWorkspace::registerBundle(const QString& appPath) {
    const QString path = cleanAbsolute(appPath);
    if (!QFileInfo(path).isDir())
        throw workspaceError(WorkspaceErrorCode::applicationNotFound,
                             QStringLiteral("no bundle at %1").arg(path));
    const auto info = readBundleInfo(path);
    if (!info)
        throw workspaceError(WorkspaceErrorCode::applicationNotFound,
                             QStringLiteral("%1 has no readable Contents/Info.plist").arg(path));
    if (stringValue(*info, QStringLiteral("CFBundleIdentifier")).isEmpty())
        throw workspaceError(WorkspaceErrorCode::applicationNotFound,
                             QStringLiteral("%1 has no bundle identifier").arg(path));
    updateState([&](WorkspaceState& state) { rememberBundle(state, path); });
    // The menu keeps no entry for a bundle that was deleted (in the file manager, say) since the last
    // registration.
    removeOrphanedBundleDesktopEntries();
    index_.invalidate();
    // The desktop starts the bundle (with links) through its entry; a bundle without a program has none.
    if (!stringValue(*info, QStringLiteral("CFBundleExecutable")).isEmpty())
        writeBundleDesktopEntry(path, *info);
}

RunningApplication HostWorkspace::runningRecord(const Application& app, qint32 pid) const {
    return RunningApplication{pid, app.bundleIdentifier(), nameOf(app.info, app.path),
                              app.desktopEntry ? QString() : app.path};
}

std::optional<RunningApplication> HostWorkspace::recognise(const ProcessIdentity& process,
                                                           const Recognition& context) const {
    const QString exe = QFile::decodeName(process.executable);
    const QStringList arguments = processArguments(process.pid);
    if (context.chrome && isChromeMainProcess(*context.chrome, exe, arguments)) {
        // A browser on another data folder (another home's) is another session's, with profiles and
        // windows of its own.
        if (!runsOnDataFolder(arguments, context.chromeDataFolder))
            return std::nullopt;
        Application chromeApp{context.chrome->entry.path, desktopEntryInfo(context.chrome->entry),
                              context.chrome->entry};
        chromeApp.info.insert(QStringLiteral("CFBundleIdentifier"), chromeBundleIdentifier);
        return runningRecord(chromeApp, process.pid);
    }
    // A bundle program: its executable (or, for a script, the file its interpreter runs) lies at
    // Contents/MacOS/<CFBundleExecutable> of a bundle.
    QStringList candidates;
    if (!exe.isEmpty())
        candidates.append(exe);
    candidates += arguments.mid(0, 2);
    for (const QString& candidate : candidates)
        if (const auto bundle = bundleOfExecutable(candidate)) {
            if (homeOfProcess(process.pid) != context.home)
                return std::nullopt;
            const auto bundleInfo = readBundleInfo(*bundle).value_or(QVariantMap{});
            return runningRecord(Application{*bundle, bundleInfo, std::nullopt}, process.pid);
        }
    return std::nullopt;
}

HostWorkspace::Recognition HostWorkspace::recognitionNow() {
    // This machine's Chrome is known by its main program, whoever started it.
    Recognition context;
    context.chrome = index_.chrome();
    context.chromeDataFolder = userDataDirectory(context.chrome);
    context.home = homeDirectory();
    return context;
}

void HostWorkspace::keepRecognitionsOf(const Recognition& context) {
    if (recognisedIn_ != context) {
        recognised_.clear();
        recognisedIn_ = context;
    }
}

const std::optional<RunningApplication>& HostWorkspace::applicationOf(const ProcessIdentity& process,
                                                                      const Recognition& context) {
    auto known = recognised_.find(process.pid);
    if (known == recognised_.end() || known->identity != process)
        known = recognised_.insert(process.pid, Recognised{process, recognise(process, context)});
    return known->application;
}

// One process looked at on its own, as the listing would see it: a link's sender and the frontmost window's
// program are asked for while a link waits, and a listing reads every process of the user.
std::optional<RunningApplication> HostWorkspace::runningApplication(qint32 processIdentifier) {
    const auto process = liveProcessOf(::getuid(), processIdentifier);
    if (!process)
        return std::nullopt;
    const Recognition context = recognitionNow();
    {
        std::lock_guard lock(recognisedMutex_);
        keepRecognitionsOf(context);
        if (const auto& application = applicationOf(*process, context))
            return application;
    }
    std::lock_guard lock(launchedMutex_);
    const auto launched = launched_.constFind(process->pid);
    if (launched != launched_.constEnd() && launched->startTime == process->startTime)
        return launched->application;
    return std::nullopt;
}

std::vector<RunningApplication> HostWorkspace::runningApplications() {
    struct Found {
        RunningApplication application;
        quint64 startTime;
    };
    const Recognition context = recognitionNow();

    // Programs of this user and this home folder, whoever started them. What a process is was worked out
    // when it was first seen: a poll reads only what tells it apart from a new one.
    std::vector<Found> found;
    QHash<qint32, quint64> live;
    {
        std::lock_guard lock(recognisedMutex_);
        keepRecognitionsOf(context);
        for (const ProcessIdentity& process : liveProcessesOf(::getuid())) {
            live.insert(process.pid, process.startTime);
            if (const auto& application = applicationOf(process, context))
                found.push_back({*application, process.startTime});
        }
        // What ended is forgotten.
        recognised_.removeIf([&](const auto& entry) { return !live.contains(entry.key()); });
    }

    // Desktop programs this workspace started, while the same process lives.
    {
        std::lock_guard lock(launchedMutex_);
        for (auto it = launched_.begin(); it != launched_.end();) {
            const auto startTime = live.constFind(it.key());
            if (startTime == live.constEnd() || *startTime != it->startTime) {
                it = launched_.erase(it);
                continue;
            }
            if (std::none_of(found.begin(), found.end(), [&](const Found& entry) {
                    return entry.application.processIdentifier == it.key();
                }))
                found.push_back({it->application, it->startTime});
            ++it;
        }
    }

    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.startTime != b.startTime ? a.startTime < b.startTime
                                          : a.application.processIdentifier < b.application.processIdentifier;
    });
    std::vector<RunningApplication> result;
    result.reserve(found.size());
    for (Found& entry : found)
        result.push_back(std::move(entry.application));
    return result;
}

std::optional<RunningApplication> HostWorkspace::frontmostApplication() {
    // The application of the window manager's active window: a program the workspace knows by its process,
    // else the desktop entry that stands for the window.
    const auto window = activeClientWindow();
    if (!window)
        return std::nullopt;
    if (window->pid > 0)
        if (auto running = runningApplication(window->pid))
            return running;
    const auto entry = desktopEntryForWindow(applicationDesktopEntries(),
                                             windowOwner(window->wmInstance, window->wmClass, window->pid));
    if (!entry)
        return window->pid > 0
                   ? std::optional(RunningApplication{window->pid, QString(), window->wmClass, QString()})
                   : std::nullopt;
    return RunningApplication{window->pid, entry->bundleIdentifier, entry->name, QString()};
}

bool HostWorkspace::activate(qint32 processIdentifier) {
    return host::activateApplication(processIdentifier);
}

bool HostWorkspace::signal(qint32 processIdentifier, int signalNumber) {
    // Only applications: a stale or foreign process number is never signalled.
    if (processIdentifier <= 0 || !runningApplication(processIdentifier))
        return false;
    return ::kill(processIdentifier, signalNumber) == 0;
}

bool HostWorkspace::terminate(qint32 processIdentifier) {
    return signal(processIdentifier, SIGTERM);
}

bool HostWorkspace::forceTerminate(qint32 processIdentifier) {
    return signal(processIdentifier, SIGKILL);
}

int HostWorkspace::addApplicationObserver(ApplicationObserver observer) {
    int number = 0;
    {
        std::lock_guard lock(observers_->mutex);
        number = observers_->next++;
        observers_->byNumber.insert(number, std::move(observer));
    }
    if (!watcher_) {
        const std::weak_ptr<Observers> observers = observers_;
        watcher_ = std::make_unique<ApplicationWatcher>(
            [this] { return runningApplications(); },
            [observers](ApplicationEvent event, const RunningApplication& application) {
                mainQueue().async([observers, event, application] {
                    const auto alive = observers.lock();
                    if (!alive)
                        return;
                    QList<ApplicationObserver> current;
                    {
                        std::lock_guard lock(alive->mutex);
                        current = alive->byNumber.values();
                    }
                    for (const ApplicationObserver& observer : current)
                        observer(event, application);
                });
            },
            watcherPollSeconds,
            [starts = std::make_shared<ProcessStarts>()] { return starts->anySinceLastAsked(); });
    }
    return number;
}

void HostWorkspace::removeApplicationObserver(int observer) {
    bool none = false;
    {
        std::lock_guard lock(observers_->mutex);
        observers_->byNumber.remove(observer);
        none = observers_->byNumber.isEmpty();
    }
    if (none)
        watcher_.reset();
}

std::optional<RunningApplication> HostWorkspace::runningInstance(const Application& app) {
    const QString identifier = app.bundleIdentifier();
    for (const RunningApplication& running : runningApplications()) {
        if (app.desktopEntry) {
            if (running.bundlePath.isEmpty() && running.bundleIdentifier == identifier)
                return running;
        } else if (identifier.isEmpty() ? running.bundlePath == app.path
                                        : running.bundleIdentifier == identifier) {
            return running;
        }
    }
    return std::nullopt;
}

void HostWorkspace::launch(const Application& app, const QList<QUrl>& urls,
                           const OpenConfiguration& configuration, OpenCompletion completion) {
    const QString name = QFileInfo(app.path).fileName();

    if (app.desktopEntry) {
        if (!urls.isEmpty() && std::none_of(urls.begin(), urls.end(), [](const QUrl& url) {
                return url.isValid() && !url.isRelative();
            })) {
            complete(std::move(completion), std::nullopt,
                     workspaceError(WorkspaceErrorCode::launchFailed,
                                    QStringLiteral("no usable link to open in %1").arg(name)));
            return;
        }
        const std::vector<QStringList> commands =
            desktopEntryCommands(*app.desktopEntry, urls, configuration.writtenLinks);
        if (commands.empty()) {
            complete(std::move(completion), std::nullopt,
                     workspaceError(WorkspaceErrorCode::noExecutable,
                                    QStringLiteral("%1 has no usable Exec line").arg(name)));
            return;
        }
        std::optional<RunningApplication> started;
        for (const QStringList& command : commands) {
            QString program = command.first();
            if (!program.contains(QLatin1Char('/')))
                program = QStandardPaths::findExecutable(program);
            QString failure;
            const auto pid = program.isEmpty()
                                 ? std::nullopt
                                 : startDetached(program, command.mid(1) + configuration.arguments,
                                                 launchEnvironment(app.bundleIdentifier()),
                                                 QFileInfo(app.path).completeBaseName(), failure);
            if (!pid) {
                complete(std::move(completion), std::nullopt,
                         workspaceError(WorkspaceErrorCode::launchFailed,
                                        QStringLiteral("could not start %1: %2")
                                            .arg(command.first(), failure.isEmpty()
                                                                      ? QStringLiteral("program not found")
                                                                      : failure)));
                return;
            }
            started = runningRecord(app, qint32(*pid));
            if (const auto process = liveProcess(qint32(*pid))) {
                std::lock_guard lock(launchedMutex_);
                launched_.insert(qint32(*pid), Launched{*started, process->startTime});
            }
        }
        complete(std::move(completion), started, std::nullopt);
        return;
    }

    const QString executableName = stringValue(app.info, QStringLiteral("CFBundleExecutable"));
    const QString executable = app.path + QStringLiteral("/Contents/MacOS/") + executableName;
    const QFileInfo executableInfo(executable);
    if (executableName.isEmpty() || !executableInfo.isFile() || !executableInfo.isExecutable()) {
        complete(std::move(completion), std::nullopt,
                 workspaceError(WorkspaceErrorCode::noExecutable,
                                QStringLiteral("%1 has no executable program").arg(name)));
        return;
    }
    LaunchRequest request{app.path, app.bundleIdentifier(), configuration.arguments,
                          launchEnvironment(app.bundleIdentifier()), configuration.deliveryID};
    if (!urls.isEmpty())
        eventDelivery().prepareLaunch(request, urls, configuration.writtenLinks);
    QString failure;
    auto ended = std::make_shared<std::promise<std::optional<QString>>>();
    const std::shared_future<std::optional<QString>> end = ended->get_future().share();
    const auto pid = startDetached(
        executable, request.arguments, request.environment,
        app.bundleIdentifier().isEmpty() ? QFileInfo(app.path).completeBaseName() : app.bundleIdentifier(),
        failure, [ended](const ProgramEnd& how) {
            ended->set_value(how.clean() ? std::nullopt : std::optional(how.description()));
        });
    if (!pid) {
        complete(std::move(completion), std::nullopt,
                 workspaceError(WorkspaceErrorCode::launchFailed,
                                QStringLiteral("could not start %1: %2").arg(name, failure)));
        return;
    }
    // A bundle that was started is known from then on, as it is wherever it lies.
    if (!readState().registeredBundles.contains(app.path)) {
        try {
            updateState([&](WorkspaceState& state) { rememberBundle(state, app.path); });
            index_.invalidate();
        } catch (const host::Error&) {
            // The program runs; only the registration is lost.
        }
    }
    const RunningApplication started = runningRecord(app, qint32(*pid));
    if (urls.isEmpty()) {
        complete(std::move(completion), started, std::nullopt);
        return;
    }
    // The open is done once the program took its links, or failed before it did.
    eventDelivery().confirmLaunch(
        request, StartedProgram{*pid, end},
        [completion = std::move(completion), started](std::optional<QString> failure) mutable {
            if (failure)
                complete(std::move(completion), std::nullopt,
                         workspaceError(WorkspaceErrorCode::launchFailed, *failure));
            else
                complete(std::move(completion), started, std::nullopt);
        });
}

void HostWorkspace::openApplication(const QString& appPath, const OpenConfiguration& configuration,
                                    OpenCompletion completion) {
    const auto app = application(appPath);
    if (!app) {
        completeWithoutApplication(std::move(completion), appPath);
        return;
    }
    // One instance unless asked for another: the running one is told it was opened again (the reopen event,
    // where the program listens for events).
    if (!configuration.createsNewApplicationInstance)
        if (auto running = runningInstance(*app)) {
            if (!app->desktopEntry)
                eventDelivery().deliverToRunning(*running, {}, {}, {}, {});
            complete(std::move(completion), running, std::nullopt);
            return;
        }
    launch(*app, {}, configuration, std::move(completion));
}

void HostWorkspace::open(const QList<QUrl>& urls, const QString& appPath,
                         const OpenConfiguration& configuration, OpenCompletion completion) {
    const auto app = application(appPath);
    if (!app) {
        completeWithoutApplication(std::move(completion), appPath);
        return;
    }
    if (urls.isEmpty()) {
        openApplication(appPath, configuration, std::move(completion));
        return;
    }
    // A desktop browser hands links to its own running instance; a bundle program takes them as an event
    // when it runs and listens, else it is started with them.
    if (!app->desktopEntry && !configuration.createsNewApplicationInstance)
        if (auto running = runningInstance(*app)) {
            handOver(*app, *running, urls, configuration, std::move(completion));
            return;
        }
    launch(*app, urls, configuration, std::move(completion));
}

// The answer is waited for off the main queue; a program that did not take the links is started with them,
// under the mark they were handed over with, so that a program that handed them on before it went does not
// get them twice.
void HostWorkspace::handOver(const Application& app, const RunningApplication& running,
                             const QList<QUrl>& urls, const OpenConfiguration& configuration,
                             OpenCompletion completion) {
    OpenConfiguration marked = configuration;
    if (marked.deliveryID.isEmpty())
        marked.deliveryID = QString::fromStdString(wire::newDeliveryID());
    // Whoever handed these links to this program hears them handled only once they are handed on here.
    eventDelivery().deliverToRunning(running, urls, marked.writtenLinks, marked.deliveryID,
                                     [this, app, running, urls, marked, completion = std::move(completion),
                                      sendersAnswer = holdSendersAnswer()](bool taken) mutable {
                                         if (taken)
                                             complete(std::move(completion), running, std::nullopt);
                                         else
                                             launch(app, urls, marked, std::move(completion));
                                         sendersAnswer.reset();
                                     });
}

bool HostWorkspace::openSystemSettings(const QUrl& address) {
    const auto report = [](LogLevel level, const QString& message) {
        logSink().write(QStringLiteral("host"), QStringLiteral("workspace"), level, message);
    };
    const auto page = settingsPageForAddress(address);
    if (!page) {
        report(LogLevel::Default,
               QStringLiteral("no settings page on this desktop for %1").arg(address.toString()));
        return false;
    }
    const QString pageName = settingsPageName(*page);
    const QStringList desktops = currentDesktops();
    if (desktops.isEmpty()) {
        report(LogLevel::Default,
               QStringLiteral("not opening the %1 settings: the desktop does not say which it is "
                              "(XDG_CURRENT_DESKTOP is not set)")
                   .arg(pageName));
        return false;
    }
    const auto command = settingsPageCommand(
        *page, desktops, [](const QString& program) { return QStandardPaths::findExecutable(program); },
        [](const QString& entry) {
            return !QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry).isEmpty();
        });
    if (!command) {
        report(LogLevel::Default,
               QStringLiteral("not opening the %1 settings: this desktop (%2) has no settings "
                              "program for them here")
                   .arg(pageName, desktops.join(QLatin1Char(':'))));
        return false;
    }
    QString failure;
    if (!startDetached(command->first(), command->mid(1), {}, QStringLiteral("settings"), failure)) {
        report(LogLevel::Error, QStringLiteral("could not open the %1 settings with %2: %3")
                                    .arg(pageName, command->first(), failure));
        return false;
    }
    report(LogLevel::Default,
           QStringLiteral("opened the %1 settings with %2").arg(pageName, command->join(QLatin1Char(' '))));
    return true;
}

} // namespace host
