#include "CorvaneCore/Messaging/IPCProtocol.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Paths.h"

#include <QJsonArray>
#include <QVariant>
#include <array>
#include <cmath>
#include <utility>

namespace {

// ---- Enumeration texts ----

template <typename E, size_t N>
std::optional<E> lookUp(const std::array<std::pair<E, const char*>, N>& table, const QString& text) {
    for (const auto& [value, name] : table)
        if (text == QLatin1StringView(name))
            return value;
    return std::nullopt;
}

template <typename E, size_t N>
QString nameOf(const std::array<std::pair<E, const char*>, N>& table, E value) {
    for (const auto& [candidate, name] : table)
        if (candidate == value)
            return QString::fromLatin1(name);
    return {};
}

constexpr std::array<std::pair<CountConfidence, const char*>, 2> confidenceNames{{
    {CountConfidence::certain, "certain"},
    {CountConfidence::unclassified, "unclassified"},
}};

constexpr std::array<std::pair<Request::Op, const char*>, 7> opNames{{
    {Request::Op::hello, "hello"},
    {Request::Op::activate, "activate"},
    {Request::Op::noteLaunch, "noteLaunch"},
    {Request::Op::closeWindows, "closeWindows"},
    {Request::Op::status, "status"},
    {Request::Op::listTabGroups, "listTabGroups"},
    {Request::Op::bye, "bye"},
}};

constexpr std::array<std::pair<Response::Action, const char*>, 5> actionNames{{
    {Response::Action::raised, "raised"},
    {Response::Action::nothingToRaise, "nothingToRaise"},
    {Response::Action::openedGroup, "openedGroup"},
    {Response::Action::groupNotFound, "groupNotFound"},
    {Response::Action::acknowledged, "acknowledged"},
}};

constexpr std::array<std::pair<Event::Kind, const char*>, 6> kindNames{{
    {Event::Kind::windows, "windows"},
    {Event::Kind::axPermission, "axPermission"},
    {Event::Kind::shuttingDown, "shuttingDown"},
    {Event::Kind::routingHistoryChanged, "routingHistoryChanged"},
    {Event::Kind::stubOutdated, "stubOutdated"},
    {Event::Kind::unknown, "unknown"},
}};

// ---- Reading single values: none when the value is not of the type ----

std::optional<qint64> asInteger(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    // Integers that fit 64 bits are kept exact by the parser; anything else arrives as a double and counts
    // only when it is a whole number within range (so 3.0 is 3, while 3.5 or 1e30 is not an integer).
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::trunc(number) || number < -0x1p63 || number >= 0x1p63)
        return std::nullopt;
    return static_cast<qint64>(number);
}

