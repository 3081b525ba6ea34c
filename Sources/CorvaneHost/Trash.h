#pragma once

#include <QString>

namespace host {

// Moves the file or folder at `path` to the user's Trash and returns where it went there.
// Throws host::SystemError when it could not be moved; the item then stays where it was.
QString moveToTrash(const QString& path);

} // namespace host
