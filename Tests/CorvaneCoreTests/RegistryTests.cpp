#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/Registry.h"
#include "CorvaneCore/ProxyApps/StubRevision.h"
#include "CorvaneHost/Bookmark.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/FakeWorkspace.h"
#include "Support/TemporaryHome.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

const QDateTime earlier(QDate(2025, 6, 1), QTime(8, 0, 0), QTimeZone::utc());

class RegistryTest : public ::testing::Test {
protected:
    // Lays out a proxy app: Info.plist with the given keys and, unless told otherwise, the launcher
    // executable.
    QString makeApp(const QString& folder, const QString& name, QVariantMap info, bool withLauncher = true) {
        const QString path = folder + "/" + name + ".app";
        QDir().mkpath(path + "/Contents/MacOS");
        EXPECT_TRUE(host::writePropertyListFile(path + "/Contents/Info.plist", info));
        if (withLauncher) {
            QFile launcher(path + "/Contents/MacOS/CorvaneStub");
            EXPECT_TRUE(launcher.open(QIODevice::WriteOnly));
        }
        return path;
    }
    static QVariantMap proxyInfo(const QString& bundleID, const QString& profile = "Default",
                                 std::optional<int> revision = StubRevision::current) {
        QVariantMap info{{"CFBundleIdentifier", bundleID}, {"CVNProfileDirectory", profile}};
        if (revision)
            info.insert("CVNStubRevision", *revision);
        return info;
    }
    static RegisteredApp entry(const QString& bundleID, const QString& path,
                               std::optional<int> revision = 7) {
        RegisteredApp app;
        app.bundleID = bundleID;
        app.name = QFileInfo(path).completeBaseName();
        app.path = path;
        app.config = StubConfig("Default");
        app.createdAt = earlier;
        app.stubRevision = revision;
        return app;
    }
    QString userApplications() const { return home.file("Applications"); }

    test::TemporaryHome home;
    test::VirtualTimeScope time;
    test::FakeWorkspaceScope workspace;
};

