#pragma once

#include "CorvaneHost/Accessibility.h"

#include <QString>
#include <QStringList>
#include <optional>

// One tab group as a tab strip shows it.
struct TabGroupSnapshot {
    QString name;
    bool isCollapsed = false; // no tab of the group follows its header
    host::AXElement header;
    std::optional<host::AXElement> firstTab;
    int tabCount = 0;
    // Chromium's collapsed group, whose header expands it when pressed (its tabs are then shown again).
    bool expandsOnPress = false;
};

// Finds Chrome's tab groups in a window's accessibility tree: the groups of a tab strip, one named group, the
// saved groups of the saved-groups bar and the application menu button. Chrome's interface is recognised by
// its class names and English texts only.
namespace TabGroupLocator {

std::optional<host::AXElement> tabStrip(const host::AXElement& window);
std::optional<host::AXElement> appMenuButton(const host::AXElement& root);
QStringList groupNames(const host::AXElement& tabStrip);
std::optional<TabGroupSnapshot> group(const QString& name, const host::AXElement& tabStrip);
int tabCount(const host::AXElement& element);
QStringList savedGroupNames(const host::AXElement& window);
std::optional<host::AXElement> savedChip(const QString& name, const host::AXElement& window);
std::optional<QString> parseName(const QString& headerDescription);
std::optional<QString> groupName(const QString& label);

} // namespace TabGroupLocator
