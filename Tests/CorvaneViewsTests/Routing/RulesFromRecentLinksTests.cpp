// Rules written from a recent link: which actions a link offers, the rule a new one becomes, and how a
// link's host joins an existing rule.
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Routing/RulesFromRecentLinks.h"
#include "Support/AppModelFixture.h"

#include <QDir>

namespace {

RecentLink linkTo(const QString& url, std::optional<QString> target = QStringLiteral("org.mozilla.firefox"),
                  std::optional<QUuid> ruleID = std::nullopt) {
    RecentLink link;
    link.id = QUuid::createUuid();
    link.url = url;
    link.targetBundleID = std::move(target);
    link.ruleID = ruleID;
    return link;
}

LinkRule ruleWith(const QString& name, std::vector<Condition> conditions) {
    return LinkRule{QUuid::createUuid(),
                    name,
                    RouteTarget::browser(QStringLiteral("org.mozilla.firefox")),
                    true,
                    MatchMode::all,
                    std::move(conditions)};
}

class RulesFromRecentLinksTest : public test::AppModelFixture {
protected:
    RoutingModel routing;
    std::vector<LinkRule> edited;
    std::unique_ptr<RulesFromRecentLinks> actions;

    void SetUp() override {
        AppModelFixture::SetUp();
        routing.load();
        actions = std::make_unique<RulesFromRecentLinks>(
            *model, routing, [this](const LinkRule& rule) { edited.push_back(rule); });
    }

    void setRules(std::vector<LinkRule> rules) {
        RuleSet set = routing.ruleSet();
        set.rules = std::move(rules);
        routing.setRuleSet(set);
        routing.save();
    }

