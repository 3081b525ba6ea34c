#pragma once

#include "CorvaneHost/Workspace.h"

#include <QMap>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace test {

// A workspace whose applications, defaults and running programs the test sets up, and which records what the
// code under test asked of it. Completions go through the main queue, as the real workspace's do (run them
// with VirtualTime). Lookups answer in the order the applications were added.
class FakeWorkspace final : public host::Workspace {
public:
    struct Open {
        QList<QUrl> urls; // empty for openApplication
        QString appPath;
        host::OpenConfiguration configuration;
        bool operator==(const Open&) const = default;
    };
    struct DefaultChange {
        QString appPath;
        QString key; // the scheme or the content type
        bool isScheme = true;
        bool operator==(const DefaultChange&) const = default;
    };

    FakeWorkspace();

    // An Info dictionary of a bundle; `schemes` become its CFBundleURLTypes, `contentTypes` its
    // CFBundleDocumentTypes; an empty version leaves CFBundleShortVersionString out.
    static QVariantMap info(const QString& bundleIdentifier, const QStringList& schemes = {},
                            const QStringList& contentTypes = {}, const QString& version = {});
    // A browser: opens "http" and "https".
    static QVariantMap browserInfo(const QString& bundleIdentifier, const QString& version = {});

    // Lays out "<name>.app" with its Contents/Info.plist in a temporary folder of the fake (or below
    // `folder`) and adds it; returns its path.
    QString addApplication(const QString& name, const QVariantMap& info, const QString& folder = {});
    // Adds an application at any path, without touching the disk (for applications whose file is gone).
    void addApplicationAt(const QString& path, const QVariantMap& info);
    void removeApplication(const QString& path);
    QString root() const { return dir_.path(); }

    void setDefaultForScheme(const QString& scheme, const std::optional<QString>& appPath);
    void setDefaultForContentType(const QString& contentType, const std::optional<QString>& appPath);

    void addRunning(const host::RunningApplication& application);
    void removeRunning(qint32 processIdentifier);
    void setFrontmost(const std::optional<host::RunningApplication>& application) {
        frontmost_ = application;
    }
    // Tells the observers (through the main queue) that the application started or ended.
    void postLaunch(const host::RunningApplication& application);
    void postTermination(const host::RunningApplication& application);
    // When true (the default), terminate and forceTerminate remove the application from the running list.
    bool terminationRemoves = true;

    // Programmable failures: opens of this application (or of every one, with an empty path), default changes
    // of this scheme or content type.
    void failOpens(const QString& appPath, const host::SystemError& error);
    void failDefaultChange(const QString& key, const host::SystemError& error);
    void failRegistration(const host::SystemError& error) { registrationFailure_ = error; }

    // What was asked.
    std::vector<Open> opens;
    std::vector<DefaultChange> defaultChanges;
    QStringList registeredBundles;
    std::vector<qint32> terminated;
    std::vector<qint32> forceTerminated;

    // host::Workspace
    std::optional<QString> urlForApplication(const QString& bundleIdentifier) override;
    QStringList applicationsToOpenScheme(const QString& scheme) override;
    QStringList applicationsToOpenContentType(const QString& contentType) override;
    std::optional<QString> defaultApplicationForScheme(const QString& scheme) override;
    std::optional<QString> defaultApplicationForContentType(const QString& contentType) override;
    std::optional<QVariantMap> bundleInfo(const QString& appPath) override;
    void setDefaultApplicationForScheme(const QString& appPath, const QString& scheme,
                                        host::WorkspaceCompletion completion) override;
    void setDefaultApplicationForContentType(const QString& appPath, const QString& contentType,
                                             host::WorkspaceCompletion completion) override;
    void registerBundle(const QString& appPath) override;
    using host::Workspace::runningApplications;
    std::vector<host::RunningApplication> runningApplications() override;
    std::optional<host::RunningApplication> frontmostApplication() override { return frontmost_; }
    bool terminate(qint32 processIdentifier) override;
    bool forceTerminate(qint32 processIdentifier) override;
    int addApplicationObserver(host::ApplicationObserver observer) override;
    void removeApplicationObserver(int observer) override { observers_.remove(observer); }
    bool activate(qint32 processIdentifier) override {
        activated.push_back(processIdentifier);
        return activationSucceeds;
    }
    std::vector<qint32> activated;
    bool activationSucceeds = true;
    void openApplication(const QString& appPath, const host::OpenConfiguration& configuration,
                         host::OpenCompletion completion) override;
    void open(const QList<QUrl>& urls, const QString& appPath, const host::OpenConfiguration& configuration,
              host::OpenCompletion completion) override;
    // Records the address; answers `settingsPagesOpen`.
    bool openSystemSettings(const QUrl& address) override {
        settingsAddresses.push_back(address);
        return settingsPagesOpen;
    }
    std::vector<QUrl> settingsAddresses;
    bool settingsPagesOpen = true;

private:
    struct App {
        QString path;
        QVariantMap info;
    };
    void setDefault(const QString& appPath, const QString& key, bool isScheme,
                    host::WorkspaceCompletion completion);
    void recordOpen(const QList<QUrl>& urls, const QString& appPath,
                    const host::OpenConfiguration& configuration, host::OpenCompletion completion);

    QTemporaryDir dir_;
    std::vector<App> apps_;
    QMap<QString, std::optional<QString>> schemeDefaults_;
    QMap<QString, std::optional<QString>> contentTypeDefaults_;
    std::vector<host::RunningApplication> running_;
    std::optional<host::RunningApplication> frontmost_;
    QMap<QString, host::SystemError> openFailures_;
    QMap<QString, host::SystemError> defaultFailures_;
    std::optional<host::SystemError> registrationFailure_;
    qint32 nextPid_ = 40000;
    QMap<int, host::ApplicationObserver> observers_;
    int nextObserver_ = 1;
    void post(host::ApplicationEvent event, const host::RunningApplication& application);
};

// Installs a FakeWorkspace as host::workspace() for its lifetime and restores the previous one.
class FakeWorkspaceScope {
public:
    FakeWorkspaceScope();
    ~FakeWorkspaceScope();
    FakeWorkspaceScope(const FakeWorkspaceScope&) = delete;
    FakeWorkspaceScope& operator=(const FakeWorkspaceScope&) = delete;
    FakeWorkspace& workspace() { return *fake_; }
    FakeWorkspace* operator->() { return fake_.get(); }

private:
    std::shared_ptr<FakeWorkspace> fake_;
    std::shared_ptr<host::Workspace> previous_;
};

} // namespace test
