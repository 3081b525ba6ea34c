// The editor's icon section on the real app model: every control writes the editor (and the draft it
// mirrors), and the preview and thumbnails follow the icon it describes.
#include "Corvane/Views/Editor/IconPreviewView.h"
#include "Corvane/Views/Editor/IconSectionView.h"
#include "Corvane/Views/Editor/IconStylePicker.h"
#include "Corvane/Views/Editor/SymbolPickerView.h"
#include "IconViewsSupport.h"
#include "Support/AppModelFixture.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QColorDialog>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTest>

namespace {

using Navigation = AppModel::PendingNavigation;
using Style = StubConfig::IconStyle;

class IconSectionTest : public test::AppModelFixture {
protected:
    test::RecordingRenderer renderer;
    std::unique_ptr<IconSectionView> section;

    void SetUp() override {
        AppModelFixture::SetUp();
        model->navigate(Navigation::newApp());
        section = std::make_unique<IconSectionView>(*model);
        section->resize(800, 600);
        section->show();
    }
    void TearDown() override {
        section.reset();
        AppModelFixture::TearDown();
    }

    template <typename T> T* find(const QString& name) {
        T* widget = section->findChild<T*>(name);
        EXPECT_TRUE(widget) << name.toStdString();
        return widget;
    }
    void click(const QString& name) {
        auto* button = find<QAbstractButton>(name);
        ASSERT_TRUE(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    IconPreviewView* preview() { return find<IconPreviewView>("iconPreview"); }
    // Runs the settle delay and waits for the preview to show the icon the editor describes.
    bool previewShowsTheEditor() {
        environment.time().advance(IconPreviewView::settleDelay);
        const QColor badge = model->editor().badgeColor.toQColor();
        return environment.time().runUntil([&] {
            return test::RecordingRenderer::colourOf(preview()->shownImage(128)) == badge &&
                   !renderer.rendered(128).empty() && renderer.rendered(128).back() == section->iconSpec();
        });
    }
    const EditorState& draft() const { return model->drafts().front().state; }
};

TEST_F(IconSectionTest, TheNineSwatchesSetTheirExactColoursInTheEditorAndTheDraft) {
    const std::vector<std::pair<QString, QString>> expected{
        {"Graphite", "#1F2124"}, {"Purple", "#7B1FA2"}, {"Blue", "#2C6BED"},
        {"Teal", "#0F766E"},     {"Green", "#16794C"},  {"Amber", "#B45309"},
        {"Red", "#B3261E"},      {"Pink", "#A81B60"},   {"Indigo", "#3F3D9E"}};
    for (const auto& [name, hex] : expected) {
        SCOPED_TRACE(name.toStdString());
        auto* swatch = find<QAbstractButton>("swatch:" + hex);
        ASSERT_TRUE(swatch);
        EXPECT_EQ(swatch->toolTip(), name);
        EXPECT_EQ(swatch->accessibleName(), name);
        QTest::mouseClick(swatch, Qt::LeftButton);
        EXPECT_EQ(model->editor().badgeColor.hexString(), hex);
        EXPECT_EQ(draft().badgeColor.hexString(), hex);
    }
    EXPECT_TRUE(previewShowsTheEditor());
}

TEST_F(IconSectionTest, TwoEditsWithinTheSettleDelayRenderThePreviewOnce) {
    ASSERT_TRUE(previewShowsTheEditor());
    const size_t before = renderer.rendered(128).size();
    click("swatch:#7B1FA2");
    environment.time().advance(0.1);
    click("swatch:#0F766E");
    ASSERT_TRUE(previewShowsTheEditor());
    test::RecordingRenderer::settle(environment.time());
    const auto large = renderer.rendered(128);
    ASSERT_EQ(large.size(), before + 1);
    EXPECT_EQ(large.back().badgeColor.hexString(), "#0F766E");
    // The thumbnails show the same colour in each style.
    environment.time().advance(IconStylePicker::thumbnailSettleDelay);
    ASSERT_TRUE(environment.time().runUntil([&] {
        return test::RecordingRenderer::colourOf(
                   find<IconStylePicker>("iconStylePicker")->thumbnailImage(Style::Ring)) ==
               QColor("#0F766E");
    }));
}

TEST_F(IconSectionTest, AStyleThumbnailChoosesTheIconStyleAndMovesTheHighlight) {
    click("iconStyle:ring");
    EXPECT_EQ(model->editor().iconStyle, Style::Ring);
    EXPECT_EQ(draft().iconStyle, Style::Ring);
    EXPECT_TRUE(find<QAbstractButton>("iconStyle:ring")->isChecked());
    EXPECT_FALSE(find<QAbstractButton>("iconStyle:segments")->isChecked());
    ASSERT_TRUE(previewShowsTheEditor());
    EXPECT_EQ(renderer.rendered(128).back().iconStyle, Style::Ring);

    click("glyphStyle:dark");
    EXPECT_EQ(model->editor().symbolStyle, StubConfig::SymbolStyle::Dark);
    ASSERT_TRUE(previewShowsTheEditor());
    EXPECT_EQ(renderer.rendered(128).back().symbolStyle, StubConfig::SymbolStyle::Dark);
}

TEST_F(IconSectionTest, TheColourWellOpensWithoutAlphaAndSavesTheChosenColourAsItsHexText) {
    click("badgeColorWell");
    auto* dialog = section->findChild<QColorDialog*>("badgeColorDialog");
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_FALSE(dialog->testOption(QColorDialog::ShowAlphaChannel));
    EXPECT_EQ(dialog->currentColor(), model->editor().badgeColor.toQColor());

    dialog->setCurrentColor(QColor::fromHsvF(0.6, 0.5, 0.7));
    dialog->accept();
    EXPECT_EQ(model->editor().badgeColor.hexString(), QColor::fromHsvF(0.6, 0.5, 0.7).name().toUpper());
    EXPECT_EQ(draft().badgeColor, model->editor().badgeColor);
    EXPECT_TRUE(previewShowsTheEditor());
}

TEST_F(IconSectionTest, TheBadgeFollowsTheColourBeingPickedAndCancelPutsTheOldOneBack) {
    const IconColor original = model->editor().badgeColor;
    click("badgeColorWell");
    auto* dialog = section->findChild<QColorDialog*>("badgeColorDialog");
    ASSERT_TRUE(dialog);

    const QColor picking = QColor::fromHsvF(0.3, 0.6, 0.5);
    dialog->setCurrentColor(picking);
    EXPECT_EQ(model->editor().badgeColor.hexString(), picking.name().toUpper()) << "before the dialog closes";
    EXPECT_TRUE(previewShowsTheEditor());

    dialog->reject();
    EXPECT_EQ(model->editor().badgeColor, original);
    EXPECT_TRUE(previewShowsTheEditor());
}

TEST_F(IconSectionTest, TheGlyphButtonShowsTheDisplayNameAndOpensTheSymbolSheet) {
    model->loadSymbolCatalog = [] { return test::fixtureCatalog(); };
    EditorState edited = model->editor();
    edited.symbolName = "person.circle.fill";
    model->setEditor(edited);
    auto* glyph = find<QPushButton>("glyphButton");
    EXPECT_EQ(find<QLabel>("glyphName")->text(), "Person");
    EXPECT_EQ(glyph->toolTip(), "person.circle.fill");
    EXPECT_EQ(glyph->accessibleName(), "Person");

    QTest::mouseClick(glyph, Qt::LeftButton);
    auto* picker = section->findChild<SymbolPickerView*>("symbolPicker");
    ASSERT_TRUE(picker);
    EXPECT_TRUE(picker->isVisible());
    EXPECT_EQ(picker->windowModality(), Qt::WindowModal);
    ASSERT_TRUE(environment.time().runUntil([&] { return picker->hasCatalog(); }));

    auto* grid = picker->findChild<QListView*>("symbolGrid");
    const QModelIndex car = grid->model()->index(int(picker->listedNames().indexOf("car")), 0);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(car).center());
    EXPECT_EQ(model->editor().symbolName, "car");
    EXPECT_EQ(draft().symbolName, "car");
    EXPECT_EQ(glyph->toolTip(), "car");
    EXPECT_EQ(find<QLabel>("glyphName")->text(), "Car");
    ASSERT_TRUE(previewShowsTheEditor());
    EXPECT_EQ(renderer.rendered(128).back().symbolName, "car");
}

TEST_F(IconSectionTest, TheVarietyRowAppearsWithTheModelsCatalogAndPicksAForm) {
    auto* onlyOne = find<QLabel>("onlyOneForm");
    EXPECT_TRUE(onlyOne->isVisible()); // no catalog yet
    model->loadSymbolCatalog = [] { return test::fixtureCatalog(); };
    EditorState edited = model->editor();
    edited.symbolName = "star";
    model->setEditor(edited);
    model->load();
    ASSERT_TRUE(environment.time().runUntil([&] { return model->symbolCatalog().has_value(); }));

    EXPECT_FALSE(onlyOne->isVisible());
    click("variety:star.fill");
    EXPECT_EQ(model->editor().symbolName, "star.fill");
    EXPECT_EQ(draft().symbolName, "star.fill");
    ASSERT_TRUE(previewShowsTheEditor());
}

TEST_F(IconSectionTest, EveryControlAUserCanReachHasASpokenName) {
    model->loadSymbolCatalog = [] { return test::fixtureCatalog(); };
    model->load();
    ASSERT_TRUE(environment.time().runUntil([&] { return model->symbolCatalog().has_value(); }));
    EditorState edited = model->editor();
    edited.symbolName = "person";
    model->setEditor(edited);
    click("glyphButton");
    auto* picker = section->findChild<SymbolPickerView*>("symbolPicker");
    ASSERT_TRUE(picker && picker->hasCatalog());

    int checked = 0;
    for (QWidget* widget : section->findChildren<QWidget*>()) {
        if (!widget->isVisible() || !(widget->focusPolicy() & Qt::TabFocus) ||
            widget->window()->objectName() == "badgeColorDialog")
            continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        ASSERT_TRUE(accessible);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty())
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 20); // thumbnails, glyph, well, swatches, tiles, segments, search, lists, buttons
}

} // namespace
