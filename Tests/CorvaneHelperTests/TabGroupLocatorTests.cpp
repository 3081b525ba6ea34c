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
