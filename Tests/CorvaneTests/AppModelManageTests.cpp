#include "Support/AppModelFixture.h"

#include <QDir>
#include <QFileInfo>

namespace {

using Selection = AppModel::Selection;

class AppModelManage : public test::AppModelFixture {
protected:
    RegisteredApp alpha;
    RegisteredApp beta;

    void SetUp() override {
        AppModelFixture::SetUp();
        alpha = installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"));
        beta = installApp(QStringLiteral("Beta"), QStringLiteral("app.corvane.beta"));
        model->load();
        alpha = *app(alpha.bundleID);
        beta = *app(beta.bundleID);
    }
};

TEST_F(AppModelManage, DeleteMovesToTheTrashAndMovesTheSelectionOn) {
    model->deleteApp(beta);
    EXPECT_EQ(model->apps().size(), 2u); // nothing changes before the Trash reports back
    environment.time().runUntilIdle();
    EXPECT_FALSE(QFileInfo::exists(beta.path));
    EXPECT_EQ(model->apps().size(), 1u);
    EXPECT_EQ(model->selection(), Selection::saved(alpha.bundleID));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Moved Beta to the Trash."));

    model->deleteApp(alpha);
    environment.time().runUntilIdle();
    EXPECT_FALSE(model->selection().has_value());
}

TEST_F(AppModelManage, DeleteLeavesAnotherAppAtThatPlaceAlone) {
    QDir(beta.path).removeRecursively();
    test::writeProxyBundle(beta.path, QStringLiteral("app.corvane.stranger"),
                           configFor(QStringLiteral("Default")));
    model->deleteApp(beta);
    environment.time().runUntilIdle();
    EXPECT_TRUE(QFileInfo::exists(beta.path));
    EXPECT_EQ(model->errorMessage(),
              QStringLiteral("That isn't the same app — its identifier doesn't match."));
    EXPECT_EQ(model->apps().size(), 2u);
}

TEST_F(AppModelManage, DeleteOfAVanishedBundleReportsTheTrashsError) {
    QDir(beta.path).removeRecursively();
    model->deleteApp(beta);
    environment.time().runUntilIdle();
    EXPECT_TRUE(model->errorMessage().has_value());
    EXPECT_EQ(model->apps().size(), 2u);
}

TEST_F(AppModelManage, ForgetLeavesTheBundle) {
    model->forget(alpha);
    EXPECT_TRUE(QFileInfo::exists(alpha.path));
    EXPECT_EQ(model->apps().size(), 1u);
    EXPECT_EQ(model->selection(), Selection::saved(beta.bundleID));
    EXPECT_EQ(model->statusMessage(),
              QStringLiteral("Removed Alpha from the list. The app itself was left alone."));
}

TEST_F(AppModelManage, LocateTakesTheNewPlaceAndName) {
    const QString moved = environment.applications() + QStringLiteral("/Elsewhere/Renamed.app");
    QDir().mkpath(QFileInfo(moved).path());
    QDir().rename(beta.path, moved);
    environment.panels().applicationAnswers = {moved};
    model->locate(beta);
    const host::OpenPanelOptions& shown = environment.panels().applicationPanels[0];
    EXPECT_EQ(shown.message, QStringLiteral("Where is “Beta” now?"));
    EXPECT_EQ(shown.startDirectory, environment.applications());
    ASSERT_NE(app(beta.bundleID), nullptr);
    EXPECT_EQ(app(beta.bundleID)->path, moved);
    EXPECT_EQ(app(beta.bundleID)->name, QStringLiteral("Renamed"));
    EXPECT_EQ(model->selection(), Selection::saved(beta.bundleID));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Found Renamed at ~/Applications/Elsewhere."));
}

TEST_F(AppModelManage, LocatingTheAppBeingEditedMovesTheEditorWithItsEdits) {
    ASSERT_EQ(model->selection(), Selection::saved(alpha.bundleID));
    // Deeper than a saved app is looked for, so only Locate… can say where it went.
    const QString moved = QDir::homePath() + QStringLiteral("/one/two/three/four/Alpha.app");
    QDir().mkpath(QFileInfo(moved).path());
    ASSERT_TRUE(QDir().rename(alpha.path, moved));
    EditorState edited = model->editor();
    edited.closeOnQuit = true;
    model->setEditor(edited);

    environment.panels().applicationAnswers = {moved};
    model->locate(alpha);
    ASSERT_TRUE(model->editor().origin.has_value());
    EXPECT_EQ(model->editor().origin->path, moved);
    EXPECT_EQ(model->editor().origin->bookmark, app(alpha.bundleID)->bookmark);
    EXPECT_EQ(model->editor().destination, QUrl::fromLocalFile(QFileInfo(moved).path()));
    EXPECT_TRUE(model->editor().closeOnQuit);
    EXPECT_TRUE(model->editor().isDirty());

    model->save();
    EXPECT_FALSE(model->errorMessage().has_value()) << model->errorMessage()->toStdString();
    ASSERT_TRUE(finishBuild());
    ASSERT_EQ(builder.requests().size(), 1u);
    EXPECT_EQ(builder.requests()[0].destinationDirectory, QUrl::fromLocalFile(QFileInfo(moved).path()));
    EXPECT_TRUE(builder.requests()[0].config.closeOnQuit);
}

TEST_F(AppModelManage, LocateRefusesAnotherAppAndStartsHomeWhenTheFolderIsGone) {
    RegisteredApp gone = beta;
    gone.path = QStringLiteral("/nonexistent/folder/Beta.app");
    environment.panels().applicationAnswers = {alpha.path, std::nullopt};
    model->locate(gone);
    EXPECT_EQ(environment.panels().applicationPanels[0].startDirectory,
              QDir::homePath() + QStringLiteral("/Applications"));
    EXPECT_EQ(model->errorMessage(),
              QStringLiteral("That isn't the same app — its identifier doesn't match."));
    model->locate(gone);
    EXPECT_EQ(model->apps().size(), 2u);
}

TEST_F(AppModelManage, RestampChecksTheBundleFirst) {
    std::vector<QString> stamped;
    model->restampIcon = [&](const QString& path, const StubConfig&) { stamped.push_back(path); };
    model->stampFinderIcon(alpha);
    EXPECT_EQ(stamped, std::vector<QString>{alpha.path});
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Re-applied the icon for Alpha."));

    RegisteredApp other = alpha;
    other.bundleID = QStringLiteral("app.corvane.someone-else");
    model->stampFinderIcon(other);
    EXPECT_EQ(stamped.size(), 1u);
    EXPECT_EQ(model->errorMessage(),
              QStringLiteral("That isn't the same app — its identifier doesn't match."));

    // A bundle that is gone is reported as the save reports it, not as another app.
    QDir(alpha.path).removeRecursively();
    model->stampFinderIcon(alpha);
    EXPECT_EQ(stamped.size(), 1u);
    EXPECT_EQ(model->errorMessage(), QStringLiteral("“Alpha” isn't where it used to be. Use Locate… to point "
                                                    "at it, or Forget to remove it from this list."));
}

TEST_F(AppModelManage, RevealAsksTheFileManager) {
    model->revealInFinder(alpha);
    EXPECT_EQ(environment.desktop().revealed, std::vector<QStringList>{{alpha.path}});
}

} // namespace
