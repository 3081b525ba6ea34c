#include "CorvaneHelper/WindowTracking/ProfileClassifier.h"
#include "Support/FakeChromeWorld.h"

#include <functional>
#include <gtest/gtest.h>

using test::FakeChromeWorld;
using test::Node;

namespace {

ChromeProfile profile(const QString& directory, const QString& name, const QString& gaiaName = {}) {
    ChromeProfile made;
    made.directory = directory;
    made.name = name;
    made.gaiaName = gaiaName;
    return made;
}

class ClassifierTest : public testing::Test {
protected:
    void SetUp() override { host.world().launchChrome(); }

    Classification classify(const Node& window, std::optional<QString> attributed = {},
                            std::optional<QString> parent = {}) {
        return classifier.classify(FakeChromeWorld::element(window), attributed, parent);
    }

    test::ChromeWorldScope host;
    ProfileClassifier classifier{{profile("Default", "Work"), profile("Profile 1", "Home")}};
};

TEST_F(ClassifierTest, TheChipNamesTheProfileAndAnUnknownChipFallsBackToTheTitle) {
    const Node chip = host.world().openWindow("Inbox", QStringLiteral("Home"));
    EXPECT_EQ(classify(chip), (Classification{"Profile 1", ClassificationSource::chip, WindowKind::browser}));
    const Node unknown = host.world().openWindow("Inbox - Chromium - Work", QStringLiteral("Guest"));
    EXPECT_EQ(classify(unknown),
              (Classification{"Default", ClassificationSource::title, WindowKind::browser}));
    // Attribution wins over everything; the parent is never used for an ordinary window.
    EXPECT_EQ(classify(chip, QStringLiteral("Default")).source, ClassificationSource::attributed);
    const Node none = host.world().openWindow("New Tab");
    EXPECT_EQ(classify(none, {}, QStringLiteral("Default")), (Classification{{}, {}, WindowKind::browser}));
}

// The classifier looks first where it found the chip and the tab strip last: windows built otherwise in turn
// (an app window has no tab strip, a toolbar may hold more) are classified all the same.
TEST_F(ClassifierTest, WindowsBuiltOtherwiseInTurnAreEachClassifiedAsTheyAre) {
    const Node browser = host.world().openWindow("Inbox", QStringLiteral("Home"));
    const Node app = host.world().openWindow("Mail - Chromium - Work", {}, FakeChromeWorld::Kind::app);
    const Node incognito = host.world().openWindow("Inbox", {}, FakeChromeWorld::Kind::incognito);
    // One window has something more before its toolbar, the next a bookmarks bar (a toolbar without the chip)
    // right after it: where the first had its toolbar, the second has the bookmarks bar.
    const auto toolbarSiblings = [](const Node& window) -> QList<Node>& {
        const Node toolbar = FakeChromeWorld::toolbar(window);
        std::function<Node(const Node&)> parentOf = [&](const Node& node) -> Node {
            for (const Node& child : node->children)
                if (child == toolbar)
                    return node;
                else if (const Node found = parentOf(child))
                    return found;
            return nullptr;
        };
        return parentOf(window)->children;
    };
    const Node shifted = host.world().openWindow("Inbox", QStringLiteral("Home"));
    QList<Node>& before = toolbarSiblings(shifted);
    before.insert(before.indexOf(FakeChromeWorld::toolbar(shifted)), test::makeNode("AXGroup", {}, "Notice"));
    const Node busier = host.world().openWindow("Inbox", QStringLiteral("Work"));
    const Node bookmarks = test::makeNode("AXToolbar", {}, "Bookmarks");
    bookmarks->add(test::makeNode("AXButton", {}, "News"));
    bookmarks->add(test::makeNode("AXPopUpButton", {}, "Other bookmarks"));
    QList<Node>& after = toolbarSiblings(busier);
    after.insert(after.indexOf(FakeChromeWorld::toolbar(busier)) + 1, bookmarks);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(classify(browser),
                  (Classification{"Profile 1", ClassificationSource::chip, WindowKind::browser}));
        EXPECT_EQ(classify(app), (Classification{"Default", ClassificationSource::title, WindowKind::app}));
        EXPECT_EQ(classify(incognito), (Classification{{}, {}, WindowKind::incognito}));
        EXPECT_EQ(classify(shifted),
                  (Classification{"Profile 1", ClassificationSource::chip, WindowKind::browser}));
        EXPECT_EQ(classify(busier),
                  (Classification{"Default", ClassificationSource::chip, WindowKind::browser}));
    }
}

