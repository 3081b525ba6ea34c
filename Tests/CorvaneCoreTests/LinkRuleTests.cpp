#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/LinkRule.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <gtest/gtest.h>

namespace {

QJsonValue parse(const char* json) {
    return JSONDecoder::corvane().decode(QByteArray(json));
}

RuleSet decodeSet(const char* json) {
    return RuleSet::fromJson(parse(json));
}

LinkRule decodeRule(const char* json) {
    return LinkRule::fromJson(parse(json));
}

Condition decodeCondition(const char* json) {
    return Condition::fromJson(parse(json));
}

QByteArray encode(const QJsonObject& object) {
    return JSONEncoder::corvane().encode(object);
}

TEST(RouteTargetJson, WritesIsPrivateOnlyForPrivateBrowsers) {
    EXPECT_EQ(encode(RouteTarget::browser("org.mozilla.firefox").toJson()),
              "{\n  \"bundleID\" : \"org.mozilla.firefox\",\n  \"kind\" : \"browser\"\n}");
    EXPECT_EQ(RouteTarget::browser("a", true).toJson(),
              (QJsonObject{{"kind", "browser"}, {"bundleID", "a"}, {"isPrivate", true}}));
    EXPECT_EQ(RouteTarget::proxyApp("app.corvane.stub.x").toJson(),
              (QJsonObject{{"kind", "proxyApp"}, {"bundleID", "app.corvane.stub.x"}}));

    // A stored false is dropped on the way back; a proxy app is never private.
    const RouteTarget notPrivate =
        RouteTarget::fromJson(parse(R"({"kind":"browser","bundleID":"a","isPrivate":false})"));
    EXPECT_FALSE(notPrivate.toJson().contains("isPrivate"));
    const RouteTarget proxy =
        RouteTarget::fromJson(parse(R"({"kind":"proxyApp","bundleID":"p","isPrivate":true})"));
    EXPECT_EQ(proxy, RouteTarget::proxyApp("p"));
    EXPECT_FALSE(proxy.isPrivate());
    EXPECT_TRUE(proxy.isProxyApp());
    EXPECT_EQ(RouteTarget::fromJson(parse(R"({"kind":"browser","bundleID":"a","isPrivate":null})")),
              RouteTarget::browser("a"));
}

TEST(RouteTargetJson, RejectsEveryOtherForm) {
    for (const char* json : {R"({"bundleID":"a"})", R"({"kind":"browser"})",
                             R"({"kind":"Browser","bundleID":"a"})", R"({"kind":"app","bundleID":"a"})",
                             R"({"kind":"browser","bundleID":7})", R"({"kind":"browser","bundleID":null})",
                             R"({"kind":"browser","bundleID":"a","isPrivate":1})", R"("browser")"}) {
        EXPECT_THROW(RouteTarget::fromJson(parse(json)), JSONDecodingError) << json;
    }
}

TEST(ConditionJson, ReadsTheOlderForm) {
    EXPECT_EQ(decodeCondition(R"({"pattern":"example.com"})"),
              (Condition{Condition::Kind::addresses, {"example.com"}}));
    EXPECT_EQ(decodeCondition(
                  R"({"field":"fromApp","patterns":["com.apple.Safari"],"pattern":"com.google.Chrome"})"),
              (Condition{Condition::Kind::apps, {"com.apple.Safari", "com.google.Chrome"}}));
    // Field names are case-sensitive; unknown ones are addresses.
    EXPECT_EQ(decodeCondition(R"({"field":"FromApp"})"), (Condition{Condition::Kind::addresses, {}}));
    EXPECT_EQ(decodeCondition(R"({"field":"path","patterns":["a"],"pattern":""})"),
              (Condition{Condition::Kind::addresses, {"a"}}));
    // A blank single pattern is kept here and only dropped as unusable later.
    EXPECT_EQ(decodeCondition(R"({"kind":null,"field":null,"pattern":"  "})"),
              (Condition{Condition::Kind::addresses, {"  "}}));
}

TEST(ConditionJson, CurrentFormIgnoresOlderKeys) {
    EXPECT_EQ(decodeCondition(R"({"kind":"apps","pattern":"com.apple.Safari"})"),
              (Condition{Condition::Kind::apps, {}}));
    EXPECT_EQ(decodeCondition(R"({"kind":"addresses","values":null,"patterns":["x"]})"),
              (Condition{Condition::Kind::addresses, {}}));
    EXPECT_EQ(decodeCondition(R"({"kind":"apps","values":[" a ",""]})"),
              (Condition{Condition::Kind::apps, {" a ", ""}}));
    EXPECT_THROW(decodeCondition(R"({"kind":"hosts","values":[]})"), JSONDecodingError);
    EXPECT_THROW(decodeCondition(R"({"kind":"apps","values":[null]})"), JSONDecodingError);
    EXPECT_THROW(decodeCondition(R"({"patterns":"a"})"), JSONDecodingError);

    // An older condition is written back in the current form.
    EXPECT_EQ(decodeCondition(R"({"field":"fromApp","pattern":"x"})").toJson(),
              (QJsonObject{{"kind", "apps"}, {"values", QJsonArray{"x"}}}));
}

TEST(LinkRuleJson, OnlyTargetIsRequired) {
    const char* json = R"({"target":{"kind":"browser","bundleID":"a"}})";
    const LinkRule rule = decodeRule(json);
    EXPECT_EQ(rule.name, "Rule");
    EXPECT_TRUE(rule.isEnabled);
    EXPECT_EQ(rule.match, MatchMode::any);
    EXPECT_TRUE(rule.conditions.empty());
    EXPECT_FALSE(rule.id.isNull());
    EXPECT_NE(decodeRule(json).id, rule.id);

    const LinkRule nulls = decodeRule(
        R"({"id":null,"name":null,"isEnabled":null,"match":null,"conditions":null,"target":{"kind":"browser","bundleID":"a"}})");
    EXPECT_EQ(nulls.name, "Rule");
    EXPECT_TRUE(nulls.isEnabled);

    for (const char* bad :
         {R"({"name":"x"})", R"({"target":null})",
          R"({"target":{"kind":"browser","bundleID":"a"},"match":"some"})",
          R"({"target":{"kind":"browser","bundleID":"a"},"isEnabled":"yes"})",
          R"({"target":{"kind":"browser","bundleID":"a"},"name":3})",
          R"({"target":{"kind":"browser","bundleID":"a"},"id":"not-a-uuid"})",
          R"({"target":{"kind":"browser","bundleID":"a"},"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\n"})",
          R"({"target":{"kind":"browser","bundleID":"a"},"conditions":{}})"}) {
        EXPECT_THROW(decodeRule(bad), JSONDecodingError) << bad;
    }
}

TEST(LinkRuleJson, CoalescesOnlyAdjacentConditionsOfOneKind) {
    const LinkRule rule = decodeRule(R"({"target":{"kind":"browser","bundleID":"a"},"conditions":[
        {"kind":"addresses","values":["a","a"]},{"pattern":"b"},{"kind":"apps","values":["x"]},
        {"kind":"addresses","values":[""]}]})");
    ASSERT_EQ(rule.conditions.size(), 3u);
    EXPECT_EQ(rule.conditions[0], (Condition{Condition::Kind::addresses, {"a", "a", "b"}}));
    EXPECT_EQ(rule.conditions[1], (Condition{Condition::Kind::apps, {"x"}}));
    EXPECT_EQ(rule.conditions[2], (Condition{Condition::Kind::addresses, {""}}));

    // A rule built in memory is stored as given.
    LinkRule built{.target = RouteTarget::browser("a"),
                   .conditions = {{Condition::Kind::apps, {"x"}}, {Condition::Kind::apps, {"y"}}}};
    EXPECT_EQ(built.toJson().value("conditions").toArray().size(), 2);
}

