#include "CorvaneCore/AppSettings.h"

#include "CorvaneCore/Logging.h"
#include "CorvaneCore/Paths.h"

#include <QFile>
#include <QHashFunctions>
#include <QTimeZone>
#include <cmath>
#include <sys/stat.h>

namespace {

[[noreturn]] void fail(const QString& key, const char* expected) {
    throw JSONDecodingError(
        QStringLiteral("The data couldn’t be read because it isn’t in the correct format. Expected %1 for key "
                       "\"%2\".")
            .arg(QLatin1String(expected), key));
}

bool isAbsent(const QJsonObject& object, const QString& key) {
    const auto it = object.constFind(key);
    return it == object.constEnd() || it->isNull() || it->isUndefined();
}

bool boolOr(const QJsonObject& object, const QString& key, bool fallback) {
    if (isAbsent(object, key))
        return fallback;
    const QJsonValue value = object.value(key);
    if (!value.isBool())
        fail(key, "a Boolean");
    return value.toBool();
}

qint64 integerOr(const QJsonObject& object, const QString& key, qint64 fallback) {
    if (isAbsent(object, key))
        return fallback;
    const QJsonValue value = object.value(key);
    const double number = value.toDouble();
    if (!value.isDouble() || number != std::trunc(number) || std::fabs(number) > 9007199254740992.0)
        fail(key, "an integer");
    return static_cast<qint64>(number);
}

// One stat of the plain path: the whole cost of a reload check when nothing changed.
std::optional<SettingsStore::FileTime> modificationTime(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return SettingsStore::FileTime{qint64(info.st_mtim.tv_sec), qint64(info.st_mtim.tv_nsec)};
}

AppSettings readSettings(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw corvane::Error(file.errorString());
    return AppSettings::fromJson(JSONDecoder::corvane().decode(file.readAll()));
}

} // namespace

QJsonObject AppSettings::toJson() const {
    return QJsonObject{
        {QStringLiteral("version"), version},
        {QStringLiteral("notifiesWhenProxyAppsAreOutdated"), notifiesWhenProxyAppsAreOutdated},
        {QStringLiteral("disablesHelper"), disablesHelper},
    };
}

AppSettings AppSettings::fromJson(const QJsonValue& json) {
    if (!json.isObject())
        throw JSONDecodingError(QStringLiteral(
            "The data couldn’t be read because it isn’t in the correct format. Expected the settings object."));
    const QJsonObject object = json.toObject();
    AppSettings settings;
    settings.version = integerOr(object, QStringLiteral("version"), settings.version);
    settings.notifiesWhenProxyAppsAreOutdated = boolOr(object, QStringLiteral("notifiesWhenProxyAppsAreOutdated"),
                                                       settings.notifiesWhenProxyAppsAreOutdated);
    settings.disablesHelper = boolOr(object, QStringLiteral("disablesHelper"), settings.disablesHelper);
    return settings;
}

size_t qHash(const AppSettings& settings, size_t seed) noexcept {
    return qHashMulti(seed, settings.version, settings.notifiesWhenProxyAppsAreOutdated, settings.disablesHelper);
}

SettingsStore& SettingsStore::shared() {
    static SettingsStore store;
    return store;
}

SettingsStore::SettingsStore() {
    reloadIfChanged();
}

std::optional<QDateTime> SettingsStore::loadedModification() const {
    if (!loadedModification_)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(loadedModification_->seconds * 1000 + loadedModification_->nanoseconds / 1000000,
                                          QTimeZone::utc());
}

bool SettingsStore::reloadIfChanged() {
    const QString path = Corvane::settingsURL();
    const std::optional<FileTime> current = modificationTime(path);
    if (!current) {
        if (!loadedModification_)
            return false;
        loadedModification_.reset();
        settings_ = AppSettings{};
        holdsUnreadableFile_ = false;
        return true;
    }
    if (current == loadedModification_)
        return false;

    // Taken before decoding, so a broken file is read (and logged) once per version.
    loadedModification_ = current;
    try {
        settings_ = readSettings(path);
        holdsUnreadableFile_ = false;
    } catch (const corvane::Error&) {
        Log::creator.error(QStringLiteral("settings.json could not be read; using defaults"));
        settings_ = AppSettings{};
        holdsUnreadableFile_ = true;
    }
    return true;
}

AppSettings SettingsStore::current() {
    reloadIfChanged();
    return settings_;
}

void SettingsStore::save(const AppSettings& settings) {
    const QString path = Corvane::settingsURL();
    Corvane::ensureSupportDirectory();
    const QByteArray data = JSONEncoder::corvane().encode(settings.toJson());
    // The defaults held in place of a file that could not be decoded would otherwise replace it silently.
    if (holdsUnreadableFile_)
        Corvane::preserveUnreadableFile(path);
    Corvane::writeFileAtomically(path, data);
    holdsUnreadableFile_ = false;
    settings_ = settings;
    loadedModification_ = modificationTime(path);
}
