#include "CorvaneCore/Routing/AppSettings.h"

#include "CorvaneCore/Foundation/JSONFields.h"
#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"

#include <QHashFunctions>

QJsonObject AppSettings::toJson() const {
    return QJsonObject{
        {QStringLiteral("version"), version},
        {QStringLiteral("notifiesWhenProxyAppsAreOutdated"), notifiesWhenProxyAppsAreOutdated},
        {QStringLiteral("disablesHelper"), disablesHelper},
    };
}

AppSettings AppSettings::fromJson(const QJsonValue& json) {
    const QJsonObject object = JSONFields::objectOf(json, QStringLiteral("Expected the settings object."));
    AppSettings settings;
    settings.version =
        JSONFields::optionalInteger(object, QStringLiteral("version")).value_or(settings.version);
    settings.notifiesWhenProxyAppsAreOutdated =
        JSONFields::optionalBool(object, QStringLiteral("notifiesWhenProxyAppsAreOutdated"))
            .value_or(settings.notifiesWhenProxyAppsAreOutdated);
    settings.disablesHelper =
        JSONFields::optionalBool(object, QStringLiteral("disablesHelper")).value_or(settings.disablesHelper);
    return settings;
}

size_t qHash(const AppSettings& settings, size_t seed) noexcept {
    return qHashMulti(seed, settings.version, settings.notifiesWhenProxyAppsAreOutdated,
                      settings.disablesHelper);
}

SettingsStore& SettingsStore::shared() {
    static SettingsStore store;
    return store;
}

SettingsStore::SettingsStore()
    : file_({
          .path = Corvane::settingsURL,
          .decode = [](const QJsonValue& json) { return AppSettings::fromJson(json); },
          .encode = [](const AppSettings& settings) -> QJsonValue { return settings.toJson(); },
          // Without a file ever read or written, whatever is held stays until a file appears.
          .holdsNothing = [](const AppSettings&) { return true; },
          .logger = &Log::creator,
          .unreadableMessage = QStringLiteral("settings.json could not be read; using defaults"),
      }) {
    reloadIfChanged();
}

std::optional<QDateTime> SettingsStore::loadedModification() const {
    return file_.loadedModification();
}

bool SettingsStore::reloadIfChanged() {
    return file_.reloadIfChanged();
}

AppSettings SettingsStore::current() {
    return file_.current();
}

void SettingsStore::save(const AppSettings& settings) {
    file_.save(settings);
}
