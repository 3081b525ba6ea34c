// The symbol sheet: loading, searching, categories, picking from the grid and the varieties, the inspector's
// details and "Copy name". Every pick lands in the app model's editor (and its draft) at once.
#include "Corvane/Views/Editor/SymbolPickerView.h"
#include "Corvane/Views/Editor/SymbolVarietyPicker.h"
#include "IconViewsSupport.h"
#include "Support/AppModelFixture.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <future>

namespace {

using Navigation = AppModel::PendingNavigation;

class SymbolPickerTest : public test::AppModelFixture {
protected:
    QPointer<SymbolPickerView> picker;

    void SetUp() override {
        AppModelFixture::SetUp();
        model->loadSymbolCatalog = [] { return test::fixtureCatalog(); };
        model->navigate(Navigation::newApp());
    }
    void TearDown() override {
        delete picker.data();
        AppModelFixture::TearDown();
    }

    void openPicker() {
        picker = new SymbolPickerView(*model);
        picker->show();
        ASSERT_TRUE(environment.time().runUntil([&] { return picker->hasCatalog(); }));
    }
    template <typename T> T* find(const char* name) {
        T* widget = picker->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(widget) << name;
        return widget;
    }
    void search(const QString& text) {
        auto* field = find<QLineEdit>("symbolSearch");
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }
    QModelIndex cellOf(const QString& listed) {
        auto* grid = find<QListView>("symbolGrid");
        const int row = int(picker->listedNames().indexOf(listed));
        return row < 0 ? QModelIndex() : grid->model()->index(row, 0);
    }
    void clickCell(const QString& listed) {
        auto* grid = find<QListView>("symbolGrid");
        const QModelIndex index = cellOf(listed);
        ASSERT_TRUE(index.isValid()) << listed.toStdString();
        grid->scrollTo(index);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
    }
    void clickCategory(const QString& title) {
        auto* list = find<QListWidget>("symbolCategories");
        const auto items = list->findItems(title, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << title.toStdString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(items[0]).center());
    }
    QString detail(const char* name) {
        auto* box = find<QWidget>(name);
        if (!box || box->isHidden())
            return {};
        return box->findChild<QLabel*>(box->objectName() + "Value")->text();
    }
    const AppModel::DraftApp& draft() const { return model->drafts().front(); }
};

TEST_F(SymbolPickerTest, ShowsLoadingSymbolsUntilTheCatalogArrivesWhileTheHeaderWorks) {
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    model->loadSymbolCatalog = [opened] {
        opened.wait();
        return test::fixtureCatalog();
    };
    picker = new SymbolPickerView(*model);
    picker->show();
    auto* pages = find<QStackedWidget>("symbolPickerPages");
    EXPECT_EQ(pages->currentWidget()->objectName(), "loadingSymbols");
    EXPECT_TRUE(pages->currentWidget()->findChild<QLabel*>()->text() == "Loading symbols…");
    QTest::keyClicks(find<QLineEdit>("symbolSearch"), "per");

    gate.set_value();
    ASSERT_TRUE(environment.time().runUntil([&] { return picker->hasCatalog(); }));
    EXPECT_EQ(pages->currentWidget()->objectName(), "symbolBrowser");
    // What was typed meanwhile already filters the grid.
    EXPECT_EQ(picker->listedNames(), (QStringList{"person", "person.2", "person.circle", "person.square"}));
}

TEST_F(SymbolPickerTest, TheGridFollowsEveryKeystrokeAndSaysWhenNothingMatches) {
    openPicker();
    EXPECT_EQ(picker->listedNames(), test::fixtureCatalog().browsable);
    auto* empty = find<QLabel>("noSymbolsMatch");
    EXPECT_FALSE(empty->isVisible());

    search("acc"); // a keyword of the filled form counts for the outline it is listed under
    EXPECT_EQ(picker->listedNames(), QStringList{"person"});
    QTest::keyClick(find<QLineEdit>("symbolSearch"), Qt::Key_Backspace);
    QTest::keyClick(find<QLineEdit>("symbolSearch"), Qt::Key_Backspace);
    // "a": in a name (shorter names first), else at a keyword's start.
    EXPECT_EQ(picker->listedNames(), (QStringList{"car", "star", "briefcase", "person.square", "person"}));

    search("zzz");
    EXPECT_TRUE(picker->listedNames().isEmpty());
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->text(), "No symbols match “zzz”");

    search("   ");
    EXPECT_EQ(picker->listedNames(), test::fixtureCatalog().browsable);
    EXPECT_FALSE(empty->isVisible());
}

TEST_F(SymbolPickerTest, CategoriesNarrowTheGridAndAllShowsEverything) {
    openPicker();
    auto* list = find<QListWidget>("symbolCategories");
    QStringList titles;
    for (int row = 0; row < list->count(); ++row)
        titles.append(list->item(row)->text());
    EXPECT_EQ(titles, (QStringList{"All", "Human", "Objects & Tools", "Transportation"}));

    clickCategory("Human");
    // person.circle belongs through its filled form.
    EXPECT_EQ(picker->listedNames(), (QStringList{"person", "person.circle", "person.2"}));
    search("per");
    EXPECT_EQ(picker->listedNames(), (QStringList{"person", "person.2", "person.circle"}));
    clickCategory("Transportation");
    EXPECT_TRUE(picker->listedNames().isEmpty());
    EXPECT_EQ(find<QLabel>("noSymbolsMatch")->text(), "No symbols match “per”");
    search("");
    clickCategory("All");
    EXPECT_EQ(picker->listedNames(), test::fixtureCatalog().browsable);
}

