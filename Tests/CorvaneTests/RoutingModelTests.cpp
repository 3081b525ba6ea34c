#include "Corvane/Models/RoutingModel.h"
#include "Support/ModelEnvironment.h"

#include "Support/SignalCount.h"
#include <QDir>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

namespace {

RouteTarget browser(const QString& id, bool isPrivate = false) {
    return RouteTarget::browser(id, isPrivate);
}

LinkRule someRule() {
    return LinkRule{QUuid::createUuid(),
                    QStringLiteral("Rule"),
                    browser(QStringLiteral("org.mozilla.firefox")),
                    true,
                    MatchMode::any,
                    {}};
}

class RoutingModelTest : public testing::Test {
protected:
    test::ModelEnvironment environment;
    RoutingModel model;

    void writeRules(const RuleSet& set) {
        Corvane::ensureSupportDirectory();
        // A distinct modification time from any earlier write.
        QThread::msleep(5);
        Corvane::writeFileAtomically(Corvane::rulesURL(), JSONEncoder::corvane().encode(set.toJson()));
    }
};

TEST_F(RoutingModelTest, IdleRefreshAssignsOnlyTheSystemState) {
    model.load();
    test::SignalCount rules(&model, &RoutingModel::ruleSetChanged);
    test::SignalCount links(&model, &RoutingModel::recentLinksChanged);
    test::SignalCount settings(&model, &RoutingModel::settingsChanged);
    test::SignalCount system(&model, &RoutingModel::isDefaultBrowserChanged);
    model.refreshFromDisk();
    EXPECT_EQ(rules.count(), 0);
    EXPECT_EQ(links.count(), 0);
    EXPECT_EQ(settings.count(), 0);
    EXPECT_EQ(system.count(), 1);

    RuleSet edited;
    edited.rules.push_back(someRule());
    writeRules(edited);
    model.refreshFromDisk();
    EXPECT_EQ(rules.count(), 1);
    EXPECT_EQ(model.ruleSet().rules.size(), 1u);
}

TEST_F(RoutingModelTest, PollingRefreshesEveryFiveSecondsWithOneTimer) {
    model.load();
    model.startPolling();
    model.startPolling();
    test::SignalCount system(&model, &RoutingModel::isDefaultBrowserChanged);
    environment.time().advance(4.9);
    EXPECT_EQ(system.count(), 0);
    environment.time().advance(0.2);
    EXPECT_EQ(system.count(), 1);
    environment.time().advance(5.0);
    EXPECT_EQ(system.count(), 2);
}

TEST_F(RoutingModelTest, RuleEditsSaveAndOnlyValidMovesCount) {
    model.load();
    model.addRule(std::nullopt);
    EXPECT_EQ(model.errorMessage(),
              QStringLiteral("Create a proxy app first, or install another browser to send links to."));
    EXPECT_TRUE(model.ruleSet().rules.empty());

    for (int i = 0; i < 3; ++i)
        model.addRule(browser(QStringLiteral("org.mozilla.firefox")));
    EXPECT_FALSE(model.errorMessage().has_value());
    const LinkRule& added = model.ruleSet().rules.back();
    EXPECT_EQ(added.name, QStringLiteral("New Rule"));
    EXPECT_TRUE(added.isEnabled);
    EXPECT_EQ(added.match, MatchMode::any);
    EXPECT_TRUE(added.conditions.empty());
    EXPECT_EQ(RuleStore::shared().current().rules.size(), 3u);

    const std::vector<LinkRule> before = model.ruleSet().rules;
    test::SignalCount changes(&model, &RoutingModel::ruleSetChanged);
    model.moveRule(2, 2);
    model.moveRule(-1, 0);
    model.moveRule(0, 3);
    EXPECT_EQ(changes.count(), 0);
    model.moveRule(0, 2);
    EXPECT_EQ(model.ruleSet().rules, (std::vector<LinkRule>{before[1], before[2], before[0]}));
    EXPECT_EQ(RuleStore::shared().current().rules, model.ruleSet().rules);

    const LinkRule unknown = someRule();
    model.update(unknown);
    model.setEnabled(false, unknown.id);
    EXPECT_EQ(changes.count(), 1);
    model.setEnabled(false, before[0].id);
    EXPECT_FALSE(RuleStore::shared().current().rules[2].isEnabled);
}

TEST_F(RoutingModelTest, FailedSaveKeepsTheEditAndSaysWhy) {
    model.load();
    Corvane::ensureSupportDirectory();
    QDir().mkpath(Corvane::rulesURL()); // a folder where the file should go
    model.addRule(browser(QStringLiteral("org.mozilla.firefox")));
    ASSERT_TRUE(model.errorMessage().has_value());
    EXPECT_TRUE(model.errorMessage()->startsWith(QStringLiteral("Couldn't save the rules: ")));
    EXPECT_EQ(model.ruleSet().rules.size(), 1u);
    QDir(Corvane::rulesURL()).removeRecursively();

    AppSettings settings = model.settings();
    settings.disablesHelper = true;
    QDir().mkpath(Corvane::settingsURL());
    model.save(settings);
    EXPECT_TRUE(model.errorMessage()->startsWith(QStringLiteral("Couldn't save that setting: ")));
    EXPECT_FALSE(model.settings().disablesHelper);
    QDir(Corvane::settingsURL()).removeRecursively();
    model.save(settings);
    EXPECT_FALSE(model.errorMessage().has_value());
    EXPECT_TRUE(model.settings().disablesHelper);
}

TEST_F(RoutingModelTest, SavingOverAnUnreadableRulesFileKeepsIt) {
    Corvane::ensureSupportDirectory();
    Corvane::writeFileAtomically(Corvane::rulesURL(), QByteArray("{ broken"));
    model.load();
    EXPECT_TRUE(model.ruleSet().rules.empty());
    model.addRule(browser(QStringLiteral("org.mozilla.firefox")));
    QFile kept(Corvane::rulesURL() + QStringLiteral(".unreadable"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("{ broken"));
    EXPECT_EQ(RuleStore::shared().current().rules.size(), 1u);
}

TEST_F(RoutingModelTest, AddingBrowsersByHand) {
    const QString firefox = environment.workspace().addApplication(
        QStringLiteral("Firefox"), test::FakeWorkspace::browserInfo(QStringLiteral("org.mozilla.firefox")));
    const QString odd = environment.workspace().addApplication(
        QStringLiteral("Odd"), test::FakeWorkspace::info(QStringLiteral("com.example.odd")));
    const QString ours = environment.workspace().addApplication(
        QStringLiteral("Proxy"), test::FakeWorkspace::info(QStringLiteral("app.corvane.x1")));
    const QString plain = environment.workspace().root() + QStringLiteral("/Nothing");
    QDir().mkpath(plain);
    model.load();

    EXPECT_FALSE(model.addBrowser(plain));
    EXPECT_EQ(model.errorMessage(), QStringLiteral("That doesn't look like an application."));
    EXPECT_FALSE(model.addBrowser(ours));
    EXPECT_EQ(model.errorMessage(),
              QStringLiteral("That's Corvane. Routing a link to ourselves would be a loop."));
    EXPECT_FALSE(model.addBrowser(firefox));
    EXPECT_EQ(model.errorMessage(), QStringLiteral("“Firefox” is already listed."));

    const auto added = model.addBrowser(odd);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->bundleID, QStringLiteral("com.example.odd"));
    EXPECT_TRUE(model.hasHandAddedBrowsers());
    EXPECT_EQ(model.ruleSet().browserChoices.value(QStringLiteral("com.example.odd")), true);
    EXPECT_FALSE(model.addBrowser(odd));

    model.removeBrowser(*added);
    EXPECT_FALSE(model.hasHandAddedBrowsers());
    EXPECT_FALSE(model.ruleSet().browserChoices.contains(QStringLiteral("com.example.odd")));
}

TEST_F(RoutingModelTest, OfferedBrowsersFollowChoicesAndTheCurrentTarget) {
    environment.workspace().addApplication(
        QStringLiteral("Firefox"), test::FakeWorkspace::browserInfo(QStringLiteral("org.mozilla.firefox")));
    environment.workspace().addApplication(
        QStringLiteral("Lynx"), test::FakeWorkspace::browserInfo(QStringLiteral("org.lynx.browser")));
    model.load();
    auto ids = [](const std::vector<BrowserEntry>& entries) {
        QStringList list;
        for (const BrowserEntry& entry : entries)
            list << entry.bundleID;
        return list;
    };
    EXPECT_EQ(ids(model.offeredBrowsers(std::nullopt)), QStringList{QStringLiteral("org.mozilla.firefox")});

    RuleSet set = model.ruleSet();
    set.browserChoices.insert(QStringLiteral("org.mozilla.firefox"), false);
    set.browserChoices.insert(QStringLiteral("org.lynx.browser"), true);
    model.setRuleSet(set);
    EXPECT_EQ(ids(model.offeredBrowsers(std::nullopt)), QStringList{QStringLiteral("org.lynx.browser")});
    EXPECT_EQ(ids(model.offeredBrowsers(browser(QStringLiteral("org.mozilla.firefox"), true))),
              (QStringList{QStringLiteral("org.mozilla.firefox"), QStringLiteral("org.lynx.browser")}));
    EXPECT_EQ(ids(model.offeredBrowsers(RouteTarget::proxyApp(QStringLiteral("org.mozilla.firefox")))),
              QStringList{QStringLiteral("org.lynx.browser")});
}

TEST_F(RoutingModelTest, ParsingTypedLinks) {
    EXPECT_EQ(RoutingModel::parse(QStringLiteral(" example.com/a \t")),
              QUrl(QStringLiteral("https://example.com/a")));
    EXPECT_EQ(RoutingModel::parse(QStringLiteral("~/page.html")),
              QUrl::fromLocalFile(QDir::homePath() + QStringLiteral("/page.html")));
    EXPECT_EQ(RoutingModel::parse(QStringLiteral("file:///tmp/a.html")),
              QUrl(QStringLiteral("file:///tmp/a.html")));
    EXPECT_FALSE(RoutingModel::parse(QStringLiteral("   ")));
    EXPECT_FALSE(RoutingModel::parse(QStringLiteral("mailto://")));

    model.load();
    const auto decision = model.test(QStringLiteral("example.com"), std::nullopt);
    ASSERT_TRUE(decision);
    EXPECT_TRUE(decision->isFallback());
    EXPECT_FALSE(model.test(QStringLiteral(" "), std::nullopt));
}

TEST_F(RoutingModelTest, DeclinedFileTypeChangeStaysReportedAfterTheSave) {
    const QString firefox = environment.workspace().addApplication(
        QStringLiteral("Firefox"), test::FakeWorkspace::browserInfo(QStringLiteral("org.mozilla.firefox")));
    environment.workspace().addApplication(QStringLiteral("CorvaneHelper"),
                                           test::FakeWorkspace::info(Corvane::helperBundleID));
    environment.workspace().failDefaultChange(
        BrowserCatalog::FileType::svg, host::SystemError(QStringLiteral("X"), 1, QStringLiteral("nope")));
    model.load();
    test::SignalCount rules(&model, &RoutingModel::ruleSetChanged);
    model.setHandling(BrowserCatalog::FileType::svg, true);
    environment.time().runUntilIdle();
    // The rule set was saved after the refusal, and the refusal is still what the user reads.
    ASSERT_TRUE(model.errorMessage().has_value());
    EXPECT_TRUE(model.errorMessage()->startsWith(QStringLiteral("macOS declined: ")));
    EXPECT_EQ(rules.count(), 1);
    EXPECT_FALSE(model.ruleSet().handlesHTMLFiles);
}

TEST_F(RoutingModelTest, DefaultBrowserRequestReportsTheOutcome) {
    model.load();
    // No browser to hand links back to: refused at once.
    model.setDefaultBrowser(false);
    environment.time().runUntilIdle();
    EXPECT_EQ(model.errorMessage(), QStringLiteral("macOS declined: no browser available to hand links to"));
    EXPECT_FALSE(model.statusMessage().has_value() && model.isDefaultBrowser());
}

TEST_F(RoutingModelTest, UpdatingTheHelperWithoutASourceFails) {
    model.load();
    model.updateHelper();
    ASSERT_TRUE(model.errorMessage().has_value());
    EXPECT_TRUE(model.errorMessage()->startsWith(QStringLiteral("Couldn't update the helper: ")));
    EXPECT_FALSE(model.helperIsStale());
}

} // namespace
