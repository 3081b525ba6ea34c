#include "CorvaneHost/Linux/Files/FileLock.h"

#include "CorvaneHost/Error.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace host {

ExclusiveFileLock::ExclusiveFileLock(const QString& path) {
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        const int error = errno;
        throw SystemError::fromErrno(QStringLiteral("could not open the lock %1").arg(path), error);
    }
    int result;
    do
        result = ::flock(fd_, LOCK_EX);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd_);
        throw SystemError::fromErrno(QStringLiteral("could not take the lock %1").arg(path), error);
    }
}

ExclusiveFileLock::~ExclusiveFileLock() {
    ::close(fd_); // gives the lock up
}

} // namespace host
