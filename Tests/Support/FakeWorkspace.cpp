#include "Support/FakeWorkspace.h"

#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"

#include <QDir>
#include <QFileInfo>

namespace test {
namespace {

QStringList nestedStrings(const QVariantMap& info, const QString& arrayKey, const QString& key) {
    QStringList values;
    for (const QVariant& item : info.value(arrayKey).toList())
        for (const QVariant& value : item.toMap().value(key).toList())
            values.append(value.toString());
    return values;
}

} // namespace

FakeWorkspace::FakeWorkspace()
    : dir_(QDir::tempPath() + QStringLiteral("/fake-workspace-XXXXXX")) {}

QVariantMap FakeWorkspace::info(const QString& bundleIdentifier, const QStringList& schemes,
                                const QStringList& contentTypes, const QString& version) {
    QVariantMap info;
    if (!bundleIdentifier.isEmpty())
        info.insert(QStringLiteral("CFBundleIdentifier"), bundleIdentifier);
    if (!version.isEmpty())
        info.insert(QStringLiteral("CFBundleShortVersionString"), version);
    if (!schemes.isEmpty()) {
        QVariantMap urlType;
        urlType.insert(QStringLiteral("CFBundleURLSchemes"), QVariant(schemes).toList());
        info.insert(QStringLiteral("CFBundleURLTypes"), QVariantList{urlType});
    }
    if (!contentTypes.isEmpty()) {
        QVariantMap documentType;
        documentType.insert(QStringLiteral("LSItemContentTypes"), QVariant(contentTypes).toList());
        info.insert(QStringLiteral("CFBundleDocumentTypes"), QVariantList{documentType});
    }
    return info;
}

QVariantMap FakeWorkspace::browserInfo(const QString& bundleIdentifier, const QString& version) {
    return info(bundleIdentifier, {QStringLiteral("http"), QStringLiteral("https")}, {}, version);
}

QString FakeWorkspace::addApplication(const QString& name, const QVariantMap& info, const QString& folder) {
    const QString base = folder.isEmpty() ? dir_.path() : folder;
    const QString path = QDir::cleanPath(base + QLatin1Char('/') + name + QStringLiteral(".app"));
    QDir().mkpath(path + QStringLiteral("/Contents/MacOS"));
    host::writePropertyListFile(path + QStringLiteral("/Contents/Info.plist"), info);
    addApplicationAt(path, info);
    return path;
}

void FakeWorkspace::addApplicationAt(const QString& path, const QVariantMap& info) {
    removeApplication(path);
    apps_.push_back({QDir::cleanPath(path), info});
}

void FakeWorkspace::removeApplication(const QString& path) {
    const QString cleaned = QDir::cleanPath(path);
    std::erase_if(apps_, [&](const App& app) { return app.path == cleaned; });
}

void FakeWorkspace::setDefaultForScheme(const QString& scheme, const std::optional<QString>& appPath) {
    schemeDefaults_.insert(scheme.toLower(), appPath);
}

void FakeWorkspace::setDefaultForContentType(const QString& contentType,
                                             const std::optional<QString>& appPath) {
    contentTypeDefaults_.insert(contentType, appPath);
}

void FakeWorkspace::addRunning(const host::RunningApplication& application) {
    running_.push_back(application);
}

void FakeWorkspace::removeRunning(qint32 processIdentifier) {
    std::erase_if(running_, [&](const host::RunningApplication& application) {
        return application.processIdentifier == processIdentifier;
    });
}

void FakeWorkspace::failOpens(const QString& appPath, const host::SystemError& error) {
    openFailures_.insert(appPath, error);
}

void FakeWorkspace::failDefaultChange(const QString& key, const host::SystemError& error) {
    defaultFailures_.insert(key, error);
}

std::optional<QString> FakeWorkspace::urlForApplication(const QString& bundleIdentifier) {
    for (const App& app : apps_)
        if (app.info.value(QStringLiteral("CFBundleIdentifier")).toString() == bundleIdentifier)
            return app.path;
    return std::nullopt;
}

QStringList FakeWorkspace::applicationsToOpenScheme(const QString& scheme) {
    QStringList paths;
    for (const App& app : apps_)
        if (nestedStrings(app.info, QStringLiteral("CFBundleURLTypes"), QStringLiteral("CFBundleURLSchemes"))
                .contains(scheme, Qt::CaseInsensitive))
            paths.append(app.path);
    return paths;
}

QStringList FakeWorkspace::applicationsToOpenContentType(const QString& contentType) {
    QStringList paths;
    for (const App& app : apps_)
        if (nestedStrings(app.info, QStringLiteral("CFBundleDocumentTypes"),
                          QStringLiteral("LSItemContentTypes"))
                .contains(contentType))
            paths.append(app.path);
    return paths;
}

std::optional<QString> FakeWorkspace::defaultApplicationForScheme(const QString& scheme) {
    return schemeDefaults_.value(scheme.toLower());
}

std::optional<QString> FakeWorkspace::defaultApplicationForContentType(const QString& contentType) {
    return contentTypeDefaults_.value(contentType);
}

std::optional<QVariantMap> FakeWorkspace::bundleInfo(const QString& appPath) {
    const QString cleaned = QDir::cleanPath(appPath);
    for (const App& app : apps_)
        if (app.path == cleaned)
            return app.info;
    return std::nullopt;
}

void FakeWorkspace::setDefault(const QString& appPath, const QString& key, bool isScheme,
                               host::WorkspaceCompletion completion) {
    defaultChanges.push_back({appPath, key, isScheme});
    std::optional<host::SystemError> failure;
    if (const auto it = defaultFailures_.constFind(key); it != defaultFailures_.constEnd())
        failure = *it;
    else if (isScheme)
        setDefaultForScheme(key, appPath);
    else
        setDefaultForContentType(key, appPath);
    if (completion)
        host::mainQueue().async([completion = std::move(completion), failure] { completion(failure); });
}

void FakeWorkspace::setDefaultApplicationForScheme(const QString& appPath, const QString& scheme,
                                                   host::WorkspaceCompletion completion) {
    setDefault(appPath, scheme, true, std::move(completion));
}

void FakeWorkspace::setDefaultApplicationForContentType(const QString& appPath, const QString& contentType,
                                                        host::WorkspaceCompletion completion) {
    setDefault(appPath, contentType, false, std::move(completion));
}

void FakeWorkspace::registerBundle(const QString& appPath) {
    if (registrationFailure_)
        throw *registrationFailure_;
    registeredBundles.append(appPath);
}

int FakeWorkspace::addApplicationObserver(host::ApplicationObserver observer) {
    observers_.insert(nextObserver_, std::move(observer));
    return nextObserver_++;
}

void FakeWorkspace::postLaunch(const host::RunningApplication& application) {
    post(host::ApplicationEvent::didLaunch, application);
}

void FakeWorkspace::postTermination(const host::RunningApplication& application) {
    post(host::ApplicationEvent::didTerminate, application);
}

void FakeWorkspace::post(host::ApplicationEvent event, const host::RunningApplication& application) {
    // Only the observers registered when it happened hear of it (as with the real workspace), and only while
    // they still are.
    host::mainQueue().async([this, event, application, told = observers_.keys()] {
        for (const int number : told)
            if (const auto observer = observers_.value(number))
                observer(event, application);
    });
}

std::vector<host::RunningApplication> FakeWorkspace::runningApplications() {
    return running_;
}

bool FakeWorkspace::terminate(qint32 processIdentifier) {
    if (!runningApplication(processIdentifier))
        return false;
    terminated.push_back(processIdentifier);
    if (terminationRemoves)
        std::erase_if(running_, [&](const auto& app) { return app.processIdentifier == processIdentifier; });
    return true;
}

bool FakeWorkspace::forceTerminate(qint32 processIdentifier) {
    if (!runningApplication(processIdentifier))
        return false;
    forceTerminated.push_back(processIdentifier);
    if (terminationRemoves)
        std::erase_if(running_, [&](const auto& app) { return app.processIdentifier == processIdentifier; });
    return true;
}

void FakeWorkspace::recordOpen(const QList<QUrl>& urls, const QString& appPath,
                               const host::OpenConfiguration& configuration,
                               host::OpenCompletion completion) {
    opens.push_back({urls, appPath, configuration});
    std::optional<host::SystemError> failure;
    if (const auto it = openFailures_.constFind(appPath); it != openFailures_.constEnd())
        failure = *it;
    else if (const auto any = openFailures_.constFind(QString()); any != openFailures_.constEnd())
        failure = *any;
    std::optional<host::RunningApplication> launched;
    if (!failure) {
        const auto info = bundleInfo(appPath);
        const QString identifier =
            info ? info->value(QStringLiteral("CFBundleIdentifier")).toString() : QString();
        if (!configuration.createsNewApplicationInstance && !identifier.isEmpty()) {
            const auto existing = runningApplications(identifier);
            if (!existing.empty())
                launched = existing.front();
        }
        if (!launched) {
            launched = host::RunningApplication{nextPid_++, identifier, QFileInfo(appPath).completeBaseName(),
                                                appPath};
            running_.push_back(*launched);
        }
    }
    if (completion)
        host::mainQueue().async([completion = std::move(completion), launched, failure] {
            completion(failure ? std::nullopt : launched, failure);
        });
}

void FakeWorkspace::openApplication(const QString& appPath, const host::OpenConfiguration& configuration,
                                    host::OpenCompletion completion) {
    recordOpen({}, appPath, configuration, std::move(completion));
}

void FakeWorkspace::open(const QList<QUrl>& urls, const QString& appPath,
                         const host::OpenConfiguration& configuration, host::OpenCompletion completion) {
    recordOpen(urls, appPath, configuration, std::move(completion));
}

FakeWorkspaceScope::FakeWorkspaceScope()
    : fake_(std::make_shared<FakeWorkspace>()) {
    previous_ = host::replaceService(host::services().workspace, fake_);
}

FakeWorkspaceScope::~FakeWorkspaceScope() {
    host::replaceService(host::services().workspace, std::move(previous_));
}

} // namespace test
