#pragma once

#include "Corvane/Models/BuildRequest.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "CorvaneCore/ProxyApps/StubRevision.h"
#include "CorvaneCore/Routing/AppSettings.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHost/Defaults.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "Support/FakeDesktop.h"
#include "Support/FakeWorkspace.h"
#include "Support/RecordingProcessRunner.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace test {

// Lays out a proxy app bundle as the builder leaves it: Info.plist with its identity, configuration and
// launcher revision, and the launcher executable (unless `withLauncher` is false).
inline QString writeProxyBundle(const QString& path, const QString& bundleID, const StubConfig& config,
                                std::optional<int> revision = StubRevision::current, bool withLauncher = true,
                                bool registersAsBrowser = false) {
    QDir().mkpath(path + QStringLiteral("/Contents/MacOS"));
    QVariantMap info = config.plistEntries();
    info.insert(QStringLiteral("CFBundleIdentifier"), bundleID);
    info.insert(QStringLiteral("CFBundleName"), QFileInfo(path).completeBaseName());
    if (revision)
        info.insert(StubRevision::plistKey, qint64(*revision));
    if (registersAsBrowser) {
        QVariantMap type;
        type.insert(QStringLiteral("CFBundleURLSchemes"),
                    QVariantList{QStringLiteral("http"), QStringLiteral("https")});
        info.insert(QStringLiteral("CFBundleURLTypes"), QVariantList{type});
    }
    host::writePropertyListFile(path + QStringLiteral("/Contents/Info.plist"), info);
    if (withLauncher) {
        QFile launcher(path + QStringLiteral("/Contents/MacOS/CorvaneStub"));
        launcher.open(QIODevice::WriteOnly);
    }
    return path;
}

// A builder double: lays out the bundle the request describes (removing the superseded one) and records every
// request, or fails for names it was told to fail. Thread-safe: builds run on background threads.
class FakeBuilder {
public:
    std::vector<BuildRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::vector<QString> identities() const {
        std::lock_guard lock(mutex_);
        return identities_;
    }
    void failFor(const QString& name, const QString& message) {
        std::lock_guard lock(mutex_);
        failures_[name] = message;
    }
    // Builds wait from `hold()` until `release()`, so a test acts while one is running.
    void hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        released_.notify_all();
    }

    BuildFunction function() {
        return [this](const BuildRequest& request, const QString& identity) {
            {
                std::unique_lock lock(mutex_);
                released_.wait(lock, [this] { return !held_; });
                requests_.push_back(request);
                identities_.push_back(identity);
                if (failures_.contains(request.name))
                    throw host::Error(failures_[request.name]);
            }
            const QString path = request.destinationPath();
            QDir(path).removeRecursively();
            writeProxyBundle(path, request.bundleID, request.config, StubRevision::current, true,
                             request.registerAsBrowser);
            if (request.replacing && QDir::cleanPath(request.replacing->toLocalFile()) != path)
                QDir(request.replacing->toLocalFile()).removeRecursively();
            RegisteredApp app;
            app.bundleID = request.bundleID;
            app.name = request.name;
            app.path = path;
            app.config = request.config;
            app.createdAt = QDateTime::currentDateTimeUtc();
            app.stubRevision = StubRevision::current;
            app.refreshBookmark();
            return app;
        };
    }

private:
    mutable std::mutex mutex_;
    std::vector<BuildRequest> requests_;
    std::vector<QString> identities_;
    QMap<QString, QString> failures_;
    bool held_ = false;
    std::condition_variable released_;
};

// The creator's world for model tests: virtual time, a fake workspace, recorded tools, scripted panels and
// desktop, and an empty support folder and user defaults.
class ModelEnvironment {
public:
    ModelEnvironment() {
        QDir(Corvane::supportDirectory()).removeRecursively();
        QDir(QDir::homePath() + QStringLiteral("/Applications")).removeRecursively();
        QFile::remove(ChromeProfiles::localStateURL());
        host::defaults().removeValue(Corvane::creatorBundleID, QStringLiteral("MigrationDeclined"));
        host::defaults().removeValue(Corvane::creatorBundleID, QStringLiteral("GeneratedAppsDirectory"));
        RuleStore::shared().reloadIfChanged();
        SettingsStore::shared().reloadIfChanged();
        RecentLinksStore::shared().reloadIfChanged();
    }

    VirtualTime& time() { return time_.time(); }
    FakeWorkspace& workspace() { return workspace_.workspace(); }
    RecordingProcessRunner& runner() { return runner_.runner(); }
    ScriptedPanels& panels() { return desktop_.panels(); }
    RecordingDesktop& desktop() { return desktop_.desktop(); }

    // The installed helper that makes proxy apps possible.
    void installHelperCopy() {
        writeProxyBundle(Corvane::installedHelperURL(), Corvane::helperBundleID,
                         StubConfig(QStringLiteral("-")));
    }
    void setDisablesHelper(bool disables) {
        AppSettings settings = SettingsStore::shared().current();
        settings.disablesHelper = disables;
        SettingsStore::shared().save(settings);
    }
    QString applications() const {
        const QString path = QDir::homePath() + QStringLiteral("/Applications");
        QDir().mkpath(path);
        return path;
    }

private:
    VirtualTimeScope time_;
    FakeWorkspaceScope workspace_;
    RecordingProcessRunnerScope runner_;
    DesktopScope desktop_;
};

} // namespace test
