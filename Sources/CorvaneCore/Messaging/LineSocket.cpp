#include "CorvaneCore/Messaging/LineSocket.h"

#include "CorvaneCore/Foundation/Logging.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

SocketError SocketError::pathTooLong(const QString& path) {
    return SocketError(Code::pathTooLong, path, 0,
                       QStringLiteral("socket path too long for sun_path: ") + path);
}

SocketError SocketError::syscall(const QString& name, int32_t errnoValue) {
    return SocketError(Code::syscall, name, errnoValue,
                       QStringLiteral("%1 failed: %2 (%3)")
                           .arg(name, QString::fromLocal8Bit(std::strerror(errnoValue)))
                           .arg(errnoValue));
}

namespace UnixSocket {
namespace {

void closeKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

} // namespace

sockaddr_un makeAddress(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() > maxPathBytes)
        throw SocketError::pathTooLong(path);
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    return address;
}

namespace {

// A new stream socket, and in `address` the address of `path`. Throws (closing the socket) when either
// cannot be had.
int newSocket(const QString& path, sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw SocketError::syscall(QStringLiteral("socket"), errno);
    try {
        address = makeAddress(path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    return fd;
}

} // namespace

int32_t listen(const QString& path, int32_t backlog) {
    const QByteArray file = QFile::encodeName(path);
    ::unlink(file.constData()); // a socket file left behind by an earlier helper
    sockaddr_un address;
    const int fd = newSocket(path, address);
    // Bound under a name of its own beside the final one and moved into place once it listens with its final
    // permissions, so a client never finds a socket file that refuses connections or is open to others for a
    // moment. A path with no room for the longer name is bound in place.
    QByteArray bound = file;
    const QByteArray staging = file + '.' + QByteArray::number(::getpid());
    if (staging.size() < qsizetype(sizeof address.sun_path)) {
        bound = staging;
        ::unlink(staging.constData());
        std::memset(address.sun_path, 0, sizeof address.sun_path);
        std::memcpy(address.sun_path, staging.constData(), size_t(staging.size()));
    }
    auto fail = [&](const char* call) {
        const int error = errno;
        ::close(fd);
        if (bound != file)
            ::unlink(bound.constData());
        throw SocketError::syscall(QString::fromLatin1(call), error);
    };
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        closeKeepingErrno(fd);
        throw SocketError::syscall(QStringLiteral("bind"), error);
    }
    ::chmod(bound.constData(), 0600);
    if (::listen(fd, backlog) != 0)
        fail("listen");
    if (bound != file && ::rename(bound.constData(), file.constData()) != 0)
        fail("bind");
    setNonBlocking(fd);
    return fd;
}

int32_t connect(const QString& path) {
    sockaddr_un address;
    const int fd = newSocket(path, address);
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        closeKeepingErrno(fd);
        throw SocketError::syscall(QStringLiteral("connect"), error);
    }
    setNonBlocking(fd);
    return fd;
}

int32_t connectWithoutWaiting(const QString& path) {
    sockaddr_un address;
    const int fd = newSocket(path, address);
    setNonBlocking(fd);
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        // EAGAIN (queue full) and EINPROGRESS count as failed attempts like any other.
        const int error = errno;
        closeKeepingErrno(fd);
        throw SocketError::syscall(QStringLiteral("connect"), error);
    }
    return fd;
}

void setNonBlocking(int32_t fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool peerIsSameUser(int32_t fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || length != sizeof credentials)
        return false;
    return credentials.uid == ::getuid();
}

} // namespace UnixSocket

LineBuffer::LineBuffer(qsizetype limit)
    : limit_(limit) {}

std::vector<QByteArray> LineBuffer::append(const QByteArray& chunk) {
    std::vector<QByteArray> lines;
    qsizetype start = 0;
    if (discarding_) {
        // Still inside an over-long line: nothing of it is kept, up to and including its newline.
        const qsizetype newline = chunk.indexOf('\n');
        if (newline < 0)
            return lines;
        discarding_ = false;
        start = newline + 1;
    }
    const qsizetype incoming = chunk.size() - start;
    if (buffer_.size() + incoming > limit_) {
        // Everything held is lost, lines of this chunk included. A chunk that ends exactly at a newline
        // leaves a clean line boundary; otherwise the line in progress has lost its head and is skipped to
        // its end.
        Log::ipc.error(QStringLiteral("over-long line discarded: %1 bytes exceed the line limit of %2 bytes")
                           .arg(buffer_.size() + incoming)
                           .arg(limit_));
        buffer_.clear();
        buffer_.squeeze();
        discarding_ = !chunk.endsWith('\n');
        return lines;
    }
    // Only the new bytes can hold a newline: what was held back had none.
    qsizetype scan = buffer_.size();
    buffer_.append(chunk.constData() + start, incoming);
    qsizetype lineStart = 0;
    for (;;) {
        const qsizetype newline = buffer_.indexOf('\n', scan);
        if (newline < 0)
            break;
        if (newline > lineStart)
            lines.push_back(buffer_.mid(lineStart, newline - lineStart));
        lineStart = newline + 1;
        scan = lineStart;
    }
    if (lineStart > 0)
        buffer_.remove(0, lineStart);
    return lines;
}

bool writeFrame(int32_t fd, const QByteArray& message) {
    QByteArray frame;
    frame.reserve(message.size() + 1);
    frame.append(message);
    frame.append('\n');
    const char* data = frame.constData();
    qsizetype remaining = frame.size();
    int retries = 0;
    while (remaining > 0) {
        const ssize_t written = ::send(fd, data, static_cast<size_t>(remaining), MSG_NOSIGNAL);
        if (written > 0) {
            data += written;
            remaining -= written;
            retries = 0; // every stall gets its own allowance
            continue;
        }
        if (written == 0)
            return false;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        if (++retries > writeFrameStallRetries)
            return false;
        const timespec pause{0, writeFrameStallPauseNanoseconds};
        ::nanosleep(&pause, nullptr);
    }
    return true;
}

bool SingleInstanceLock::acquire(const QString& path) {
    if (fd_ >= 0)
        return true; // already held by this object; opening again would leak the held descriptor
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return false;
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0)
        return true;
    ::close(fd_);
    fd_ = -1;
    return false;
}

void SingleInstanceLock::release() {
    if (fd_ < 0)
        return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}
