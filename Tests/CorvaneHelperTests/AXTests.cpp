#include "CorvaneHelper/WindowTracking/AX.h"
#include "Support/FakeChromeWorld.h"

#include <gtest/gtest.h>

using test::FakeChromeWorld;
using test::makeNode;
using test::Node;

namespace {

class AXTest : public testing::Test {
protected:
    // root (AXTabGroup) -> [a (AXGroup) -> [c (AXButton)], b (AXScrollArea) -> [d (AXButton)]]
    void SetUp() override {
        root = makeNode(QStringLiteral("AXTabGroup"));
        a = root->add(makeNode(QStringLiteral("AXGroup"), QStringLiteral("a")));
        b = root->add(makeNode(QStringLiteral("AXScrollArea"), QStringLiteral("b")));
        c = a->add(makeNode(QStringLiteral("AXButton"), QStringLiteral("c")));
        d = b->add(makeNode(QStringLiteral("AXButton"), QStringLiteral("d")));
    }

    // The titles of the elements tested, in order, until the search ends.
    QStringList visits(int maxDepth, int maxElements, const QSet<QString>& skip = AX::skipRoles()) {
        QStringList seen;
        AX::findDescendant(FakeChromeWorld::element(root), maxDepth, maxElements, skip,
                           [&](const host::AXElement& element, const QString&) {
                               seen.append(AX::string(element, QStringLiteral("AXTitle")).value_or("root"));
                               return false;
                           });
        return seen;
    }

    test::ChromeWorldScope host;
    Node root, a, b, c, d;
};

TEST_F(AXTest, TheSearchIsBreadthFirstWithinItsBounds) {
    // The root is expanded although its role is skipped; the scroll area below it is not.
    EXPECT_EQ(visits(10, 2000), (QStringList{"root", "a", "b", "c"}));
    EXPECT_EQ(visits(10, 2000, {}), (QStringList{"root", "a", "b", "c", "d"}));
    EXPECT_EQ(visits(0, 2000), QStringList{"root"});
    EXPECT_EQ(visits(10, 1), QStringList{"root"});
    EXPECT_TRUE(visits(10, 0).isEmpty());
    EXPECT_EQ(visits(10, 3), (QStringList{"root", "a", "b"}));
}

TEST_F(AXTest, AnElementWithoutARoleIsTestedAsUnknownAndStillExpanded) {
    a->role.clear(); // the fake answers no role for it
    QStringList roles;
    AX::findDescendant(FakeChromeWorld::element(root), 10, 2000, AX::skipRoles(),
                       [&](const host::AXElement&, const QString& role) {
                           roles.append(role);
                           return false;
                       });
    EXPECT_EQ(roles, (QStringList{"AXTabGroup", "?", "AXScrollArea", "AXButton"}));
    // A search for a skipped role finds it: the test comes before the skip rule.
    const auto found = AX::findDescendant(
        FakeChromeWorld::element(root), 10, 2000, AX::skipRoles(),
        [&](const host::AXElement&, const QString& role) { return role == QStringLiteral("AXTabGroup"); });
    EXPECT_EQ(found, FakeChromeWorld::element(root));
}

// The route a search took leads to the same place in a tree built alike, and to nothing where the tree is
// built otherwise: another role there, a skipped role on the way, a child that is not there.
TEST_F(AXTest, TheRouteToAFoundElementLeadsThereInATreeBuiltAlike) {
    const auto isButton = [](const host::AXElement&, const QString& role) {
        return role == QStringLiteral("AXButton");
    };
    AX::Route route;
    EXPECT_EQ(AX::findDescendant(FakeChromeWorld::element(root), 10, 2000, {}, isButton, &route),
              FakeChromeWorld::element(c));
    EXPECT_EQ(route, (AX::Route{0, 0}));

    const Node alike = makeNode(QStringLiteral("AXWindow"));
    const Node group = alike->add(makeNode(QStringLiteral("AXGroup")));
    const Node button = group->add(makeNode(QStringLiteral("AXButton"), QStringLiteral("e")));
    EXPECT_EQ(AX::followRoute(FakeChromeWorld::element(alike), route, AX::skipRoles(), isButton),
              FakeChromeWorld::element(button));
    EXPECT_EQ(AX::followRoute(FakeChromeWorld::element(root), {1, 0}, {}, isButton),
              FakeChromeWorld::element(d));
    EXPECT_FALSE(AX::followRoute(FakeChromeWorld::element(root), {1, 0}, AX::skipRoles(), isButton))
        << "the way leads through a scroll area";
    EXPECT_FALSE(AX::followRoute(FakeChromeWorld::element(root), {0}, {}, isButton)) << "a group is there";
    EXPECT_FALSE(AX::followRoute(FakeChromeWorld::element(root), {0, 1}, {}, isButton)) << "no such child";
}

TEST_F(AXTest, ReadsOfAnotherTypeAreAbsent) {
    c->attributes.insert(QStringLiteral("AXMinimized"), QStringLiteral("yes"));
    c->attributes.insert(QStringLiteral("AXParent"), 3.0);
    const host::AXElement element = FakeChromeWorld::element(c);
    EXPECT_FALSE(AX::boolean(element, QStringLiteral("AXMinimized")));
    EXPECT_FALSE(AX::element(element, QStringLiteral("AXParent")));
    EXPECT_FALSE(AX::element(element, QStringLiteral("AXTitle")));
    EXPECT_TRUE(AX::windows(element).isEmpty());
    EXPECT_TRUE(AX::children(element).isEmpty());
    EXPECT_TRUE(AX::domClasses(element).isEmpty());
}

TEST_F(AXTest, TwoReadsOfTheSameWindowAreOneKey) {
    const AXWindowRef first{FakeChromeWorld::element(c)};
    const AXWindowRef again{FakeChromeWorld::element(c)};
    const AXWindowRef other{FakeChromeWorld::element(d)};
    EXPECT_EQ(first, again);
    EXPECT_EQ(std::hash<AXWindowRef>()(first), std::hash<AXWindowRef>()(again));
    EXPECT_NE(first, other);
}

} // namespace
