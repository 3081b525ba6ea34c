#include "Support/AppModelFixture.h"

#include "Support/SignalCount.h"

namespace {

using Selection = AppModel::Selection;

TabGroupInfo group(const QString& name, bool isOpen, qint64 windows = 0) {
    return TabGroupInfo{name, isOpen, !isOpen, windows};
}

QStringList names(const std::vector<TabGroupInfo>& groups) {
    QStringList list;
    for (const TabGroupInfo& info : groups)
        list << info.name;
    return list;
}

class TabGroups : public test::AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"), QStringLiteral("Profile 1"));
        model->load();
    }

    void runChrome() {
        host::RunningApplication chrome;
        chrome.processIdentifier = 4242;
        chrome.bundleIdentifier = Corvane::chromeBundleID;
        environment.workspace().addRunning(chrome);
    }
};

TEST_F(TabGroups, ListingsAreCachedUntilForced) {
    model->loadTabGroups(QStringLiteral("Profile 1"), false);
    EXPECT_TRUE(link->requests.empty()); // helper not usable yet
    EXPECT_FALSE(model->isLoadingTabGroups());

    connectTrustedHelper();
    ASSERT_EQ(link->requests.size(), 1u);
    EXPECT_TRUE(model->isLoadingTabGroups());
    link->fail(QStringLiteral("timed out"));
    environment.time().runUntilIdle();
    EXPECT_FALSE(model->isLoadingTabGroups());
    ASSERT_TRUE(model->tabGroups().contains(QStringLiteral("Profile 1")));
    EXPECT_TRUE(model->tabGroups().value(QStringLiteral("Profile 1")).empty());

    model->loadTabGroups(QStringLiteral("Profile 1"), false);
    model->loadTabGroups(QString(), true);
    EXPECT_TRUE(link->requests.empty());

    model->loadTabGroups(QStringLiteral("Profile 1"), true);
    ASSERT_EQ(link->requests.size(), 1u);
    link->answerTabGroups({group(QStringLiteral("Sprint"), true, 1)});
    environment.time().runUntilIdle();
    EXPECT_EQ(names(model->tabGroupsForEditor()), QStringList{QStringLiteral("Sprint")});
    EXPECT_FALSE(model->didDeepScanEditorProfile());
}

TEST_F(TabGroups, DeepScanMergesAndCountsClosedGroups) {
    connectTrustedHelper();
    link->answerTabGroups({group(QStringLiteral("Work"), true, 2), group(QStringLiteral("Home"), true, 1)});
    environment.time().runUntilIdle();
    runChrome();

    model->findAllTabGroups();
    EXPECT_TRUE(model->isDeepScanning());
    EXPECT_EQ(environment.desktop().activated, std::vector<qint32>{4242});
    EXPECT_TRUE(link->requests.empty());
    // The profile in the editor may change meanwhile; the scan keeps the one it started with.
    model->selectProfile(profileNamed(QStringLiteral("Profile 2"), QStringLiteral("Other")));
    ASSERT_EQ(link->requests.size(), 1u); // the new profile's open groups
    link->answerTabGroups({});
    environment.time().advance(0.4);
    ASSERT_EQ(link->requests.size(), 1u);
    EXPECT_EQ(link->requests[0].request.profileDirectory, QStringLiteral("Profile 1"));
    EXPECT_EQ(link->requests[0].timeout, 12.0);
    link->answerTabGroups({group(QStringLiteral("Home"), false), group(QStringLiteral("Archive"), false),
                           group(QStringLiteral("Work"), false)});
    environment.time().runUntilIdle();
    EXPECT_FALSE(model->isDeepScanning());
    EXPECT_EQ(environment.desktop().selfActivations, 1);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Found 3 tab groups, 3 of them closed."));

    model->selectProfile(profileNamed(QStringLiteral("Profile 1"), QStringLiteral("Work")));
    EXPECT_TRUE(model->didDeepScanEditorProfile());
    const std::vector<TabGroupInfo> merged = model->tabGroupsForEditor();
    EXPECT_EQ(names(merged),
              (QStringList{QStringLiteral("Archive"), QStringLiteral("Home"), QStringLiteral("Work")}));
    EXPECT_TRUE(merged[1].isOpen);
    EXPECT_EQ(merged[2].windowCount, 2);
}

TEST_F(TabGroups, DeepScanReportsSingularAndEmptyResults) {
    connectTrustedHelper();
    link->answerTabGroups({});
    environment.time().runUntilIdle();
    runChrome();
    model->findAllTabGroups();
    environment.time().advance(0.4);
    link->answerTabGroups({group(QStringLiteral("Group 10"), true)});
    environment.time().runUntilIdle();
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Found 1 tab group."));

    model->findAllTabGroups();
    environment.time().advance(0.4);
    link->answerTabGroups({});
    environment.time().runUntilIdle();
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Chrome reports no tab groups in this profile."));
    EXPECT_TRUE(model->didDeepScanEditorProfile());
}

TEST_F(TabGroups, FailedDeepScanIsReportedAndNotCached) {
    connectTrustedHelper();
    link->answerTabGroups({});
    environment.time().runUntilIdle();
    runChrome();
    model->findAllTabGroups();
    environment.time().advance(0.4);
    link->fail(QStringLiteral("timed out"));
    environment.time().runUntilIdle();
    EXPECT_FALSE(model->isDeepScanning());
    EXPECT_EQ(model->errorMessage(), QStringLiteral("Couldn't look for closed tab groups: timed out"));
    EXPECT_FALSE(model->statusMessage().has_value());
    EXPECT_FALSE(model->didDeepScanEditorProfile());
    EXPECT_EQ(environment.desktop().selfActivations, 1);
}

TEST_F(TabGroups, DeepScanNeedsTheHelperAndChrome) {
    model->findAllTabGroups();
    EXPECT_EQ(
        model->errorMessage(),
        QStringLiteral(
            "Corvane needs Accessibility, and Chrome needs to be running, to look for closed tab groups."));
    EXPECT_FALSE(model->isDeepScanning());

    connectTrustedHelper();
    link->answerTabGroups({});
    environment.time().runUntilIdle();
    model->findAllTabGroups();
    EXPECT_EQ(model->errorMessage(), QStringLiteral("Chrome isn't running."));
    EXPECT_FALSE(model->isDeepScanning());
    environment.time().advance(1.0);
    EXPECT_TRUE(link->requests.empty());
    EXPECT_FALSE(model->didDeepScanEditorProfile());
}

TEST_F(TabGroups, NamesSortAsTheFileManagerDoes) {
    connectTrustedHelper();
    link->answerTabGroups({group(QStringLiteral("Group 10"), true), group(QStringLiteral("Beta"), true),
                           group(QStringLiteral("alpha"), true), group(QStringLiteral("Group 2"), true)});
    environment.time().runUntilIdle();
    runChrome();
    model->findAllTabGroups();
    environment.time().advance(0.4);
    link->answerTabGroups({});
    environment.time().runUntilIdle();
    EXPECT_EQ(names(model->tabGroupsForEditor()),
              (QStringList{QStringLiteral("alpha"), QStringLiteral("Beta"), QStringLiteral("Group 2"),
                           QStringLiteral("Group 10")}));
}

} // namespace
