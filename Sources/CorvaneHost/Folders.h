#pragma once

#include <QString>

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

// Creates `path` (and missing parents) with mode 0700 when missing; true when it exists as a folder
// afterwards.
bool ensurePrivateDirectory(const QString& path);

} // namespace host