std::optional<qint32> asInt32(const QJsonValue& value) {
    const std::optional<qint64> number = asInteger(value);
    if (!number || *number < std::numeric_limits<qint32>::min() ||
        *number > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(*number);
}

std::optional<double> asNumber(const QJsonValue& value) {
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        return std::nullopt;
    return value.toDouble();
}

std::optional<bool> asBool(const QJsonValue& value) {
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

// A string with an unpaired surrogate escape ("\ud800") cannot be written back as UTF-8 unchanged, so it is
// refused like any other bad value instead of being altered on the way through.
std::optional<QString> asString(const QJsonValue& value) {
    if (!value.isString())
        return std::nullopt;
    QString text = value.toString();
    if (!QStringView(text).isValidUtf16())
        return std::nullopt;
    return text;
}

std::optional<QStringList> asStringList(const QJsonValue& value) {
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    QStringList list;
    list.reserve(array.size());
    for (const QJsonValue& element : array) {
        std::optional<QString> text = asString(element);
        if (!text)
            return std::nullopt;
        list.append(std::move(*text));
    }
    return list;
}

std::optional<CountConfidence> asConfidence(const QJsonValue& value) {
    if (!value.isString())
        return std::nullopt;
    return countConfidenceFromString(value.toString());
}

std::optional<Response::Action> asAction(const QJsonValue& value) {
    if (!value.isString())
        return std::nullopt;
    return Response::actionFromString(value.toString());
}

std::optional<std::vector<TabGroupInfo>> asTabGroups(const QJsonValue& value) {
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    std::vector<TabGroupInfo> groups;
    groups.reserve(static_cast<size_t>(array.size()));
    for (const QJsonValue& element : array) {
        std::optional<TabGroupInfo> group = TabGroupInfo::fromJson(element);
        if (!group)
            return std::nullopt;
        groups.push_back(std::move(*group));
    }
    return groups;
}

// ---- Reading members ----

// An optional member: a missing key or null leaves it without a value; a value of the wrong type fails.
template <typename T, typename Convert>
bool readOptional(const QJsonObject& object, const char* key, std::optional<T>& out, Convert convert) {
    const QJsonValue value = object.value(QLatin1StringView(key));
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    std::optional<T> converted = convert(value);
    if (!converted)
        return false;
    out = std::move(converted);
    return true;
}

// ---- Writing members ----

template <typename T, typename Convert>
void writeOptional(QJsonObject& object, const char* key, const std::optional<T>& value, Convert convert) {
    if (value)
        object.insert(QLatin1StringView(key), convert(*value));
}

QJsonValue integerValue(qint64 value) {
    return QJsonValue(value);
}
QJsonValue boolValue(bool value) {
    return QJsonValue(value);
}
QJsonValue stringValue(const QString& value) {
    return QJsonValue(value);
}
QJsonValue numberValue(double value) {
    return QJsonValue(value);
}
QJsonValue stringListValue(const QStringList& list) {
    return QJsonArray::fromStringList(list);
}

// One compact line, as a fresh default encoder writes it; none when the encoder refuses the value.
std::optional<QByteArray> encodeLine(const QJsonObject& object) {
    try {
        return JSONEncoder{}.encode(object);
    } catch (const host::Error&) {
        return std::nullopt;
    }
}

// The line parsed by a fresh default decoder; none for anything that is not one well-formed JSON value.
std::optional<QJsonValue> parseLine(const QByteArray& line) {
    try {
        return JSONDecoder{}.decode(line);
    } catch (const host::Error&) {
        return std::nullopt;
    }
}

} // namespace

// ---- CountConfidence ----

QString toString(CountConfidence confidence) {
    return nameOf(confidenceNames, confidence);
}

std::optional<CountConfidence> countConfidenceFromString(const QString& text) {
    return lookUp(confidenceNames, text);
}

// ---- TabGroupInfo ----

QJsonObject TabGroupInfo::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("name"), name);
    object.insert(QStringLiteral("isOpen"), isOpen);
    object.insert(QStringLiteral("isSaved"), isSaved);
    object.insert(QStringLiteral("windowCount"), windowCount);
    return object;
}

std::optional<TabGroupInfo> TabGroupInfo::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const std::optional<QString> name = asString(object.value(QLatin1StringView("name")));
    const std::optional<bool> isOpen = asBool(object.value(QLatin1StringView("isOpen")));
    const std::optional<bool> isSaved = asBool(object.value(QLatin1StringView("isSaved")));
    const std::optional<qint64> windowCount = asInteger(object.value(QLatin1StringView("windowCount")));
    if (!name || !isOpen || !isSaved || !windowCount)
        return std::nullopt;
    return TabGroupInfo{*name, *isOpen, *isSaved, *windowCount};
}

size_t qHash(const TabGroupInfo& info, size_t seed) noexcept {
    return qHashMulti(seed, info.name, info.isOpen, info.isSaved, info.windowCount);
}

// ---- Request ----

QString toString(Request::Op op) {
    return nameOf(opNames, op);
}

std::optional<Request::Op> Request::opFromString(const QString& text) {
    return lookUp(opNames, text);
}

