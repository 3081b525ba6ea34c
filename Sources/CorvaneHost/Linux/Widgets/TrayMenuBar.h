#pragma once

#include "CorvaneHost/MenuBar.h"

#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace host {

// The main menu of a windowless program, shown from an icon in the desktop's status area where the desktop
// has one (elsewhere the menu is kept but not shown).
class TrayMenuBar final : public MenuBar {
public:
    TrayMenuBar();
    ~TrayMenuBar() override;
    void setMainMenu(const Menu& menu, const QString& iconPath) override;

private:
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
};

} // namespace host
