#include "CorvaneHelper/WindowTracking/ChromeMenuDriver.h"
#include "Support/FakeChromeWorld.h"
#include "Support/LogCapture.h"

#include <gtest/gtest.h>

using ChromeMenuDriver::Matcher;
using test::FakeChromeWorld;
using test::makeNode;
using test::Node;

namespace {

class MenuDriverTest : public testing::Test {
protected:
    void SetUp() override {
        world().launchChrome();
        window = world().openWindow("Inbox - Chromium - Work", QStringLiteral("Work"));
        anchor = FakeChromeWorld::appMenuButton(window);
    }

    void choose(const QList<Matcher>& matchers, const QString& action = QStringLiteral("AXPress")) {
        ChromeMenuDriver::choose(matchers, FakeChromeWorld::element(anchor), action,
                                 FakeChromeWorld::element(world().app()),
                                 [this](bool ok) { chosen.push_back(ok); });
    }
    void list(const QList<Matcher>& path) {
        ChromeMenuDriver::list(path, FakeChromeWorld::element(anchor), QStringLiteral("AXPress"),
                               FakeChromeWorld::element(world().app()),
                               [this](QStringList labels) { listed.push_back(labels); });
    }
    FakeChromeWorld& world() { return host.world(); }

    test::ChromeWorldScope host;
    test::LogCapture log;
    Node window;
    Node anchor;
    std::vector<bool> chosen;
    std::vector<QStringList> listed;
};

TEST_F(MenuDriverTest, AnEmptyPathOrARefusingAnchorFailsWithoutEscape) {
    choose({});
    list({});
    EXPECT_EQ(world().actionsOn(anchor, "AXPress"), 0);
    anchor->actions.insert("AXPress", [] { return host::AXError::cannotComplete; });
    choose({Matcher::loosely({"Tab groups"})});
    list({Matcher::loosely({"Tab groups"})});
    EXPECT_EQ(chosen, (std::vector<bool>{false, false}));
    EXPECT_EQ(listed, (std::vector<QStringList>{{}, {}}));
    EXPECT_EQ(log.count("Chrome refused AXPress on the anchor"), 2);
    EXPECT_EQ(world().escapePresses, 0);
}

TEST_F(MenuDriverTest, AChosenPathPressesEachItemAndClosesItsMenus) {
    world().opensMenu(anchor, "AXPress", {"New tab", "Tab groups"});
    world().submenus.insert("Tab groups",
                            {"Create new tab group", "  Work - Home group - 2 tabs", "Work group - 1 tab"});
    choose({Matcher::loosely({"Tab Groups"}), Matcher::group("Work")});
    // The menus were on screen at once: the answer came before choose returned.
    EXPECT_EQ(chosen, std::vector<bool>{true});
    EXPECT_EQ(world().escapePresses, 2);
    bool pressedWork = false;
    for (const auto& entry : world().performed)
        if (entry.node->title == "Work group - 1 tab" && entry.action == "AXPress")
            pressedWork = true;
    EXPECT_TRUE(pressedWork);
}

// A step that applies only where the press before it opens a menu (Chromium's menu of each tab group).
TEST_F(MenuDriverTest, AStepForAMenuThatMayNotOpenIsSkippedOnlyWhenNoMenuOpens) {
    world().opensMenu(anchor, "AXPress", {"Tab groups"});
    world().submenus.insert("Tab groups", {" Work group - Closed", " Home group - Closed"});
    world().submenus.insert(" Home group - Closed", {"Open group in new window", "Delete group"});
    choose({Matcher::loosely({"Tab groups"}), Matcher::group("Work"),
            Matcher::looselyIfAMenuOpens({"Open group"})});
    EXPECT_TRUE(chosen.empty());
    host.time().advance(ChromeMenuDriver::surfaceWait);
    EXPECT_EQ(chosen, std::vector<bool>{true});
    EXPECT_EQ(world().escapePresses, 2);

    choose({Matcher::loosely({"Tab groups"}), Matcher::group("Home"),
            Matcher::looselyIfAMenuOpens({"Move group"})});
    EXPECT_EQ(chosen, (std::vector<bool>{true, false}));
    EXPECT_TRUE(
        log.contains("nothing matched Move group; surface offered: Open group in new window | Delete group"));
    EXPECT_EQ(world().escapePresses, 5);
}

TEST_F(MenuDriverTest, AMenuLaterThanTwoSecondsFailsTheRun) {
    world().opensMenu(anchor, "AXPress", {"Tab groups"}, 2.5);
    choose({Matcher::loosely({"Tab groups"})});
    host.time().advance(2.0);
    EXPECT_EQ(chosen, std::vector<bool>{false});
    EXPECT_TRUE(log.contains("Chrome surface for Tab groups never appeared"));
    EXPECT_EQ(world().escapePresses, 0);
    host.time().advance(1);
    EXPECT_EQ(chosen.size(), 1u);
}

TEST_F(MenuDriverTest, WindowsWithoutItemsAndWindowsOpenBeforeAreNoSurface) {
    const Node before = world().openMenu({"Old entry"});
    anchor->actions.insert("AXPress", [&] {
        world().openPlainWindow("AXUnknown"); // a bubble without items
        host::mainQueue().schedule(0.5, [&] { world().openMenu({"Tab groups"}); });
        return host::AXError::success;
    });
    world().escapeClosesMenus = false;
    choose({Matcher::loosely({"Tab groups"})});
    EXPECT_TRUE(chosen.empty());
    host.time().advance(0.5);
    EXPECT_EQ(chosen, std::vector<bool>{true});
    // What the run opened does not close here: five Escapes at most.
    EXPECT_EQ(world().escapePresses, 5);
    EXPECT_EQ(world().actionsOn(before->children.first(), "AXPress"), 0);
}

TEST_F(MenuDriverTest, ABrowserWindowThatThePressOpenedIsNotEscapedInto) {
    world().opensMenu(anchor, "AXPress", {"New window"});
    world().itemPresses.insert("New window", [&] { world().openWindow("New Tab"); });
    choose({Matcher::loosely({"New window"})});
    EXPECT_EQ(chosen, std::vector<bool>{true});
    // One Escape closes the menu; the new window is the user's and gets none.
    EXPECT_EQ(world().escapePresses, 1);
}

TEST_F(MenuDriverTest, NothingMatchingIsLoggedWithWhatTheMenuOffered) {
    world().opensMenu(anchor, "AXPress", {"New tab", "", "History"});
    choose({Matcher::loosely({"Tab groups"})});
    EXPECT_EQ(chosen, std::vector<bool>{false});
    EXPECT_TRUE(log.contains("nothing matched Tab groups; surface offered: New tab | History"));
    EXPECT_EQ(world().escapePresses, 1);
}

TEST_F(MenuDriverTest, AListNamesTheAnchorWhenTheLastMenuNeverOpens) {
    world().opensMenu(anchor, "AXPress", {"Tab groups"});
    list({Matcher::loosely({"Tab groups"})});
    host.time().advance(2.1);
    EXPECT_EQ(listed, std::vector<QStringList>{{}});
    EXPECT_TRUE(
        log.contains("Chrome opened nothing for the anchor \u2014 it is probably not frontmost, or the "
                     "window raised is not its key window"));
}

TEST_F(MenuDriverTest, RunsTakeTurns) {
    world().opensMenu(anchor, "AXPress", {"Tab groups"}, 0.2);
    choose({Matcher::loosely({"Tab groups"})});
    list({Matcher::loosely({"Tab groups"})});
    // The second run's anchor is pressed only once the first has finished.
    EXPECT_EQ(world().actionsOn(anchor, "AXPress"), 1);
    host.time().advance(0.25);
    EXPECT_EQ(chosen, std::vector<bool>{true});
    // The first run's Escape pause holds the main thread for a moment before the next run starts.
    host.time().advance(ChromeMenuDriver::escapePause);
    EXPECT_EQ(world().actionsOn(anchor, "AXPress"), 2);
    host.time().advance(3);
    EXPECT_EQ(listed.size(), 1u);
}

TEST(MenuMatchers, GroupAndLooseMatching) {
    test::ChromeWorldScope host;
    host.world().launchChrome();
    const Node menu = host.world().openMenu(
        {"Work - Home group - 2 tabs", "   Work group - 1 tab", "work", "Workshop", "Close group"});
    const host::AXElement surface = FakeChromeWorld::element(menu);
    const auto titleOf = [](const std::optional<host::AXElement>& element) {
        return element ? FakeChromeWorld::nodeOf(*element)->title.value_or(QString())
                       : QStringLiteral("none");
    };
    EXPECT_EQ(titleOf(ChromeMenuDriver::control(Matcher::group("Work"), surface)), "   Work group - 1 tab");
    EXPECT_EQ(titleOf(ChromeMenuDriver::control(Matcher::group("Workshop"), surface)), "Workshop");
    EXPECT_EQ(titleOf(ChromeMenuDriver::control(Matcher::group("Wor"), surface)), "none");
    EXPECT_EQ(titleOf(ChromeMenuDriver::control(Matcher::group(""), surface)), "none");
    EXPECT_EQ(titleOf(ChromeMenuDriver::control(Matcher::group("WORK"), surface)), "none");
    // An earlier title wins even when a later one's item comes first.
    EXPECT_EQ(titleOf(ChromeMenuDriver::control(Matcher::loosely({"close GROUP", "work"}), surface)),
              "Close group");
    // A control without a title is matched by its description.
    menu->add(makeNode("AXButton", QStringLiteral(""), QStringLiteral("Move group to new window")));
    EXPECT_EQ(FakeChromeWorld::nodeOf(*ChromeMenuDriver::control(Matcher::loosely({"move group"}), surface))
                  ->description,
              QStringLiteral("Move group to new window"));
}

} // namespace
