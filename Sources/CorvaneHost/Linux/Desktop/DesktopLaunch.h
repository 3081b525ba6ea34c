#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>
#include <optional>

namespace host {

// What a desktop start's arguments open: absolute URLs, and absolute paths of files (as xdg-open hands files
// on), with the links' text as written (a parsed URL has its host normalised). None when any argument is
// something else: the program was started with switches of its own.
struct DesktopLinks {
    QList<QUrl> urls;
    QStringList written; // one for each URL that is not a file, in order
};
std::optional<DesktopLinks> desktopLaunchLinks(const QStringList& arguments);

// A program of a bundle that the desktop starts with links as its arguments (through the desktop entry
// written for the bundle, "%U") takes them as the open-URL event and returns at once: callers such as
// xdg-open wait for the program they start. The links go to the running instance, or to a resident instance
// started detached from the caller (its own session, its output away from the caller's). Returns the exit
// status when the links were handed on; none when this start is no such start (no links among the arguments,
// or started by the workspace, which hands its links as events).
std::optional<int> handOnDesktopLaunch(const QStringList& arguments);

} // namespace host