void writeRegistryFile(const QByteArray& bytes) {
    Corvane::ensureSupportDirectory();
    QFile file(Corvane::registryURL());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(RegistryTest, LoadWithoutAFileIsAnEmptyFirstVersion) {
    const Registry registry = Registry::load();
    EXPECT_EQ(registry.version, 1);
    EXPECT_TRUE(registry.apps.empty());
}

TEST_F(RegistryTest, SaveWritesTheSharedFormAndLoadReadsItBack) {
    Registry registry;
    registry.version = 3;
    RegisteredApp bare = entry("app.corvane.0123456789ab", "/Users/me/Applications/Work.app", std::nullopt);
    registry.apps.push_back(bare);
    registry.save();
    EXPECT_EQ(readFile(Corvane::registryURL()),
              QByteArray("{\n"
                         "  \"apps\" : [\n"
                         "    {\n"
                         "      \"bundleID\" : \"app.corvane.0123456789ab\",\n"
                         "      \"config\" : {\n"
                         "        \"badgeColorHex\" : \"#1F2124\",\n"
                         "        \"closeOnQuit\" : false,\n"
                         "        \"countAppWindows\" : false,\n"
                         "        \"iconStyle\" : \"segments\",\n"
                         "        \"includeIncognito\" : true,\n"
                         "        \"ownWindow\" : true,\n"
                         "        \"profileDirectory\" : \"Default\",\n"
                         "        \"profileName\" : \"\",\n"
                         "        \"symbolName\" : \"globe\",\n"
                         "        \"symbolStyle\" : \"auto\"\n"
                         "      },\n"
                         "      \"createdAt\" : \"2025-06-01T08:00:00Z\",\n"
                         "      \"isMissing\" : false,\n"
                         "      \"name\" : \"Work\",\n"
                         "      \"path\" : \"\\/Users\\/me\\/Applications\\/Work.app\"\n"
                         "    }\n"
                         "  ],\n"
                         "  \"version\" : 3\n"
                         "}"));
    EXPECT_EQ(Registry::load(), registry);

    RegisteredApp full = bare;
    full.bundleID = "app.corvane.ba9876543210";
    full.stubRevision = 5;
    full.bookmark = QByteArray("\x00\x01 bookmark bytes", 17);
    full.isMissing = true;
    registry.apps.push_back(full);
    registry.save();
    const QJsonObject saved = QJsonDocument::fromJson(readFile(Corvane::registryURL())).object();
    EXPECT_EQ(saved["apps"].toArray()[1].toObject()["bookmark"].toString(),
              QString(full.bookmark->toBase64()));
    EXPECT_EQ(saved["apps"].toArray()[1].toObject()["stubRevision"].toInt(), 5);
    EXPECT_EQ(Registry::load(), registry);
}

TEST_F(RegistryTest, MissingOptionalKeysTakeTheirDefaults) {
    writeRegistryFile(
        R"({"version":1,"apps":[{"bundleID":"app.corvane.x","config":{"profileDirectory":"D"}}]})");
    const Registry registry = Registry::load();
    ASSERT_EQ(registry.apps.size(), 1u);
    const RegisteredApp& app = registry.apps[0];
    EXPECT_EQ(app.name, "");
    EXPECT_EQ(app.path, "");
    EXPECT_EQ(app.createdAt, time->now());
    EXPECT_FALSE(app.isMissing);
    EXPECT_EQ(app.stubRevision, std::nullopt);
    EXPECT_EQ(app.bookmark, std::nullopt);
}

TEST_F(RegistryTest, AMissingOrMistypedRequiredKeyEmptiesTheWholeRegistry) {
    const char* good = R"({"bundleID":"app.corvane.good","config":{"profileDirectory":"D"}})";
    for (const char* bad : {
             R"({"bundleID":"app.corvane.x"})",
             R"({"config":{"profileDirectory":"D"}})",
             R"({"bundleID":7,"config":{"profileDirectory":"D"}})",
             R"({"bundleID":"app.corvane.x","config":{"profileDirectory":"D","iconStyle":"hexagon"}})",
             R"({"bundleID":"app.corvane.x","config":{"profileDirectory":"D"},"stubRevision":"7"})",
             R"({"bundleID":"app.corvane.x","config":{"profileDirectory":"D"},"stubRevision":7.5})",
             R"({"bundleID":"app.corvane.x","config":{"profileDirectory":"D"},"createdAt":"yesterday"})",
             R"({"bundleID":"app.corvane.x","config":{"profileDirectory":"D"},"bookmark":"***"})",
             R"({"bundleID":"app.corvane.x","config":{"profileDirectory":"D"},"isMissing":1})",
         }) {
        writeRegistryFile(QByteArray(R"({"version":1,"apps":[)") + good + "," + bad + "]}");
        const Registry registry = Registry::load();
        EXPECT_TRUE(registry.apps.empty()) << bad;
        EXPECT_EQ(registry.version, 1);
    }
    for (const char* top :
         {R"({"apps":[]})", R"({"version":2})", R"({"version":"2","apps":[]})", "[]", "{"}) {
        writeRegistryFile(top);
        EXPECT_EQ(Registry::load(), Registry()) << top;
    }
    writeRegistryFile(QByteArray(R"({"version":2,"extra":true,"apps":[)") + good + "]}");
    EXPECT_EQ(Registry::load().version, 2);
}

TEST_F(RegistryTest, SavingOverAnUnreadableFileKeepsItAside) {
    writeRegistryFile(R"({"version":1,"apps":[{"bundleID":"app.corvane.x"}]})");
    Registry registry = Registry::load();
    EXPECT_TRUE(registry.apps.empty());
    registry.save();
    EXPECT_EQ(readFile(Corvane::registryURL() + ".unreadable"),
              QByteArray(R"({"version":1,"apps":[{"bundleID":"app.corvane.x"}]})"));
    QFile::remove(Corvane::registryURL() + ".unreadable");
    registry.save();
    EXPECT_FALSE(QFile::exists(Corvane::registryURL() + ".unreadable"));
}

TEST_F(RegistryTest, SaveThrowsWhenTheSupportFolderCannotBeMade) {
    QDir().mkpath(home.file("Library/Application Support"));
    QFile blocker(Corvane::supportDirectory());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_THROW(Registry().save(), host::Error);
}

TEST_F(RegistryTest, UpsertReplacesInPlaceOrAppendsAndRemoveTakesEveryCopy) {
    Registry registry;
    registry.upsert(entry("app.corvane.b", "/x/B.app"));
    registry.upsert(entry("app.corvane.a", "/x/A.app"));
    RegisteredApp renamed = entry("app.corvane.b", "/x/Bee.app");
    registry.upsert(renamed);
    ASSERT_EQ(registry.apps.size(), 2u);
    EXPECT_EQ(registry.apps[0], renamed);
    EXPECT_EQ(registry.apps[1].bundleID, "app.corvane.a");

    registry.apps.push_back(entry("app.corvane.b", "/y/B.app"));
    registry.remove("app.corvane.b");
    ASSERT_EQ(registry.apps.size(), 1u);
    EXPECT_EQ(registry.apps[0].bundleID, "app.corvane.a");
}

TEST_F(RegistryTest, SearchDirectoriesAddEachRegisteredFolderOnceAfterTheStandardOnes) {
    Registry registry;
    registry.apps.push_back(entry("app.corvane.a", "/Volumes/Apps/A.app"));
    registry.apps.push_back(entry("app.corvane.b", "/Volumes/Apps/./B.app"));
    registry.apps.push_back(entry("app.corvane.c", userApplications() + "/C.app"));
    registry.apps.push_back(entry("app.corvane.d", "/Applications/D.app"));
    registry.apps.push_back(entry("app.corvane.e", "/Volumes/Other/E.app"));
    EXPECT_EQ(registry.searchDirectories(),
              QStringList({userApplications(), "/Applications", "/Volumes/Apps", "/Volumes/Other"}));
}

TEST_F(RegistryTest, AnEntryWithoutAPathAddsNoFolderAndTheRescanKeepsItMissing) {
    // Run from a folder that holds a proxy app: an empty path must not make the rescan look there.
    const QString workingFolder = home.file("cwd");
    makeApp(workingFolder, "Stray", proxyInfo("app.corvane.stray"));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(workingFolder));
    Registry registry;
    registry.apps.push_back(entry("app.corvane.nopath", ""));
    EXPECT_EQ(registry.searchDirectories(), Registry::standardSearchDirectories());
    registry.rescan();
    QDir::setCurrent(previous);
    ASSERT_EQ(registry.apps.size(), 1u);
    EXPECT_EQ(registry.apps[0].bundleID, "app.corvane.nopath");
    EXPECT_TRUE(registry.apps[0].isMissing);
}