TEST(RuleSetJson, EmptyObjectIsTheDefaultSet) {
    EXPECT_EQ(decodeSet("{}"), RuleSet{});
    EXPECT_EQ(
        decodeSet(
            R"({"version":null,"rules":null,"fallback":null,"recordsHistory":null,"browserChoices":null})"),
        RuleSet{});
    const RuleSet defaults;
    EXPECT_EQ(defaults.version, 1);
    EXPECT_TRUE(defaults.recordsHistory);
    EXPECT_FALSE(defaults.handlesHTMLFiles);
    EXPECT_FALSE(defaults.fallback.has_value());
    EXPECT_FALSE(defaults.localFileTarget.has_value());
}

TEST(RuleSetJson, OneBadRuleMakesTheWholeFileUnreadable) {
    EXPECT_THROW(
        decodeSet(R"({"rules":[{"target":{"kind":"browser","bundleID":"a"}},{"name":"no target"}]})"),
        JSONDecodingError);
    EXPECT_THROW(decodeSet(R"({"browserChoices":{"a":"yes"}})"), JSONDecodingError);
    EXPECT_THROW(decodeSet(R"({"version":1.5})"), JSONDecodingError);
    EXPECT_THROW(decodeSet(R"({"additionalBrowserIDs":[1]})"), JSONDecodingError);
    EXPECT_THROW(decodeSet(R"({"fallback":{"kind":"other","bundleID":"a"}})"), JSONDecodingError);
    EXPECT_THROW(decodeSet("[]"), JSONDecodingError);
}

