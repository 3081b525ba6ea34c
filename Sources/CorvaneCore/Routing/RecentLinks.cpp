#include "CorvaneCore/Routing/RecentLinks.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/JSONFields.h"
#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QJsonArray>
#include <QUrl>

namespace {

using JSONFields::uuidFromString;
using JSONFields::uuidText;

[[noreturn]] void malformed(const QString& key) {
    JSONFields::wrongType(key, "", JSONFields::Wording::missingOrWrongType);
}

QJsonValue required(const QJsonValue& value, const QString& key) {
    if (JSONFields::isAbsent(value))
        malformed(key);
    return value;
}

std::optional<QString> optionalString(const QJsonObject& object, const QString& key) {
    return JSONFields::optionalString(object, key, JSONFields::Wording::missingOrWrongType);
}

std::optional<QUrl> parsedLink(const QString& text) {
    if (text.isEmpty())
        return std::nullopt;
    QUrl url(text, QUrl::TolerantMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

bool isFileLink(const QUrl& url) {
    return url.scheme() == QLatin1String("file");
}

// The file's path without the trailing slashes of a folder link.
QString filePath(const QUrl& url) {
    QString path = url.path(QUrl::FullyDecoded);
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

bool RecentLink::isLocalFile() const {
    const auto link = parsedLink(url);
    return link && isFileLink(*link);
}

QString RecentLink::displayHost() const {
    const auto link = parsedLink(url);
    if (!link)
        return url;
    if (isFileLink(*link)) {
        const QString path = filePath(*link);
        if (path == QLatin1String("/"))
            return path;
        return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    }
    const auto range = host::writtenHostRange(url);
    if (!range)
        return url;
    return url.mid(range->first, range->second - range->first);
}

QString RecentLink::displayPath() const {
    const auto link = parsedLink(url);
    if (!link)
        return {};
    if (isFileLink(*link)) {
        const QString path = filePath(*link);
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        QString folder = slash >= 0 ? path.left(slash + 1) : QStringLiteral("/");
        QString home = host::homeDirectory();
        if (!home.endsWith(QLatin1Char('/')))
            home += QLatin1Char('/');
        if (folder.startsWith(home))
            folder = QStringLiteral("~/") + folder.mid(home.size());
        folder.replace(QStringLiteral("//"), QStringLiteral("/"));
        return QStringLiteral("  in ") + folder;
    }
    const auto range = host::writtenHostRange(url);
    if (!range)
        return {};
    const QString rest = url.mid(range->second);
    return rest == QLatin1String("/") ? QString() : rest;
}

QDateTime RecentLink::creationDate() {
    return host::clock().now();
}

QJsonObject RecentLink::toJson() const {
    QJsonObject object{
        {QStringLiteral("id"), uuidText(id)},
        {QStringLiteral("date"), JSONDate::encode(date)},
        {QStringLiteral("url"), url},
        {QStringLiteral("targetWasMissing"), targetWasMissing},
    };
    auto put = [&](const char* key, const std::optional<QString>& value) {
        if (value)
            object.insert(QLatin1String(key), *value);
    };
    put("sourceBundleID", sourceBundleID);
    put("sourceName", sourceName);
    put("targetBundleID", targetBundleID);
    put("targetName", targetName);
    if (ruleID)
        object.insert(QStringLiteral("ruleID"), uuidText(*ruleID));
    put("ruleName", ruleName);
    return object;
}

RecentLink RecentLink::fromJson(const QJsonValue& json) {
    const QJsonObject object = JSONFields::objectOf(json);
    RecentLink link;

    const QString idKey = QStringLiteral("id");
    const auto id = uuidFromString(required(object.value(idKey), idKey).toString());
    if (!id)
        malformed(idKey);
    link.id = *id;

    const QString dateKey = QStringLiteral("date");
    const auto date = JSONDate::decode(required(object.value(dateKey), dateKey).toString());
    if (!date)
        malformed(dateKey);
    link.date = *date;

    const QString urlKey = QStringLiteral("url");
    const QJsonValue url = required(object.value(urlKey), urlKey);
    if (!url.isString())
        malformed(urlKey);
    link.url = url.toString();

    const QString missingKey = QStringLiteral("targetWasMissing");
    const QJsonValue missing = required(object.value(missingKey), missingKey);
    if (!missing.isBool())
        malformed(missingKey);
    link.targetWasMissing = missing.toBool();

    link.sourceBundleID = optionalString(object, QStringLiteral("sourceBundleID"));
    link.sourceName = optionalString(object, QStringLiteral("sourceName"));
    link.targetBundleID = optionalString(object, QStringLiteral("targetBundleID"));
    link.targetName = optionalString(object, QStringLiteral("targetName"));
    if (const auto rule = optionalString(object, QStringLiteral("ruleID"))) {
        const auto ruleID = uuidFromString(*rule);
        if (!ruleID)
            malformed(QStringLiteral("ruleID"));
        link.ruleID = *ruleID;
    }
    link.ruleName = optionalString(object, QStringLiteral("ruleName"));
    return link;
}

size_t qHash(const RecentLink& link, size_t seed) {
    QtPrivate::QHashCombine combine;
    auto optional = [&](const std::optional<QString>& value) {
        seed = combine(seed, value.has_value());
        if (value)
            seed = combine(seed, *value);
    };
    seed = combine(seed, link.id);
    seed = combine(seed, link.date.toMSecsSinceEpoch());
    seed = combine(seed, link.url);
    optional(link.sourceBundleID);
    optional(link.sourceName);
    optional(link.targetBundleID);
    optional(link.targetName);
    seed = combine(seed, link.ruleID.has_value());
    if (link.ruleID)
        seed = combine(seed, *link.ruleID);
    optional(link.ruleName);
    seed = combine(seed, link.targetWasMissing);
    return seed;
}

RecentLinksStore& RecentLinksStore::shared() {
    static RecentLinksStore store;
    return store;
}

namespace {

std::vector<RecentLink> decodeLinks(const QJsonValue& document) {
    if (!document.isArray())
        JSONFields::failFormat();
    std::vector<RecentLink> links;
    for (const QJsonValue& entry : document.toArray())
        links.push_back(RecentLink::fromJson(entry));
    return links;
}

QJsonValue encodeLinks(const std::vector<RecentLink>& links) {
    QJsonArray array;
    for (const RecentLink& link : links)
        array.append(link.toJson());
    return array;
}

} // namespace

RecentLinksStore::RecentLinksStore()
    : file_({
          .path = Corvane::recentLinksURL,
          .decode = decodeLinks,
          .encode = encodeLinks,
          .holdsNothing = [](const std::vector<RecentLink>& links) { return links.empty(); },
          // A history that cannot be read is simply empty; nothing is logged.
          .logger = nullptr,
          .unreadableMessage = {},
      }) {
    reloadIfChanged();
}

bool RecentLinksStore::reloadIfChanged() {
    return file_.reloadIfChanged();
}

void RecentLinksStore::record(const RecentLink& link) {
    reloadIfChanged();
    std::vector<RecentLink> links = file_.value();
    links.insert(links.begin(), link);
    if (links.size() > static_cast<size_t>(limit))
        links.resize(limit);
    write(std::move(links));
}

void RecentLinksStore::clear() {
    write({});
}

// Unlike the other stores, a failed write is not the caller's error: it is logged, and the history in memory
// keeps the change (the file and its stamp stay as they were, so the next change tries again).
void RecentLinksStore::write(std::vector<RecentLink> links) {
    try {
        file_.save(links);
    } catch (const host::Error& error) {
        Log::helper.error(QStringLiteral("could not write recent links: %1").arg(error.description()));
        file_.hold(std::move(links));
    }
}
