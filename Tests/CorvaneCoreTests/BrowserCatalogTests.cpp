#include "CorvaneCore/Routing/BrowserCatalog.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/Registry.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/FakeWorkspace.h"
#include "Support/LogCapture.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <gmock/gmock.h>

using test::FakeWorkspace;
using testing::ElementsAre;

namespace {

const QString chromeID = QStringLiteral("com.google.Chrome");
const QString safariID = QStringLiteral("com.apple.Safari");
const QString refusal = QStringLiteral("refusing to route to %1: that is us");

QStringList idsOf(const std::vector<BrowserEntry>& entries) {
    QStringList ids;
    for (const BrowserEntry& entry : entries)
        ids.append(entry.bundleID);
    return ids;
}

QStringList namesOf(const std::vector<BrowserEntry>& entries) {
    QStringList names;
    for (const BrowserEntry& entry : entries)
        names.append(entry.name);
    return names;
}

class BrowserCatalogTest : public testing::Test {
protected:
    void SetUp() override {
        QFile::remove(Corvane::registryURL());
        QFile::remove(Corvane::rulesURL());
        QDir(Corvane::installedHelperURL()).removeRecursively();
        RuleStore::shared().reloadIfChanged();
    }

    QString browser(const QString& name, const QString& id, const QString& version = {}) {
        return workspace->addApplication(name, FakeWorkspace::browserInfo(id, version));
    }
    // The helper installed in the support folder, as the workspace knows it.
    QString installHelper() {
        Corvane::ensureSupportDirectory();
        const QString path = Corvane::installedHelperURL();
        QDir().mkpath(path + QStringLiteral("/Contents"));
        workspace->addApplicationAt(path, FakeWorkspace::browserInfo(Corvane::helperBundleID));
        return path;
    }

