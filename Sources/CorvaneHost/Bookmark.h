#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace host {

// File bookmarks. Here a bookmark records a file's absolute path together with its identity (device and
// inode), so it can tell whether the path still holds the very file it was made for. This machine offers no
// search by file identity, so a file that was moved or replaced no longer resolves.
namespace Bookmark {

// A bookmark of the file or folder at `path`; none when nothing is there.
std::optional<QByteArray> create(const QString& path);

// The bookmarked file's path when it still holds the same file; none when the file is gone, was replaced,
// or the bytes are not a bookmark.
std::optional<QString> resolve(const QByteArray& bookmark);

} // namespace Bookmark
} // namespace host
