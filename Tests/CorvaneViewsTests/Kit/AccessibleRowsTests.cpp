// What a screen reader finds in lists whose rows are widgets: rows named by the model with their controls as
// children, the empty-list text, one list per list box, and rows laid out by hand.
#include "Corvane/Views/Kit/AccessibleRows.h"
#include "Corvane/Views/Kit/ListBox.h"
#include "Support/AccessibilityAudit.h"

#include <QAccessibleActionInterface>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

// A row as the pages draw them: a text and a button of its own.
QWidget* rowWithButton(const QString& text, const QString& button) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->addWidget(new QLabel(text, row));
    auto* press = new QPushButton(button, row);
    press->setObjectName(QStringLiteral("rowButton"));
    layout->addWidget(press);
    return row;
}

bool press(QAccessibleInterface* element) {
    QAccessibleActionInterface* actions = element ? element->actionInterface() : nullptr;
    if (!actions || !actions->actionNames().contains(QAccessibleActionInterface::pressAction()))
        return false;
    actions->doAction(QAccessibleActionInterface::pressAction());
    return true;
}

TEST(AccessibleRows, ListBoxRowsAreNamedItemsHoldingTheirControlsAndTheEmptyTextIsRead) {
    ListBox box(120);
    box.list()->setAccessibleName(QStringLiteral("Addresses"));
    box.setPlaceholder(QStringLiteral("No addresses yet — use + to add one."));
    box.resize(400, 200);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));

    QAccessibleInterface* list =
        test::accessibleElement(&box, QAccessible::List, QStringLiteral("Addresses"));
    ASSERT_NE(list, nullptr);
    // Empty: the list holds the text that says so.
    EXPECT_NE(test::accessibleElement(&box, QAccessible::StaticText,
                                      QStringLiteral("No addresses yet — use + to add one.")),
              nullptr);
    ASSERT_EQ(list->childCount(), 1);
    EXPECT_EQ(list->child(0)->object(), box.placeholder());

    box.appendRow(rowWithButton(QStringLiteral("example.com"), QStringLiteral("Remove example.com")),
                  QStringLiteral("example.com"));
    box.appendRow(rowWithButton(QStringLiteral("work.example"), QStringLiteral("Remove work.example")),
                  QStringLiteral("work.example"));
    const std::vector<QAccessibleInterface*> rows = test::accessibleChildren(list, QAccessible::ListItem);
    ASSERT_EQ(rows.size(), 2u) << "the placeholder is gone with the first row";
    EXPECT_EQ(list->childCount(), 2);
    EXPECT_EQ(rows[0]->text(QAccessible::Name), QStringLiteral("example.com"));
    EXPECT_EQ(rows[1]->text(QAccessible::Name), QStringLiteral("work.example"));
    EXPECT_EQ(list->indexOfChild(rows[1]), 1);
    EXPECT_EQ(rows[1]->parent()->object(), box.list());
    // The same element each time it is asked for, so the bus keeps one path per row.
    EXPECT_EQ(list->child(1), rows[1]);

    // The row's button is its child, and pressing it there presses the button.
    QAccessibleInterface* button = nullptr;
    for (int i = 0; i < rows[1]->childCount(); ++i)
        if (rows[1]->child(i)->role() == QAccessible::Button)
            button = rows[1]->child(i);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(QAccessible::Name), QStringLiteral("Remove work.example"));
    auto* widget = box.rowWidget(1)->findChild<QPushButton*>(QStringLiteral("rowButton"));
    QSignalSpy pressed(widget, &QPushButton::clicked);
    EXPECT_TRUE(press(button));
    EXPECT_TRUE(QTest::qWaitFor([&] { return pressed.count() == 1; }));

    // Selection and focus are the list's own, row by row.
    box.list()->setFocus();
    box.list()->setCurrentRow(1);
    EXPECT_TRUE(rows[1]->state().selected);
    EXPECT_FALSE(rows[0]->state().selected);
    if (box.list()->hasFocus()) {
        EXPECT_TRUE(rows[1]->state().focused);
        EXPECT_EQ(list->focusChild(), rows[1]);
    }

    // A removed row leaves the list; the rest keep their places.
    box.removeRow(0);
    ASSERT_EQ(list->childCount(), 1);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), QStringLiteral("work.example"));
    EXPECT_TRUE(test::unnamedInteractiveElements(&box).empty())
        << test::describeUnnamed(test::unnamedInteractiveElements(&box)).toStdString();
}

TEST(AccessibleRows, ABoxShowingAViewOfItsOwnHasOneListWithThePlaceholderInIt) {
    QStringListModel names;
    ListBox box(120);
    auto* rows = new QListView(&box);
    rows->setAccessibleName(QStringLiteral("Link Rules"));
    AccessibleRows::exposeRowWidgets(rows);
    rows->setModel(&names);
    box.setRowsView(rows);
    box.setPlaceholder(QStringLiteral("No rules yet."));
    box.resize(400, 200);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));

    const std::vector<QAccessibleInterface*> lists = test::accessibleElements(&box, QAccessible::List);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0]->object(), rows);
    EXPECT_TRUE(box.placeholder()->isVisible());
    ASSERT_EQ(lists[0]->childCount(), 1);
    EXPECT_EQ(lists[0]->child(0)->text(QAccessible::Name), QStringLiteral("No rules yet."));

    names.setStringList({QStringLiteral("Work")});
    EXPECT_FALSE(box.placeholder()->isVisible());
    ASSERT_EQ(lists[0]->childCount(), 1);
    EXPECT_EQ(lists[0]->child(0)->role(), QAccessible::ListItem);
    EXPECT_EQ(lists[0]->child(0)->text(QAccessible::Name), QStringLiteral("Work"));
    names.setStringList({});
    EXPECT_TRUE(box.placeholder()->isVisible());
}

TEST(AccessibleRows, RowsLaidOutByHandAreAListOfNamedItems) {
    QWidget list;
    AccessibleRows::setRole(&list, QAccessible::List);
    list.setAccessibleName(QStringLiteral("Other Browsers"));
    auto* column = new QVBoxLayout(&list);
    QWidget* row = rowWithButton(QStringLiteral("Firefox"), QStringLiteral("Offer Firefox"));
    AccessibleRows::setRole(row, QAccessible::ListItem);
    row->setAccessibleName(QStringLiteral("Firefox"));
    column->addWidget(row);
    list.show();

    QAccessibleInterface* shown =
        test::accessibleElement(&list, QAccessible::List, QStringLiteral("Other Browsers"));
    ASSERT_NE(shown, nullptr);
    const std::vector<QAccessibleInterface*> rows = test::accessibleChildren(shown, QAccessible::ListItem);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->text(QAccessible::Name), QStringLiteral("Firefox"));
    EXPECT_EQ(test::accessibleChildren(rows[0], QAccessible::Button).size(), 1u);
}

} // namespace
