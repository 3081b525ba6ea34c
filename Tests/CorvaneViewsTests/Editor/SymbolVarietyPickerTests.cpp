// The forms of a symbol as tiles: one row where it fits, else rows of the given count.
#include "Corvane/Views/Editor/SymbolVarietyPicker.h"
#include "IconViewsSupport.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QStringList personFamily() {
    return {"person", "person.fill", "person.circle", "person.circle.fill", "person.square"};
}

TEST(SymbolVarietyPicker, StandsInOneRowWhenItFitsAndInRowsOfTheCountWhenNot) {
    SymbolVarietyPicker picker(3);
    picker.setCatalog(test::fixtureCatalog());
    picker.setSymbolName("person.fill");
    EXPECT_EQ(picker.varieties(), personFamily());

    picker.resize(1000, picker.heightForWidth(1000));
    EXPECT_EQ(picker.arrangedRows(), QList<QStringList>{personFamily()});
    picker.resize(200, picker.heightForWidth(200));
    EXPECT_EQ(picker.arrangedRows(), (QList<QStringList>{{"person", "person.fill", "person.circle"},
                                                         {"person.circle.fill", "person.square"}}));
    EXPECT_GT(picker.heightForWidth(200), picker.heightForWidth(1000));
}

TEST(SymbolVarietyPicker, ACountBelowOneIsTakenAsOne) {
    for (const int count : {0, -4}) {
        SymbolVarietyPicker picker(count);
        picker.setCatalog(test::fixtureCatalog());
        picker.setSymbolName("star");
        picker.resize(60, picker.heightForWidth(60));
        EXPECT_EQ(picker.perRow(), 1);
        EXPECT_EQ(picker.arrangedRows(), (QList<QStringList>{{"star"}, {"star.fill"}}));
    }
}

TEST(SymbolVarietyPicker, TilesHighlightTheSymbolLabelTheFormsAndAskForTheClickedForm) {
    SymbolVarietyPicker picker(4);
    picker.setCatalog(test::fixtureCatalog());
    picker.setSymbolName("person");
    picker.resize(600, 100);
    picker.show();
    QSignalSpy clicked(&picker, &SymbolVarietyPicker::symbolClicked);
    auto* filled = picker.findChild<QAbstractButton*>("variety:person.circle.fill");
    ASSERT_TRUE(filled);
    EXPECT_EQ(filled->accessibleName(), "Circle filled");
    EXPECT_EQ(filled->toolTip(), "person.circle.fill");
    EXPECT_EQ(picker.findChild<QAbstractButton*>("variety:person")->accessibleName(), "Outline");

    QTest::mouseClick(filled, Qt::LeftButton);
    ASSERT_EQ(clicked.size(), 1);
    EXPECT_EQ(clicked[0][0].toString(), "person.circle.fill");

    // The family stays when the symbol moves within it; the tiles are the same ones.
    picker.setSymbolName("person.circle.fill");
    EXPECT_EQ(picker.findChild<QAbstractButton*>("variety:person.circle.fill"), filled);
    EXPECT_EQ(picker.varieties(), personFamily());
}

TEST(SymbolVarietyPicker, ASingleFormOrNoCatalogSaysThereIsOnlyOneFormUntilTheCatalogArrives) {
    SymbolVarietyPicker picker(4);
    picker.resize(400, 100);
    picker.show();
    picker.setSymbolName("person");
    auto* text = picker.findChild<QLabel*>("onlyOneForm");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->text(), "This symbol has only one form.");
    EXPECT_TRUE(text->isVisible());
    EXPECT_TRUE(picker.varieties().isEmpty());

    picker.setCatalog(test::fixtureCatalog());
    EXPECT_EQ(picker.varieties(), personFamily());
    EXPECT_FALSE(text->isVisible());
    EXPECT_TRUE(picker.findChild<QAbstractButton*>("variety:person.square")->isVisible());

    picker.setSymbolName("globe");
    EXPECT_EQ(picker.varieties(), QStringList{"globe"});
    EXPECT_TRUE(text->isVisible());
    EXPECT_TRUE(picker.arrangedRows().isEmpty());
}

} // namespace
