// The app model with the real builder, tools and workspace: a new proxy app for the Chrome profile "Work" is
// built into the Applications folder, registered, and moved to the Trash again.
#include "Corvane/Models/AppModel.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/FakeDesktop.h"
#include "Support/FakeHelperConnection.h"
#include "Support/ModelEnvironment.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

TEST(ProxyAppModelEndToEnd, CreatesRegistersAndDeletesAProxyApp) {
    const QString creator = QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app");
    // The test program depends on the creator app, so the build makes it first.
    ASSERT_TRUE(
        QFileInfo(creator + "/Contents/Library/StubTemplate.app/Contents/MacOS/CorvaneStub").isExecutable())
        << "the creator app with its launcher template is not built";
    // The builder finds the launcher template inside the creator app that the workspace knows.
    host::workspace().registerBundle(creator);
    QDir(Corvane::supportDirectory()).removeRecursively();
    test::writeProxyBundle(Corvane::installedHelperURL(), Corvane::helperBundleID,
                           StubConfig(QStringLiteral("-")));
    const QString local = ChromeProfiles::localStateURL();
    QDir().mkpath(QFileInfo(local).path());
    QFile state(local);
    ASSERT_TRUE(state.open(QIODevice::WriteOnly));
    state.write(R"({"profile":{"info_cache":{"Profile 1":{"name":"Work"}},"profiles_order":["Profile 1"]}})");
    state.close();
    const QString applications = QDir::homePath() + QStringLiteral("/Applications");
    QDir().mkpath(applications);

    test::VirtualTimeScope time;
    test::DesktopScope desktop;
    desktop.panels().directoryAnswers = {applications};
    AppModel model(std::make_shared<test::FakeHelperConnection>());
    model.installHelper = [](bool) { return false; };
    model.loadSymbolCatalog = {};
    model.load();
    ASSERT_TRUE(model.canCreateProxyApps());

    model.navigate(AppModel::PendingNavigation::newApp());
    EXPECT_EQ(model.editor().name, QStringLiteral("Chrome - Work"));
    model.save();
    ASSERT_TRUE(time->runUntil([&] { return !model.isBusy(); }, 120000));
    ASSERT_FALSE(model.errorMessage().has_value()) << model.errorMessage()->toStdString();
    EXPECT_EQ(model.statusMessage(), QStringLiteral("Saved Chrome - Work to ~/Applications."));

    ASSERT_EQ(model.apps().size(), 1u);
    const RegisteredApp app = model.apps().front();
    EXPECT_EQ(app.path, applications + QStringLiteral("/Chrome - Work.app"));
    EXPECT_EQ(app.config.profileDirectory, QStringLiteral("Profile 1"));
    EXPECT_FALSE(app.needsRebuild());
    EXPECT_EQ(Registry::load().apps.size(), 1u);
    EXPECT_EQ(host::workspace().urlForApplication(app.bundleID), app.path);
    EXPECT_EQ(model.selection(), AppModel::Selection::saved(app.bundleID));
    EXPECT_FALSE(model.editor().isDirty());

    model.deleteApp(app);
    time->runUntilIdle();
    EXPECT_FALSE(QFileInfo::exists(app.path));
    EXPECT_TRUE(model.apps().empty());
    EXPECT_TRUE(Registry::load().apps.empty());
}

} // namespace
