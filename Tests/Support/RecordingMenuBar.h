#pragma once

#include "CorvaneHost/MenuBar.h"

#include <optional>

namespace test {

// Keeps the main menu a program installs, so tests can read it and choose its items.
class RecordingMenuBar final : public host::MenuBar {
public:
    void setMainMenu(const host::Menu& menu, const QString& iconPath) override;
    // Runs the action of the item with that title; false when there is none.
    bool choose(const QString& title) const;

    std::optional<host::Menu> menu;
    QString iconPath;
    int installs = 0;
};

} // namespace test
