// Quitting, with and without closing the profile's windows first.
#include "StubFixture.h"

namespace {

using Op = Request::Op;
using QuitTest = test::StubFixture;

struct CloseOnQuitTest : test::StubFixture {
    void SetUp() override {
        StubFixture::SetUp();
        config.closeOnQuit = true;
        chromeRuns();
        startWithHelper();
        helperTrusted();
        link->answer(Op::activate, Response::Action::raised);
        link->push(windowsEvent(1));
    }
    void quit() { host.application().terminate(); }
    const std::vector<bool>& replies() { return host.application().replies; }
};

TEST_F(QuitTest, WithoutCloseOnQuitTheHelperIsNeverAsked) {
    startWithHelper();
    host.application().terminate();
    EXPECT_TRUE(terminated());
    EXPECT_EQ(link->count(Op::closeWindows), 0);
}

TEST_F(CloseOnQuitTest, QuitsOnceTheHelperHasClosedTheWindowsWhateverTheCounts) {
    quit();
    ASSERT_EQ(link->count(Op::closeWindows), 1);
    EXPECT_EQ(link->sent.back().timeout, 8.0);
    EXPECT_EQ(link->sent.back().request.timeout, 6.0);
    EXPECT_FALSE(terminated());

    // Menu, SIGTERM or the drain asking again while the answer is pending change nothing.
    quit();
    EXPECT_EQ(link->count(Op::closeWindows), 1);

    link->answer(Op::closeWindows, [](Response& response) {
        response.closed = 0;
        response.remaining = 2;
        response.blocked = false;
    });
    EXPECT_TRUE(terminated());
    time->advance(20);
    EXPECT_EQ(replies(), std::vector<bool>{true});
    EXPECT_EQ(link->shutdowns, 1);
}

TEST_F(CloseOnQuitTest, ABlockedCloseShowsTheAlertAndKeepsRunningEvenPastTheSafetyReply) {
    quit();
    link->answer(Op::closeWindows, [](Response& response) { response.blocked = true; });
    EXPECT_EQ(workspace->activated.back(), chromePID);
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].messageText,
              QStringLiteral("Chrome is asking you to confirm before leaving a page."));
    EXPECT_EQ(alerts->shown[0].informativeText,
              QStringLiteral(
                  "Work Mail did not quit, so you don't lose anything. Answer Chrome's prompt, then quit "
                  "again."));
    EXPECT_EQ(alerts->shown[0].buttons, QStringList{QStringLiteral("OK")});

    time->advance(15); // the alert stays open past the safety reply
    EXPECT_TRUE(replies().empty());
    alerts->dismiss();
    time->advance(15);
    EXPECT_EQ(replies(), std::vector<bool>{false});
    EXPECT_FALSE(terminated());

    // Quitting again after answering Chrome sends a new request.
    quit();
    EXPECT_EQ(link->count(Op::closeWindows), 2);
    link->answer(Op::closeWindows, [](Response&) {});
    EXPECT_TRUE(terminated());
    EXPECT_EQ(replies(), (std::vector<bool>{false, true}));
}

TEST_F(CloseOnQuitTest, AHelperThatDoesNotAnswerLetsTheAppQuitAfterTheTimeOut) {
    quit();
    time->advance(7.9);
    EXPECT_FALSE(terminated());
    time->advance(0.2);
    EXPECT_TRUE(terminated());
    time->advance(5);
    EXPECT_EQ(replies(), std::vector<bool>{true});
}

TEST_F(CloseOnQuitTest, TheSafetyReplyQuitsWhenNoAnswerCameAtAllAndALateAnswerChangesNothing) {
    link->honoursTimeouts = false;
    quit();
    time->advance(8.9);
    EXPECT_FALSE(terminated());
    time->advance(0.2);
    EXPECT_TRUE(terminated());
    link->answer(Op::closeWindows, [](Response& response) { response.blocked = true; });
    EXPECT_TRUE(alerts->shown.empty());
    EXPECT_EQ(replies(), std::vector<bool>{true});
}

TEST_F(CloseOnQuitTest, SelfQuitNeverAsksTheHelperToClose) {
    link->push(windowsEvent(0));
    time->advance(2);
    EXPECT_TRUE(terminated());
    EXPECT_EQ(link->count(Op::closeWindows), 0);
    EXPECT_TRUE(log.contains(QStringLiteral("terminating (selfQuit=true, liveness=draining)")));
}

TEST_F(CloseOnQuitTest, WithoutTheHelperItQuitsAtOnceLeavingTheWindows) {
    link->helperLeaves();
    quit();
    EXPECT_TRUE(terminated());
    EXPECT_EQ(link->count(Op::closeWindows), 0);
}

TEST_F(CloseOnQuitTest, AHelperThatLeavesWhileClosingLetsTheAppQuit) {
    quit();
    link->helperLeaves();
    EXPECT_TRUE(terminated());
    EXPECT_EQ(replies(), std::vector<bool>{true});
}

} // namespace
