#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHelper/Shell/LinkHandler.h"
#include "Support/FakeWorkspace.h"
#include "Support/HelperDoubles.h"
#include "Support/LogCapture.h"
#include "Support/TemporaryHome.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QString firefoxID = QStringLiteral("org.mozilla.firefox");
const QString chromeID = QStringLiteral("com.google.Chrome");
const QString safariID = QStringLiteral("com.apple.Safari");
const QString mailID = QStringLiteral("com.example.Mail");

LinkRule rule(const QString& name, const QStringList& addresses, const RouteTarget& target,
              Condition::Kind kind = Condition::Kind::addresses) {
    LinkRule result{QUuid::createUuid(), name, target, true, MatchMode::any, {}};
    result.conditions = {Condition{kind, addresses}};
    return result;
}

class LinkHandlerTest : public testing::Test {
protected:
    void SetUp() override {
        Corvane::ensureSupportDirectory();
        rules = std::make_unique<RuleStore>();
        history = std::make_unique<RecentLinksStore>();
        handler = std::make_shared<LinkHandler>(*rules, *history);
        handler->onHistoryRecorded = [this] { ++recorded; };
    }

    QString addBrowser(const QString& name, const QString& id) {
        return workspace->addApplication(name, test::FakeWorkspace::browserInfo(id));
    }

    void save(const RuleSet& set) { rules->save(set); }

    void route(const QString& link, std::optional<host::RunningApplication> source = std::nullopt) {
        handler->route(QUrl(link), source);
        time->runUntilIdle();
    }

    std::vector<RecentLink> storedLinks() { return RecentLinksStore().links(); }

    test::TemporaryHome home;
    test::VirtualTimeScope time;
    test::FakeWorkspaceScope workspace;
    test::HelperHostScope hostScope;
    test::LogCapture log;
    std::unique_ptr<RuleStore> rules;
    std::unique_ptr<RecentLinksStore> history;
    std::shared_ptr<LinkHandler> handler;
    int recorded = 0;
};

const host::RunningApplication mail{4242, mailID, QStringLiteral("Mail"), QString()};

TEST_F(LinkHandlerTest, MatchedRuleWithInstalledTargetOpensThereAndIsRecorded) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), firefoxID);
    addBrowser(QStringLiteral("Safari"), safariID);
    RuleSet set;
    set.rules = {
        rule(QStringLiteral("Work"), {QStringLiteral("example.com")}, RouteTarget::browser(firefoxID))};
    save(set);

    route(QStringLiteral("https://example.com/a"), mail);

    ASSERT_EQ(workspace->opens.size(), 1u);
    EXPECT_EQ(workspace->opens[0].appPath, firefox);
    EXPECT_EQ(workspace->opens[0].urls, QList<QUrl>{QUrl(QStringLiteral("https://example.com/a"))});
    EXPECT_TRUE(workspace->opens[0].configuration.activates);
    EXPECT_FALSE(workspace->opens[0].configuration.addsToRecentItems);
    EXPECT_TRUE(log.contains(
        QStringLiteral("helper"), host::LogLevel::Info,
        QStringLiteral("routed https://example.com/a from com.example.Mail to Firefox.app via Work")));

    const auto links = storedLinks();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].url, QStringLiteral("https://example.com/a"));
    EXPECT_EQ(links[0].sourceBundleID, mailID);
    EXPECT_EQ(links[0].sourceName, QStringLiteral("Mail"));
    EXPECT_EQ(links[0].targetBundleID, firefoxID);
    EXPECT_EQ(links[0].targetName, QStringLiteral("Firefox"));
    EXPECT_EQ(links[0].ruleID, set.rules[0].id);
    EXPECT_EQ(links[0].ruleName, QStringLiteral("Work"));
    EXPECT_FALSE(links[0].targetWasMissing);
    EXPECT_EQ(recorded, 1);
}

