#include "Support/AppModelFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// An app of the former scripts: by known identifier, or by its script and usage text.
QString writeLegacyApp(const QString& folder, const QString& name, const QString& bundleID,
                       bool withScript = false, const std::optional<QString>& bundleName = std::nullopt) {
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".app");
    QDir().mkpath(path + QStringLiteral("/Contents/Resources/Scripts"));
    QVariantMap info;
    if (!bundleID.isEmpty())
        info.insert(QStringLiteral("CFBundleIdentifier"), bundleID);
    if (bundleName)
        info.insert(QStringLiteral("CFBundleName"), *bundleName);
    if (withScript) {
        info.insert(QStringLiteral("NSAppleEventsUsageDescription"),
                    QStringLiteral("Raises the Chrome window belonging to this profile."));
        QFile script(path + QStringLiteral("/Contents/Resources/Scripts/main.scpt"));
        script.open(QIODevice::WriteOnly);
    }
    host::writePropertyListFile(path + QStringLiteral("/Contents/Info.plist"), info);
    return path;
}

ChromeProfile profile(const QString& directory, const QString& name) {
    ChromeProfile made;
    made.directory = directory;
    made.name = name;
    return made;
}

class MigrationTest : public test::AppModelFixture {
protected:
    QString folder;

    // Chrome with one profile, "Work" in "Profile 1".
    void writeChromeProfiles() {
        const QString path = ChromeProfiles::localStateURL();
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(
            R"({"profile":{"info_cache":{"Profile 1":{"name":"Work"}},"profiles_order":["Profile 1"]}})");
    }

    void SetUp() override {
        AppModelFixture::SetUp();
        folder = environment.applications();
    }
};

TEST_F(MigrationTest, FindsScriptBuiltAppsAndGuessesTheirProfiles) {
    writeLegacyApp(folder, QStringLiteral("Chrome - Work"), QStringLiteral("cx.qemt.tavrimo.work"));
    writeLegacyApp(folder, QStringLiteral("Chrome - Home"), QStringLiteral("org.example.home"), true);
    writeLegacyApp(folder, QStringLiteral("Personal"), QString(), true);
    writeLegacyApp(folder, QStringLiteral("Ours"), QStringLiteral("app.corvane.x"), true);
    writeLegacyApp(folder, QStringLiteral("Plain"), QStringLiteral("org.example.plain"));
    const std::vector<ChromeProfile> profiles{
        profile(QStringLiteral("Default"), QString()),
        profile(QStringLiteral("Profile 1"), QStringLiteral("Work")),
        profile(QStringLiteral("Profile 2"), QStringLiteral("Personal"))};
    const std::vector<LegacyApp> found = Migration::findLegacyApps(profiles);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].name, QStringLiteral("Chrome - Home"));
    EXPECT_EQ(found[0].symbolName, QStringLiteral("house.fill"));
    EXPECT_EQ(found[0].badgeColorHex, QStringLiteral("#7B1FA2"));
    // The unnamed profile would be a suffix of any name; it is never guessed.
    EXPECT_FALSE(found[0].guessedProfile.has_value());
    EXPECT_EQ(found[1].name, QStringLiteral("Chrome - Work"));
    EXPECT_EQ(found[1].guessedProfile->directory, QStringLiteral("Profile 1"));
    EXPECT_EQ(found[1].symbolName, QStringLiteral("briefcase.fill"));
    EXPECT_EQ(found[2].name, QStringLiteral("Personal"));
    EXPECT_EQ(found[2].guessedProfile->directory, QStringLiteral("Profile 2"));
    EXPECT_EQ(found[2].symbolName, QStringLiteral("globe"));
}