TEST_F(RegistryTest, AnEntryMadeWithoutADateIsStampedWhenMadeAndSurvivesALoad) {
    time->advance(90);
    RegisteredApp app;
    app.bundleID = "app.corvane.fresh";
    app.config = StubConfig("Default");
    EXPECT_EQ(app.createdAt, time->now());
    Registry registry;
    registry.apps.push_back(app);
    registry.save();
    const Registry loaded = Registry::load();
    ASSERT_EQ(loaded.apps.size(), 1u);
    EXPECT_EQ(loaded.apps[0].createdAt.toSecsSinceEpoch(), time->now().toSecsSinceEpoch());

    // A date made invalid later is refused rather than written in a form the next load rejects.
    registry.apps[0].createdAt = QDateTime();
    EXPECT_THROW(registry.save(), host::Error);
    EXPECT_EQ(Registry::load().apps.size(), 1u);
}

TEST_F(RegistryTest, RescanListsProxyAppsKeepingTheirCreationDate) {
    const QString work =
        makeApp(userApplications(), "Work", proxyInfo("app.corvane.0123456789ab", "Profile 1"));
    makeApp(userApplications(), "Legacy",
            QVariantMap{{"CFBundleIdentifier", "org.brellam.tavrimo.legacy1"},
                        {"TVRProfileDirectory", "Profile 2"},
                        {"TVRTabGroupName", "Reading"}},
            false);
    makeApp(userApplications(), "Editor", QVariantMap{{"CFBundleIdentifier", "com.example.editor"}});
    makeApp(userApplications(), "Foreign", proxyInfo("com.example.proxy"));
    makeApp(userApplications(), ".Hidden", proxyInfo("app.corvane.hidden"));
    QDir().mkpath(userApplications() + "/Nested");
    makeApp(userApplications() + "/Nested", "Deep", proxyInfo("app.corvane.deep"));
    QFile notABundle(userApplications() + "/Broken.app");
    ASSERT_TRUE(notABundle.open(QIODevice::WriteOnly));
    notABundle.close();

    Registry registry;
    registry.version = 4;
    registry.apps.push_back(entry("app.corvane.0123456789ab", "/somewhere/Old.app"));
    registry.rescan();

    EXPECT_EQ(registry.version, 4);
    ASSERT_EQ(registry.apps.size(), 2u);
    const RegisteredApp& legacy = registry.apps[0];
    EXPECT_EQ(legacy.name, "Legacy");
    EXPECT_EQ(legacy.bundleID, "org.brellam.tavrimo.legacy1");
    EXPECT_EQ(legacy.config.profileDirectory, "Profile 2");
    EXPECT_EQ(legacy.config.tabGroupName, QString("Reading"));
    EXPECT_EQ(legacy.stubRevision, std::nullopt);
    EXPECT_EQ(legacy.createdAt, time->now());
    EXPECT_TRUE(legacy.needsRebuildAfterRename());

    const RegisteredApp& found = registry.apps[1];
    EXPECT_EQ(found.name, "Work");
    EXPECT_EQ(found.path, work);
    EXPECT_EQ(found.config.profileDirectory, "Profile 1");
    EXPECT_EQ(found.createdAt, earlier);
    EXPECT_EQ(found.stubRevision, 7);
    EXPECT_FALSE(found.isMissing);
    ASSERT_TRUE(found.bookmark.has_value());
    EXPECT_EQ(host::Bookmark::resolve(*found.bookmark), work);
}