TEST(RuleSetJson, WritesTheFileFormByteForByte) {
    RuleSet set;
    set.rules.push_back(LinkRule{QUuid::fromString(QStringLiteral("e621e1f8-c36c-495a-93fc-0c247a3e6e5f")),
                                 "Docs",
                                 RouteTarget::browser("com.google.Chrome", true),
                                 true,
                                 MatchMode::any,
                                 {{Condition::Kind::addresses, {"example.com/docs*"}}}});
    set.fallback = RouteTarget::browser("org.mozilla.firefox");
    set.browserChoices.insert("com.apple.Safari", false);

    const QByteArray expected = R"({
  "additionalBrowserIDs" : [],
  "browserChoices" : {
    "com.apple.Safari" : false
  },
  "fallback" : {
    "bundleID" : "org.mozilla.firefox",
    "kind" : "browser"
  },
  "handlesHTMLFiles" : false,
  "recordsHistory" : true,
  "rules" : [
    {
      "conditions" : [
        {
          "kind" : "addresses",
          "values" : [
            "example.com\/docs*"
          ]
        }
      ],
      "id" : "E621E1F8-C36C-495A-93FC-0C247A3E6E5F",
      "isEnabled" : true,
      "match" : "any",
      "name" : "Docs",
      "target" : {
        "bundleID" : "com.google.Chrome",
        "isPrivate" : true,
        "kind" : "browser"
      }
    }
  ],
  "version" : 1
})";
    EXPECT_EQ(encode(set.toJson()), expected);
    EXPECT_EQ(RuleSet::fromJson(JSONDecoder::corvane().decode(expected)), set);
}

TEST(RuleSetJson, RoundTripsEveryField) {
    RuleSet set{
        7,
        {LinkRule{QUuid::createUuid(),
                  "Work",
                  RouteTarget::proxyApp("app.corvane.stub.work"),
                  false,
                  MatchMode::all,
                  {{Condition::Kind::addresses, {" a.b ", "~/x/*"}}, {Condition::Kind::apps, {"com.x"}}}},
         LinkRule{QUuid::createUuid(), "Ünïcödé", RouteTarget::browser("b"), true, MatchMode::any, {}}},
        RouteTarget::proxyApp("p"),
        RouteTarget::browser("f", true),
        false,
        {{"a", true}, {"b", false}},
        true,
        {"com.one", "com.two"}};
    const RuleSet back = RuleSet::fromJson(JSONDecoder::corvane().decode(encode(set.toJson())));
    EXPECT_EQ(back, set);
    EXPECT_EQ(qHash(back), qHash(set));
    // A lower-case identifier in an older file reads as the same rule.
    const LinkRule lower = decodeRule(
        R"({"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","target":{"kind":"browser","bundleID":"a"}})");
    EXPECT_EQ(lower.id, QUuid::fromString(QStringLiteral("{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}")));
}

TEST(RuleModel, UsableValuesTrimSpacesAndTabsButNotLineBreaks) {
    const Condition condition{Condition::Kind::addresses, {"  a b\t", "", " \t ", "\u00a0c\u2003", "d\n"}};
    EXPECT_EQ(condition.usableValues(), (QStringList{"a b", "c", "d\n"}));
    EXPECT_EQ(condition.summary(), "3 addresses");
    EXPECT_EQ((Condition{Condition::Kind::apps, {" x "}}).summary(), "1 source app");
    EXPECT_EQ((Condition{Condition::Kind::apps, {}}).summary(), "0 source apps");
    EXPECT_EQ((Condition{Condition::Kind::addresses, {"  ", ""}}).summary(), "0 addresses");
    EXPECT_TRUE((Condition{Condition::Kind::addresses, {"  ", ""}}).isEmpty());
}

