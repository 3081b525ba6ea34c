#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/RenameMigration.h"
#include "CorvaneHost/Defaults.h"
#include "CorvaneHost/Services.h"
#include "Support/FakeWorkspace.h"
#include "Support/LogCapture.h"
#include "Support/RecordingProcessRunner.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

using RenameMigration::Outcome;

const Corvane::PreviousIdentity& firstFormer() {
    return Corvane::previousIdentities().at(0);
}
const Corvane::PreviousIdentity& secondFormer() {
    return Corvane::previousIdentities().at(1);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString present(const QString& name) {
    return Corvane::supportDirectory() + "/" + name;
}

QString former(const Corvane::PreviousIdentity& identity, const QString& name) {
    return identity.supportDirectory() + "/" + name;
}

bool migrationCompleted() {
    return host::defaults().boolValue(Corvane::creatorBundleID, RenameMigration::completedKey);
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

class RenameMigrationTest : public testing::Test {
protected:
    test::TemporaryHome home;
    test::FakeWorkspaceScope workspace;
    test::RecordingProcessRunnerScope runner;
    test::LogCapture log;

    static inline const QByteArray registryOfThree =
        R"({"version":1,"apps":[{"bundleID":"a"},{"bundleID":"b"},{"bundleID":"c"}]})";
};

TEST_F(RenameMigrationTest, WithoutFormerIdentityTheFirstRunOnlySetsTheFlag) {
    EXPECT_EQ(RenameMigration::runIfNeeded(), (Outcome{0, std::nullopt, false}));
    EXPECT_TRUE(migrationCompleted());
    EXPECT_TRUE(runner->runs().empty());

    // A former folder that appears later is reported but never migrated.
    writeFile(former(firstFormer(), "rules.json"), "{}");
    const Outcome later = RenameMigration::runIfNeeded();
    EXPECT_EQ(later, (Outcome{0, std::nullopt, true}));
    EXPECT_TRUE(later.hasLeftovers()) << "the support folder alone makes leftovers";
    EXPECT_FALSE(QFileInfo::exists(present("rules.json")));
    EXPECT_TRUE(runner->runs().empty());
}

TEST_F(RenameMigrationTest, CopiesMissingFilesOnceStopsTheFormerHelperAndResetsItsPermissions) {
    const auto& identity = firstFormer();
    writeFile(former(identity, "registry.json"), registryOfThree);
    writeFile(former(identity, "rules.json"), "former rules");
    writeFile(former(identity, "settings.json"), "former settings");
    writeFile(former(identity, "OmbriskHelper.app/Contents/Info.plist"), "not migrated");
    writeFile(present("settings.json"), "present settings");
    const QString oldCreator =
        workspace->addApplication("Ombrisk", test::FakeWorkspace::info(identity.creatorBundleID));
    workspace->addRunning({4242, identity.helperBundleID(), "OmbriskHelper", ""});
    workspace->addRunning({4343, Corvane::helperBundleID, "CorvaneHelper", ""});

    const Outcome outcome = RenameMigration::runIfNeeded();
    EXPECT_EQ(outcome, (Outcome{3, oldCreator, true}));

    EXPECT_EQ(readFile(present("registry.json")), registryOfThree);
    EXPECT_EQ(readFile(present("rules.json")), "former rules");
    EXPECT_EQ(readFile(present("settings.json")), "present settings") << "never overwritten";
    EXPECT_FALSE(QFileInfo::exists(present("recent-links.json")));
    EXPECT_EQ(filesIn(Corvane::supportDirectory()),
              (QStringList{"registry.json", "rules.json", "settings.json"}))
        << "nothing else is left in the support folder";
    EXPECT_EQ(QFileInfo(present("rules.json")).lastModified(),
              QFileInfo(former(identity, "rules.json")).lastModified());

    EXPECT_EQ(workspace->terminated, std::vector<qint32>{4242}) << "only the former helper is asked to quit";
    EXPECT_EQ(runner->runs(),
              (std::vector<test::RecordingProcessRunner::Run>{
                  {"/usr/bin/tccutil", {"reset", "Accessibility", identity.helperBundleID()}},
                  {"/usr/bin/tccutil", {"reset", "AppleEvents", identity.helperBundleID()}}}));
    EXPECT_EQ(log.messages("creator"),
              (QStringList{"migrated registry.json from Ombrisk", "migrated rules.json from Ombrisk"}));
    EXPECT_TRUE(migrationCompleted());

    // The former files stay in place and are still reported; a second run does nothing more.
    EXPECT_TRUE(QFileInfo::exists(former(identity, "rules.json")));
    runner->clear();
    log.clear();
    writeFile(former(identity, "recent-links.json"), "[]");
    EXPECT_EQ(RenameMigration::runIfNeeded(), RenameMigration::currentState());
    EXPECT_EQ(RenameMigration::currentState(), (Outcome{0, oldCreator, true}));
    EXPECT_FALSE(QFileInfo::exists(present("recent-links.json")));
    EXPECT_TRUE(runner->runs().empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(RenameMigrationTest, FailedPermissionResetsDoNotStopTheMigration) {
    writeFile(former(firstFormer(), "rules.json"), "former rules");
    runner->exitWith("/usr/bin/tccutil", 1, "No such bundle identifier");
    RenameMigration::runIfNeeded();
    EXPECT_EQ(runner->runs().size(), 2u) << "the second reset runs after the first failed";
    EXPECT_TRUE(migrationCompleted());
}

TEST_F(RenameMigrationTest, CountsTheAppsOfTheCopiedRegistry) {
    const QString path = home.file("registry.json");
    const std::vector<std::pair<QByteArray, int>> cases{
        {registryOfThree, 3},     {"[1, 2]", 2},   {"not json", 0}, {R"({"apps": {}})", 0},
        {R"({"version": 1})", 0}, {"\"text\"", 0}, {"", 0},
    };
    for (const auto& [bytes, count] : cases) {
        writeFile(path, bytes);
        EXPECT_EQ(RenameMigration::countApps(path), count) << bytes.constData();
    }
    EXPECT_EQ(RenameMigration::countApps(home.file("missing.json")), 0);

    writeFile(former(firstFormer(), "registry.json"), "not json");
    EXPECT_EQ(RenameMigration::runIfNeeded().registryEntries, 0);
    EXPECT_EQ(readFile(present("registry.json")), "not json") << "still copied";
}

TEST_F(RenameMigrationTest, OnlyTheFirstFormerIdentityIsMigrated) {
    writeFile(former(firstFormer(), "rules.json"), "first");
    writeFile(former(secondFormer(), "rules.json"), "second");
    writeFile(former(secondFormer(), "settings.json"), "second settings");
    RenameMigration::runIfNeeded();
    EXPECT_EQ(readFile(present("rules.json")), "first");
    EXPECT_FALSE(QFileInfo::exists(present("settings.json")));
    EXPECT_EQ(runner->argumentsOf("/usr/bin/tccutil").front().last(), firstFormer().helperBundleID());

    // The flag stops any later migration, also of the second identity once the first is gone.
    QDir(firstFormer().supportDirectory()).removeRecursively();
    RenameMigration::runIfNeeded();
    EXPECT_FALSE(QFileInfo::exists(present("settings.json")));
}

TEST_F(RenameMigrationTest, AFailedCopyLeavesNoPartialFileAndIsRetriedAtTheNextRun) {
    const auto& identity = firstFormer();
    writeFile(former(identity, "registry.json"), registryOfThree);
    QDir().mkpath(former(identity, "rules.json")); // cannot be read as a file
    writeFile(former(identity, "settings.json"), "former settings");

    const Outcome first = RenameMigration::runIfNeeded();
    EXPECT_EQ(first.registryEntries, 3);
    EXPECT_FALSE(migrationCompleted()) << "a failed copy must not mark the migration done";
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].level, host::LogLevel::Error);
    EXPECT_TRUE(lines[1].message.startsWith("could not migrate rules.json: "))
        << lines[1].message.toStdString();
    EXPECT_EQ(lines[2].message, "migrated settings.json from Ombrisk") << "the next file is still copied";
    EXPECT_EQ(filesIn(Corvane::supportDirectory()), (QStringList{"registry.json", "settings.json"}))
        << "no partial or temporary file is left behind";

    // The present app writes its own registry meanwhile; the retry copies only what is still missing.
    writeFile(present("registry.json"), "[]");
    QDir(former(identity, "rules.json")).removeRecursively();
    writeFile(former(identity, "rules.json"), "former rules");
    log.clear();
    const Outcome second = RenameMigration::runIfNeeded();
    EXPECT_EQ(second.registryEntries, 0) << "the registry was not copied this time";
    EXPECT_EQ(log.messages(), QStringList{"migrated rules.json from Ombrisk"});
    EXPECT_EQ(readFile(present("rules.json")), "former rules");
    EXPECT_EQ(readFile(present("registry.json")), "[]");
    EXPECT_TRUE(migrationCompleted());
}

TEST_F(RenameMigrationTest, AnUncreatableSupportFolderFailsEveryCopyAndKeepsTheFlagClear) {
    writeFile(former(firstFormer(), "rules.json"), "former rules");
    writeFile(Corvane::supportDirectory(), "a file where the folder belongs");
    RenameMigration::runIfNeeded();
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.lines()[0].message.startsWith("could not migrate rules.json: "));
    EXPECT_FALSE(migrationCompleted());
    EXPECT_EQ(runner->runs().size(), 2u) << "the permissions are reset all the same";

    QFile::remove(Corvane::supportDirectory());
    RenameMigration::runIfNeeded();
    EXPECT_EQ(readFile(present("rules.json")), "former rules");
    EXPECT_TRUE(migrationCompleted());
}

TEST_F(RenameMigrationTest, StateWithoutAKnownFormerCreatorRestsOnTheSupportFolder) {
    EXPECT_EQ(RenameMigration::currentState(), (Outcome{0, std::nullopt, false}));
    EXPECT_FALSE(RenameMigration::currentState().hasLeftovers());
    QDir().mkpath(secondFormer().supportDirectory());
    EXPECT_EQ(RenameMigration::currentState(), (Outcome{0, std::nullopt, true}));
    EXPECT_FALSE(migrationCompleted()) << "currentState changes nothing";
}

TEST_F(RenameMigrationTest, RemoveLeftoversTrashesTheFormerCreatorAndMigratedFolder) {
    EXPECT_NO_THROW(RenameMigration::removeLeftovers(std::nullopt)) << "nothing to remove";
    EXPECT_NO_THROW(RenameMigration::removeLeftovers(home.file("Gone.app")));

    const auto& identity = firstFormer();
    writeFile(former(identity, "rules.json"), "former rules");
    writeFile(former(identity, "settings.json"), "former settings");
    writeFile(present("settings.json"), "present settings"); // kept over the former one on purpose
    const QString oldCreator =
        workspace->addApplication("Ombrisk", test::FakeWorkspace::info(identity.creatorBundleID));
    const Outcome outcome = RenameMigration::runIfNeeded();
    ASSERT_EQ(outcome.oldCreatorPath, oldCreator);

    RenameMigration::removeLeftovers(outcome.oldCreatorPath);
    EXPECT_FALSE(QFileInfo::exists(oldCreator));
    EXPECT_FALSE(QFileInfo::exists(identity.supportDirectory()));
    const QString trash = home.file(".local/share/Trash/files");
    EXPECT_TRUE(QFileInfo::exists(trash + "/Ombrisk/rules.json"));
    EXPECT_TRUE(QFileInfo::exists(trash + "/Ombrisk.app"));
    EXPECT_EQ(readFile(present("settings.json")), "present settings");
    EXPECT_TRUE(migrationCompleted());
}

TEST_F(RenameMigrationTest, RemoveLeftoversNeverTrashesDataThatWasNotCopied) {
    const auto& identity = firstFormer();
    writeFile(former(identity, "registry.json"), registryOfThree);
    QDir().mkpath(former(identity, "rules.json"));
    RenameMigration::runIfNeeded(); // rules.json could not be copied
    ASSERT_FALSE(migrationCompleted());
    QDir(former(identity, "rules.json")).removeRecursively();
    writeFile(former(identity, "rules.json"), "only copy of the rules");

    try {
        RenameMigration::removeLeftovers(std::nullopt);
        FAIL() << "expected a MigrationError";
    } catch (const RenameMigration::MigrationError& error) {
        EXPECT_EQ(error.code(), RenameMigration::MigrationError::Code::notMigrated);
        EXPECT_TRUE(error.description().contains("rules.json"));
    }
    EXPECT_EQ(readFile(former(identity, "rules.json")), "only copy of the rules");

    // Once the next start has taken the file over, the folder may go.
    RenameMigration::runIfNeeded();
    EXPECT_NO_THROW(RenameMigration::removeLeftovers(std::nullopt));
    EXPECT_FALSE(QFileInfo::exists(identity.supportDirectory()));
    EXPECT_EQ(readFile(present("rules.json")), "only copy of the rules");
}

TEST_F(RenameMigrationTest, RemoveLeftoversThrowsWhenTheTrashRefuses) {
    const auto& identity = firstFormer();
    writeFile(former(identity, "rules.json"), "former rules");
    RenameMigration::runIfNeeded();
    writeFile(home.file(".local/share/Trash"), "a file where the Trash belongs");
    EXPECT_THROW(RenameMigration::removeLeftovers(std::nullopt), host::SystemError);
    EXPECT_TRUE(QFileInfo::exists(former(identity, "rules.json")));
}

} // namespace
