#include "Support/RecordingMenuBar.h"

namespace test {

void RecordingMenuBar::setMainMenu(const host::Menu& installed, const QString& icon) {
    menu = installed;
    iconPath = icon;
    ++installs;
}

bool RecordingMenuBar::choose(const QString& title) const {
    if (!menu)
        return false;
    for (const host::MenuItem& item : menu->items)
        if (!item.isSeparator && item.title == title) {
            if (item.action)
                item.action();
            return true;
        }
    return false;
}

} // namespace test