TEST_F(LinkHandlerTest, RuleOnTheSourceApplicationChoosesItsTarget) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), firefoxID);
    addBrowser(QStringLiteral("Safari"), safariID);
    RuleSet set;
    set.rules = {
        rule(QStringLiteral("From mail"), {mailID}, RouteTarget::browser(firefoxID), Condition::Kind::apps)};
    save(set);

    route(QStringLiteral("https://news.example.org/"), mail);
    route(QStringLiteral("https://news.example.org/"));

    ASSERT_EQ(workspace->opens.size(), 2u);
    EXPECT_EQ(workspace->opens[0].appPath, firefox);
    EXPECT_NE(workspace->opens[1].appPath, firefox);
    EXPECT_TRUE(log.contains(
        QStringLiteral("routed https://news.example.org/ from unknown to Safari.app via fallback")));
}

TEST_F(LinkHandlerTest, MissingRuleTargetFallsThroughToTheFallbackAndIsMarkedMissing) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), firefoxID);
    RuleSet set;
    set.rules = {
        rule(QStringLiteral("Video"), {QStringLiteral("*.video.test")}, RouteTarget::browser(chromeID))};
    set.fallback = RouteTarget::browser(firefoxID);
    save(set);

    route(QStringLiteral("https://www.video.test/watch"));

    EXPECT_TRUE(
        log.contains(QStringLiteral("helper"), host::LogLevel::Error,
                     QStringLiteral("rule “Video” points at com.google.Chrome, which is not installed; "
                                    "falling through")));
    ASSERT_EQ(workspace->opens.size(), 1u);
    EXPECT_EQ(workspace->opens[0].appPath, firefox);
    EXPECT_TRUE(log.contains(
        QStringLiteral("routed https://www.video.test/watch from unknown to Firefox.app via Video")));
    const auto links = storedLinks();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_TRUE(links[0].targetWasMissing);
    EXPECT_EQ(links[0].ruleName, QStringLiteral("Video"));
    EXPECT_EQ(links[0].targetBundleID, firefoxID);
}

TEST_F(LinkHandlerTest, MissingTargetLineNamesTheTargetAsStoredEvenWhenEmpty) {
    addBrowser(QStringLiteral("Firefox"), firefoxID);
    RuleSet set;
    set.rules = {
        rule(QStringLiteral("Blank"), {QStringLiteral("example.com")}, RouteTarget::browser(QString()))};
    save(set);

    route(QStringLiteral("https://example.com/"));

    // The matched rule always has a target, so the line shows its identifier as it is, never a stand-in.
    EXPECT_TRUE(
        log.contains(QStringLiteral("helper"), host::LogLevel::Error,
                     QStringLiteral("rule “Blank” points at , which is not installed; falling through")));
    ASSERT_EQ(workspace->opens.size(), 1u);
}

TEST_F(LinkHandlerTest, LocalFileTargetServesFilesOnlyAndBeforeTheFallback) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), firefoxID);
    const QString safari = addBrowser(QStringLiteral("Safari"), safariID);
    RuleSet set;
    set.localFileTarget = RouteTarget::browser(firefoxID);
    set.fallback = RouteTarget::browser(safariID);
    save(set);
    const QString page = home.file(QStringLiteral("page.html"));
    QFile(page).open(QIODevice::WriteOnly);

    route(QUrl::fromLocalFile(page).toString());
    route(QStringLiteral("https://example.com/"));

    ASSERT_EQ(workspace->opens.size(), 2u);
    EXPECT_EQ(workspace->opens[0].appPath, firefox);
    EXPECT_EQ(workspace->opens[1].appPath, safari);
}

