#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "Support/Files.h"
#include "Support/LogCapture.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

using test::contents;
using test::setModified;
using test::writeFile;

const QString unreadableMessage =
    QStringLiteral("rules.json could not be read; routing everything to the fallback");

QDateTime at(int minute) {
    return QDateTime(QDate(2026, 3, 1), QTime(10, minute, 0, 250), QTimeZone::utc());
}

QByteArray ruleFile(const char* name) {
    return QByteArray(R"({"rules":[{"name":")") + name + R"(","target":{"kind":"browser","bundleID":"b"}}]})";
}

RuleSet oneRule(const QString& name) {
    RuleSet set;
    set.rules.push_back(LinkRule{.name = name, .target = RouteTarget::browser("com.example")});
    return set;
}

TEST(RuleStore, WithoutAFileHoldsTheDefaults) {
    test::TemporaryHome home;
    test::LogCapture log;
    RuleStore store;
    EXPECT_EQ(store.set(), RuleSet{});
    EXPECT_FALSE(store.loadedModification().has_value());
    EXPECT_FALSE(store.reloadIfChanged());
    EXPECT_TRUE(log.lines().empty());
}

TEST(RuleStore, ReloadsOnlyWhenTheModificationDateChanges) {
    test::TemporaryHome home;
    const QString path = Corvane::rulesURL();
    writeFile(path, ruleFile("first"), at(1));

    RuleStore store;
    ASSERT_EQ(store.set().rules.size(), 1u);
    EXPECT_EQ(store.set().rules[0].name, "first");
    EXPECT_EQ(store.loadedModification(), at(1));
    EXPECT_FALSE(store.reloadIfChanged());

    // Same date, other content: not read again.
    writeFile(path, ruleFile("second"), at(1));
    EXPECT_FALSE(store.reloadIfChanged());
    EXPECT_EQ(store.set().rules[0].name, "first");

    // An older date is a change too: only equality counts.
    setModified(path, at(0));
    EXPECT_TRUE(store.reloadIfChanged());
    EXPECT_EQ(store.current().rules[0].name, "second");
    EXPECT_EQ(store.loadedModification(), at(0));
    EXPECT_FALSE(store.reloadIfChanged());

    // A new version with unchanged content still reports a change.
    setModified(path, at(2));
    EXPECT_TRUE(store.reloadIfChanged());
}

TEST(RuleStore, AFileSavedWithAByteOrderMarkIsRead) {
    test::TemporaryHome home;
    test::LogCapture log;
    writeFile(Corvane::rulesURL(), "\xEF\xBB\xBF" + ruleFile("marked"), at(1));
    RuleStore store;
    ASSERT_EQ(store.set().rules.size(), 1u);
    EXPECT_EQ(store.set().rules[0].name, "marked");
    EXPECT_EQ(log.count(unreadableMessage), 0);
}

TEST(RuleStore, OwnSaveIsNoChangeButAnotherProcessSeesItOnce) {
    test::TemporaryHome home;
    RuleStore creator;
    RuleStore helper;
    const RuleSet rules = oneRule("saved");
    creator.save(rules);
    EXPECT_EQ(creator.set(), rules);
    EXPECT_TRUE(creator.loadedModification().has_value());
    EXPECT_FALSE(creator.reloadIfChanged());

    EXPECT_TRUE(helper.reloadIfChanged());
    EXPECT_EQ(helper.set(), rules);
    EXPECT_FALSE(helper.reloadIfChanged());

    EXPECT_EQ(contents(Corvane::rulesURL()), JSONEncoder::corvane().encode(rules.toJson()));
    EXPECT_FALSE(QFileInfo::exists(Corvane::rulesURL() + ".unreadable"));
}

TEST(RuleStore, ASaveAlwaysMovesTheFileTimeOnSoAnotherProcessSeesIt) {
    test::TemporaryHome home;
    RuleStore creator;
    RuleStore helper;
    creator.save(oneRule("first"));
    // The file a save replaces may carry a time the clock has not yet passed (a coarse file clock gives two
    // saves within one tick the same time; here the first one lies an hour ahead).
    const QDateTime ahead = QDateTime::currentDateTimeUtc().addSecs(3600);
    setModified(Corvane::rulesURL(), ahead);
    const auto replaced = FileModificationTime::of(Corvane::rulesURL());
    ASSERT_TRUE(helper.reloadIfChanged());

    const RuleSet second = oneRule("second");
    creator.save(second);
    const auto written = FileModificationTime::of(Corvane::rulesURL());
    ASSERT_TRUE(replaced && written);
    EXPECT_GT(*written, *replaced);
    EXPECT_FALSE(creator.reloadIfChanged());
    EXPECT_TRUE(helper.reloadIfChanged());
    EXPECT_EQ(helper.set(), second);
}

TEST(RuleStore, DeletingTheFileDropsTheRulesOnce) {
    test::TemporaryHome home;
    writeFile(Corvane::rulesURL(), ruleFile("x"), at(1));
    RuleStore store;
    ASSERT_EQ(store.set().rules.size(), 1u);
    ASSERT_TRUE(QFile::remove(Corvane::rulesURL()));
    EXPECT_TRUE(store.reloadIfChanged());
    EXPECT_EQ(store.set(), RuleSet{});
    EXPECT_FALSE(store.loadedModification().has_value());
    EXPECT_FALSE(store.reloadIfChanged());
    EXPECT_FALSE(store.reloadIfChanged());
}

TEST(RuleStore, UndecodableFileIsLoggedOncePerVersionAndKeptAsideBeforeTheFirstSave) {
    test::TemporaryHome home;
    test::LogCapture log;
    const QString path = Corvane::rulesURL();
    writeFile(path, ruleFile("good"), at(1));
    RuleStore store;
    ASSERT_EQ(store.set().rules.size(), 1u);

    // One rule without a target spoils the whole file.
    const QByteArray broken =
        R"({"rules":[{"target":{"kind":"browser","bundleID":"b"}},{"name":"no target"}]})";
    writeFile(path, broken, at(2));
    EXPECT_TRUE(store.reloadIfChanged());
    EXPECT_EQ(store.set(), RuleSet{});
    EXPECT_EQ(store.loadedModification(), at(2));
    EXPECT_TRUE(log.contains("helper", host::LogLevel::Error, unreadableMessage));
    EXPECT_FALSE(store.reloadIfChanged());
    EXPECT_EQ(log.count(unreadableMessage), 1);
    EXPECT_EQ(contents(path), broken);

    // A new version of the same broken file is logged again.
    writeFile(path, "{ not json", at(3));
    EXPECT_TRUE(store.reloadIfChanged());
    EXPECT_EQ(log.count(unreadableMessage), 2);
    EXPECT_EQ(log.lines().size(), 2u);

    // The first save keeps what the user had; later saves leave that copy alone.
    store.save(oneRule("first save"));
    EXPECT_EQ(contents(path + ".unreadable"), "{ not json");
    EXPECT_FALSE(store.reloadIfChanged());
    EXPECT_EQ(store.set().rules[0].name, "first save");
    store.save(oneRule("second save"));
    EXPECT_EQ(contents(path + ".unreadable"), "{ not json");
    EXPECT_EQ(store.set().rules[0].name, "second save");
}

TEST(RuleStore, BrokenFileFromTheStartIsKeptAsideToo) {
    test::TemporaryHome home;
    test::LogCapture log;
    writeFile(Corvane::rulesURL(), "[]", at(1));
    RuleStore store;
    EXPECT_EQ(log.count(unreadableMessage), 1);
    store.save(oneRule("new"));
    EXPECT_EQ(contents(Corvane::rulesURL() + ".unreadable"), "[]");
}

TEST(RuleStore, FileMendedBeforeTheSaveIsNotKeptAside) {
    test::TemporaryHome home;
    test::LogCapture log;
    writeFile(Corvane::rulesURL(), "garbage", at(1));
    RuleStore store;
    writeFile(Corvane::rulesURL(), ruleFile("mended"), at(2));
    EXPECT_TRUE(store.reloadIfChanged());
    store.save(oneRule("new"));
    EXPECT_FALSE(QFileInfo::exists(Corvane::rulesURL() + ".unreadable"));

    // So is a broken file that went away before the save.
    writeFile(Corvane::rulesURL(), "garbage", at(3));
    EXPECT_TRUE(store.reloadIfChanged());
    ASSERT_TRUE(QFile::remove(Corvane::rulesURL()));
    EXPECT_TRUE(store.reloadIfChanged());
    store.save(oneRule("again"));
    EXPECT_FALSE(QFileInfo::exists(Corvane::rulesURL() + ".unreadable"));
}

TEST(RuleStore, FailedSaveKeepsTheHeldRules) {
    test::TemporaryHome home;
    RuleStore store;
    store.save(oneRule("kept"));
    const auto modification = store.loadedModification();

    // Something that is not a folder stands where the support folder belongs.
    QDir(Corvane::supportDirectory()).removeRecursively();
    writeFile(Corvane::supportDirectory(), "blocker", at(1));
    EXPECT_THROW(store.save(oneRule("lost")), host::Error);
    EXPECT_EQ(store.set().rules[0].name, "kept");
    EXPECT_EQ(store.loadedModification(), modification);
}

TEST(RuleStore, SharedStoreIsOnePerProcess) {
    EXPECT_EQ(&RuleStore::shared(), &RuleStore::shared());
}

} // namespace
