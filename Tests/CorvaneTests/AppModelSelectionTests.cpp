#include "Support/AppModelFixture.h"

#include "Support/SignalCount.h"

namespace {

using Selection = AppModel::Selection;
using Navigation = AppModel::PendingNavigation;
using Resolution = AppModel::UnsavedResolution;

class AppModelSelection : public test::AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        installApp(QStringLiteral("Alpha"), QStringLiteral("app.corvane.alpha"));
        installApp(QStringLiteral("Beta"), QStringLiteral("app.corvane.beta"));
        model->load();
    }
};

TEST_F(AppModelSelection, SelectingTheSelectedItemDoesNothing) {
    ASSERT_EQ(model->selection(), Selection::saved(QStringLiteral("app.corvane.alpha")));
    test::SignalCount editor(model.get(), &AppModel::editorChanged);
    test::SignalCount selection(model.get(), &AppModel::selectionChanged);
    model->select(Selection::saved(QStringLiteral("app.corvane.alpha")));
    EXPECT_EQ(editor.count(), 0);
    EXPECT_EQ(selection.count(), 0);
}

TEST_F(AppModelSelection, UnsavedEditsAskBeforeEveryKindOfMove) {
    editName(QStringLiteral("  Alpha 2  "));
    const std::vector<Navigation> moves{
        Navigation::selection(Selection::saved(QStringLiteral("app.corvane.beta"))),
        Navigation::selection(Selection::rules()), Navigation::selection(std::nullopt), Navigation::newApp(),
        Navigation::duplicate(model->editor())};
    for (const Navigation& move : moves) {
        model->navigate(move);
        ASSERT_TRUE(model->unsavedPrompt().has_value());
        EXPECT_EQ(model->unsavedPrompt()->appName, QStringLiteral("Alpha 2"));
        EXPECT_EQ(model->selection(), Selection::saved(QStringLiteral("app.corvane.alpha")));
        model->resolveUnsaved(Resolution::cancel);
        EXPECT_FALSE(model->unsavedPrompt().has_value());
        EXPECT_EQ(model->editor().name, QStringLiteral("  Alpha 2  "));
    }
    editName(QStringLiteral("   "));
    model->select(Selection::system());
    EXPECT_EQ(model->unsavedPrompt()->appName, QStringLiteral("this app"));
}

TEST_F(AppModelSelection, DiscardGoesAndDropsTheEdits) {
    editName(QStringLiteral("Changed"));
    model->select(Selection::saved(QStringLiteral("app.corvane.beta")));
    model->resolveUnsaved(Resolution::discard);
    EXPECT_EQ(model->selection(), Selection::saved(QStringLiteral("app.corvane.beta")));
    EXPECT_EQ(model->editor().name, QStringLiteral("Beta"));
    // The alert's closing reports a cancel afterwards: nothing is pending any more.
    model->resolveUnsaved(Resolution::cancel);
    EXPECT_EQ(model->selection(), Selection::saved(QStringLiteral("app.corvane.beta")));
    model->select(Selection::saved(QStringLiteral("app.corvane.alpha")));
    EXPECT_EQ(model->editor().name, QStringLiteral("Alpha"));
}

TEST_F(AppModelSelection, SaveGoesOnlyAfterTheSaveSucceeds) {
    editName(QStringLiteral("Gamma"));
    builder.failFor(QStringLiteral("Gamma"), QStringLiteral("codesign failed"));
    model->select(Selection::rules());
    model->resolveUnsaved(Resolution::save);
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(model->errorMessage(), QStringLiteral("codesign failed"));
    EXPECT_EQ(model->selection(), Selection::saved(QStringLiteral("app.corvane.alpha")));

    editName(QStringLiteral("Delta"));
    model->select(Selection::rules());
    model->resolveUnsaved(Resolution::save);
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(model->selection(), Selection::rules());
    ASSERT_NE(app(QStringLiteral("app.corvane.alpha")), nullptr);
    EXPECT_EQ(app(QStringLiteral("app.corvane.alpha"))->name, QStringLiteral("Delta"));
}

