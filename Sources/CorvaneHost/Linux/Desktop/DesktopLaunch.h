#pragma once

#include "CorvaneHost/Bundle.h"

#include <QList>
#include <QStringList>
#include <QUrl>
#include <optional>

namespace host {

// What a desktop start's arguments open: links (parseLink), and paths of existing files (absolute as xdg-open
// hands files on, or relative to the working folder as a desktop that passes paths as given hands them), with
// the links' text as written (a parsed URL has its host normalised). Arguments that are neither are kept
// apart, as given. None when any argument reads as a switch ("-..."): the program was started with switches
// of its own.
struct DesktopLinks {
    QList<QUrl> urls;
    QStringList written;  // one for each URL that is not a file, in order
    QStringList unusable; // the arguments that could not be taken
};
std::optional<DesktopLinks> desktopLaunchLinks(const QStringList& arguments);

// A program of a bundle that the desktop starts with links as its arguments (through the desktop entry
// written for the bundle, "%U") takes them as the open-URL event and returns at once: callers such as
// xdg-open wait for the program they start. The links go to the running instance, or to a resident instance
// started detached from the caller (its own session, its output away from the caller's). An argument that
// could not be taken is logged with its text; a start with nothing else ends there (status 1) rather than
// open the program as if no link had been asked for. Returns the exit status when the start was such a start;
// none when it is not (no arguments, switches among them, or started by the workspace, which hands its links
// as events). The links travel under one delivery mark on every road, so that a running instance that
// handed them on and ended before it answered does not get them again from the instance started next.
// `bundle` is the program's own bundle.
std::optional<int> handOnDesktopLaunch(const QStringList& arguments, const Bundle& bundle = Bundle::main());

} // namespace host
