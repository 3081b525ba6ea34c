#pragma once

#include <QString>
#include <QStringList>

namespace host {

// The current user's home folder: $HOME, else the account's home.
QString homeDirectory();

// The per-user private temporary folder: $XDG_RUNTIME_DIR when it is a folder owned by this user and closed
// to others, else a 0700 folder of this user's own under the system's temporary folder (created on demand and
// checked to be a real folder owned by this user). Never a folder shared by all users.
QString temporaryDirectory();

// The host layer's own state ($XDG_STATE_HOME/corvane-host, default ~/.local/state/corvane-host), created on
// demand with owner-only permissions.
QString hostStateDirectory();

// Where running programs keep their event sockets: "corvane-host" in the per-user temporary folder.
QString hostRuntimeDirectory();

// The folders searched for application bundles, in order, without repeats: /Applications, ~/Applications and
// the folders named in CORVANE_APPLICATIONS_PATH (separated by ":").
QStringList applicationFolders();

// A Unix-domain socket's address holds a path of little more than a hundred bytes: every socket of the
// product keeps its path shorter than this many UTF-8 bytes.
inline constexpr int kSocketPathLimit = 100;

// The one place scheme of every socket: `preferred` when it is short enough; else `fallbackName` in the
// per-user temporary folder; else, when that is too long too (a long XDG_RUNTIME_DIR), a name made from a
// digest of `preferred` in this user's private folder under /tmp. The listening and the connecting side call
// it alike, so both reach the same file.
QString socketPath(const QString& preferred, const QString& fallbackName);

// Creates `path` (and missing parents) with mode 0700 when missing; true when it exists as a folder
// afterwards.
bool ensurePrivateDirectory(const QString& path);

} // namespace host
