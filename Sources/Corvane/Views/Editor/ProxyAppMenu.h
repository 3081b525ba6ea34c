#pragma once

#include "Corvane/Models/AppModel.h"
#include "Corvane/Views/Kit/MenuEntries.h"

// The actions on one proxy app or draft, for the sidebar row's context menu and the editor's "More" menu.
std::vector<MenuEntry> proxyAppMenuItems(AppModel& model, const AppModel::Selection& item);