TEST_F(RegistryTest, RescanFindsMovedAppsThroughTheirBookmarkOrTheWorkspaceAndFlagsTheRest) {
    // Moved and renamed while the registry still holds its old place; the bookmark was taken at the new one.
    const QString moved = makeApp(home.file("Elsewhere"), "Work Renamed", proxyInfo("app.corvane.moved"));
    RegisteredApp byBookmark = entry("app.corvane.moved", home.file("Old/Work.app"), 3);
    byBookmark.bookmark = host::Bookmark::create(moved);

    const QString known = makeApp(home.file("Known"), "Known", proxyInfo("app.corvane.known"));
    workspace->addApplicationAt(known, proxyInfo("app.corvane.known"));
    RegisteredApp byWorkspace = entry("app.corvane.known", home.file("Gone/Known.app"));

    RegisteredApp lost = entry("app.corvane.lost", home.file("Gone/Lost.app"), 5);
    lost.bookmark = QByteArray("stale");

    Registry registry;
    registry.apps = {lost, byWorkspace, byBookmark};
    registry.rescan();
    ASSERT_EQ(registry.apps.size(), 3u);

    EXPECT_EQ(registry.apps[0].name, "Known");
    EXPECT_EQ(registry.apps[0].path, known);
    EXPECT_FALSE(registry.apps[0].isMissing);
    EXPECT_TRUE(registry.apps[0].bookmark.has_value());

    RegisteredApp expectedLost = lost;
    expectedLost.isMissing = true;
    EXPECT_EQ(registry.apps[1], expectedLost);

    const RegisteredApp& relocated = registry.apps[2];
    EXPECT_EQ(relocated.name, "Work Renamed");
    EXPECT_EQ(relocated.path, moved);
    EXPECT_FALSE(relocated.isMissing);
    EXPECT_EQ(relocated.stubRevision, 3); // kept from the entry, not read from the disk
    EXPECT_EQ(relocated.config, byBookmark.config);
}

// The bookmark was made where the app was built; the user then moved the app out of every search folder.
TEST_F(RegistryTest, AnAppMovedOutOfTheSearchFoldersIsFoundByItsBookmark) {
    const QString built = makeApp(userApplications(), "Work", proxyInfo("app.corvane.work"));
    RegisteredApp app = entry("app.corvane.work", built);
    app.refreshBookmark();
    QDir().mkpath(home.file("Documents/Tools"));
    const QString moved = home.file("Documents/Tools/Work.app");
    ASSERT_TRUE(QDir().rename(built, moved));

    Registry registry;
    registry.apps = {app};
    registry.rescan();
    ASSERT_EQ(registry.apps.size(), 1u);
    EXPECT_EQ(registry.apps[0].path, moved);
    EXPECT_FALSE(registry.apps[0].isMissing);
    ASSERT_TRUE(registry.apps[0].bookmark.has_value());
    bool stale = true;
    EXPECT_EQ(host::Bookmark::resolve(*registry.apps[0].bookmark, &stale), moved);
    EXPECT_FALSE(stale) << "the rescan keeps a fresh bookmark";
}

