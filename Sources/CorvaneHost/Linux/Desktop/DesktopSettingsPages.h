#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

namespace host {

// The settings pages the product asks the system for.
enum class DesktopSettingsPage { defaultApplications, accessibility };

// The page a system settings address stands for: the page where the default web browser is chosen, and the
// list of applications allowed to use accessibility. None for any other address.
std::optional<DesktopSettingsPage> settingsPageForAddress(const QUrl& address);

// How the page is named in log lines ("default applications", "accessibility").
QString settingsPageName(DesktopSettingsPage page);

// The command that opens `page` in the settings program of one of `desktops` (the names of
// XDG_CURRENT_DESKTOP, in order), the first whose program `findExecutable` finds (it answers the program's
// full path, or an empty text) and, where a release is told apart by the desktop entry of one of its panels,
// whose panel `hasDesktopEntry` finds (by its file name). None when none of these desktops has such a page
// here.
std::optional<QStringList> settingsPageCommand(DesktopSettingsPage page, const QStringList& desktops,
                                               const std::function<QString(const QString&)>& findExecutable,
                                               const std::function<bool(const QString&)>& hasDesktopEntry);

// The desktops of this session as XDG_CURRENT_DESKTOP names them.
QStringList currentDesktops();

} // namespace host
