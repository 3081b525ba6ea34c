#include "Support/AppModelFixture.h"

#include "CorvaneIcon/IconRenderer.h"
#include "Support/SignalCount.h"
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

namespace {

using Selection = AppModel::Selection;
using Navigation = AppModel::PendingNavigation;

class AppModelSave : public test::AppModelFixture {
protected:
    QString folder;

    void SetUp() override {
        AppModelFixture::SetUp();
        folder = environment.applications();
    }

    void newDraft(const QString& name, const QString& profile = QStringLiteral("Profile 1")) {
        model->navigate(Navigation::newApp());
        model->selectProfile(profileNamed(profile, QStringLiteral("Work")));
        editName(name);
    }
};

TEST_F(AppModelSave, TheBuildThreadDrawsTheChromeIconTheMainThreadLoaded) {
    // The badge style needs Chrome's icon; the build's thread may not ask the workspace for it.
    QTemporaryDir icons;
    QImage chrome(64, 64, QImage::Format_ARGB32);
    chrome.fill(Qt::blue);
    ASSERT_TRUE(chrome.save(icons.filePath(QStringLiteral("chrome.png"))));
    IconRenderer::setChromeIconPathForTesting(icons.filePath(QStringLiteral("chrome.png")));
    std::optional<QImage> seenByBuild;
    auto build = builder.function();
    model->buildApp = [&, build](const BuildRequest& request, const QString& identity) {
        seenByBuild = IconRenderer::chromeBaseImage();
        return build(request, identity);
    };
    model->load();
    newDraft(QStringLiteral("Work"));
    environment.panels().directoryAnswers = {folder};
    model->save();
    ASSERT_TRUE(finishBuild());
    IconRenderer::setChromeIconPathForTesting(std::nullopt);
    ASSERT_TRUE(seenByBuild);
    EXPECT_EQ(seenByBuild->pixelColor(1, 1), QColor(Qt::blue));
}

TEST_F(AppModelSave, NewAppAsksForTheFolderBuildsAndReplacesItsDraft) {
    model->load();
    newDraft(QStringLiteral("  Work  "));
    model->navigate(Navigation::newApp());
    const QUuid otherDraft = model->drafts()[1].id;
    model->select(Selection::draft(model->drafts()[0].id));
    environment.panels().directoryAnswers = {folder};

    model->save();
    EXPECT_TRUE(model->isBusy());
    ASSERT_EQ(environment.panels().directoryPanels.size(), 1u);
    EXPECT_EQ(environment.panels().directoryPanels[0].title,
              QStringLiteral("Where should the apps be saved?"));
    EXPECT_EQ(environment.panels().directoryPanels[0].startDirectory,
              QDir::homePath() + QStringLiteral("/Applications"));
    ASSERT_TRUE(finishBuild());

    const auto requests = builder.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].name, QStringLiteral("Work"));
    EXPECT_TRUE(requests[0].bundleID.startsWith(QStringLiteral("app.corvane.")));
    EXPECT_EQ(requests[0].config.profileDirectory, QStringLiteral("Profile 1"));
    EXPECT_EQ(requests[0].config.badgeColorHex, QStringLiteral("#1F2124"));
    EXPECT_FALSE(requests[0].replacing.has_value());
    EXPECT_EQ(builder.identities()[0], QStringLiteral("-"));

    ASSERT_EQ(model->drafts().size(), 1u);
    EXPECT_EQ(model->drafts()[0].id, otherDraft);
    EXPECT_EQ(model->selection(), Selection::saved(requests[0].bundleID));
    EXPECT_FALSE(model->editor().isDirty());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Saved Work to ~/Applications."));
    EXPECT_EQ(EditorState::rememberedDestination(), QUrl::fromLocalFile(folder));
}

TEST_F(AppModelSave, EarlyStopsShowNothing) {
    model->load();
    newDraft(QStringLiteral("Work"));
    model->save(); // chooser cancelled
    EXPECT_FALSE(model->isBusy());
    EXPECT_FALSE(model->errorMessage().has_value());

    editName(QStringLiteral("a/b"));
    model->save();
    EXPECT_EQ(environment.panels().directoryPanels.size(), 1u);

    editName(QStringLiteral("Work"));
    EditorState noProfile = model->editor();
    noProfile.setProfileDirectory(QString());
    model->setEditor(noProfile);
    model->save();
    EXPECT_EQ(environment.panels().directoryPanels.size(), 1u);
    EXPECT_TRUE(builder.requests().empty());
}

TEST_F(AppModelSave, TheChosenFolderIsRememberedEvenWhenTheBuildFails) {
    model->load();
    const QString chosen = folder + QStringLiteral("/Chrome Apps");
    QDir().mkpath(chosen);
    EditorState::setRememberedDestination(QUrl::fromLocalFile(folder));
    newDraft(QStringLiteral("Broken"));
    builder.failFor(QStringLiteral("Broken"), QStringLiteral("cannot write to /x"));
    environment.panels().directoryAnswers = {chosen};
    bool continued = false;
    model->save([&] { continued = true; });
    EXPECT_EQ(environment.panels().directoryPanels[0].startDirectory, folder);
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(model->errorMessage(), QStringLiteral("cannot write to /x"));
    EXPECT_FALSE(model->statusMessage().has_value());
    EXPECT_FALSE(continued);
    EXPECT_EQ(model->drafts().size(), 1u);
    EXPECT_EQ(model->editor().name, QStringLiteral("Broken"));
    EXPECT_EQ(EditorState::rememberedDestination(), QUrl::fromLocalFile(chosen));
}

