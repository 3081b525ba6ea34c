#include "CorvaneHelper/WindowTracking/TabGroupLocator.h"
#include "Support/FakeChromeWorld.h"

#include <gtest/gtest.h>

using test::FakeChromeWorld;
using test::makeNode;
using test::Node;

namespace {

class LocatorTest : public testing::Test {
protected:
    void SetUp() override {
        host.world().launchChrome();
        window = host.world().openWindow("Inbox - Chromium - Work", QStringLiteral("Work"));
        strip = FakeChromeWorld::tabStrip(window);
    }
    host::AXElement element(const Node& node) { return FakeChromeWorld::element(node); }
    Node header(const QString& description) {
        return strip->add(makeNode("AXButton", {}, description, {"TabGroupHeader"}));
    }
    Node tab(const QString& description) {
        return strip->add(makeNode("AXRadioButton", {}, description, {"Tab"}));
    }

    test::ChromeWorldScope host;
    Node window;
    Node strip;
};

TEST(TabGroupNames, HeaderDescriptionsAndMenuLabelsGiveTheName) {
    using TabGroupLocator::groupName;
    using TabGroupLocator::parseName;
    EXPECT_EQ(parseName("Group Work - 3 tabs"), QStringLiteral("Work"));
    EXPECT_EQ(parseName("   Group Work"), QStringLiteral("Work"));
    EXPECT_FALSE(parseName("Group"));
    EXPECT_FALSE(parseName("   Group"));
    EXPECT_EQ(parseName("Group A - B - \"Inbox\" - C"), QStringLiteral("A - B"));
    EXPECT_EQ(parseName("Group A - B - 2 tabs"), QStringLiteral("A - B"));
    EXPECT_FALSE(parseName("Group  - 2 tabs"));
    EXPECT_EQ(groupName("  Travel group - 4 tabs"), QStringLiteral("Travel"));
    EXPECT_EQ(groupName("A group - B group - 1 tab"), QStringLiteral("A group - B"));
    EXPECT_FALSE(groupName("Create new tab group"));
    EXPECT_FALSE(groupName(" group - 1 tab"));
}

// Chromium on this desktop lists the group's tabs and its state after the name.
TEST(TabGroupNames, ChromiumHeadersGiveTheNameBeforeTheirTabList) {
    using TabGroupLocator::parseName;
    EXPECT_EQ(parseName(" group Research - 2 tabs, \u2022  research-one, \u2022  research-two - Expanded"),
              QStringLiteral("Research"));
    EXPECT_EQ(parseName(" group Shelf - 1 tab, \u2022  shelf - one - Collapsed"), QStringLiteral("Shelf"));
    // Names and titles that hold the separators, bullets, digits and the word "group".
    EXPECT_EQ(parseName(" group A - 3 tabs, \u2022  x group 7 - 1 tab, \u2022  odd - 2 tabs - Expanded"),
              QStringLiteral("A - 3 tabs, \u2022  x group 7"));
    EXPECT_EQ(parseName(" group Work - Home - 2 tabs, \u2022  a - 1 tab, \u2022  b - Collapsed"),
              QStringLiteral("Work - Home"));
    EXPECT_EQ(parseName(" group group - 1 tab, \u2022  g - Expanded"), QStringLiteral("group"));
    // A group without a name has none, on its header, its saved-group button and in the app menu.
    EXPECT_FALSE(parseName(" unnamed group - 2 tabs, \u2022  one, \u2022  two - Expanded"));
    EXPECT_FALSE(TabGroupLocator::groupName(" unnamed group - Opened"));
    EXPECT_FALSE(TabGroupLocator::groupName(" 2 tabs group - Closed"));
    EXPECT_EQ(TabGroupLocator::groupName(" Research group - Opened"), QStringLiteral("Research"));
    EXPECT_EQ(TabGroupLocator::groupName(" A - 3 tabs, \u2022  x group 7 group - Opened"),
              QStringLiteral("A - 3 tabs, \u2022  x group 7"));
}

TEST_F(LocatorTest, ChromiumGroupsAreFoundByTheirExactNames) {
    tab("Start");
    const Node research = host.world().addChromiumGroup(window, "Research", {"research-one", "research-two"});
    host.world().addChromiumGroup(window, "Research - Old", {"old-one"});
    host.world().addChromiumGroup(window, "", {"nameless"});
    const Node shelf = host.world().addChromiumGroup(window, "Shelf", {"shelf-one"}, true);
    const Node second = host.world().addChromiumGroup(window, "Research", {"again"});
    tab("work-other - Memory usage - 22.5 MB");
    EXPECT_EQ(TabGroupLocator::groupNames(element(strip)),
              (QStringList{"Research", "Research - Old", "Shelf", "Research"}));

    const auto first = TabGroupLocator::group("Research", element(strip));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->header, element(research));
    EXPECT_EQ(first->tabCount, 2);
    EXPECT_FALSE(first->expandsOnPress);
    EXPECT_EQ(TabGroupLocator::group("Research - Old", element(strip))->tabCount, 1);
    EXPECT_FALSE(TabGroupLocator::group("Res", element(strip)));

