// Links of a tab-group app: delivered into the group's window, or opened in the profile when the group cannot
// be reached.
#include "StubFixture.h"

namespace {

using Op = Request::Op;
using Action = Response::Action;

struct TabGroupTest : test::StubFixture {
    const QUrl link1{QStringLiteral("https://one.example/")};
    const QUrl link2{QStringLiteral("https://two.example/")};

    void SetUp() override {
        StubFixture::SetUp();
        config = groupConfig();
    }
    int noteLaunches() { return link->count(Op::noteLaunch); }
};

TEST_F(TabGroupTest, LinksWaitForChromeToStartAndArriveInTheGroupWindow) {
    start(host::AppleEvent::forOpening({link1}, std::nullopt));
    EXPECT_EQ(chromeLaunches(), std::vector<QStringList>{profileLaunch()});
    chromeNotListed();
    time->advance(0.5);
    openLinks({link2}); // joins the same run
    chromeRuns();
    link->helperArrives();
    time->advance(0.6);
    ASSERT_EQ(link->unanswered(Op::activate), 1);
    EXPECT_EQ(link->sent.back().timeout, 12.0);
    ASSERT_TRUE(link->answer(Op::activate, Action::nothingToRaise));
    time->advance(1);
    ASSERT_TRUE(link->answer(Op::activate, Action::openedGroup));
    EXPECT_EQ(workspace->activated.size(), 1u); // Chrome brought forward first
    const size_t before = chromeLaunches().size();
    time->advance(0.1);
    EXPECT_EQ(chromeLaunches().size(), before);
    time->advance(0.1);
    ASSERT_EQ(chromeLaunches().size(), before + 1);
    EXPECT_EQ(chromeLaunches().back(), profileLaunch({link1.toString(), link2.toString()}));

    time->advance(60);
    EXPECT_EQ(link->unanswered(Op::activate), 0);
    EXPECT_EQ(chromeLaunches().size(), before + 1);
}

TEST_F(TabGroupTest, MissesForTwentySecondsEndInExactlyOneLaunchInTheProfile) {
    start(host::AppleEvent::forOpening({link1}, std::nullopt));
    time->advance(0.5);
    link->helperArrives();
    for (int second = 0; second < 40; ++second) {
        time->advance(1);
        link->answer(Op::activate, Action::nothingToRaise);
    }
    EXPECT_LE(link->count(Op::activate), 20);
    EXPECT_GE(link->count(Op::activate), 19);
    const auto launches = chromeLaunches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[1], profileLaunch({link1.toString()}));
    EXPECT_EQ(link->sent.back().request.op, Op::noteLaunch);
}

TEST_F(TabGroupTest, RetriesThatTimeOutSendNoSecondRequestMeanwhileAndStillFallBackOnce) {
    start(host::AppleEvent::forOpening({link1}, std::nullopt));
    link->helperArrives();
    time->advance(60);
    EXPECT_EQ(link->count(Op::activate), 2); // at 1 s, and after the first timed out at 13 s
    EXPECT_EQ(chromeLaunches(),
              (std::vector<QStringList>{profileLaunch(), profileLaunch({link1.toString()})}));
}

TEST_F(TabGroupTest, AMissingGroupDuringTheRetriesOpensAWindowOfTheProfileEvenWithoutLinks) {
    startWithHelper();
    link->answer(Op::activate, Action::nothingToRaise);
    EXPECT_EQ(chromeLaunches().size(), 1u);
    time->advance(1);
    ASSERT_TRUE(link->answer(Op::activate, Action::groupNotFound));
    time->runUntilIdle();

    EXPECT_EQ(chromeLaunches(), (std::vector<QStringList>{profileLaunch(), profileLaunch()}));
    EXPECT_EQ(noteLaunches(), 1); // only the first launch was noted
    ASSERT_EQ(notifications->shown.size(), 1u);
    EXPECT_EQ(
        notifications->shown[0].body,
        QStringLiteral(
            "Work Mail opened Work instead. Chrome no longer offers a tab group called \u201CInbox\u201D "
            "\u2014 it may have been renamed, or closed without having been saved."));
    time->advance(30);
    EXPECT_EQ(link->count(Op::activate), 2);
}

