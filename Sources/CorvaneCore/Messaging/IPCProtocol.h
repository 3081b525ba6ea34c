#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

// The messages that cross the helper's socket: one compact JSON object a line. Keys are the member names;
// optional members without a value are left out of the object, and on reading a missing key and an explicit
// null both mean "no value". Keys a message does not declare are ignored.
//
// Coding at a glance:
//   - `toJson()` builds the object; `encode()` gives the compact line WITHOUT the trailing newline (the
//     framing adds it), or none when the message cannot be encoded (a non-finite timeout). Senders drop a
//     message that does not encode.
//   - `fromJson()` and `decode()` never throw: they give none for anything that is not the message (bad JSON,
//     a missing required key, a value of the wrong type, an enumeration text outside its list, a 32-bit
//     field out of range, an integer field holding a fraction or a value beyond 64 bits).

namespace IPC {
// Sent by the helper link on hello and bye. The helper does not compare it.
inline constexpr int protocolVersion = 2;
} // namespace IPC

// How far a window count can be relied on. `unclassified`: a count of zero may be wrong because some window
// has not been attributed yet.
enum class CountConfidence { certain, unclassified };

QString toString(CountConfidence confidence);
std::optional<CountConfidence> countConfidenceFromString(const QString& text);

// One Chrome tab group as the helper reports it. Every key is required when reading.
struct TabGroupInfo {
    QString name;
    bool isOpen = false;
    bool isSaved = false;
    qint64 windowCount = 0;

    bool operator==(const TabGroupInfo&) const = default;

    QJsonObject toJson() const;
    static std::optional<TabGroupInfo> fromJson(const QJsonValue& value);
};

size_t qHash(const TabGroupInfo& info, size_t seed = 0) noexcept;

template <> struct std::hash<TabGroupInfo> {
    size_t operator()(const TabGroupInfo& info) const noexcept { return qHash(info); }
};

// Client to helper. `id` and `op` are required; every other field is absent unless the sender sets it.
struct Request {
    enum class Op { hello, activate, noteLaunch, closeWindows, status, listTabGroups, bye };

    qint64 id;
    Op op;
    std::optional<QString> profileDirectory;
    std::optional<QString> profileName;
    std::optional<QString> tabGroup;
    std::optional<QString> bundleID;
    std::optional<qint32> pid;
    std::optional<QStringList> urls;
    std::optional<double> timeout; // seconds
    std::optional<qint64> protocolVersion;
    std::optional<qint64> limit;
    std::optional<bool> includeIncognito;
    std::optional<bool> countAppWindows;
    std::optional<bool> ownWindow;
    std::optional<bool> deep;
    std::optional<qint64> stubRevision;

    Request(qint64 id, Op op)
        : id(id)
        , op(op) {}

    bool operator==(const Request&) const = default;

    static std::optional<Op> opFromString(const QString& text);

    QJsonObject toJson() const;
    static std::optional<Request> fromJson(const QJsonValue& value);
    std::optional<QByteArray> encode() const;
    static std::optional<Request> decode(const QByteArray& line);
};

QString toString(Request::Op op);

// Helper to client, one per answered request. `id` and `ok` are required.
struct Response {
    enum class Action { raised, nothingToRaise, openedGroup, groupNotFound, acknowledged };

    qint64 id;
    bool ok;
    std::optional<Action> action;
    std::optional<qint32> chromePID;
    std::optional<qint64> windowCount;
    std::optional<CountConfidence> confidence;
    std::optional<qint64> closed;
    std::optional<qint64> remaining;
    std::optional<bool> blocked;
    std::optional<std::vector<TabGroupInfo>> tabGroups;
    std::optional<QString> error;

    Response(qint64 id, bool ok)
        : id(id)
        , ok(ok) {}

    bool operator==(const Response&) const = default;

    static std::optional<Action> actionFromString(const QString& text);

    QJsonObject toJson() const;
    static std::optional<Response> fromJson(const QJsonValue& value);
    std::optional<QByteArray> encode() const;
    static std::optional<Response> decode(const QByteArray& line);
};

QString toString(Response::Action action);

// Helper to client, unsolicited. The key "event" is required; every other field is optional.
struct Event {
    enum class Kind { windows, axPermission, shuttingDown, routingHistoryChanged, stubOutdated, unknown };

    Kind event;
    std::optional<QString> profileDirectory;
    std::optional<QString> tabGroup;
    std::optional<qint64> count;
    std::optional<bool> chromeRunning;
    std::optional<CountConfidence> confidence;
    std::optional<bool> trusted;
    std::optional<qint64> stubRevision;
    std::optional<QStringList> improvements;

    explicit Event(Kind event)
        : event(event) {}

    bool operator==(const Event&) const = default;

    // Lenient, so a newer helper's kind reaches an older client instead of losing the line: any text that
    // names none of the known kinds is `unknown`.
    static Kind kindFromString(const QString& text);

    QJsonObject toJson() const;
    static std::optional<Event> fromJson(const QJsonValue& value);
    std::optional<QByteArray> encode() const;
    static std::optional<Event> decode(const QByteArray& line);
};

QString toString(Event::Kind kind);

// What a client receives: a response or an event.
struct InboundMessage {
    std::variant<Response, Event> value;

    bool operator==(const InboundMessage&) const = default;

    // The case held; null for the other one.
    const Response* response() const { return std::get_if<Response>(&value); }
    const Event* event() const { return std::get_if<Event>(&value); }

    // Given the bytes of one line: an event when they decode as one, else a response, else none.
    static std::optional<InboundMessage> decode(const QByteArray& line);
};
