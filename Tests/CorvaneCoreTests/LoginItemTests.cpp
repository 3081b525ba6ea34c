#include "CorvaneCore/Integration/LoginItem.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Processes/SpawnProcessRunner.h"
#include "CorvaneHost/ProcessRunner.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/FakeLoginItems.h"
#include "Support/LogCapture.h"
#include "Support/RecordingProcessRunner.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <gmock/gmock.h>
#include <unistd.h>

namespace {

using testing::ElementsAre;

const QString launchctl = QStringLiteral("/bin/launchctl");
const QString removedLine = QStringLiteral("removed the old LaunchAgent login item");

class LoginItemTests : public testing::Test {
protected:
    static QString agentPath() {
        return host::homeDirectory() + QStringLiteral("/Library/LaunchAgents/app.corvane.helper.plist");
    }
    static QString serviceTarget() { return QStringLiteral("gui/%1/app.corvane.helper").arg(::getuid()); }
    static void installLegacyAgent() {
        QDir().mkpath(QFileInfo(agentPath()).absolutePath());
        ASSERT_TRUE(host::writePropertyListFile(
            agentPath(), QVariantMap{{QStringLiteral("Label"), Corvane::helperBundleID}}));
    }

    test::TemporaryHome home;
    test::FakeLoginItemsScope items;
    test::RecordingProcessRunnerScope runner;
    test::LogCapture log;
};

TEST_F(LoginItemTests, ChangingTheLoginItemRemovesTheFormerLaunchAgent) {
    for (const bool enabled : {true, false}) {
        installLegacyAgent();
        runner->clear();
        log.clear();
        LoginItem::setEnabled(enabled);
        EXPECT_EQ(LoginItem::isEnabled(), enabled);
        EXPECT_THAT(runner->argumentsOf(launchctl),
                    ElementsAre(QStringList{QStringLiteral("bootout"), serviceTarget()}));
        EXPECT_FALSE(QFile::exists(agentPath()));
        EXPECT_TRUE(log.contains(QStringLiteral("creator"), host::LogLevel::Info, removedLine));
    }
    EXPECT_THAT(items->calls, ElementsAre(QStringLiteral("register app.corvane.helper"),
                                          QStringLiteral("unregister app.corvane.helper")));
}

TEST_F(LoginItemTests, RegisteredButAwaitingApproval) {
    items->requireApproval = true;
    LoginItem::setEnabled(true);
    EXPECT_FALSE(LoginItem::isEnabled());
    EXPECT_TRUE(LoginItem::needsApproval());
    items->setStatus(Corvane::helperBundleID, host::LoginItemStatus::notFound);
    EXPECT_FALSE(LoginItem::isEnabled());
    EXPECT_FALSE(LoginItem::needsApproval());
}

TEST_F(LoginItemTests, WithoutAFormerAgentNoToolRunsAndNothingIsLogged) {
    LoginItem::setEnabled(true);
    EXPECT_TRUE(runner->runs().empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(LoginItemTests, ARefusedRegistrationThrowsAndLeavesTheAgent) {
    installLegacyAgent();
    items->failChanges(
        host::SystemError(host::loginItemsErrorDomain, 1, QStringLiteral("Operation not permitted")));
    EXPECT_THROW(LoginItem::setEnabled(true), host::SystemError);
    EXPECT_TRUE(QFile::exists(agentPath()));
    EXPECT_TRUE(runner->runs().empty());
    EXPECT_FALSE(log.contains(removedLine));
}

TEST_F(LoginItemTests, AFailingBootoutStillRemovesTheFileAndLogs) {
    installLegacyAgent();
    runner->exitWith(launchctl, 3, QStringLiteral("Boot-out failed: 3: No such process\n"));
    LoginItem::removeLegacyLaunchAgent();
    EXPECT_FALSE(QFile::exists(agentPath()));
    EXPECT_EQ(log.count(removedLine), 1);
}

TEST_F(LoginItemTests, TheAgentIsBootedOutOfTheUsersDomain) {
    runner->forwardTo(std::make_shared<host::SpawnProcessRunner>());
    installLegacyAgent();
    host::SpawnProcessRunner().run(
        launchctl, {QStringLiteral("bootstrap"), QStringLiteral("gui/%1").arg(::getuid()), agentPath()});
    LoginItem::removeLegacyLaunchAgent();
    EXPECT_EQ(host::SpawnProcessRunner().run(launchctl, {QStringLiteral("list")}),
              QStringLiteral("PID\tStatus\tLabel\n"));
    EXPECT_FALSE(QFile::exists(agentPath()));
}

} // namespace