TEST_F(MigrationTest, OfferPreselectsEveryAppOnceAndNeverAfterDeclining) {
    writeLegacyApp(folder, QStringLiteral("Chrome - Home"), QStringLiteral("cx.qemt.tavrimo.home"));
    model->load();
    ASSERT_TRUE(model->showingMigration());
    const LegacyApp& legacy = model->legacyApps()[0];
    EXPECT_TRUE(model->migrationSelection(legacy));
    EXPECT_EQ(model->migrationProfile(legacy), QString()); // no Chrome profiles at all

    host::defaults().setBool(Corvane::creatorBundleID, Migration::declinedKey, true);
    auto again = makeModel();
    again->load();
    EXPECT_FALSE(again->showingMigration());
    EXPECT_TRUE(again->legacyApps().empty());
}

TEST_F(MigrationTest, ImportBuildsEachSelectedAppAndWithdrawsItsGrant) {
    writeChromeProfiles();
    const QString alpha =
        writeLegacyApp(folder, QStringLiteral("Alpha"), QStringLiteral("cx.qemt.tavrimo.work"));
    writeLegacyApp(folder, QStringLiteral("Beta"), QStringLiteral("org.example.beta"), true);
    writeLegacyApp(folder, QStringLiteral("Gamma"), QString(), true);
    writeLegacyApp(folder, QStringLiteral("Delta"), QStringLiteral("org.example.delta"), true);
    builder.failFor(QStringLiteral("Beta"), QStringLiteral("Beta would not build"));
    model->load();
    ASSERT_EQ(model->legacyApps().size(), 4u);
    const LegacyApp delta = model->legacyApps()[2];
    ASSERT_EQ(delta.name, QStringLiteral("Delta"));
    model->setMigrationSelection(delta, false);
    EXPECT_EQ(model->migrationProfile(model->legacyApps()[0]), QStringLiteral("Profile 1"));

    model->runMigration();
    EXPECT_FALSE(model->showingMigration());
    ASSERT_TRUE(finishBuild());
    const auto requests = builder.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].name, QStringLiteral("Alpha"));
    EXPECT_EQ(requests[0].destinationPath(), alpha); // over the old app itself
    EXPECT_EQ(requests[0].config.profileDirectory, QStringLiteral("Profile 1"));
    EXPECT_EQ(requests[0].config.symbolName, QStringLiteral("globe"));
    EXPECT_NE(requests[0].bundleID, requests[2].bundleID);
    // Only the app with an identifier has its grant withdrawn: an empty one would reset every app's.
    EXPECT_EQ(environment.runner().argumentsOf(QStringLiteral("/usr/bin/tccutil")),
              (std::vector<QStringList>{{QStringLiteral("reset"), QStringLiteral("Accessibility"),
                                         QStringLiteral("cx.qemt.tavrimo.work")}}));
    EXPECT_EQ(model->errorMessage(), QStringLiteral("Beta would not build"));
    EXPECT_FALSE(model->statusMessage().has_value());
    EXPECT_EQ(model->apps().size(), 2u);
    EXPECT_TRUE(host::defaults().boolValue(Corvane::creatorBundleID, Migration::declinedKey));
    EXPECT_TRUE(model->legacyApps().empty());
}

TEST_F(MigrationTest, ForeignNamesAreCheckedAndOtherAppsNeverReplaced) {
    writeChromeProfiles();
    writeLegacyApp(folder, QStringLiteral("Clash"), QStringLiteral("cx.qemt.tavrimo.work"), false,
                   QStringLiteral("Taken"));
    test::writeProxyBundle(folder + QStringLiteral("/Taken.app"), QStringLiteral("org.example.taken"),
                           configFor(QStringLiteral("Default")));
    writeLegacyApp(folder, QStringLiteral("Dotted"), QStringLiteral("cx.qemt.tavrimo.home"), false,
                   QStringLiteral(".hidden"));
    model->load();
    ASSERT_EQ(model->legacyApps().size(), 2u);
    model->runMigration();
    ASSERT_TRUE(finishBuild());
    EXPECT_TRUE(builder.requests().empty());
    EXPECT_EQ(model->errorMessage(),
              QStringLiteral("Something else is already called “Taken” in that folder."));
    EXPECT_TRUE(environment.runner().argumentsOf(QStringLiteral("/usr/bin/tccutil")).empty());
}