    const auto collapsed = TabGroupLocator::group("Shelf", element(strip));
    ASSERT_TRUE(collapsed);
    EXPECT_TRUE(collapsed->isCollapsed);
    EXPECT_TRUE(collapsed->expandsOnPress);
    EXPECT_FALSE(collapsed->firstTab);

    // Only the exact name finds a group: "Research - Old" is not "Research" with a tab list.
    strip->children.removeAll(research);
    strip->children.removeAll(second);
    EXPECT_FALSE(TabGroupLocator::group("Research", element(strip)));
    EXPECT_EQ(TabGroupLocator::group("Shelf", element(strip))->header, element(shelf));
}

TEST_F(LocatorTest, AGroupIsItsHeaderAndTheRunOfItsTabs) {
    tab("Start");
    header("Group Work - 2 tabs");
    const Node first = tab("Mail - Part of group Work");
    tab("Docs - Part of group Work");
    tab("News - Part of group Home");
    header("Group Home - 1 tab");
    EXPECT_EQ(TabGroupLocator::groupNames(element(strip)), (QStringList{"Work", "Home"}));
    const auto work = TabGroupLocator::group("Work", element(strip));
    ASSERT_TRUE(work);
    EXPECT_EQ(work->tabCount, 2);
    EXPECT_EQ(work->firstTab, element(first));
    EXPECT_FALSE(work->isCollapsed);
    // A header with nothing of its own after it is collapsed.
    const auto collapsed = TabGroupLocator::group("Home", element(strip));
    ASSERT_TRUE(collapsed);
    EXPECT_TRUE(collapsed->isCollapsed);
    EXPECT_FALSE(collapsed->firstTab);
    EXPECT_FALSE(TabGroupLocator::group("", element(strip)));
    // Accents spelled with combining marks in Chrome and composed in the request are the same name.
    header("Group Re\u0301sume\u0301 - 1 tab");
    tab("CV - Part of group Re\u0301sume\u0301");
    EXPECT_EQ(TabGroupLocator::group("R\u00e9sum\u00e9", element(strip))->tabCount, 1);
    EXPECT_FALSE(TabGroupLocator::group("Travel", element(strip)));
    EXPECT_EQ(TabGroupLocator::tabCount(element(strip)), 5);
}

TEST_F(LocatorTest, TheRunStopsAtATabWithoutDescriptionOrANonTab) {
    header("Group Work - 3 tabs");
    tab("Mail - Part of group Work");
    strip->add(makeNode("AXRadioButton", QStringLiteral("No description"), {}, {"Tab"}));
    tab("Docs - Part of group Work");
    EXPECT_EQ(TabGroupLocator::group("Work", element(strip))->tabCount, 1);
}

TEST_F(LocatorTest, AnExactNameWinsOverAnEarlierGroupWhoseNameStartsWithIt) {
    const Node longer = header("Group Work - Home - 1 tab");
    tab("Mail - Part of group Work - Home");
    const Node exact = header("Group Work - 1 tab");
    tab("Docs - Part of group Work");
    EXPECT_EQ(TabGroupLocator::group("Work", element(strip))->header, element(exact));
    EXPECT_EQ(TabGroupLocator::group("Work - Home", element(strip))->header, element(longer));
    // With no exact header, the prefix rule still finds the group.
    strip->children.removeAll(exact);
    EXPECT_EQ(TabGroupLocator::group("Work", element(strip))->header, element(longer));
}

TEST_F(LocatorTest, SavedChipsAreListedByLabelAndFoundByName) {
    host.world().addSavedChip(window, "  Travel group - 4 tabs");
    const Node plain = host.world().addSavedChip(window, "Reading");
    EXPECT_EQ(TabGroupLocator::savedGroupNames(element(window)), QStringList{"Travel"});
    EXPECT_EQ(TabGroupLocator::savedChip("Reading", element(window)), element(plain));
    EXPECT_TRUE(TabGroupLocator::savedChip("Travel", element(window)));
    EXPECT_FALSE(TabGroupLocator::savedChip("Trav", element(window)));
    EXPECT_FALSE(TabGroupLocator::savedChip("", element(window)));
    EXPECT_EQ(TabGroupLocator::appMenuButton(element(window)),
              element(FakeChromeWorld::appMenuButton(window)));
}

} // namespace
