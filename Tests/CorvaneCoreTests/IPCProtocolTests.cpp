#include "CorvaneCore/Messaging/IPCProtocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <gtest/gtest.h>

#include <limits>
#include <unordered_set>

namespace {

QByteArray bytes(const char* text) {
    return QByteArray(text);
}

QSet<QString> keysOf(const QByteArray& line) {
    const QStringList keys = QJsonDocument::fromJson(line).object().keys();
    return QSet<QString>(keys.begin(), keys.end());
}

Request fullRequest() {
    Request request(42, Request::Op::hello);
    request.profileDirectory = QStringLiteral("Profile 1");
    request.profileName = QStringLiteral("Work \"π\"");
    request.tabGroup = QStringLiteral("Line\nbreak/slash");
    request.bundleID = QStringLiteral("app.corvane.stub.work");
    request.pid = 4321;
    request.urls = QStringList{QStringLiteral("https://a.example/"), QString()};
    request.timeout = 0.25;
    request.protocolVersion = IPC::protocolVersion;
    request.limit = 3;
    request.includeIncognito = false;
    request.countAppWindows = true;
    request.ownWindow = false;
    request.deep = true;
    request.stubRevision = 7;
    return request;
}

Response fullResponse() {
    Response response(9, true);
    response.action = Response::Action::openedGroup;
    response.chromePID = 777;
    response.windowCount = 2;
    response.confidence = CountConfidence::unclassified;
    response.closed = 1;
    response.remaining = 0;
    response.blocked = true;
    response.tabGroups = std::vector<TabGroupInfo>{{QStringLiteral("A"), true, false, 2},
                                                   {QStringLiteral("B"), false, true, 0}};
    response.error = QStringLiteral("no profile on this connection");
    return response;
}

Event fullEvent() {
    Event event(Event::Kind::stubOutdated);
    event.profileDirectory = QStringLiteral("Default");
    event.tabGroup = QStringLiteral("G");
    event.count = 5;
    event.chromeRunning = true;
    event.confidence = CountConfidence::certain;
    event.trusted = false;
    event.stubRevision = 7;
    event.improvements = QStringList{QStringLiteral("one"), QStringLiteral("two")};
    return event;
}

} // namespace

// ---- Request ----

TEST(IPCProtocolRequest, MinimalRequestWritesOnlyIdAndOp) {
    EXPECT_EQ(Request(3, Request::Op::status).encode(), bytes(R"({"id":3,"op":"status"})"));
}

TEST(IPCProtocolRequest, EveryFieldRoundTripsUnderItsOwnName) {
    const Request request = fullRequest();
    const std::optional<QByteArray> line = request.encode();
    ASSERT_TRUE(line);
    EXPECT_FALSE(line->contains('\n')) << "a newline in a string must be escaped, or it would end the frame";
    EXPECT_TRUE(line->contains(R"(Line\nbreak\/slash)")) << line->constData();
    EXPECT_EQ(keysOf(*line),
              (QSet<QString>{"id", "op", "profileDirectory", "profileName", "tabGroup", "bundleID", "pid",
                             "urls", "timeout", "protocolVersion", "limit", "includeIncognito",
                             "countAppWindows", "ownWindow", "deep", "stubRevision"}));
    EXPECT_EQ(Request::decode(*line), request);
}

TEST(IPCProtocolRequest, EveryOpIsCodedAsItsName) {
    const std::vector<std::pair<Request::Op, QString>> ops{{Request::Op::hello, "hello"},
                                                           {Request::Op::activate, "activate"},
                                                           {Request::Op::noteLaunch, "noteLaunch"},
                                                           {Request::Op::closeWindows, "closeWindows"},
                                                           {Request::Op::status, "status"},
                                                           {Request::Op::listTabGroups, "listTabGroups"},
                                                           {Request::Op::bye, "bye"}};
    for (const auto& [op, name] : ops) {
        EXPECT_EQ(toString(op), name);
        const QByteArray line = QStringLiteral(R"({"id":1,"op":"%1"})").arg(name).toUtf8();
        const std::optional<Request> decoded = Request::decode(line);
        ASSERT_TRUE(decoded) << line.constData();
        EXPECT_EQ(decoded->op, op);
        EXPECT_EQ(Request(1, op).encode(), line);
    }
}