QJsonObject Request::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    object.insert(QStringLiteral("op"), toString(op));
    writeOptional(object, "profileDirectory", profileDirectory, stringValue);
    writeOptional(object, "profileName", profileName, stringValue);
    writeOptional(object, "tabGroup", tabGroup, stringValue);
    writeOptional(object, "bundleID", bundleID, stringValue);
    writeOptional(object, "pid", pid, integerValue);
    writeOptional(object, "urls", urls, stringListValue);
    writeOptional(object, "timeout", timeout, numberValue);
    writeOptional(object, "protocolVersion", protocolVersion, integerValue);
    writeOptional(object, "limit", limit, integerValue);
    writeOptional(object, "includeIncognito", includeIncognito, boolValue);
    writeOptional(object, "countAppWindows", countAppWindows, boolValue);
    writeOptional(object, "ownWindow", ownWindow, boolValue);
    writeOptional(object, "deep", deep, boolValue);
    writeOptional(object, "stubRevision", stubRevision, integerValue);
    return object;
}

std::optional<Request> Request::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const std::optional<qint64> id = asInteger(object.value(QLatin1StringView("id")));
    const QJsonValue opValue = object.value(QLatin1StringView("op"));
    const std::optional<Op> op = opValue.isString() ? opFromString(opValue.toString()) : std::nullopt;
    if (!id || !op)
        return std::nullopt;
    Request request(*id, *op);
    const bool ok = readOptional(object, "profileDirectory", request.profileDirectory, asString) &&
                    readOptional(object, "profileName", request.profileName, asString) &&
                    readOptional(object, "tabGroup", request.tabGroup, asString) &&
                    readOptional(object, "bundleID", request.bundleID, asString) &&
                    readOptional(object, "pid", request.pid, asInt32) &&
                    readOptional(object, "urls", request.urls, asStringList) &&
                    readOptional(object, "timeout", request.timeout, asNumber) &&
                    readOptional(object, "protocolVersion", request.protocolVersion, asInteger) &&
                    readOptional(object, "limit", request.limit, asInteger) &&
                    readOptional(object, "includeIncognito", request.includeIncognito, asBool) &&
                    readOptional(object, "countAppWindows", request.countAppWindows, asBool) &&
                    readOptional(object, "ownWindow", request.ownWindow, asBool) &&
                    readOptional(object, "deep", request.deep, asBool) &&
                    readOptional(object, "stubRevision", request.stubRevision, asInteger);
    if (!ok)
        return std::nullopt;
    return request;
}

std::optional<QByteArray> Request::encode() const {
    return encodeLine(toJson());
}

std::optional<Request> Request::decode(const QByteArray& line) {
    const std::optional<QJsonValue> value = parseLine(line);
    return value ? fromJson(*value) : std::nullopt;
}

// ---- Response ----

QString toString(Response::Action action) {
    return nameOf(actionNames, action);
}

std::optional<Response::Action> Response::actionFromString(const QString& text) {
    return lookUp(actionNames, text);
}

QJsonObject Response::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    object.insert(QStringLiteral("ok"), ok);
    writeOptional(object, "action", action, [](Action a) { return QJsonValue(toString(a)); });
    writeOptional(object, "chromePID", chromePID, integerValue);
    writeOptional(object, "windowCount", windowCount, integerValue);
    writeOptional(object, "confidence", confidence,
                  [](CountConfidence c) { return QJsonValue(toString(c)); });
    writeOptional(object, "closed", closed, integerValue);
    writeOptional(object, "remaining", remaining, integerValue);
    writeOptional(object, "blocked", blocked, boolValue);
    writeOptional(object, "tabGroups", tabGroups, [](const std::vector<TabGroupInfo>& groups) {
        QJsonArray array;
        for (const TabGroupInfo& group : groups)
            array.append(group.toJson());
        return QJsonValue(array);
    });
    writeOptional(object, "error", error, stringValue);
    return object;
}