TEST_F(ClassifierTest, IncognitoWindowsTakeOnlyAnAttributedOrParentProfile) {
    const Node incognito =
        host.world().openWindow("Inbox - Chromium - Work", {}, FakeChromeWorld::Kind::incognito);
    EXPECT_EQ(classify(incognito), (Classification{{}, {}, WindowKind::incognito}));
    EXPECT_EQ(classify(incognito, {}, QStringLiteral("Profile 1")),
              (Classification{"Profile 1", ClassificationSource::inherited, WindowKind::incognito}));
    EXPECT_EQ(classify(incognito, QStringLiteral("Default"), QStringLiteral("Profile 1")).source,
              ClassificationSource::attributed);
    // With no profiles known, a chip reading "Incognito" still makes the kind.
    ProfileClassifier empty;
    EXPECT_EQ(empty.kind(FakeChromeWorld::element(incognito)), WindowKind::incognito);
}

TEST_F(ClassifierTest, AWindowWithoutTabStripIsAnAppWindowClassifiedLikeAnyOther) {
    const Node app = host.world().openWindow("Mail - Chromium - Home", {}, FakeChromeWorld::Kind::app);
    EXPECT_EQ(classify(app), (Classification{"Profile 1", ClassificationSource::title, WindowKind::app}));
}

TEST_F(ClassifierTest, TheChipIsTheButtonBeforeTheMenuOrAKnownNameInTheToolbar) {
    const Node window = host.world().openWindow("x");
    const Node toolbar = FakeChromeWorld::toolbar(window);
    // Something after the menu button: the chip is found by its name.
    toolbar->add(test::makeNode("AXButton", {}, "Extensions"));
    toolbar->children.insert(1, test::makeNode("AXPopUpButton", {}, "Work"));
    EXPECT_EQ(classifier.chipLabel(FakeChromeWorld::element(window)), QStringLiteral("Work"));
    // Where the chip opens a menu of its own, the pop-up button before the menu is the chip when it names a
    // profile, and is looked past when it does not.
    const Node menu = test::makeNode("AXPopUpButton", {}, "Customize and control Chromium");
    toolbar->children = {test::makeNode("AXButton", {}, "Back"), test::makeNode("AXPopUpButton", {}, "Home"),
                         menu};
    EXPECT_EQ(classifier.chipLabel(FakeChromeWorld::element(window)), QStringLiteral("Home"));
    toolbar->children = {test::makeNode("AXButton", {}, "Work"),
                         test::makeNode("AXPopUpButton", {}, "Downloads"), menu};
    EXPECT_EQ(classifier.chipLabel(FakeChromeWorld::element(window)), QStringLiteral("Work"));
    // A toolbar of one child has no chip.
    toolbar->children = {test::makeNode("AXButton", {}, "Work")};
    EXPECT_FALSE(classifier.chipLabel(FakeChromeWorld::element(window)));
}

TEST_F(ClassifierTest, TitleRulesNeedASeparatorAndPreferTheLongestIdentity) {
    ProfileClassifier titles{{profile("A", "Work"), profile("B", "Home - Work"), profile("C", "Work")}};
    // "Home - Work" ends with " - Work" too; the longer identity wins wherever it stands in the list.
    EXPECT_EQ(titles.profileFromTitle("Page - Home - Work"), QStringLiteral("B"));
    EXPECT_EQ(titles.profileFromTitle("Page \u2014 Work"), QStringLiteral("A"));
    EXPECT_EQ(titles.profileFromTitle("Work"), QStringLiteral("A"));
    EXPECT_FALSE(titles.profileFromTitle("Homework"));
    EXPECT_FALSE(titles.profileFromTitle("Page -Work"));
    EXPECT_FALSE(ProfileClassifier{}.profileFromTitle("Page - Work"));
    // An account's name identifies its profile as well.
    ProfileClassifier accounts{{profile("A", "Work", "Ada Lovelace")}};
    EXPECT_EQ(accounts.profileFromTitle("Page - Chromium - Ada Lovelace"), QStringLiteral("A"));
}

TEST_F(ClassifierTest, TwoProfilesWithOneNameResolveToTheFirst) {
    ProfileClassifier twins{{profile("A", "Work"), profile("B", "Work")}};
    const Node window = host.world().openWindow("x", QStringLiteral("Work"));
    EXPECT_EQ(twins.classify(FakeChromeWorld::element(window), {}, {}).profileDirectory, QStringLiteral("A"));
}

} // namespace