TEST(RuleModel, TextAndValuesFromTextAreInverses) {
    EXPECT_EQ(Condition::valuesFromText("a.b\r\n\r\n  c d  \n\u2028e\u0085\vf\u2029"),
              (QStringList{"a.b", "c d", "e", "f"}));
    EXPECT_TRUE(Condition::valuesFromText("\n\r\n\u2029").isEmpty());
    const Condition condition{Condition::Kind::addresses, {" x ", "", "y"}};
    EXPECT_EQ(condition.text(), "x\ny");
    EXPECT_EQ(Condition::valuesFromText(condition.text()), condition.usableValues());
}

TEST(RuleModel, ConditionSummaryJoinsUsableConditionsByMatchMode) {
    LinkRule rule{.target = RouteTarget::browser("a"),
                  .conditions = {{Condition::Kind::addresses, {"a", "b"}},
                                 {Condition::Kind::addresses, {" "}},
                                 {Condition::Kind::apps, {"x"}}}};
    EXPECT_EQ(rule.usableConditions().size(), 2u);
    EXPECT_EQ(rule.conditionSummary(), "2 addresses or 1 source app");
    rule.match = MatchMode::all;
    EXPECT_EQ(rule.conditionSummary(), "2 addresses and 1 source app");
    rule.conditions.erase(rule.conditions.begin());
    EXPECT_EQ(rule.conditionSummary(), "1 source app");

    const LinkRule blank{.target = RouteTarget::browser("a"),
                         .conditions = {{Condition::Kind::addresses, {"   ", ""}}}};
    EXPECT_TRUE(blank.matchesNothing());
    EXPECT_EQ(blank.conditionSummary(), "No conditions");
}

TEST(RuleModel, RuleSetSummaryCountsEnabledRules) {
    RuleSet set;
    EXPECT_EQ(set.summary(), "No rules yet");
    set.rules.push_back(LinkRule{.target = RouteTarget::browser("a")});
    EXPECT_EQ(set.summary(), "1 rule enabled, first match wins");
    set.rules[0].isEnabled = false;
    EXPECT_EQ(set.summary(), "0 of 1 rules enabled, first match wins");
    set.rules.push_back(LinkRule{.target = RouteTarget::browser("a"), .isEnabled = false});
    set.rules.push_back(LinkRule{.target = RouteTarget::browser("a"), .isEnabled = false});
    EXPECT_EQ(set.summary(), "0 of 3 rules enabled, first match wins");
    for (LinkRule& rule : set.rules)
        rule.isEnabled = true;
    EXPECT_EQ(set.summary(), "3 rules enabled, first match wins");
    EXPECT_EQ(set.enabledRuleCount(), 3);
}

TEST(RuleModel, EnumerationTexts) {
    EXPECT_EQ(allCases<MatchMode>(), (std::array{MatchMode::any, MatchMode::all}));
    EXPECT_EQ(title(MatchMode::any), "Any Condition");
    EXPECT_EQ(title(MatchMode::all), "All Conditions");
    EXPECT_EQ(allCases<Condition::Kind>(), (std::array{Condition::Kind::addresses, Condition::Kind::apps}));
    EXPECT_EQ(title(Condition::Kind::addresses), "Addresses");
    EXPECT_EQ(title(Condition::Kind::apps), "Source Apps");
    EXPECT_EQ(noun(Condition::Kind::addresses, 1), "address");
    EXPECT_EQ(noun(Condition::Kind::apps, 2), "source apps");
}

TEST(RuleModel, IdentityIsPartOfEquality) {
    const LinkRule a{.target = RouteTarget::browser("a")};
    LinkRule b = a;
    EXPECT_EQ(a, b);
    b.id = QUuid::createUuid();
    EXPECT_NE(a, b);
    EXPECT_EQ(QSet<LinkRule>({a, a, b}).size(), 2);
}

} // namespace