TEST_F(TabGroupTest, AMissingGroupAtStartBringsChromeForwardWithoutClaimingAWindowWasOpened) {
    chromeRuns();
    startWithHelper();
    EXPECT_EQ(link->sent.back().timeout, 12.0);
    link->answer(Op::activate, Action::groupNotFound);
    time->runUntilIdle();

    EXPECT_TRUE(chromeLaunches().empty());
    EXPECT_EQ(workspace->activated, std::vector<qint32>{chromePID});
    ASSERT_EQ(notifications->shown.size(), 1u);
    EXPECT_EQ(notifications->shown[0].title, QStringLiteral("\u201CInbox\u201D isn't open"));
    EXPECT_EQ(
        notifications->shown[0].body,
        QStringLiteral("Chrome no longer offers a tab group called \u201CInbox\u201D \u2014 it may have been "
                       "renamed, or closed without having been saved."));

    // The same situation again within five minutes, from any app: no second notice.
    reopen();
    link->answer(Op::activate, Action::groupNotFound);
    time->runUntilIdle();
    EXPECT_EQ(notifications->shown.size(), 1u);
}

TEST_F(TabGroupTest, ConnectedLinksGoToTheRaisedGroupOrIntoTheProfile) {
    chromeRuns();
    startWithHelper();
    link->answer(Op::activate, Action::raised);
    time->advance(1);
    EXPECT_TRUE(chromeLaunches().empty()); // a raise without links delivers nothing

    openLinks({link1});
    link->answer(Op::activate, Action::raised);
    time->advance(0.2);
    EXPECT_EQ(chromeLaunches(), std::vector<QStringList>{profileLaunch({link1.toString()})});

    openLinks({link2});
    time->advance(12); // no answer: the links open in the profile, unannounced
    ASSERT_EQ(chromeLaunches().size(), 2u);
    EXPECT_EQ(chromeLaunches()[1], profileLaunch({link2.toString()}));
    EXPECT_EQ(noteLaunches(), 0);
}

TEST_F(TabGroupTest, LinksPutBackForTheHelperOpenInTheProfileWhenItDoesNotCome) {
    chromeRuns();
    start();
    openLinks({link1});
    time->advance(3.9);
    EXPECT_TRUE(chromeLaunches().empty());
    time->advance(0.2);
    EXPECT_EQ(chromeLaunches(), std::vector<QStringList>{profileLaunch({link1.toString()})});
    reopen(); // nothing left to send again
    time->advance(5);
    EXPECT_EQ(chromeLaunches(),
              (std::vector<QStringList>{profileLaunch({link1.toString()}), profileLaunch()}));
}

// A launcher that ends while links still wait on the group's road gives them to Chrome in the profile first,
// once: their sender was told they were handed on.
struct EndingWithLinksTest : TabGroupTest {
    void endsAndOpensInTheProfile(const std::vector<QStringList>& before) {
        EXPECT_EQ(chromeLaunches(), before);
        host.application().terminate();
        ASSERT_TRUE(terminated());
        auto expected = before;
        expected.push_back(profileLaunch({link1.toString()}));
        EXPECT_EQ(chromeLaunches(), expected);
        time->advance(60);
        EXPECT_EQ(chromeLaunches(), expected) << "a link went to Chrome twice";
    }
};

TEST_F(EndingWithLinksTest, WhileTheGroupIsAskedFor) {
    chromeRuns();
    startWithHelper();
    link->answer(Op::activate, Action::raised);
    openLinks({link1});
    ASSERT_EQ(link->unanswered(Op::activate), 1);
    endsAndOpensInTheProfile({});
}

TEST_F(EndingWithLinksTest, WhileTheGroupsWindowComesForward) {
    chromeRuns();
    startWithHelper();
    link->answer(Op::activate, Action::raised);
    openLinks({link1});
    link->answer(Op::activate, Action::raised);
    time->advance(0.1);
    endsAndOpensInTheProfile({});
}

TEST_F(EndingWithLinksTest, WhileTheGroupIsRetriedAsChromeStarts) {
    start(host::AppleEvent::forOpening({link1}, std::nullopt));
    time->advance(2);
    endsAndOpensInTheProfile({profileLaunch()});
}

TEST_F(EndingWithLinksTest, WhileTheHelperIsAwaited) {
    chromeRuns();
    start();
    openLinks({link1});
    time->advance(1);
    endsAndOpensInTheProfile({});
}

} // namespace
