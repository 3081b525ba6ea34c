#pragma once

#include <QIcon>
#include <QString>
#include <functional>
#include <vector>

class QMenu;

// A menu as data: what menu builders return, so tests read the entries (and trigger them) without showing
// a menu, and the same entries can fill a context menu and a button's menu.
struct MenuEntry {
    QString title{};       // as the user reads it ("&" not doubled)
    QString systemImage{}; // optional symbol name
    QIcon icon{};          // an application's own icon; drawn instead of `systemImage` when set
    QString toolTip{};
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    bool isDivider = false;
    bool isSection = false;            // a section heading: `title` over the entries that follow
    std::vector<MenuEntry> children{}; // a submenu when not empty
    std::function<void()> action{};

    static MenuEntry divider() {
        MenuEntry entry;
        entry.isDivider = true;
        return entry;
    }
    static MenuEntry section(QString title) {
        MenuEntry entry;
        entry.title = std::move(title);
        entry.isSection = true;
        entry.enabled = false;
        return entry;
    }
};

// Replaces the menu's actions with `entries`.
void fillMenu(QMenu* menu, const std::vector<MenuEntry>& entries);
// The entry with that title (searched depth first, section headings skipped), or none.
const MenuEntry* findEntry(const std::vector<MenuEntry>& entries, const QString& title);
// The titles in order, dividers as "-", section headings as "[title]" (for tests and for reading a menu out).
std::vector<QString> entryTitles(const std::vector<MenuEntry>& entries);
