// Robustness of the message decoders against whatever a peer might send: mutated and truncated messages,
// random bytes, invalid UTF-8, very deep nesting and numbers no field can hold. Every decoder must answer
// (a value or none) without crashing or throwing, and whatever it accepts must survive being written and read
// again unchanged. Seeded, so a failure repeats.

#include "CorvaneCore/Messaging/IPCProtocol.h"
#include "Support/Sanitizers.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/resource.h>

namespace {

using Rng = std::mt19937_64;

std::vector<QByteArray> validMessages() {
    std::vector<QByteArray> lines;
    Request hello(0, Request::Op::hello);
    hello.protocolVersion = IPC::protocolVersion;
    hello.profileDirectory = QStringLiteral("Profile 1");
    hello.profileName = QStringLiteral("Wörk ✓");
    hello.tabGroup = QStringLiteral("Reading/List");
    hello.bundleID = QStringLiteral("app.corvane.stub.work");
    hello.pid = 4321;
    hello.includeIncognito = true;
    hello.countAppWindows = false;
    hello.ownWindow = true;
    hello.stubRevision = 7;
    lines.push_back(*hello.encode());
    Request close(12, Request::Op::closeWindows);
    close.timeout = 6.5;
    close.limit = 3;
    close.urls = QStringList{QStringLiteral("https://a.example/x?y=1"), QStringLiteral("\n\"\\")};
    lines.push_back(*close.encode());
    Request list(13, Request::Op::listTabGroups);
    list.profileDirectory = QStringLiteral("Default");
    list.deep = true;
    lines.push_back(*list.encode());
    lines.push_back(*Request(3, Request::Op::status).encode());

    Response response(12, true);
    response.action = Response::Action::raised;
    response.chromePID = 999;
    response.windowCount = 2;
    response.confidence = CountConfidence::unclassified;
    response.closed = 1;
    response.remaining = 1;
    response.blocked = false;
    response.tabGroups = std::vector<TabGroupInfo>{{QStringLiteral("A"), true, true, 3}};
    response.error = QStringLiteral("window tracking unavailable");
    lines.push_back(*response.encode());
    lines.push_back(*Response(4, false).encode());

    Event windows(Event::Kind::windows);
    windows.profileDirectory = QStringLiteral("Default");
    windows.tabGroup = QStringLiteral("G");
    windows.count = 0;
    windows.chromeRunning = true;
    windows.confidence = CountConfidence::certain;
    lines.push_back(*windows.encode());
    Event outdated(Event::Kind::stubOutdated);
    outdated.stubRevision = 7;
    outdated.improvements = QStringList{QStringLiteral("faster"), QStringLiteral("safer")};
    outdated.trusted = true;
    lines.push_back(*outdated.encode());
    lines.push_back(R"({"event":"windows","id":1,"ok":true,"op":"hello"})");
    return lines;
}

// Pieces that tend to find the corners of a JSON reader and of the field checks.
const std::vector<QByteArray>& tokens() {
    static const std::vector<QByteArray> list{
        "null",
        "true",
        "false",
        "0",
        "-0",
        "1.5",
        "1e2",
        "-1",
        "2147483648",
        "-2147483649",
        "9223372036854775807",
        "9223372036854775808",
        "-9223372036854775809",
        "1e308",
        "1e309",
        "-1e99999",
        "1e-400",
        "123456789012345678901234567890",
        "\"\"",
        "\"x\"",
        "\"\\ud800\"",
        "\"\\udc00\\ud800\"",
        "\"\\u0000\"",
        "\"\xff\xfe\"",
        "\"\xc0\xaf\"",
        "\"\xed\xa0\x80\"",
        "[]",
        "{}",
        "[null]",
        "[1,\"a\"]",
        "{\"name\":\"A\",\"isOpen\":true,\"isSaved\":false,\"windowCount\":1}",
        "\"unknown\"",
        "\"certain\"",
        "\"raised\"",
        "\"hello\"",
        ",",
        ":",
        "{",
        "}",
        "[",
        "]",
        "\"",
        "\\",
        "\n",
        "\r",
        "\t",
        " ",
        "\"event\":\"windows\"",
        "\"id\":1",
        "\"ok\":true",
        "\"op\":\"bye\""};
    return list;
}

QByteArray randomBytes(Rng& rng, size_t length) {
    QByteArray bytes(static_cast<qsizetype>(length), Qt::Uninitialized);
    for (auto& byte : bytes)
        byte = static_cast<char>(rng() & 0xff);
    return bytes;
}

size_t below(Rng& rng, size_t bound) {
    return bound == 0 ? 0 : static_cast<size_t>(rng() % bound);
}

QByteArray mutate(QByteArray line, Rng& rng, const std::vector<QByteArray>& corpus) {
    const int steps = 1 + static_cast<int>(below(rng, 4));
    for (int step = 0; step < steps; ++step) {
        const qsizetype size = line.size();
        const qsizetype at = static_cast<qsizetype>(below(rng, static_cast<size_t>(size) + 1));
        switch (below(rng, 9)) {
        case 0: // flip a bit
            if (size > 0)
                line[at % size] = static_cast<char>(line[at % size] ^ (1 << below(rng, 8)));
            break;
        case 1: // a random byte
            line.insert(at, static_cast<char>(rng() & 0xff));
            break;
        case 2: // delete a range
            line.remove(at, static_cast<qsizetype>(below(rng, 16) + 1));
            break;
        case 3: // truncate
            line.truncate(at);
            break;
        case 4: // duplicate a range
            line.insert(at, line.mid(at, static_cast<qsizetype>(below(rng, 32) + 1)));
            break;
        case 5: // insert a token
            line.insert(at, tokens()[below(rng, tokens().size())]);
            break;
        case 6: { // replace the value after some colon by a token
            const qsizetype colon = line.indexOf(':', at);
            if (colon < 0)
                break;
            qsizetype end = colon + 1;
            while (end < line.size() && line[end] != ',' && line[end] != '}')
                ++end;
            line.replace(colon + 1, end - colon - 1, tokens()[below(rng, tokens().size())]);
            break;
        }
        case 7: { // splice with another message
            const QByteArray& other = corpus[below(rng, corpus.size())];
            line = line.left(at) +
                   other.mid(static_cast<qsizetype>(below(rng, static_cast<size_t>(other.size()))));
            break;
        }
        default: // overwrite with an invalid UTF-8 sequence
            static const std::vector<QByteArray> invalid{
                "\x80", "\xc3",     "\xe2\x82",     "\xf0\x9f\x98",
                "\xff", "\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80"};
            line.insert(at, invalid[below(rng, invalid.size())]);
            break;
        }
    }
    return line;
}

QByteArray nested(const QByteArray& open, const QByteArray& close, int depth, const QByteArray& core = "1") {
    return open.repeated(depth) + core + close.repeated(depth);
}

std::vector<QByteArray> hostileLines() {
    std::vector<QByteArray> lines;
    for (const int depth : {1023, 1024, 1025, 10000, 100000}) {
        lines.push_back(nested("[", "]", depth));
        lines.push_back(nested("{\"a\":", "}", depth));
        lines.push_back("{\"id\":1,\"op\":\"hello\",\"urls\":" + nested("[", "]", depth, "\"x\"") + "}");
        lines.push_back("{\"event\":\"windows\",\"extra\":" + nested("{\"a\":", "}", depth) + "}");
        lines.push_back("{\"id\":1,\"ok\":true,\"tabGroups\":" + nested("[", "]", depth, "{}") + "}");
        lines.push_back(QByteArray("[").repeated(depth)); // never closed
        lines.push_back(QByteArray("{\"a\":").repeated(depth));
    }
    for (const QByteArray& number :
         {QByteArray("1").repeated(5000), "-" + QByteArray("9").repeated(400), QByteArray("1e99999999999"),
          "0." + QByteArray("0").repeated(5000) + "1", QByteArray("1e-99999999999"), QByteArray("-")}) {
        lines.push_back("{\"id\":" + number + ",\"op\":\"status\"}");
        lines.push_back("{\"id\":1,\"op\":\"closeWindows\",\"timeout\":" + number + "}");
        lines.push_back("{\"id\":1,\"ok\":true,\"chromePID\":" + number + "}");
        lines.push_back("{\"event\":\"windows\",\"count\":" + number + "}");
    }
    // Large but legal: a long string and a long list.
    lines.push_back("{\"id\":1,\"op\":\"hello\",\"profileName\":\"" + QByteArray("x").repeated(1 << 20) +
                    "\"}");
    lines.push_back("{\"event\":\"stubOutdated\",\"improvements\":[" + QByteArray("\"n\",").repeated(100000) +
                    "\"n\"]}");
    return lines;
}

// Feeds one input to every decoder and checks what the accepted values promise.
void exercise(const QByteArray& line) {
    std::optional<Request> request;
    std::optional<Response> response;
    std::optional<Event> event;
    std::optional<InboundMessage> inbound;
    try {
        request = Request::decode(line);
        response = Response::decode(line);
        event = Event::decode(line);
        inbound = InboundMessage::decode(line);
    } catch (...) {
        FAIL() << "a decoder threw on: " << line.left(200).toHex().constData();
    }

    // Whatever is accepted is written back as one line and read back as the same value.
    if (request) {
        const std::optional<QByteArray> again = request->encode();
        ASSERT_TRUE(again) << line.left(200).constData();
        ASSERT_FALSE(again->contains('\n'));
        ASSERT_EQ(Request::decode(*again), request) << line.left(200).constData();
    }
    if (response) {
        const std::optional<QByteArray> again = response->encode();
        ASSERT_TRUE(again);
        ASSERT_FALSE(again->contains('\n'));
        ASSERT_EQ(Response::decode(*again), response) << line.left(200).constData();
    }
    if (event) {
        const std::optional<QByteArray> again = event->encode();
        ASSERT_TRUE(again);
        ASSERT_FALSE(again->contains('\n'));
        ASSERT_EQ(Event::decode(*again), event) << line.left(200).constData();
    }
    // The client's reading is exactly "an event, else a response".
    if (event)
        ASSERT_EQ(inbound, InboundMessage{*event});
    else if (response)
        ASSERT_EQ(inbound, InboundMessage{*response});
    else
        ASSERT_FALSE(inbound);
}

long peakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

TEST(IPCProtocolFuzz, HostileLinesAreAnsweredWithoutHarm) {
    for (const QByteArray& line : hostileLines()) {
        exercise(line);
        if (HasFatalFailure())
            return;
    }
    // The deep nesting that a parser would have to recurse through is refused as a whole.
    EXPECT_FALSE(Request::decode("{\"id\":1,\"op\":\"hello\",\"urls\":" + nested("[", "]", 10000) + "}"));
    EXPECT_FALSE(
        InboundMessage::decode("{\"event\":\"windows\",\"x\":" + nested("{\"a\":", "}", 10000) + "}"));
    // Numbers that no field can hold make the message undecodable rather than being clamped.
    EXPECT_FALSE(Request::decode("{\"id\":" + QByteArray("1").repeated(5000) + ",\"op\":\"status\"}"));
    EXPECT_FALSE(Request::decode(R"({"id":1,"op":"closeWindows","timeout":1e99999999999})"));
    // A string JSON cannot write back (a lone surrogate) is refused rather than altered.
    EXPECT_FALSE(Request::decode(R"({"id":1,"op":"hello","profileDirectory":"\ud800"})"));
    EXPECT_FALSE(Event::decode(R"({"event":"stubOutdated","improvements":["\udc00"]})"));
    EXPECT_TRUE(Request::decode(R"({"id":1,"op":"hello","profileDirectory":"\ud83d\ude00"})"));
}

TEST(IPCProtocolFuzz, HundredThousandMutatedAndRandomInputs) {
    const std::vector<QByteArray> corpus = validMessages();
    for (const QByteArray& line : corpus)
        ASSERT_TRUE(InboundMessage::decode(line) || Request::decode(line)) << line.constData();

    Rng rng(0xC0FFEE);
    const long peakBefore = peakResidentKilobytes();
    int accepted = 0;
    constexpr int inputs = 120000;
    for (int i = 0; i < inputs; ++i) {
        QByteArray line;
        switch (i % 10) {
        case 0:
            line = randomBytes(rng, below(rng, 64));
            break;
        case 1: // random text from JSON's alphabet
        {
            static const char alphabet[] = "{}[]\":,0123456789.-+eE truefalsn\\u";
            const size_t length = below(rng, 80);
            for (size_t k = 0; k < length; ++k)
                line.append(alphabet[below(rng, sizeof alphabet - 1)]);
            break;
        }
        case 2: // a valid message cut short
        {
            const QByteArray& whole = corpus[below(rng, corpus.size())];
            line = whole.left(static_cast<qsizetype>(below(rng, static_cast<size_t>(whole.size()))));
            break;
        }
        default:
            line = mutate(corpus[below(rng, corpus.size())], rng, corpus);
            break;
        }
        exercise(line);
        if (HasFatalFailure())
            return;
        accepted += (Request::decode(line) || InboundMessage::decode(line)) ? 1 : 0;
    }
    // The mutations keep enough structure to reach the field checks, not only the JSON reader.
    EXPECT_GT(accepted, inputs / 50);
    // Decoding keeps nothing: the peak barely moves across all inputs.
    if (test::residentSizeFollowsTheHeap) {
        EXPECT_LT(peakResidentKilobytes() - peakBefore, 64 * 1024);
    }
}
