// Choosing what a proxy app opens (the whole profile or a tab group) and the switches that follow the choice.
#include "Corvane/Views/Editor/EditorView.h"
#include "Corvane/Views/Kit/PageStatusBar.h"
#include "Support/AppModelFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

namespace {

using Navigation = AppModel::PendingNavigation;

TabGroupInfo group(const QString& name, bool isOpen) {
    return TabGroupInfo{name, isOpen, !isOpen, isOpen ? 1 : 0};
}

class TabGroupChoice : public test::AppModelFixture {
protected:
    std::unique_ptr<EditorView> view;

    void SetUp() override {
        AppModelFixture::SetUp();
        const QString path = ChromeProfiles::localStateURL();
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(
            R"({"profile":{"info_cache":{"Profile 1":{"name":"Work"}},"profiles_order":["Profile 1"]}})");
        file.close();
        model->load();
        connectTrustedHelper();
        model->navigate(Navigation::newApp());
        view = std::make_unique<EditorView>(*model);
        view->show();
    }

    // The helper's answer to the listing of the profile's open groups.
    void answerOpenGroups(std::vector<TabGroupInfo> groups) {
        ASSERT_FALSE(link->requests.empty());
        link->answerTabGroups(std::move(groups));
        environment.time().runUntilIdle();
    }

