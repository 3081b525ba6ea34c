#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHelper/Shell/HelperStartup.h"
#include "Support/FakeWorkspace.h"
#include "Support/RecordingProcessRunner.h"
#include "Support/TemporaryHome.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

TEST(HelperStartupTest, OnlyTheLoginItemCopyRelocates) {
    EXPECT_TRUE(HelperStartup::isLoginItem(
        QStringLiteral("/Applications/Corvane.app/Contents/Library/LoginItems/CorvaneHelper.app")));
    EXPECT_FALSE(HelperStartup::isLoginItem(
        QStringLiteral("/Users/a/Library/Application Support/Corvane/CorvaneHelper.app")));
    EXPECT_FALSE(HelperStartup::isLoginItem(
        QStringLiteral("/Applications/Corvane.app/Contents/Library/CorvaneHelper.app")));
    EXPECT_FALSE(HelperStartup::isLoginItem(
        QStringLiteral("/work/build/Corvane.app/contents/library/loginitems/x.app")));
    EXPECT_EQ(HelperStartup::relocationSource(
                  QStringLiteral("/Applications/Corvane.app/Contents/Library/LoginItems/CorvaneHelper.app")),
              QStringLiteral("/Applications/Corvane.app/Contents/Library/CorvaneHelper.app"));
}

class RelocationTest : public testing::Test {
protected:
    const QString loginItem =
        QStringLiteral("/Applications/Corvane.app/Contents/Library/LoginItems/CorvaneHelper.app");
    test::TemporaryHome home;
    test::VirtualTimeScope time;
    test::FakeWorkspaceScope workspace;
    test::RecordingProcessRunnerScope runner;
};

TEST_F(RelocationTest, PresentInstalledCopyIsOpenedInTheBackgroundWithoutCopying) {
    Corvane::ensureSupportDirectory();
    workspace->addApplication(QStringLiteral("CorvaneHelper"),
                              test::FakeWorkspace::info(Corvane::helperBundleID),
                              Corvane::supportDirectory());

    EXPECT_EQ(HelperStartup::run(loginItem), 0);

    EXPECT_TRUE(runner->runs().empty());
    ASSERT_EQ(workspace->opens.size(), 1u);
    EXPECT_EQ(workspace->opens[0].appPath, Corvane::installedHelperURL());
    EXPECT_FALSE(workspace->opens[0].configuration.activates);
    EXPECT_FALSE(workspace->opens[0].configuration.addsToRecentItems);
    EXPECT_TRUE(workspace->opens[0].configuration.createsNewApplicationInstance);
}

TEST_F(RelocationTest, MissingCopyIsMadeWithDittoAndClearedBeforeOpening) {
    runner->handle(QStringLiteral("/usr/bin/ditto"), [](const QStringList& arguments) {
        QDir().mkpath(arguments.value(1));
        return QString();
    });
    EXPECT_EQ(HelperStartup::run(loginItem), 0);
    ASSERT_EQ(runner->runs().size(), 2u);
    EXPECT_EQ(runner->runs()[0].executablePath, QStringLiteral("/usr/bin/ditto"));
    EXPECT_EQ(runner->runs()[1].executablePath, QStringLiteral("/usr/bin/xattr"));
    EXPECT_EQ(runner->runs()[0].arguments,
              (QStringList{QStringLiteral("/Applications/Corvane.app/Contents/Library/CorvaneHelper.app"),
                           Corvane::installedHelperURL() + QStringLiteral(".installing")}));
    EXPECT_EQ(runner->runs()[1].arguments,
              (QStringList{QStringLiteral("-cr"), Corvane::installedHelperURL()}));
    EXPECT_EQ(workspace->opens.size(), 1u);
}

TEST_F(RelocationTest, FailedCopyOpensNothingLeavesNoPartialCopyAndStillExitsCleanly) {
    // The copy dies halfway: what it wrote must never become the installed helper.
    runner->handle(QStringLiteral("/usr/bin/ditto"), [](const QStringList& arguments) -> QString {
        QDir().mkpath(arguments.value(1) + QStringLiteral("/Contents"));
        throw host::SystemError(QStringLiteral("Corvane"), 1, QStringLiteral("/usr/bin/ditto failed (1): "));
    });
    EXPECT_EQ(HelperStartup::run(loginItem), 0);
    EXPECT_EQ(runner->runs().size(), 1u);
    EXPECT_TRUE(workspace->opens.empty());
    EXPECT_FALSE(QFileInfo::exists(Corvane::installedHelperURL()));
    EXPECT_FALSE(QFileInfo::exists(Corvane::installedHelperURL() + QStringLiteral(".installing")));
}

} // namespace
