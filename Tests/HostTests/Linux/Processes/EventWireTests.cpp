// The events' wire format as both sides speak it: the plain one of the hand-off program and the host's.
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/Linux/Processes/EventWire.h"
#include "Support/TemporaryHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <random>

namespace {

using host::wire::Event;

TEST(EventWireTest, TextsTravelUnchanged) {
    const std::vector<Event> events{
        Event{"GURL", "GURL", "https://caf%C3%A9.example/a b?q=\"x\\y\"\t\x01\xc3\xa9", {}, 42},
        Event{"aevt", "odoc", std::nullopt, {"file:///tmp/a%20page.html", "file:///tmp/b"}, std::nullopt},
        Event{"aevt", "rapp", std::nullopt, {}, 0}};
    EXPECT_EQ(host::wire::decode(host::wire::encode(events)), events);
    EXPECT_EQ(host::wire::decode(host::wire::encode({})), std::vector<Event>{});
}

TEST(EventWireTest, ReadsWhatAnyJsonWriterWrites) {
    // Written by Qt's own JSON: its key order, escapes of characters outside the basic plane.
    const QJsonObject event{
        {QStringLiteral("id"), QStringLiteral("GURL")},
        {QStringLiteral("class"), QStringLiteral("GURL")},
        {QStringLiteral("object"), QStringLiteral("https://example.com/\u00e9\U0001F600\n")},
        {QStringLiteral("sender"), 7},
        {QStringLiteral("extra"), QJsonArray{true, QJsonValue(), 1.5}}};
    const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("events"), QJsonArray{event}}})
                                .toJson(QJsonDocument::Indented);
    const auto decoded = host::wire::decode(json.toStdString());
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 1u);
    EXPECT_EQ((*decoded)[0].object, QStringLiteral("https://example.com/\u00e9\U0001F600\n").toStdString());
    EXPECT_EQ((*decoded)[0].sender, 7);
    const auto escaped =
        host::wire::decode(R"({"events":[{"class":"a","id":"b","object":"\ud83d\ude00\u00e9\/"}]})");
    ASSERT_TRUE(escaped);
    EXPECT_EQ((*escaped)[0].object, std::string("\xf0\x9f\x98\x80\xc3\xa9/"));
}

TEST(EventWireTest, RefusesWhatIsNoEventList) {
    for (const char* bad :
         {"", "not json", "{}", "[]", R"({"events":{}})", R"({"events":[{"class":1,"id":"x"}]})",
          R"({"events":[{"class":"a"}]})", R"({"events":[1]})", R"({"events":[]} trailing)",
          R"({"events":[{"class":"a","id":"b","object":"unterminated}]})",
          R"({"events":[{"class":"a\q","id":"b"}]})", "{\"events\":[{\"class\":\"a\nb\",\"id\":\"b\"}]}"})
        EXPECT_FALSE(host::wire::decode(bad)) << bad;
    // Nesting beyond any event list's is refused, not followed.
    EXPECT_FALSE(host::wire::decode(std::string(100000, '[')));
    // A sender that is no process identifier is left out; the event stays.
    const auto odd =
        host::wire::decode(R"({"events":[{"class":"a","id":"b","sender":-1,"documents":[1,"f"]}]})");
    ASSERT_TRUE(odd);
    EXPECT_FALSE((*odd)[0].sender);
    EXPECT_EQ((*odd)[0].documents, std::vector<std::string>{"f"});
}

TEST(EventWireTest, ThePlainSocketPathIsTheHostsOwn) {
    test::TemporaryHome home;
    const QString identifier = QStringLiteral("com.example.app");
    const auto plain = host::wire::usualEventSocketPath(identifier.toStdString());
    ASSERT_TRUE(plain);
    EXPECT_EQ(QString::fromStdString(*plain), host::eventSocketPath(identifier));
    EXPECT_FALSE(host::wire::usualEventSocketPath("a/b"));
    // Too long for a socket address: the host places it elsewhere, which only the host knows.
    EXPECT_FALSE(host::wire::usualEventSocketPath(std::string(120, 'x')));
}

// Whatever a peer writes: mutated and cut lines are answered (events or none) without a crash, and what is
// accepted survives being written and read again. Seeded, so a failure repeats.
TEST(EventWireTest, MutatedLinesAreAnsweredAndWhatIsAcceptedRoundTrips) {
    const std::string valid =
        host::wire::encode({Event{"GURL", "GURL", "https://caf%C3%A9.example/\u00e9\"", {}, 42},
                            Event{"aevt", "odoc", std::nullopt, {"file:///tmp/a%20b"}, std::nullopt}});
    std::mt19937_64 random(20261209);
    const std::string alphabet = "{}[]\",:\\u0123456789abcdefnrtl.-+eE \x80\xff";
    for (int round = 0; round < 20000; ++round) {
        std::string line = valid;
        const int edits = 1 + int(random() % 4);
        for (int edit = 0; edit < edits && !line.empty(); ++edit) {
            const std::size_t at = random() % line.size();
            switch (random() % 3) {
            case 0:
                line[at] = alphabet[random() % alphabet.size()];
                break;
            case 1:
                line.erase(at, 1 + random() % 8);
                break;
            default:
                line.insert(at, 1, alphabet[random() % alphabet.size()]);
            }
        }
        if (const auto events = host::wire::decode(line)) {
            ASSERT_EQ(host::wire::decode(host::wire::encode(*events)), events) << line;
        }
    }
}

} // namespace