TEST_F(AppModelSave, SomethingElseOfThatNameIsNotOverwritten) {
    model->load();
    QDir().mkpath(folder + QStringLiteral("/Work.app"));
    newDraft(QStringLiteral("Work"));
    environment.panels().directoryAnswers = {folder};
    model->save();
    EXPECT_EQ(model->errorMessage(),
              QStringLiteral("Something else is already called “Work” in that folder."));
    EXPECT_FALSE(model->isBusy());
}

TEST_F(AppModelSave, RenamingKeepsTheIdentityAndReplacesTheOldBundle) {
    const RegisteredApp old = installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
    model->load();
    host::RunningApplication running;
    running.processIdentifier = 77;
    running.bundleIdentifier = old.bundleID;
    environment.workspace().addRunning(running);
    editName(QStringLiteral("Office"));
    model->save();
    EXPECT_TRUE(environment.panels().directoryPanels.empty());
    ASSERT_TRUE(finishBuild());
    const auto requests = builder.requests();
    EXPECT_EQ(requests[0].bundleID, old.bundleID);
    EXPECT_EQ(requests[0].replacing, QUrl::fromLocalFile(old.path));
    EXPECT_EQ(model->statusMessage(),
              QStringLiteral("Renamed “Work” to “Office”. Quit and reopen it to pick up the new name."));
    ASSERT_EQ(model->apps().size(), 1u);
    EXPECT_EQ(model->apps()[0].name, QStringLiteral("Office"));
    EXPECT_FALSE(QFileInfo::exists(old.path));
}

TEST_F(AppModelSave, SavingUnderTheSameNameReplacesNothing) {
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
    model->load();
    EditorState edited = model->editor();
    edited.closeOnQuit = true;
    model->setEditor(edited);
    model->save();
    ASSERT_TRUE(finishBuild());
    EXPECT_FALSE(builder.requests()[0].replacing.has_value());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Saved Work to ~/Applications."));
    EXPECT_TRUE(model->apps()[0].config.closeOnQuit);
}

TEST_F(AppModelSave, AMissingAppIsFoundAgainOrReported) {
    const RegisteredApp app = installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
    model->load();
    // Moved deeper than a saved reference is looked for: nothing tells where it went.
    const QString moved = QDir::homePath() + QStringLiteral("/one/two/three/four");
    ASSERT_TRUE(QDir().mkpath(moved));
    ASSERT_TRUE(QDir().rename(app.path, moved + QStringLiteral("/Moved.app")));
    editName(QStringLiteral("Work 2"));
    model->save();
    EXPECT_EQ(model->errorMessage(),
              QStringLiteral("“Work” isn't where it used to be. Use Locate… to point at it, "
                             "or Forget to remove it from this list."));
    EXPECT_FALSE(model->isBusy());

    // The workspace knows it under its identifier.
    environment.workspace().addApplicationAt(moved + QStringLiteral("/Moved.app"),
                                             test::FakeWorkspace::info(app.bundleID));
    model->save();
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(builder.requests()[0].destinationDirectory, QUrl::fromLocalFile(moved));
}

TEST_F(AppModelSave, RefusedWhileABuildRuns) {
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
    model->load();
    editName(QStringLiteral("Office"));
    model->save();
    ASSERT_TRUE(model->isBusy());
    model->save();
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(builder.requests().size(), 1u);
}

TEST_F(AppModelSave, MovingOnDuringTheBuildKeepsTheNewSelection) {
    installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"));
    installApp(QStringLiteral("Beta"), QStringLiteral("app.corvane.beta"));
    model->load();
    editName(QStringLiteral("Alpha 2"));
    model->save();
    // The user goes on to Beta (the editor was saved, so the question would not arise for it) and edits it.
    model->select(Selection::saved(QStringLiteral("app.corvane.beta")));
    model->resolveUnsaved(AppModel::UnsavedResolution::discard);
    editName(QStringLiteral("Beta edited"));
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(model->selection(), Selection::saved(QStringLiteral("app.corvane.beta")));
    EXPECT_EQ(model->editor().name, QStringLiteral("Beta edited"));
}

