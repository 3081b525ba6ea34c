#include "CorvaneCore/ProxyApps/StubRevision.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

TEST(StubRevision, OutdatedBelowTheCurrentRevisionOrWithoutOne) {
    EXPECT_EQ(StubRevision::current, 7);
    EXPECT_TRUE(StubRevision::isOutdated(std::nullopt));
    EXPECT_TRUE(StubRevision::isOutdated(1));
    EXPECT_TRUE(StubRevision::isOutdated(6));
    EXPECT_FALSE(StubRevision::isOutdated(7));
    EXPECT_FALSE(StubRevision::isOutdated(8));
}

TEST(StubRevision, ImprovementsAreTheNotesOfNewerRevisionsInOrder) {
    const auto& table = StubRevision::improvementsTable();
    ASSERT_EQ(table.size(), 6u);
    QStringList all;
    for (const auto& [revision, note] : table)
        all.append(note);
    EXPECT_TRUE(StubRevision::improvements(std::nullopt).isEmpty());
    EXPECT_EQ(StubRevision::improvements(1), all);
    EXPECT_EQ(StubRevision::improvements(-5), all);
    EXPECT_EQ(StubRevision::improvements(5), all.mid(4));
    EXPECT_TRUE(StubRevision::improvements(7).isEmpty());
    EXPECT_TRUE(StubRevision::improvements(99).isEmpty());
    EXPECT_TRUE(all.last().startsWith("Reaches the background helper again after the rename to Corvane."));
}

TEST(StubRevision, AdviceJoinsTheNotesOrFallsBackToTheGenericText) {
    const auto& table = StubRevision::improvementsTable();
    EXPECT_EQ(StubRevision::advice(6), table[5].second);
    EXPECT_EQ(StubRevision::advice(5), table[4].second + " " + table[5].second);
    EXPECT_EQ(StubRevision::advice(std::nullopt), StubRevision::genericAdvice);
    EXPECT_EQ(StubRevision::advice(7), StubRevision::genericAdvice);
}

TEST(StubRevision, ReadsOnlyAnIntegerUnderTheKey) {
    EXPECT_EQ(StubRevision::revision(QVariantMap{{"CVNStubRevision", qint64(5)}}), 5);
    EXPECT_EQ(StubRevision::revision(QVariantMap{{"CVNStubRevision", QString("5")}}), std::nullopt);
    EXPECT_EQ(StubRevision::revision(QVariantMap{{"CVNStubRevision", true}}), std::nullopt);
    EXPECT_EQ(StubRevision::revision(QVariantMap{{"OMBStubRevision", qint64(5)}}), std::nullopt);
    EXPECT_EQ(StubRevision::revision(QVariantMap{}), std::nullopt);
}

TEST(StubRevision, ReadsTheRevisionOfABundleOnDisk) {
    test::TemporaryHome home;
    const QString app = home.file("Work.app");
    QDir().mkpath(app + "/Contents");
    EXPECT_EQ(StubRevision::revision(app), std::nullopt);
    ASSERT_TRUE(host::writePropertyListFile(app + "/Contents/Info.plist", QVariantMap{{"CVNStubRevision", 6}},
                                            host::PropertyListFormat::Binary));
    EXPECT_EQ(StubRevision::revision(app), 6);
    EXPECT_EQ(StubRevision::revision(home.file("Missing.app")), std::nullopt);
}

} // namespace
