#pragma once

#include <QString>
#include <functional>
#include <vector>

namespace host {

// One entry of a menu: a command with its title, its key equivalent (pressed with the command key) and its
// action, or a separator.
struct MenuItem {
    QString title;
    QString keyEquivalent;
    std::function<void()> action;
    bool isSeparator = false;

    static MenuItem separator() { return MenuItem{{}, {}, {}, true}; }
};

// The application's menu: the items of its one top-level menu.
struct Menu {
    QString title;
    std::vector<MenuItem> items;
};

// Where a program's main menu is shown. A program without windows is reached through it.
class MenuBar {
public:
    virtual ~MenuBar() = default;
    // Makes `menu` the application's main menu; `iconPath` is the application's icon file (may be empty).
    virtual void setMainMenu(const Menu& menu, const QString& iconPath) = 0;
};

MenuBar& menuBar();

} // namespace host