    template <typename T> T* child(const char* name) {
        T* found = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QComboBox* menu() { return child<QComboBox>("tabGroupMenu"); }
    QString advice() {
        QLabel* label = child<QLabel>("tabGroupAdvice");
        return label->isVisibleTo(view.get()) ? label->text() : QString();
    }
    bool shown(const char* name) { return child<QWidget>(name)->isVisibleTo(view.get()); }
    QStringList entries() {
        QStringList texts;
        for (int index = 0; index < menu()->count(); ++index)
            texts << (menu()->itemData(index, Qt::AccessibleDescriptionRole).toString() ==
                              QStringLiteral("separator")
                          ? QStringLiteral("-")
                          : menu()->itemText(index));
        return texts;
    }
    void choose(const QString& text) {
        const int index = menu()->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        menu()->setCurrentIndex(index);
        emit menu()->activated(index);
    }
    void runChrome() {
        host::RunningApplication chrome;
        chrome.processIdentifier = 4242;
        chrome.bundleIdentifier = Corvane::chromeBundleID;
        environment.workspace().addRunning(chrome);
    }
};

TEST_F(TabGroupChoice, ListedGroupsAreOfferedAndChoosingOneNamesTheDraftAndSwapsTheSwitches) {
    answerOpenGroups({group(QStringLiteral("Sprint"), true), group(QStringLiteral("Archive"), false)});
    EXPECT_EQ(entries(),
              (QStringList{QStringLiteral("The whole profile"), QStringLiteral("Sprint  —  open now"),
                           QStringLiteral("Archive  —  closed"), QStringLiteral("-"),
                           QStringLiteral("Another tab group…")}));
    EXPECT_EQ(menu()->currentIndex(), 0);
    EXPECT_EQ(advice(), QStringLiteral("Only open groups are listed. Use ↻ to look for closed ones too."));
    EXPECT_TRUE(shown("profileBehaviourRows"));
    EXPECT_FALSE(shown("groupBehaviourRows"));

    // A value set in profile mode survives the swap, though its switch is hidden.
    child<QCheckBox>("includeIncognitoSwitch")->click();
    child<QCheckBox>("closeProfileOnQuitSwitch")->click();
    ASSERT_FALSE(model->editor().includeIncognito);

    choose(QStringLiteral("Sprint  —  open now"));
    EXPECT_EQ(model->editor().tabGroupName, QStringLiteral("Sprint"));
    EXPECT_EQ(model->editor().name, QStringLiteral("Sprint"));
    EXPECT_EQ(model->drafts()[0].state.tabGroupName, QStringLiteral("Sprint"));
    EXPECT_EQ(advice(),
              QStringLiteral("Chrome identifies a tab group only by its name, so renaming the group in "
                             "Chrome will disconnect it from this app."));
    EXPECT_TRUE(shown("groupBehaviourRows"));
    EXPECT_FALSE(shown("profileBehaviourRows"));
    // Both quit switches set the same value.
    EXPECT_TRUE(child<QCheckBox>("closeGroupOnQuitSwitch")->isChecked());
    child<QCheckBox>("ownWindowSwitch")->click();
    EXPECT_FALSE(model->editor().ownWindow);
    EXPECT_FALSE(model->editor().includeIncognito);

    choose(QStringLiteral("The whole profile"));
    EXPECT_FALSE(model->editor().tabGroupName.has_value());
    EXPECT_EQ(model->editor().name, QStringLiteral("Chrome - Work"));
    EXPECT_TRUE(shown("profileBehaviourRows"));
    EXPECT_FALSE(child<QCheckBox>("includeIncognitoSwitch")->isChecked());
    EXPECT_TRUE(child<QCheckBox>("closeProfileOnQuitSwitch")->isChecked());
    EXPECT_FALSE(model->editor().ownWindow);
}

TEST_F(TabGroupChoice, ATypedNameIsTrimmedKeptAsAnEntryAndBlankNamesAreNeverUsed) {
    answerOpenGroups({});
    EXPECT_EQ(advice(), QStringLiteral("No open tab groups in this profile. Use ↻ to look for closed ones."));
    EXPECT_FALSE(shown("tabGroupNamingRows"));

    choose(QStringLiteral("Another tab group…"));
    ASSERT_TRUE(shown("tabGroupNamingRows"));
    EXPECT_EQ(menu()->currentIndex(), 0); // never shown as the choice
    QLineEdit* field = child<QLineEdit>("tabGroupNameField");
    QPushButton* use = child<QPushButton>("useGroupNameButton");
    EXPECT_FALSE(use->isEnabled());
    QTest::keyClicks(field, QStringLiteral("   "));
    EXPECT_FALSE(use->isEnabled());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(shown("tabGroupNamingRows"));
    EXPECT_FALSE(model->editor().tabGroupName.has_value());

    QTest::keyClicks(field, QStringLiteral("Side Project  "));
    EXPECT_TRUE(use->isEnabled());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(shown("tabGroupNamingRows"));
    EXPECT_EQ(model->editor().tabGroupName, QStringLiteral("Side Project"));
    EXPECT_EQ(entries().at(1), QStringLiteral("Side Project"));
    EXPECT_EQ(menu()->currentIndex(), 1);

    // "Another tab group…" starts from the current name; Cancel changes nothing and empties the field.
    choose(QStringLiteral("Another tab group…"));
    EXPECT_EQ(field->text(), QStringLiteral("Side Project"));
    QTest::keyClicks(field, QStringLiteral(" 2"));
    child<QPushButton>("cancelGroupNameButton")->click();
    EXPECT_FALSE(shown("tabGroupNamingRows"));
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(model->editor().tabGroupName, QStringLiteral("Side Project"));

    // With the rows open, choosing the whole profile closes them and clears the group.
    choose(QStringLiteral("Another tab group…"));
    choose(QStringLiteral("The whole profile"));
    EXPECT_FALSE(shown("tabGroupNamingRows"));
    EXPECT_FALSE(model->editor().tabGroupName.has_value());
    EXPECT_EQ(entries().at(1), QStringLiteral("-"));
}

TEST_F(TabGroupChoice, TheDeepScanShowsItsProgressReportsAndEndsTheAdvice) {
    answerOpenGroups({group(QStringLiteral("Sprint"), true)});
    runChrome();
    QToolButton* scan = child<QToolButton>("tabGroupScanButton");
    ASSERT_TRUE(scan->isEnabled());
    scan->click();
    EXPECT_TRUE(model->isDeepScanning());
    EXPECT_EQ(child<QStackedWidget>("tabGroupScanStack")->currentIndex(), 1);
    EXPECT_FALSE(scan->isEnabled());

    environment.time().advance(AppModel::deepScanDelay);
    link->answerTabGroups({group(QStringLiteral("Sprint"), true), group(QStringLiteral("Old Trip"), false)});
    environment.time().runUntilIdle();
    EXPECT_FALSE(model->isDeepScanning());
    EXPECT_EQ(child<QStackedWidget>("tabGroupScanStack")->currentIndex(), 0);
    EXPECT_EQ(view->findChild<PageStatusBar*>()->shownMessage(),
              QStringLiteral("Found 2 tab groups, 1 of them closed."));
    EXPECT_EQ(entries(),
              (QStringList{QStringLiteral("The whole profile"), QStringLiteral("Old Trip  —  closed"),
                           QStringLiteral("Sprint  —  open now"), QStringLiteral("-"),
                           QStringLiteral("Another tab group…")}));
    EXPECT_TRUE(advice().isEmpty());
}

TEST_F(TabGroupChoice, WithoutAccessibilityTheAdviceSaysSoAndTheScanIsOff) {
    answerOpenGroups({group(QStringLiteral("Sprint"), true)});
    link->pushTrust(false);
    environment.time().runUntilIdle();
    EXPECT_EQ(advice(),
              QStringLiteral("Grant Accessibility under System to list this profile's tab groups."));
    EXPECT_FALSE(child<QToolButton>("tabGroupScanButton")->isEnabled());

    // A group the helper does not list (a saved app's, or typed) still shows as its own chosen entry.
    model->selectTabGroup(QStringLiteral("Gone"));
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("The whole profile"),
                                      QStringLiteral("Sprint  —  open now"), QStringLiteral("Gone"),
                                      QStringLiteral("-"), QStringLiteral("Another tab group…")}));
    EXPECT_EQ(menu()->currentIndex(), 2);
    EXPECT_TRUE(advice().startsWith(QStringLiteral("Chrome identifies a tab group only by its name")));
}

} // namespace
