#include "CorvaneCore/ProxyApps/Registry.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/JSONFields.h"
#include "CorvaneCore/Foundation/NameOrder.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/StubRevision.h"
#include "CorvaneHost/Bookmark.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocale>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString renameReason =
    QStringLiteral("Built before the rename, so it can't reach the background helper "
                   "— it opens Chrome but tracks its windows only roughly.");
const QString stubExecutableInBundle = QStringLiteral("/Contents/MacOS/CorvaneStub");

using JSONFields::isAbsent;

[[noreturn]] void malformed(const QString& key) {
    JSONFields::wrongType(key, "", JSONFields::Wording::missingOrWrongType);
}

std::optional<int> integerValue(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::trunc(number) || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(number);
}

// Absent reads as the empty text.
QString optionalString(const QJsonObject& object, const QString& key) {
    return JSONFields::optionalString(object, key, JSONFields::Wording::missingOrWrongType)
        .value_or(QString());
}

QString standardized(const QString& path) {
    return QDir::cleanPath(path);
}

// The name of an app bundle as the desktop shows it (without its ".app").
QString appName(const QString& path) {
    return host::workspace().displayName(path);
}

// The identifier in a bundle's Info.plist; none when it has no readable text there.
std::optional<QString> bundleIDOf(const std::optional<QVariantMap>& info) {
    if (!info)
        return std::nullopt;
    const QVariant identifier = info->value(QStringLiteral("CFBundleIdentifier"));
    if (identifier.typeId() != QMetaType::QString)
        return std::nullopt;
    return identifier.toString();
}

std::optional<Registry> decodeRegistryFile(const QString& path, const QDateTime& now) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    try {
        return Registry::fromJson(JSONDecoder::corvane().decode(file.readAll()), now);
    } catch (const host::Error&) {
        return std::nullopt;
    }
}

} // namespace

bool RegisteredApp::existsOnDisk() const {
    return !path.isEmpty() && QFileInfo::exists(path);
}

bool RegisteredApp::needsRebuildAfterRename() const {
    if (!existsOnDisk())
        return false;
    return !QFileInfo::exists(path + stubExecutableInBundle);
}

QStringList RegisteredApp::rebuildReasons() const {
    if (!existsOnDisk())
        return {};
    if (needsRebuildAfterRename())
        return {renameReason};
    if (stubRevision && *stubRevision >= StubRevision::current)
        return {};
    const QStringList notes = StubRevision::improvements(stubRevision);
    if (!notes.isEmpty())
        return notes;
    return {StubRevision::genericAdvice};
}

QDateTime RegisteredApp::creationDate() {
    return host::clock().now();
}

void RegisteredApp::refreshBookmark() {
    bookmark = host::Bookmark::create(path);
}

QJsonObject RegisteredApp::toJson() const {
    QJsonObject object{
        {QStringLiteral("bundleID"), bundleID},
        {QStringLiteral("name"), name},
        {QStringLiteral("path"), path},
        {QStringLiteral("config"), config.toJson()},
        {QStringLiteral("createdAt"), JSONDate::encode(createdAt)},
        {QStringLiteral("isMissing"), isMissing},
    };
    if (stubRevision)
        object.insert(QStringLiteral("stubRevision"), *stubRevision);
    if (bookmark)
        object.insert(QStringLiteral("bookmark"), QString::fromLatin1(bookmark->toBase64()));
    return object;
}

