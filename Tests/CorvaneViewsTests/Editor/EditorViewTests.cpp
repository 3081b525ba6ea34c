// The proxy-app editor page as a user works it: naming, picking a profile, saving state, the status bar.
#include "Corvane/Views/Editor/EditorView.h"
#include "Corvane/Views/Kit/ElidedLabel.h"
#include "Corvane/Views/Kit/PageStatusBar.h"
#include "Support/AppModelFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

using Navigation = AppModel::PendingNavigation;
using Selection = AppModel::Selection;

class EditorPage : public test::AppModelFixture {
protected:
    std::unique_ptr<EditorView> view;

    // Chrome with "Work" (signed in) in "Profile 1" and "Home" (no account) in "Profile 2".
    void writeChromeProfiles() {
        const QString path = ChromeProfiles::localStateURL();
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(R"({"profile":{"info_cache":{"Profile 1":{"name":"Work","user_name":"me@work.example"},)"
                   R"("Profile 2":{"name":"Home"}},"profiles_order":["Profile 1","Profile 2"]}})");
    }

    void showPage() {
        view = std::make_unique<EditorView>(*model);
        view->resize(700, 900);
        view->show();
    }

    template <typename T> T* child(const char* name) {
        T* found = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLineEdit* nameField() { return child<QLineEdit>("nameField"); }
    QPushButton* saveButton() { return child<QPushButton>("saveButton"); }
    QLabel* caption() { return child<QLabel>("nameCaption"); }
    PageStatusBar* statusBar() { return view->findChild<PageStatusBar*>(); }
    bool shown(QWidget* widget) { return widget->isVisibleTo(view.get()); }

    void retype(const QString& text) {
        nameField()->selectAll();
        QTest::keyClick(nameField(), Qt::Key_Backspace);
        QTest::keyClicks(nameField(), text);
    }
};

TEST_F(EditorPage, ADraftWithoutAProfileCannotBeSavedYet) {
    model->load();
    model->navigate(Navigation::newApp());
    showPage();

    EXPECT_TRUE(shown(child<QWidget>("noProfilesWarning")));
    EXPECT_EQ(child<QComboBox>("profileMenu")->count(), 0);
    // Nothing typed yet: the name is the first thing to fix.
    EXPECT_EQ(statusBar()->shownWarning(), QStringLiteral("Give the app a name."));
    EXPECT_EQ(caption()->text(), QStringLiteral("Give the app a name."));

    QTest::keyClicks(nameField(), QStringLiteral("Mail"));
    EXPECT_EQ(model->editor().name, QStringLiteral("Mail"));
    EXPECT_TRUE(model->editor().nameEdited);
    EXPECT_EQ(model->drafts()[0].state.name, QStringLiteral("Mail"));

    EXPECT_FALSE(shown(caption()));
    ASSERT_TRUE(shown(saveButton()));
    EXPECT_EQ(saveButton()->text(), QStringLiteral("Save As…"));
    EXPECT_FALSE(saveButton()->isEnabled());
    EXPECT_EQ(saveButton()->toolTip(), QStringLiteral("Pick a Chrome profile."));
    EXPECT_EQ(statusBar()->shownWarning(), QStringLiteral("Pick a Chrome profile."));
    EXPECT_EQ(child<ElidedLabel>("locationLabel")->fullText(), QStringLiteral("Chosen when you save"));
}

TEST_F(EditorPage, ProfilesAreListedWithTheirAccountsAndChoosingOneLetsAnUntouchedNameFollow) {
    writeChromeProfiles();
    model->load();
    model->navigate(Navigation::newApp());
    showPage();

    QComboBox* profiles = child<QComboBox>("profileMenu");
    ASSERT_EQ(profiles->count(), 2);
    EXPECT_EQ(profiles->itemText(0), QStringLiteral("Work  —  me@work.example"));
    EXPECT_EQ(profiles->itemText(1), QStringLiteral("Home  —  Profile 2"));
    EXPECT_EQ(profiles->currentIndex(), 0);
    EXPECT_FALSE(shown(child<QWidget>("noProfilesWarning")));

    profiles->setCurrentIndex(1);
    emit profiles->activated(1);
    EXPECT_EQ(model->editor().profileDirectory, QStringLiteral("Profile 2"));
    EXPECT_EQ(nameField()->text(), QStringLiteral("Chrome - Home"));
    EXPECT_EQ(model->drafts()[0].state.name, QStringLiteral("Chrome - Home"));
    EXPECT_TRUE(saveButton()->isEnabled());
    EXPECT_EQ(saveButton()->toolTip(), QStringLiteral("Save this proxy app"));
    EXPECT_TRUE(statusBar()->shownWarning().isEmpty());
}

TEST_F(EditorPage, NameRulesShowUnderTheFieldAndBlockSaving) {
    writeChromeProfiles();
    model->load();
    model->navigate(Navigation::newApp());
    showPage();

    // Trimmed length counts: 60 characters between spaces pass, 61 do not.
    retype(QStringLiteral("  ") + QString(61, QLatin1Char('a')) + QStringLiteral("  "));
    EXPECT_EQ(caption()->text(), QStringLiteral("That name is too long."));
    EXPECT_FALSE(saveButton()->isEnabled());
    EXPECT_EQ(saveButton()->toolTip(), QStringLiteral("That name is too long."));
    EXPECT_EQ(statusBar()->shownWarning(), QStringLiteral("That name is too long."));

    retype(QStringLiteral("  ") + QString(60, QLatin1Char('a')) + QStringLiteral("  "));
    EXPECT_FALSE(shown(caption()));
    EXPECT_TRUE(saveButton()->isEnabled());

    retype(QStringLiteral("Mail/Work"));
    EXPECT_EQ(caption()->text(), QStringLiteral("Names can't contain “/” or “:”."));
    retype(QStringLiteral(".Mail"));
    EXPECT_EQ(caption()->text(), QStringLiteral("Names can't start with a dot."));
}

TEST_F(EditorPage, ANameTakenInTheFolderIsFlaggedButSavingStaysPossible) {
    writeChromeProfiles();
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"), QStringLiteral("Profile 1"));
    test::writeProxyBundle(environment.applications() + QStringLiteral("/Home.app"),
                           QStringLiteral("org.example.home"), configFor(QStringLiteral("Profile 2")));
    model->load();
    model->select(Selection::saved(QStringLiteral("app.corvane.work")));
    showPage();

    EXPECT_EQ(caption()->text(), QStringLiteral("app.corvane.work"));
    EXPECT_FALSE(shown(child<QWidget>("occupiedWarning")));
    EXPECT_EQ(child<ElidedLabel>("locationLabel")->fullText(), QStringLiteral("~/Applications"));

    retype(QStringLiteral("Home"));
    EXPECT_TRUE(shown(child<QWidget>("occupiedWarning")));
    EXPECT_TRUE(saveButton()->isEnabled());
    retype(QStringLiteral("Homes"));
    EXPECT_FALSE(shown(child<QWidget>("occupiedWarning")));
}

TEST_F(EditorPage, UndoingEditsByHandHidesSave) {
    writeChromeProfiles();
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"), QStringLiteral("Profile 1"));
    model->load();
    model->select(Selection::saved(QStringLiteral("app.corvane.work")));
    showPage();
    EXPECT_FALSE(shown(saveButton()));
    // The "More" menu holds the app's own menu, built as it opens.
    QToolButton* more = child<QToolButton>("moreActionsButton");
    EXPECT_TRUE(shown(more));
    EXPECT_EQ(more->toolTip(), QStringLiteral("More actions for this app"));
    emit more->menu()->aboutToShow();
    QStringList actions;
    for (const QAction* action : more->menu()->actions())
        actions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(actions, (QStringList{QStringLiteral("Duplicate"), QStringLiteral("Reveal in Finder"),
                                    QStringLiteral("Re-apply Icon"), QStringLiteral("-"),
                                    QStringLiteral("Move to Trash…")}));

    QTest::keyClicks(nameField(), QStringLiteral("x"));
    ASSERT_TRUE(shown(saveButton()));
    EXPECT_EQ(saveButton()->text(), QStringLiteral("Save"));
    QTest::keyClick(nameField(), Qt::Key_Backspace);
    EXPECT_FALSE(shown(saveButton()));

    // A trailing space is no change either: the name is compared trimmed.
    QTest::keyClicks(nameField(), QStringLiteral(" "));
    EXPECT_FALSE(shown(saveButton()));

    QCheckBox* incognito = child<QCheckBox>("includeIncognitoSwitch");
    incognito->click();
    EXPECT_TRUE(shown(saveButton()));
    incognito->click();
    EXPECT_FALSE(shown(saveButton()));
}

TEST_F(EditorPage, SavingFromTheFocusedFieldShowsTheNameAsSaved) {
    writeChromeProfiles();
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"), QStringLiteral("Profile 1"));
    model->load();
    model->select(Selection::saved(QStringLiteral("app.corvane.work")));
    showPage();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    nameField()->setFocus();
    ASSERT_TRUE(nameField()->hasFocus());

    retype(QStringLiteral("  Mail  "));
    ASSERT_TRUE(saveButton()->isEnabled());
    saveButton()->click();
    ASSERT_TRUE(finishBuild());
    ASSERT_FALSE(model->errorMessage().has_value()) << model->errorMessage()->toStdString();
    EXPECT_EQ(model->editor().name, QStringLiteral("Mail"));
    EXPECT_EQ(nameField()->text(), QStringLiteral("Mail"));
    EXPECT_FALSE(shown(saveButton()));
    EXPECT_EQ(statusBar()->shownMessage(), *model->statusMessage());
}

TEST_F(EditorPage, ChangesMadeWhileTheSaveBuildsStayOnScreenUnsaved) {
    writeChromeProfiles();
    installApp(QStringLiteral("Work"), QStringLiteral("app.corvane.work"), QStringLiteral("Profile 1"));
    model->load();
    model->select(Selection::saved(QStringLiteral("app.corvane.work")));
    showPage();

    retype(QStringLiteral("Mail"));
    builder.hold();
    saveButton()->click();
    ASSERT_TRUE(model->isBusy());
    EXPECT_FALSE(saveButton()->isEnabled());
    child<QToolButton>("swatch:#B3261E")->click();
    auto* browserSwitch = child<QCheckBox>("registerAsBrowserSwitch");
    ASSERT_TRUE(browserSwitch->isEnabled());
    browserSwitch->click();
    builder.release();
    ASSERT_TRUE(finishBuild());

    EXPECT_EQ(nameField()->text(), QStringLiteral("Mail"));
    EXPECT_TRUE(browserSwitch->isChecked());
    EXPECT_EQ(model->editor().badgeColor.hexString(), QStringLiteral("#B3261E"));
    ASSERT_TRUE(shown(saveButton()));
    EXPECT_TRUE(saveButton()->isEnabled());
    EXPECT_EQ(saveButton()->text(), QStringLiteral("Save"));
}

TEST_F(EditorPage, TheStatusBarShowsTheErrorOverTheStatusAndTheWarningOnlyWithoutEither) {
    model->load();
    model->navigate(Navigation::newApp());
    showPage();
    EXPECT_EQ(statusBar()->shownWarning(), QStringLiteral("Give the app a name."));

    model->setStatusMessage(QStringLiteral("Saved Work to ~/Applications."));
    EXPECT_EQ(statusBar()->shownMessage(), QStringLiteral("Saved Work to ~/Applications."));
    EXPECT_TRUE(statusBar()->shownWarning().isEmpty());

    // Without a helper the search for closed groups fails on the error line.
    model->findAllTabGroups();
    EXPECT_EQ(
        statusBar()->shownMessage(),
        QStringLiteral(
            "Corvane needs Accessibility, and Chrome needs to be running, to look for closed tab groups."));
    EXPECT_TRUE(statusBar()->shownWarning().isEmpty());
}

TEST_F(EditorPage, TypingKeepsCaretAndKeystrokesWhileTheModelRefreshes) {
    writeChromeProfiles();
    model->load();
    model->navigate(Navigation::newApp());
    showPage();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    nameField()->setFocus();
    ASSERT_TRUE(nameField()->hasFocus());
    ASSERT_EQ(nameField()->text(), QStringLiteral("Chrome - Work"));

    nameField()->setCursorPosition(6);
    const QString typed = QStringLiteral("Mail ");
    for (const QChar c : typed) {
        QTest::keyClick(nameField(), c.toLatin1());
        // What the window does between keystrokes: the draft is mirrored, the poll republishes.
        model->mirrorEditorIntoDraft();
        model->refreshHelperStatus();
        model->setStatusMessage(QStringLiteral("Updated the background helper."));
        environment.time().advance(5);
    }
    EXPECT_EQ(nameField()->text(), QStringLiteral("ChromeMail  - Work"));
    EXPECT_EQ(nameField()->cursorPosition(), 11);
    EXPECT_EQ(model->editor().name, QStringLiteral("ChromeMail  - Work"));
    EXPECT_EQ(model->drafts()[0].state.name, QStringLiteral("ChromeMail  - Work"));

    // Another app's page replaces the text, even in the focused field.
    model->navigate(Navigation::newApp());
    EXPECT_EQ(nameField()->text(), QStringLiteral("Chrome - Work"));
}

TEST_F(EditorPage, AnOutdatedAppOffersItsUpdateOnlyWhileAppsCanBeMade) {
    writeChromeProfiles();
    installApp(QStringLiteral("Old"), QStringLiteral("app.corvane.old"), QStringLiteral("Profile 1"), 3);
    environment.setDisablesHelper(true);
    model->load();
    model->select(Selection::saved(QStringLiteral("app.corvane.old")));
    showPage();
    ASSERT_TRUE(model->editor().origin->needsRebuild());
    EXPECT_FALSE(shown(child<QWidget>("updateBanner")));

    view.reset();
    environment.setDisablesHelper(false);
    model = makeModel();
    model->load();
    model->select(Selection::saved(QStringLiteral("app.corvane.old")));
    showPage();
    EXPECT_TRUE(shown(child<QWidget>("updateBanner")));
    EXPECT_EQ(child<QLabel>("updateReasons")->text(),
              model->editor().origin->rebuildReasons().join(QLatin1Char(' ')));

    child<QPushButton>("updateButton")->click();
    EXPECT_TRUE(model->isBusy());
    EXPECT_FALSE(child<QPushButton>("updateButton")->isEnabled());
    EXPECT_TRUE(shown(child<QWidget>("editorBusyIndicator")));
    EXPECT_TRUE(finishBuild());
    ASSERT_EQ(builder.requests().size(), 1u);
    EXPECT_EQ(builder.requests()[0].bundleID, QStringLiteral("app.corvane.old"));
    EXPECT_FALSE(shown(child<QWidget>("updateBanner")));
}

} // namespace