TEST_F(RegistryTest, ResolvePrefersTheBookmarkAndIgnoresTheStoredPath) {
    const QString here = makeApp(home.file("Here"), "A", proxyInfo("app.corvane.a"));
    RegisteredApp app = entry("app.corvane.a", here);
    EXPECT_EQ(Registry::resolve(app), std::nullopt); // no bookmark, unknown to the workspace

    app.refreshBookmark();
    EXPECT_EQ(Registry::resolve(app), here);

    const QString there = makeApp(home.file("There"), "A", proxyInfo("app.corvane.a"));
    workspace->addApplicationAt(there, proxyInfo("app.corvane.a"));
    EXPECT_EQ(Registry::resolve(app), here);
    QDir(here).removeRecursively();
    EXPECT_EQ(Registry::resolve(app), there);

    workspace->addApplicationAt(home.file("Nowhere/A.app"), proxyInfo("app.corvane.a")); // known, not on disk
    workspace->removeApplication(there);
    EXPECT_EQ(Registry::resolve(app), std::nullopt);

    RegisteredApp none = entry("app.corvane.none", "/does/not/exist.app");
    none.refreshBookmark();
    EXPECT_EQ(none.bookmark, std::nullopt);
}

TEST_F(RegistryTest, ABookmarkThatLeadsToAnotherAppIsNotFollowed) {
    // The deleted app's file identity now belongs to a bundle of another identifier.
    const QString other = makeApp(home.file("Here"), "A", proxyInfo("app.corvane.other"));
    RegisteredApp app = entry("app.corvane.a", home.file("Gone/A.app"));
    app.bookmark = host::Bookmark::create(other);
    ASSERT_TRUE(app.bookmark.has_value());
    EXPECT_EQ(Registry::resolve(app), std::nullopt);

    Registry registry;
    registry.apps = {app};
    registry.rescan();
    const auto entryOf = [&](const QString& bundleID) {
        return std::find_if(registry.apps.begin(), registry.apps.end(),
                            [&](const RegisteredApp& each) { return each.bundleID == bundleID; });
    };
    ASSERT_NE(entryOf("app.corvane.a"), registry.apps.end());
    EXPECT_TRUE(entryOf("app.corvane.a")->isMissing);
    EXPECT_EQ(entryOf("app.corvane.a")->path, home.file("Gone/A.app"));
}

TEST_F(RegistryTest, RescanSortsByNameTheWayTheFinderDoes) {
    makeApp(userApplications(), "App 10", proxyInfo("app.corvane.ten"));
    makeApp(userApplications(), "app 2", proxyInfo("app.corvane.two"));
    makeApp(userApplications(), "Beta", proxyInfo("app.corvane.beta"));
    Registry registry;
    registry.rescan();
    QStringList names;
    for (const RegisteredApp& app : registry.apps)
        names.append(app.name);
    EXPECT_EQ(names, QStringList({"app 2", "App 10", "Beta"}));
}

TEST_F(RegistryTest, RebuildReasonsFollowTheRevisionAndTheLauncherName) {
    RegisteredApp app =
        entry("app.corvane.a", makeApp(userApplications(), "A", proxyInfo("app.corvane.a")), 5);
    EXPECT_EQ(app.rebuildReasons(), StubRevision::improvements(5));
    EXPECT_EQ(app.rebuildReasons().size(), 2);
    EXPECT_TRUE(app.needsRebuild());
    app.stubRevision = 7;
    EXPECT_TRUE(app.rebuildReasons().isEmpty());
    EXPECT_FALSE(app.needsRebuild());
    app.stubRevision = std::nullopt;
    EXPECT_EQ(app.rebuildReasons(), QStringList{StubRevision::genericAdvice});

    RegisteredApp former =
        entry("org.brellam.ombrisk.b",
              makeApp(userApplications(), "B", proxyInfo("org.brellam.ombrisk.b"), false), 7);
    EXPECT_TRUE(former.needsRebuildAfterRename());
    EXPECT_EQ(
        former.rebuildReasons(),
        QStringList{QString::fromUtf8("Built before the rename, so it can't reach the background helper — it "
                                      "opens Chrome but tracks its windows only roughly.")});

    RegisteredApp gone = entry("app.corvane.c", userApplications() + "/C.app", 1);
    EXPECT_FALSE(gone.existsOnDisk());
    EXPECT_FALSE(gone.needsRebuildAfterRename());
    EXPECT_TRUE(gone.rebuildReasons().isEmpty());
    EXPECT_EQ(gone.url(), QUrl::fromLocalFile(userApplications() + "/C.app"));
}

} // namespace
