// Random and mutated input fed to the line framing and the message decoders, in random chunk sizes: nothing
// crashes, memory stays bounded, and no fragment of a line ever comes out as a line of its own.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "CorvaneCore/Messaging/SocketClient.h"
#include "CorvaneCore/Messaging/SocketServer.h"
#include "Support/LogCapture.h"
#include "Support/SocketPeer.h"
#include "Support/VirtualTime.h"

#include <QRandomGenerator>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

const std::vector<QByteArray>& seeds() {
    static const std::vector<QByteArray> lines = [] {
        std::vector<QByteArray> result;
        Request hello(0, Request::Op::hello);
        hello.profileDirectory = QString::fromUtf8("Profil é 1");
        hello.pid = 77;
        hello.includeIncognito = false;
        hello.stubRevision = 6;
        result.push_back(*hello.encode());
        Request close(5, Request::Op::closeWindows);
        close.timeout = 6.0;
        close.limit = 3;
        result.push_back(*close.encode());
        Response response(5, true);
        response.action = Response::Action::raised;
        response.confidence = CountConfidence::unclassified;
        response.tabGroups = std::vector<TabGroupInfo>{{"Work", true, false, 2}};
        result.push_back(*response.encode());
        Event event(Event::Kind::stubOutdated);
        event.improvements = QStringList{"a", "b"};
        result.push_back(*event.encode());
        result.push_back(R"({"event":"windows","count":1,"chromeRunning":true,"confidence":"certain"})");
        result.push_back(R"({"id":1,"ok":false,"error":"no profile on this connection"})");
        return result;
    }();
    return lines;
}

// One input: random bytes, a valid message, or a valid message mutated (flipped, cut, spliced, invalid UTF-8,
// deep nesting, a stray newline).
QByteArray makeInput(QRandomGenerator& random) {
    const auto& base = seeds();
    QByteArray input = base[random.bounded(int(base.size()))];
    switch (random.bounded(8)) {
    case 0: { // random bytes
        input.resize(random.bounded(200));
        for (auto& byte : input)
            byte = char(random.bounded(256));
        break;
    }
    case 1: // valid as it is
        break;
    case 2: // bit flips
        for (int i = random.bounded(1, 6); i > 0; --i)
            input[random.bounded(int(input.size()))] ^= char(1 << random.bounded(8));
        break;
    case 3: // truncated
        input.truncate(random.bounded(int(input.size())));
        break;
    case 4: // invalid UTF-8 inside a string
        input.insert(qsizetype(input.indexOf(':') + 2), QByteArray("\xC0\xAF\xFF\xFE\xED\xA0\x80", 7));
        break;
    case 5: // deeply nested
        input = QByteArray(random.bounded(1, 3000), '[') + input + QByteArray(random.bounded(3000), ']');
        break;
    case 6: // a newline in the middle splits it
        input.insert(random.bounded(int(input.size()) + 1), '\n');
        break;
    default: // long: may overflow the limit
        input = input.left(10) + QByteArray(random.bounded(100, 1200), 'x') + input.mid(10);
        break;
    }
    if (random.bounded(10) != 0)
        input.append('\n');
    return input;
}

// The complete lines of a stream, as a reader without any limit would see them.
std::vector<QByteArray> completeLines(const QByteArray& stream) {
    std::vector<QByteArray> lines;
    qsizetype start = 0;
    for (;;) {
        const qsizetype newline = stream.indexOf('\n', start);
        if (newline < 0)
            break;
        if (newline > start)
            lines.push_back(stream.mid(start, newline - start));
        start = newline + 1;
    }
    return lines;
}

TEST(LineFramingRobustness, HundredThousandInputsInRandomChunksYieldOnlyWholeLines) {
    test::LogCapture log; // the over-long lines' log lines stay out of the output
    QRandomGenerator random(20261209);
    constexpr int inputs = 100000;
    constexpr qsizetype limit = 1024;
    int produced = 0;
    int decodedRequests = 0;
    int decodedInbound = 0;
    int round = 0;
    for (int done = 0; done < inputs; ++round) {
        // A stream of a few hundred inputs, cut into random chunks, read by a server-side and a client-side
        // buffer alike.
        QByteArray stream;
        const int count = std::min(inputs - done, random.bounded(50, 400));
        for (int i = 0; i < count; ++i)
            stream += makeInput(random);
        done += count;
        LineBuffer serverSide(limit);
        LineBuffer clientSide(limit);
        std::vector<QByteArray> out;
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype size = std::min<qsizetype>(random.bounded(1, 600), stream.size() - at);
            const QByteArray chunk = stream.mid(at, size);
            at += size;
            for (auto& line : serverSide.append(chunk)) {
                if (Request::decode(line))
                    ++decodedRequests;
                out.push_back(line);
            }
            for (auto& line : clientSide.append(chunk))
                if (InboundMessage::decode(line))
                    ++decodedInbound;
            ASSERT_LE(serverSide.size(), limit);
            ASSERT_LE(clientSide.size(), limit);
        }
        // Every line that came out is a whole line of the stream, in order: never a head or a tail.
        const auto whole = completeLines(stream);
        size_t next = 0;
        for (const auto& line : out) {
            ASSERT_FALSE(line.isEmpty());
            ASSERT_FALSE(line.contains('\n'));
            while (next < whole.size() && whole[next] != line)
                ++next;
            ASSERT_LT(next, whole.size()) << "round " << round << ": a fragment came out as a line";
            ++next;
        }
        produced += int(out.size());
    }
    EXPECT_GT(produced, inputs / 2);
    EXPECT_GT(decodedRequests, 1000);
    EXPECT_GT(decodedInbound, 1000);
}

