#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/ChromeWindows.h"
#include "CorvaneHost/Services.h"
#include "Support/FakeWindowList.h"
#include "Support/FakeWorkspace.h"

#include <gtest/gtest.h>

namespace {

using test::FakeWindowList;

constexpr qint32 chromePID = 501;

class ChromeWindowsTest : public testing::Test {
protected:
    std::shared_ptr<FakeWindowList> windows = std::make_shared<FakeWindowList>();
    test::WindowListScope windowScope{windows};
    test::FakeWorkspaceScope workspace;

    void startChrome(qint32 pid = chromePID) {
        workspace->addRunning(
            {pid, Corvane::chromeBundleID, "Google Chrome", "/Applications/Google Chrome.app"});
    }
};

TEST_F(ChromeWindowsTest, ChromeNotRunningGivesNoAnswers) {
    workspace->addRunning({77, "com.apple.Safari", "Safari", "/Applications/Safari.app"});
    windows->setWindows(QVariantList{FakeWindowList::window(77, 600)});
    EXPECT_FALSE(ChromeWindows::isChromeRunning());
    EXPECT_EQ(ChromeWindows::runningChrome(), std::nullopt);
    EXPECT_EQ(ChromeWindows::onScreenCount(), std::nullopt);
    EXPECT_FALSE(ChromeWindows::hasVisibleWindows());
    EXPECT_EQ(ChromeWindows::visibleWindows(), std::nullopt);
    EXPECT_TRUE(windows->calls().empty()) << "the window server is not asked without Chrome";
}

TEST_F(ChromeWindowsTest, CountsOrdinaryOnScreenWindowsOfChromeOnly) {
    startChrome();
    windows->setWindows(QVariantList{
        FakeWindowList::window(chromePID, 100),                             // not taller than 100 points
        FakeWindowList::window(chromePID, 101),                             // counts
        FakeWindowList::window(chromePID, 700, 3),                          // floating panel
        FakeWindowList::window(chromePID, 700, std::nullopt),               // no layer: counts
        FakeWindowList::window(chromePID, 700, 0, false),                   // minimised or on another Space
        FakeWindowList::window(chromePID + 1, 700),                         // another process
        FakeWindowList::window(qint64(chromePID) + (qint64(1) << 32), 700), // does not fit 32 bits
    });
    EXPECT_EQ(ChromeWindows::onScreenCount(), 2);
    EXPECT_TRUE(ChromeWindows::hasVisibleWindows());
    EXPECT_EQ(ChromeWindows::visibleWindows(), true);
    ASSERT_FALSE(windows->calls().empty());
    EXPECT_EQ(windows->calls().front(), (FakeWindowList::Call{17, 0}))
        << "on screen only, no desktop elements";
}

TEST_F(ChromeWindowsTest, EntriesWithMissingOrMistypedFieldsDoNotCount) {
    startChrome();
    QVariantMap noOwner = FakeWindowList::window(chromePID, 700);
    noOwner.remove(host::WindowList::ownerPIDKey);
    QVariantMap textOwner = FakeWindowList::window(chromePID, 700);
    textOwner.insert(host::WindowList::ownerPIDKey, QString::number(chromePID));
    QVariantMap noBounds = FakeWindowList::window(chromePID, 700);
    noBounds.remove(host::WindowList::boundsKey);
    QVariantMap textHeight = FakeWindowList::window(chromePID, 700);
    textHeight.insert(host::WindowList::boundsKey, QVariantMap{{host::WindowList::boundsHeight, "700"}});
    QVariantMap fractionalLayer = FakeWindowList::window(chromePID, 700);
    fractionalLayer.insert(host::WindowList::layerKey, 0.5); // not a whole number: passes
    QVariantMap textLayer = FakeWindowList::window(chromePID, 700);
    textLayer.insert(host::WindowList::layerKey, "8"); // not a number: passes
    QVariantMap doubleOwner = FakeWindowList::window(chromePID, 700);
    doubleOwner.insert(host::WindowList::ownerPIDKey, double(chromePID)); // a number all the same

    windows->setWindows(
        QVariantList{noOwner, textOwner, noBounds, textHeight, fractionalLayer, textLayer, doubleOwner});
    EXPECT_EQ(ChromeWindows::onScreenCount(), 3);
}

TEST_F(ChromeWindowsTest, NoListOrAnUnexpectedShapeGivesNone) {
    startChrome();
    windows->setWindows(std::nullopt);
    EXPECT_EQ(ChromeWindows::onScreenCount(), std::nullopt);
    EXPECT_FALSE(ChromeWindows::hasVisibleWindows());
    EXPECT_EQ(ChromeWindows::visibleWindows(), std::nullopt);

    windows->setWindows(QVariantList{FakeWindowList::window(chromePID, 700), QVariant(42)});
    EXPECT_EQ(ChromeWindows::onScreenCount(), std::nullopt) << "not a list of dictionaries";

    windows->setWindows(QVariantList{});
    EXPECT_EQ(ChromeWindows::onScreenCount(), 0);
    EXPECT_FALSE(ChromeWindows::hasVisibleWindows());
    EXPECT_EQ(ChromeWindows::visibleWindows(), false);
}

TEST_F(ChromeWindowsTest, WithoutScreenRecordingOnlyVisibleWindowsWithholdsItsAnswer) {
    startChrome();
    windows->setPreflight(false);
    windows->setWindows(QVariantList{FakeWindowList::window(chromePID, 700)});
    EXPECT_FALSE(ChromeWindows::canSeeOtherApplicationsWindows());
    EXPECT_EQ(ChromeWindows::onScreenCount(), 1);
    EXPECT_TRUE(ChromeWindows::hasVisibleWindows());
    EXPECT_EQ(ChromeWindows::visibleWindows(), std::nullopt);
}

TEST_F(ChromeWindowsTest, OnlyTheFirstListedChromeIsCounted) {
    startChrome(chromePID);
    startChrome(chromePID + 10);
    windows->setWindows(QVariantList{FakeWindowList::window(chromePID + 10, 700),
                                     FakeWindowList::window(chromePID + 10, 700),
                                     FakeWindowList::window(chromePID, 700)});
    EXPECT_EQ(ChromeWindows::runningChrome()->processIdentifier, chromePID);
    EXPECT_EQ(ChromeWindows::onScreenCount(), 1);
}

// The same user's Chrome on another display shows nothing on this one: the Chrome that does is the one.
TEST_F(ChromeWindowsTest, OfSeveralChromesTheOneThisDisplayShowsIsTheRunningOne) {
    startChrome(chromePID);
    startChrome(chromePID + 10);
    windows->setWindows(QVariantList{FakeWindowList::window(chromePID + 10, 700)});
    EXPECT_EQ(ChromeWindows::runningChrome()->processIdentifier, chromePID + 10);
    EXPECT_EQ(ChromeWindows::onScreenCount(), 1);
    windows->setWindows(QVariantList{});
    EXPECT_EQ(ChromeWindows::runningChrome()->processIdentifier, chromePID);
}

TEST_F(ChromeWindowsTest, AWindowIsListedByItsNumberWhetherOnScreenOrMinimised) {
    startChrome();
    auto numbered = [](qint64 number, bool onScreen) {
        QVariantMap entry = FakeWindowList::window(chromePID, 700, 0, onScreen);
        entry.insert(host::WindowList::numberKey, number);
        return entry;
    };
    windows->setWindows(QVariantList{numbered(11, true), numbered(12, false), numbered(13, true)});
    EXPECT_EQ(ChromeWindows::listedCount({12}), 1);
    EXPECT_EQ(ChromeWindows::listedCount({11, 12, 14}), 2);
    EXPECT_EQ(ChromeWindows::listedCount({14}), 0);
    EXPECT_EQ(windows->calls().back(), (FakeWindowList::Call{16, 0})) << "minimised windows included";

    windows->setPreflight(false);
    EXPECT_EQ(ChromeWindows::listedCount({12}), std::nullopt);
    windows->setPreflight(true);
    windows->setWindows(std::nullopt);
    EXPECT_EQ(ChromeWindows::listedCount({12}), std::nullopt);
}

TEST(ChromeWindowsOnThisMachine, SaysTruthfullyThatNoWindowsCanBeSeen) {
    test::WindowListScope scope{nullptr}; // this machine's implementation
    EXPECT_FALSE(host::windowList().screenRecordingPreflight());
    EXPECT_EQ(host::windowList().windowList(17, 0), QVariantList{});
    EXPECT_FALSE(ChromeWindows::canSeeOtherApplicationsWindows());
}

} // namespace
