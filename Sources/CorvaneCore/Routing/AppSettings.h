#pragma once

#include "CorvaneCore/Foundation/JSONFileStore.h"

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <functional>
#include <optional>

// The system-wide switches of the creator app's system page: the content of "settings.json".
struct AppSettings {
    qint64 version = 1;
    // Whether the helper tells a proxy app with an older launcher that it can be updated.
    bool notifiesWhenProxyAppsAreOutdated = true;
    // "Disable Helper Use": the creator app then treats the helper as unavailable.
    bool disablesHelper = false;

    // All three keys, always.
    QJsonObject toJson() const;
    // Every key is optional (missing or null gives the default) and unknown keys are ignored; a value of the
    // wrong type throws JSONDecodingError.
    static AppSettings fromJson(const QJsonValue& json);

    bool operator==(const AppSettings&) const = default;
};

size_t qHash(const AppSettings& settings, size_t seed = 0) noexcept;

template <> struct std::hash<AppSettings> {
    size_t operator()(const AppSettings& value) const noexcept { return qHash(value); }
};

// The settings of this process, kept in step with "settings.json" in the support folder; reloads only when
// the file's modification date changed (one file-status call otherwise). Main thread only.
class SettingsStore {
public:
    // The process's store, created (and loaded) on first use.
    static SettingsStore& shared();

    // Starts from the defaults, then loads the file once.
    SettingsStore();

    const AppSettings& settings() const { return file_.value(); }
    std::optional<QDateTime> loadedModification() const;

    // True when `settings` was replaced (also by the defaults, when the file is gone or cannot be decoded).
    bool reloadIfChanged();
    // reloadIfChanged(), then the settings.
    AppSettings current();
    // Writes the file atomically, then holds `settings` and the written file's date. Throws; on failure
    // nothing held changes.
    void save(const AppSettings& settings);

    using FileTime = FileModificationTime;

private:
    JSONFileStore<AppSettings> file_;
};
