#include "CorvaneHost/LinkText.h"

#include <gtest/gtest.h>

namespace {

TEST(LinkText, WrittenHostLeavesOutTheUserPartThePortAndWhatFollows) {
    EXPECT_EQ(host::writtenHost("https://user:pw@Caf%C3%A9.example:8443/a@b?c#d"), "Caf%C3%A9.example");
    EXPECT_EQ(host::writtenHost("http://[::1]:80/"), "[::1]");
    EXPECT_EQ(host::writtenHost(QString::fromUtf8("https://café.example")),
              QString::fromUtf8("café.example"));
    EXPECT_EQ(host::writtenHost("https://a.b?q=x://y"), "a.b");
    EXPECT_EQ(host::writtenHost("mailto:someone@a.b"), std::nullopt);
    EXPECT_EQ(host::writtenHost("file:///tmp/x"), std::nullopt);
    EXPECT_EQ(host::writtenHost("https://:80/"), std::nullopt);
    EXPECT_EQ(host::writtenHost("1http://a.b/"), std::nullopt);
}

TEST(LinkText, ParsesWhatTheStrictModeTakesAndHostsWithWellFormedEscapes) {
    const auto escaped = host::parseLink("https://caf%C3%A9.example/a%20b?q=1");
    ASSERT_TRUE(escaped.has_value());
    EXPECT_EQ(escaped->host(QUrl::FullyEncoded), "xn--caf-dma.example");
    EXPECT_EQ(escaped->path(QUrl::FullyDecoded), "/a b");
    EXPECT_TRUE(host::parseLink("https://example.com/").has_value());
    EXPECT_TRUE(host::parseLink("mailto:someone@example.com").has_value());

    for (const char* bad :
         {"https://caf%C3%G9.example/", "https://caf%C3.example/", "https://caf%C3%A9 x.example/",
          "https://caf%C3%A9.example/a b", "relative/path", "-https://a.b/", "", "http://exa mple.com/"})
        EXPECT_FALSE(host::parseLink(QString::fromUtf8(bad)).has_value()) << bad;
}

// Links as chat and mail clients, editors and terminals hand them on: what a browser percent-encodes is
// taken, and read as its escape, in the path, the query, the fragment and the user part.
TEST(LinkText, TakesTheCharactersABrowserEscapesOutsideTheHost) {
    struct Case {
        const char* written;
        const char* host;
        const char* path;
        const char* query;
    };
    for (const Case& each : std::initializer_list<Case>{
             {"https://fonts.example/css?family=Roboto|Lato", "fonts.example", "/css", "family=Roboto|Lato"},
             {"https://maps.example/dir/?waypoints=A|B", "maps.example", "/dir/", "waypoints=A|B"},
             {"https://api.example/q?filter={\"tags\":[\"a\",\"b\"]}", "api.example", "/q",
              "filter={\"tags\":[\"a\",\"b\"]}"},
             {"https://x.example/a^b/`c`/<d>", "x.example", "/a^b/`c`/<d>", ""},
             {"https://x.example/100%/off?at=50%", "x.example", "/100%/off", "at=50%"},
             {"https://x.example/%7E%41%zz", "x.example", "/~A%zz", ""},
             {"https://wiki.example/Stra\xc3\x9f"
              "e|Nord?q=\xc3\xbc|\xe2\x82\xac",
              "wiki.example",
              "/Stra\xc3\x9f"
              "e|Nord",
              "q=\xc3\xbc|\xe2\x82\xac"},
             {"https://caf%C3%A9.example/a|b", "caf%C3%A9.example", "/a|b", ""},
             {"https://u|{ser}@x.example:8443/p", "x.example", "/p", ""},
             {"http://[::1]:80/x|y", "[::1]", "/x|y", ""},
         }) {
        const QString written = QString::fromUtf8(each.written);
        const auto url = host::parseLink(written);
        ASSERT_TRUE(url.has_value()) << each.written;
        EXPECT_EQ(host::writtenHost(written), QString::fromUtf8(each.host)) << each.written;
        EXPECT_EQ(url->path(QUrl::FullyDecoded), QString::fromUtf8(each.path)) << each.written;
        EXPECT_EQ(url->query(QUrl::FullyDecoded), QString::fromUtf8(each.query)) << each.written;
    }
    const auto fragment = host::parseLink(QStringLiteral("https://x.example/#sec|{1}"));
    ASSERT_TRUE(fragment.has_value());
    EXPECT_EQ(fragment->fragment(QUrl::FullyDecoded), QStringLiteral("sec|{1}"));
    EXPECT_EQ(host::parseLink(QStringLiteral("mailto:a|b@example.com"))->path(QUrl::FullyDecoded),
              QStringLiteral("a|b@example.com"));
}

// The host the rules see is the one a browser opens: nothing is loosened there, a "\" (a browser's "/" in a
// web link) is refused wherever it stands, and a web link must write its host.
TEST(LinkText, NeverLoosensTheHost) {
    for (const char* bad :
         {"https://a.example\\@b.example/", "https://a.example\\b.example/", "https://a{b}.example/",
          "https://a|b.example/", "https://a.example:8|0/", "https://a.example/x\\y", "https:example.com",
          "https:/example.com/", "https:///example.com/", "HTTP:example.com", "https://a.example/\tx",
          "https://a.example/a b|c", "ws:a.example/x|y"})
        EXPECT_FALSE(host::parseLink(QString::fromUtf8(bad)).has_value()) << bad;
    EXPECT_TRUE(host::parseLink(QStringLiteral("mailto:someone@example.com|x")).has_value());
}

TEST(LinkText, LinksGoOnAsWrittenFilesAsTheirURL) {
    const QString written = QStringLiteral("https://caf%C3%A9.example/%7E?a=b|c");
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/a b.html"));
    const QUrl web(QStringLiteral("https://example.com/x"));
    EXPECT_EQ(host::linkTexts({*host::parseLink(written), file, web}, {written}),
              (QStringList{written, QStringLiteral("file:///tmp/a%20b.html"),
                           QStringLiteral("https://example.com/x")}));
    // A written text that is no link never goes on in the URL's place.
    EXPECT_EQ(host::linkTexts({web}, {QStringLiteral("--user-data-dir=/tmp/x")}),
              QStringList{QStringLiteral("https://example.com/x")});
}

} // namespace