TEST(IPCProtocolRequest, RequiredKeysAndKnownOp) {
    EXPECT_FALSE(Request::decode(R"({"op":"hello"})"));
    EXPECT_FALSE(Request::decode(R"({"id":1})"));
    EXPECT_FALSE(Request::decode(R"({"id":null,"op":"hello"})"));
    EXPECT_FALSE(Request::decode(R"({"id":1,"op":null})"));
    EXPECT_FALSE(Request::decode(R"({"id":1,"op":"launch"})"));
    EXPECT_FALSE(Request::decode(R"({"id":1,"op":"Hello"})"));
    EXPECT_FALSE(Request::decode(R"({"id":1,"op":1})"));
}

TEST(IPCProtocolRequest, NullAndMissingOptionalsAreAbsentAndUnknownKeysAreIgnored) {
    const std::optional<Request> decoded = Request::decode(
        R"({"id":5,"op":"activate","pid":null,"urls":null,"deep":null,"future":{"x":[1,2]},"also":null})");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, Request(5, Request::Op::activate));
}

TEST(IPCProtocolRequest, AValueOfTheWrongTypeMakesTheRequestUndecodable) {
    const std::vector<std::pair<const char*, const char*>> cases{
        {"id", R"("3")"},
        {"id", "3.5"},
        {"id", "true"},
        {"profileDirectory", "1"},
        {"profileName", "[]"},
        {"tabGroup", "{}"},
        {"bundleID", "false"},
        {"pid", R"("12")"},
        {"pid", "1.5"},
        {"urls", R"("https://a.example/")"},
        {"urls", R"(["a",1])"},
        {"urls", R"(["a",null])"},
        {"timeout", R"("6")"},
        {"protocolVersion", "2.5"},
        {"limit", "true"},
        {"includeIncognito", "1"},
        {"countAppWindows", R"("true")"},
        {"ownWindow", "0"},
        {"deep", "[]"},
        {"stubRevision", "1e30"},
    };
    for (const auto& [key, value] : cases) {
        QJsonObject base{{"id", 1}, {"op", "hello"}};
        QByteArray line = QJsonDocument(base).toJson(QJsonDocument::Compact);
        line.chop(1);
        line += QStringLiteral(R"(,"%1":%2})").arg(QLatin1StringView(key), QLatin1StringView(value)).toUtf8();
        EXPECT_FALSE(Request::decode(line)) << line.constData();
    }
}

TEST(IPCProtocolRequest, PidMustFitThirtyTwoBits) {
    EXPECT_EQ(Request::decode(R"({"id":1,"op":"hello","pid":2147483647})")->pid, 2147483647);
    EXPECT_EQ(Request::decode(R"({"id":1,"op":"hello","pid":-2147483648})")->pid,
              std::numeric_limits<qint32>::min());
    EXPECT_FALSE(Request::decode(R"({"id":1,"op":"hello","pid":2147483648})"));
    EXPECT_FALSE(Request::decode(R"({"id":1,"op":"hello","pid":-2147483649})"));
}

TEST(IPCProtocolRequest, IntegersAreExactAcrossTheWholeSixtyFourBitRange) {
    for (const qint64 id : {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min(),
                            qint64(9007199254740993), qint64(-1), qint64(0)}) {
        const std::optional<QByteArray> line = Request(id, Request::Op::status).encode();
        ASSERT_TRUE(line);
        EXPECT_EQ(*line, QStringLiteral(R"({"id":%1,"op":"status"})").arg(id).toUtf8());
        const std::optional<Request> decoded = Request::decode(*line);
        ASSERT_TRUE(decoded) << line->constData();
        EXPECT_EQ(decoded->id, id);
    }
    EXPECT_FALSE(Request::decode(R"({"id":9223372036854775808,"op":"status"})"));
    EXPECT_FALSE(Request::decode(R"({"id":-1e19,"op":"status"})"));
    EXPECT_FALSE(Request::decode(R"({"id":1e300,"op":"status"})"));
    // A whole number written with a fraction or exponent is still that integer.
    EXPECT_EQ(Request::decode(R"({"id":3.0,"op":"status"})")->id, 3);
    EXPECT_EQ(Request::decode(R"({"id":1e2,"op":"status"})")->id, 100);
}

TEST(IPCProtocolRequest, TimeoutIsANumberOfSeconds) {
    EXPECT_EQ(Request::decode(R"({"id":1,"op":"closeWindows","timeout":6})")->timeout, 6.0);
    EXPECT_EQ(Request::decode(R"({"id":1,"op":"closeWindows","timeout":0.5})")->timeout, 0.5);

    Request request(1, Request::Op::closeWindows);
    request.timeout = 6.0;
    EXPECT_EQ(request.encode(), bytes(R"({"id":1,"op":"closeWindows","timeout":6})"));
    request.timeout = 0.1;
    EXPECT_EQ(request.encode(), bytes(R"({"id":1,"op":"closeWindows","timeout":0.1})"));

    // A budget JSON cannot carry is not sent at all.
    request.timeout = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(request.encode());
    request.timeout = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(request.encode());
}

TEST(IPCProtocolRequest, OnlyOneJsonObjectIsARequest) {
    for (const char* line :
         {"", " ", "null", "1", R"("hello")", R"([{"id":1,"op":"hello"}])",
          R"({"id":1,"op":"hello"} {"id":2,"op":"hello"})", R"({"id":1,"op":"hello"},1)",
          R"({"id":1,"op":"hello"}])", R"({"id":1,"op":"hello")", "{'id':1}", "\xff\xfe"}) {
        EXPECT_FALSE(Request::decode(QByteArray(line))) << line;
    }
    // Surrounding whitespace, including a carriage return, is only whitespace.
    EXPECT_TRUE(Request::decode(" {\"id\":1,\"op\":\"hello\"}\r"));
    // Inside a string a control character must be escaped; raw, it makes the line undecodable.
    EXPECT_FALSE(Request::decode("{\"id\":1,\"op\":\"hello\",\"profileName\":\"Work\rHome\"}"));
    EXPECT_FALSE(Request::decode(QByteArray("{\"id\":1,\"op\":\"hello\",\"profileName\":\"a\0b\"}", 41)));
    EXPECT_EQ(Request::decode("{\"id\":1,\"op\":\"hello\",\"profileName\":\"Work\\rHome\"}")->profileName,
              QStringLiteral("Work\rHome"));
}

// ---- TabGroupInfo ----

TEST(IPCProtocolTabGroupInfo, AllFourKeysAreRequired) {
    const QJsonObject full{{"name", "A"}, {"isOpen", true}, {"isSaved", false}, {"windowCount", 2}};
    EXPECT_EQ(TabGroupInfo::fromJson(full), (TabGroupInfo{"A", true, false, 2}));
    for (const char* key : {"name", "isOpen", "isSaved", "windowCount"}) {
        QJsonObject missing = full;
        missing.remove(QLatin1StringView(key));
        EXPECT_FALSE(TabGroupInfo::fromJson(missing)) << key;
        QJsonObject null = full;
        null.insert(QLatin1StringView(key), QJsonValue::Null);
        EXPECT_FALSE(TabGroupInfo::fromJson(null)) << key;
    }
    QJsonObject mistyped = full;
    mistyped.insert("isOpen", 1);
    EXPECT_FALSE(TabGroupInfo::fromJson(mistyped));
    EXPECT_FALSE(TabGroupInfo::fromJson(QJsonValue("A")));
}

TEST(IPCProtocolTabGroupInfo, EqualityAndHashingCoverAllFields) {
    const TabGroupInfo a{"A", true, false, 2};
    std::unordered_set<TabGroupInfo> set{a,
                                         TabGroupInfo{"A", true, false, 2},
                                         TabGroupInfo{"A", true, false, 3},
                                         TabGroupInfo{"A", true, true, 2},
                                         TabGroupInfo{"A", false, false, 2},
                                         TabGroupInfo{"B", true, false, 2}};
    EXPECT_EQ(set.size(), 5u);
    EXPECT_EQ(qHash(a), qHash(TabGroupInfo{"A", true, false, 2}));
    EXPECT_EQ(QSet<TabGroupInfo>({a, a}).size(), 1);
}

// ---- Response ----

TEST(IPCProtocolResponse, EveryFieldRoundTrips) {
    const Response response = fullResponse();
    const std::optional<QByteArray> line = response.encode();
    ASSERT_TRUE(line);
    EXPECT_EQ(keysOf(*line), (QSet<QString>{"id", "ok", "action", "chromePID", "windowCount", "confidence",
                                            "closed", "remaining", "blocked", "tabGroups", "error"}));
    EXPECT_TRUE(line->contains(R"("tabGroups":[{"isOpen":true,"isSaved":false,"name":"A","windowCount":2},)"
                               R"({"isOpen":false,"isSaved":true,"name":"B","windowCount":0}])"))
        << line->constData();
    EXPECT_EQ(Response::decode(*line), response);
    EXPECT_EQ(Response(4, false).encode(), bytes(R"({"id":4,"ok":false})"));
}

TEST(IPCProtocolResponse, EveryActionAndConfidenceIsCodedAsItsName) {
    const std::vector<std::pair<Response::Action, QString>> actions{
        {Response::Action::raised, "raised"},
        {Response::Action::nothingToRaise, "nothingToRaise"},
        {Response::Action::openedGroup, "openedGroup"},
        {Response::Action::groupNotFound, "groupNotFound"},
        {Response::Action::acknowledged, "acknowledged"}};
    for (const auto& [action, name] : actions) {
        Response response(1, true);
        response.action = action;
        EXPECT_EQ(response.encode(),
                  QStringLiteral(R"({"action":"%1","id":1,"ok":true})").arg(name).toUtf8());
        EXPECT_EQ(Response::decode(*response.encode()), response);
    }
    for (const auto& [confidence, name] :
         {std::pair{CountConfidence::certain, QStringLiteral("certain")},
          std::pair{CountConfidence::unclassified, QStringLiteral("unclassified")}}) {
        EXPECT_EQ(toString(confidence), name);
        EXPECT_EQ(countConfidenceFromString(name), confidence);
    }
    EXPECT_FALSE(countConfidenceFromString("Certain"));
}

TEST(IPCProtocolResponse, IdAndOkAreRequiredTheRestOptional) {
    EXPECT_EQ(Response::decode(R"({"id":4,"ok":true})"), Response(4, true));
    EXPECT_EQ(Response::decode(R"({"id":4,"ok":true,"action":null,"tabGroups":null,"extra":"x"})"),
              Response(4, true));
    EXPECT_FALSE(Response::decode(R"({"id":4})"));
    EXPECT_FALSE(Response::decode(R"({"ok":true})"));
    EXPECT_FALSE(Response::decode(R"({"id":4,"ok":1})"));
    EXPECT_FALSE(Response::decode(R"({"id":4,"ok":null})"));
}

TEST(IPCProtocolResponse, UnknownEnumerationTextsAndBadMembersMakeItUndecodable) {
    for (const char* line : {
             R"({"id":4,"ok":true,"action":"exploded"})",
             R"({"id":4,"ok":true,"action":1})",
             R"({"id":4,"ok":true,"confidence":"sure"})",
             R"({"id":4,"ok":true,"chromePID":4294967296})",
             R"({"id":4,"ok":true,"windowCount":"2"})",
             R"({"id":4,"ok":true,"blocked":"no"})",
             R"({"id":4,"ok":true,"error":false})",
             R"({"id":4,"ok":true,"tabGroups":{}})",
             R"({"id":4,"ok":true,"tabGroups":[null]})",
             R"({"id":4,"ok":true,"tabGroups":[{"name":"A","isOpen":true,"isSaved":false}]})",
         }) {
        EXPECT_FALSE(Response::decode(QByteArray(line))) << line;
        EXPECT_FALSE(InboundMessage::decode(QByteArray(line))) << line;
    }
}

// ---- Event ----

TEST(IPCProtocolEvent, EveryFieldRoundTrips) {
    const Event event = fullEvent();
    const std::optional<QByteArray> line = event.encode();
    ASSERT_TRUE(line);
    EXPECT_EQ(keysOf(*line), (QSet<QString>{"event", "profileDirectory", "tabGroup", "count", "chromeRunning",
                                            "confidence", "trusted", "stubRevision", "improvements"}));
    EXPECT_EQ(Event::decode(*line), event);
    EXPECT_EQ(Event(Event::Kind::routingHistoryChanged).encode(),
              bytes(R"({"event":"routingHistoryChanged"})"));
}

TEST(IPCProtocolEvent, KindsAreReadLeniently) {
    const std::vector<std::pair<Event::Kind, QString>> kinds{
        {Event::Kind::windows, "windows"},
        {Event::Kind::axPermission, "axPermission"},
        {Event::Kind::shuttingDown, "shuttingDown"},
        {Event::Kind::routingHistoryChanged, "routingHistoryChanged"},
        {Event::Kind::stubOutdated, "stubOutdated"},
        {Event::Kind::unknown, "unknown"}};
    for (const auto& [kind, name] : kinds) {
        EXPECT_EQ(toString(kind), name);
        EXPECT_EQ(Event::decode(QStringLiteral(R"({"event":"%1"})").arg(name).toUtf8()), Event(kind));
    }
    EXPECT_EQ(Event::decode(R"({"event":"tabsMoved","count":1})")->event, Event::Kind::unknown);
    EXPECT_EQ(Event::decode(R"({"event":""})")->event, Event::Kind::unknown);
    EXPECT_EQ(Event::decode(R"({"event":"Windows"})")->event, Event::Kind::unknown);
}

TEST(IPCProtocolEvent, TheKindMustBeAStringAndMembersWellTyped) {
    for (const char* line :
         {R"({})", R"({"event":1})", R"({"event":null})", R"({"event":["windows"]})",
          R"({"event":"windows","count":"1"})", R"({"event":"windows","confidence":"maybe"})",
          R"({"event":"axPermission","trusted":"yes"})", R"({"event":"stubOutdated","improvements":[1]})"}) {
        EXPECT_FALSE(Event::decode(QByteArray(line))) << line;
    }
    EXPECT_EQ(Event::decode(R"({"event":"windows","count":null,"trusted":null,"other":1})"),
              Event(Event::Kind::windows));
}

// ---- InboundMessage ----

TEST(IPCProtocolInbound, EventsComeBeforeResponses) {
    const std::optional<InboundMessage> event =
        InboundMessage::decode(R"({"event":"windows","id":4,"ok":true})");
    ASSERT_TRUE(event);
    ASSERT_TRUE(event->event());
    EXPECT_FALSE(event->response());
    EXPECT_EQ(event->event()->event, Event::Kind::windows);

    const std::optional<InboundMessage> response = InboundMessage::decode(*fullResponse().encode());
    ASSERT_TRUE(response);
    ASSERT_TRUE(response->response());
    EXPECT_EQ(*response->response(), fullResponse());

    const std::optional<InboundMessage> unknown = InboundMessage::decode(R"({"event":"unknown"})");
    ASSERT_TRUE(unknown && unknown->event());
    EXPECT_EQ(unknown->event()->event, Event::Kind::unknown);

    // An event with a broken member is no event; the same object still answers as a response.
    const std::optional<InboundMessage> fallback =
        InboundMessage::decode(R"({"event":"windows","count":"x","id":4,"ok":true})");
    ASSERT_TRUE(fallback && fallback->response());
    EXPECT_EQ(fallback->response()->id, 4);
}

TEST(IPCProtocolInbound, NeitherIsNothing) {
    for (const char* line : {R"({"id":4})", R"({"event":null,"id":4})", R"({"id":1,"op":"hello"})", "[]", "",
                             "not json", R"({"id":4,"ok":true,"action":"exploded"})"}) {
        EXPECT_FALSE(InboundMessage::decode(QByteArray(line))) << line;
    }
}
