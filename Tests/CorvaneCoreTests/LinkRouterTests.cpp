#include "CorvaneCore/Routing/LinkRouter.h"
#include "Support/TemporaryHome.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Kind = Condition::Kind;

bool isFilePathStartForTest(const QString& pattern) {
    const QString trimmed = pattern.trimmed();
    return trimmed.startsWith('/') || trimmed.startsWith("~/");
}

QUrl link(const char* text) {
    return QUrl(QString::fromUtf8(text));
}

bool matches(const char* pattern, const char* url) {
    return LinkRouter::matchesAddress(QString::fromUtf8(pattern), link(url));
}

LinkRule rule(const char* name, std::vector<Condition> conditions, MatchMode match = MatchMode::any) {
    return LinkRule{.name = name,
                    .target = RouteTarget::browser(QStringLiteral("target.") + name),
                    .match = match,
                    .conditions = std::move(conditions)};
}

TEST(Glob, OnlyStarIsSpecialAndTheWholeTextMustMatch) {
    EXPECT_TRUE(Glob::matches("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(Glob::matches("a?c", "abc"));
    EXPECT_TRUE(Glob::matches("a?c", "A?C"));
    EXPECT_TRUE(Glob::matches("", ""));
    EXPECT_TRUE(Glob::matches("**", ""));
    EXPECT_FALSE(Glob::matches("", "a"));
    EXPECT_FALSE(Glob::matches("a", ""));
    EXPECT_FALSE(Glob::matches("abc", "abcd"));
    EXPECT_FALSE(Glob::matches("bc", "abc"));
    EXPECT_TRUE(Glob::matches("*", "a/b.c?d=1"));
    EXPECT_TRUE(Glob::matches("*.pdf", "x.pdf.pdf"));
    EXPECT_FALSE(Glob::matches("*.pdf", "x.pdf.txt"));
    EXPECT_TRUE(Glob::matches("a*", "a"));
    EXPECT_TRUE(Glob::matches("*a*a*a", "aaaaaaaaaa"));
    EXPECT_FALSE(Glob::matches("ab*", "a"));
    EXPECT_TRUE(Glob::matches("*", ""));
    EXPECT_TRUE(Glob::matches("a*", "A"));
    EXPECT_TRUE(Glob::matches("a*a", "aa"));
    EXPECT_FALSE(Glob::matches("a*a", "a"));
    EXPECT_FALSE(Glob::matches("*a*a*b", "aaaaaaaaaa"));
}

TEST(Glob, ComparesLowerCasedUserPerceivedCharacters) {
    EXPECT_TRUE(Glob::matches("CAFÉ*", "café.fr"));
    EXPECT_TRUE(Glob::matches("caf\u00e9", "CAFE\u0301")); // composed against decomposed
    EXPECT_FALSE(Glob::matches("cafe", "cafe\u0301"));     // the accent belongs to the last character
    EXPECT_TRUE(Glob::matches("caf*", "cafe\u0301"));
    EXPECT_TRUE(Glob::matches("\u212a", "k")); // the Kelvin sign lowers to a plain k
    EXPECT_TRUE(Glob::matches("straße", "STRAßE"));
    EXPECT_TRUE(Glob::matches("a*", "a\U0001F600"));
    EXPECT_FALSE(Glob::matches("a?", "a\U0001F600"));
    // A carriage return and line feed together make one character.
    EXPECT_FALSE(Glob::matches("\r*", "\r\n"));
    EXPECT_TRUE(Glob::matches("*\n", "a\n"));
    // Plain ends with something else in between, and the other way round.
    EXPECT_TRUE(Glob::matches("x*\u00e9*y", "xZ\u00c9Zy"));
    EXPECT_FALSE(Glob::matches("abc", "abc\u0301"));
    EXPECT_FALSE(Glob::matches("ab*c", "abc\u0301"));
    EXPECT_TRUE(Glob::matches("ab*c\u0301", "ABC\u0301"));
}

// A plain reference for ASCII texts: lower-case both, then match by dynamic programming.
bool referenceGlob(const QString& pattern, const QString& text) {
    const QString p = pattern.toLower();
    const QString t = text.toLower();
    std::vector<std::vector<bool>> can(p.size() + 1, std::vector<bool>(t.size() + 1, false));
    can[p.size()][t.size()] = true;
    for (qsizetype i = p.size() - 1; i >= 0; --i) {
        for (qsizetype j = t.size(); j >= 0; --j) {
            if (p[i] == '*')
                can[i][j] = can[i + 1][j] || (j < t.size() && can[i][j + 1]);
            else
                can[i][j] = j < t.size() && p[i] == t[j] && can[i + 1][j + 1];
        }
    }
    return can[0][0];
}

// The address test written out step by step, for web links and patterns that are not file paths.
bool referenceMatchesAddress(const QString& raw, const QUrl& url) {
    QString pattern = raw.trimmed().toLower();
    if (pattern.isEmpty())
        return false;
    if (const qsizetype scheme = pattern.indexOf("://"); scheme >= 0)
        pattern = pattern.mid(scheme + 3);
    while (pattern.endsWith('/'))
        pattern.chop(1);
    if (pattern.isEmpty())
        return false;
    if (pattern.contains('/'))
        return referenceGlob(pattern, LinkRouter::address(url));
    const QString host = url.host(QUrl::FullyEncoded).toLower();
    if (host.isEmpty())
        return false;
    return referenceGlob(pattern, host) || (pattern.startsWith("*.") && referenceGlob(pattern.mid(2), host));
}

QString randomText(QRandomGenerator& random, const QString& alphabet, int maxLength) {
    QString text;
    const int length = random.bounded(maxLength + 1);
    for (int i = 0; i < length; ++i)
        text += alphabet[random.bounded(int(alphabet.size()))];
    return text;
}

// The matcher's shortcuts (turning most patterns away by their first or last characters) must never change
// an answer: compare with the plain reference over many random short patterns, texts and links.
TEST(Glob, ShortcutsAgreeWithAPlainMatcher) {
    QRandomGenerator random(20261209);
    for (int round = 0; round < 20000; ++round) {
        const QString pattern = randomText(random, "abA*.", 7);
        const QString text = randomText(random, "abB.", 7);
        ASSERT_EQ(Glob::matches(pattern, text), referenceGlob(pattern, text))
            << pattern.toStdString() << " / " << text.toStdString();
    }
    for (int round = 0; round < 20000; ++round) {
        QString pattern = randomText(random, "ab*./:", 8);
        if (random.bounded(4) == 0)
            pattern.prepend(random.bounded(2) ? "https://" : " HTTP://");
        if (random.bounded(4) == 0)
            pattern.append(random.bounded(2) ? "/" : "// ");
        if (isFilePathStartForTest(pattern))
            continue;
        const QUrl url("https://" + randomText(random, "abB.", 5) + "/" + randomText(random, "ab/.", 4) +
                       (random.bounded(3) == 0 ? "?" + randomText(random, "a=b", 3) : QString()));
        ASSERT_EQ(LinkRouter::matchesAddress(pattern, url), referenceMatchesAddress(pattern, url))
            << pattern.toStdString() << " / " << url.toString().toStdString();
    }
}

TEST(LinkRouterAddress, AddressIsHostPathAndQuery) {
    EXPECT_EQ(LinkRouter::address(link("https://A.B/")), "a.b");
    EXPECT_EQ(LinkRouter::address(link("https://a.b")), "a.b");
    EXPECT_EQ(LinkRouter::address(link("https://a.b/x/?q=1#frag")), "a.b/x/?q=1");
    EXPECT_EQ(LinkRouter::address(link("https://a.b/?q=1")), "a.b/?q=1");
    EXPECT_EQ(LinkRouter::address(link("https://a.b/?")), "a.b");
    EXPECT_EQ(LinkRouter::address(link("https://a.b:8443/Some%20Path?x=%2F")), "a.b/Some Path?x=/");
    EXPECT_EQ(LinkRouter::address(link("mailto:x@y.z")), "x@y.z");
}

TEST(LinkRouterAddress, HostPatterns) {
    EXPECT_TRUE(matches("B.C", "https://b.c/any/path?q=1"));
    EXPECT_TRUE(matches("b.c", "http://B.C"));
    EXPECT_TRUE(matches("  b.c\t", "https://b.c/"));
    EXPECT_TRUE(matches("*.b.c", "https://b.c/"));
    EXPECT_TRUE(matches("*.b.c", "https://a.b.c/"));
    EXPECT_TRUE(matches("*.b.c", "https://x.a.b.c/"));
    EXPECT_FALSE(matches("*.b.c", "https://ab.c/"));
    EXPECT_TRUE(matches("*b.c", "https://ab.c/"));
    EXPECT_TRUE(matches("*", "https://anything.example/"));
    EXPECT_FALSE(matches("*", "file:///tmp/x"));
    EXPECT_FALSE(matches("*", "mailto:x@y.z")); // no host
    EXPECT_FALSE(matches("b.c:8080", "https://b.c:8080/"));
    EXPECT_TRUE(matches("b.c/", "https://b.c/x"));
    EXPECT_TRUE(matches("HTTPS://b.c", "http://b.c/x"));
    EXPECT_FALSE(matches("", "https://b.c/"));
    EXPECT_FALSE(matches(" \t ", "https://b.c/"));
    EXPECT_FALSE(matches("https://", "https://b.c/"));
    EXPECT_TRUE(LinkRouter::matchesHost("*.b.c", "B.C"));
    EXPECT_FALSE(LinkRouter::matchesHost("*", ""));
}

TEST(LinkRouterAddress, PathPatternsCompareTheWholeAddress) {
    EXPECT_FALSE(matches("b.c/docs", "https://b.c/docs/"));
    EXPECT_TRUE(matches("b.c/docs", "https://b.c/docs"));
    EXPECT_TRUE(matches("b.c/docs*", "https://b.c/docs"));
    EXPECT_TRUE(matches("b.c/docs*", "https://b.c/docs/"));
    EXPECT_TRUE(matches("b.c/docs*", "https://b.c/docs/x?y=1"));
    EXPECT_TRUE(matches("ftp://b.c/docs/", "https://b.c/docs"));
    EXPECT_TRUE(matches("b.c/Docs", "https://b.c/dOCS"));
    EXPECT_TRUE(matches("b.c/a b", "https://b.c/a%20b"));
    EXPECT_FALSE(matches("b.c/a%20b", "https://b.c/a%20b"));
    EXPECT_TRUE(matches("b.c/*", "https://b.c/x#fragment"));
    EXPECT_FALSE(matches("b.c/x#fragment", "https://b.c/x#fragment"));
    EXPECT_FALSE(matches("b.c/*", "file:///b.c/x"));
}

TEST(LinkRouterAddress, FilePathPatterns) {
    test::TemporaryHome home;
    const QUrl report = QUrl::fromLocalFile(home.file("Downloads/Report.PDF"));
    EXPECT_TRUE(LinkRouter::matchesAddress("~/Downloads/*.pdf", report));
    EXPECT_TRUE(LinkRouter::matchesAddress(" ~/Downloads/* ", report));
    EXPECT_FALSE(LinkRouter::matchesAddress("~/Documents/*", report));

    qputenv("HOME", QFile::encodeName(home.path() + "/"));
    EXPECT_TRUE(LinkRouter::matchesAddress("~/Downloads/*.pdf", report));

    EXPECT_TRUE(matches("/var/log/*", "file:///private/var/log/system.log"));
    EXPECT_TRUE(matches("/var/log/*", "file:///var/log/system.log"));
    EXPECT_TRUE(matches("/private/tmp/*", "file:///tmp/a"));
    EXPECT_TRUE(matches("/tmp", "file:///private/tmp"));
    EXPECT_FALSE(matches("/private/tmpfoo", "file:///tmpfoo"));
    EXPECT_TRUE(matches("/tmpfoo", "file:///tmpfoo"));
    EXPECT_TRUE(matches("/", "file:///"));
    EXPECT_FALSE(matches("/", "file:///a"));
    EXPECT_TRUE(matches("/*", "file:///a/b"));
    EXPECT_FALSE(matches("/*", "https://b.c/"));
    EXPECT_TRUE(matches("/a/c/x y", "file:///a/b/../c/./x%20y"));
    EXPECT_EQ(LinkRouter::filePath(link("file:///etc/hosts")), "/private/etc/hosts");
    EXPECT_EQ(LinkRouter::filePath(link("file:///a/./b/../c")), "/a/c");

    EXPECT_TRUE(LinkRouter::isFilePathPattern("  /x"));
    EXPECT_TRUE(LinkRouter::isFilePathPattern("~/x"));
    EXPECT_FALSE(LinkRouter::isFilePathPattern("~x"));
    EXPECT_FALSE(LinkRouter::isFilePathPattern("b.c/x"));
    // "~x" is no file-path pattern, so it is a host pattern and never matches a file link.
    EXPECT_FALSE(matches("~*", "file:///a"));
}

TEST(LinkRouterConditions, AppsAreCaseInsensitiveWholeIdentifiers) {
    const Condition apps{Kind::apps, {" COM.Apple.Safari ", "com.x.*"}};
    const QUrl url = link("https://b.c/");
    EXPECT_TRUE(LinkRouter::matches(apps, url, QString("com.apple.safari")));
    EXPECT_FALSE(LinkRouter::matches(apps, url, QString("com.x.y")));
    EXPECT_TRUE(LinkRouter::matches(apps, url, QString("com.x.*")));
    EXPECT_FALSE(LinkRouter::matches(apps, url, std::nullopt));
    EXPECT_FALSE(LinkRouter::matches(apps, url, QString("")));
    // The source itself is not trimmed.
    EXPECT_FALSE(LinkRouter::matches(apps, url, QString(" com.apple.safari")));
    // An addresses condition ignores the source.
    EXPECT_TRUE(LinkRouter::matches(Condition{Kind::addresses, {"x.y", "b.c"}}, url, std::nullopt));
}

TEST(LinkRouterDecide, FirstEnabledMatchingRuleWins) {
    RuleSet set;
    set.rules = {rule("off", {{Kind::addresses, {"b.c"}}}), rule("empty", {{Kind::addresses, {" ", ""}}}),
                 rule("emptyAll", {{Kind::apps, {"\t"}}}, MatchMode::all),
                 rule("second", {{Kind::addresses, {"*.c"}}}), rule("third", {{Kind::addresses, {"b.c"}}})};
    set.rules[0].isEnabled = false;

    const RouteDecision decision = LinkRouter::decide(link("https://b.c/"), std::nullopt, set);
    ASSERT_TRUE(decision.rule.has_value());
    EXPECT_EQ(decision.rule->name, "second");
    EXPECT_EQ(decision.target, RouteTarget::browser("target.second"));
    EXPECT_FALSE(decision.isFallback());
    EXPECT_EQ(*decision.rule, set.rules[3]);

    const RouteDecision none = LinkRouter::decide(link("https://b.d/"), std::nullopt, set);
    EXPECT_TRUE(none.isFallback());
    EXPECT_FALSE(none.target.has_value());
    EXPECT_EQ(none, RouteDecision{});
    EXPECT_TRUE(LinkRouter::decide(link("https://b.c/"), std::nullopt, RuleSet{}).isFallback());

    // The rule's own enabled flag is not part of matches().
    EXPECT_TRUE(LinkRouter::matches(set.rules[0], link("https://b.c/"), std::nullopt));
}

TEST(LinkRouterDecide, TheHostIsComparedAsTheLinkWritesIt) {
    RuleSet set;
    set.rules = {rule("decoded", {{Kind::addresses, {"café.example"}}}),
                 rule("ascii", {{Kind::addresses, {"xn--caf-dma.example"}}}),
                 rule("escaped", {{Kind::addresses, {"caf%c3%a9.example/menu"}}}),
                 rule("v6", {{Kind::addresses, {"::1"}}})};
    const QString written = QStringLiteral("https://CAF%C3%A9.example/menu");
    const QUrl url(written, QUrl::TolerantMode);
    ASSERT_TRUE(url.isValid());
    const RouteDecision decision = LinkRouter::decide(url, std::nullopt, set, written);
    ASSERT_TRUE(decision.rule.has_value());
    EXPECT_EQ(decision.rule->name, "escaped");

    // Without the text the URL's own host form is compared.
    EXPECT_EQ(LinkRouter::decide(url, std::nullopt, set).rule->name, "ascii");
    // An address literal is compared without its brackets, written or not.
    EXPECT_EQ(LinkRouter::decide(link("http://[::1]:8080/"), std::nullopt, set,
                                 QStringLiteral("http://[::1]:8080/"))
                  .rule->name,
              "v6");
    EXPECT_EQ(LinkRouter::decide(link("http://[::1]:8080/"), std::nullopt, set).rule->name, "v6");
}

TEST(LinkRouterDecide, MatchModes) {
    LinkRule both = rule("both", {{Kind::addresses, {"b.c"}}, {Kind::apps, {"com.x"}}}, MatchMode::all);
    EXPECT_FALSE(LinkRouter::matches(both, link("https://b.c/"), std::nullopt));
    EXPECT_TRUE(LinkRouter::matches(both, link("https://b.c/"), QString("com.X")));
    EXPECT_FALSE(LinkRouter::matches(both, link("https://d.e/"), QString("com.x")));
    both.match = MatchMode::any;
    EXPECT_TRUE(LinkRouter::matches(both, link("https://b.c/"), std::nullopt));
    EXPECT_TRUE(LinkRouter::matches(both, link("https://d.e/"), QString("com.x")));
    EXPECT_FALSE(LinkRouter::matches(both, link("https://d.e/"), QString("com.y")));

    // Blank conditions take no part in an all-rule.
    const LinkRule withBlank =
        rule("blank", {{Kind::apps, {" "}}, {Kind::addresses, {"b.c"}}}, MatchMode::all);
    EXPECT_TRUE(LinkRouter::matches(withBlank, link("https://b.c/"), std::nullopt));
}

} // namespace