    void loadApps() {
        installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
        installApp(QStringLiteral("Home"), QStringLiteral("app.corvane.home"));
        model->load();
        ASSERT_EQ(model->apps().size(), 2u);
    }
};

TEST_F(RulesFromRecentLinksTest, TheHostIsTheLinkTextsOwn) {
    using Actions = RulesFromRecentLinks;
    EXPECT_EQ(Actions::host(QStringLiteral("https://Docs.Example.com:8443/a?b#c")),
              QStringLiteral("Docs.Example.com"));
    EXPECT_EQ(Actions::host(QStringLiteral("https://user@ex%41mple.com/")), QStringLiteral("ex%41mple.com"));
    EXPECT_EQ(Actions::host(QStringLiteral("http://[::1]:8080/")), QStringLiteral("::1"));
    EXPECT_FALSE(Actions::host(QStringLiteral("not a link at all")).has_value());
    EXPECT_FALSE(Actions::host(QStringLiteral("mailto:someone@example.com")).has_value());
    EXPECT_FALSE(Actions::host(QStringLiteral("file:///Users/me/page.html")).has_value());
}

TEST_F(RulesFromRecentLinksTest, MenusOfferTheMatchedRuleOnlyWhileItExists) {
    const LinkRule docs = ruleWith(QStringLiteral("Docs now"), {});
    const LinkRule off = [] {
        LinkRule rule = ruleWith(QStringLiteral("Switched off"), {});
        rule.isEnabled = false;
        return rule;
    }();

    // No rules at all: no "Add to Rule".
    EXPECT_EQ(entryTitles(actions->ruleActions(linkTo(QStringLiteral("https://a.example/")))),
              (std::vector<QString>{QStringLiteral("New Rule from This Link…")}));

    setRules({docs, off});
    RecentLink matched =
        linkTo(QStringLiteral("https://docs.example.com/x"), QStringLiteral("org.mozilla.firefox"), docs.id);
    matched.ruleName = QStringLiteral("Docs then");
    const std::vector<MenuEntry> entries = actions->ruleActions(matched);
    EXPECT_EQ(
        entryTitles(entries),
        (std::vector<QString>{QStringLiteral("Edit “Docs now”…"), QStringLiteral("-"),
                              QStringLiteral("New Rule from This Link…"), QStringLiteral("Add to Rule")}));
    EXPECT_EQ(entryTitles(entries.back().children),
              (std::vector<QString>{QStringLiteral("Docs now"), QStringLiteral("Switched off")}));
    entries.front().action();
    ASSERT_EQ(edited.size(), 1u);
    EXPECT_EQ(edited.front().id, docs.id);

    // The rule was deleted since, and a fallback link never had one.
    const RecentLink orphan = linkTo(QStringLiteral("https://x.example/"), std::nullopt, QUuid::createUuid());
    EXPECT_EQ(entryTitles(actions->ruleActions(orphan)).front(), QStringLiteral("New Rule from This Link…"));
    EXPECT_EQ(entryTitles(actions->ruleActions(linkTo(QStringLiteral("https://y.example/")))).front(),
              QStringLiteral("New Rule from This Link…"));
}

TEST_F(RulesFromRecentLinksTest, NewRuleTargetsWhereTheLinkWentAndIsSavedBeforeTheEditorOpens) {
    loadApps();
    setRules({ruleWith(QStringLiteral("First"), {})});

    actions->newRule(
        linkTo(QStringLiteral("https://news.example.org/today"), QStringLiteral("com.google.Chrome")));
    ASSERT_EQ(routing.ruleSet().rules.size(), 2u);
    const LinkRule made = routing.ruleSet().rules.back();
    EXPECT_EQ(made.name, QStringLiteral("news.example.org"));
    EXPECT_EQ(made.target, RouteTarget::browser(QStringLiteral("com.google.Chrome"), false));
    EXPECT_TRUE(made.isEnabled);
    EXPECT_EQ(made.match, MatchMode::any);
    EXPECT_EQ(made.conditions,
              (std::vector<Condition>{{Condition::Kind::addresses, {QStringLiteral("news.example.org")}}}));
    EXPECT_EQ(RuleStore::shared().current().rules, routing.ruleSet().rules);
    ASSERT_EQ(edited.size(), 1u);
    EXPECT_EQ(edited.front(), made);

    actions->newRule(linkTo(QStringLiteral("https://mail.example.org/"), QStringLiteral("app.corvane.home")));
    EXPECT_EQ(routing.ruleSet().rules.back().target,
              RouteTarget::proxyApp(QStringLiteral("app.corvane.home")));

    // Nobody took the link: the first registered proxy app.
    actions->newRule(linkTo(QStringLiteral("https://lost.example.org/"), std::nullopt));
    EXPECT_EQ(routing.ruleSet().rules.back().target, RouteTarget::proxyApp(model->apps().front().bundleID));

    // No host: nothing happens and nothing is said.
    actions->newRule(linkTo(QStringLiteral("just words")));
    EXPECT_EQ(routing.ruleSet().rules.size(), 4u);
    EXPECT_FALSE(routing.errorMessage().has_value());
    EXPECT_EQ(edited.size(), 3u);
}

TEST_F(RulesFromRecentLinksTest, NewRuleWithoutAnyTargetIsRefused) {
    actions->newRule(linkTo(QStringLiteral("https://lost.example.org/"), std::nullopt));
    EXPECT_TRUE(routing.ruleSet().rules.empty());
    EXPECT_TRUE(RuleStore::shared().current().rules.empty());
    EXPECT_EQ(routing.errorMessage(),
              QStringLiteral("Create a proxy app first, or install another browser."));
    EXPECT_TRUE(edited.empty());
}

TEST_F(RulesFromRecentLinksTest, AddingAHostThatTheRuleAlreadyListsChangesNothing) {
    const LinkRule listed =
        ruleWith(QStringLiteral("Listed"),
                 {{Condition::Kind::apps, {QStringLiteral("docs.example.com")}},
                  {Condition::Kind::addresses,
                   {QStringLiteral("*.example.com"), QStringLiteral(" \tDOCS.example.COM ")}}});
    setRules({listed});
    const QByteArray before = [] {
        QFile file(Corvane::rulesURL());
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    actions->add(linkTo(QStringLiteral("https://docs.example.com/page")), listed);
    EXPECT_EQ(routing.statusMessage(), QStringLiteral("“Listed” already covers docs.example.com."));
    EXPECT_EQ(routing.ruleSet().rules.front(), listed);
    QFile after(Corvane::rulesURL());
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);
}

TEST_F(RulesFromRecentLinksTest, AddingAHostGoesToTheFirstAddressConditionOrANewOne) {
    const LinkRule twoLists =
        ruleWith(QStringLiteral("Two lists"), {{Condition::Kind::apps, {QStringLiteral("com.apple.mail")}},
                                               {Condition::Kind::addresses, {QStringLiteral("a.example")}},
                                               {Condition::Kind::addresses, {QStringLiteral("b.example")}}});
    const LinkRule appsOnly =
        ruleWith(QStringLiteral("Apps only"), {{Condition::Kind::apps, {QStringLiteral("com.apple.mail")}}});
    setRules({twoLists, appsOnly});

    actions->add(linkTo(QStringLiteral("https://c.example/x")), twoLists);
    const LinkRule& grown = routing.ruleSet().rules[0];
    EXPECT_EQ(grown.conditions[1].values,
              (QStringList{QStringLiteral("a.example"), QStringLiteral("c.example")}));
    EXPECT_EQ(grown.conditions[2].values, QStringList{QStringLiteral("b.example")});
    EXPECT_EQ(grown.match, MatchMode::all);
    EXPECT_EQ(routing.statusMessage(), QStringLiteral("Added c.example to “Two lists”."));

    actions->add(linkTo(QStringLiteral("https://c.example/x")), appsOnly);
    const LinkRule& extended = routing.ruleSet().rules[1];
    ASSERT_EQ(extended.conditions.size(), 2u);
    EXPECT_EQ(extended.conditions[1], (Condition{Condition::Kind::addresses, {QStringLiteral("c.example")}}));
    EXPECT_EQ(RuleStore::shared().current().rules, routing.ruleSet().rules);
}

TEST_F(RulesFromRecentLinksTest, AddingWorksOnTheRuleAsItIsNowAndReportsAFailedSave) {
    const LinkRule rule = ruleWith(QStringLiteral("Old name"), {{Condition::Kind::addresses, {}}});
    setRules({rule});
    LinkRule renamed = rule;
    renamed.name = QStringLiteral("New name");
    routing.update(renamed);

    // A folder where the file should go.
    QFile::remove(Corvane::rulesURL());
    QDir().mkpath(Corvane::rulesURL());
    // The menu's older copy of the rule.
    actions->add(linkTo(QStringLiteral("https://d.example/")), rule);
    EXPECT_EQ(routing.ruleSet().rules.front().name, QStringLiteral("New name"));
    EXPECT_EQ(routing.ruleSet().rules.front().conditions.front().values,
              QStringList{QStringLiteral("d.example")});
    ASSERT_TRUE(routing.errorMessage().has_value());
    EXPECT_TRUE(routing.errorMessage()->startsWith(QStringLiteral("Couldn't save the rules: ")));
    QDir(Corvane::rulesURL()).removeRecursively();

    // A rule deleted meanwhile gets nothing and no word of success.
    routing.setStatusMessage(std::nullopt);
    setRules({});
    actions->add(linkTo(QStringLiteral("https://e.example/")), rule);
    EXPECT_TRUE(routing.ruleSet().rules.empty());
    EXPECT_FALSE(routing.statusMessage().has_value());
}

} // namespace
