#pragma once

#include "CorvaneCore/ProxyApps/AppConfig.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>
#include <vector>

// One proxy app that the product generated.
struct RegisteredApp {
    QString bundleID;
    QString name; // the app's file name without ".app"
    QString path; // file-system path of the app bundle
    StubConfig config;
    // An entry is stamped when it is made, so none is ever written without a valid date.
    QDateTime createdAt = creationDate();
    std::optional<int> stubRevision;
    std::optional<QByteArray> bookmark; // finds the app after it was moved or renamed, where possible
    bool isMissing = false;

    bool operator==(const RegisteredApp&) const = default;

    QUrl url() const { return QUrl::fromLocalFile(path); }
    bool existsOnDisk() const;
    // The app exists but carries no launcher executable under the current name.
    bool needsRebuildAfterRename() const;
    // Why the app should be rebuilt; empty when it need not be (or is not on disk).
    QStringList rebuildReasons() const;
    bool needsRebuild() const { return !rebuildReasons().isEmpty(); }
    // Recomputes `bookmark` from `path`; none when the bookmark cannot be made.
    void refreshBookmark();

    // fromJson requires "bundleID" and "config" and throws JSONDecodingError when one is missing or any key
    // is mistyped; a missing "createdAt" becomes `now`.
    QJsonObject toJson() const;
    static RegisteredApp fromJson(const QJsonValue& json, const QDateTime& now);

private:
    static QDateTime creationDate();
};

size_t qHash(const RegisteredApp& app, size_t seed = 0);

// The proxy apps the product generated, kept in "registry.json". The creator app owns it; the helper only
// reads it. A plain value used on the main thread.
struct Registry {
    int version = 1;
    std::vector<RegisteredApp> apps;

    bool operator==(const Registry&) const = default;

    // The registry on disk; version 1 with no apps when the file is missing or cannot be decoded. Never
    // fails.
    static Registry load();
    // Writes "registry.json" atomically. Throws host::Error (support folder, writing).
    void save() const;

    // Replaces the first entry with the same bundle identifier in place, else appends.
    void upsert(const RegisteredApp& app);
    // Removes every entry with this bundle identifier.
    void remove(const QString& bundleID);

    // Where the app is now: its bookmark's file when that bundle carries the app's identifier, else the
    // application the workspace knows by its bundle identifier; none when neither exists on disk. The stored
    // path is not consulted.
    static std::optional<QString> resolve(const RegisteredApp& app);
    // The identifier in the Info.plist of the bundle at `bundlePath`; none when it has no readable one.
    static std::optional<QString> bundleIDAt(const QString& bundlePath);

    // "~/Applications", then "/Applications".
    static QStringList standardSearchDirectories();
    // The standard folders, then the folder of every registered app, each once.
    QStringList searchDirectories() const;
    // Rebuilds `apps` from the proxy apps found in the search directories, keeping entries not found (marked
    // missing unless `resolve` finds them elsewhere), sorted by name. Does not save.
    void rescan();

    QJsonObject toJson() const;
    static Registry fromJson(const QJsonValue& json, const QDateTime& now);
};