TEST_F(LinkHandlerTest, NoRuleAndNoFallbackGoesToTheLastResort) {
    addBrowser(QStringLiteral("Firefox"), firefoxID);
    const QString chrome = addBrowser(QStringLiteral("Google Chrome"), chromeID);
    save(RuleSet{});

    route(QStringLiteral("https://example.com/x?q=1"));

    ASSERT_EQ(workspace->opens.size(), 1u);
    EXPECT_EQ(workspace->opens[0].appPath, chrome);
    EXPECT_TRUE(log.contains(
        QStringLiteral("routed https://example.com/x?q=1 from unknown to Google Chrome.app via fallback")));
    const auto links = storedLinks();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_FALSE(links[0].ruleID.has_value());
    EXPECT_FALSE(links[0].ruleName.has_value());
    EXPECT_FALSE(links[0].targetWasMissing);
    EXPECT_EQ(links[0].targetName, QStringLiteral("Google Chrome"));
}

TEST_F(LinkHandlerTest, NothingToOpenWithIsLoggedAndStillRecorded) {
    save(RuleSet{});

    route(QStringLiteral("https://example.com/"));

    EXPECT_TRUE(workspace->opens.empty());
    EXPECT_TRUE(log.contains(QStringLiteral("helper"), host::LogLevel::Error,
                             QStringLiteral("no application available to open https://example.com/")));
    const auto links = storedLinks();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_TRUE(links[0].targetWasMissing);
    EXPECT_FALSE(links[0].targetBundleID.has_value());
    EXPECT_FALSE(links[0].targetName.has_value());
    EXPECT_EQ(recorded, 1);
}

TEST_F(LinkHandlerTest, HistoryOffRecordsNothingOnEveryPath) {
    addBrowser(QStringLiteral("Firefox"), firefoxID);
    RuleSet set;
    set.recordsHistory = false;
    save(set);
    route(QStringLiteral("https://example.com/"));
    workspace->removeApplication(workspace->opens.at(0).appPath);
    route(QStringLiteral("https://example.com/again"));

    EXPECT_TRUE(log.contains(QStringLiteral("no application available to open https://example.com/again")));
    EXPECT_TRUE(storedLinks().empty());
    EXPECT_FALSE(QFile::exists(Corvane::recentLinksURL()));
    EXPECT_EQ(recorded, 0);
}

TEST_F(LinkHandlerTest, PrivateTargetRunsTheScriptWithTheTargetsIdentifier) {
    const QString chrome = addBrowser(QStringLiteral("Google Chrome"), chromeID);
    RuleSet set;
    set.fallback = RouteTarget::browser(chromeID, true);
    save(set);

    route(QStringLiteral("https://bank.test/"), mail);

    EXPECT_TRUE(workspace->opens.empty());
    ASSERT_EQ(hostScope.scripts().sources.size(), 1);
    EXPECT_TRUE(hostScope.scripts().sources[0].startsWith(
        QStringLiteral("tell application id \"com.google.Chrome\"\n")));
    EXPECT_TRUE(
        log.contains(QStringLiteral("helper"), host::LogLevel::Info,
                     QStringLiteral("routed https://bank.test/ from com.example.Mail to a private window of "
                                    "com.google.Chrome via fallback")));
    const auto links = storedLinks();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_FALSE(links[0].targetWasMissing);
}

// The browser is asked for the link the user clicked, not for the parsed link's normalised text.
TEST_F(LinkHandlerTest, APrivateWindowIsAskedForTheLinkAsWritten) {
    addBrowser(QStringLiteral("Google Chrome"), chromeID);
    RuleSet set;
    set.fallback = RouteTarget::browser(chromeID, true);
    save(set);
    handler->install();
    const QString link = QStringLiteral("https://Caf%C3%A9.example/menu?day=%41%7e");

    hostScope.application().dispatch(host::AppleEvent::getURL(link, std::nullopt));
    time->runUntilIdle();

    ASSERT_EQ(hostScope.scripts().sources.size(), 1);
    EXPECT_TRUE(hostScope.scripts().sources[0].contains(
        QStringLiteral("set URL of active tab of privateWindow to \"%1\"\n").arg(link)))
        << hostScope.scripts().sources[0].toStdString();
}

