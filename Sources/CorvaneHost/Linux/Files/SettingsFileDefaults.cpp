#include "CorvaneHost/Linux/Files/SettingsFileDefaults.h"

#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Services.h"

#include <QSettings>
#include <QUrl>
#include <cmath>

namespace host {

QString SettingsFileDefaults::fileFor(const QString& bundleIdentifier) {
    // The identifier becomes a file name: everything but letters, digits and "-._~" is percent-encoded, so
    // no identifier can reach outside the folder.
    const QString name = QString::fromLatin1(QUrl::toPercentEncoding(bundleIdentifier));
    return hostStateDirectory() + QStringLiteral("/defaults/") + name + QStringLiteral(".ini");
}

std::optional<QVariant> SettingsFileDefaults::value(const QString& bundleIdentifier, const QString& key) {
    QSettings settings(fileFor(bundleIdentifier), QSettings::IniFormat);
    if (!settings.contains(key))
        return std::nullopt;
    return settings.value(key);
}

void SettingsFileDefaults::setValue(const QString& bundleIdentifier, const QString& key,
                                    const QVariant& value) {
    const QString file = fileFor(bundleIdentifier);
    ensurePrivateDirectory(hostStateDirectory() + QStringLiteral("/defaults"));
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
}

void SettingsFileDefaults::removeValue(const QString& bundleIdentifier, const QString& key) {
    QSettings settings(fileFor(bundleIdentifier), QSettings::IniFormat);
    if (!settings.contains(key))
        return;
    settings.remove(key);
    settings.sync();
}

Defaults& defaults() {
    return ensureService(services().defaults, [] { return std::make_shared<SettingsFileDefaults>(); });
}

} // namespace host