RegisteredApp RegisteredApp::fromJson(const QJsonValue& json, const QDateTime& now) {
    const QJsonObject object = JSONFields::objectOf(json);
    RegisteredApp app;

    const QJsonValue bundleID = object.value(QStringLiteral("bundleID"));
    if (!bundleID.isString())
        malformed(QStringLiteral("bundleID"));
    app.bundleID = bundleID.toString();

    app.name = optionalString(object, QStringLiteral("name"));
    app.path = optionalString(object, QStringLiteral("path"));

    const QJsonValue config = object.value(QStringLiteral("config"));
    if (isAbsent(config))
        malformed(QStringLiteral("config"));
    app.config = StubConfig::fromJson(config);

    const QJsonValue createdAt = object.value(QStringLiteral("createdAt"));
    if (isAbsent(createdAt)) {
        app.createdAt = now;
    } else {
        const auto date = createdAt.isString() ? JSONDate::decode(createdAt.toString()) : std::nullopt;
        if (!date)
            malformed(QStringLiteral("createdAt"));
        app.createdAt = *date;
    }

    const QJsonValue revision = object.value(QStringLiteral("stubRevision"));
    if (!isAbsent(revision)) {
        app.stubRevision = integerValue(revision);
        if (!app.stubRevision)
            malformed(QStringLiteral("stubRevision"));
    }

    const QJsonValue bookmark = object.value(QStringLiteral("bookmark"));
    if (!isAbsent(bookmark)) {
        if (!bookmark.isString())
            malformed(QStringLiteral("bookmark"));
        auto decoded = QByteArray::fromBase64Encoding(bookmark.toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            malformed(QStringLiteral("bookmark"));
        app.bookmark = *decoded;
    }

    if (const auto isMissing = JSONFields::optionalBool(object, QStringLiteral("isMissing"),
                                                        JSONFields::Wording::missingOrWrongType))
        app.isMissing = *isMissing;
    return app;
}

size_t qHash(const RegisteredApp& app, size_t seed) {
    QtPrivate::QHashCombine combine;
    seed = combine(seed, app.bundleID);
    seed = combine(seed, app.name);
    seed = combine(seed, app.path);
    seed = combine(seed, qHash(app.config));
    seed = combine(seed, app.createdAt.toMSecsSinceEpoch());
    seed = combine(seed, app.stubRevision.has_value());
    if (app.stubRevision)
        seed = combine(seed, *app.stubRevision);
    seed = combine(seed, app.bookmark.has_value());
    if (app.bookmark)
        seed = combine(seed, *app.bookmark);
    seed = combine(seed, app.isMissing);
    return seed;
}

Registry Registry::load() {
    return decodeRegistryFile(Corvane::registryURL(), host::clock().now()).value_or(Registry{});
}

void Registry::save() const {
    Corvane::ensureSupportDirectory();
    const QByteArray bytes = JSONEncoder::corvane().encode(toJson());
    const QString path = Corvane::registryURL();
    // A file that load() could not decode read as an empty registry; keep it aside before replacing it.
    if (QFileInfo::exists(path) && !decodeRegistryFile(path, host::clock().now()))
        Corvane::preserveUnreadableFile(path);
    Corvane::writeFileAtomically(path, bytes);
}

void Registry::upsert(const RegisteredApp& app) {
    const auto found = std::find_if(
        apps.begin(), apps.end(), [&](const RegisteredApp& entry) { return entry.bundleID == app.bundleID; });
    if (found != apps.end())
        *found = app;
    else
        apps.push_back(app);
}

void Registry::remove(const QString& bundleID) {
    std::erase_if(apps, [&](const RegisteredApp& entry) { return entry.bundleID == bundleID; });
}

std::optional<QString> Registry::resolve(const RegisteredApp& app) {
    // A file identity can be reused once the app is deleted: what it leads to is this app only if it carries
    // this app's identifier.
    if (app.bookmark)
        if (const auto path = host::Bookmark::resolve(*app.bookmark);
            path && QFileInfo::exists(*path) && bundleIDAt(*path) == app.bundleID)
            return path;
    if (const auto path = host::workspace().urlForApplication(app.bundleID); path && QFileInfo::exists(*path))
        return path;
    return std::nullopt;
}

std::optional<QString> Registry::bundleIDAt(const QString& bundlePath) {
    return bundleIDOf(host::readBundleInfo(bundlePath));
}

QStringList Registry::standardSearchDirectories() {
    return {host::homeDirectory() + QStringLiteral("/Applications"), QStringLiteral("/Applications")};
}

QStringList Registry::searchDirectories() const {
    QStringList directories;
    QSet<QString> seen;
    for (const QString& directory : standardSearchDirectories()) {
        seen.insert(standardized(directory));
        directories.append(directory);
    }
    for (const RegisteredApp& app : apps) {
        // An entry without a path has no folder; QFileInfo would make it the working folder.
        if (app.path.isEmpty())
            continue;
        const QString folder = standardized(QFileInfo(app.path).path());
        if (seen.contains(folder))
            continue;
        seen.insert(folder);
        directories.append(folder);
    }
    return directories;
}

void Registry::rescan() {
    const QDateTime now = host::clock().now();
    std::vector<RegisteredApp> result;
    QSet<QString> found;

    for (const QString& directory : searchDirectories()) {
        const QFileInfoList items =
            QDir(directory).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
        for (const QFileInfo& item : items) {
            if (item.suffix() != QLatin1String("app"))
                continue;
            const QString itemPath = item.filePath();
            const auto info = host::readBundleInfo(itemPath);
            if (!info)
                continue;
            const auto config = StubConfig::fromPlist(*info);
            if (!config)
                continue;
            const auto identifier = bundleIDOf(info);
            if (!identifier || !Corvane::isOurBundleID(*identifier))
                continue;
            const QString bundleID = *identifier;

            RegisteredApp entry;
            entry.bundleID = bundleID;
            entry.name = appName(itemPath);
            entry.path = itemPath;
            entry.config = *config;
            entry.createdAt = now;
            entry.stubRevision = StubRevision::revision(*info);
            entry.isMissing = false;
            const auto earlier = std::find_if(
                apps.begin(), apps.end(), [&](const RegisteredApp& app) { return app.bundleID == bundleID; });
            if (earlier != apps.end())
                entry.createdAt = earlier->createdAt;
            entry.refreshBookmark();
            result.push_back(std::move(entry));
            found.insert(bundleID);
        }
    }

    for (RegisteredApp entry : apps) {
        if (found.contains(entry.bundleID))
            continue;
        if (const auto path = resolve(entry)) {
            entry.path = *path;
            entry.name = appName(*path);
            entry.isMissing = false;
            entry.refreshBookmark();
        } else {
            entry.isMissing = true;
        }
        result.push_back(std::move(entry));
    }

    // The Finder's order: case-insensitive, with numbers compared by value.
    std::stable_sort(result.begin(), result.end(), [](const RegisteredApp& a, const RegisteredApp& b) {
        return NameOrder::less(a.name, b.name);
    });
    apps = std::move(result);
}

QJsonObject Registry::toJson() const {
    QJsonArray array;
    for (const RegisteredApp& app : apps)
        array.append(app.toJson());
    return QJsonObject{{QStringLiteral("version"), version}, {QStringLiteral("apps"), array}};
}

Registry Registry::fromJson(const QJsonValue& json, const QDateTime& now) {
    const QJsonObject object = JSONFields::objectOf(json);
    Registry registry;
    const auto version = integerValue(object.value(QStringLiteral("version")));
    if (!version)
        malformed(QStringLiteral("version"));
    registry.version = *version;
    const QJsonValue apps = object.value(QStringLiteral("apps"));
    if (!apps.isArray())
        malformed(QStringLiteral("apps"));
    for (const QJsonValue& entry : apps.toArray())
        registry.apps.push_back(RegisteredApp::fromJson(entry, now));
    return registry;
}