    test::VirtualTimeScope time;
    test::FakeWorkspaceScope workspace;
    test::LogCapture log;
};

TEST(BrowserCatalogIdentityTest, OursIsThePrefixWithADotOfThisOrAFormerIdentity) {
    for (const char* id :
         {"app.corvane.main", "app.corvane.helper", "app.corvane.proxy.work-profile",
          "org.brellam.ombrisk.creator", "org.brellam.ombrisk.helper", "org.brellam.tavrimo.x"}) {
        EXPECT_TRUE(BrowserCatalog::isOurs(QString::fromLatin1(id))) << id;
        EXPECT_TRUE(Corvane::isOurBundleID(QString::fromLatin1(id))) << id;
    }
    for (const char* id :
         {"app.corvane", "app.corvanes.main", "APP.CORVANE.MAIN", "org.brellam.ombriskx.helper",
          "org.brellam.tavrimo", "cx.qemt.tavrimo.work", "com.google.Chrome", ""}) {
        EXPECT_FALSE(BrowserCatalog::isOurs(QString::fromLatin1(id))) << id;
        EXPECT_FALSE(Corvane::isOurBundleID(QString::fromLatin1(id))) << id;
    }
    EXPECT_TRUE(BrowserCatalog::supportsPrivateBrowsing(QStringLiteral("com.google.chrome.for.testing")));
    EXPECT_FALSE(BrowserCatalog::supportsPrivateBrowsing(QStringLiteral("com.google.chrome")));
    EXPECT_FALSE(BrowserCatalog::supportsPrivateBrowsing(safariID));
    EXPECT_EQ(BrowserCatalog::knownBrowserIDs().size(), 27);
    EXPECT_EQ(BrowserCatalog::privateBrowsingIDs().size(), 11);
}

TEST_F(BrowserCatalogTest, ResolvesBrowserTargetsButNeverToUs) {
    const QString firefox = browser(QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"));
    installHelper();
    EXPECT_EQ(BrowserCatalog::resolve(RouteTarget::browser(QStringLiteral("org.mozilla.firefox"), true)),
              firefox);
    EXPECT_EQ(BrowserCatalog::name(RouteTarget::browser(QStringLiteral("org.mozilla.firefox"))),
              QStringLiteral("Firefox"));

    EXPECT_EQ(BrowserCatalog::resolve(RouteTarget::browser(Corvane::helperBundleID)), std::nullopt);
    EXPECT_TRUE(
        log.contains(QStringLiteral("helper"), host::LogLevel::Error, refusal.arg(Corvane::helperBundleID)));

    // The workspace still names an application whose folder is gone: nothing resolves.
    workspace->addApplicationAt(workspace->root() + QStringLiteral("/Gone.app"),
                                FakeWorkspace::browserInfo(QStringLiteral("com.example.gone")));
    EXPECT_EQ(BrowserCatalog::resolve(RouteTarget::browser(QStringLiteral("com.example.gone"))),
              std::nullopt);
    EXPECT_EQ(BrowserCatalog::name(RouteTarget::browser(QStringLiteral("com.example.unknown"))),
              std::nullopt);
}

TEST_F(BrowserCatalogTest, ResolvesProxyAppsThroughTheRegistryThenTheWorkspace) {
    // Registered, and out of the workspace's sight: found by its bookmark.
    const QString moved = QDir::homePath() + QStringLiteral("/Elsewhere/Work.app");
    QDir().mkpath(moved + QStringLiteral("/Contents"));
    ASSERT_TRUE(host::writePropertyListFile(moved + QStringLiteral("/Contents/Info.plist"),
                                            FakeWorkspace::info(QStringLiteral("app.corvane.proxy.work"))));
    RegisteredApp work;
    work.bundleID = QStringLiteral("app.corvane.proxy.work");
    work.name = QStringLiteral("Work");
    work.path = moved;
    work.config = StubConfig(QStringLiteral("Default"));
    work.createdAt = time->now();
    work.refreshBookmark();
    Registry registry;
    registry.apps.push_back(work);
    registry.save();
    EXPECT_EQ(BrowserCatalog::resolve(RouteTarget::proxyApp(work.bundleID)), moved);

    // Not registered: the workspace's answer counts when the app is on disk.
    const QString home = workspace->addApplication(
        QStringLiteral("Home"), FakeWorkspace::info(QStringLiteral("app.corvane.proxy.home")));
    EXPECT_EQ(BrowserCatalog::resolve(RouteTarget::proxyApp(QStringLiteral("app.corvane.proxy.home"))), home);

    // An unreadable registry is an empty one.
    QFile file(Corvane::registryURL());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("{");
    file.close();
    EXPECT_EQ(BrowserCatalog::resolve(RouteTarget::proxyApp(work.bundleID)), std::nullopt);
    EXPECT_EQ(BrowserCatalog::resolve(RouteTarget::proxyApp(QStringLiteral("app.corvane.proxy.home"))), home);
    EXPECT_TRUE(log.messages().isEmpty());
}

TEST_F(BrowserCatalogTest, AProxyAppTargetNamingTheHelperIsRefusedLikeABrowserOfOurs) {
    // Handing the link to the helper would bring it straight back to the helper.
    installHelper();
    for (const QString& id :
         {Corvane::helperBundleID, Corvane::previousIdentities().front().helperBundleID()}) {
        workspace->addApplication(QStringLiteral("Helper ") + id, FakeWorkspace::info(id));
        EXPECT_EQ(BrowserCatalog::resolve(RouteTarget::proxyApp(id)), std::nullopt) << id.toStdString();
        EXPECT_TRUE(log.contains(QStringLiteral("helper"), host::LogLevel::Error, refusal.arg(id)));
    }
}

TEST_F(BrowserCatalogTest, ListsInstalledBrowsersOnceEachSafariFirstAndNeverOurs) {
    browser(QStringLiteral("Browser 10"), QStringLiteral("com.example.b10"), QStringLiteral("10.0"));
    browser(QStringLiteral("Arc"), QStringLiteral("company.thebrowser.Browser"));
    browser(QStringLiteral("Safari"), safariID, QStringLiteral("18.1"));
    browser(QStringLiteral("browser 2"), QStringLiteral("com.example.b2"));
    installHelper();
    workspace->addApplication(QStringLiteral("Proxy"),
                              FakeWorkspace::browserInfo(QStringLiteral("app.corvane.p")));
    workspace->addApplication(QStringLiteral("Nameless"), FakeWorkspace::browserInfo({}));
    QVariantMap oddVersion = FakeWorkspace::browserInfo(QStringLiteral("com.example.odd"));
    oddVersion.insert(QStringLiteral("CFBundleShortVersionString"), 12);
    const QString odd = workspace->addApplication(QStringLiteral("Odd"), oddVersion);
    // The same identifier twice: the first application the workspace lists wins.
    workspace->addApplication(QStringLiteral("Odd Copy"), oddVersion);
    // A browser that does not say it opens links, found only when added by hand.
    const QString quiet = workspace->addApplication(QStringLiteral("Quiet"),
                                                    FakeWorkspace::info(QStringLiteral("com.example.quiet")));

    const auto entries = BrowserCatalog::installed({});
    EXPECT_THAT(namesOf(entries), ElementsAre("Safari", "Arc", "browser 2", "Browser 10", "Odd"));
    EXPECT_EQ(entries[0].version, QStringLiteral("18.1"));
    EXPECT_TRUE(entries[0].isKnownBrowser());
    EXPECT_EQ(entries[4],
              (BrowserEntry{QStringLiteral("com.example.odd"), QStringLiteral("Odd"), QString(), odd}));
    EXPECT_EQ(entries[4].url(), QUrl::fromLocalFile(odd));
    EXPECT_FALSE(entries[4].isKnownBrowser());

    const auto withAdded = BrowserCatalog::installed(
        {QStringLiteral("com.example.quiet"), Corvane::helperBundleID, QStringLiteral("app.corvane.p"),
         QStringLiteral("com.example.odd"), QStringLiteral("com.example.unknown")});
    EXPECT_THAT(idsOf(withAdded), ElementsAre(safariID, "company.thebrowser.Browser", "com.example.b2",
                                              "com.example.b10", "com.example.odd", "com.example.quiet"));
    EXPECT_EQ(withAdded.back().path, quiet);

    // installed() takes the additional identifiers from the stored rules.
    RuleSet set;
    set.additionalBrowserIDs = {QStringLiteral("com.example.quiet")};
    RuleStore::shared().save(set);
    EXPECT_EQ(idsOf(BrowserCatalog::installed()), idsOf(withAdded));
}

TEST_F(BrowserCatalogTest, OrderingIsStableForEqualNames) {
    const std::vector<BrowserEntry> entries{{"b.one", "Same", "", "/a/Same.app"},
                                            {"a.two", "same", "", "/b/same.app"},
                                            {safariID, "Zed", "", "/c/Zed.app"}};
    EXPECT_THAT(idsOf(BrowserCatalog::ordered(entries)), ElementsAre(safariID, "b.one", "a.two"));
}

TEST_F(BrowserCatalogTest, LastResortPrefersChromeThenSafariAmongOfferedBrowsers) {
    RuleSet set;
    EXPECT_EQ(BrowserCatalog::lastResort(set), std::nullopt);
    EXPECT_EQ(BrowserCatalog::lastResortName(set), std::nullopt);

    const QString zed = browser(QStringLiteral("Zed"), QStringLiteral("com.example.zed"));
    const QString alpha = browser(QStringLiteral("Alpha"), QStringLiteral("com.example.alpha"));
    // Only unknown browsers, no choices: the first in list order.
    EXPECT_EQ(BrowserCatalog::lastResort(set), alpha);

    const QString firefox = browser(QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"));
    EXPECT_EQ(BrowserCatalog::lastResort(set), firefox);
    const QString safari = browser(QStringLiteral("Safari"), safariID);
    const QString chrome = browser(QStringLiteral("Google Chrome"), chromeID);
    EXPECT_EQ(BrowserCatalog::lastResort(set), chrome);
    EXPECT_EQ(BrowserCatalog::lastResortName(set), QStringLiteral("Google Chrome"));

    set.browserChoices.insert(chromeID, false);
    EXPECT_EQ(BrowserCatalog::lastResort(set), safari);
    set.browserChoices.insert(safariID, false);
    EXPECT_EQ(BrowserCatalog::lastResort(set), firefox);
    set.browserChoices.insert(QStringLiteral("org.mozilla.firefox"), false);
    set.browserChoices.insert(QStringLiteral("com.example.zed"), true);
    EXPECT_EQ(BrowserCatalog::lastResort(set), zed);
    set.browserChoices.insert(QStringLiteral("com.example.zed"), false);
    // Nothing offered: the first of the list, Safari.
    EXPECT_EQ(BrowserCatalog::lastResort(set), safari);
}

TEST_F(BrowserCatalogTest, DefaultQueriesAskTheWorkspaceAboutTheHelper) {
    EXPECT_EQ(BrowserCatalog::defaultBrowserBundleID(), std::nullopt);
    EXPECT_FALSE(BrowserCatalog::isDefaultBrowser());
    const QString chrome = browser(QStringLiteral("Google Chrome"), chromeID);
    workspace->setDefaultForScheme(QStringLiteral("https"), chrome);
    EXPECT_EQ(BrowserCatalog::defaultBrowserBundleID(), chromeID);
    const QString helper = installHelper();
    workspace->setDefaultForScheme(QStringLiteral("https"), helper);
    EXPECT_TRUE(BrowserCatalog::isDefaultBrowser());

    EXPECT_FALSE(BrowserCatalog::handlesAnyFileType());
    workspace->setDefaultForContentType(BrowserCatalog::FileType::webArchive, helper);
    workspace->setDefaultForContentType(BrowserCatalog::FileType::svg, chrome);
    workspace->setDefaultForContentType(BrowserCatalog::FileType::html, helper);
    EXPECT_THAT(BrowserCatalog::handledFileTypes(),
                ElementsAre(BrowserCatalog::FileType::html, BrowserCatalog::FileType::webArchive));
    EXPECT_TRUE(BrowserCatalog::handlesAnyFileType());
    EXPECT_TRUE(BrowserCatalog::handlesHTMLFiles());
}

TEST_F(BrowserCatalogTest, WithoutAHandlerTheRequestFailsAtOnce) {
    for (bool enabled : {true, false}) {
        int calls = 0;
        BrowserCatalog::requestDefaultBrowser(enabled, [&](std::optional<host::SystemError> error) {
            ++calls;
            ASSERT_TRUE(error);
            EXPECT_EQ(error->domain(), BrowserCatalog::CatalogError::domain);
            EXPECT_EQ(error->description(), QStringLiteral("no browser available to hand links to"));
        });
        EXPECT_EQ(calls, 1) << "before returning";
        BrowserCatalog::requestHandling(
            BrowserCatalog::FileType::html, enabled,
            [&](std::optional<host::SystemError> error) { calls += error ? 1 : 100; });
        EXPECT_EQ(calls, 2);
    }
    EXPECT_TRUE(workspace->defaultChanges.empty());
}

TEST_F(BrowserCatalogTest, TakesHttpThenHttpsAndStopsAtTheFirstFailure) {
    const QString helper = installHelper();
    const QString chrome = browser(QStringLiteral("Google Chrome"), chromeID);

    std::vector<std::optional<host::SystemError>> results;
    const auto record = [&](std::optional<host::SystemError> error) { results.push_back(error); };
    BrowserCatalog::requestDefaultBrowser(true, record);
    EXPECT_TRUE(results.empty());
    time->runUntilIdle();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], std::nullopt);
    EXPECT_THAT(workspace->defaultChanges,
                ElementsAre(FakeWorkspace::DefaultChange{helper, QStringLiteral("http"), true},
                            FakeWorkspace::DefaultChange{helper, QStringLiteral("https"), true}));
    EXPECT_TRUE(BrowserCatalog::isDefaultBrowser());

    // Giving links back goes to the last resort; a refused "http" leaves "https" alone.
    workspace->defaultChanges.clear();
    const host::SystemError refused(QStringLiteral("NSOSStatusErrorDomain"), -54, QStringLiteral("refused"));
    workspace->failDefaultChange(QStringLiteral("http"), refused);
    BrowserCatalog::requestDefaultBrowser(false, record);
    time->runUntilIdle();
    ASSERT_EQ(results.size(), 2u);
    ASSERT_TRUE(results[1]);
    EXPECT_EQ(results[1]->description(), QStringLiteral("refused"));
    EXPECT_EQ(results[1]->code(), -54);
    EXPECT_THAT(workspace->defaultChanges,
                ElementsAre(FakeWorkspace::DefaultChange{chrome, QStringLiteral("http"), true}));
    EXPECT_TRUE(BrowserCatalog::isDefaultBrowser());

    BrowserCatalog::requestHandling(BrowserCatalog::FileType::svg, true, record);
    time->runUntilIdle();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[2], std::nullopt);
    EXPECT_THAT(BrowserCatalog::handledFileTypes(), ElementsAre(BrowserCatalog::FileType::svg));
}

} // namespace
