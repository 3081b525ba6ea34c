#include "CorvaneHelper/WindowTracking/ProfileClassifier.h"
#include "Support/FakeChromeWorld.h"

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
