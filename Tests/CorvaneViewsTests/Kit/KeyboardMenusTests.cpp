// Context menus opened from the keyboard: the Menu key and Shift+F10, at a list's focused row.
#include "Corvane/Views/Kit/KeyboardMenus.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

TEST(KeyboardMenus, TheMenuKeyAndShiftF10OpenTheFocusedRowsMenu) {
    QWidget window;
    KeyboardMenus::install(&window);
    auto* column = new QVBoxLayout(&window);
    auto* list = new QListWidget(&window);
    list->addItems({QStringLiteral("Work"), QStringLiteral("Home"), QStringLiteral("Mail")});
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(list);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QStringList asked;
    QObject::connect(list, &QWidget::customContextMenuRequested, list, [&](const QPoint& at) {
        QListWidgetItem* item = list->itemAt(at);
        asked.append(item ? item->text() : QStringLiteral("<none>"));
    });
    list->setFocus();
    list->setCurrentRow(2);
    QTest::keyClick(list, Qt::Key_Menu);
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
    QTest::keyClick(list, Qt::Key_F10);
    EXPECT_EQ(asked, (QStringList{QStringLiteral("Mail"), QStringLiteral("Home")}));
}

TEST(KeyboardMenus, AControlInsideARowOpensTheRowsMenu) {
    QWidget window;
    KeyboardMenus::install(&window);
    auto* row = new QWidget(&window);
    row->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* layout = new QVBoxLayout(row);
    auto* button = new QPushButton(QStringLiteral("Offer"), row);
    layout->addWidget(button);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int asked = 0;
    QObject::connect(row, &QWidget::customContextMenuRequested, row, [&] { ++asked; });
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Menu);
    EXPECT_EQ(asked, 1);
}

} // namespace
