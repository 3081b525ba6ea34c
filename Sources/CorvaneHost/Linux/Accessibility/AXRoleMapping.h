#pragma once

#include <QString>
#include <QStringList>

namespace host {

// The one table that turns what AT-SPI says of an element into the platform's accessibility vocabulary
// (roles, subroles, actions), so every program reads Chromium, Qt programs and the rest alike.
namespace AXRoleMapping {

// What the mapping needs to know of one AT-SPI element.
struct ElementFacts {
    QString atspiRole;           // AT-SPI's role name ("push button", "page tab list", ...)
    bool topLevel = false;       // a child of its application (a window of its own)
    bool opensMenu = false;      // has a pop-up menu (the has-popup state, or haspopup "menu"/"true")
    bool standardWindow = false; // a normal window that the window manager manages
};

QString role(const ElementFacts& facts);
// Empty when the role has no subrole.
QString subrole(const ElementFacts& facts);

// The AT-SPI action names that carry out the platform action `axAction` ("AXPress", "AXShowMenu"), best
// first; empty for actions that are not element actions (AXRaise goes through the window manager).
QStringList atspiActions(const QString& axAction);
// The platform name of an AT-SPI action, or empty when it has none.
QString axAction(const QString& atspiAction);

// The X keysym of the platform's virtual key code (53: Escape), or 0 for keys this table does not know.
quint32 keysym(int virtualKeyCode);

// Whether the haspopup object attribute says the element opens a menu.
bool popupOpensMenu(const QString& hasPopupAttribute);

} // namespace AXRoleMapping
} // namespace host