TEST_F(LinkHandlerTest, PrivateWindowAfterAMissingRuleTargetIsRecordedAsMissing) {
    addBrowser(QStringLiteral("Google Chrome"), chromeID);
    RuleSet set;
    set.rules = {rule(QStringLiteral("Bank"), {QStringLiteral("bank.test")}, RouteTarget::browser(safariID))};
    set.fallback = RouteTarget::browser(chromeID, true);
    save(set);

    route(QStringLiteral("https://bank.test/"), mail);

    EXPECT_TRUE(workspace->opens.empty());
    EXPECT_TRUE(log.contains(QStringLiteral("routed https://bank.test/ from com.example.Mail to a private "
                                            "window of com.google.Chrome via Bank")));
    const auto links = storedLinks();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_TRUE(links[0].targetWasMissing);
    EXPECT_EQ(links[0].ruleName, QStringLiteral("Bank"));
}

TEST_F(LinkHandlerTest, FailedOrUncompilablePrivateScriptOpensTheSameBrowserNormally) {
    const QString chrome = addBrowser(QStringLiteral("Google Chrome"), chromeID);
    RuleSet set;
    set.fallback = RouteTarget::browser(chromeID, true);
    save(set);

    hostScope.scripts().error = QVariantMap{{host::kScriptErrorNumber, qint64(-1743)}};
    route(QStringLiteral("https://a.test/"));
    EXPECT_TRUE(log.contains(QStringLiteral("helper"), host::LogLevel::Error,
                             QStringLiteral("could not open https://a.test/ privately in com.google.Chrome: "
                                            "notPermitted — opening normally instead")));

    hostScope.scripts().compiles = false;
    route(QStringLiteral("https://b.test/"));
    EXPECT_TRUE(
        log.contains(QStringLiteral("could not open https://b.test/ privately in com.google.Chrome: "
                                    "scriptFailed(\"the script could not be compiled\") — opening normally "
                                    "instead")));

    ASSERT_EQ(workspace->opens.size(), 2u);
    EXPECT_EQ(workspace->opens[0].appPath, chrome);
    EXPECT_EQ(workspace->opens[1].appPath, chrome);
    EXPECT_EQ(workspace->opens[1].urls, QList<QUrl>{QUrl(QStringLiteral("https://b.test/"))});
}

TEST_F(LinkHandlerTest, FailedOpenRetriesWithTheLastResortButNeverTheSameApplication) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), firefoxID);
    const QString chrome = addBrowser(QStringLiteral("Google Chrome"), chromeID);
    RuleSet set;
    set.fallback = RouteTarget::browser(firefoxID);
    save(set);
    workspace->failOpens(firefox, host::SystemError(QStringLiteral("Test"), 1, QStringLiteral("it crashed")));

    route(QStringLiteral("https://example.com/"));

    EXPECT_TRUE(
        log.contains(QStringLiteral("helper"), host::LogLevel::Error,
                     QStringLiteral("could not open https://example.com/ in Firefox.app: it crashed")));
    ASSERT_EQ(workspace->opens.size(), 2u);
    EXPECT_EQ(workspace->opens[1].appPath, chrome);
    EXPECT_TRUE(workspace->opens[1].configuration.activates);
    EXPECT_EQ(storedLinks().at(0).targetBundleID, firefoxID); // the record names the application that failed

    // The last resort itself fails: it is not tried a second time.
    workspace->failOpens(chrome, host::SystemError(QStringLiteral("Test"), 2, QStringLiteral("gone")));
    set.fallback.reset();
    save(set);
    workspace->opens.clear();
    route(QStringLiteral("https://example.com/2"));
    EXPECT_EQ(workspace->opens.size(), 1u);
}