TEST_F(AppModelSelection, TheWaitingMoveIsDroppedWhenTheUserMovedOnDuringTheSave) {
    editName(QStringLiteral("Delta"));
    model->select(Selection::rules());
    model->resolveUnsaved(Resolution::save);
    ASSERT_TRUE(model->isBusy());
    model->select(Selection::saved(QStringLiteral("app.corvane.beta")));
    model->resolveUnsaved(Resolution::discard);
    editName(QStringLiteral("Beta edited"));
    ASSERT_TRUE(finishBuild());
    EXPECT_EQ(model->selection(), Selection::saved(QStringLiteral("app.corvane.beta")));
    EXPECT_EQ(model->editor().name, QStringLiteral("Beta edited"));
}

TEST_F(AppModelSelection, DraftsKeepTheirEditsWithoutAsking) {
    model->navigate(Navigation::newApp());
    ASSERT_EQ(model->drafts().size(), 1u);
    const QUuid draft = model->drafts()[0].id;
    editName(QStringLiteral("Draft name"));
    model->select(Selection::saved(QStringLiteral("app.corvane.beta")));
    EXPECT_FALSE(model->unsavedPrompt().has_value());
    EXPECT_EQ(model->state(Selection::draft(draft))->name, QStringLiteral("Draft name"));
    model->select(Selection::draft(draft));
    EXPECT_EQ(model->editor().name, QStringLiteral("Draft name"));
    EXPECT_EQ(model->state(Selection::draft(draft)), model->editor());
    EXPECT_FALSE(model->state(Selection::draft(QUuid::createUuid())));
    EXPECT_FALSE(model->state(Selection::rules()));
    EXPECT_EQ(model->state(Selection::saved(QStringLiteral("app.corvane.beta")))->name,
              QStringLiteral("Beta"));
}

TEST_F(AppModelSelection, DuplicateIsATrimmedCopyWithoutOrigin) {
    EditorState source = model->editor();
    source.name = QStringLiteral("  Alpha  ");
    model->navigate(Navigation::duplicate(source));
    const EditorState& copy = model->editor();
    EXPECT_EQ(copy.name, QStringLiteral("Alpha copy"));
    EXPECT_TRUE(copy.isDraft());
    EXPECT_FALSE(copy.destination.has_value());
    EXPECT_TRUE(copy.nameEdited);
    model->selectProfile(profileNamed(QStringLiteral("Profile 9"), QStringLiteral("Other")));
    EXPECT_EQ(model->editor().name, QStringLiteral("Alpha copy"));
}

TEST_F(AppModelSelection, DiscardingDraftsMovesOnOnlyFromTheSelectedOne) {
    model->navigate(Navigation::newApp());
    const QUuid first = model->drafts()[0].id;
    model->navigate(Navigation::newApp());
    const QUuid second = model->drafts()[1].id;
    model->discardDraft(first);
    EXPECT_EQ(model->selection(), Selection::draft(second));
    model->discardDraft(second);
    EXPECT_EQ(model->selection(), Selection::saved(QStringLiteral("app.corvane.alpha")));
}

} // namespace

namespace {

class AppModelProfiles : public test::AppModelFixture {};

TEST_F(AppModelProfiles, NewAppFollowsTheFirstProfileUntilNamedByHand) {
    model->load();
    model->navigate(AppModel::PendingNavigation::newApp());
    EXPECT_EQ(model->editor().name, QString());
    EXPECT_EQ(model->editor().profileDirectory, QString());

    ChromeProfile work = profileNamed(QStringLiteral("Profile 1"), QStringLiteral("Work"));
    work.highlightColor = 0xFF336699;
    model->selectProfile(work);
    EXPECT_EQ(model->editor().name, QStringLiteral("Chrome - Work"));
    EXPECT_EQ(model->editor().badgeColor.hexString(), QStringLiteral("#336699"));
    EXPECT_EQ(model->drafts()[0].state.name, QStringLiteral("Chrome - Work"));

    model->selectTabGroup(QStringLiteral("Sprint"));
    EXPECT_EQ(model->editor().name, QStringLiteral("Sprint"));
    model->selectTabGroup(QString());
    EXPECT_FALSE(model->editor().tabGroupName.has_value());
    EXPECT_EQ(model->editor().name, QStringLiteral("Chrome - Work"));

    EditorState named = model->editor();
    named.name = QStringLiteral("Mine");
    named.nameEdited = true;
    model->setEditor(named);
    model->selectProfile(profileNamed(QStringLiteral("Profile 2"), QStringLiteral("Home")));
    EXPECT_EQ(model->editor().name, QStringLiteral("Mine"));
    EXPECT_EQ(model->editor().badgeColor.hexString(), QStringLiteral("#336699"));
}

} // namespace
