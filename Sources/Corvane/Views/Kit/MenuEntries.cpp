#include "Corvane/Views/Kit/MenuEntries.h"

#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QMenu>

void fillMenu(QMenu* menu, const std::vector<MenuEntry>& entries) {
    menu->clear();
    for (const MenuEntry& entry : entries) {
        if (entry.isDivider) {
            menu->addSeparator();
            continue;
        }
        if (entry.isSection) {
            menu->addSection(TextStyle::forMenu(entry.title));
            continue;
        }
        const QString title = TextStyle::forMenu(entry.title);
        const QIcon icon = !entry.icon.isNull()          ? entry.icon
                           : entry.systemImage.isEmpty() ? QIcon()
                                                         : systemIcon(entry.systemImage, textColor(menu));
        if (!entry.children.empty()) {
            QMenu* submenu = menu->addMenu(icon, title);
            submenu->setEnabled(entry.enabled);
            fillMenu(submenu, entry.children);
            continue;
        }
        QAction* action = menu->addAction(icon, title);
        action->setEnabled(entry.enabled);
        action->setCheckable(entry.checkable);
        action->setChecked(entry.checked);
        action->setToolTip(entry.toolTip);
        if (entry.action)
            QObject::connect(action, &QAction::triggered, menu, [run = entry.action] { run(); });
    }
}

const MenuEntry* findEntry(const std::vector<MenuEntry>& entries, const QString& title) {
    for (const MenuEntry& entry : entries) {
        if (!entry.isDivider && !entry.isSection && entry.title == title)
            return &entry;
        if (const MenuEntry* inner = findEntry(entry.children, title))
            return inner;
    }
    return nullptr;
}

std::vector<QString> entryTitles(const std::vector<MenuEntry>& entries) {
    std::vector<QString> titles;
    for (const MenuEntry& entry : entries)
        titles.push_back(entry.isDivider   ? QStringLiteral("-")
                         : entry.isSection ? QLatin1Char('[') + entry.title + QLatin1Char(']')
                                           : entry.title);
    return titles;
}