// The same kind of input over real sockets: the helper's server and a client's link stay up, keep their
// connection and still take the valid message that follows.
TEST(LineFramingRobustness, ServerAndLinkSurviveGarbageOnTheirSockets) {
    test::VirtualTimeScope time;
    test::LogCapture log;
    Corvane::ensureSupportDirectory();
    const QString path = Corvane::socketPath();
    auto server = std::make_shared<SocketServer>();
    std::vector<Request> requests;
    std::shared_ptr<ClientConnection> linkConnection;
    server->onRequest = [&](const std::shared_ptr<ClientConnection>& connection, const Request& request) {
        requests.push_back(request);
        if (request.op == Request::Op::hello && request.pid == 99)
            linkConnection = connection;
    };
    server->start(path);

    auto link = std::make_shared<HelperLink>();
    std::vector<Event> events;
    link->onEvent = [&](const Event& event) { events.push_back(event); };
    Request hello(0, Request::Op::hello);
    hello.pid = 99;
    link->connect(hello);
    ASSERT_TRUE(time->runUntil([&] { return linkConnection != nullptr; }));

    test::SocketPeer raw(UnixSocket::connect(path));
    QRandomGenerator random(7);
    QByteArray toServer;
    QByteArray toLink;
    for (int i = 0; i < 3000; ++i) {
        toServer += makeInput(random);
        toLink += makeInput(random);
    }
    // A huge line without an end, beyond the real limit, then a clean line boundary.
    toServer += QByteArray(LineBuffer::defaultLimit + 100, 'z') + "\n";
    toLink += QByteArray(LineBuffer::defaultLimit + 100, 'z') + "\n";
    // The helper reads only as fast as its main queue takes the requests, so the client writes from a thread
    // of its own while this one runs the main queue.
    std::vector<qsizetype> cuts;
    for (qsizetype at = 0; at < toServer.size();) {
        at += std::min<qsizetype>(random.bounded(1, 70000), toServer.size() - at);
        cuts.push_back(at);
    }
    Request marker(424242, Request::Op::status);
    const auto skippingTheLongLine = [&] {
        for (const auto& line : log.lines())
            if (line.message.startsWith(QStringLiteral("over-long line discarded")))
                return true;
        return false;
    };
    std::atomic<bool> written{true};
    std::thread writer([&] {
        qsizetype at = 0;
        for (const qsizetype cut : cuts) {
            written = written && raw.write(toServer.mid(at, cut - at));
            at = cut;
        }
        // Once the over-long line is being skipped, so that the marker never shares a read with the bytes
        // that crossed the limit (those are dropped whole).
        written =
            written && test::waitFor(skippingTheLongLine, 20000) && raw.write("\n" + *marker.encode() + "\n");
    });
    const bool markerArrived =
        time->runUntil([&] { return !requests.empty() && requests.back().id == 424242; }, 60000);
    writer.join();
    ASSERT_TRUE(written);
    ASSERT_TRUE(markerArrived);

    for (qsizetype at = 0; at < toLink.size();) {
        const qsizetype size = std::min<qsizetype>(random.bounded(1, 70000), toLink.size() - at);
        ASSERT_TRUE(linkConnection->sendFrame(toLink.mid(at, size)));
        at += size;
    }
    Event last(Event::Kind::shuttingDown);
    last.chromeRunning = false;
    ASSERT_TRUE(linkConnection->sendFrame("\n" + *last.encode()));

    ASSERT_TRUE(time->runUntil([&] { return !events.empty() && events.back() == last; }, 20000));
    EXPECT_EQ(server->clientCount(), 2);
    EXPECT_EQ(link->state(), HelperLink::State::connected);
    link->shutdown();
    server->stop(path);
}

} // namespace