// A link as chat clients and editors hand it on (raw "|" and "{}", an escape a parsed URL would decode): the
// rule sees its decoded query, and the browser, the retry included, gets the very text that arrived.
TEST_F(LinkHandlerTest, ALinkAsDesktopProgramsSendItReachesTheRuleAndTheBrowserAsWritten) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), firefoxID);
    const QString chrome = addBrowser(QStringLiteral("Google Chrome"), chromeID);
    RuleSet set;
    set.rules = {rule(QStringLiteral("Fonts"), {QStringLiteral("fonts.example/css?family=*|*&text=~{x}")},
                      RouteTarget::browser(firefoxID))};
    save(set);
    handler->install();
    workspace->failOpens(firefox, host::SystemError(QStringLiteral("Test"), 1, QStringLiteral("it crashed")));
    const QString link = QStringLiteral("https://fonts.example/css?family=Roboto|Lato&text=%7E{x}");

    hostScope.application().dispatch(host::AppleEvent::getURL(link, std::nullopt));
    time->runUntilIdle();

    ASSERT_EQ(workspace->opens.size(), 2u);
    EXPECT_EQ(workspace->opens[0].appPath, firefox);
    EXPECT_EQ(workspace->opens[0].configuration.writtenLinks, QStringList{link});
    EXPECT_EQ(workspace->opens[1].appPath, chrome);
    EXPECT_EQ(workspace->opens[1].configuration.writtenLinks, QStringList{link});
    EXPECT_TRUE(log.contains(QStringLiteral("routed %1 from unknown to Firefox.app via Fonts").arg(link)));
    ASSERT_EQ(storedLinks().size(), 1u);
    EXPECT_EQ(storedLinks()[0].url, link);
    EXPECT_EQ(storedLinks()[0].ruleName, QStringLiteral("Fonts"));
}

TEST_F(LinkHandlerTest, SenderIsTheSendingApplicationUnlessItIsTheHelper) {
    const host::RunningApplication helper{777, Corvane::helperBundleID, QStringLiteral("CorvaneHelper"),
                                          QString()};
    workspace->addRunning(mail);
    workspace->addRunning(helper);

    EXPECT_EQ(LinkHandler::sender(host::AppleEvent::getURL(QStringLiteral("https://x.test/"), 4242)), mail);
    // The helper itself, or no sender: the frontmost application, unless that is the helper too.
    EXPECT_EQ(LinkHandler::sender(host::AppleEvent::getURL(QStringLiteral("https://x.test/"), 777)),
              std::nullopt);
    workspace->setFrontmost(mail);
    EXPECT_EQ(LinkHandler::sender(host::AppleEvent::getURL(QStringLiteral("https://x.test/"), std::nullopt)),
              mail);
    workspace->setFrontmost(helper);
    EXPECT_EQ(LinkHandler::sender(host::AppleEvent::getURL(QStringLiteral("https://x.test/"), 777)),
              std::nullopt);
}

TEST_F(LinkHandlerTest, EventHandlerRoutesOnlyAbsoluteLinksWithAScheme) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), firefoxID);
    save(RuleSet{});
    handler->install();
    EXPECT_TRUE(log.contains(QStringLiteral("registered as a URL handler")));
    auto& application = hostScope.application();

    // Each text that is refused is logged as it came, control characters escaped.
    const QStringList refused{QStringLiteral("--remote-debugging-port=9222"), QStringLiteral("relative/path"),
                              QStringLiteral(""), QStringLiteral("http://exa mple.com/"),
                              QStringLiteral("https://a.example\\@b.example/")};
    for (const QString& text : refused)
        application.dispatch(host::AppleEvent::getURL(text, std::nullopt));
    application.dispatch(host::AppleEvent::getURL(QStringLiteral("https://a.example/\nx"), std::nullopt));
    application.dispatch(
        host::AppleEvent{host::kURLEventClass, host::kURLEventID, std::nullopt, {}, std::nullopt});
    time->runUntilIdle();
    EXPECT_TRUE(workspace->opens.empty());
    for (const QString& text : refused)
        EXPECT_EQ(log.count(QStringLiteral("a GURL event carried no usable URL: \"%1\"").arg(text)), 1)
            << text.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("a GURL event carried no usable URL: \"https://a.example/\\nx\"")), 1);
    EXPECT_EQ(log.count(QStringLiteral("a GURL event carried no usable URL")), 1);

    application.dispatch(host::AppleEvent::getURL(QStringLiteral("https://example.com/ok"), std::nullopt));
    time->runUntilIdle();
    ASSERT_EQ(workspace->opens.size(), 1u);
    EXPECT_EQ(workspace->opens[0].appPath, firefox);
}