TEST_F(AppModelSave, EditsMadeWhileTheBuildRunsAreKeptUnsaved) {
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
    model->load();
    editName(QStringLiteral("Office"));
    builder.hold();
    model->save();
    ASSERT_TRUE(model->isBusy());
    EditorState edited = model->editor();
    edited.badgeColor = IconColor::rgb(0.8, 0.1, 0.1);
    edited.registerAsBrowser = true;
    model->setEditor(edited);
    builder.release();
    ASSERT_TRUE(finishBuild());

    // The build made what was asked when Save was pressed; the later edits wait for the next save.
    EXPECT_EQ(builder.requests()[0].config.badgeColorHex, QStringLiteral("#1F2124"));
    EXPECT_FALSE(builder.requests()[0].registerAsBrowser);
    EXPECT_EQ(model->editor().name, QStringLiteral("Office"));
    EXPECT_EQ(model->editor().origin->name, QStringLiteral("Office"));
    EXPECT_EQ(model->editor().badgeColor, IconColor::rgb(0.8, 0.1, 0.1));
    EXPECT_TRUE(model->editor().registerAsBrowser);
    EXPECT_TRUE(model->editor().isDirty());
    EXPECT_FALSE(model->editor().isRenamed());
}

TEST_F(AppModelSave, ANavigationThatWaitedForTheSaveAsksAgainAboutEditsMadeDuringIt) {
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"));
    model->load();
    editName(QStringLiteral("Office"));
    model->select(Selection::rules());
    builder.hold();
    model->resolveUnsaved(AppModel::UnsavedResolution::save);
    EditorState edited = model->editor();
    edited.closeOnQuit = true;
    model->setEditor(edited);
    builder.release();
    ASSERT_TRUE(finishBuild());

    EXPECT_EQ(model->selection(), Selection::saved(QStringLiteral("app.corvane.work")));
    ASSERT_TRUE(model->unsavedPrompt().has_value());
    EXPECT_EQ(model->unsavedPrompt()->appName, QStringLiteral("Office"));
    EXPECT_TRUE(model->editor().closeOnQuit);
    model->resolveUnsaved(AppModel::UnsavedResolution::discard);
    EXPECT_EQ(model->selection(), Selection::rules());
}

class AppModelRebuild : public test::AppModelFixture {};

TEST_F(AppModelRebuild, CountsTitlesAndRebuildsInPlace) {
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Default"), 5);
    installApp(QStringLiteral("Older"), QStringLiteral("app.corvane.older"), QStringLiteral("Default"),
               std::nullopt);
    installApp(QStringLiteral("Current"), QStringLiteral("app.corvane.current"));
    model->load();
    EXPECT_EQ(model->appsNeedingRebuild(), 2);
    EXPECT_EQ(model->updateButtonTitle(), QStringLiteral("Update 2 Apps"));

    host::RunningApplication running;
    running.bundleIdentifier = QStringLiteral("app.corvane.old");
    environment.workspace().addRunning(running);
    model->rebuildOutdated();
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(model->statusMessage(),
              QStringLiteral("Updated 2 apps. Quit and reopen Old to pick up the change."));
    EXPECT_EQ(model->appsNeedingRebuild(), 0);
    EXPECT_EQ(model->updateButtonTitle(), QStringLiteral("Update 0 Apps"));
    for (const BuildRequest& request : builder.requests()) {
        EXPECT_FALSE(request.replacing.has_value());
        EXPECT_EQ(request.destinationDirectory, QUrl::fromLocalFile(environment.applications()));
    }
    EXPECT_EQ(model->apps().size(), 3u);
}

TEST_F(AppModelRebuild, TheLastFailureIsShownAndTheOthersAreRegistered) {
    const RegisteredApp a =
        installApp(QStringLiteral("A"), QStringLiteral("app.corvane.a"), QStringLiteral("Default"), 5);
    const RegisteredApp b =
        installApp(QStringLiteral("B"), QStringLiteral("app.corvane.b"), QStringLiteral("Default"), 5);
    const RegisteredApp c =
        installApp(QStringLiteral("C"), QStringLiteral("app.corvane.c"), QStringLiteral("Default"), 5);
    model->load();
    builder.failFor(QStringLiteral("A"), QStringLiteral("first failure"));
    builder.failFor(QStringLiteral("C"), QStringLiteral("last failure"));
    model->rebuild(model->apps());
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(model->errorMessage(), QStringLiteral("last failure"));
    EXPECT_FALSE(model->statusMessage().has_value());
    EXPECT_EQ(model->appsNeedingRebuild(), 2);

    model->rebuild({});
    EXPECT_EQ(model->statusMessage(), QStringLiteral("No apps to rebuild."));
}

TEST_F(AppModelRebuild, NothingWhileProxyAppsCannotBeMade) {
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Default"), 5);
    environment.setDisablesHelper(true);
    model->load();
    EXPECT_EQ(model->appsNeedingRebuild(), 0);
    EXPECT_EQ(model->updateButtonTitle(), QStringLiteral("Update 0 Apps"));
    model->rebuild(model->apps());
    EXPECT_FALSE(model->isBusy());
    EXPECT_FALSE(model->statusMessage().has_value());
}

TEST_F(AppModelRebuild, RebuildKeepsTheBrowserDeclaration) {
    const QString path = environment.applications() + QStringLiteral("/Web.app");
    test::writeProxyBundle(path, QStringLiteral("app.corvane.web"), configFor(QStringLiteral("Default")), 6,
                           true, true);
    model->load();
    model->rebuild(model->apps());
    ASSERT_TRUE(finishBuild());
    EXPECT_TRUE(builder.requests()[0].registerAsBrowser);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Updated 1 app."));
}

} // namespace
