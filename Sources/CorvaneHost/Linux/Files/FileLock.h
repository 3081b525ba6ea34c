#pragma once

#include <QString>

namespace host {

// Holds an exclusive lock on the file at `path` (created when missing) for its lifetime, waiting while
// another holder (in this process or another) has it. The host's state files are read, changed and written
// under such a lock, so that two programs changing one at the same time lose nothing. Throws
// host::SystemError when the lock cannot be taken: going on without it would lose changes silently.
class ExclusiveFileLock {
public:
    explicit ExclusiveFileLock(const QString& path);
    ~ExclusiveFileLock();
    ExclusiveFileLock(const ExclusiveFileLock&) = delete;
    ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace host