TEST_F(LinkHandlerTest, AnEscapedHostIsRoutedAndComparedAsWrittenLikeItsRecord) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), firefoxID);
    const QString chrome = addBrowser(QStringLiteral("Google Chrome"), chromeID);
    RuleSet set;
    set.fallback = RouteTarget::browser(firefoxID);
    save(set);
    handler->install();
    auto& application = hostScope.application();
    const QString link = QStringLiteral("https://Caf%C3%A9.example/menu?day=1");

    // No rule yet: the fallback opens it, and the record shows the link as written.
    application.dispatch(host::AppleEvent::getURL(link, std::nullopt));
    time->runUntilIdle();
    ASSERT_EQ(workspace->opens.size(), 1u);
    EXPECT_EQ(workspace->opens[0].appPath, firefox);
    EXPECT_TRUE(log.contains(QStringLiteral("routed %1 from unknown to Firefox.app via fallback").arg(link)));
    EXPECT_EQ(workspace->opens[0].configuration.writtenLinks, QStringList{link});
    const auto links = storedLinks();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].url, link);
    EXPECT_EQ(links[0].displayHost(), QStringLiteral("Caf%C3%A9.example"));

    // A rule made from that record takes the very same link.
    set.rules = {rule(QStringLiteral("Café"), {links[0].displayHost()}, RouteTarget::browser(chromeID))};
    save(set);
    application.dispatch(host::AppleEvent::getURL(link, std::nullopt));
    time->runUntilIdle();
    ASSERT_EQ(workspace->opens.size(), 2u);
    EXPECT_EQ(workspace->opens[1].appPath, chrome);

    // A broken escape, or a space, in the host still makes no usable link.
    for (const QString& text :
         {QStringLiteral("https://caf%C3%G9.example/"), QStringLiteral("https://caf%C3.example/"),
          QStringLiteral("https://caf%C3%A9 x.example/")})
        application.dispatch(host::AppleEvent::getURL(text, std::nullopt));
    time->runUntilIdle();
    EXPECT_EQ(log.messages(QStringLiteral("helper")).filter(QStringLiteral("carried no usable URL")).size(),
              3);
    EXPECT_EQ(workspace->opens.size(), 2u);
}

TEST_F(LinkHandlerTest, EditedRulesApplyToTheNextLink) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), firefoxID);
    const QString safari = addBrowser(QStringLiteral("Safari"), safariID);
    save(RuleSet{});
    route(QStringLiteral("https://example.com/"));

    RuleSet edited;
    edited.rules = {rule(QStringLiteral("All"), {QStringLiteral("*")}, RouteTarget::browser(firefoxID))};
    RuleStore().save(edited); // another process's store writes the file
    route(QStringLiteral("https://example.com/"));

    ASSERT_EQ(workspace->opens.size(), 2u);
    EXPECT_EQ(workspace->opens[0].appPath, safari);
    EXPECT_EQ(workspace->opens[1].appPath, firefox);
}

} // namespace

namespace {

TEST_F(LinkHandlerTest, AHistoryThatCannotBeWrittenDoesNotStopTheLink) {
    const QString firefox = addBrowser(QStringLiteral("Firefox"), firefoxID);
    save(RuleSet{});
    // A folder where the history file belongs: every write of it fails.
    ASSERT_TRUE(QDir().mkpath(Corvane::recentLinksURL() + QStringLiteral("/blocked")));

    route(QStringLiteral("https://example.com/"));

    ASSERT_EQ(workspace->opens.size(), 1u);
    EXPECT_EQ(workspace->opens[0].appPath, firefox);
    EXPECT_TRUE(
        log.contains(QStringLiteral("routed https://example.com/ from unknown to Firefox.app via fallback")));
}

} // namespace
