#pragma once

#include <QString>
#include <functional>
#include <vector>

class QMenu;

// A menu as data: what menu builders return, so tests read the entries (and trigger them) without showing
// a menu, and the same entries can fill a context menu and a button's menu.
struct MenuEntry {
    QString title;       // as the user reads it ("&" not doubled)
    QString systemImage; // optional symbol name
    QString toolTip;
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    bool isDivider = false;
    std::vector<MenuEntry> children; // a submenu when not empty
    std::function<void()> action;

    static MenuEntry divider() {
        MenuEntry entry;
        entry.isDivider = true;
        return entry;
    }
};

// Replaces the menu's actions with `entries`.
void fillMenu(QMenu* menu, const std::vector<MenuEntry>& entries);
// The entry with that title (searched depth first), or none.
const MenuEntry* findEntry(const std::vector<MenuEntry>& entries, const QString& title);
// The titles in order, dividers as "-" (for tests and for reading a menu out).
std::vector<QString> entryTitles(const std::vector<MenuEntry>& entries);