TEST_F(SymbolPickerTest, ACellPicksTheFilledFormAndStaysHighlightedForEitherForm) {
    openPicker();
    EXPECT_EQ(cellOf("person").data(Qt::ToolTipRole).toString(), "person.fill");
    EXPECT_EQ(cellOf("person").data(Qt::AccessibleTextRole).toString(), "Person");
    EXPECT_FALSE(cellOf("person").data(SymbolGridModel::isSelectedRole).toBool());

    clickCell("person");
    EXPECT_EQ(model->editor().symbolName, "person.fill");
    EXPECT_EQ(draft().state.symbolName, "person.fill");
    EXPECT_TRUE(picker->isVisible()); // the sheet stays open
    EXPECT_TRUE(cellOf("person").data(SymbolGridModel::isSelectedRole).toBool());

    // The outline form, picked among the varieties, keeps the same cell highlighted.
    auto* outline = find<QAbstractButton>("variety:person");
    ASSERT_TRUE(outline);
    QTest::mouseClick(outline, Qt::LeftButton);
    EXPECT_EQ(model->editor().symbolName, "person");
    EXPECT_EQ(draft().state.symbolName, "person");
    EXPECT_TRUE(cellOf("person").data(SymbolGridModel::isSelectedRole).toBool());
    EXPECT_FALSE(cellOf("car").data(SymbolGridModel::isSelectedRole).toBool());

    // A symbol without a filled form is picked as it is.
    clickCell("car");
    EXPECT_EQ(model->editor().symbolName, "car");
    EXPECT_FALSE(cellOf("person").data(SymbolGridModel::isSelectedRole).toBool());
}

TEST_F(SymbolPickerTest, TheInspectorShowsNamesReleaseCategoriesAndBothFormsKeywords) {
    openPicker();
    clickCell("person");
    EXPECT_EQ(find<QLabel>("inspectorDisplayName")->text(), "Person");
    EXPECT_EQ(find<QLabel>("inspectorRawName")->text(), "person.fill");
    EXPECT_EQ(detail("detailSince"), "macOS 10.15");
    EXPECT_EQ(detail("detailCategories"), "Human");
    EXPECT_EQ(detail("detailKeywords"), "account, avatar, profile, user");
    EXPECT_EQ(find<SymbolVarietyPicker>("symbolVarietyPicker")->perRow(), 3);

    clickCell("car");
    EXPECT_EQ(detail("detailSince"), "SF Symbols 2030");
    EXPECT_EQ(detail("detailKeywords"), "drive");

    clickCell("globe"); // nothing known about it
    EXPECT_EQ(find<QLabel>("inspectorDisplayName")->text(), "Globe");
    EXPECT_EQ(detail("detailSince"), "");
    EXPECT_EQ(detail("detailCategories"), "");
    EXPECT_EQ(detail("detailKeywords"), "");
    EXPECT_TRUE(find<QLabel>("onlyOneForm")->isVisible());
}

TEST_F(SymbolPickerTest, CopyNameReplacesTheClipboardWithTheRawName) {
    openPicker();
    QGuiApplication::clipboard()->setText("something else");
    clickCell("person");
    auto* copy = find<QPushButton>("copySymbolName");
    EXPECT_EQ(copy->text(), "Copy name");
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "person.fill");
}

TEST_F(SymbolPickerTest, ReturnPressesDoneAndTheEditorKeepsTheLastPick) {
    openPicker();
    clickCell("star");
    QTest::keyClick(find<QLineEdit>("symbolSearch"), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return picker.isNull(); }));
    EXPECT_EQ(model->editor().symbolName, "star.fill");
}

TEST_F(SymbolPickerTest, FromTheKeyboardArrowsMoveSpaceChoosesAndReturnIsStillDone) {
    openPicker();
    auto* grid = find<QListView>("symbolGrid");
    grid->setFocus();
    grid->setCurrentIndex(cellOf("car"));
    const QString before = model->editor().symbolName;
    QTest::keyClick(grid, Qt::Key_Right);
    const QModelIndex focused = grid->currentIndex();
    ASSERT_TRUE(focused.isValid());
    ASSERT_NE(focused, cellOf("car"));
    EXPECT_EQ(model->editor().symbolName, before) << "moving chooses nothing";

    QTest::keyClick(grid, Qt::Key_Space);
    const QString chosen = focused.data(SymbolGridModel::targetRole).toString();
    EXPECT_EQ(model->editor().symbolName, chosen);
    EXPECT_TRUE(focused.data(SymbolGridModel::isSelectedRole).toBool());
    EXPECT_TRUE(picker->isVisible()); // the sheet stays open

    QTest::keyClick(grid, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return picker.isNull() || !picker->isVisible(); }));
    EXPECT_EQ(model->editor().symbolName, chosen);
}

TEST_F(SymbolPickerTest, AnEditFromElsewhereMovesTheHighlightInPlace) {
    openPicker();
    search("per");
    EditorState edited = model->editor();
    edited.symbolName = "person.circle.fill";
    model->setEditor(edited);
    EXPECT_TRUE(cellOf("person.circle").data(SymbolGridModel::isSelectedRole).toBool());
    EXPECT_EQ(find<QLineEdit>("symbolSearch")->text(), "per");
    EXPECT_EQ(find<QLabel>("inspectorRawName")->text(), "person.circle.fill");
}

} // namespace