TEST_F(MigrationTest, DeselectingEverythingImportsNothing) {
    writeChromeProfiles();
    writeLegacyApp(folder, QStringLiteral("Alpha"), QStringLiteral("cx.qemt.tavrimo.work"));
    model->load();
    model->setMigrationSelection(model->legacyApps()[0], false);
    model->runMigration();
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Imported 0 apps."));
    EXPECT_TRUE(host::defaults().boolValue(Corvane::creatorBundleID, Migration::declinedKey));
}

TEST_F(MigrationTest, AppsWithoutAChosenProfileAreNamedAfterTheLastFailureAndNotOfferedAgain) {
    writeChromeProfiles();
    writeLegacyApp(folder, QStringLiteral("Alpha"), QStringLiteral("cx.qemt.tavrimo.work"));
    writeLegacyApp(folder, QStringLiteral("Beta"), QStringLiteral("cx.qemt.tavrimo.home"));
    writeLegacyApp(folder, QStringLiteral("Gamma"), QStringLiteral("org.example.gamma"), true);
    model->load();
    ASSERT_EQ(model->legacyApps().size(), 3u);
    model->setMigrationProfile(model->legacyApps()[1], QStringLiteral("Profile 9"));
    model->setMigrationProfile(model->legacyApps()[2], QString());

    model->runMigration();
    ASSERT_TRUE(finishBuild());
    ASSERT_EQ(builder.requests().size(), 1u);
    EXPECT_EQ(builder.requests()[0].name, QStringLiteral("Alpha"));
    EXPECT_EQ(model->errorMessage(), QStringLiteral("Not imported, no Chrome profile chosen: Beta, Gamma"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Imported 1 app."));
    EXPECT_TRUE(host::defaults().boolValue(Corvane::creatorBundleID, Migration::declinedKey));
    EXPECT_TRUE(model->legacyApps().empty());
    auto next = makeModel();
    next->load();
    EXPECT_FALSE(next->showingMigration());
}

TEST_F(MigrationTest, TheLastFailureIsKeptBesideTheAppsWithoutAProfile) {
    writeChromeProfiles();
    writeLegacyApp(folder, QStringLiteral("Alpha"), QStringLiteral("cx.qemt.tavrimo.work"));
    writeLegacyApp(folder, QStringLiteral("Beta"), QStringLiteral("cx.qemt.tavrimo.home"));
    writeLegacyApp(folder, QStringLiteral("Gamma"), QStringLiteral("org.example.gamma"), true);
    builder.failFor(QStringLiteral("Alpha"), QStringLiteral("codesign failed"));
    model->load();
    model->setMigrationProfile(model->legacyApps()[2], QString());
    model->setStatusMessage(QStringLiteral("Earlier line"));

    model->runMigration();
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(builder.requests().size(), 2u);
    EXPECT_EQ(model->errorMessage(),
              QStringLiteral("codesign failed. Not imported, no Chrome profile chosen: Gamma"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Earlier line"));
    EXPECT_TRUE(host::defaults().boolValue(Corvane::creatorBundleID, Migration::declinedKey));
}

TEST_F(MigrationTest, RenameNoticeWording) {
    installApp(QStringLiteral("A"), QStringLiteral("app.corvane.a"), QStringLiteral("Default"), 5);
    model->load();
    EXPECT_EQ(model->renameRowTitle(), QStringLiteral("1 app can be updated"));
    EXPECT_FALSE(model->renameAdvice().isEmpty());
    const QString withoutLauncher = environment.applications() + QStringLiteral("/Old.app");
    test::writeProxyBundle(withoutLauncher, QStringLiteral("app.corvane.old"),
                           configFor(QStringLiteral("Default")), 5, false);
    auto again = makeModel();
    again->load();
    EXPECT_EQ(again->renameRowTitle(), QStringLiteral("This is now Corvane"));
    EXPECT_EQ(again->renameAdvice(),
              QStringLiteral("Rebuild them so they can reach the renamed helper — until then "
                             "they'll open Chrome but track its windows only roughly."));
}

} // namespace
