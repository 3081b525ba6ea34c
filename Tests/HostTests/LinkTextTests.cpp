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
          "https://caf%C3%A9.example/a b", "https://caf%C3%A9.example/%zz", "relative/path", "-https://a.b/",
          "", "http://exa mple.com/"})
        EXPECT_FALSE(host::parseLink(QString::fromUtf8(bad)).has_value()) << bad;
}

} // namespace