std::optional<Response> Response::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const std::optional<qint64> id = asInteger(object.value(QLatin1StringView("id")));
    const std::optional<bool> ok = asBool(object.value(QLatin1StringView("ok")));
    if (!id || !ok)
        return std::nullopt;
    Response response(*id, *ok);
    const bool decoded = readOptional(object, "action", response.action, asAction) &&
                         readOptional(object, "chromePID", response.chromePID, asInt32) &&
                         readOptional(object, "windowCount", response.windowCount, asInteger) &&
                         readOptional(object, "confidence", response.confidence, asConfidence) &&
                         readOptional(object, "closed", response.closed, asInteger) &&
                         readOptional(object, "remaining", response.remaining, asInteger) &&
                         readOptional(object, "blocked", response.blocked, asBool) &&
                         readOptional(object, "tabGroups", response.tabGroups, asTabGroups) &&
                         readOptional(object, "error", response.error, asString);
    if (!decoded)
        return std::nullopt;
    return response;
}

std::optional<QByteArray> Response::encode() const {
    return encodeLine(toJson());
}

std::optional<Response> Response::decode(const QByteArray& line) {
    const std::optional<QJsonValue> value = parseLine(line);
    return value ? fromJson(*value) : std::nullopt;
}

// ---- Event ----

QString toString(Event::Kind kind) {
    return nameOf(kindNames, kind);
}

Event::Kind Event::kindFromString(const QString& text) {
    return lookUp(kindNames, text).value_or(Kind::unknown);
}

QJsonObject Event::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("event"), toString(event));
    writeOptional(object, "profileDirectory", profileDirectory, stringValue);
    writeOptional(object, "tabGroup", tabGroup, stringValue);
    writeOptional(object, "count", count, integerValue);
    writeOptional(object, "chromeRunning", chromeRunning, boolValue);
    writeOptional(object, "confidence", confidence,
                  [](CountConfidence c) { return QJsonValue(toString(c)); });
    writeOptional(object, "trusted", trusted, boolValue);
    writeOptional(object, "stubRevision", stubRevision, integerValue);
    writeOptional(object, "improvements", improvements, stringListValue);
    return object;
}

std::optional<Event> Event::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue kind = object.value(QLatin1StringView("event"));
    if (!kind.isString())
        return std::nullopt;
    Event event(kindFromString(kind.toString()));
    const bool decoded = readOptional(object, "profileDirectory", event.profileDirectory, asString) &&
                         readOptional(object, "tabGroup", event.tabGroup, asString) &&
                         readOptional(object, "count", event.count, asInteger) &&
                         readOptional(object, "chromeRunning", event.chromeRunning, asBool) &&
                         readOptional(object, "confidence", event.confidence, asConfidence) &&
                         readOptional(object, "trusted", event.trusted, asBool) &&
                         readOptional(object, "stubRevision", event.stubRevision, asInteger) &&
                         readOptional(object, "improvements", event.improvements, asStringList);
    if (!decoded)
        return std::nullopt;
    return event;
}

std::optional<QByteArray> Event::encode() const {
    return encodeLine(toJson());
}

std::optional<Event> Event::decode(const QByteArray& line) {
    const std::optional<QJsonValue> value = parseLine(line);
    return value ? fromJson(*value) : std::nullopt;
}

// ---- InboundMessage ----

std::optional<InboundMessage> InboundMessage::decode(const QByteArray& line) {
    // Parsed once and tried in order: an object with an "event" text is an event even when it also holds
    // "id" and "ok".
    const std::optional<QJsonValue> value = parseLine(line);
    if (!value)
        return std::nullopt;
    if (std::optional<Event> event = Event::fromJson(*value))
        return InboundMessage{std::move(*event)};
    if (std::optional<Response> response = Response::fromJson(*value))
        return InboundMessage{std::move(*response)};
    return std::nullopt;
}
