#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace host {

// File bookmarks. Here a bookmark records a file's absolute path together with its identity (device, inode,
// kind and, where the file system keeps them, birth time and the inode's generation: a new file that was given
// the inode of a removed one is another file). While the path holds that very file, the bookmark resolves to it. When the file was moved
// (the path is gone or holds another file), it is looked for by its identity in the places a moved app
// usually lands: the folder it was in and that folder's parent, the home folder to a depth of three, and the
// application folders to a depth of three. A file moved deeper than that, or to another device (where it is a
// new file), is not found.
namespace Bookmark {

// A bookmark of the file or folder at `path`; none when nothing is there.
std::optional<QByteArray> create(const QString& path);

// Where the bookmarked file is now: its recorded path when that still holds it, else the path where the
// search found it, and then `isStale` (when given) is set, so the caller makes a new bookmark. None when the
// file is not found or the bytes are not a bookmark.
std::optional<QString> resolve(const QByteArray& bookmark, bool* isStale = nullptr);

} // namespace Bookmark
} // namespace host
