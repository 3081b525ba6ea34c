#include "CorvaneHelper/WindowTracking/AX.h"
#include "CorvaneHelper/WindowTracking/WindowActions.h"
#include "Support/FakeChromeWorld.h"
#include "Support/LogCapture.h"

#include <gtest/gtest.h>

using test::FakeChromeWorld;
using test::Node;

namespace {

class WindowActionsTest : public testing::Test {
protected:
    void SetUp() override { world().launchChrome(); }

    // Closes `windows` with the tracker's per-window time-out; the outcomes reported so far.
    void close(const QList<Node>& windows, double budget) {
        QList<host::AXElement> elements;
        for (const Node& window : windows)
            elements.append(FakeChromeWorld::element(window));
        WindowActions::close(
            elements, budget, 1.5,
            [](const host::AXElement& window) {
                return AX::string(window, QStringLiteral("AXRole")).has_value();
            },
            [this](CloseOutcome outcome) { outcomes.push_back(outcome); });
    }
    FakeChromeWorld& world() { return host.world(); }

    test::ChromeWorldScope host;
    test::LogCapture log;
    std::vector<CloseOutcome> outcomes;
};

TEST_F(WindowActionsTest, NothingToCloseOrNoBudgetAnswersAtOnce) {
    close({}, 6);
    const Node window = world().openWindow("a");
    close({window}, 0);
    close({window}, -3);
    EXPECT_EQ(outcomes, (std::vector<CloseOutcome>{{0, 0, false}, {0, 1, false}, {0, 1, false}}));
    EXPECT_EQ(world().actionsOn(window->closeButton, "AXPress"), 0);
}

TEST_F(WindowActionsTest, AWindowAlreadyGoneCountsAsClosedWithoutAPress) {
    const Node gone = world().openWindow("a");
    const Node open = world().openWindow("b");
    world().closeWindow(gone, false);
    close({gone, open}, 6);
    EXPECT_EQ(outcomes, (std::vector<CloseOutcome>{{2, 0, false}}));
    EXPECT_EQ(world().actionsOn(gone->closeButton, "AXPress"), 0);
}

TEST_F(WindowActionsTest, APageDialogEndsTheRunAsBlockedAndLeavesTheRestAlone) {
    const Node first = world().openWindow("a");
    const Node second = world().openWindow("b");
    const Node third = world().openWindow("c");
    second->closeButton->actions.insert("AXPress", [&] {
        world().addSheet(second);
        return host::AXError::success;
    });
    close({first, second, third}, 6);
    EXPECT_TRUE(outcomes.empty());
    host.time().advance(1.5);
    EXPECT_EQ(outcomes, (std::vector<CloseOutcome>{{1, 2, true}}));
    EXPECT_EQ(world().actionsOn(third->closeButton, "AXPress"), 0);
    EXPECT_TRUE(log.contains("close blocked by a page dialog; leaving it for the user"));
    host.time().advance(10);
    EXPECT_EQ(outcomes.size(), 1u);
}

TEST_F(WindowActionsTest, AWindowThatIgnoresThePressIsSkippedWithinTheBudget) {
    const Node stubborn = world().openWindow("a");
    const Node next = world().openWindow("b");
    const Node last = world().openWindow("c");
    stubborn->closeButton->actions.insert("AXPress", [] { return host::AXError::success; });
    next->closeButton->actions.insert("AXPress", [] { return host::AXError::success; });
    close({stubborn, next, last}, 2);
    host.time().advance(1.5);
    EXPECT_TRUE(outcomes.empty());
    // The second wait started before the deadline runs out; the third window is never tried.
    host.time().advance(1.6);
    EXPECT_EQ(outcomes, (std::vector<CloseOutcome>{{0, 1, false}}));
    EXPECT_EQ(world().actionsOn(last->closeButton, "AXPress"), 0);
}

TEST_F(WindowActionsTest, AWindowWithoutCloseButtonIsLeftUncounted) {
    const Node window = world().openWindow("a");
    window->closeButton.reset();
    close({window}, 6);
    EXPECT_EQ(outcomes, (std::vector<CloseOutcome>{{0, 0, false}}));
}

TEST_F(WindowActionsTest, RaisingUnminimisesAndFocuses) {
    const Node back = world().openWindow("a");
    world().openWindow("b");
    world().minimize(back);
    WindowActions::raise(FakeChromeWorld::element(back));
    EXPECT_EQ(back->attributes.value("AXMinimized"), host::AXValue(false));
    EXPECT_EQ(back->attributes.value("AXMain"), host::AXValue(true));
    EXPECT_EQ(AX::element(FakeChromeWorld::element(world().app()), "AXFocusedWindow"),
              FakeChromeWorld::element(back));
    EXPECT_EQ(world().actionsOn(back, "AXRaise"), 1);
}

} // namespace
