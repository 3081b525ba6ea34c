#pragma once

class QObject;

// The context menus of rows and controls, opened from the keyboard: the Menu key and Shift+F10 open the
// focused control's menu, a list's at its focused row, as a right click there would.
namespace KeyboardMenus {

// Watches the application's key presses for as long as `owner` lives.
void install(QObject* owner);

} // namespace KeyboardMenus
