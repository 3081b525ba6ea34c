#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace host {

// What a file's status said when it was looked at: enough to tell that it was changed, replaced or removed
// since, without reading it.
struct FileStamp {
    bool exists = false;
    quint64 device = 0, inode = 0;
    qint64 size = 0;
    qint64 modified = 0, changed = 0; // nanoseconds since the epoch
    bool operator==(const FileStamp&) const = default;

    static FileStamp of(const QByteArray& path);
    // Now, on the clock file times are taken from (nanoseconds since the epoch).
    static qint64 now();

    // Whether an unchanged stamp proves the file unchanged since a read that began at `readAt`. File times
    // come from the kernel's clock tick, and some file systems keep whole seconds only: a file changed
    // shortly before the read may change again without its times moving, so its stamp is trusted only
    // once it is older than that (50 ms, or a second where the times are whole seconds).
    bool isSettled(qint64 readAt) const;
};

} // namespace host
