#include "Corvane/Views/ProxyAppMenu.h"

std::vector<MenuEntry> proxyAppMenuItems(AppModel&, const AppModel::Selection&) {
    return {};
}
